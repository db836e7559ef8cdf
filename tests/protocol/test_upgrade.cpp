// Firmware upgrade sequence driven by scripted replies, a fake clock and hand-fired timers.
#include "protocol/upgrade.h"

#include "core/stringids.h"
#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "protocol/engoffcmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<BYTE>;

struct Request {
    int nCode; // 54, 55, 56
    std::string strSerial;
    DWORD dwValue; // size for 54, chunk number for 55
    Bytes data;    // chunk data for 55
};

class FakeSender : public IFirmwareSender {
public:
    int Cmd_FirmReq(const char* pszSerial, DWORD uLen) override
    {
        m_vec.push_back({54, pszSerial, uLen, {}});
        return 40;
    }
    int Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen) override
    {
        EXPECT_GE(nBodyLen, 24);
        EXPECT_LE(nBodyLen, 24 + 1024);
        const std::string strSerial(reinterpret_cast<const char*>(pBody),
                                    strnlen(reinterpret_cast<const char*>(pBody), 20));
        const DWORD dwChunk =
            (DWORD{pBody[20]} << 24) | (DWORD{pBody[21]} << 16) | (DWORD{pBody[22]} << 8) | pBody[23];
        m_vec.push_back({55, strSerial, dwChunk, Bytes(pBody + 24, pBody + nBodyLen)});
        return nBodyLen + 16;
    }
    int Cmd_FirmWrite(const char* pszSerial) override
    {
        m_vec.push_back({56, pszSerial, 0, {}});
        return 36;
    }
    int Cmd_GetVersion(UINT_PTR uID) override
    {
        m_vecVersionAsks.push_back(uID);
        return 32;
    }
    std::vector<Request> ForSerial(const std::string& strSerial) const
    {
        std::vector<Request> out;
        for (const Request& r : m_vec) {
            if (r.strSerial == strSerial)
                out.push_back(r);
        }
        return out;
    }
    std::vector<Request> m_vec;
    std::vector<UINT_PTR> m_vecVersionAsks;
};

class FakeTimers : public IUpgradeTimers {
public:
    void SetUpgradeTimer(UINT_PTR uID, UINT uElapse) override { m_map[uID] = uElapse; }
    void KillUpgradeTimer(UINT_PTR uID) override { m_map.erase(uID); }
    UINT Period(UINT_PTR uID) const
    {
        auto it = m_map.find(uID);
        return it == m_map.end() ? 0 : it->second;
    }
    std::map<UINT_PTR, UINT> m_map;
};

