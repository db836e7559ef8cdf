// Test harness of the viewer engine: a socket layer that records instead of sending, a
// configuration with a chosen language and encryption switch, a message window that records
// every event, and an encoder of camera packets written from the wire tables (independent of
// the engine's own writer).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/configfile.h"
#include "core/log.h"
#include "platform/msgwindow.h"
#include "platform/trace.h"
#include "protocol/engcmd.h"
#include "protocol/packetcipher.h"

namespace viewertest {

using Bytes = std::vector<std::uint8_t>;

constexpr DWORD kLocalID = 0xC6120002;  // 198.18.0.2
constexpr DWORD kCameraID = 0x11223344; // its bytes travel as 44 33 22 11
constexpr DWORD kCameraIP = 0xC6120032; // 198.18.0.50
constexpr UINT kSocket = 0x8005;
constexpr DWORD kSocketAddress = 0xC6120002;

// --- Byte builders ---
inline void Put8(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void Put16(Bytes& b, std::uint32_t v)
{
    Put8(b, v >> 8);
    Put8(b, v);
}
inline void Put32(Bytes& b, std::uint32_t v)
{
    Put16(b, v >> 16);
    Put16(b, v);
}
inline void Put32LE(Bytes& b, std::uint32_t v)
{
    Put8(b, v);
    Put8(b, v >> 8);
    Put8(b, v >> 16);
    Put8(b, v >> 24);
}
inline void PutText(Bytes& b, const std::string& s, std::size_t nWidth)
{
    for (std::size_t i = 0; i < nWidth; ++i)
        Put8(b, i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
}
inline void PutBytes(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}
inline Bytes Hex(const std::string& s)
{
    Bytes b;
    std::string digits;
    for (char c : s) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return b;
}

inline std::string ToHex(const Bytes& b)
{
    static const char* kDigits = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t v : b) {
        s += kDigits[v >> 4];
        s += kDigits[v & 15];
        s += ' ';
    }
    return s;
}

// The 16-byte header as a camera sends it: its own id least significant byte first, ours
// big-endian; the total length counts the header.
inline Bytes CameraPacket(std::uint8_t byCode, const Bytes& body, DWORD dwSrc = kCameraID,
                          DWORD dwDest = 0xFFFFFFFF)
{
    Bytes b;
    Put8(b, 0x90);
    Put8(b, byCode);
    Put16(b, 0);
    Put16(b, static_cast<std::uint32_t>(16 + body.size()));
    Put16(b, 0);
    Put32LE(b, dwSrc);
    Put32(b, dwDest);
    PutBytes(b, body);
    return b;
}

// The header as the client sends it to kCameraID.
inline Bytes ClientHeader(std::uint8_t byCode, std::size_t nBody, DWORD dwDest = kCameraID)
{
    Bytes b;
    Put8(b, 0x90);
    Put8(b, byCode);
    Put16(b, 0);
    Put16(b, static_cast<std::uint32_t>(16 + nBody));
    Put16(b, 0);
    Put32(b, kLocalID);
    Put32LE(b, dwDest);
    return b;
}

// Search reply body, fields in wire order.
struct SearchReply {
    Bytes name = Bytes{'C', 'a', 'm', '1'};
    std::string serial = "SN0000000001";
    std::uint8_t capability = 0x02;
    std::uint8_t flags = 0x15;
    std::uint8_t info[5] = {1, 2, 3, 4, 5};
    std::uint8_t encryptVersion = 1;
    std::uint32_t value1 = 0x01020304;
    std::uint32_t value2 = 0x05060708;
    std::uint32_t value3 = 0xAAAABBBB;
    Bytes check = Bytes(16, 0x5C);
    std::uint32_t cameraType = 7;
    std::uint16_t port = 8080;
    std::uint8_t value19 = 19;
    std::uint8_t value20 = 20;
    bool withSequence = true;
    std::uint32_t sequence[2] = {0x12345678, 0x9ABCDEF0};
    int optionalBytes = 3; // 0..3: the byte, the feature byte, the 32-bit value
    std::uint8_t optional = 0x61;
    std::uint8_t feature = 0x0C;
    std::uint32_t optional32 = 0xCAFEBABE;
    struct Child {
        DWORD id;
        Bytes name;
        std::string serial;
        std::uint8_t value;
        std::uint8_t feature;
    };
    bool childCount = false; // write the count even without children
    std::vector<Child> children;

    // Offsets of the field ends, for cutting a reply at every field boundary.
    static constexpr std::size_t kFixedLen = 32 + 20 + 1 + 1 + 6 + 4 + 4 + 4 + 4 + 16 + 4 + 4 + 2 + 1 + 1;

    Bytes Body() const
    {
        Bytes b;
        Bytes n = name;
        n.resize(32, 0);
        PutBytes(b, n);
        PutText(b, serial, 20);
        Put8(b, capability);
        Put8(b, flags);
        for (std::uint8_t v : info)
            Put8(b, v);
        Put8(b, encryptVersion);
        Put32(b, value1);
        Put32(b, value2);
        Put32(b, value3);
        Put32(b, 0xDEADBEEF); // skipped
        PutBytes(b, check);
        Put32(b, 0xDEADBEEF); // skipped
        Put32(b, cameraType);
        Put16(b, port);
        Put8(b, value19);
        Put8(b, value20);
        if (withSequence) {
            Put32LE(b, sequence[0]);
            Put32LE(b, sequence[1]);
            if (optionalBytes >= 1)
                Put8(b, optional);
            if (optionalBytes >= 2)
                Put8(b, feature);
            if (optionalBytes >= 3)
                Put32(b, optional32);
        }
        if (childCount || !children.empty()) {
            Put32(b, static_cast<std::uint32_t>(children.size()));
            for (const Child& c : children) {
                Put32(b, c.id); // big-endian here, unlike the header
                Bytes cn = c.name;
                cn.resize(32, 0);
                PutBytes(b, cn);
                PutText(b, c.serial, 20);
                PutBytes(b, Bytes(16, 0xC1));
                Put8(b, c.value);
                Put8(b, c.feature);
            }
        }
        return b;
    }
};

// --- Fakes ---
struct SentPacket {
    Bytes data;
    DWORD dwIP;
    WORD usPort;
    SocketGroup* pGroup;
};

class CFakeSockets : public IViewerSocketLayer {
public:
    SocketGroup* CreateSocket(DWORD dwGroupIP, WORD usPort, ISocketReceiver* pReceiver) override
    {
        SocketGroup& group = m_groups[usPort];
        group.dwGroupIP = dwGroupIP;
        group.usPort = usPort;
        group.pReceiver = pReceiver;
        return &group;
    }
    SocketGroup* CreateSweepGroup(WORD usPort, const BYTE* pPacket, int nLen,
                                  ISocketReceiver* pReceiver) override
    {
        m_sweepPackets[usPort] = Bytes(pPacket, pPacket + nLen);
        return CreateSocket(0, usPort, pReceiver);
    }
    void StartSweep(SocketGroup* pGroup) override { m_sweeps.push_back(pGroup); }
    int SendTo(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup) override
    {
        if (m_bRecord)
            m_sent.push_back({Bytes(pData, pData + nLen), dwIP, usPort, pGroup});
        return pGroup != nullptr ? nLen : 0;
    }
    DWORD GetLocalAddress(UINT hSocket) override { return hSocket == kSocket ? kSocketAddress : 0; }
    DWORD GetFirstLocalAddress() override { return m_dwFirst; }

    SocketGroup* Group(WORD usPort) { return &m_groups[usPort]; }

    std::map<WORD, SocketGroup> m_groups;
    std::map<WORD, Bytes> m_sweepPackets;
    std::vector<SocketGroup*> m_sweeps;
    std::vector<SentPacket> m_sent;
    DWORD m_dwFirst = kLocalID;
    bool m_bRecord = true;
};

class CTestConfig : public CConfigFileManager {
public:
    CTestConfig() : CConfigFileManager("/nonexistent-vistrel-test/") {}
    bool IsEncrypt() override { return m_bEncrypt; }
    int GetLanguageID() override { return m_nLanguage; }
    bool m_bEncrypt = false;
    int m_nLanguage = 1033;
};

class CFakeLanRoutes : public ILanRouteLookup {
public:
    bool GetWifiStatus(const char* szSerial, DWORD& s1, DWORD& s2) override
    {
        auto it = m_wifi.find(szSerial);
        if (it == m_wifi.end())
            return false;
        s1 = it->second.first;
        s2 = it->second.second;
        return true;
    }
    bool GetNetParamAddress(const char* szSerial, DWORD& dwIP) override
    {
        auto it = m_net.find(szSerial);
        if (it == m_net.end())
            return false;
        dwIP = it->second;
        return true;
    }
    std::map<std::string, std::pair<DWORD, DWORD>> m_wifi;
    std::map<std::string, DWORD> m_net;
};

// Camera type table: type 1 is family 1, 2 family 2, 3 family 3; 9 is unknown.
inline std::string MakeCameraTypeFolder()
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vistrel-viewer-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "CameraType.ini") << "[TYPE_D]\r\n1=D1\r\n[TYPE_M]\r\n2=M2\r\n[TYPE_HD]\r\n3=HD3\r\n";
    return dir.string() + "/";
}

