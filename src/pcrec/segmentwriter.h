// One recording segment: a fragmented MP4 written as the frames come, video copied as the
// camera sends it and its GSM sound as AAC. Each key frame closes a fragment on disk, and so
// does MAX_FRAGMENT_MICROS without one, so a crash loses at most the fragment being written.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The longest fragment: what the muxer holds in memory, and what a crash may lose.
constexpr long long MAX_FRAGMENT_MICROS = 2000000;

struct SegmentFormat {
    bool bMpeg4 = false; // else H.264
    int nWidth = 0;
    int nHeight = 0;
    std::vector<BYTE> vecHeaders; // the key frame's parameter sets / VOL, with start codes
    bool bAudio = true;
};

class CSegmentWriter {
public:
    CSegmentWriter();
    ~CSegmentWriter();
    CSegmentWriter(const CSegmentWriter&) = delete;
    CSegmentWriter& operator=(const CSegmentWriter&) = delete;

    // llCreation: UTC seconds, the file's creation time.
    bool Open(const std::string& strPath, const SegmentFormat& format, long long llCreation,
              std::string& strError);
    // One whole picture at llMicros from the segment's start (rising; a frame out of order is
    // moved just behind its predecessor). Written when the next one arrives and its duration is known.
    bool WriteVideo(const BYTE* pData, std::size_t nLen, long long llMicros, bool bKey);
    // GSM 06.10 frames (33 bytes each) that arrived after the latest picture: placed at that
    // picture's time, with silence put in or sound left out when they drift apart.
    bool WriteGsm(const BYTE* pData, std::size_t nLen);
    // Writes what is held and the trailer; the file is whole either way, the trailer only
    // adds the index a player seeks with.
    bool Close();

    bool IsOpen() const;
    // End of the last picture, in microseconds from the start.
    long long EndMicros() const;
    long long VideoFrames() const { return m_llFrames; }
    // A write failed (the disk is full, ...): errno of the failure, else 0.
    int WriteErrno() const { return m_nErrno; }

    struct Impl; // libavformat's and libavcodec's state

private:
    bool Flush(long long llNextMicros);
    std::unique_ptr<Impl> m_p;
    long long m_llFrames = 0;
    int m_nErrno = 0;
};

// What a finished or interrupted segment holds, read back from its file.
struct SegmentProbe {
    bool bOk = false;
    std::string strCodec; // "h264", "mpeg4"
    int nWidth = 0;
    int nHeight = 0;
    long long llFrames = 0;
    long long llMicros = 0; // end of the last picture
    bool bAudio = false;
};
SegmentProbe ProbeSegment(const std::string& strPath);