struct Text {
    std::string strSerial;
    DWORD dwStringID;
    int nPercent;
    bool operator==(const Text&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Text& t)
{
    return os << "{" << t.strSerial << ", " << t.dwStringID << ", " << t.nPercent << "}";
}

class FakeListener : public IUpgradeListener {
public:
    void OnUpgradeText(const UpgradeEntry& entry, DWORD dwStringID, int nPercent) override
    {
        m_vecTexts.push_back({entry.szSerial, dwStringID, nPercent});
    }
    void OnUpgradeTransferStarted(const UpgradeEntry& entry) override
    {
        m_vecStarted.emplace_back(entry.szSerial);
    }
    void OnUpgradeRebooting(const UpgradeEntry& entry) override
    {
        m_vecRebooting.emplace_back(entry.szSerial);
    }
    std::vector<Text> ForSerial(const std::string& strSerial) const
    {
        std::vector<Text> out;
        for (const Text& t : m_vecTexts) {
            if (t.strSerial == strSerial)
                out.push_back(t);
        }
        return out;
    }
    std::vector<Text> m_vecTexts;
    std::vector<std::string> m_vecStarted;
    std::vector<std::string> m_vecRebooting;
};

Bytes Serial20(const std::string& str)
{
    Bytes vec(20, 0);
    std::memcpy(vec.data(), str.data(), std::min<std::size_t>(str.size(), 20));
    return vec;
}

class UpgradeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-upgrade-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_dir = szTemplate;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    // Writes the image and returns its bytes.
    Bytes WriteImage(std::size_t nSize)
    {
        Bytes image(nSize);
        for (std::size_t i = 0; i < nSize; ++i)
            image[i] = static_cast<BYTE>((i * 7 + i / 1024) & 0xFF);
        std::ofstream out(m_dir + "/8126.Img", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        return image;
    }

    void WriteReqRes(const std::string& strSerial, BYTE byResult)
    {
        Bytes body = Serial20(strSerial);
        body.push_back(byResult);
        m_upgrade.OnWriteFirmwareReqRes(body.data(), body.size());
    }
    void SendFileRes(const std::string& strSerial, DWORD dwChunk)
    {
        Bytes body = Serial20(strSerial);
        for (int s = 24; s >= 0; s -= 8)
            body.push_back(static_cast<BYTE>(dwChunk >> s));
        m_upgrade.OnSendFirmwareRes(body.data(), body.size());
    }
    void WriteFileRes(const std::string& strSerial, BYTE byStage, BYTE byStatus, BYTE byPercent,
                      BYTE byResult)
    {
        Bytes body = Serial20(strSerial);
        body.insert(body.end(), {byStage, byStatus, byPercent, byResult});
        m_upgrade.OnWriteFirmwareRes(body.data(), body.size());
    }
    // Acknowledges every chunk that is sent until the write request goes out.
    void AckAllChunks(const std::string& strSerial)
    {
        for (int nGuard = 0; nGuard < 10000; ++nGuard) {
            const Request& last = m_sender.m_vec.back();
            if (last.nCode != 55)
                return;
            SendFileRes(strSerial, last.dwValue);
        }
        FAIL() << "no end of the image";
    }
    const UpgradeEntry& Entry(const char* pszSerial)
    {
        const UpgradeEntry* pEntry = m_upgrade.FindEntry(pszSerial);
        EXPECT_NE(pEntry, nullptr);
        return *pEntry;
    }

    std::string m_dir;
    CFakeTickClock m_clock{1000};
    FakeSender m_sender;
    FakeTimers m_timers;
    FakeListener m_listener;
    CFirmwareUpgrade m_upgrade{&m_sender, &m_timers, &m_listener};
};

TEST(UpgradePercent, NeverDividesByZeroNorLeavesZeroToHundred)
{
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(1, 4), 25);
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(3, 4), 75);
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(4, 4), 100);
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(5, 4), 100);  // past the last chunk
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(1, 0), 100);  // 1024..2047 bytes
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(1, -1), 100); // under 1024 bytes
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(0, -1), 0);
    EXPECT_EQ(CFirmwareUpgrade::ChunkPercent(0xFFFFFFFF, 3), 100);
}

