#include "pcrec/segmentwriter.h"

#include "core/log.h"
#include "media/audio/acodecgsmavi.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int AUDIO_RATE = 8000;
constexpr AVRational MICROS = {1, 1000000};
// Sound may drift this far from the pictures before silence is put in or sound left out.
constexpr long long AUDIO_TOLERANCE = AUDIO_RATE / 10;

std::string IsoTime(long long llSeconds)
{
    const std::time_t t = static_cast<std::time_t>(llSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char sz[32];
    std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
    return sz;
}

} // namespace

struct CSegmentWriter::Impl {
    AVFormatContext* pOut = nullptr;
    AVStream* pVideo = nullptr;
    AVStream* pAudio = nullptr;
    AVCodecContext* pEncoder = nullptr;
    AVFrame* pFrame = nullptr;
    AVPacket* pPacket = nullptr;
    bool bHeader = false;
    std::string strPath;
    // The file up to here is whole fragments; a write that fails past it is cut off again.
    std::int64_t llGoodBytes = 0;
    // The picture held until the next one gives its duration.
    std::vector<BYTE> vecHeld;
    long long llHeldMicros = -1;
    bool bHeldKey = false;
    long long llLastDuration = 40000;
    long long llEndMicros = 0;
    // The sound: samples put on the timeline, those encoded, those waiting for a whole AAC frame.
    CACodecGSMAVI gsm;
    long long llAudioPosition = 0;
    long long llAudioEncoded = 0;
    std::vector<float> vecPending;

    ~Impl()
    {
        if (pOut != nullptr) {
            if (!(pOut->oformat->flags & AVFMT_NOFILE))
                avio_closep(&pOut->pb);
            avformat_free_context(pOut);
        }
        avcodec_free_context(&pEncoder);
        av_frame_free(&pFrame);
        av_packet_free(&pPacket);
    }
};

CSegmentWriter::CSegmentWriter() = default;
CSegmentWriter::~CSegmentWriter()
{
    if (IsOpen())
        Close();
}

bool CSegmentWriter::IsOpen() const
{
    return m_p != nullptr && m_p->bHeader;
}
long long CSegmentWriter::EndMicros() const
{
    return m_p ? m_p->llEndMicros : 0;
}

