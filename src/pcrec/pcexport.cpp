#include "pcrec/pcexport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr AVRational MICROS = {1, 1000000};

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

class CExport {
public:
    ~CExport()
    {
        if (m_pOut != nullptr) {
            if (m_pOut->pb != nullptr)
                avio_closep(&m_pOut->pb);
            avformat_free_context(m_pOut);
        }
    }

    PcExportResult Run(CPcRecIndex& index, const std::vector<PcSegment>& vecSegments, std::int64_t llFromMs,
                       std::int64_t llToMs, const std::string& strPath)
    {
        for (const PcSegment& s : vecSegments) {
            const std::string strFile = (std::filesystem::path(index.Folder()) / s.strPath).string();
            if (!Segment(strFile, s, llFromMs * 1000, llToMs * 1000, strPath))
                return m_result;
        }
        if (m_result.llVideoFrames == 0) {
            m_result.strError = "no picture in that time";
            return m_result;
        }
        if (av_write_trailer(m_pOut) < 0 || avio_closep(&m_pOut->pb) < 0) {
            m_result.strError = "cannot write " + strPath;
            return m_result;
        }
        m_result.llStartMs = m_llBase / 1000;
        m_result.llEndMs = (m_llBase + av_rescale_q(m_llLastVideo, m_pVideo->time_base, MICROS)) / 1000;
        m_result.bOk = true;
        return m_result;
    }

private:
    bool OpenOutput(AVFormatContext* pIn, int nVideo, int nAudio, const std::string& strPath,
                    std::int64_t llBase)
    {
        if (avformat_alloc_output_context2(&m_pOut, nullptr, "mp4", strPath.c_str()) < 0) {
            m_result.strError = "cannot make an MP4 writer";
            return false;
        }
        for (const int n : {nVideo, nAudio}) {
            if (n < 0)
                continue;
            AVStream* pStream = avformat_new_stream(m_pOut, nullptr);
            avcodec_parameters_copy(pStream->codecpar, pIn->streams[n]->codecpar);
            pStream->codecpar->codec_tag = 0;
            pStream->time_base = pIn->streams[n]->time_base;
            (n == nVideo ? m_pVideo : m_pAudio) = pStream;
        }
        char szTime[40];
        const std::time_t t = static_cast<std::time_t>(llBase / 1000000);
        std::tm tm{};
        gmtime_r(&t, &tm);
        std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
        av_dict_set(&m_pOut->metadata, "creation_time", szTime, 0);
        if (avio_open(&m_pOut->pb, strPath.c_str(), AVIO_FLAG_WRITE) < 0 ||
            avformat_write_header(m_pOut, nullptr) < 0) {
            m_result.strError = "cannot write " + strPath;
            return false;
        }
        return true;
    }

    bool Write(AVPacket* pkt, AVStream* pOutStream, AVRational tbIn, std::int64_t llAbsMicros,
               std::int64_t& llLast)
    {
        std::int64_t llPts = av_rescale_q(llAbsMicros - m_llBase, MICROS, pOutStream->time_base);
        if (llPts <= llLast)
            llPts = llLast + 1; // segments meet within a millisecond's rounding
        llLast = llPts;
        pkt->duration = av_rescale_q(pkt->duration, tbIn, pOutStream->time_base);
        pkt->pts = pkt->dts = llPts;
        pkt->stream_index = pOutStream->index;
        pkt->pos = -1;
        return av_write_frame(m_pOut, pkt) >= 0;
    }

