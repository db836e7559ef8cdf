// Playing a camera's PC recordings back: the pictures and sound of its segments from a time on,
// in recording order across segments and over gaps, as a playback pane feeds its decoder; and
// the marks of a day's hours and an hour's minutes for the timeline, from the index alone.
#pragma once

#include "media/playback/playbackpanelogic.h"
#include "pcrec/pcrecindex.h"
#include "platform/wintypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct PcPlaybackFrame {
    bool bVideo = true;
    // Video: the picture with start codes (H.264 as the camera sent it, its NAL units each
    // behind a four-byte start code; MPEG-4 as it is). Sound: 16-bit mono PCM at 8000 Hz.
    std::vector<BYTE> vecData;
    bool bKey = false;
    std::int64_t llUtcMicros = 0; // when the camera took it
    bool bMpeg4 = false;
    int nWidth = 0;
    int nHeight = 0;
};

class CPcPlayback {
public:
    explicit CPcPlayback(CPcRecIndex& index);
    ~CPcPlayback();
    CPcPlayback(const CPcPlayback&) = delete;
    CPcPlayback& operator=(const CPcPlayback&) = delete;

    // Positions at llUtcMs: the key frame at or before it in the segment that holds it, else the
    // start of the next segment. False when nothing is recorded from then on.
    bool Open(const std::string& strSerial, std::int64_t llUtcMs);
    // The next picture or sound; at a segment's end the next segment follows. False at the end
    // of the recordings (or on a file that cannot be read, logged).
    bool Next(PcPlaybackFrame& frame);
    // The next picture, sound passed over (frame by frame).
    bool NextPicture(PcPlaybackFrame& frame);
    // A minute before or after the last picture returned.
    bool StepMinutes(int nMinutes);
    std::int64_t PositionMs() const { return m_llPosition / 1000; }

private:
    struct Reader;
    bool OpenSegment(const PcSegment& segment, std::int64_t llUtcMs);
    // Reads one packet of the segment into the reader's queue; false at its end.
    bool Fill();

    CPcRecIndex& m_index;
    std::string m_strSerial;
    std::unique_ptr<Reader> m_pReader;
    PcSegment m_segment;
    std::int64_t m_llPosition = 0; // µs UTC of the last picture
};

// The timeline of one camera: which hours of a day (from its UTC midnight) and which minutes of
// an hour hold recordings. Recorded minutes are Normal; the index knows no events.
std::array<BarMark, 24> PcDayMarks(CPcRecIndex& index, const std::string& strSerial, std::int64_t llDayMs);
std::array<BarMark, 60> PcHourMarks(CPcRecIndex& index, const std::string& strSerial, std::int64_t llHourMs);
