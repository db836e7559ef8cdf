// What the unnamed bytes of the recording and mail records mean to this client. The cameras'
// records carry them without names; this is the one place that gives them theirs, and the
// simulator keeps them the same way.
//
// Recording record (SD and NAS alike):
//   abSingle[0]  recording on ("Start recording", "Enable NAS")
//   abSingle[1]  record audio
//   abSingle[2]  overwrite the oldest when full (0: stop when full)
//   abThree[0]   start recording at boot-up
//   abThree[1]   manual recording
//   abThree[2]   the schedule is on ("Enable sch.")
//   byOne        0 continuous ("Normal recording"), 1 "Event recording"
//   abFour[0..3] the events that start a recording: areas I, II, III and the digital input
//   abSchedule   one byte per hour of the day (byte 0 is 00:00-01:00); in it bit d is weekday d,
//                Monday 0 .. Sunday 6. Bit 7 is not ours: it is kept as the camera sent it.
//                These 24 bytes are the only timetable. A month's hours (up to 93 bytes) have no
//                room in the record: the 16-byte block is written but never read back, and the
//                five or six trailing bytes are kept as read. So the daily timetable (one day
//                meaning every weekday) and the monthly one (a calendar whose dates show, and
//                edit, their weekday's hours) are views of this week, not records of their own.
// Value A, bytes C and D and the trailing bytes keep their old meaning (NAS size, address...).
//
// Remaining minutes on the SD card are our estimate, not a camera figure: the card's remaining
// MB (2^20 bytes) at the rate the camera records with, i.e. the bit rate of the saved recording
// stream (kbit/s of 1000 bit) and, when audio is recorded, its GSM 06.10 audio at 1650 bytes/s.
// It assumes recording all the time; event recording lasts longer.
//
// Mail record:
//   szServer     the SMTP server; szServer2 is not ours and is kept as read
//   byValue      authentication: 0 none, otherwise log in with the account and password
//   szSender     the sender's address; szSender2 the account
//   abFlag[0..3] the events that send a mail: areas I, II, III and the digital input
//   abFlag[4]    e-mail alarm on
//   szText1      the subject (128 bytes); szText2 the password (64 bytes)
//   szMessage    the body, with the placeholders the page offers
#pragma once

#include "protocol/viewerrecords.h"

#include <cstdint>
#include <string>

namespace recordlayout {

constexpr int RECORD_ON = 0; // abSingle
constexpr int RECORD_AUDIO = 1;
constexpr int RECORD_OVERWRITE = 2;
constexpr int RECORD_BOOTUP = 0; // abThree
constexpr int RECORD_MANUAL = 1;
constexpr int RECORD_SCHEDULE_ON = 2;

constexpr int SCHEDULE_DAYS = 7;
constexpr int SCHEDULE_HOURS = 24;
constexpr BYTE SCHEDULE_ALL_DAYS = 0x7F;

inline bool IsScheduled(const BYTE (&abSchedule)[24], int nDay, int nHour)
{
    return ((abSchedule[nHour] >> nDay) & 1) != 0;
}

inline void SetScheduled(BYTE (&abSchedule)[24], int nDay, int nHour, bool bOn)
{
    const BYTE byBit = static_cast<BYTE>(1u << nDay);
    abSchedule[nHour] = static_cast<BYTE>(bOn ? abSchedule[nHour] | byBit : abSchedule[nHour] & ~byBit);
}

// The schedule as 48 hex digits, hour 0 first (the form "set" takes and shows).
inline std::string ScheduleHex(const BYTE (&abSchedule)[24])
{
    static const char s_szDigits[] = "0123456789abcdef";
    std::string strHex;
    for (const BYTE by : abSchedule) {
        strHex += s_szDigits[by >> 4];
        strHex += s_szDigits[by & 15];
    }
    return strHex;
}

constexpr std::uint64_t AUDIO_BYTES_PER_SECOND = 1650;

// -1 when the rate is unknown (no bit rate in the stream word): no figure beats a wrong one.
inline long long RemainingMinutes(DWORD dwRemainingMB, DWORD dwSessionMode, bool bAudio)
{
    const std::uint64_t uKbps = SessionModeBitrate(dwSessionMode);
    if (uKbps == 0)
        return -1;
    const std::uint64_t uBytesPerSecond = uKbps * 1000 / 8 + (bAudio ? AUDIO_BYTES_PER_SECOND : 0);
    return static_cast<long long>(static_cast<std::uint64_t>(dwRemainingMB) * 1048576 / uBytesPerSecond / 60);
}

} // namespace recordlayout
