#include "download/aviexport.h"

#include "media/audio/acodecgsmavi.h"
#include "platform/wintypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

constexpr int AUDIO_RATE = 8000;
constexpr int VIDEO_TIME_BASE = 1000000; // stamp times are in microseconds

DWORD Le32(const std::vector<BYTE>& v, std::size_t n)
{
    return v[n] | v[n + 1] << 8 | v[n + 2] << 16 | static_cast<DWORD>(v[n + 3]) << 24;
}

struct AviChunkRef {
    char achID[4];
    std::size_t nOffset;
    DWORD dwLength;
};

// One AVI file of ours: its header values and the chunks in index order.
struct AviFile {
    std::vector<BYTE> vecData;
    std::string strVideoType;
    DWORD dwMicrosPerFrame = 66666;
    WORD wAudioTag = 49;
    std::vector<AviChunkRef> vecChunks;
};

bool ReadAvi(const std::string& strPath, AviFile& file, std::string& strError)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = "cannot read " + strPath;
        return false;
    }
    file.vecData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::vector<BYTE>& f = file.vecData;
    if (f.size() < 334 || std::memcmp(&f[0], "RIFF", 4) != 0 || std::memcmp(&f[8], "AVI ", 4) != 0 ||
        std::memcmp(&f[322], "movi", 4) != 0) {
        strError = strPath + " is not a recording of ours";
        return false;
    }
    file.dwMicrosPerFrame = Le32(f, 32);
    file.strVideoType.assign(reinterpret_cast<const char*>(&f[112]), 4);
    file.wAudioTag = static_cast<WORD>(f[296] | f[297] << 8);
    const std::size_t nIndex = 326 + ((static_cast<std::size_t>(Le32(f, 318)) - 4 + 1) & ~std::size_t(1));
    if (nIndex + 8 > f.size() || std::memcmp(&f[nIndex], "idx1", 4) != 0) {
        strError = strPath + " has no index (an unfinished download?)";
        return false;
    }
    const std::size_t nEntries =
        std::min<std::size_t>(Le32(f, nIndex + 4) / 16, (f.size() - nIndex - 8) / 16);
    for (std::size_t i = 0; i < nEntries; ++i) {
        const std::size_t e = nIndex + 8 + 16 * i;
        AviChunkRef ref{};
        std::memcpy(ref.achID, &f[e], 4);
        ref.nOffset = 322 + static_cast<std::size_t>(Le32(f, e + 8)) + 8;
        ref.dwLength = Le32(f, e + 12);
        if (ref.nOffset + ref.dwLength > f.size()) {
            strError = strPath + " is cut short";
            return false;
        }
        file.vecChunks.push_back(ref);
    }
    return true;
}

