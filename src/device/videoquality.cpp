#include "device/videoquality.h"

#include "core/log.h"
#include "protocol/viewerrecords.h"

#include <array>
#include <initializer_list>

namespace {

struct QualityEntry {
    const char16_t* pszText;
    DWORD ulSent;
    // Codes the camera may report for this entry: NTSC and PAL rates, or the CIF and VGA
    // families of a resolution.
    std::array<DWORD, 2> aulAccepted;
};

constexpr std::array<QualityEntry, CVideoQuality::kFpsCount> s_aFps = {{
    {u"1", 1, {1, 1}},
    {u"2", 2, {2, 2}},
    {u"3", 3, {3, 3}},
    {u"4", 4, {4, 4}},
    {u"5", 5, {5, 5}},
    {u"6", 6, {6, 6}},
    {u"7", 7, {7, 7}},
    {u"10/8", 10, {8, 10}},
    {u"15/12", 15, {12, 15}},
    {u"30/25", 30, {25, 30}},
}};

constexpr std::array<QualityEntry, CVideoQuality::kResCount> s_aRes = {{
    {u"QCIF/QQVGA", 2, {1, 2}},
    {u"CIF/QVGA", 4, {3, 4}},
    {u"D1/VGA", 7, {5, 7}},
    {u"HD", 8, {8, 8}},
}};

// Row: resolution index; column: frame-rate index.
using BpsTable = std::array<std::array<LONG, CVideoQuality::kFpsCount>, CVideoQuality::kResCount>;

constexpr BpsTable s_nBpsDefaultPal = {{
    {{6, 10, 15, 20, 25, 30, 40, 40, 60, 100}},
    {{20, 40, 60, 80, 100, 120, 160, 160, 200, 320}},
    {{60, 100, 150, 200, 250, 300, 400, 400, 600, 1000}},
    {{270, 450, 675, 900, 1125, 1350, 1800, 1800, 2700, 4500}},
}};

constexpr BpsTable s_nBpsDefaultNtsc = {{
    {{6, 10, 12, 16, 20, 25, 30, 40, 60, 100}},
    {{20, 40, 60, 75, 85, 100, 120, 160, 200, 320}},
    {{60, 100, 150, 180, 200, 250, 300, 400, 600, 1000}},
    {{270, 450, 675, 810, 900, 1125, 1350, 1800, 2700, 4500}},
}};

constexpr BpsTable s_nBpsMinPal = {{
    {{1, 1, 1, 2, 3, 4, 5, 5, 7, 15}},
    {{2, 5, 7, 10, 12, 15, 20, 20, 30, 60}},
    {{10, 20, 30, 40, 50, 60, 80, 80, 125, 250}},
    {{15, 30, 45, 60, 75, 90, 120, 120, 188, 375}},
}};

constexpr BpsTable s_nBpsMinNtsc = {{
    {{1, 1, 1, 1, 2, 3, 4, 5, 7, 15}},
    {{2, 4, 5, 7, 10, 12, 15, 20, 30, 60}},
    {{8, 16, 25, 32, 40, 50, 60, 80, 125, 250}},
    {{36, 72, 113, 144, 180, 225, 270, 360, 563, 1125}},
}};

template <std::size_t N> int FindCode(const std::array<QualityEntry, N>& aEntries, DWORD ulData)
{
    for (std::size_t i = 0; i < N; ++i) {
        for (DWORD ulCode : aEntries[i].aulAccepted) {
            if (ulCode == ulData)
                return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

std::u16string CVideoQuality::GetFpsText(int nIndex) const
{
    FATAL_CHECK(nIndex >= 0 && nIndex < kFpsCount);
    return s_aFps[nIndex].pszText;
}

DWORD CVideoQuality::GetFpsValue(int nIndex) const
{
    FATAL_CHECK(nIndex >= 0 && nIndex < kFpsCount);
    return s_aFps[nIndex].ulSent;
}

int CVideoQuality::GetFpsIndex(DWORD ulData) const
{
    const int nIndex = FindCode(s_aFps, ulData);
    if (nIndex < 0)
        VLOG(2, "CVideoQuality::GetFpsIndex error ulData:%d", static_cast<int>(ulData));
    return nIndex;
}

std::u16string CVideoQuality::GetResText(int nIndex) const
{
    FATAL_CHECK(nIndex >= 0 && nIndex < kResCount);
    return s_aRes[nIndex].pszText;
}

DWORD CVideoQuality::GetResValue(int nIndex) const
{
    FATAL_CHECK(nIndex >= 0 && nIndex < kResCount);
    return s_aRes[nIndex].ulSent;
}

int CVideoQuality::GetResIndex(DWORD ulData) const
{
    const int nIndex = FindCode(s_aRes, ulData);
    if (nIndex < 0)
        VLOG(2, "CVideoQuality::GetResIndex error ulData:%d", static_cast<int>(ulData));
    return nIndex;
}

LONG CVideoQuality::GetBpsMinValue(BOOL bIsTvTypePal, DWORD ulFpsData, DWORD ulResData) const
{
    const int nFps = GetFpsIndex(ulFpsData);
    const int nRes = GetResIndex(ulResData);
    if (nFps < 0 || nRes < 0) {
        VLOG(2, "CVideoQuality::GetBpsMinValue error bIsTvTypePal:%d, ulFpsData:%d, ulResData:%d",
             bIsTvTypePal, static_cast<int>(ulFpsData), static_cast<int>(ulResData));
        return 0;
    }
    return (bIsTvTypePal ? s_nBpsMinPal : s_nBpsMinNtsc)[nRes][nFps];
}

LONG CVideoQuality::GetBpsDefaultValue(BOOL bIsTvTypePal, DWORD ulFpsData, DWORD ulResData) const
{
    const int nFps = GetFpsIndex(ulFpsData);
    const int nRes = GetResIndex(ulResData);
    if (nFps < 0 || nRes < 0) {
        VLOG(2, "CVideoQuality::GetBpsDefaultValue error bIsTvTypePal:%d, ulFpsData:%d, ulResData:%d",
             bIsTvTypePal, static_cast<int>(ulFpsData), static_cast<int>(ulResData));
        return 0;
    }
    return (bIsTvTypePal ? s_nBpsDefaultPal : s_nBpsDefaultNtsc)[nRes][nFps];
}

CVideoQuality& GetVideoQuality()
{
    static CVideoQuality s_videoQuality;
    return s_videoQuality;
}

LiveQuality LiveQualityOfReport(const DWORD* padwWords)
{
    LiveQuality quality;
    quality.dwFps = SessionModeFrameRate(padwWords[0]);
    quality.dwRes = SessionModeResolution(padwWords[0]);
    quality.dwBps = SessionModeBitrate(padwWords[0]);
    quality.bPal = (padwWords[1] & VIDEO_REPORT_PAL) != 0;
    return quality;
}
