// Test streams made with libavcodec from a moving pattern whose pictures the tests keep.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

struct TestStream {
    int nWidth = 0, nHeight = 0;
    std::vector<std::vector<uint8_t>> vecSources; // I420, tightly packed, in display order
    std::vector<std::vector<uint8_t>> vecPackets; // in decoding order
    std::vector<bool> vecKey;
};

// Something with edges, gradients and colour that moves a little from frame to frame.
inline void FillPattern(std::vector<uint8_t>& vec, int nWidth, int nHeight, int nFrame)
{
    vec.resize(static_cast<size_t>(nWidth) * nHeight * 3 / 2);
    uint8_t* pY = vec.data();
    uint8_t* pU = pY + nWidth * nHeight;
    uint8_t* pV = pU + nWidth * nHeight / 4;
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) {
            const int nBox = ((x + 2 * nFrame) / 32 + y / 32) % 2;
            pY[y * nWidth + x] = static_cast<uint8_t>(40 + nBox * 120 + (x + y) % 64);
        }
    for (int y = 0; y < nHeight / 2; ++y)
        for (int x = 0; x < nWidth / 2; ++x) {
            pU[y * nWidth / 2 + x] = static_cast<uint8_t>(128 + 60 * std::sin((x + nFrame) / 9.0));
            pV[y * nWidth / 2 + x] = static_cast<uint8_t>(128 + 60 * std::cos(y / 7.0));
        }
}

// pszCodec: "libx264" or "mpeg4". bBFrames lets the encoder reorder pictures.
inline TestStream EncodeStream(const char* pszCodec, int nWidth, int nHeight, int nFrames, bool bBFrames,
                               int nBitRate = 0)
{
    av_log_set_level(AV_LOG_QUIET);
    TestStream stream;
    stream.nWidth = nWidth;
    stream.nHeight = nHeight;
    const AVCodec* pCodec = avcodec_find_encoder_by_name(pszCodec);
    if (pCodec == nullptr)
        return stream;
    AVCodecContext* pContext = avcodec_alloc_context3(pCodec);
    pContext->width = nWidth;
    pContext->height = nHeight;
    pContext->pix_fmt = AV_PIX_FMT_YUV420P;
    pContext->time_base = {1, 25};
    pContext->framerate = {25, 1};
    pContext->gop_size = 12;
    pContext->max_b_frames = bBFrames ? 2 : 0;
    pContext->thread_count = 1;
    if (nBitRate > 0)
        pContext->bit_rate = nBitRate;
    else
        pContext->global_quality = FF_QP2LAMBDA * 3;
    if (std::string(pszCodec) == "libx264") {
        av_opt_set(pContext->priv_data, "preset", "veryfast", 0);
        if (nBitRate == 0)
            av_opt_set(pContext->priv_data, "crf", "18", 0);
        av_opt_set(pContext->priv_data, "x264-params", "log=-1", 0);
    } else {
        pContext->flags |= AV_CODEC_FLAG_QSCALE;
    }
    if (avcodec_open2(pContext, pCodec, nullptr) < 0) {
        avcodec_free_context(&pContext);
        return stream;
    }
    AVFrame* pFrame = av_frame_alloc();
    pFrame->width = nWidth;
    pFrame->height = nHeight;
    pFrame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(pFrame, 0);
    AVPacket* pPacket = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(pContext, pPacket) == 0) {
            std::vector<uint8_t> vecData(pPacket->data, pPacket->data + pPacket->size);
            // The MPEG-4 encoder puts its stream header in the extradata only when asked to;
            // prefix the first packet with it in either case.
            if (stream.vecPackets.empty() && pContext->extradata_size > 0 && std::string(pszCodec) == "mpeg4")
                vecData.insert(vecData.begin(), pContext->extradata,
                               pContext->extradata + pContext->extradata_size);
            stream.vecPackets.push_back(std::move(vecData));
            stream.vecKey.push_back((pPacket->flags & AV_PKT_FLAG_KEY) != 0);
            av_packet_unref(pPacket);
        }
    };
    for (int i = 0; i < nFrames; ++i) {
        std::vector<uint8_t> vecSource;
        FillPattern(vecSource, nWidth, nHeight, i);
        av_frame_make_writable(pFrame);
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? nWidth : nWidth / 2, h = p == 0 ? nHeight : nHeight / 2;
            const uint8_t* pSrc =
                vecSource.data() + (p == 0 ? 0 : nWidth * nHeight + (p - 1) * nWidth * nHeight / 4);
            for (int y = 0; y < h; ++y)
                std::copy_n(pSrc + y * w, w, pFrame->data[p] + y * pFrame->linesize[p]);
        }
        pFrame->pts = i;
        stream.vecSources.push_back(std::move(vecSource));
        avcodec_send_frame(pContext, pFrame);
        drain();
    }
    avcodec_send_frame(pContext, nullptr);
    drain();
    av_packet_free(&pPacket);
    av_frame_free(&pFrame);
    avcodec_free_context(&pContext);
    return stream;
}

// PSNR of one plane, in dB.
inline double Psnr(const uint8_t* pA, int nStrideA, const uint8_t* pB, int nStrideB, int nWidth, int nHeight)
{
    double dSum = 0;
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) {
            const double d = pA[y * nStrideA + x] - pB[y * nStrideB + x];
            dSum += d * d;
        }
    const double dMse = dSum / (static_cast<double>(nWidth) * nHeight);
    return dMse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / dMse);
}