TEST_F(UpgradeTest, ImageOfKChunksAndARemainderGoesOutAsKPlusOneChunks)
{
    const Bytes image = WriteImage(1024 * 3 + 100);
    ASSERT_TRUE(m_upgrade.AddCamera("CAM-1", 501));
    ASSERT_TRUE(m_upgrade.Start(m_dir));
    ASSERT_EQ(m_sender.m_vec.size(), 1u);
    EXPECT_EQ(m_sender.m_vec[0].nCode, 54);
    EXPECT_EQ(m_sender.m_vec[0].dwValue, 3172u);
    EXPECT_EQ(m_timers.Period(501), 6000u);
    EXPECT_EQ(Entry("CAM-1").nState, UPGRADE_REQUESTED);
    EXPECT_EQ(Entry("CAM-1").nLastChunk, 2);

    WriteReqRes("CAM-1", 0);
    EXPECT_EQ(Entry("CAM-1").nState, UPGRADE_SENDING);
    EXPECT_EQ(m_timers.Period(501), 2000u);
    EXPECT_EQ(m_listener.m_vecStarted, std::vector<std::string>{"CAM-1"});
    AckAllChunks("CAM-1");

    // Chunks 0..3, each with its slice of the image.
    const std::vector<Request> vec = m_sender.ForSerial("CAM-1");
    ASSERT_EQ(vec.size(), 6u);
    for (DWORD n = 0; n < 4; ++n) {
        EXPECT_EQ(vec[1 + n].nCode, 55);
        EXPECT_EQ(vec[1 + n].dwValue, n);
        const std::size_t nOff = n * 1024;
        const std::size_t nLen = std::min<std::size_t>(1024, image.size() - nOff);
        EXPECT_EQ(vec[1 + n].data, Bytes(image.begin() + nOff, image.begin() + nOff + nLen));
    }
    EXPECT_EQ(vec[5].nCode, 56);
    EXPECT_EQ(Entry("CAM-1").nState, UPGRADE_WRITE_REQUESTED);
    EXPECT_EQ(m_timers.Period(501), 20000u);

    WriteFileRes("CAM-1", 2, 0, 30, 0);
    EXPECT_EQ(Entry("CAM-1").nState, UPGRADE_WRITING);
    EXPECT_EQ(m_timers.Period(501), 4000u);
    WriteFileRes("CAM-1", 2, 0, 20, 0); // going back is not shown
    WriteFileRes("CAM-1", 3, 1, 100, 0);
    EXPECT_EQ(Entry("CAM-1").nState, UPGRADE_IDLE);
    EXPECT_TRUE(Entry("CAM-1").bFinished);
    EXPECT_EQ(m_timers.Period(501), 0u);
    EXPECT_EQ(m_listener.m_vecRebooting, std::vector<std::string>{"CAM-1"});

    // Percent in steps of 5 against the last chunk (2), never above 100.
    const std::vector<Text> expected = {
        {"CAM-1", IDS_UPDATE_DOWNLOADING, -1},  {"CAM-1", IDS_UPDATE_DOWNLOADING, 50},
        {"CAM-1", IDS_UPDATE_DOWNLOADING, 100}, {"CAM-1", IDS_UPDATE_WRITING, -1},
        {"CAM-1", IDS_UPDATE_WRITING, 30},      {"CAM-1", IDS_UPDATE_WAITREBOOT, -1},
    };
    EXPECT_EQ(m_listener.m_vecTexts, expected);

    // A finished camera is not started again.
    m_sender.m_vec.clear();
    EXPECT_TRUE(m_upgrade.Start(m_dir));
    EXPECT_TRUE(m_sender.m_vec.empty());
}

TEST_F(UpgradeTest, PercentOnlyInStepsOfFive)
{
    WriteImage(1024 * 7); // last chunk 6: 16, 33, 50, 66, 83, 100
    m_upgrade.AddCamera("CAM-P", 9);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-P", 0);
    AckAllChunks("CAM-P");
    std::vector<int> vecPercents;
    for (const Text& t : m_listener.m_vecTexts) {
        if (t.dwStringID == IDS_UPDATE_DOWNLOADING && t.nPercent >= 0)
            vecPercents.push_back(t.nPercent);
    }
    EXPECT_EQ(vecPercents, (std::vector<int>{50, 100}));
}

TEST_F(UpgradeTest, WrongAcknowledgementIsResentByTheTimer)
{
    WriteImage(4096);
    m_upgrade.AddCamera("CAM-2", 7);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-2", 0);
    SendFileRes("CAM-2", 0);
    ASSERT_EQ(m_sender.m_vec.back().dwValue, 1u);
    const std::size_t nSent = m_sender.m_vec.size();

    SendFileRes("CAM-2", 5); // wrong chunk: nothing changes
    EXPECT_EQ(m_sender.m_vec.size(), nSent);
    EXPECT_EQ(Entry("CAM-2").dwChunk, 1u);
    EXPECT_EQ(m_timers.Period(7), 2000u);

    m_clock.Advance(2000);
    m_upgrade.OnTimer(7);
    ASSERT_EQ(m_sender.m_vec.size(), nSent + 1);
    EXPECT_EQ(m_sender.m_vec.back().nCode, 55);
    EXPECT_EQ(m_sender.m_vec.back().dwValue, 1u);
    EXPECT_EQ(m_sender.m_vec.back().data, m_sender.m_vec[nSent - 1].data);
    EXPECT_EQ(m_timers.Period(7), 2000u);
}

