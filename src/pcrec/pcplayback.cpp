#include "pcrec/pcplayback.h"

#include "core/log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <deque>
#include <filesystem>

namespace {

constexpr AVRational MICROS = {1, 1000000};

} // namespace

struct CPcPlayback::Reader {
    AVFormatContext* pIn = nullptr;
    AVCodecContext* pAudio = nullptr;
    AVPacket* pPacket = av_packet_alloc();
    AVFrame* pFrame = av_frame_alloc();
    int nVideo = -1;
    int nAudio = -1;
    int nLengthSize = 0; // H.264 stored with length prefixes: their size; 0: as it is
    bool bMpeg4 = false;
    std::deque<PcPlaybackFrame> queue;

    ~Reader()
    {
        avcodec_free_context(&pAudio);
        avformat_close_input(&pIn);
        av_packet_free(&pPacket);
        av_frame_free(&pFrame);
    }
};

CPcPlayback::CPcPlayback(CPcRecIndex& index) : m_index(index) {}
CPcPlayback::~CPcPlayback() = default;

bool CPcPlayback::Open(const std::string& strSerial, std::int64_t llUtcMs)
{
    m_strSerial = strSerial;
    m_pReader.reset();
    const std::vector<PcSegment> vec = m_index.Segments(strSerial, llUtcMs, INT64_MAX);
    for (const PcSegment& segment : vec) {
        if (OpenSegment(segment, std::max(llUtcMs, segment.llStartMs)))
            return true;
    }
    return false;
}

