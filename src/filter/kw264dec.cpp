#include "filter/kw264dec.h"

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

struct KwDecoder {
    AVCodecContext* pContext = nullptr;
    AVPacket* pPacket = nullptr;
    AVFrame* pFrame = nullptr;
    bool bDraining = false;
    std::vector<uint8_t> vecRepacked; // when the decoder's chroma stride is not half the luma's
};

namespace {

KwHandle OpenDecoder(AVCodecID codecId)
{
    const AVCodec* pCodec = avcodec_find_decoder(codecId);
    if (pCodec == nullptr)
        return nullptr;
    // On a lossy link every damaged picture would print its concealment report on the
    // terminal; the decoder's own figures (frames decoded and dropped) say what matters.
    av_log_set_level(AV_LOG_FATAL);
    auto* pDecoder = new KwDecoder;
    pDecoder->pContext = avcodec_alloc_context3(pCodec);
    pDecoder->pPacket = av_packet_alloc();
    pDecoder->pFrame = av_frame_alloc();
    if (pDecoder->pContext != nullptr) {
        // One thread: a picture comes out for the sample that completes it, not frames later.
        pDecoder->pContext->thread_count = 1;
    }
    if (pDecoder->pContext == nullptr || pDecoder->pPacket == nullptr || pDecoder->pFrame == nullptr ||
        avcodec_open2(pDecoder->pContext, pCodec, nullptr) < 0) {
        Kw_h264_dec_close(pDecoder);
        return nullptr;
    }
    return pDecoder;
}

} // namespace

KwHandle Kw_h264_dec_open()
{
    return OpenDecoder(AV_CODEC_ID_H264);
}

KwHandle Kw_mpeg4_dec_open()
{
    return OpenDecoder(AV_CODEC_ID_MPEG4);
}

void Kw_h264_dec_close(KwHandle hDecoder)
{
    if (hDecoder == nullptr)
        return;
    avcodec_free_context(&hDecoder->pContext);
    av_packet_free(&hDecoder->pPacket);
    av_frame_free(&hDecoder->pFrame);
    delete hDecoder;
}

namespace {

// Fills the record from a decoded frame; only 8-bit 4:2:0 pictures are handed out.
bool TakePicture(KwDecoder* pDecoder, KwDecodeRecord* pRecord)
{
    AVFrame* pFrame = pDecoder->pFrame;
    if (pFrame->format != AV_PIX_FMT_YUV420P && pFrame->format != AV_PIX_FMT_YUVJ420P)
        return false;
    if (pFrame->linesize[0] <= 0 || pFrame->linesize[1] != pFrame->linesize[0] / 2 ||
        pFrame->linesize[2] != pFrame->linesize[1] || pFrame->linesize[0] % 2 != 0) {
        // The record carries one stride: repack into planes that follow it.
        const int nStride = (pFrame->width + 63) & ~63;
        const int nChroma = nStride / 2, nChromaRows = (pFrame->height + 1) / 2;
        pDecoder->vecRepacked.resize(static_cast<size_t>(nStride) * pFrame->height +
                                     2 * static_cast<size_t>(nChroma) * nChromaRows);
        uint8_t* pY = pDecoder->vecRepacked.data();
        uint8_t* pU = pY + static_cast<size_t>(nStride) * pFrame->height;
        uint8_t* pV = pU + static_cast<size_t>(nChroma) * nChromaRows;
        av_image_copy_plane(pY, nStride, pFrame->data[0], pFrame->linesize[0], pFrame->width, pFrame->height);
        av_image_copy_plane(pU, nChroma, pFrame->data[1], pFrame->linesize[1], (pFrame->width + 1) / 2,
                            nChromaRows);
        av_image_copy_plane(pV, nChroma, pFrame->data[2], pFrame->linesize[2], (pFrame->width + 1) / 2,
                            nChromaRows);
        pRecord->pY = pY, pRecord->pU = pU, pRecord->pV = pV, pRecord->nStride = nStride;
    } else {
        pRecord->pY = pFrame->data[0], pRecord->pU = pFrame->data[1], pRecord->pV = pFrame->data[2];
        pRecord->nStride = pFrame->linesize[0];
    }
    pRecord->dwWidth = static_cast<uint32_t>(pFrame->width);
    pRecord->dwHeight = static_cast<uint32_t>(pFrame->height);
    return true;
}

} // namespace

int Kw_h264_dec_decode(KwHandle hDecoder, KwDecodeRecord* pRecord)
{
    if (hDecoder == nullptr || pRecord == nullptr)
        return -1;
    pRecord->pY = pRecord->pU = pRecord->pV = nullptr;
    av_frame_unref(hDecoder->pFrame);
    int nResult = 0;
    if (pRecord->dwInputLength != 0 && pRecord->pbInput != nullptr) {
        if (hDecoder->bDraining) {
            // New data after a drain starts a new stream.
            avcodec_flush_buffers(hDecoder->pContext);
            hDecoder->bDraining = false;
        }
        if (av_new_packet(hDecoder->pPacket, static_cast<int>(pRecord->dwInputLength)) < 0)
            return -1;
        std::memcpy(hDecoder->pPacket->data, pRecord->pbInput, pRecord->dwInputLength);
        pRecord->pbInput += pRecord->dwInputLength;
        pRecord->dwInputLength = 0;
        int nSend = avcodec_send_packet(hDecoder->pContext, hDecoder->pPacket);
        if (nSend == AVERROR(EAGAIN)) {
            // A picture is waiting: hand it out now, the packet goes in behind it.
            if (avcodec_receive_frame(hDecoder->pContext, hDecoder->pFrame) == 0 &&
                TakePicture(hDecoder, pRecord)) {
                nSend = avcodec_send_packet(hDecoder->pContext, hDecoder->pPacket);
                av_packet_unref(hDecoder->pPacket);
                return nSend < 0 && nSend != AVERROR(EAGAIN) ? nSend : 0;
            }
            nSend = avcodec_send_packet(hDecoder->pContext, hDecoder->pPacket);
        }
        av_packet_unref(hDecoder->pPacket);
        if (nSend < 0)
            nResult = nSend;
    } else if (!hDecoder->bDraining) {
        hDecoder->bDraining = true;
        avcodec_send_packet(hDecoder->pContext, nullptr);
    }
    const int nReceive = avcodec_receive_frame(hDecoder->pContext, hDecoder->pFrame);
    if (nReceive == 0) {
        if (!TakePicture(hDecoder, pRecord))
            return -1;
        return 0;
    }
    if (nReceive != AVERROR(EAGAIN) && nReceive != AVERROR_EOF)
        return nReceive;
    return nResult;
}