bool CSegmentWriter::Open(const std::string& strPath, const SegmentFormat& format, long long llCreation,
                          std::string& strError)
{
    // The encoder's statistics lines are not for our users.
    av_log_set_level(AV_LOG_ERROR);
    m_p = std::make_unique<Impl>();
    m_llFrames = 0;
    m_nErrno = 0;
    Impl& s = *m_p;
    if (avformat_alloc_output_context2(&s.pOut, nullptr, "mp4", strPath.c_str()) < 0 || s.pOut == nullptr) {
        strError = "cannot make an MP4 writer";
        return false;
    }
    s.pVideo = avformat_new_stream(s.pOut, nullptr);
    s.pVideo->time_base = MICROS;
    AVCodecParameters* par = s.pVideo->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = format.bMpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264;
    par->width = format.nWidth;
    par->height = format.nHeight;
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(format.vecHeaders.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(par->extradata, format.vecHeaders.data(), format.vecHeaders.size());
    par->extradata_size = static_cast<int>(format.vecHeaders.size());
    if (format.bAudio) {
        const AVCodec* pCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        s.pEncoder = pCodec != nullptr ? avcodec_alloc_context3(pCodec) : nullptr;
        if (s.pEncoder == nullptr) {
            strError = "no AAC encoder";
            return false;
        }
        s.pEncoder->sample_rate = AUDIO_RATE;
        av_channel_layout_default(&s.pEncoder->ch_layout, 1);
        s.pEncoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        s.pEncoder->bit_rate = 24000;
        s.pEncoder->time_base = {1, AUDIO_RATE};
        s.pEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(s.pEncoder, pCodec, nullptr) < 0) {
            strError = "cannot open the AAC encoder";
            return false;
        }
        s.pAudio = avformat_new_stream(s.pOut, nullptr);
        s.pAudio->time_base = {1, AUDIO_RATE};
        avcodec_parameters_from_context(s.pAudio->codecpar, s.pEncoder);
        s.pFrame = av_frame_alloc();
        s.pFrame->format = AV_SAMPLE_FMT_FLTP;
        s.pFrame->nb_samples = s.pEncoder->frame_size;
        av_channel_layout_copy(&s.pFrame->ch_layout, &s.pEncoder->ch_layout);
        s.pFrame->sample_rate = AUDIO_RATE;
        if (av_frame_get_buffer(s.pFrame, 0) < 0) {
            strError = "out of memory";
            return false;
        }
    }
    s.pPacket = av_packet_alloc();
    av_dict_set(&s.pOut->metadata, "creation_time", IsoTime(llCreation).c_str(), 0);
    // Each fragment reaches the file as soon as the muxer ends it.
    s.pOut->flush_packets = 1;
    if (avio_open(&s.pOut->pb, strPath.c_str(), AVIO_FLAG_WRITE) < 0) {
        m_nErrno = errno;
        strError = "cannot write " + strPath + ": " + std::strerror(errno);
        return false;
    }
    // The first fragment carries the header too, so that it can say where the sound's encoder
    // delay ends (an edit list); each key frame then closes a fragment on disk, and so does a
    // fragment's second second: on a lossy network most of a large camera's key frames arrive
    // broken, and the muxer held everything up to the next whole one in memory (tens of MB a
    // camera, all of it lost in a crash).
    AVDictionary* pOptions = nullptr;
    av_dict_set(&pOptions, "movflags", "frag_keyframe+empty_moov+delay_moov+default_base_moof", 0);
    av_dict_set_int(&pOptions, "frag_duration", MAX_FRAGMENT_MICROS, 0);
    const int nRet = avformat_write_header(s.pOut, &pOptions);
    av_dict_free(&pOptions);
    if (nRet < 0) {
        m_nErrno = s.pOut->pb->error != 0 ? AVUNERROR(s.pOut->pb->error) : EIO;
        strError = "cannot write the MP4 header of " + strPath;
        return false;
    }
    s.bHeader = true;
    s.strPath = strPath;
    return true;
}

namespace {

// After each packet the muxer has written whole boxes (the output is flushed per packet), or
// failed: only a failure leaves a box cut short.
bool Written(CSegmentWriter::Impl& s, int nRet, int& nErrno)
{
    if (nRet < 0 || s.pOut->pb->error != 0) {
        nErrno = s.pOut->pb->error != 0 ? AVUNERROR(s.pOut->pb->error) : EIO;
        return false;
    }
    s.llGoodBytes = avio_tell(s.pOut->pb);
    return true;
}

} // namespace

bool CSegmentWriter::Flush(long long llNextMicros)
{
    Impl& s = *m_p;
    if (s.llHeldMicros < 0)
        return true;
    AVPacket* pkt = s.pPacket;
    av_packet_unref(pkt);
    if (av_new_packet(pkt, static_cast<int>(s.vecHeld.size())) < 0)
        return false;
    std::memcpy(pkt->data, s.vecHeld.data(), s.vecHeld.size());
    pkt->pts = pkt->dts = s.llHeldMicros;
    pkt->duration = std::max<long long>(1, llNextMicros - s.llHeldMicros);
    pkt->flags = s.bHeldKey ? AV_PKT_FLAG_KEY : 0;
    pkt->stream_index = s.pVideo->index;
    av_packet_rescale_ts(pkt, MICROS, s.pVideo->time_base);
    s.llHeldMicros = -1;
    if (!Written(s, av_write_frame(s.pOut, pkt), m_nErrno))
        return false;
    ++m_llFrames;
    return true;
}

bool CSegmentWriter::WriteVideo(const BYTE* pData, std::size_t nLen, long long llMicros, bool bKey)
{
    if (!IsOpen() || m_nErrno != 0)
        return false;
    Impl& s = *m_p;
    if (s.llHeldMicros >= 0 && llMicros <= s.llHeldMicros)
        llMicros = s.llHeldMicros + 1; // a camera clock step must not break the order
    if (s.llHeldMicros >= 0)
        s.llLastDuration = llMicros - s.llHeldMicros;
    if (!Flush(llMicros))
        return false;
    s.vecHeld.assign(pData, pData + nLen);
    s.llHeldMicros = llMicros;
    s.bHeldKey = bKey;
    s.llEndMicros = llMicros + s.llLastDuration;
    return true;
}

