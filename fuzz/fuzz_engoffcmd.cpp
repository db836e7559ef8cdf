// libFuzzer target: the LAN engine's and the record-time engine's receive paths must never
// read outside a datagram, whatever arrives, and every record they raise must be readable as
// far as its own counts and lengths say.
//
// The first input byte picks the path: LAN dispatch, record-time dispatch (0xC4), reliable
// record-time data (0x59) or its acknowledgement (0xD9).
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QCoreApplication>

#include "core/log.h"
#include "platform/msgwindow.h"
#include "platform/trace.h"
#include "protocol/engoffcmd.h"
#include "protocol/mscmd.h"

namespace {

class NullPort : public ILanSocketPort {
public:
    SocketGroup* CreateSocket(DWORD, WORD, BOOL, ISocketReceiver*) override { return nullptr; }
    int SendTo(const BYTE*, int nLen, DWORD, WORD, SocketGroup*) override { return nLen; }
};

class NullTransport : public IRecordTimeTransport {
public:
    int SendReliable(DWORD, DWORD, const BYTE*, std::size_t nLen) override { return static_cast<int>(nLen); }
    int SendReplyAck(DWORD, DWORD) override { return 4; }
    int SendOnce(DWORD, const BYTE*, std::size_t nLen) override { return static_cast<int>(nLen); }
};

constexpr UINT LAN_BASE = WM_APP + 0x100;
constexpr UINT MS_BASE = WM_APP + 0x200;
volatile unsigned g_uSink;

void Touch(const void* p, std::size_t n)
{
    const auto* pb = static_cast<const BYTE*>(p);
    unsigned u = 0;
    for (std::size_t i = 0; i < n; ++i)
        u += pb[i];
    g_uSink = u;
}

// Reads every byte of what an event hands out, as a subscriber could.
LRESULT EventProc(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const void* p = reinterpret_cast<const void*>(lParam);
    if (uMsg >= MS_BASE) {
        switch (uMsg - MS_BASE) {
        case MS_EVENT_REC_DATE: {
            const auto* pInfo = static_cast<const RecDateInfo*>(p);
            Touch(pInfo->pDays, pInfo->dwCount * sizeof(DWORD));
            break;
        }
        case MS_EVENT_REC_HOUR:
            Touch(p, sizeof(RecHourInfo));
            break;
        case MS_EVENT_REC_MINUTE:
            Touch(p, sizeof(RecMinuteInfo));
            break;
        case MS_EVENT_REC_TIME: {
            const auto* pInfo = static_cast<const RecTimeInfo*>(p);
            Touch(pInfo->pRanges, pInfo->dwCount * sizeof(RecTimeRange));
            break;
        }
        default:
            break;
        }
        return 0;
    }
    switch (uMsg - LAN_BASE) {
    case LAN_EVENT_NETPARAM:
        Touch(p, sizeof(NetParamRecord));
        break;
    case LAN_EVENT_DSERVER:
        Touch(p, sizeof(DServerRecord));
        break;
    case LAN_EVENT_WIFI: {
        const auto* pRecord = static_cast<const WifiRecord*>(p);
        Touch(pRecord, sizeof(WifiRecord) + pRecord->SurveyListLen());
        for (std::size_t i = 0; i < pRecord->SurveyCount(); ++i)
            Touch(pRecord->SurveyEntry(i), sizeof(WifiSurveyEntry));
        break;
    }
    case LAN_EVENT_3G:
        Touch(p, sizeof(ThreeGRecord));
        break;
    case LAN_EVENT_3G_STATUS:
        Touch(p, sizeof(ThreeGStatus));
        break;
    case LAN_EVENT_WORD_RESULT:
        Touch(p, sizeof(LanWordResult));
        break;
    case LAN_EVENT_BYTE_RESULT:
        Touch(p, sizeof(LanByteResult));
        break;
    case LAN_EVENT_FIRM_WRITEREQ:
    case LAN_EVENT_FIRM_WRITEFILE:
    case LAN_EVENT_FIRM_SENDFILE:
    case LAN_EVENT_WIFI_SET:
    case LAN_EVENT_3G_SET:
        Touch(p, wParam);
        break;
    default:
        break;
    }
    return 0;
}

struct Harness {
    NullPort port;
    CLanRecordStore store;
    CEngOffCmd lan{&port, &store};
    NullTransport transport;
    CMSCmd ms{&transport};
    HWND hWnd = nullptr;

    Harness()
    {
        RegisterWindowClass("FuzzEngOffCmd", &EventProc);
        hWnd = CreateMsgWindow("FuzzEngOffCmd", "events");
        for (BYTE byEvent : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 32})
            lan.RegisterResponse(byEvent, hWnd, LAN_BASE + byEvent, 0);
        for (BYTE byEvent = 0; byEvent <= 4; ++byEvent)
            ms.RegisterResponse(byEvent, hWnd, MS_BASE + byEvent, 0);
        // A reliable request to camera 1, so that its reliable replies are dispatched.
        ms.Cmd_StopRecord(1);
    }
    ~Harness() { DestroyWindow(hWnd); }
};

Harness* g_pHarness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    static QCoreApplication app(*pArgc, *pArgv);
    g_nDebugLevel = 0;
    SetTraceSink(TraceSink());
    g_pHarness = new Harness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t nSize)
{
    if (nSize == 0)
        return 0;
    // The record lists grow by one record per new serial: start afresh now and then.
    static unsigned s_uRuns = 0;
    if (++s_uRuns % 4096 == 0) {
        delete g_pHarness;
        g_pHarness = new Harness();
    }
    // Exact-size copy so that the sanitizer sees any read one past the end.
    std::vector<BYTE> datagram(pbData + 1, pbData + nSize);
    const auto nLen = static_cast<DWORD>(datagram.size());
    switch (pbData[0] % 4) {
    case 0:
        g_pHarness->lan.DispatchCmd(datagram.data(), static_cast<int>(nLen), 0x7F000001, 8001);
        break;
    case 1:
        g_pHarness->ms.DispatchCmd(datagram.data(), nLen, 1);
        break;
    case 2:
        g_pHarness->ms.OnViewerData(1, datagram.data(), nLen);
        break;
    default:
        g_pHarness->ms.OnViewerAck(1, datagram.data(), nLen);
        break;
    }
    return 0;
}
