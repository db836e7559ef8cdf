// The settings groups (the configuration pages and "vistrel-cli set"): each takes the camera's current record
// and the user's key=value pairs, runs the checks of the matching configuration page and yields the record
// (or request) to send. Nothing here talks to a camera.
#pragma once

#include "device/settingchecks.h"
#include "protocol/lancmd.h"
#include "protocol/password.h"
#include "protocol/viewerrecords.h"

#include <string>
#include <vector>

// The groups, with their keys, for the help text and for the key check.
struct SettingGroup {
    const char* pszName;
    std::vector<std::string> vecKeys;
    const char* pszHelp;
};
const std::vector<SettingGroup>& GetSettingGroups();
const SettingGroup* FindSettingGroup(const std::string& strName);

CheckResult BuildName(const KeyValues& kv, std::string& strName, bool& bCut);

// old defaults to the password the camera was opened with, confirm to new.
struct PasswordChange {
    BYTE abOld[PASSWORD_LEN] = {};
    BYTE abNew[PASSWORD_LEN] = {};
};
// IDS_HINT_PASSERR when old is not the stored password.
CheckResult BuildPasswordChange(const KeyValues& kv, const PasswordInfo& info, PasswordChange& change);

CheckResult BuildNtp(const KeyValues& kv, NtpInfo& info);
CheckResult BuildNetParam(const KeyValues& kv, NetParamRecord& record);
// pRecord: the camera's Wi-Fi record, whose survey decides the security of the chosen network.
// Keys type, ssid, key, txkey (1 to 4), channel; a refused value gives IDS_HINT_SETNETWORKFAIL.
CheckResult BuildWifi(const KeyValues& kv, const WifiRecord& current, WifiSettingsBlock& block);

struct ThreeGRequest {
    BYTE bOperation = 1;
    BYTE bConnectType = 0;
    BYTE bUseDefaultDial = 1;
    BYTE bIs3GCam = 0;
    std::string strAPN;
    std::string strTelNum;
    std::string strAccount;
    std::string strPassword;
};
CheckResult BuildThreeG(const KeyValues& kv, ThreeGRequest& request);

CheckResult BuildCameraPort(const KeyValues& kv, WORD& usPort);
CheckResult BuildSwitch(const KeyValues& kv, const char* pszKey, bool& bValue);
CheckResult BuildMotion(const KeyValues& kv, MotionInfo& info);
// Digital output (abDo) or SMS (abSms) triggers: region 1 to 3 and digital input.
CheckResult BuildTriggers(const KeyValues& kv, BYTE (&abTriggers)[4]);
CheckResult BuildMail(const KeyValues& kv, MailInfo& info);
// SD (bNas false) or NAS recording.
CheckResult BuildRecord(const KeyValues& kv, bool bNas, RecordInfo& info);

// The live stream's frame rate, resolution and bit rate (keys fps, res, bps) over the camera's
// present session-mode word, with the bit-rate floors of its video standard.
CheckResult BuildQuality(const KeyValues& kv, bool bPal, DWORD& dwMode);
// HD is offered to a camera that encodes it (its capability report) or already streams or
// records it in dwCurrentMode; a camera without it would keep its own stream.
bool OffersHD(bool bSupportsHD, DWORD dwCurrentMode);
// "res" refused with the quality page's message when dwMode asks for HD that is not offered.
CheckResult CheckHD(bool bSupportsHD, DWORD dwCurrentMode, DWORD dwMode);

struct RtspRequest {
    bool bAuthenticate = false;
    DWORD dwMainMode = 0;
    DWORD dwSubMode = 0;
};
CheckResult BuildRtsp(const KeyValues& kv, const RtspInfo& current, RtspRequest& request);

struct SnapshotRequest {
    BYTE ucEnable = 0; // bit 0 on, bits 1 to 7 picture count
    BYTE ucMode = 0;   // triggers: regions 1 to 3, digital input, 485, in time
    WORD usParam = 0;  // interval in seconds
    DWORD ulServerIP = 0;
    DWORD ulServerPort = 0;
    DWORD ulSessionMode = 0; // picture resolution
};
CheckResult BuildSnapshot(const KeyValues& kv, const SnapshotServerInfo& current, SnapshotRequest& request);

CheckResult BuildTimeFormat(const KeyValues& kv, BYTE& byFormat);

struct MicrophoneRequest {
    BYTE bVolMicrophone = 0;
    bool bMicEnable = false;
    BYTE bMicrophoneType = 0;
};
CheckResult BuildMicrophone(const KeyValues& kv, MicrophoneRequest& request);

// The PC's clock as a camera takes it: UTC seconds and the PC's offset from UTC in minutes.
void GetPcClock(DWORD& dwUtc, LONG& nOffsetMinutes);
