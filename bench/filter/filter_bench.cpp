// The decoder filter's cost per frame, in one run on one machine:
//   1. 1080p H.264 at 8 Mbit/s (made here with libavcodec): the filter's transform to RGB32
//      (decode, checks, conversion, bottom-up) against libavcodec decode plus libswscale to
//      RGB32, both on one thread. Ratio = ours / baseline (target <= 1.15).
//   2. The converters alone on a 1080p picture, to RGB32 and to YUY2, against libswscale.
//      Ratio = libswscale time / ours (target >= 1.0).
//   3. 720x576 MPEG-4 Part 2 through the Xvid core to RGB32: time per frame.
// Rounds alternate ours and the baseline; each figure is the median over the rounds.
//
//   filter_bench [frames (60)] [rounds (7)]
#include "filter/dech264.h"
#include "filter/decmpeg4.h"
#include "filter_streams.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& fnWork)
{
    const auto tStart = Clock::now();
    fnWork();
    return std::chrono::duration<double>(Clock::now() - tStart).count();
}

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec[vec.size() / 2];
}

// Our transform: a fresh back-end per round decodes the whole stream into RGB32.
double OursPerFrame(CDecBase& backEnd, const TestStream& stream, std::vector<uint8_t>& vecOut, int& nPictures)
{
    nPictures = 0;
    const double d = Seconds([&] {
        for (const auto& vecPacket : stream.vecPackets)
            nPictures += backEnd.Process(false, vecPacket.data(), static_cast<uint32_t>(vecPacket.size()),
                                         false, vecOut.data(), static_cast<uint32_t>(vecOut.size())) == S_OK;
    });
    return d / stream.vecPackets.size();
}

double BaselinePerFrame(const TestStream& stream, std::vector<uint8_t>& vecOut, int& nPictures)
{
    const AVCodec* pCodec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* pContext = avcodec_alloc_context3(pCodec);
    pContext->thread_count = 1;
    avcodec_open2(pContext, pCodec, nullptr);
    AVPacket* pPacket = av_packet_alloc();
    AVFrame* pFrame = av_frame_alloc();
    SwsContext* pSws = nullptr;
    nPictures = 0;
    const double d = Seconds([&] {
        for (const auto& vecPacket : stream.vecPackets) {
            av_new_packet(pPacket, static_cast<int>(vecPacket.size()));
            std::copy(vecPacket.begin(), vecPacket.end(), pPacket->data);
            avcodec_send_packet(pContext, pPacket);
            av_packet_unref(pPacket);
            if (avcodec_receive_frame(pContext, pFrame) != 0)
                continue;
            pSws = sws_getCachedContext(pSws, pFrame->width, pFrame->height, AV_PIX_FMT_YUV420P,
                                        pFrame->width, pFrame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr);
            uint8_t* pDst[1] = {vecOut.data()};
            const int nDstStride[1] = {pFrame->width * 4};
            sws_scale(pSws, pFrame->data, pFrame->linesize, 0, pFrame->height, pDst, nDstStride);
            ++nPictures;
        }
    });
    sws_freeContext(pSws);
    av_frame_free(&pFrame);
    av_packet_free(&pPacket);
    avcodec_free_context(&pContext);
    return d / stream.vecPackets.size();
}

} // namespace

