// Records of the LAN command replies, and the process-wide lists that keep them per camera.
//
// The network-parameter, Wi-Fi and 3G records live in lists keyed by serial number for the
// life of the process: a camera that answers again gets its record updated in place (a Wi-Fi
// record that no longer fits is reallocated), so a pointer handed out by an event stays
// valid until the same camera's next reply of that kind. Only the user-interface thread
// touches them.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <list>
#include <memory>
#include <vector>

constexpr std::size_t LAN_SERIAL_LEN = 32;       // serial field of most requests and records
constexpr std::size_t LAN_SHORT_SERIAL_LEN = 20; // serial field of replies and firmware requests

// Connection types of NetParamRecord::ucConnType.
constexpr BYTE LAN_CONN_PPPOE = 1;
constexpr BYTE LAN_CONN_DHCP = 2;
constexpr BYTE LAN_CONN_STATIC = 3;

// The camera's wired network parameters (event 0, and the source of the set command).
// Addresses are host order.
struct NetParamRecord {
    char szSerial[LAN_SERIAL_LEN];
    BYTE ucConnType;
    DWORD dwManualDNS;
    BYTE bIsPPPOENotGet;
    BYTE bIsDHCPNotGet;
    DWORD dwIP;
    DWORD dwDHCPIP; // 0xFFFFFFFF when the camera reported none
    BYTE bDHCPIPPresent;
    DWORD dwPPPoEIP; // 0 when the camera reported none
    BYTE bPPPoEIPPresent;
    DWORD dwNetmask;
    DWORD dwGateway;
    DWORD dwDNS1;
    DWORD dwDNS2;
    DWORD dwReserved;
    char szPPPoEAccount[32];
    char szPPPoEPassword[32];
};

// D-server connection state (event 1); lives on the handler's stack.
struct DServerRecord {
    char szSerial[LAN_SERIAL_LEN];
    BYTE abyState[6];
    char szServer[31];
    char szServer2[31]; // the first string again when the camera left it empty
};
static_assert(sizeof(DServerRecord) == 100);

// The 232-byte Wi-Fi settings block as on the wire; the two trailing words are host order.
struct WifiSettingsBlock {
    BYTE NetworkType; // 1 is ad hoc
    BYTE abyUnknown1[2];
    BYTE SsidLength;
    char Ssid[32];
    BYTE WEPKeyDefIndex;
    BYTE abyUnknown2[115];
    char WPAPSKKey[64];
    BYTE AuthMode;
    BYTE EncType;
    BYTE abyUnknown3[7];
    BYTE AdhocChannel;
    BYTE abyUnknown4[2];
    WORD usValue1;
    WORD usValue2;
};
static_assert(sizeof(WifiSettingsBlock) == 232);

// Access controller of web authentication (filled only when the camera reports one).
struct WifiWebAuthBlock {
    DWORD dwValue; // host order
    char szAddress[20];
    char szAccount[20];
    char szPassword[10];
};

// One access point of the survey, as on the wire.
struct WifiSurveyEntry {
    BYTE abyBSSID[6];
    BYTE byChannel;  // the radio channel (0 when the camera does not say)
    BYTE SsidLength; // 0 or above 32: SSID not broadcast
    char Ssid[32];
    BYTE AuthMode;
    BYTE EncType;
    BYTE byRadioMode;
    BYTE byNetworkType;
    BYTE abySignal[4]; // signal strength in percent, 32-bit big-endian
};
static_assert(sizeof(WifiSurveyEntry) == 48);

constexpr std::size_t WIFI_SURVEY_HEADER_LEN = 36;
constexpr std::size_t WIFI_SURVEY_LIST_HEAD = 4; // count byte and three further bytes
constexpr std::size_t WIFI_RECORD_MIN_ALLOC = 440;
constexpr std::size_t WIFI_RECORD_MAX = 5120;
constexpr std::size_t WIFI_RECORD_EXTRA = 64; // record size = body length + this

// Wi-Fi state of one camera (event 5). Variable size: the survey list follows the fixed part
// in the same allocation, dwSurveyLen - 36 bytes long.
struct WifiRecord {
    DWORD dwRecordSize; // body length + 64: what this reply needed
    char szSerial[LAN_SHORT_SERIAL_LEN];
    BYTE byStatus;  // first status flag of the reply
    DWORD dwStatus; // second status flag of the reply, host order
    BYTE abySettings[4];
    DWORD adwSettings[5]; // host order
    WifiSettingsBlock stBlock;
    WifiWebAuthBlock stWebAuth;
    DWORD dwSurveyLen;
    BYTE abySurveyHeader[WIFI_SURVEY_HEADER_LEN];

