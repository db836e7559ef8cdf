#include "download/aviexport.h"

#include "media/audio/acodecgsmavi.h"
#include "media/avi/aviprocess.h"
#include "media/avi/rezorir.h"
#include "platform/wintypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int AUDIO_RATE = 8000;
constexpr int VIDEO_TIME_BASE = 1000000; // stamp times are in microseconds
// Audio and video may drift this far apart before silence is put in or audio left out.
constexpr long long AUDIO_TOLERANCE_SAMPLES = AUDIO_RATE / 10;
constexpr std::size_t HEADER_LEN = 326;
constexpr std::size_t INDEX_BATCH = 4096; // index entries read at a time

DWORD Le32(const BYTE* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24;
}

struct FileCloser {
    void operator()(std::FILE* p) const { std::fclose(p); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct AviChunk {
    char achID[4];
    std::uint64_t ullOffset; // of the chunk's data in the file
    DWORD dwLength;
    bool IsAudio() const { return std::memcmp(achID, "01wb", 4) == 0; }
    bool IsVideo() const { return achID[2] == 'd' && (achID[3] == 'b' || achID[3] == 'c'); }
};

// One AVI file of ours, read chunk by chunk through its index: what stays in memory is the
// header, one batch of index entries and the chunk being read, whatever the file's size.
class CAviReader {
public:
    bool Open(const std::string& strPath, std::string& strError)
    {
        m_strPath = strPath;
        m_pData.reset(std::fopen(strPath.c_str(), "rb"));
        m_pIndex.reset(std::fopen(strPath.c_str(), "rb"));
        BYTE h[HEADER_LEN];
        if (m_pData == nullptr || m_pIndex == nullptr) {
            strError = "cannot read " + strPath + ": " + std::strerror(errno);
            return false;
        }
        if (std::fread(h, 1, sizeof h, m_pData.get()) != sizeof h || std::memcmp(h, "RIFF", 4) != 0 ||
            std::memcmp(h + 8, "AVI ", 4) != 0 || std::memcmp(h + 322, "movi", 4) != 0) {
            strError = strPath + " is not a recording of ours";
            return false;
        }
        struct stat st {};
        fstat(fileno(m_pData.get()), &st);
        m_ullSize = static_cast<std::uint64_t>(st.st_size);
        m_dwMicrosPerFrame = Le32(h + 32);
        m_nWidth = static_cast<int>(Le32(h + 64));
        m_nHeight = static_cast<int>(Le32(h + 68));
        m_strVideoType.assign(reinterpret_cast<const char*>(h + 112), 4);
        m_wAudioTag = static_cast<WORD>(h[296] | h[297] << 8);
        const std::uint64_t ullIndex =
            HEADER_LEN + ((static_cast<std::uint64_t>(Le32(h + 318)) - 4 + 1) & ~1ull);
        BYTE idx[8];
        if (ullIndex + 8 > m_ullSize || fseeko(m_pIndex.get(), static_cast<off_t>(ullIndex), SEEK_SET) != 0 ||
            std::fread(idx, 1, 8, m_pIndex.get()) != 8 || std::memcmp(idx, "idx1", 4) != 0) {
            strError = strPath + " has no index (an unfinished download?)";
            return false;
        }
        m_ullEntries = std::min<std::uint64_t>(Le32(idx + 4) / 16, (m_ullSize - ullIndex - 8) / 16);
        return true;
    }
    void Rewind()
    {
        m_ullRead = 0;
        m_vecBatch.clear();
        m_nBatchPos = 0;
        fseeko(m_pIndex.get(), 0, SEEK_SET);
        BYTE h[HEADER_LEN];
        if (std::fread(h, 1, sizeof h, m_pIndex.get()) == sizeof h) {
            const std::uint64_t ullIndex =
                HEADER_LEN + ((static_cast<std::uint64_t>(Le32(h + 318)) - 4 + 1) & ~1ull);
            fseeko(m_pIndex.get(), static_cast<off_t>(ullIndex + 8), SEEK_SET);
        }
    }
    // The next chunk in index order; false at the end or on a damaged file (strError set).
    bool Next(AviChunk& chunk, std::string& strError)
    {
        if (m_nBatchPos == m_vecBatch.size()) {
            if (m_ullRead == m_ullEntries)
                return false;
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(INDEX_BATCH, m_ullEntries - m_ullRead));
            m_vecBatch.resize(n * 16);
            if (std::fread(m_vecBatch.data(), 1, m_vecBatch.size(), m_pIndex.get()) != m_vecBatch.size()) {
                strError = m_strPath + ": its index cannot be read";
                return false;
            }
            m_nBatchPos = 0;
            m_ullRead += n;
        }
        const BYTE* e = m_vecBatch.data() + m_nBatchPos;
        m_nBatchPos += 16;
        std::memcpy(chunk.achID, e, 4);
        chunk.ullOffset = 322 + static_cast<std::uint64_t>(Le32(e + 8)) + 8;
        chunk.dwLength = Le32(e + 12);
        if (chunk.ullOffset + chunk.dwLength > m_ullSize) {
            strError = m_strPath + " is cut short";
            return false;
        }
        return true;
    }
    bool Read(const AviChunk& chunk, std::vector<BYTE>& vec, std::string& strError)
    {
        vec.resize(chunk.dwLength);
        if (fseeko(m_pData.get(), static_cast<off_t>(chunk.ullOffset), SEEK_SET) != 0 ||
            std::fread(vec.data(), 1, vec.size(), m_pData.get()) != vec.size()) {
            strError = "cannot read " + m_strPath;
            return false;
        }
        return true;
    }

    const std::string& VideoType() const { return m_strVideoType; }
    bool IsStamped() const { return m_strVideoType == "tshd" || m_strVideoType == "tsxd"; }
    bool IsMpeg4() const { return m_strVideoType == "tsxd" || m_strVideoType == "xvid"; }
    DWORD MicrosPerFrame() const { return m_dwMicrosPerFrame; }
    WORD AudioTag() const { return m_wAudioTag; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    std::string m_strPath;
    FilePtr m_pData;
    FilePtr m_pIndex;
    std::uint64_t m_ullSize = 0;
    std::uint64_t m_ullEntries = 0;
    std::uint64_t m_ullRead = 0;
    std::vector<BYTE> m_vecBatch;
    std::size_t m_nBatchPos = 0;
    DWORD m_dwMicrosPerFrame = 66666;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::string m_strVideoType;
    WORD m_wAudioTag = 49;
};

// Video frames from the chunks of one file: "00db" starts one, "00dc" continues it; stamped
// chunks of another time start one too, and bare ones that begin with a start code (cameras
// mark frames without a codec header "00dc" as well as the later segments of one frame).
// Stamped frames take their stamp's time; bare ones follow the previous one by the header's
// frame duration.
class CFrameAssembler {
public:
    struct Frame {
        std::vector<BYTE> vecData;
        long long llMicros = 0;
        bool bTimed = false;
    };

    // Adds one video chunk; true when it started a new frame, whose predecessor then is
    // in Previous() (until the next call).
    bool Add(const BYTE* p, DWORD dwLen, bool bChunkStart, bool bStamped, DWORD dwMicrosPerFrame)
    {
        long long llMicros = -1;
        bool bFirst = bChunkStart;
        if (bStamped) {
            if (dwLen == 0 || p[0] < 10 || p[0] >= dwLen)
                return false;
            DWORD dwSeconds;
            DWORD dwMicro;
            std::memcpy(&dwSeconds, p + 2, 4);
            std::memcpy(&dwMicro, p + 6, 4);
            llMicros = static_cast<long long>(dwSeconds) * 1000000 + dwMicro % 1000000;
            const DWORD dwHeader = p[0];
            p += dwHeader;
            dwLen -= dwHeader;
            bFirst = bFirst || !m_bHave || m_current.llMicros != llMicros;
        } else {
            bFirst = bFirst || (dwLen >= 3 && p[0] == 0 && p[1] == 0 &&
                                (p[2] == 1 || (dwLen >= 4 && p[2] == 0 && p[3] == 1)));
        }
        bool bNew = false;
        if (bFirst || !m_bHave) {
            std::swap(m_previous, m_current);
            m_bHavePrevious = m_bHave;
            m_current.vecData.clear();
            m_current.bTimed = llMicros >= 0;
            if (llMicros < 0)
                llMicros = m_bHave ? m_previous.llMicros + dwMicrosPerFrame : m_llNextUntimed;
            m_current.llMicros = llMicros;
            m_bHave = true;
            bNew = m_bHavePrevious;
        }
        m_current.vecData.insert(m_current.vecData.end(), p, p + dwLen);
        return bNew;
    }
    // The frame being gathered is whole (the file ended): it becomes Previous().
    bool Flush()
    {
        if (!m_bHave)
            return false;
        std::swap(m_previous, m_current);
        m_bHavePrevious = true;
        m_bHave = false;
        m_llNextUntimed = m_previous.llMicros;
        return true;
    }
    const Frame& Previous() const { return m_previous; }
    const Frame& Current() const { return m_current; }
    bool HasCurrent() const { return m_bHave; }

private:
    Frame m_current;
    Frame m_previous;
    bool m_bHave = false;
    bool m_bHavePrevious = false;
    long long m_llNextUntimed = 0;
};

std::string IsoTime(long long llSeconds)
{
    const std::time_t t = static_cast<std::time_t>(llSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char sz[32];
    std::strftime(sz, sizeof sz, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
    return sz;
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

    bool Open(const std::string& strPath, bool bMpeg4, const std::vector<BYTE>& vecParameterSets, int nWidth,
              int nHeight, long long llStartTime, bool bAudio, std::string& strError)
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
        par->codec_id = bMpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264;
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

    bool WriteVideo(const std::vector<BYTE>& vecFrame, long long llMicros, long long llDuration, bool bKey)
    {
        AVPacket* pkt = m_pPacket.get();
        av_packet_unref(pkt);
        if (av_new_packet(pkt, static_cast<int>(vecFrame.size())) < 0)
            return false;
        std::memcpy(pkt->data, vecFrame.data(), vecFrame.size());
        pkt->pts = pkt->dts = llMicros;
        pkt->duration = llDuration;
        pkt->flags = bKey ? AV_PKT_FLAG_KEY : 0;
        pkt->stream_index = m_pVideo->index;
        av_packet_rescale_ts(pkt, {1, VIDEO_TIME_BASE}, m_pVideo->time_base);
        return av_interleaved_write_frame(m_pOut, pkt) >= 0;
    }

    // 16-bit mono samples at 8000 Hz, appended to the audio timeline.
    bool WriteAudio(const std::int16_t* pSamples, std::size_t nSamples)
    {
        m_vecPending.insert(m_vecPending.end(), pSamples, pSamples + nSamples);
        m_llPosition += static_cast<long long>(nSamples);
        return EncodePending(false);
    }
    bool WriteSilence(long long llSamples)
    {
        while (llSamples > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<long long>(llSamples, 4096));
            m_vecPending.insert(m_vecPending.end(), n, 0);
            m_llPosition += static_cast<long long>(n);
            llSamples -= static_cast<long long>(n);
            if (!EncodePending(false))
                return false;
        }
        return true;
    }
    // Samples put on the audio timeline so far.
    long long AudioPosition() const { return m_llPosition; }
    bool HasAudio() const { return m_pAudio != nullptr; }

    bool Finish()
    {
        if (m_pAudio != nullptr && (!EncodePending(true) || !Drain()))
            return false;
        m_bClosed = true;
        const bool bTrailer = av_write_trailer(m_pOut) >= 0;
        const bool bClose = avio_closep(&m_pOut->pb) >= 0;
        return bTrailer && bClose;
    }

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
        if (m_pAudio == nullptr) {
            m_vecPending.clear();
            return true;
        }
        const std::size_t nFrame = static_cast<std::size_t>(m_pEncoder->frame_size);
        std::size_t nUsed = 0;
        while (m_vecPending.size() - nUsed >= nFrame || (bFlush && m_vecPending.size() > nUsed)) {
            const std::size_t n = std::min(nFrame, m_vecPending.size() - nUsed);
            if (av_frame_make_writable(m_pFrame.get()) < 0)
                return false;
            float* pOut = reinterpret_cast<float*>(m_pFrame->data[0]);
            for (std::size_t i = 0; i < nFrame; ++i)
                pOut[i] = i < n ? static_cast<float>(m_vecPending[nUsed + i]) / 32768.0f : 0.0f;
            m_pFrame->nb_samples = bFlush ? static_cast<int>(n) : static_cast<int>(nFrame);
            m_pFrame->pts = m_llEncoded;
            m_llEncoded += static_cast<long long>(n);
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
    long long m_llEncoded = 0;
    long long m_llPosition = 0;
};

// The audio of a chunk as 16-bit samples: PCM as it is, GSM 06.10 decoded.
void ChunkSamples(const std::vector<BYTE>& vecChunk, WORD wTag, CACodecGSMAVI& gsm,
                  std::vector<std::int16_t>& vecPcm)
{
    vecPcm.clear();
    if (wTag == 1) {
        vecPcm.resize(vecChunk.size() / 2);
        std::memcpy(vecPcm.data(), vecChunk.data(), vecPcm.size() * 2);
        return;
    }
    BYTE abyPcm[CACodecGSMAVI::PCM_FRAME * 48];
    const DWORD dwLen = static_cast<DWORD>(vecChunk.size());
    for (DWORD nOff = 0; nOff < dwLen; nOff += CACodecGSMAVI::CODED_FRAME * 48) {
        const int nIn = static_cast<int>(std::min<DWORD>(dwLen - nOff, CACodecGSMAVI::CODED_FRAME * 48));
        const int nOut = gsm.Decode(vecChunk.data() + nOff, nIn, abyPcm, sizeof abyPcm);
        for (int k = 0; k + 1 < nOut; k += 2)
            vecPcm.push_back(static_cast<std::int16_t>(abyPcm[k] | abyPcm[k + 1] << 8));
    }
}

// The same file under two names (a link, or one path written two ways).
bool SameFile(const std::string& strA, const std::string& strB)
{
    struct stat a {};
    struct stat b {};
    return stat(strA.c_str(), &a) == 0 && stat(strB.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// The export itself, into strPath.
AviExportResult Export(const std::vector<std::string>& vecInputs, const std::string& strPath)
{
    AviExportResult result;
    std::vector<CAviReader> vecFiles(vecInputs.size());
    bool bAudio = false;
    bool bMpeg4 = false;
    int nWidth = 0;
    int nHeight = 0;
    std::vector<BYTE> vecChunk;
    AviChunk chunk{};
    // First pass, through the indexes alone: the codec, the picture size, whether any file has
    // sound; and the first key frame with its parameter sets, where the MP4 begins.
    std::vector<BYTE> vecParameterSets;
    // The time of each file's first stamped frame (-1: none), where audio ahead of it belongs.
    std::vector<long long> vecFirstMicros(vecInputs.size(), -1);
    std::size_t nFirstFile = vecFiles.size();
    long long llStart = 0;
    bool bStartTimed = false;
    for (std::size_t i = 0; i < vecInputs.size(); ++i) {
        CAviReader& file = vecFiles[i];
        if (!file.Open(vecInputs[i], result.strError))
            return result;
        const std::string& strType = file.VideoType();
        if (strType != "tshd" && strType != "h264" && strType != "tsxd" && strType != "xvid") {
            result.strError = vecInputs[i] + ": video " + strType + " is neither H.264 nor MPEG-4";
            return result;
        }
        if (i > 0 && file.IsMpeg4() != bMpeg4) {
            result.strError = vecInputs[i] + ": its video is not of the first file's codec";
            return result;
        }
        bMpeg4 = file.IsMpeg4();
        nWidth = std::max(nWidth, file.Width());
        nHeight = std::max(nHeight, file.Height());
        const int nMode = bMpeg4 ? REZORIR_MODE_MPEG4 : REZORIR_MODE_H264;
        CFrameAssembler frames;
        while (file.Next(chunk, result.strError)) {
            if (chunk.IsAudio()) {
                bAudio = true;
                continue;
            }
            const bool bNeedKey = nFirstFile == vecFiles.size();
            const bool bNeedTime = vecFirstMicros[i] < 0 && file.IsStamped();
            if (!chunk.IsVideo() || (!bNeedKey && !bNeedTime))
                continue;
            if (!file.Read(chunk, vecChunk, result.strError))
                return result;
            if (bNeedTime && vecChunk.size() > 10 && vecChunk[0] >= 10 && vecChunk[0] < vecChunk.size()) {
                DWORD dwSeconds;
                DWORD dwMicro;
                std::memcpy(&dwSeconds, vecChunk.data() + 2, 4);
                std::memcpy(&dwMicro, vecChunk.data() + 6, 4);
                vecFirstMicros[i] = static_cast<long long>(dwSeconds) * 1000000 + dwMicro % 1000000;
            }
            if (!bNeedKey)
                continue;
            // A key frame's parameter sets are in its first chunk.
            frames.Add(vecChunk.data(), static_cast<DWORD>(vecChunk.size()), chunk.achID[3] == 'b',
                       file.IsStamped(), file.MicrosPerFrame());
            const std::vector<BYTE>& vecData = frames.Current().vecData;
            std::vector<BYTE> vecSets = CAVIProcess::FindParameterSet(vecData.data(), vecData.size(), nMode);
            if (!vecSets.empty()) {
                vecParameterSets = std::move(vecSets);
                nFirstFile = i;
                llStart = frames.Current().llMicros;
                bStartTimed = frames.Current().bTimed;
            }
        }
        if (!result.strError.empty())
            return result;
    }
    if (nFirstFile == vecFiles.size()) {
        result.strError = "no key frame in the recordings";
        return result;
    }
    result.llStartTime = bStartTimed ? llStart / 1000000 : 0;

    CMp4Writer writer;
    if (!writer.Open(strPath, bMpeg4, vecParameterSets, nWidth, nHeight, result.llStartTime, bAudio,
                     result.strError))
        return result;

    // Second pass: frame by frame, each one written once the next one starts (its duration is
    // then known). Audio goes on the video's timeline: each chunk belongs at the time of the
    // video frame before it, silence fills where a file has none (a gap between files, a file
    // without sound) and audio that runs ahead is left out.
    const int nMode = bMpeg4 ? REZORIR_MODE_MPEG4 : REZORIR_MODE_H264;
    bool bStarted = false;
    long long llPrevious = -1;
    CACodecGSMAVI gsm;
    std::vector<std::int16_t> vecPcm;
    auto writeFrame = [&](const CFrameAssembler::Frame& frame, long long llNextMicros) {
        const bool bKey =
            CAVIProcess::IsKeyPicture(frame.vecData.data(), frame.vecData.size(), nMode) ||
            !CAVIProcess::FindParameterSet(frame.vecData.data(), frame.vecData.size(), nMode).empty();
        if (!bStarted && !bKey)
            return true; // before the first key frame nothing decodes
        bStarted = true;
        long long llPts = frame.llMicros - llStart;
        if (llPts <= llPrevious) // a camera clock step must not break the muxer's order
            llPts = llPrevious + 1;
        llPrevious = llPts;
        const long long llDuration = std::max<long long>(1, llNextMicros - frame.llMicros);
        if (!writer.WriteVideo(frame.vecData, llPts, llDuration, bKey)) {
            result.strError = "cannot write " + strPath;
            return false;
        }
        ++result.llVideoFrames;
        return true;
    };
    // Samples at the video time llMicros.
    auto audioAt = [&](long long llMicros) { return (llMicros - llStart) * AUDIO_RATE / 1000000; };
    for (std::size_t i = nFirstFile; i < vecFiles.size(); ++i) {
        CAviReader& file = vecFiles[i];
        file.Rewind();
        CFrameAssembler frames;
        bool bVideoSeen = false;
        long long llLastMicros = 0;
        while (file.Next(chunk, result.strError)) {
            if (!chunk.IsAudio() && !chunk.IsVideo())
                continue;
            if (!file.Read(chunk, vecChunk, result.strError))
                return result;
            if (chunk.IsVideo()) {
                if (frames.Add(vecChunk.data(), static_cast<DWORD>(vecChunk.size()), chunk.achID[3] == 'b',
                               file.IsStamped(), file.MicrosPerFrame()) &&
                    !writeFrame(frames.Previous(), frames.Current().llMicros))
                    return result;
                if (frames.HasCurrent()) {
                    bVideoSeen = true;
                    llLastMicros = frames.Current().llMicros;
                }
                continue;
            }
            if (!writer.HasAudio() || !bStarted)
                continue;
            ChunkSamples(vecChunk, file.AudioTag(), gsm, vecPcm);
            // Audio ahead of the file's first frame belongs with that frame.
            const long long llTarget = bVideoSeen               ? audioAt(llLastMicros)
                                       : vecFirstMicros[i] >= 0 ? audioAt(vecFirstMicros[i])
                                                                : writer.AudioPosition();
            const long long llAt = writer.AudioPosition();
            std::size_t nSkip = 0;
            if (llAt < llTarget - AUDIO_TOLERANCE_SAMPLES) {
                if (!writer.WriteSilence(llTarget - llAt)) {
                    result.strError = "cannot encode the audio";
                    return result;
                }
            } else if (llAt > llTarget + AUDIO_TOLERANCE_SAMPLES) {
                nSkip = static_cast<std::size_t>(
                    std::min<long long>(llAt - llTarget, static_cast<long long>(vecPcm.size())));
            }
            if (nSkip < vecPcm.size() && !writer.WriteAudio(vecPcm.data() + nSkip, vecPcm.size() - nSkip)) {
                result.strError = "cannot encode the audio";
                return result;
            }
        }
        if (!result.strError.empty())
            return result;
        const long long llEnd =
            (frames.HasCurrent() ? frames.Current().llMicros : llLastMicros) + file.MicrosPerFrame();
        if (frames.Flush() && !writeFrame(frames.Previous(), llEnd))
            return result;
        // The file's sound lasts as long as its pictures.
        if (writer.HasAudio() && bStarted &&
            writer.AudioPosition() < audioAt(llEnd) - AUDIO_TOLERANCE_SAMPLES / 2 &&
            !writer.WriteSilence(audioAt(llEnd) - writer.AudioPosition())) {
            result.strError = "cannot encode the audio";
            return result;
        }
    }
    if (result.llVideoFrames == 0) {
        result.strError = "no video in the recordings";
        return result;
    }
    if (!writer.Finish()) {
        result.strError = "cannot finish " + strPath;
        return result;
    }
    result.llAudioSamples = writer.HasAudio() ? writer.AudioPosition() : 0;
    result.bOk = true;
    return result;
}

} // namespace

AviExportResult ExportAviToMp4(const std::vector<std::string>& vecInputs, const std::string& strOutput)
{
    // The encoder's statistics lines are not for our users.
    av_log_set_level(AV_LOG_ERROR);
    AviExportResult result;
    for (const std::string& strInput : vecInputs) {
        if (strInput == strOutput || SameFile(strInput, strOutput)) {
            result.strError = strOutput + " is one of the files to export";
            return result;
        }
    }
    // Written beside the output under a name of its own and renamed at the end: a failure
    // leaves whatever was at the output's name as it was.
    std::string strTemp = strOutput + ".XXXXXX";
    const int fd = mkstemp(strTemp.data());
    if (fd < 0) {
        result.strError = "cannot write beside " + strOutput + ": " + std::strerror(errno);
        return result;
    }
    // mkstemp makes it private; the export gets the mode any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    result = Export(vecInputs, strTemp);
    if (result.bOk && std::rename(strTemp.c_str(), strOutput.c_str()) != 0) {
        result.bOk = false;
        result.strError = "cannot write " + strOutput + ": " + std::strerror(errno);
    }
    if (!result.bOk)
        std::remove(strTemp.c_str());
    return result;
}
