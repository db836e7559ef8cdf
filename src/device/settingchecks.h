// Input checks of the settings: one implementation for the configuration pages and the
// command-line client's "set", as pure functions so that nothing reaches a camera when one fails.
//
// A failed check names the offending key and carries the page's message as a string id with
// its numbers (so the text follows the language), or a plain text where the pages have none.
#pragma once

#include "platform/wintypes.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CheckError {
    std::string strKey;   // the key=value that failed; empty for the group as a whole
    DWORD dwStringID = 0; // message from the language table, "%d" filled from vecArgs
    std::vector<long> vecArgs;
    std::string strText; // message when there is no string id
};
using CheckResult = std::optional<CheckError>;

CheckError MakeError(std::string strKey, DWORD dwStringID, std::vector<long> vecArgs = {});
CheckError MakeTextError(std::string strKey, std::string strText);

// The message of an error: the language text with its "%d" filled in, else the plain text.
// pfnLookup gives the text of a string id (UTF-8).
template <typename Lookup> std::string FormatCheckError(const CheckError& error, Lookup&& fnLookup);
std::string FillNumbers(const std::string& strFormat, const std::vector<long>& vecArgs);

// "key=value" arguments. Keys are lower case words; a key given twice, an empty key or an
// argument without "=" is an error.
using KeyValues = std::map<std::string, std::string>;
CheckResult ParseAssignments(const std::vector<std::string>& vecArgs, KeyValues& kv);
// Every key must be one of the group's.
CheckResult CheckKnownKeys(const KeyValues& kv, const std::vector<std::string>& vecAllowed);

// Dotted IPv4 address, nothing else: four decimal parts 0 to 255, no signs, blanks, leading
// zeros or missing parts. dwIP is host order.
bool ParseIPv4Strict(std::string_view text, DWORD& dwIP);
// An address value: "Invalid IP address!" unless strict IPv4; with bServer also 0.0.0.0 and
// 255.255.255.255 are refused (a server address must name a host).
CheckResult CheckAddress(const std::string& strKey, const std::string& strText, bool bServer, DWORD& dwIP);

// A whole decimal number in [nMin, nMax]; else "The port range is from %d to %d!", the
// message the pages use for every bounded number.
// The error of a number out of its range: the page's port message for a port, else the
// language's range message (the key names the field).
CheckError RangeError(const std::string& strKey, long nMin, long nMax);
CheckResult CheckNumber(const std::string& strKey, const std::string& strText, long nMin, long nMax,
                        long& nValue);
// A plain decimal number without a range message of its own ("Invalid value!").
bool ParseDecimal(std::string_view text, long& nValue);

// Camera port: 0 (the camera picks one) or 3479 to 7997.
constexpr long CAMERA_PORT_MIN = 3479;
constexpr long CAMERA_PORT_MAX = 7997;
CheckResult CheckCameraPort(const std::string& strKey, const std::string& strText, WORD& usPort);

// on/off, yes/no, true/false, 1/0.
CheckResult ParseSwitch(const std::string& strKey, const std::string& strText, bool& bValue);

// Camera name: not empty, not starting with a space. A name longer than the 32-byte field is
// cut when it is sent; bCut tells the caller so it can say so.
constexpr std::size_t CAMERA_NAME_BYTES = 32;
CheckResult CheckCameraName(const std::string& strKey, const std::string& strName, bool& bCut);

// A password of at most 16 bytes ("Invalid password" when longer).
CheckResult CheckPasswordText(const std::string& strKey, const std::string& strText);
// A new password and its confirmation must agree ("The passwords do not match").
CheckResult CheckPasswordsMatch(const std::string& strKey, const std::string& strNew,
                                const std::string& strConfirm);

// Stream settings as the quality, RTSP and recording pages take them: frame rate and
// resolution must be codes of the tables ("Invalid value!"); the bit rate lies between the
// table's minimum for frame rate, resolution and video standard ("The minimum BPS is %d")
// and 10000 ("The maximal BPS is 10000!").
CheckResult CheckStream(const std::string& strPrefix, long nFps, long nRes, long nBps, bool bPal);

// GMT offset "+HH:MM", "-HH:MM" or "HH:MM", -12:00 to +14:00, as minutes.
CheckResult ParseTimeZone(const std::string& strKey, const std::string& strText, short& nMinutes);

// Snapshot server bounds. The picture count travels in the seven upper bits of a byte, so
// 127 is the most a camera can be told.
constexpr long SNAPSHOT_COUNT_MIN = 1;
constexpr long SNAPSHOT_COUNT_MAX = 127;
constexpr long SNAPSHOT_INTERVAL_MIN = 1;
constexpr long SNAPSHOT_INTERVAL_MAX = 65535;
constexpr long SNAPSHOT_PORT_MIN = 1;
constexpr long SNAPSHOT_PORT_MAX = 65535;

// Text into a fixed zero-padded field of nField bytes leaving room for the zero: false when
// it does not fit.
bool FitsField(const std::string& strText, std::size_t nField);

template <typename Lookup> std::string FormatCheckError(const CheckError& error, Lookup&& fnLookup)
{
    std::string strMessage =
        error.dwStringID != 0 ? FillNumbers(fnLookup(error.dwStringID), error.vecArgs) : error.strText;
    if (!error.strKey.empty())
        strMessage = error.strKey + ": " + strMessage;
    return strMessage;
}

// Patrol tour time ranges, minutes of the day: a new range ends after it starts, overlaps none
// of the ranges already there, and finds room (at most nMax ranges).
constexpr std::size_t TOUR_RANGES_MAX = 64;
struct TourRange {
    DWORD dwStart;
    DWORD dwEnd;
};
CheckResult CheckTourRange(const std::vector<TourRange>& vecRanges, const TourRange& range, std::size_t nMax);