    BYTE* SurveyList() { return reinterpret_cast<BYTE*>(this + 1); }
    const BYTE* SurveyList() const { return reinterpret_cast<const BYTE*>(this + 1); }
    std::size_t SurveyListLen() const
    {
        return dwSurveyLen > WIFI_SURVEY_HEADER_LEN ? dwSurveyLen - WIFI_SURVEY_HEADER_LEN : 0;
    }
    // Entries that the list really holds (the count byte is not trusted beyond the list).
    std::size_t SurveyCount() const;
    const WifiSurveyEntry* SurveyEntry(std::size_t nIndex) const;
};
static_assert(sizeof(WifiRecord) <= WIFI_RECORD_MIN_ALLOC);

// 3G settings of one camera (event 7).
struct ThreeGRecord {
    char szSerial[LAN_SERIAL_LEN];
    BYTE bConnectType;
    BYTE bUseDefaultDial;
    BYTE bSimType;
    char szAPN[32];
    char szTelNum[32];
    char szAccount[32];
    char szPassword[32];
};

// Defaults of a 3G reply that carries no strings.
constexpr const char* THREEG_DEFAULT_DIAL_OPERATOR = "#777";
constexpr const char* THREEG_DEFAULT_LOGIN_OPERATOR = "user"; // account and password alike
constexpr const char* THREEG_DEFAULT_APN = "3gnet";
constexpr const char* THREEG_DEFAULT_DIAL = "*99";

// 3G link state (event 9); lives on the handler's stack.
struct ThreeGStatus {
    char szSerial[LAN_SERIAL_LEN];
    DWORD unDial;
    DWORD unSignal;
    DWORD unSimState;
    DWORD unNetwork;
};

// Results of commands 44 (event 32) and 45 (event 10); on the handler's stack.
struct LanWordResult {
    char szSerial[LAN_SERIAL_LEN];
    WORD usValue;
};
struct LanByteResult {
    char szSerial[LAN_SERIAL_LEN];
    BYTE byValue;
};

// Firmware replies (events 2, 4, 3) as their subscribers read them; lParam points at the
// reply body, which is at least this long (shorter replies are dropped).
constexpr std::size_t FIRM_WRITEREQ_REPLY_LEN = 21;  // serial, result byte
constexpr std::size_t FIRM_SENDFILE_REPLY_LEN = 24;  // serial, acknowledged chunk (big-endian)
constexpr std::size_t FIRM_WRITEFILE_REPLY_LEN = 24; // serial, stage, status, percent, result

// The lists of reply records, keyed by serial (compared as zero-ended text).
class CLanRecordStore {
public:
    CLanRecordStore() = default;
    CLanRecordStore(const CLanRecordStore&) = delete;
    CLanRecordStore& operator=(const CLanRecordStore&) = delete;

    NetParamRecord* FindNetParam(const char* pszSerial);
    // Finds the record or appends a zeroed one carrying the serial.
    NetParamRecord* FindOrAddNetParam(const char* pszSerial);

    ThreeGRecord* FindThreeG(const char* pszSerial);
    ThreeGRecord* FindOrAddThreeG(const char* pszSerial);

    WifiRecord* FindWifi(const char* pszSerial);
    // Stores a parsed record of nSize bytes (nSize = its dwRecordSize, at least
    // sizeof(WifiRecord)): over the old record when that one is large enough, else in a new
    // allocation of max(nSize, 440) bytes that replaces it. Returns the stored record.
    WifiRecord* StoreWifi(const WifiRecord* pRecord, std::size_t nSize);

    std::size_t GetNetParamCount() const { return m_listNetParam.size(); }
    std::size_t GetThreeGCount() const { return m_listThreeG.size(); }
    std::size_t GetWifiCount() const { return m_listWifi.size(); }

private:
    struct WifiSlot {
        std::unique_ptr<DWORD[]> pWords; // 4-byte aligned storage of the record
        std::size_t nAlloc = 0;
        WifiRecord* Get() const { return reinterpret_cast<WifiRecord*>(pWords.get()); }
    };
    // std::list: records never move while the camera does not answer again.
    std::list<NetParamRecord> m_listNetParam;
    std::list<ThreeGRecord> m_listThreeG;
    std::list<WifiSlot> m_listWifi;
};

// The process-wide lists that the LAN engine fills.
CLanRecordStore* GetLanRecordStore();

// Look-ups for the viewer engine's search of known cameras (serial as zero-ended text).
const NetParamRecord* FindNetParamRecord(const char* pszSerial);
const WifiRecord* FindWifiRecord(const char* pszSerial);
// The wired address to search as well for a camera on Wi-Fi: when the camera's Wi-Fi record
// has both status flags set and its network parameters hold an address that is neither 0
// nor dwIP, that address; else 0.
DWORD GetLanSecondAddress(const char* pszSerial, DWORD dwIP);