bool CPcPlayback::OpenSegment(const PcSegment& segment, std::int64_t llUtcMs)
{
    m_pReader = std::make_unique<Reader>();
    Reader& r = *m_pReader;
    m_segment = segment;
    const std::string strPath = (std::filesystem::path(m_index.Folder()) / segment.strPath).string();
    if (avformat_open_input(&r.pIn, strPath.c_str(), nullptr, nullptr) < 0) {
        VLOG(1, "CPcPlayback: cannot read %s", strPath.c_str());
        m_pReader.reset();
        return false;
    }
    r.nVideo = av_find_best_stream(r.pIn, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    r.nAudio = av_find_best_stream(r.pIn, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (r.nVideo < 0) {
        m_pReader.reset();
        return false;
    }
    const AVCodecParameters* par = r.pIn->streams[r.nVideo]->codecpar;
    r.bMpeg4 = par->codec_id == AV_CODEC_ID_MPEG4;
    if (par->codec_id == AV_CODEC_ID_H264 && par->extradata_size >= 7 && par->extradata[0] == 1)
        r.nLengthSize = (par->extradata[4] & 3) + 1;
    if (r.nAudio >= 0) {
        const AVCodecParameters* apar = r.pIn->streams[r.nAudio]->codecpar;
        const AVCodec* pCodec = avcodec_find_decoder(apar->codec_id);
        r.pAudio = pCodec != nullptr ? avcodec_alloc_context3(pCodec) : nullptr;
        if (r.pAudio == nullptr || avcodec_parameters_to_context(r.pAudio, apar) < 0 ||
            avcodec_open2(r.pAudio, pCodec, nullptr) < 0) {
            avcodec_free_context(&r.pAudio);
            r.nAudio = -1;
        }
    }
    // From the latest key frame at or before the time: nothing before a key frame decodes.
    const std::int64_t llTarget = llUtcMs * 1000;
    const AVRational tb = r.pIn->streams[r.nVideo]->time_base;
    av_seek_frame(r.pIn, r.nVideo, av_rescale_q(llTarget - segment.llStartMs * 1000, MICROS, tb),
                  AVSEEK_FLAG_BACKWARD);
    std::deque<PcPlaybackFrame> held;
    bool bReached = false;
    while (!bReached && Fill()) {
        while (!r.queue.empty()) {
            PcPlaybackFrame f = std::move(r.queue.front());
            r.queue.pop_front();
            if (!bReached && f.bVideo && f.bKey && f.llUtcMicros <= llTarget)
                held.clear();
            if (!bReached && held.empty() && !(f.bVideo && f.bKey))
                continue;
            bReached = bReached || (f.bVideo && f.llUtcMicros >= llTarget);
            held.push_back(std::move(f));
        }
    }
    r.queue = std::move(held);
    return !r.queue.empty();
}

bool CPcPlayback::Fill()
{
    Reader& r = *m_pReader;
    if (av_read_frame(r.pIn, r.pPacket) < 0)
        return false;
    AVPacket* pkt = r.pPacket;
    const AVRational tb = r.pIn->streams[pkt->stream_index]->time_base;
    const std::int64_t llAt =
        m_segment.llStartMs * 1000 + (pkt->pts != AV_NOPTS_VALUE ? av_rescale_q(pkt->pts, tb, MICROS) : 0);
    if (pkt->stream_index == r.nVideo) {
        PcPlaybackFrame video;
        video.bKey = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        video.llUtcMicros = llAt;
        video.bMpeg4 = r.bMpeg4;
        video.nWidth = r.pIn->streams[r.nVideo]->codecpar->width;
        video.nHeight = r.pIn->streams[r.nVideo]->codecpar->height;
        if (r.nLengthSize == 0) {
            video.vecData.assign(pkt->data, pkt->data + pkt->size);
        } else {
            // Length prefixes back to start codes, as a camera sends them.
            for (int i = 0; i + r.nLengthSize <= pkt->size;) {
                std::size_t nNal = 0;
                for (int k = 0; k < r.nLengthSize; ++k)
                    nNal = nNal << 8 | pkt->data[i + k];
                i += r.nLengthSize;
                nNal = std::min<std::size_t>(nNal, static_cast<std::size_t>(pkt->size - i));
                static constexpr BYTE START[4] = {0, 0, 0, 1};
                video.vecData.insert(video.vecData.end(), START, START + 4);
                video.vecData.insert(video.vecData.end(), pkt->data + i, pkt->data + i + nNal);
                i += static_cast<int>(nNal);
            }
        }
        r.queue.push_back(std::move(video));
    } else if (pkt->stream_index == r.nAudio && avcodec_send_packet(r.pAudio, pkt) >= 0) {
        while (avcodec_receive_frame(r.pAudio, r.pFrame) >= 0) {
            PcPlaybackFrame audio;
            audio.bVideo = false;
            audio.llUtcMicros =
                m_segment.llStartMs * 1000 +
                (r.pFrame->pts != AV_NOPTS_VALUE ? av_rescale_q(r.pFrame->pts, tb, MICROS) : llAt);
            const float* pIn = reinterpret_cast<const float*>(r.pFrame->data[0]);
            for (int i = 0; i < r.pFrame->nb_samples && pIn != nullptr; ++i) {
                const float f = std::clamp(pIn[i], -1.0f, 1.0f);
                const auto s = static_cast<std::int16_t>(f * 32767.0f);
                audio.vecData.push_back(static_cast<BYTE>(s & 0xFF));
                audio.vecData.push_back(static_cast<BYTE>((s >> 8) & 0xFF));
            }
            // The encoder's delay before the segment's start is no sound of it.
            if (audio.llUtcMicros >= m_segment.llStartMs * 1000)
                r.queue.push_back(std::move(audio));
        }
    }
    av_packet_unref(pkt);
    return true;
}

bool CPcPlayback::Next(PcPlaybackFrame& frame)
{
    while (m_pReader != nullptr) {
        Reader& r = *m_pReader;
        if (!r.queue.empty()) {
            frame = std::move(r.queue.front());
            r.queue.pop_front();
            if (frame.bVideo)
                m_llPosition = frame.llUtcMicros;
            return true;
        }
        if (Fill())
            continue;
        // The next segment of the camera, over a gap if there is one.
        const PcSegment current = m_segment;
        m_pReader.reset();
        for (const PcSegment& next : m_index.Segments(m_strSerial, current.llEndMs, INT64_MAX)) {
            if (next.llStartMs > current.llStartMs && OpenSegment(next, next.llStartMs))
                break;
        }
    }
    return false;
}

bool CPcPlayback::NextPicture(PcPlaybackFrame& frame)
{
    while (Next(frame)) {
        if (frame.bVideo)
            return true;
    }
    return false;
}

bool CPcPlayback::StepMinutes(int nMinutes)
{
    return Open(m_strSerial, m_llPosition / 1000 + std::int64_t{nMinutes} * 60000);
}

std::array<BarMark, 24> PcDayMarks(CPcRecIndex& index, const std::string& strSerial, std::int64_t llDayMs)
{
    std::array<BarMark, 24> a{};
    constexpr std::int64_t HOUR = 3600000;
    for (const PcSegment& s : index.Segments(strSerial, llDayMs, llDayMs + 24 * HOUR)) {
        const std::int64_t llFrom = std::max<std::int64_t>(0, s.llStartMs - llDayMs) / HOUR;
        const std::int64_t llTo = std::min<std::int64_t>(24 * HOUR, s.llEndMs - llDayMs);
        for (std::int64_t h = llFrom; h * HOUR < llTo && h < 24; ++h)
            a[static_cast<std::size_t>(h)] = BarMark::Normal;
    }
    return a;
}

std::array<BarMark, 60> PcHourMarks(CPcRecIndex& index, const std::string& strSerial, std::int64_t llHourMs)
{
    std::array<BarMark, 60> a{};
    constexpr std::int64_t MINUTE = 60000;
    for (const PcSegment& s : index.Segments(strSerial, llHourMs, llHourMs + 60 * MINUTE)) {
        const std::int64_t llFrom = std::max<std::int64_t>(0, s.llStartMs - llHourMs) / MINUTE;
        const std::int64_t llTo = std::min<std::int64_t>(60 * MINUTE, s.llEndMs - llHourMs);
        for (std::int64_t m = llFrom; m * MINUTE < llTo && m < 60; ++m)
            a[static_cast<std::size_t>(m)] = BarMark::Normal;
    }
    return a;
}