std::string IsoTime(long long llSeconds)
{
    const std::time_t t = static_cast<std::time_t>(llSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char sz[32];
    std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
    return sz;
}

// The parameter sets of a key frame, with their start codes, for the MP4 header.
std::vector<BYTE> ParameterSets(const std::vector<BYTE>& vecFrame)
{
    std::vector<BYTE> vec;
    std::size_t i = 0;
    const std::size_t n = vecFrame.size();
    auto startCode = [&](std::size_t k) {
        return k + 3 <= n && vecFrame[k] == 0 && vecFrame[k + 1] == 0 && vecFrame[k + 2] == 1;
    };
    while (i < n && !startCode(i))
        ++i;
    while (i < n) {
        const std::size_t nNal = i + 3;
        std::size_t j = nNal;
        while (j < n && !startCode(j))
            ++j;
        std::size_t nEnd = j;
        while (nEnd > nNal && vecFrame[nEnd - 1] == 0)
            --nEnd; // the zero of a four-byte start code
        if (nNal < n && ((vecFrame[nNal] & 0x1F) == 7 || (vecFrame[nNal] & 0x1F) == 8)) {
            vec.insert(vec.end(), {0, 0, 0, 1});
            vec.insert(vec.end(), vecFrame.begin() + static_cast<long>(nNal),
                       vecFrame.begin() + static_cast<long>(nEnd));
        }
        i = j;
    }
    return vec;
}

struct CodecDeleter {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class CMp4Writer {
public:
    ~CMp4Writer()
    {
        if (m_pOut != nullptr) {
            if (m_bHeader && !m_bClosed)
                av_write_trailer(m_pOut);
            if (!(m_pOut->oformat->flags & AVFMT_NOFILE))
                avio_closep(&m_pOut->pb);
            avformat_free_context(m_pOut);
        }
    }

    bool Open(const std::string& strPath, const std::vector<BYTE>& vecParameterSets, int nWidth, int nHeight,
              long long llStartTime, bool bAudio, std::string& strError)
    {
        if (avformat_alloc_output_context2(&m_pOut, nullptr, "mp4", strPath.c_str()) < 0 ||
            m_pOut == nullptr) {
            strError = "cannot make an MP4 writer";
            return false;
        }
        m_pVideo = avformat_new_stream(m_pOut, nullptr);
        m_pVideo->time_base = {1, VIDEO_TIME_BASE};
        AVCodecParameters* par = m_pVideo->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_H264;
        par->width = nWidth;
        par->height = nHeight;
        par->extradata =
            static_cast<uint8_t*>(av_mallocz(vecParameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(par->extradata, vecParameterSets.data(), vecParameterSets.size());
        par->extradata_size = static_cast<int>(vecParameterSets.size());
        if (bAudio && !OpenAudio(strError))
            return false;
        av_dict_set(&m_pOut->metadata, "creation_time", IsoTime(llStartTime).c_str(), 0);
        if (avio_open(&m_pOut->pb, strPath.c_str(), AVIO_FLAG_WRITE) < 0) {
            strError = "cannot write " + strPath;
            return false;
        }
        if (avformat_write_header(m_pOut, nullptr) < 0) {
            strError = "cannot write the MP4 header of " + strPath;
            return false;
        }
        m_bHeader = true;
        m_pPacket.reset(av_packet_alloc());
        return true;
    }

    bool WriteVideo(const std::vector<BYTE>& vecFrame, long long llMicros, bool bKey)
    {
        AVPacket* pkt = m_pPacket.get();
        av_packet_unref(pkt);
        if (av_new_packet(pkt, static_cast<int>(vecFrame.size())) < 0)
            return false;
        std::memcpy(pkt->data, vecFrame.data(), vecFrame.size());
        pkt->pts = pkt->dts = llMicros;
        pkt->flags = bKey ? AV_PKT_FLAG_KEY : 0;
        pkt->stream_index = m_pVideo->index;
        av_packet_rescale_ts(pkt, {1, VIDEO_TIME_BASE}, m_pVideo->time_base);
        return av_interleaved_write_frame(m_pOut, pkt) >= 0;
    }

    // 16-bit mono samples at 8000 Hz.
    bool WriteAudio(const std::int16_t* pSamples, std::size_t nSamples)
    {
        m_vecPending.insert(m_vecPending.end(), pSamples, pSamples + nSamples);
        return EncodePending(false);
    }

    bool Finish()
    {
        if (m_pAudio != nullptr && (!EncodePending(true) || !Drain()))
            return false;
        m_bClosed = true;
        return av_write_trailer(m_pOut) >= 0;
    }

    long long AudioSamples() const { return m_llAudioSamples; }

private:
    bool OpenAudio(std::string& strError)
    {
        const AVCodec* pCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (pCodec == nullptr) {
            strError = "no AAC encoder";
            return false;
        }
        m_pEncoder.reset(avcodec_alloc_context3(pCodec));
        AVCodecContext* ctx = m_pEncoder.get();
        ctx->sample_rate = AUDIO_RATE;
        av_channel_layout_default(&ctx->ch_layout, 1);
        ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
        ctx->bit_rate = 24000;
        ctx->time_base = {1, AUDIO_RATE};
        if (m_pOut->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(ctx, pCodec, nullptr) < 0) {
            strError = "cannot open the AAC encoder";
            return false;
        }
        m_pAudio = avformat_new_stream(m_pOut, nullptr);
        m_pAudio->time_base = {1, AUDIO_RATE};
        avcodec_parameters_from_context(m_pAudio->codecpar, ctx);
        m_pFrame.reset(av_frame_alloc());
        m_pFrame->format = AV_SAMPLE_FMT_FLTP;
        m_pFrame->nb_samples = ctx->frame_size;
        av_channel_layout_copy(&m_pFrame->ch_layout, &ctx->ch_layout);
        m_pFrame->sample_rate = AUDIO_RATE;
        if (av_frame_get_buffer(m_pFrame.get(), 0) < 0) {
            strError = "out of memory";
            return false;
        }
        m_pAudioPacket.reset(av_packet_alloc());
        return true;
    }

    bool EncodePending(bool bFlush)
    {
        if (m_pAudio == nullptr)
            return true;
        const std::size_t nFrame = static_cast<std::size_t>(m_pEncoder->frame_size);
        std::size_t nUsed = 0;
        while (m_vecPending.size() - nUsed >= nFrame || (bFlush && m_vecPending.size() > nUsed)) {
            const std::size_t n = std::min(nFrame, m_vecPending.size() - nUsed);
            if (av_frame_make_writable(m_pFrame.get()) < 0)
                return false;
            float* pOut = reinterpret_cast<float*>(m_pFrame->data[0]);
            for (std::size_t i = 0; i < nFrame; ++i)
                pOut[i] = i < n ? m_vecPending[nUsed + i] / 32768.0f : 0.0f;
            m_pFrame->pts = m_llAudioSamples;
            m_llAudioSamples += static_cast<long long>(n);
            nUsed += n;
            if (avcodec_send_frame(m_pEncoder.get(), m_pFrame.get()) < 0 || !Receive())
                return false;
        }
        m_vecPending.erase(m_vecPending.begin(), m_vecPending.begin() + static_cast<long>(nUsed));
        return true;
    }

    bool Drain() { return avcodec_send_frame(m_pEncoder.get(), nullptr) >= 0 && Receive(); }

    bool Receive()
    {
        AVPacket* pkt = m_pAudioPacket.get();
        for (;;) {
            const int nRet = avcodec_receive_packet(m_pEncoder.get(), pkt);
            if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF)
                return true;
            if (nRet < 0)
                return false;
            pkt->stream_index = m_pAudio->index;
            av_packet_rescale_ts(pkt, m_pEncoder->time_base, m_pAudio->time_base);
            if (av_interleaved_write_frame(m_pOut, pkt) < 0)
                return false;
        }
    }

    AVFormatContext* m_pOut = nullptr;
    AVStream* m_pVideo = nullptr;
    AVStream* m_pAudio = nullptr;
    bool m_bHeader = false;
    bool m_bClosed = false;
    std::unique_ptr<AVCodecContext, CodecDeleter> m_pEncoder;
    std::unique_ptr<AVFrame, FrameDeleter> m_pFrame;
    std::unique_ptr<AVPacket, PacketDeleter> m_pPacket;
    std::unique_ptr<AVPacket, PacketDeleter> m_pAudioPacket;
    std::vector<std::int16_t> m_vecPending;
    long long m_llAudioSamples = 0;
};

struct VideoFrame {
    std::vector<BYTE> vecData;
    long long llMicros = 0;
    bool bKey = false;
    bool bTimed = false;
};

} // namespace

AviExportResult ExportAviToMp4(const std::vector<std::string>& vecInputs, const std::string& strOutput)
{
    // The encoder's statistics lines are not for our users.
    av_log_set_level(AV_LOG_ERROR);
    AviExportResult result;
    std::vector<AviFile> vecFiles(vecInputs.size());
    bool bAudio = false;
    for (std::size_t i = 0; i < vecInputs.size(); ++i) {
        if (!ReadAvi(vecInputs[i], vecFiles[i], result.strError))
            return result;
        const std::string& strType = vecFiles[i].strVideoType;
        if (strType != "tshd" && strType != "h264") {
            result.strError = vecInputs[i] + ": video " + strType + " is not H.264";
            return result;
        }
        for (const AviChunkRef& ref : vecFiles[i].vecChunks)
            bAudio = bAudio || std::memcmp(ref.achID, "01wb", 4) == 0;
    }

    // Frames from the segments: "00db" starts one, "00dc" continues it. Stamped segments give
    // the frame's time; bare ones advance by the header's frame duration.
    std::vector<VideoFrame> vecFrames;
    std::vector<std::int16_t> vecPcm;
    CACodecGSMAVI gsm;
    for (const AviFile& file : vecFiles) {
        const bool bStamped = file.strVideoType == "tshd";
        for (const AviChunkRef& ref : file.vecChunks) {
            const BYTE* p = &file.vecData[ref.nOffset];
            DWORD dwLen = ref.dwLength;
            if (std::memcmp(ref.achID, "01wb", 4) == 0) {
                if (file.wAudioTag == 1) {
                    vecPcm.insert(vecPcm.end(), reinterpret_cast<const std::int16_t*>(p),
                                  reinterpret_cast<const std::int16_t*>(p) + dwLen / 2);
                } else {
                    BYTE abyPcm[CACodecGSMAVI::PCM_FRAME * 48];
                    for (DWORD nOff = 0; nOff < dwLen; nOff += CACodecGSMAVI::CODED_FRAME * 48) {
                        const int nIn =
                            static_cast<int>(std::min<DWORD>(dwLen - nOff, CACodecGSMAVI::CODED_FRAME * 48));
                        const int nOut = gsm.Decode(p + nOff, nIn, abyPcm, sizeof abyPcm);
                        for (int k = 0; k + 1 < nOut; k += 2)
                            vecPcm.push_back(static_cast<std::int16_t>(abyPcm[k] | abyPcm[k + 1] << 8));
                    }
                }
                continue;
            }
            // "00db" starts a frame; so does a chunk of another time (stamped) or one that
            // begins with a start code (bare): cameras mark frames without a codec header
            // "00dc" as well as the later segments of one frame.
            bool bFirst = std::memcmp(ref.achID, "00db", 4) == 0;
            long long llMicros = -1;
            if (bStamped) {
                if (dwLen == 0 || p[0] < 10 || p[0] >= dwLen)
                    continue;
                DWORD dwSeconds;
                DWORD dwMicro;
                std::memcpy(&dwSeconds, p + 2, 4);
                std::memcpy(&dwMicro, p + 6, 4);
                llMicros = static_cast<long long>(dwSeconds) * 1000000 + dwMicro % 1000000;
                const DWORD dwHeader = p[0];
                p += dwHeader;
                dwLen -= dwHeader;
                bFirst = bFirst || vecFrames.empty() || vecFrames.back().llMicros != llMicros;
            } else {
                bFirst = bFirst || (dwLen >= 3 && p[0] == 0 && p[1] == 0 &&
                                    (p[2] == 1 || (dwLen >= 4 && p[2] == 0 && p[3] == 1)));
            }
            if (bFirst || vecFrames.empty()) {
                VideoFrame frame;
                frame.bKey = false;
                frame.bTimed = llMicros >= 0;
                if (llMicros < 0)
                    llMicros = vecFrames.empty() ? 0 : vecFrames.back().llMicros + file.dwMicrosPerFrame;
                frame.llMicros = llMicros;
                vecFrames.push_back(std::move(frame));
            }
            vecFrames.back().vecData.insert(vecFrames.back().vecData.end(), p, p + dwLen);
        }
    }
    if (vecFrames.empty()) {
        result.strError = "no video in the recordings";
        return result;
    }

    // Key frames carry a parameter set; the MP4 starts at the first one.
    std::size_t nFirst = vecFrames.size();
    std::vector<BYTE> vecParameterSets;
    for (std::size_t i = 0; i < vecFrames.size(); ++i) {
        const std::vector<BYTE> vecSets = ParameterSets(vecFrames[i].vecData);
        vecFrames[i].bKey = !vecSets.empty();
        if (vecFrames[i].bKey && nFirst == vecFrames.size()) {
            nFirst = i;
            vecParameterSets = vecSets;
        }
    }
    if (nFirst == vecFrames.size()) {
        result.strError = "no key frame in the recordings";
        return result;
    }
    int nWidth = 0;
    int nHeight = 0;
    for (const AviFile& file : vecFiles) {
        nWidth = std::max<int>(nWidth, static_cast<int>(Le32(file.vecData, 64)));
        nHeight = std::max<int>(nHeight, static_cast<int>(Le32(file.vecData, 68)));
    }
    const long long llStart = vecFrames[nFirst].llMicros;
    result.llStartTime = vecFrames[nFirst].bTimed ? llStart / 1000000 : 0;

    CMp4Writer writer;
    if (!writer.Open(strOutput, vecParameterSets, nWidth, nHeight, result.llStartTime, bAudio,
                     result.strError))
        return result;
    long long llPrevious = -1;
    for (std::size_t i = nFirst; i < vecFrames.size(); ++i) {
        long long llPts = vecFrames[i].llMicros - llStart;
        if (llPts <= llPrevious) // a camera clock step must not break the muxer's order
            llPts = llPrevious + 1;
        llPrevious = llPts;
        if (!writer.WriteVideo(vecFrames[i].vecData, llPts, vecFrames[i].bKey)) {
            result.strError = "cannot write " + strOutput;
            return result;
        }
        ++result.llVideoFrames;
    }
    if (bAudio && !writer.WriteAudio(vecPcm.data(), vecPcm.size())) {
        result.strError = "cannot encode the audio";
        return result;
    }
    if (!writer.Finish()) {
        result.strError = "cannot finish " + strOutput;
        return result;
    }
    result.llAudioSamples = writer.AudioSamples();
    result.bOk = true;
    return result;
}
