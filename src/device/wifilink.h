// The camera's link as its Wi-Fi reply tells it, and the wired/wireless switch.
//
// Our cameras use the reply's status byte for "the Wi-Fi link is up", its status word for "an
// Ethernet cable is plugged in", the first settings byte for the link the camera is set to use
// (0 wired, 1 wireless; the set command carries it back, so the switch is a Wi-Fi set), and the
// start of the survey header for the Wi-Fi link's speed in units of 100 kbit/s (32-bit,
// big-endian) and its quality in percent (one byte). A reply without a survey has no header:
// speed and quality are then unknown. A camera on Wi-Fi with a cable plugged in has both status
// fields set, which is when a search also goes to its wired address. Each survey entry carries
// the access point's channel in the byte after its BSSID and its signal in percent in the last
// word (big-endian).
#pragma once

#include "device/settingchecks.h"
#include "protocol/lancmd.h"

struct WifiLinkState {
    bool bWireless = false;
    bool bWifiUp = false;
    bool bCable = false;
    int nSpeed = -1;   // 100 kbit/s, -1 unknown
    int nQuality = -1; // percent, -1 unknown
};
constexpr std::size_t WIFI_LINK_SETTING = 0; // index into WifiRecord::abySettings

WifiLinkState WifiLinkOfRecord(const WifiRecord& record);

// A surveyed access point's channel (1 to 196) and signal (1 to 100 percent); -1 when the
// entry holds no such value (0 is a camera that does not say: a network it hears is above 0).
int SurveyChannel(const WifiSurveyEntry& entry);
int SurveySignal(const WifiSurveyEntry& entry);

// The switch (key link: wired or wireless) into a copy of the camera's record; wired without a
// cable is refused with IDS_MSG_NET_CANNOT_SWITCH_TO_WIRED.
CheckResult BuildWifiLink(const KeyValues& kv, WifiRecord& record);