// --- Event recording ---
struct Event {
    BYTE byCode;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr UINT kEventMessageBase = 0x9000;

class ViewerTest : public ::testing::Test {
protected:
    ViewerTest()
    {
        m_strTypeFolder = MakeCameraTypeFolder();
        m_pTypes = std::make_unique<CConfigCameraType>(m_strTypeFolder);
        EngCmdDeps deps;
        deps.pSockets = &m_sockets;
        deps.pConfig = &m_config;
        deps.pCameraTypes = m_pTypes.get();
        deps.pLanRoutes = &m_lan;
        m_pEngine = std::make_unique<CEngCmd>(deps);
    }
    ~ViewerTest() override { std::filesystem::remove_all(m_strTypeFolder); }

    void SetUp() override
    {
        s_pCurrent = this;
        char szTemplate[] = "/tmp/vistrel-viewertest-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strLogDir = szTemplate;
        setenv("VISTREL_HOME", m_strLogDir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
        g_nDebugLevel = 1;
        m_prevSink = SetTraceSink([this](const char* pszMessage) { m_traces.emplace_back(pszMessage); });
        RegisterWindowClass("ViewerTestWindow", &ViewerTest::WndProc);
        m_hWnd = CreateMsgWindow("ViewerTestWindow", "ViewerTest");
        ASSERT_NE(m_hWnd, nullptr);
        for (int i = 0; i < 64; ++i)
            m_pEngine->RegisterResponse(static_cast<BYTE>(i), m_hWnd, kEventMessageBase + i, 0);
        m_pEngine->Init();
        m_sockets.m_sent.clear();
    }
    void TearDown() override
    {
        DestroyWindow(m_hWnd);
        s_pCurrent = nullptr;
        SetTraceSink(m_prevSink);
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        std::filesystem::remove_all(m_strLogDir, ec);
    }

    // Everything the log files of this test hold so far.
    std::string ReadLog()
    {
        std::string strAll;
        for (const auto& entry : std::filesystem::directory_iterator(m_strLogDir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            strAll.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return strAll;
    }

    static LRESULT WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (s_pCurrent != nullptr && uMsg >= kEventMessageBase && uMsg < kEventMessageBase + 64) {
            const Event event{static_cast<BYTE>(uMsg - kEventMessageBase), wParam, lParam};
            s_pCurrent->m_events.push_back(event);
            if (s_pCurrent->m_onEvent)
                s_pCurrent->m_onEvent(event);
        }
        return DefWindowProc(hWnd, uMsg, wParam, lParam);
    }

    // Hands a camera datagram to the dispatcher as the socket manager would.
    void Dispatch(Bytes datagram, DWORD bMulticast = 0, BYTE bEncrypted = 0, DWORD dwIP = kCameraIP)
    {
        m_pEngine->DispatchCmd(datagram.data(), static_cast<int>(datagram.size()), dwIP, 8102, bMulticast,
                               kSocket, bEncrypted);
    }
    void Reply(std::uint8_t byCode, const Bytes& body, DWORD dwSrc = kCameraID)
    {
        Dispatch(CameraPacket(byCode, body, dwSrc));
    }
    // A camera that answered the sweep in clear and takes unicast.
    void AddCamera(DWORD dwID = kCameraID, DWORD dwIP = kCameraIP, BYTE bEncrypted = 0, DWORD bMulticast = 0,
                   std::uint8_t capability = 0x02)
    {
        SearchReply reply;
        reply.capability = capability;
        Dispatch(CameraPacket(0x81, reply.Body(), dwID), bMulticast, 0, dwIP);
        // The cipher flag is the packet's, so a camera marked encrypted must have sent so.
        if (bEncrypted) {
            Bytes packet = CameraPacket(0x81, reply.Body(), dwID);
            EncryptForTest(packet);
            Dispatch(packet, bMulticast, 1, dwIP);
        }
        m_events.clear();
    }
    static void EncryptForTest(Bytes& packet) { EncryptPacket(packet.data(), packet.size()); }

    std::vector<const Event*> EventsOf(BYTE byCode) const
    {
        std::vector<const Event*> out;
        for (const Event& e : m_events) {
            if (e.byCode == byCode)
                out.push_back(&e);
        }
        return out;
    }

    CFakeSockets m_sockets;
    CTestConfig m_config;
    CFakeLanRoutes m_lan;
    std::string m_strTypeFolder;
    std::unique_ptr<CConfigCameraType> m_pTypes;
    std::unique_ptr<CEngCmd> m_pEngine;
    HWND m_hWnd = nullptr;
    std::vector<Event> m_events;
    std::function<void(const Event&)> m_onEvent;
    std::string m_strLogDir;
    int m_nSavedLevel = 0;
    TraceSink m_prevSink;
    std::vector<std::string> m_traces;
    static inline ViewerTest* s_pCurrent = nullptr;
};

} // namespace viewertest