TEST_F(UpgradeTest, SilentCameraIsGivenUpAfterThreeMinutes)
{
    WriteImage(8192);
    m_upgrade.AddCamera("CAM-3", 3);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-3", 0);
    SendFileRes("CAM-3", 0);
    SendFileRes("CAM-3", 1); // last sign of progress
    const std::size_t nSent = m_sender.m_vec.size();

    int nResends = 0;
    while (m_timers.Period(3) != 0) {
        m_clock.Advance(2000);
        m_upgrade.OnTimer(3);
        if (m_sender.m_vec.size() > nSent + nResends) {
            EXPECT_EQ(m_sender.m_vec.back().dwValue, 2u);
            ++nResends;
        }
        ASSERT_LT(nResends, 200);
    }
    EXPECT_EQ(nResends, 90); // every 2 s until more than 180 s have passed
    EXPECT_EQ(Entry("CAM-3").nState, UPGRADE_IDLE);
    EXPECT_EQ(m_listener.m_vecTexts.back(), (Text{"CAM-3", IDS_UPDATE_NORESPOND, -1}));
}

TEST_F(UpgradeTest, TimersOfTheOtherStates)
{
    WriteImage(1500); // two chunks, last chunk 0: the percentage jumps to 100
    m_upgrade.AddCamera("CAM-4", 4);
    m_upgrade.Start(m_dir);
    m_clock.Advance(6000);
    m_upgrade.OnTimer(4); // state 1: request again
    EXPECT_EQ(m_sender.m_vec.back().nCode, 54);
    EXPECT_EQ(m_timers.Period(4), 6000u);

    WriteReqRes("CAM-4", 0);
    SendFileRes("CAM-4", 0);
    EXPECT_EQ(m_listener.ForSerial("CAM-4")[1], (Text{"CAM-4", IDS_UPDATE_DOWNLOADING, 100}));
    SendFileRes("CAM-4", 1);
    ASSERT_EQ(m_sender.m_vec.back().nCode, 56);
    m_clock.Advance(20000);
    m_upgrade.OnTimer(4); // state 3: write request again
    EXPECT_EQ(m_sender.m_vec.back().nCode, 56);
    EXPECT_EQ(m_timers.Period(4), 20000u);

    WriteFileRes("CAM-4", 1, 0, 10, 0);
    const std::size_t nSent = m_sender.m_vec.size();
    m_clock.Advance(4000);
    m_upgrade.OnTimer(4); // state 4: nothing to send, keep waiting
    EXPECT_EQ(m_sender.m_vec.size(), nSent);
    EXPECT_EQ(m_timers.Period(4), 4000u);
    m_clock.Advance(180001);
    m_upgrade.OnTimer(4);
    EXPECT_EQ(m_timers.Period(4), 0u);
    EXPECT_EQ(m_listener.m_vecTexts.back().dwStringID, IDS_UPDATE_NORESPOND);
}

