// One simulated camera (or recorder, or a recorder's channel): identity, settings, runtime
// state and counters. The protocol handlers read and change it; the control channel dumps it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "faults.h"
#include "mediaconfig.h"
#include "wire.h"

namespace camsim {

// Which searches a camera answers.
enum class SearchRoute { Both, Multicast, Sweep, Neither };
// Which variant of the viewer protocol it speaks.
enum class CipherMode { Clear, Encrypted, Both };

struct RecordSettings {
    std::array<std::uint8_t, 16> block{};
    std::uint32_t dwA = 0, dwB = 0;
    std::uint8_t bC = 0, bD = 0;
    std::string strPath, strAccount, strPassword; // NAS only
    std::array<std::uint8_t, 3> three{};
    std::array<std::uint8_t, 3> three2{};
    std::uint8_t bOne = 0;
    std::array<std::uint8_t, 4> four{};
    std::array<std::uint8_t, 24> schedule{};
    // The SD record's sixth trailing byte is the SD operation's result byte.
    std::array<std::uint8_t, 6> trailing{};
    std::uint32_t dwSessionMode = 0;
    std::uint8_t bFinal = 0;
};

struct MailSettings {
    std::string strServer1, strServer2;
    std::uint8_t bByte = 0;
    std::string strSender, strSender2;
    std::uint8_t bFlags = 0;
    std::string strText128, strText64, strMessage;
    std::vector<std::string> recipients;
};

struct NtpSettings {
    std::uint16_t usSync = 0;
    std::int16_t sTimeZone = 0;
    std::string strServer = "pool.ntp.org";
    std::uint8_t bDstMode = 0;
    std::uint32_t adwDst[4]{};
    std::uint8_t bFinal = 0;
};

struct ScheduleEntry {
    std::uint8_t bNumber = 0;
    std::uint32_t dwStart = 0, dwEnd = 0;
};

struct AutoScanSchedule {
    std::uint8_t bByte = 0;
    std::map<std::uint8_t, std::string> named; // by entry number
    std::vector<ScheduleEntry> entries;
};

struct MotionSettings {
    std::uint8_t bThreshold = 10;
    std::uint32_t adwRegion[3]{};
    std::uint32_t dwSensitivity = 0x00595959; // 89 each, no region enabled
};

struct SnapshotServer {
    std::uint8_t ucEnable = 0, ucMode = 0;
    std::uint16_t usParam = 60;
    std::uint32_t ulServerIP = 0, ulServerPort = 21, ulSessionMode = 0;
};

struct RtspSettings {
    std::uint32_t ulEnable = 0;
    std::uint32_t ulSessionMode = (2048u << 16) | (25u << 9) | (4u << 2);
    std::uint32_t ulSubSessionMode = (512u << 16) | (15u << 9) | (2u << 2);
};

struct VolumeSettings {
    bool bSpkEnable = true;
    std::uint8_t bVolSpeaker = 80;
    bool bMicEnable = true;
    std::uint8_t bVolMicrophone = 60;
    std::uint8_t bMicrophoneType = 0;
};

struct NetParams {
    std::uint8_t ucConnType = 3; // static
    std::uint32_t dwManualDns = 0;
    std::uint8_t bPppoeNotGet = 0, bDhcpNotGet = 0;
    std::uint8_t bPppoePresent = 0, bDhcpPresent = 1;
    std::uint32_t dwPppoeAddr = 0;
    std::uint32_t dwNetmask = 0xFFFFFF00, dwGateway = 0, dwDns1 = 0, dwDns2 = 0, dwReserved = 0;
    std::string strPppoeAccount, strPppoePassword;
};

struct WifiSurveyEntry {
    std::array<std::uint8_t, 6> bssid{};
    std::uint8_t bChannel = 0; // the byte after the BSSID
    std::string strSsid;
    bool bHidden = false;
    std::uint8_t bAuthMode = 4, bEncType = 4, bRadio = 2, bNetType = 1;
    std::uint32_t dwSignal = 0; // percent, the entry's last word
};

// The link state travels in fields the client only carries otherwise: the reply byte is "Wi-Fi
// link up", the reply value "cable plugged in", the first settings byte the link the camera is
// set to use (0 wired, 1 wireless), and the survey header starts with the link speed in
// 100 kbit/s (32-bit big-endian) and the link quality in percent.
struct WifiSettings {
    std::uint8_t bReplyByte = 0;
    std::uint32_t dwReplyValue = 1;
    std::array<std::uint8_t, 4> settings4{};
    std::uint32_t adwSettings5[5]{};
    std::array<std::uint8_t, 232> block{}; // the last four bytes are two 16-bit values, kept big-endian
    bool bWebAuth = false;
    std::uint32_t dwWebAuthValue = 0;
    std::array<std::uint8_t, 50> webAuthRest{};
    std::array<std::uint8_t, 36> surveyHeader{};
    std::vector<WifiSurveyEntry> survey;
};

struct ThreeGSettings {
    std::uint8_t bConnectType = 0, bUseDefaultDial = 1, bSimType = 1;
    bool bSendStrings = true;
    std::string strApn, strTelNum = "*99", strAccount, strPassword;
    std::uint32_t unDial = 1, unSignal = 4, unSimState = 1, unNetwork = 2;
};

struct Recording {
    std::uint32_t dwStart = 0, dwEnd = 0; // camera seconds, UTC rules
    bool bEvent = false;
};

// One reliable reply of the record-time channel waiting for the client's acknowledgement.
struct PendingReply {
    std::uint32_t dwSeq = 0;
    Bytes packet;
    int nSends = 0;
};

struct RecTimeChannel {
    std::uint32_t dwLastReceived = 0xFFFFFFFF;
    std::uint32_t dwNextSeq = 1;
    std::deque<PendingReply> pending;
    std::uint32_t dwClientId = 0;
    std::uint32_t dwClientAddr = 0;
    std::uint16_t usClientPort = 0;
    bool bMulticast = false, bEncrypted = false;
    std::uint64_t uGeneration = 0; // bumps on reboot so stale resend timers stop
};

struct FirmwareSession {
    bool bActive = false;
    std::uint32_t dwSize = 0;
    Bytes image;
    std::vector<bool> received; // per 1024-byte chunk
    bool bWriting = false;
    bool bMulticast = false; // how the write request came, for the progress reports
    std::uint32_t dwReplyAddr = 0;
    // Progress reports still to send: stage, status, percent, result.
    std::vector<std::array<std::uint8_t, 4>> steps;
    std::optional<std::string> newVersion; // what the camera runs after the reboot
    std::uint64_t uGen = 0;
    std::string strLastResult;
};

struct Counters {
    std::map<int, std::uint64_t> viewer, online, lan, rectime;
    std::uint64_t wrongCheck = 0;
    std::uint64_t badToken = 0;
    std::uint64_t ignored = 0;   // requests the camera was told to ignore
    std::uint64_t malformed = 0; // short or unparsable bodies
    std::uint64_t repliesSent = 0;
    std::uint64_t rectimeResends = 0, rectimeGivenUp = 0, rectimeAcked = 0;
    std::uint64_t audioBytes = 0;
    std::uint64_t faultsApplied = 0;
};

struct VideoSession {
    bool bActive = false;
    std::uint32_t dwPcAddr = 0;
    std::uint16_t usPort = 0;
    std::uint8_t bStreamType = 0;
    std::uint32_t dwFrom = 0; // where the request came from
    std::uint64_t uStarts = 0, uStops = 0;
};

struct Camera {
    // ---- identity ----
    int nIndex = 0; // position in the expanded scenario (children: parent's)
    std::uint32_t dwId = 0;
    std::string strSerial;
    std::array<std::uint8_t, 32> nameField{}; // as on the wire
    std::uint8_t bNameExtra = 0;
    std::uint32_t dwAddr = 0; // host order; children: their parent's
    Camera* pParent = nullptr;
    std::vector<std::unique_ptr<Camera>> children;

