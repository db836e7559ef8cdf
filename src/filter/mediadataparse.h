// The stamp header in front of each sample of a stamped stream: capture time, orientation
// and caption, with the compressed picture after it.
//
//   0  1  header length L (payload starts at L)     6  4  sub-second count (shown / 1000)
//   1  1  flags                                     10 1  caption length N, 255 = keep
//   2  4  seconds since 1970 (no time zone)         11 N  caption, UTF-16
#pragma once

#include <cstdint>
#include <string>

constexpr int MAX_FORMAT_TEXT = 128;
constexpr int MAX_TIME_TEXT = 128;
constexpr int MAX_CAPTION_TEXT = 256;

struct StampRecord {
    char16_t szFormat[MAX_FORMAT_TEXT] = u"YYYY-MM-DD HH:mm:ss";
    char16_t szTime[MAX_TIME_TEXT] = {};
    char16_t szCaption[MAX_CAPTION_TEXT] = {};
    uint8_t bMirror = 0;
    uint8_t bRotate = 0;
    const uint8_t* pbPayload = nullptr;
    uint32_t dwPayloadLength = 0;
};

class CMediaDataParse {
public:
    // False when the header does not fit the sample; the record then keeps its texts.
    bool Parse(const uint8_t* pbData, uint32_t dwLength);

    const StampRecord& Record() const { return m_record; }

    // The user locale's abbreviated name of a weekday, 0 = Sunday as in struct tm.
    static std::u16string WeekdayName(int nWeekday);

private:
    StampRecord m_record;
};