// The camera reports the end of its burn once, then restarts: with that report lost, the run
// ends as finished only when the camera answers again with the image's version, which it did
// not run before.
TEST_F(UpgradeTest, CameraBackWithTheImageVersionAfterItsLastReportWasLost)
{
    struct Case {
        const char* pszImage; // version in the image's header, nullptr for an image without one
        const char* pszBefore;
        const char* pszAfter;
        bool bFinished;
    };
    const Case cases[] = {
        {"2.2.0", "2.1.0", "2.2.0", true},
        {"2.2.0", "2.2.0", "2.2.0", false}, // the same version again: no sign of the restart
        {"2.2.0", "2.1.0", "2.1.0", false}, // back with its old image: the burn failed
        {"2.2.0", "2.1.0", "2.3.0", false},
        {nullptr, "2.1.0", "2.2.0", false}, // an image of unknown version: never asked
    };
    UINT_PTR uID = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszImage ? c.pszImage : "none") + " " + c.pszBefore + " -> " + c.pszAfter);
        Bytes image = WriteImage(3000);
        if (c.pszImage != nullptr) {
            std::memset(image.data(), 0, 48);
            std::memcpy(image.data(), "VSTRLIMG", 8);
            std::memcpy(image.data() + 16, c.pszImage, std::strlen(c.pszImage));
            std::ofstream(m_dir + "/8126.Img", std::ios::binary)
                .write(reinterpret_cast<const char*>(image.data()),
                       static_cast<std::streamsize>(image.size()));
        }
        ++uID;
        const std::string strSerial = "CAM-V" + std::to_string(uID);
        m_listener.m_vecTexts.clear();
        m_listener.m_vecRebooting.clear();
        m_sender.m_vecVersionAsks.clear();
        ASSERT_TRUE(m_upgrade.AddCamera(strSerial.c_str(), uID));
        ASSERT_TRUE(m_upgrade.Start(m_dir));
        m_upgrade.OnVersionRes(uID, c.pszBefore, std::strlen(c.pszBefore));
        WriteReqRes(strSerial, 0);
        // Before the burn even the image's version is no sign.
        m_upgrade.OnVersionRes(uID, c.pszAfter, 16);
        EXPECT_EQ(Entry(strSerial.c_str()).nState, UPGRADE_SENDING);
        AckAllChunks(strSerial);
        WriteFileRes(strSerial, 3, 0, 100, 0);
        m_clock.Advance(4000);
        m_upgrade.OnTimer(uID);
        m_upgrade.OnVersionRes(uID, c.pszAfter, 16);

        // Asked at the start and by the burn's timer (cameras of earlier cases, which did not
        // finish, are started again alongside).
        EXPECT_EQ(std::count(m_sender.m_vecVersionAsks.begin(), m_sender.m_vecVersionAsks.end(), uID),
                  c.pszImage ? 2 : 0);
        EXPECT_EQ(Entry(strSerial.c_str()).bFinished, c.bFinished);
        if (c.bFinished) {
            EXPECT_FALSE(m_upgrade.IsRunning());
            EXPECT_EQ(m_timers.Period(uID), 0u);
            EXPECT_EQ(m_listener.m_vecTexts.back(), (Text{strSerial, IDS_UPDATE_FINISH, -1}));
            EXPECT_EQ(m_listener.m_vecRebooting, std::vector<std::string>{strSerial});
        } else {
            // Still waiting for the report, up to the give-up time.
            EXPECT_EQ(Entry(strSerial.c_str()).nState, UPGRADE_WRITING);
            m_clock.Advance(180001);
            m_upgrade.OnTimer(uID);
            EXPECT_EQ(m_listener.m_vecTexts.back().dwStringID, IDS_UPDATE_NORESPOND);
        }
    }
}

TEST_F(UpgradeTest, RequestRefusalsAndUnreadableImages)
{
    WriteImage(0);
    for (const char* psz : {"CAM-A", "CAM-B", "CAM-C"})
        m_upgrade.AddCamera(psz, psz[4]);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-A", 1);
    WriteReqRes("CAM-B", 2);
    WriteReqRes("CAM-C", 0); // accepted, but an empty image has no chunk 0
    EXPECT_EQ(m_listener.m_vecTexts, (std::vector<Text>{{"CAM-A", IDS_UPDATE_FILETOOBIG, -1},
                                                        {"CAM-B", IDS_UPDATE_ERRALLOC, -1},
                                                        {"CAM-C", IDS_UPDATE_ERRREADFILE, -1}}));
    EXPECT_FALSE(m_upgrade.IsRunning());
    EXPECT_TRUE(m_timers.m_map.empty());

    // No image in the folder: every listed camera is told, running ones too.
    m_upgrade.AddCamera("CAM-D", 14);
    m_upgrade.Start(m_dir);
    ASSERT_TRUE(m_upgrade.IsRunning());
    m_listener.m_vecTexts.clear();
    fs::remove(m_dir + "/8126.Img");
    EXPECT_FALSE(m_upgrade.Start(m_dir));
    EXPECT_EQ(m_listener.m_vecTexts.size(), 4u);
    for (const Text& t : m_listener.m_vecTexts)
        EXPECT_EQ(t.dwStringID, IDS_UPDATE_ERROPENFILE);
}

TEST_F(UpgradeTest, CameraRefusingTheFirstChunkIsLeftAlone)
{
    WriteImage(4096);
    m_upgrade.AddCamera("CAM-R", 12);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-R", 0);
    const std::size_t nSent = m_sender.m_vec.size();
    SendFileRes("CAM-R", 160);
    EXPECT_EQ(m_listener.m_vecTexts.back(), (Text{"CAM-R", IDS_UPDATE_NORESPOND, -1}));
    EXPECT_EQ(m_timers.Period(12), 0u);
    SendFileRes("CAM-R", 0);
    m_upgrade.OnTimer(12);
    EXPECT_EQ(m_sender.m_vec.size(), nSent);

    // Past chunk 0, 160 is just a wrong number.
    m_upgrade.AddCamera("CAM-S", 13);
    m_upgrade.Start(m_dir);
    WriteReqRes("CAM-S", 0);
    SendFileRes("CAM-S", 0);
    SendFileRes("CAM-S", 160);
    EXPECT_EQ(Entry("CAM-S").nState, UPGRADE_SENDING);
}

