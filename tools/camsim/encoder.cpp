#include "encoder.h"

#include <algorithm>
#include <map>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace camsim {

namespace {

// 3x5 digit glyphs, one row per 3 low bits, top row first.
constexpr std::uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

std::string AvError(const char* what, int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return std::string(what) + ": " + buf;
}

struct CodecCtxFree {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFree {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::shared_ptr<Clip> Encode(const VideoConfig& cfg, std::string& strError)
{
    av_log_set_level(AV_LOG_ERROR); // the encoders' statistics are noise here
    const AVCodec* pCodec = cfg.enCodec == VideoCodec::H264 ? avcodec_find_encoder_by_name("libx264")
                                                            : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!pCodec) {
        strError = cfg.enCodec == VideoCodec::H264 ? "libavcodec has no libx264 encoder"
                                                   : "libavcodec has no MPEG-4 encoder";
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, CodecCtxFree> ctx(avcodec_alloc_context3(pCodec));
    ctx->width = cfg.nWidth;
    ctx->height = cfg.nHeight;
    ctx->time_base = AVRational{1, cfg.nFps};
    ctx->framerate = AVRational{cfg.nFps, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->bit_rate = static_cast<std::int64_t>(cfg.nKbps) * 1000;
    ctx->rc_max_rate = ctx->bit_rate;
    ctx->rc_buffer_size = static_cast<int>(ctx->bit_rate);
    ctx->gop_size = cfg.nGop;
    ctx->max_b_frames = 0; // decode order is send order
    ctx->thread_count = 1; // reproducible bytes
    if (cfg.enCodec == VideoCodec::H264) {
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        // Key frames only where the loop needs them, each an IDR with its headers.
        av_opt_set(ctx->priv_data, "x264-params", "scenecut=0:threads=1:sliced-threads=0", 0);
        av_opt_set_int(ctx->priv_data, "forced-idr", 1, 0);
    } else {
        av_opt_set_int(ctx->priv_data, "sc_threshold", 1000000000, 0);
    }
    int err = avcodec_open2(ctx.get(), pCodec, nullptr);
    if (err < 0) {
        strError = AvError("opening the encoder", err);
        return nullptr;
    }
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = cfg.nWidth;
    frame->height = cfg.nHeight;
    if ((err = av_frame_get_buffer(frame.get(), 0)) < 0) {
        strError = AvError("frame buffer", err);
        return nullptr;
    }
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    auto clip = std::make_shared<Clip>();
    clip->cfg = cfg;
    auto drain = [&]() -> bool {
        for (;;) {
            const int r = avcodec_receive_packet(ctx.get(), pkt.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0) {
                strError = AvError("encoding", r);
                return false;
            }
            EncodedFrame f;
            f.es.assign(pkt->data, pkt->data + pkt->size);
            f.bKey = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            clip->frames.push_back(std::move(f));
            av_packet_unref(pkt.get());
        }
    };
    std::vector<std::uint8_t> y(static_cast<std::size_t>(cfg.nWidth) * cfg.nHeight), u(y.size() / 4),
        v(y.size() / 4);
    for (int i = 0; i < cfg.nClipFrames; ++i) {
        if ((err = av_frame_make_writable(frame.get())) < 0) {
            strError = AvError("frame buffer", err);
            return nullptr;
        }
        DrawTestPattern(i, cfg.nWidth, cfg.nHeight, y.data(), u.data(), v.data());
        for (int row = 0; row < cfg.nHeight; ++row)
            std::copy_n(&y[static_cast<std::size_t>(row) * cfg.nWidth], cfg.nWidth,
                        frame->data[0] + static_cast<std::ptrdiff_t>(row) * frame->linesize[0]);
        for (int row = 0; row < cfg.nHeight / 2; ++row) {
            std::copy_n(&u[static_cast<std::size_t>(row) * cfg.nWidth / 2], cfg.nWidth / 2,
                        frame->data[1] + static_cast<std::ptrdiff_t>(row) * frame->linesize[1]);
            std::copy_n(&v[static_cast<std::size_t>(row) * cfg.nWidth / 2], cfg.nWidth / 2,
                        frame->data[2] + static_cast<std::ptrdiff_t>(row) * frame->linesize[2]);
        }
        frame->pts = i;
        frame->pict_type = i % cfg.nGop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if ((err = avcodec_send_frame(ctx.get(), frame.get())) < 0) {
            strError = AvError("encoding", err);
            return nullptr;
        }
        if (!drain())
            return nullptr;
    }
    avcodec_send_frame(ctx.get(), nullptr);
    if (!drain())
        return nullptr;
    if (static_cast<int>(clip->frames.size()) != cfg.nClipFrames || !clip->frames.front().bKey) {
        strError = "the encoder gave " + std::to_string(clip->frames.size()) + " frames for " +
                   std::to_string(cfg.nClipFrames);
        return nullptr;
    }
    return clip;
}

} // namespace

void DrawTestPattern(int nFrame, int nWidth, int nHeight, std::uint8_t* pY, std::uint8_t* pU,
                     std::uint8_t* pV)
{
    // Diagonal bands that move two pixels a frame, with a bright bar sweeping down.
    const int nBar = (nFrame * 4) % nHeight;
    for (int r = 0; r < nHeight; ++r) {
        std::uint8_t* row = pY + static_cast<std::size_t>(r) * nWidth;
        const bool bBar = r >= nBar && r < nBar + 16;
        for (int c = 0; c < nWidth; ++c)
            row[c] = bBar ? 235 : static_cast<std::uint8_t>(16 + ((c + r + nFrame * 2) / 8 % 16) * 13);
    }
    for (int r = 0; r < nHeight / 2; ++r)
        for (int c = 0; c < nWidth / 2; ++c) {
            pU[static_cast<std::size_t>(r) * (nWidth / 2) + c] =
                static_cast<std::uint8_t>(64 + (c * 128) / (nWidth / 2));
            pV[static_cast<std::size_t>(r) * (nWidth / 2) + c] =
                static_cast<std::uint8_t>(64 + ((r + nFrame) % (nHeight / 2) * 128) / (nHeight / 2));
        }
    // The frame number, six digits, white on black in the top-left corner.
    const int nScale = std::max(2, nHeight / 60);
    const int nDigitW = 4 * nScale, nBoxH = 7 * nScale, nBoxW = 6 * nDigitW + nScale;
    for (int r = 0; r < nBoxH && r < nHeight; ++r)
        for (int c = 0; c < nBoxW && c < nWidth; ++c)
            pY[static_cast<std::size_t>(r) * nWidth + c] = 16;
    int n = nFrame;
    for (int d = 5; d >= 0; --d, n /= 10) {
        const auto& g = kDigits[n % 10];
        for (int gr = 0; gr < 5; ++gr)
            for (int gc = 0; gc < 3; ++gc) {
                if (!(g[gr] >> (2 - gc) & 1))
                    continue;
                for (int sr = 0; sr < nScale; ++sr)
                    for (int sc = 0; sc < nScale; ++sc) {
                        const int r = nScale + gr * nScale + sr, c = nScale + d * nDigitW + gc * nScale + sc;
                        if (r < nHeight && c < nWidth)
                            pY[static_cast<std::size_t>(r) * nWidth + c] = 235;
                    }
            }
    }
}

std::string CheckVideoConfig(const VideoConfig& cfg)
{
    if (cfg.nWidth < 16 || cfg.nHeight < 16 || cfg.nWidth > 4096 || cfg.nHeight > 2304 || cfg.nWidth % 2 ||
        cfg.nHeight % 2)
        return "video size must be even, 16x16 to 4096x2304";
    if (cfg.nFps < 1 || cfg.nFps > 60)
        return "frame rate must be 1 to 60";
    if (cfg.nKbps < 16 || cfg.nKbps > 100000)
        return "bit rate must be 16 to 100000 kbit/s";
    if (cfg.nGop < 1 || cfg.nGop > 1000)
        return "key-frame interval must be 1 to 1000 frames";
    if (cfg.nClipFrames < cfg.nGop || cfg.nClipFrames % cfg.nGop || cfg.nClipFrames > 3000)
        return "clip length must be a multiple of the key-frame interval, at most 3000 frames";
    return {};
}

namespace {

std::mutex g_cacheMutex;
std::map<VideoConfig, std::shared_ptr<const Clip>> g_cache;

} // namespace

std::shared_ptr<const Clip> PeekClip(const VideoConfig& cfg)
{
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    auto it = g_cache.find(cfg);
    return it == g_cache.end() ? nullptr : it->second;
}

std::shared_ptr<const Clip> GetClip(const VideoConfig& cfg, std::string& strError)
{
    if (auto clip = PeekClip(cfg))
        return clip;
    strError = CheckVideoConfig(cfg);
    if (!strError.empty())
        return nullptr;
    // Encoded outside the lock, so that a reader is never held up; two threads asking for the
    // same configuration at once get the same bytes.
    std::shared_ptr<const Clip> clip = Encode(cfg, strError);
    if (!clip)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    return g_cache.emplace(cfg, clip).first->second;
}

} // namespace camsim
