// Device records: what a search reply puts in them, the query block, the dump and the sort key.
#include "device/deviceinfo.h"

#include "core/log.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

SearchItem ZeroItem(DWORD dwID)
{
    SearchItem item;
    std::memset(&item, 0, sizeof(item));
    item.dwDVIPID = dwID;
    return item;
}

TEST(DeviceInfoCopy, KindFollowsChildCount)
{
    EXPECT_EQ(CameraTypeFromChildCount(0), CAMERA_TYPE_SINGLE);
    EXPECT_EQ(CameraTypeFromChildCount(3), CAMERA_TYPE_PARENT);
    EXPECT_EQ(CameraTypeFromChildCount(-1), CAMERA_TYPE_CHILD);

    DeviceInfo device;
    SearchItem item = ZeroItem(7);
    item.bHasWifi = 4; // any nonzero value counts
    item.bHas3G = 0;
    item.bEncryptVersion = 1;
    item.ulSequenceId[0] = 11;
    item.ulSequenceId[1] = 22;
    std::memset(item.pszEncryptedSourceId, 0x5A, sizeof(item.pszEncryptedSourceId));
    device.CopyItem(item);

    EXPECT_EQ(device.enCameraType, CAMERA_TYPE_SINGLE);
    EXPECT_EQ(device.GetID(), 7u);
    EXPECT_EQ(device.stQuery.bHasWifi, 1);
    EXPECT_EQ(device.stQuery.bHas3G, 0);
    EXPECT_EQ(device.stPassword.bEncryptVersion, 1);
    EXPECT_EQ(device.stPassword.ulSequenceId[0], 11u);
    EXPECT_EQ(device.stPassword.ulSequenceId[1], 22u);
    EXPECT_TRUE(device.stPassword.HasPassword());
    // A reply that drops the Wi-Fi flag drops the copy too.
    item.bHasWifi = 0;
    device.CopyItem(item);
    EXPECT_EQ(device.stQuery.bHasWifi, 0);
}

TEST(DeviceInfoCopy, ChannelTakesItsRecordersPasswordSource)
{
    SearchItem parent = ZeroItem(100);
    parent.nChildCount = 1;
    parent.ulSequenceId[0] = 0xAAAA;
    parent.ulSequenceId[1] = 0xBBBB;
    std::memset(parent.pszEncryptedSourceId, 0x11, sizeof(parent.pszEncryptedSourceId));

    SearchItem child = parent;
    child.dwDVIPID = 101;
    child.nChildCount = -1;
    child.pParent = &parent;
    child.ulSequenceId[0] = 1;
    child.ulSequenceId[1] = 2;
    std::memset(child.pszEncryptedSourceId, 0x99, sizeof(child.pszEncryptedSourceId));

    DeviceInfo device;
    device.CopyItem(child);
    EXPECT_EQ(device.enCameraType, CAMERA_TYPE_CHILD);
    EXPECT_EQ(device.stPassword.ulSequenceId[0], 0xAAAAu);
    EXPECT_EQ(device.stPassword.ulSequenceId[1], 0xBBBBu);
    EXPECT_EQ(device.stPassword.pszEncryptedSourceId[0], 0x11);
    EXPECT_EQ(device.stPassword.pszEncryptedSourceId[15], 0x11);
    // The item itself is kept as it came.
    EXPECT_EQ(device.stItem.ulSequenceId[0], 1u);
}

TEST(DeviceInfoQueryBlock, ClearedTogetherWithCapabilityCopiesRetaken)
{
    DeviceInfo device;
    SearchItem item = ZeroItem(5);
    item.bHasWifi = 1;
    item.bHas3G = 1;
    device.CopyItem(item);
    std::memset(&device.stQuery, 0xFF, sizeof(device.stQuery));
    device.bWifiRescanPending = 1;

    device.ClearQueryBlock();

    DeviceQueryBlock expected{};
    expected.bHasWifi = 1;
    expected.bHas3G = 1;
    EXPECT_EQ(std::memcmp(&device.stQuery, &expected, sizeof(expected)), 0);
    EXPECT_EQ(device.stQuery.nQueryPass, 0);
    // Not part of the block.
    EXPECT_EQ(device.bWifiRescanPending, 1);
}

TEST(DeviceInfoSortName, AnsiBytesCutAt31)
{
    DeviceInfo device;
    const std::u16string strName = u"Caf\u00e9";
    std::copy(strName.begin(), strName.end(), device.stItem.szName);
    EXPECT_EQ(DeviceSortName(device, CP_WESTERN), std::string("Caf\xE9"));

    const std::u16string strLong(VIEWER_NAME_CHARS, u'x');
    std::copy(strLong.begin(), strLong.end(), device.stItem.szName);
    EXPECT_EQ(DeviceSortName(device, CP_WESTERN), std::string(31, 'x'));
}

class DeviceInfoLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/vistrel-deviceinfo-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_strDir = szTemplate;
        setenv("VISTREL_HOME", m_strDir.c_str(), 1);
        GetLogFile().ResetForTest();
        m_nSavedLevel = g_nDebugLevel;
    }
    void TearDown() override
    {
        g_nDebugLevel = m_nSavedLevel;
        GetLogFile().ResetForTest();
        std::error_code ec;
        std::filesystem::remove_all(m_strDir, ec);
    }
    std::string ReadLog() const
    {
        std::string strAll;
        for (const auto& entry : std::filesystem::directory_iterator(m_strDir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            strAll.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return strAll;
    }
    std::string m_strDir;
    int m_nSavedLevel = 0;
};

TEST_F(DeviceInfoLogTest, DumpAtLevelFourMasksEverySecret)
{
    g_nDebugLevel = 4;
    DeviceInfo device;
    SearchItem item = ZeroItem(9);
    item.ulSequenceId[0] = 1234;
    std::memcpy(item.pszEncryptedSourceId, "CHECKVALUESECRET", 16);
    device.CopyItem(item);
    std::memcpy(device.stPassword.pszInputPassword, "typedpassword", 13);
    device.PrintInfo();
    device.stMicrophone.PrintInfo();

    const std::string strLog = ReadLog();
    EXPECT_NE(
        strLog.find("DeviceInfo::PrintInfo: ulSequenceId[0]:1234, ulSequenceId[1]:0, pszEncryptedSourceId:"),
        std::string::npos);
    EXPECT_NE(strLog.find("PasswordInfo::PrintInfo: bEncryptVersion:0, HasPassword():1"), std::string::npos);
    EXPECT_NE(strLog.find("PasswordInfo::PrintInfo: pszInputPassword:"), std::string::npos);
    EXPECT_EQ(strLog.find("CHECKVALUESECRET"), std::string::npos);
    EXPECT_EQ(strLog.find("typedpassword"), std::string::npos);
    // Level 5 only.
    EXPECT_EQ(strLog.find("MicrophoneInfo::PrintInfo"), std::string::npos);
}

} // namespace