TEST_F(UpgradeTest, WriteResultTextsForCameraAndDecoder)
{
    struct Case {
        BYTE byStage, byResult;
        DWORD dwCamera, dwDecoder; // 0: nothing shown
    };
    const Case aCases[] = {
        {2, 0, IDS_UPDATE_WAITREBOOT, IDS_UPDATE_WAITREBOOT1},
        {0, 4, IDS_UPDATE_TRANSERR, IDS_UPDATE_TRANSERR1},
        {0, 1, IDS_UPDATE_WRITEERRINIT, IDS_UPDATE_WRITEERRINIT1},
        {1, 2, IDS_UPDATE_WRITEERRCHECK, IDS_UPDATE_WRITEERRCHECK1},
        {2, 3, IDS_UPDATE_WRITEERRERASE, IDS_UPDATE_WRITEERRERASE1},
        {3, 5, IDS_UPDATE_WRITEERR, IDS_UPDATE_WRITEERR1},
        {4, 1, 0, 0},
    };
    WriteImage(100);
    for (bool bDecoder : {false, true}) {
        for (const Case& c : aCases) {
            FakeSender sender;
            FakeTimers timers;
            FakeListener listener;
            CFirmwareUpgrade upgrade(&sender, &timers, &listener);
            upgrade.SetDecoderBox(bDecoder);
            upgrade.AddCamera("CAM-W", 1);
            upgrade.Start(m_dir);
            Bytes body = Serial20("CAM-W");
            body.push_back(0);
            upgrade.OnWriteFirmwareReqRes(body.data(), body.size());
            body = Serial20("CAM-W");
            body.insert(body.end(), {0, 0, 0, 0});
            upgrade.OnSendFirmwareRes(body.data(), body.size());
            ASSERT_EQ(sender.m_vec.back().nCode, 56);
            listener.m_vecTexts.clear();
            body = Serial20("CAM-W");
            body.insert(body.end(), {c.byStage, 1, 100, c.byResult});
            upgrade.OnWriteFirmwareRes(body.data(), body.size());
            SCOPED_TRACE(testing::Message()
                         << bDecoder << " stage " << int(c.byStage) << " result " << int(c.byResult));
            const DWORD dwExpected = bDecoder ? c.dwDecoder : c.dwCamera;
            if (dwExpected == 0)
                EXPECT_TRUE(listener.m_vecTexts.empty());
            else
                EXPECT_EQ(listener.m_vecTexts, (std::vector<Text>{{"CAM-W", dwExpected, -1}}));
            EXPECT_TRUE(upgrade.FindEntry("CAM-W")->bFinished);
            EXPECT_FALSE(upgrade.IsRunning());
        }
    }
}

TEST_F(UpgradeTest, RepliesOutOfStateAreIgnored)
{
    WriteImage(3000);
    m_upgrade.AddCamera("CAM-O", 2);
    SendFileRes("CAM-O", 0); // idle
    m_upgrade.Start(m_dir);
    SendFileRes("CAM-O", 0);           // still requested
    WriteFileRes("CAM-O", 0, 1, 0, 0); // not writing
    WriteReqRes("UNKNOWN", 0);         // not ours
    EXPECT_EQ(m_sender.m_vec.size(), 1u);
    EXPECT_TRUE(m_listener.m_vecTexts.empty());
    // Short bodies are not read.
    const Bytes shortBody = Serial20("CAM-O");
    m_upgrade.OnWriteFirmwareReqRes(shortBody.data(), shortBody.size());
    EXPECT_EQ(Entry("CAM-O").nState, UPGRADE_REQUESTED);
}