    // ---- search reply ----
    bool bCapBit0 = false, bUnicastCapable = true, bHasWifi = false, bHas3G = false, bHasSD = true;
    std::uint8_t bFlagsByte = 0;
    std::array<std::uint8_t, 5> fiveBytes{};
    std::uint8_t bEncryptVersion = 0;
    std::uint32_t adwValues[3]{};
    std::uint32_t dwTypeNumber = 1;
    std::uint8_t bByte19 = 0, bByte20 = 0;
    bool bSendSequenceIds = true;
    std::uint8_t bOptByte = 0, bFeatureByte = 0;
    std::uint32_t dwOptValue = 0;
    std::uint8_t bChildByte = 0; // a child's entry byte

    // ---- behaviour ----
    SearchRoute enRoute = SearchRoute::Both;
    CipherMode enCipher = CipherMode::Clear;
    std::uint32_t dwVideoStatus = 0;
    std::optional<std::uint32_t> dwVideoValue; // second start-video value, absent by default
    bool bTalkAllowed = true;
    std::set<std::string> ignore; // "viewer:9", "online:0x20", "lan:41", "rectime:33"
    std::uint32_t dwRebootMs = 5000;
    std::uint32_t dwFirmwareWriteMs = 3000;
    bool bFirmwareFinalReport = true; // false: the write's closing report never leaves (lost)
    std::uint32_t dwFirmwareMaxSize = 16u << 20;
    FaultSpec faults;
    bool bOnline = true;
    std::uint64_t uBackAt = 0; // rebooting until this tick (0: not rebooting)
    std::uint64_t uRebootGen = 0;