    bool Segment(const std::string& strFile, const PcSegment& s, std::int64_t llFrom, std::int64_t llTo,
                 const std::string& strPath)
    {
        AVFormatContext* pIn = nullptr;
        if (avformat_open_input(&pIn, strFile.c_str(), nullptr, nullptr) < 0) {
            m_result.strError = "cannot read " + strFile;
            return false;
        }
        std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> in(
            pIn, [](AVFormatContext* p) { avformat_close_input(&p); });
        const int nVideo = av_find_best_stream(pIn, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const int nAudio = av_find_best_stream(pIn, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (nVideo < 0) {
            m_result.strError = strFile + " holds no video";
            return false;
        }
        if (m_pOut != nullptr) {
            const AVCodecParameters* a = m_pVideo->codecpar;
            const AVCodecParameters* b = pIn->streams[nVideo]->codecpar;
            if (a->codec_id != b->codec_id || a->width != b->width || a->height != b->height ||
                (m_pAudio != nullptr) != (nAudio >= 0)) {
                m_result.strError =
                    "the stream changes in " + s.strPath + ": export the time before and after it apart";
                return false;
            }
        }
        const std::int64_t llSegment = s.llStartMs * 1000;
        // Until the start is reached, the pictures from the latest key frame wait: the export
        // begins with a picture that decodes on its own.
        std::vector<PacketPtr> vecWaiting;
        PacketPtr pkt(av_packet_alloc());
        while (av_read_frame(pIn, pkt.get()) >= 0) {
            const bool bVideo = pkt->stream_index == nVideo;
            if ((!bVideo && pkt->stream_index != nAudio) || pkt->pts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt.get());
                continue;
            }
            const AVRational tb = pIn->streams[pkt->stream_index]->time_base;
            const std::int64_t llAbs = llSegment + av_rescale_q(pkt->pts, tb, MICROS);
            if (llAbs >= llTo) {
                av_packet_unref(pkt.get());
                if (bVideo)
                    break;
                continue;
            }
            if (!m_bStarted) {
                if (!bVideo) {
                    av_packet_unref(pkt.get());
                    continue;
                }
                if (pkt->flags & AV_PKT_FLAG_KEY)
                    vecWaiting.clear();
                if (!vecWaiting.empty() || (pkt->flags & AV_PKT_FLAG_KEY))
                    vecWaiting.emplace_back(av_packet_clone(pkt.get()));
                av_packet_unref(pkt.get());
                if (llAbs < llFrom || vecWaiting.empty())
                    continue;
                m_llBase = llSegment + av_rescale_q(vecWaiting.front()->pts, tb, MICROS);
                if (!OpenOutput(pIn, nVideo, nAudio, strPath, m_llBase))
                    return false;
                m_bStarted = true;
                for (PacketPtr& p : vecWaiting) {
                    const std::int64_t llAt = llSegment + av_rescale_q(p->pts, tb, MICROS);
                    if (!Write(p.get(), m_pVideo, tb, llAt, m_llLastVideo))
                        return WriteError(strPath);
                    ++m_result.llVideoFrames;
                }
                vecWaiting.clear();
                continue;
            }
            if (bVideo) {
                if (!Write(pkt.get(), m_pVideo, tb, llAbs, m_llLastVideo))
                    return WriteError(strPath);
                ++m_result.llVideoFrames;
            } else if (llAbs >= m_llBase) {
                if (!Write(pkt.get(), m_pAudio, tb, llAbs, m_llLastAudio))
                    return WriteError(strPath);
                ++m_result.llAudioPackets;
            }
            av_packet_unref(pkt.get());
        }
        return true;
    }

    bool WriteError(const std::string& strPath)
    {
        m_result.strError = "cannot write " + strPath;
        return false;
    }

    PcExportResult m_result;
    AVFormatContext* m_pOut = nullptr;
    AVStream* m_pVideo = nullptr;
    AVStream* m_pAudio = nullptr;
    bool m_bStarted = false;
    std::int64_t m_llBase = 0;
    std::int64_t m_llLastVideo = -1;
    std::int64_t m_llLastAudio = -1;
};

} // namespace

PcExportResult ExportPcRange(CPcRecIndex& index, const std::string& strSerial, std::int64_t llFromMs,
                             std::int64_t llToMs, const std::string& strOutput)
{
    av_log_set_level(AV_LOG_ERROR);
    PcExportResult result;
    if (llToMs <= llFromMs) {
        result.strError = "the end is not after the start";
        return result;
    }
    const std::vector<PcSegment> vecSegments = index.Segments(strSerial, llFromMs, llToMs);
    if (vecSegments.empty()) {
        result.strError = "no recording of " + strSerial + " in that time";
        return result;
    }
    // Written beside the output under a name of its own and renamed at the end.
    std::string strTemp = strOutput + ".XXXXXX";
    const int fd = mkstemp(strTemp.data());
    if (fd < 0) {
        result.strError = "cannot write beside " + strOutput + ": " + std::strerror(errno);
        return result;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    {
        CExport exporter;
        result = exporter.Run(index, vecSegments, llFromMs, llToMs, strTemp);
    }
    if (result.bOk && std::rename(strTemp.c_str(), strOutput.c_str()) != 0) {
        result.bOk = false;
        result.strError = "cannot write " + strOutput + ": " + std::strerror(errno);
    }
    if (!result.bOk)
        std::remove(strTemp.c_str());
    return result;
}