TEST_F(UpgradeTest, ThreeCamerasInParallelOneFailing)
{
    const Bytes image = WriteImage(1024 * 2 + 1);
    m_upgrade.AddCamera("CAM-X", 100);
    m_upgrade.AddCamera("CAM-Y", 101);
    m_upgrade.AddCamera("CAM-Z", 102);
    EXPECT_FALSE(m_upgrade.AddCamera("CAM-X", 103)); // listed already
    m_upgrade.Start(m_dir);
    EXPECT_EQ(m_timers.m_map.size(), 3u);
    WriteReqRes("CAM-Z", 0);
    WriteReqRes("CAM-X", 0);
    WriteReqRes("CAM-Y", 0);
    // Interleaved acknowledgements; Y stops answering after its first chunk.
    SendFileRes("CAM-X", 0);
    SendFileRes("CAM-Z", 0);
    SendFileRes("CAM-Y", 0);
    SendFileRes("CAM-Z", 1);
    SendFileRes("CAM-X", 1);
    SendFileRes("CAM-X", 2);
    SendFileRes("CAM-Z", 2);
    EXPECT_EQ(Entry("CAM-X").nState, UPGRADE_WRITE_REQUESTED);
    EXPECT_EQ(Entry("CAM-Z").nState, UPGRADE_WRITE_REQUESTED);
    EXPECT_EQ(Entry("CAM-Y").nState, UPGRADE_SENDING);

    for (int i = 0; i < 100 && m_timers.Period(101) != 0; ++i) {
        m_clock.Advance(2000);
        m_upgrade.OnTimer(101);
    }
    EXPECT_EQ(m_listener.ForSerial("CAM-Y").back().dwStringID, IDS_UPDATE_NORESPOND);
    WriteFileRes("CAM-X", 3, 1, 100, 0);
    WriteFileRes("CAM-Z", 3, 1, 100, 0);
    EXPECT_EQ(m_listener.ForSerial("CAM-X").back().dwStringID, IDS_UPDATE_WAITREBOOT);
    EXPECT_EQ(m_listener.ForSerial("CAM-Z").back().dwStringID, IDS_UPDATE_WAITREBOOT);
    EXPECT_FALSE(m_upgrade.IsRunning());
    for (const char* psz : {"CAM-X", "CAM-Z"}) {
        const std::vector<Request> vec = m_sender.ForSerial(psz);
        ASSERT_EQ(vec.size(), 5u);
        EXPECT_EQ(vec[3].dwValue, 2u);
        EXPECT_EQ(vec[3].data, Bytes{image.back()});
    }
}

TEST_F(UpgradeTest, WindowCarriesEngineEventsToTheUpgrade)
{
    class NullPort : public ILanSocketPort {
    public:
        SocketGroup* CreateSocket(DWORD, WORD, BOOL, ISocketReceiver*) override { return &m_group; }
        int SendTo(const BYTE* pData, int nLen, DWORD, WORD, SocketGroup*) override
        {
            m_vecCodes.push_back(pData[1]);
            return nLen;
        }
        SocketGroup m_group;
        std::vector<BYTE> m_vecCodes;
    } port;
    CLanRecordStore store;
    CEngOffCmd engine(&port, &store);
    engine.Init();
    CEngOffCmdFirmwareSender sender(&engine);
    FakeListener listener;
    CUpgradeWindow window(&engine);
    CFirmwareUpgrade upgrade(&sender, &window, &listener);
    window.SetUpgrade(&upgrade);

    WriteImage(2000);
    upgrade.AddCamera("CAM-WIN", 77);
    upgrade.Start(m_dir);
    Bytes packet = {0x80, 0xB6, 0, 0, 0, 37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes serial = Serial20("CAM-WIN");
    packet.insert(packet.end(), serial.begin(), serial.end());
    packet.push_back(0);
    engine.DispatchCmd(packet.data(), static_cast<int>(packet.size()), 0x7F000001, 8001);
    EXPECT_EQ(port.m_vecCodes, (std::vector<BYTE>{54, 55}));
    EXPECT_EQ(upgrade.FindEntry("CAM-WIN")->nState, UPGRADE_SENDING);
    EXPECT_EQ(listener.m_vecStarted, std::vector<std::string>{"CAM-WIN"});
}

} // namespace
