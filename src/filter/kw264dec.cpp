#include "filter/kw264dec.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

struct KwDecoder {
    const AVCodec* pCodec = nullptr;
    AVCodecContext* pContext = nullptr;
    AVPacket* pPacket = nullptr;
    AVFrame* pFrame = nullptr;
    bool bDraining = false;
    // When the decoder's chroma stride is not half the luma's; a new one while the last is held.
    std::shared_ptr<std::vector<uint8_t>> pRepacked;
    bool bRepacked = false; // the picture handed out is in pRepacked
    int nThreads = 1;
    int nLastArea = 0; // of the last picture
};

namespace {

// Decoders open in this process: a wall of panes decodes on the client's own threads, one
// picture each; libavcodec's threads only help a single large picture.
std::atomic<int> g_nOpen{0};
std::atomic<int64_t> g_nMaxPixels{KW_DEFAULT_MAX_PIXELS};

// One thread: a picture comes out for the sample that completes it, not frames later. Slices
// decoded side by side keep that, where frame threads would hold pictures back.
bool OpenContext(KwDecoder* pDecoder, int nThreads)
{
    avcodec_free_context(&pDecoder->pContext);
    pDecoder->pContext = avcodec_alloc_context3(pDecoder->pCodec);
    if (pDecoder->pContext == nullptr)
        return false;
    pDecoder->pContext->thread_count = nThreads;
    pDecoder->pContext->thread_type = FF_THREAD_SLICE;
    // A damaged parameter set may claim any size up to 16384 square, and the decoder would keep
    // dozens of such pictures: it refuses the size instead (no picture until a sound key frame).
    pDecoder->pContext->max_pixels = g_nMaxPixels.load();
    pDecoder->nThreads = nThreads;
    return avcodec_open2(pDecoder->pContext, pDecoder->pCodec, nullptr) >= 0;
}

// Whether an H.264 access unit holds an IDR slice: a point where the decoder can start anew.
bool HasIdr(const uint8_t* pData, size_t nLen)
{
    for (size_t i = 0; i + 3 < nLen; ++i) {
        if (pData[i] != 0 || pData[i + 1] != 0 || pData[i + 2] != 1)
            continue;
        const int nType = pData[i + 3] & 0x1F;
        if (nType == 5)
            return true;
        if (nType == 1)
            return false;
    }
    return false;
}

// At a key frame, the threads this decoder should have now.
void FitThreads(KwDecoder* pDecoder, const uint8_t* pData, size_t nLen)
{
    if (pDecoder->pCodec->id != AV_CODEC_ID_H264 || !HasIdr(pData, nLen))
        return;
    constexpr int kLargeArea = 1920 * 1080;
    const int nWant = g_nOpen.load() == 1 && pDecoder->nLastArea >= kLargeArea
                          ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))
                          : 1;
    if (nWant != pDecoder->nThreads && !OpenContext(pDecoder, nWant))
        OpenContext(pDecoder, 1);
}

KwHandle OpenDecoder(AVCodecID codecId)
{
    const AVCodec* pCodec = avcodec_find_decoder(codecId);
    if (pCodec == nullptr)
        return nullptr;
    // On a lossy link every damaged picture would print its concealment report on the
    // terminal; the decoder's own figures (frames decoded and dropped) say what matters.
    av_log_set_level(AV_LOG_FATAL);
    auto* pDecoder = new KwDecoder;
    ++g_nOpen;
    pDecoder->pCodec = pCodec;
    pDecoder->pPacket = av_packet_alloc();
    pDecoder->pFrame = av_frame_alloc();
    if (pDecoder->pPacket == nullptr || pDecoder->pFrame == nullptr || !OpenContext(pDecoder, 1)) {
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
    --g_nOpen;
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
        if (!pDecoder->pRepacked || pDecoder->pRepacked.use_count() > 1)
            pDecoder->pRepacked = std::make_shared<std::vector<uint8_t>>();
        pDecoder->pRepacked->resize(static_cast<size_t>(nStride) * pFrame->height +
                                    2 * static_cast<size_t>(nChroma) * nChromaRows);
        uint8_t* pY = pDecoder->pRepacked->data();
        uint8_t* pU = pY + static_cast<size_t>(nStride) * pFrame->height;
        uint8_t* pV = pU + static_cast<size_t>(nChroma) * nChromaRows;
        av_image_copy_plane(pY, nStride, pFrame->data[0], pFrame->linesize[0], pFrame->width, pFrame->height);
        av_image_copy_plane(pU, nChroma, pFrame->data[1], pFrame->linesize[1], (pFrame->width + 1) / 2,
                            nChromaRows);
        av_image_copy_plane(pV, nChroma, pFrame->data[2], pFrame->linesize[2], (pFrame->width + 1) / 2,
                            nChromaRows);
        pRecord->pY = pY, pRecord->pU = pU, pRecord->pV = pV, pRecord->nStride = nStride;
        pDecoder->bRepacked = true;
    } else {
        pDecoder->bRepacked = false;
        pRecord->pY = pFrame->data[0], pRecord->pU = pFrame->data[1], pRecord->pV = pFrame->data[2];
        pRecord->nStride = pFrame->linesize[0];
    }
    pRecord->dwWidth = static_cast<uint32_t>(pFrame->width);
    pRecord->dwHeight = static_cast<uint32_t>(pFrame->height);
    pDecoder->nLastArea = pFrame->width * pFrame->height;
    return true;
}

} // namespace

std::shared_ptr<const void> Kw_dec_hold_picture(KwHandle hDecoder)
{
    if (hDecoder == nullptr || hDecoder->pFrame->buf[0] == nullptr)
        return nullptr;
    if (hDecoder->bRepacked)
        return hDecoder->pRepacked;
    // A reference of our own: the decoder allocates each new picture in a buffer nobody else
    // holds, so the referenced planes stay as they are.
    AVFrame* pHeld = av_frame_clone(hDecoder->pFrame);
    if (pHeld == nullptr)
        return nullptr;
    return std::shared_ptr<const void>(pHeld, [](const void* p) {
        AVFrame* pFrame = static_cast<AVFrame*>(const_cast<void*>(p));
        av_frame_free(&pFrame);
    });
}

void Kw_dec_limit_pixels(int64_t nPixels)
{
    g_nMaxPixels = nPixels > 0 ? nPixels : KW_DEFAULT_MAX_PIXELS;
}

int Kw_dec_threads(KwHandle hDecoder)
{
    return hDecoder != nullptr ? hDecoder->nThreads : 0;
}

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
        FitThreads(hDecoder, pRecord->pbInput, pRecord->dwInputLength);
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
