#include "device/wifilink.h"

#include "core/stringids.h"

WifiLinkState WifiLinkOfRecord(const WifiRecord& record)
{
    WifiLinkState state;
    state.bWireless = record.abySettings[WIFI_LINK_SETTING] != 0;
    state.bWifiUp = record.byStatus != 0;
    state.bCable = record.dwStatus != 0;
    if (record.dwSurveyLen >= WIFI_SURVEY_HEADER_LEN) {
        const BYTE* pb = record.abySurveyHeader;
        const DWORD dwSpeed = (DWORD(pb[0]) << 24) | (DWORD(pb[1]) << 16) | (DWORD(pb[2]) << 8) | pb[3];
        // No camera radio reaches 6.5 Gbit/s: a larger word is not a speed.
        state.nSpeed = dwSpeed <= 0xFFFF ? static_cast<int>(dwSpeed) : -1;
        state.nQuality = pb[4] <= 100 ? pb[4] : -1;
    }
    return state;
}

int SurveyChannel(const WifiSurveyEntry& entry)
{
    // 2.4 GHz channels are 1 to 14, 5 GHz ones reach 196.
    return entry.byChannel >= 1 && entry.byChannel <= 196 ? entry.byChannel : -1;
}

int SurveySignal(const WifiSurveyEntry& entry)
{
    const BYTE* pb = entry.abySignal;
    const DWORD dwSignal = (DWORD(pb[0]) << 24) | (DWORD(pb[1]) << 16) | (DWORD(pb[2]) << 8) | pb[3];
    return dwSignal >= 1 && dwSignal <= 100 ? static_cast<int>(dwSignal) : -1;
}

CheckResult BuildWifiLink(const KeyValues& kv, WifiRecord& record)
{
    const auto it = kv.find("link");
    if (it == kv.end() || (it->second != "wired" && it->second != "wireless"))
        return MakeTextError("link", "wired or wireless");
    const bool bWireless = it->second == "wireless";
    if (!bWireless && record.dwStatus == 0)
        return MakeError("link", IDS_MSG_NET_CANNOT_SWITCH_TO_WIRED);
    record.abySettings[WIFI_LINK_SETTING] = bWireless ? 1 : 0;
    return std::nullopt;
}
