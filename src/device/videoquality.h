// Frame-rate, resolution and bit-rate choices of the camera stream settings.
//
// Cameras report frame-rate and resolution codes; the settings pages show short lists.
// This class maps codes to list entries and back and gives, per video standard, frame
// rate and resolution, the lowest and the default bit-rate a page may offer.
#pragma once

#include "platform/wintypes.h"

#include <string>

class CVideoQuality {
public:
    static constexpr int kFpsCount = 10;
    static constexpr int kResCount = 4;
    static constexpr int kBpsMax = 10000;

    int GetFpsCount() const { return kFpsCount; }
    // Index 0 ... 9; anything else is a fatal check.
    std::u16string GetFpsText(int nIndex) const;
    DWORD GetFpsValue(int nIndex) const;
    // -1 for a code no entry accepts.
    int GetFpsIndex(DWORD ulData) const;

    // Without HD the last entry is not offered.
    int GetResCount(BOOL bSupportHD) const { return bSupportHD ? kResCount : kResCount - 1; }
    // Index 0 ... 3 regardless of HD; anything else is a fatal check.
    std::u16string GetResText(int nIndex) const;
    DWORD GetResValue(int nIndex) const;
    int GetResIndex(DWORD ulData) const;

    // 0 when either code is unknown.
    LONG GetBpsMinValue(BOOL bIsTvTypePal, DWORD ulFpsData, DWORD ulResData) const;
    LONG GetBpsDefaultValue(BOOL bIsTvTypePal, DWORD ulFpsData, DWORD ulResData) const;
    LONG GetBpsMaxValue() const { return kBpsMax; }
};

// Process-wide instance, created at first use and kept until exit.
CVideoQuality& GetVideoQuality();

// The live stream as the camera's video report (the answer to the video report request) gives
// it: the first word is a session-mode word (frame rate, resolution, bit rate), bit 0 of the
// second word the camera's video standard (1 PAL, 0 NTSC), which decides the bit-rate floors.
struct LiveQuality {
    DWORD dwFps = 0;
    DWORD dwRes = 0;
    DWORD dwBps = 0;
    bool bPal = false;
};
constexpr DWORD VIDEO_REPORT_PAL = 1;
LiveQuality LiveQualityOfReport(const DWORD* padwWords);