    // ---- password ----
    Password password{};
    std::uint32_t adwSeq[2]{};
    Block16 checkValue{};

    // ---- settings ----
    std::string strFirmware = "1.0.0", strHardware = "HW1";
    std::uint32_t dwSensorId = 1, dwSubtype = 0;
    std::uint32_t dwCapWord1 = 0, dwCapWord2Flags = 0, dwCapWord3 = 0, dwCapWord4 = 0;
    std::uint32_t adwVideoReport[4]{};
    std::array<std::uint8_t, 6> sensorRegs{};
    std::array<std::uint8_t, 6> sensorRegsDefault{};   // as the scenario gave them
    std::map<std::uint32_t, std::uint32_t> sensorSets; // control word -> value, as last set
    VolumeSettings volume;
    MotionSettings motion;
    std::uint8_t bTimeFormat = 0;
    std::uint32_t dwAlarmEnable = 0, dwAlarmPeriod = 0;
    bool bScanning = false;
    std::map<std::uint32_t, std::string> presets;
    std::uint8_t bPresetNameLen = 16;
    SnapshotServer snapshot;
    RtspSettings rtsp;
    RecordSettings sdRecord, nasRecord;
    std::uint32_t adwSdInfo[3] = {7600, 1200, 6400};
    std::uint8_t bSdInfoByte = 1;
    std::uint32_t dwSdRecordState = 0;
    std::uint8_t bLastSdOperation = 0;
    std::uint64_t uSdClears = 0;     // SD operation 1: every recording removed
    std::uint64_t uRebootsAsked = 0; // system setting 1 from a client
    // The clock as a client last set it: UTC seconds, offset in minutes, when (sim ms).
    std::uint32_t dwClockUtc = 0;
    std::int32_t nClockOffset = 0;
    std::uint64_t uClockSetAt = 0, uClockSets = 0;
    MailSettings mail;
    std::uint8_t abDo[2]{};
    NtpSettings ntp;
    AutoScanSchedule autoScan;
    std::uint16_t usCameraPort = 80, usAppPort = 8150, usMobilePort = 8151;
    std::uint32_t dwPortValue = 0;
    std::uint8_t abUpnp[3]{}, bUpnpNibbles = 0;
    std::uint16_t usUpnpA = 0, usUpnpB = 0;
    std::uint8_t bDomeAddress = 1;
    std::uint16_t usDomeBaud = 9600;
    std::uint8_t bDServerLink = 0;
    std::array<std::uint8_t, 6> dserverBytes{};
    std::string strDServer1 = "d.example.lab", strDServer2;
    Bytes networkExtend;                        // empty: built from the network parameters
    std::map<std::string, std::string> lastSet; // what the client changed last, per setting

    // ---- LAN ----
    NetParams net;
    WifiSettings wifi;
    ThreeGSettings threeG;
    std::uint16_t ausCode44[2]{};
    std::uint8_t abCode45[2]{};
    std::uint16_t usCode44Reply = 0;
    std::uint8_t bCode45Reply = 0;
    std::string strDServerConnectText;

    // ---- record time and media ----
    std::uint16_t usMsVersion = 1;
    std::vector<Recording> recordings;
    RecTimeChannel rectime;
    std::map<int, std::vector<Bytes>> rectimeAccepted; // requests 50..66 as received, for the media side
    std::uint32_t dwLastDownloadAckCount = 0;
    VideoSession video;
    MediaConfig media;
    FirmwareSession firmware;

    Counters counters;
    std::mt19937 rng; // fault injection, seeded per camera

    bool IsChild() const { return pParent != nullptr; }
    Camera& Root() { return pParent ? *pParent : *this; }
    // Password state lives with the recorder.
    const Camera& PasswordOwner() const { return pParent ? *pParent : *this; }
    bool HasPassword() const;
    void RecomputeCheckValue();
    bool Ignores(const std::string& key) const { return ignore.count(key) != 0; }
    // Name text from the wire field (ANSI fields are read as Windows-1252's Latin-1 subset).
    std::string NameText() const;
    bool SetNameText(const std::string& strUtf8, bool bUtf8Form);
    Camera* FindById(std::uint32_t id);
};

// The JSON dump of state and counters the control channel returns.
std::string DumpCamera(const Camera& cam);

} // namespace camsim