namespace {

bool Receive(CSegmentWriter::Impl& s, int& nErrno)
{
    AVPacket* pkt = s.pPacket;
    for (;;) {
        av_packet_unref(pkt);
        const int nRet = avcodec_receive_packet(s.pEncoder, pkt);
        if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
            return true;
        if (nRet < 0)
            return false;
        pkt->stream_index = s.pAudio->index;
        av_packet_rescale_ts(pkt, s.pEncoder->time_base, s.pAudio->time_base);
        if (!Written(s, av_write_frame(s.pOut, pkt), nErrno))
            return false;
    }
}

bool Encode(CSegmentWriter::Impl& s, bool bFlush, int& nErrno)
{
    const std::size_t nFrame = static_cast<std::size_t>(s.pEncoder->frame_size);
    // Sound is encoded no further than the pictures go, so that the segment's end can cut it
    // where its pictures end.
    const long long llVideo = (s.llHeldMicros >= 0 ? s.llHeldMicros : s.llEndMicros) * AUDIO_RATE / 1000000;
    std::size_t nUsed = 0;
    while ((s.vecPending.size() - nUsed >= nFrame &&
            s.llAudioEncoded + static_cast<long long>(nFrame) <= llVideo) ||
           (bFlush && s.vecPending.size() > nUsed)) {
        const std::size_t n = std::min(nFrame, s.vecPending.size() - nUsed);
        if (av_frame_make_writable(s.pFrame) < 0)
            return false;
        float* pOut = reinterpret_cast<float*>(s.pFrame->data[0]);
        for (std::size_t i = 0; i < nFrame; ++i)
            pOut[i] = i < n ? s.vecPending[nUsed + i] : 0.0f;
        s.pFrame->nb_samples = static_cast<int>(bFlush ? n : nFrame);
        s.pFrame->pts = s.llAudioEncoded;
        s.llAudioEncoded += static_cast<long long>(n);
        nUsed += n;
        if (avcodec_send_frame(s.pEncoder, s.pFrame) < 0 || !Receive(s, nErrno))
            return false;
    }
    s.vecPending.erase(s.vecPending.begin(), s.vecPending.begin() + static_cast<long>(nUsed));
    return true;
}

} // namespace

bool CSegmentWriter::WriteGsm(const BYTE* pData, std::size_t nLen)
{
    if (!IsOpen() || m_nErrno != 0)
        return false;
    Impl& s = *m_p;
    if (s.pEncoder == nullptr)
        return true;
    // Eight GSM frames at a time.
    constexpr std::size_t CODED_BLOCK = std::size_t{CACodecGSMAVI::CODED_FRAME} * 8;
    BYTE abyPcm[std::size_t{CACodecGSMAVI::PCM_FRAME} * 8];
    std::vector<float> vecSamples;
    for (std::size_t nOff = 0; nOff + CACodecGSMAVI::CODED_FRAME <= nLen; nOff += CODED_BLOCK) {
        const int nIn = static_cast<int>(std::min(nLen - nOff, CODED_BLOCK));
        const int nOut = s.gsm.Decode(pData + nOff, nIn, abyPcm, sizeof abyPcm);
        for (int k = 0; k + 1 < nOut; k += 2)
            vecSamples.push_back(
                static_cast<float>(static_cast<std::int16_t>(abyPcm[k] | abyPcm[k + 1] << 8)) / 32768.0f);
    }
    const long long llTarget = (s.llHeldMicros >= 0 ? s.llHeldMicros : s.llEndMicros) * AUDIO_RATE / 1000000;
    std::size_t nSkip = 0;
    if (s.llAudioPosition < llTarget - AUDIO_TOLERANCE) {
        s.vecPending.insert(s.vecPending.end(), static_cast<std::size_t>(llTarget - s.llAudioPosition), 0.0f);
        s.llAudioPosition = llTarget;
    } else if (s.llAudioPosition > llTarget + AUDIO_TOLERANCE) {
        nSkip = vecSamples.size(); // ahead of the pictures: wait for them
    }
    s.vecPending.insert(s.vecPending.end(), vecSamples.begin() + static_cast<long>(nSkip), vecSamples.end());
    s.llAudioPosition += static_cast<long long>(vecSamples.size() - nSkip);
    return Encode(s, false, m_nErrno);
}