int main(int argc, char** argv)
{
    const int nFrames = argc > 1 ? std::atoi(argv[1]) : 60;
    const int nRounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const int W = 1920, H = 1080;
    std::printf("filter_bench: %d frames, %d rounds, converters: %s\n", nFrames, nRounds, ConverterVariant());

    // Camera streams: no picture reordering.
    const TestStream stream = EncodeStream("libx264", W, H, nFrames, false, 8000000);
    size_t nBytes = 0;
    for (const auto& vecPacket : stream.vecPackets)
        nBytes += vecPacket.size();
    std::printf("stream: 1080p H.264, %zu packets, %.1f Mbit/s at 25 fps\n", stream.vecPackets.size(),
                nBytes * 8.0 * 25 / stream.vecPackets.size() / 1e6);

    std::vector<uint8_t> vecOut(static_cast<size_t>(W) * H * 4);
    std::vector<double> vecOurs, vecBase;
    int nOurPictures = 0, nBasePictures = 0;
    for (int r = 0; r < nRounds; ++r) {
        CDecH264 backEnd;
        backEnd.SetFrameSize(W, H);
        backEnd.SetOutput(CSP_BGRA, true, W * 4);
        vecOurs.push_back(OursPerFrame(backEnd, stream, vecOut, nOurPictures));
        vecBase.push_back(BaselinePerFrame(stream, vecOut, nBasePictures));
    }
    const double dOurs = Median(vecOurs), dBase = Median(vecBase);
    std::printf(
        "transform to RGB32: ours %.2f ms/frame (%d pictures), libavcodec+libswscale %.2f ms/frame (%d "
        "pictures), ratio ours/baseline %.3f (target <= 1.15)\n",
        dOurs * 1e3, nOurPictures, dBase * 1e3, nBasePictures, dOurs / dBase);

    // The converters on one decoded picture.
    std::vector<uint8_t> vecPicture = stream.vecSources[0];
    FrameBuffer frame;
    frame.pY = vecPicture.data();
    frame.pU = frame.pY + W * H;
    frame.pV = frame.pU + W * H / 4;
    frame.nStride = W;
    frame.nHeight = H;
    struct {
        const char* pszName;
        uint32_t dwCode;
        AVPixelFormat enFormat;
        int nBytes;
    } const converters[] = {{"RGB32", CSP_BGRA, AV_PIX_FMT_BGRA, 4},
                            {"YUY2", CSP_YUY2, AV_PIX_FMT_YUYV422, 2}};
    for (const auto& conv : converters) {
        SwsContext* pSws = sws_getContext(W, H, AV_PIX_FMT_YUV420P, W, H, conv.enFormat, SWS_BILINEAR,
                                          nullptr, nullptr, nullptr);
        const uint8_t* pSrc[3] = {frame.pY, frame.pU, frame.pV};
        const int nSrcStride[3] = {W, W / 2, W / 2};
        uint8_t* pDst[1] = {vecOut.data()};
        const int nDstStride[1] = {W * conv.nBytes};
        const int nRepeat = 20;
        std::vector<double> vecMine, vecTheirs;
        for (int r = 0; r < nRounds; ++r) {
            vecMine.push_back(Seconds([&] {
                for (int i = 0; i < nRepeat; ++i)
                    ConvertImage(frame, W, H, vecOut.data(), W * conv.nBytes, conv.dwCode);
            }));
            vecTheirs.push_back(Seconds([&] {
                for (int i = 0; i < nRepeat; ++i)
                    sws_scale(pSws, pSrc, nSrcStride, 0, H, pDst, nDstStride);
            }));
        }
        sws_freeContext(pSws);
        const double dMine = Median(vecMine) / nRepeat, dTheirs = Median(vecTheirs) / nRepeat;
        std::printf(
            "converter 1080p to %s: ours %.3f ms, libswscale %.3f ms, speed ratio libswscale/ours %.2f "
            "(target >= 1.0)\n",
            conv.pszName, dMine * 1e3, dTheirs * 1e3, dTheirs / dMine);
    }

    // MPEG-4 Part 2 at D1 on libavcodec's decoder and through the Xvid core.
    const TestStream mpeg4 = EncodeStream("mpeg4", 720, 576, nFrames, false, 2000000);
    for (const char* pszCore : {"", "libxvidcore.so.4"}) {
        const char* pszName = *pszCore != 0 ? "the Xvid core" : "libavcodec";
        std::vector<double> vecMpeg4;
        int nMpeg4Pictures = 0;
        for (int r = 0; r < nRounds; ++r) {
            CDecMpeg4 backEnd(pszCore);
            if (!backEnd.IsUsable()) {
                std::printf("mpeg4: %s could not be loaded\n", pszName);
                break;
            }
            backEnd.SetFrameSize(720, 576);
            backEnd.SetOutput(CSP_BGRA, true, 720 * 4);
            vecMpeg4.push_back(OursPerFrame(backEnd, mpeg4, vecOut, nMpeg4Pictures));
        }
        if (!vecMpeg4.empty())
            std::printf("transform 720x576 MPEG-4 to RGB32 via %s: %.2f ms/frame (%d pictures, %.0f fps)\n",
                        pszName, Median(vecMpeg4) * 1e3, nMpeg4Pictures, 1 / Median(vecMpeg4));
    }
    return 0;
}