bool CSegmentWriter::Close()
{
    if (!IsOpen())
        return false;
    Impl& s = *m_p;
    bool bOk = m_nErrno == 0 && Flush(s.llEndMicros);
    if (bOk && s.pEncoder != nullptr) {
        // The sound waiting for the last picture goes in now.
        bOk = Encode(s, false, m_nErrno);
    }
    if (bOk && s.pEncoder != nullptr) {
        // The sound lasts as long as the pictures, to the nearest whole AAC frame: the file
        // gives every frame its full length, the last one too.
        const long long llFrame = s.pEncoder->frame_size;
        const long long llEnd = (s.llEndMicros * AUDIO_RATE / 1000000 + llFrame / 2) / llFrame * llFrame;
        if (s.llAudioPosition < llEnd) {
            s.vecPending.insert(s.vecPending.end(), static_cast<std::size_t>(llEnd - s.llAudioPosition),
                                0.0f);
            s.llAudioPosition = llEnd;
        } else {
            const long long llOver =
                std::min<long long>(s.llAudioPosition - llEnd, static_cast<long long>(s.vecPending.size()));
            s.vecPending.resize(s.vecPending.size() - static_cast<std::size_t>(llOver));
        }
        bOk =
            Encode(s, true, m_nErrno) && avcodec_send_frame(s.pEncoder, nullptr) >= 0 && Receive(s, m_nErrno);
    }
    bOk = bOk && av_write_trailer(s.pOut) >= 0;
    bOk = avio_closep(&s.pOut->pb) >= 0 && bOk;
    if (!bOk) {
        // Without its trailer the file is as a crash leaves it: whole fragments, read to the end.
        if (m_nErrno == 0)
            m_nErrno = EIO;
        if (truncate(s.strPath.c_str(), static_cast<off_t>(s.llGoodBytes)) != 0)
            VLOG(1, "CSegmentWriter: cannot cut %s back to its whole fragments: %s", s.strPath.c_str(),
                 std::strerror(errno));
    }
    m_p.reset();
    return bOk;
}

SegmentProbe ProbeSegment(const std::string& strPath)
{
    SegmentProbe probe;
    AVFormatContext* pIn = nullptr;
    if (avformat_open_input(&pIn, strPath.c_str(), nullptr, nullptr) < 0)
        return probe;
    int nVideo = -1;
    for (unsigned i = 0; i < pIn->nb_streams; ++i) {
        const AVCodecParameters* par = pIn->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && nVideo < 0) {
            nVideo = static_cast<int>(i);
            probe.strCodec = avcodec_get_name(par->codec_id);
            probe.nWidth = par->width;
            probe.nHeight = par->height;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            probe.bAudio = true;
        }
    }
    if (nVideo >= 0) {
        // An interrupted file has no index: its length is that of the pictures it holds.
        const AVRational tb = pIn->streams[nVideo]->time_base;
        AVPacket* pkt = av_packet_alloc();
        long long llLast = AV_NOPTS_VALUE;
        long long llStep = 0;
        while (av_read_frame(pIn, pkt) >= 0) {
            if (pkt->stream_index == nVideo && pkt->pts != AV_NOPTS_VALUE) {
                ++probe.llFrames;
                // The last picture of a fragment may come without its duration: it lasts as
                // long as the one before.
                if (llLast != AV_NOPTS_VALUE && pkt->pts > llLast)
                    llStep = pkt->pts - llLast;
                llLast = pkt->pts;
                const long long llDuration = pkt->duration > 0 ? pkt->duration : llStep;
                probe.llMicros =
                    std::max<long long>(probe.llMicros, av_rescale_q(pkt->pts + llDuration, tb, MICROS));
            }
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        probe.bOk = probe.llFrames > 0;
    }
    avformat_close_input(&pIn);
    return probe;
}
