#include "device/videoquality.h"

#include "core/log.h"
#include "platform/trace.h"

#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct ListRow {
    int nIndex;
    std::u16string strText;
    DWORD ulSent;
    std::vector<DWORD> vecAccepted;
};

const std::vector<ListRow> kFpsRows = {
    {0, u"1", 1, {1}},           {1, u"2", 2, {2}},           {2, u"3", 3, {3}}, {3, u"4", 4, {4}},
    {4, u"5", 5, {5}},           {5, u"6", 6, {6}},           {6, u"7", 7, {7}}, {7, u"10/8", 10, {8, 10}},
    {8, u"15/12", 15, {12, 15}}, {9, u"30/25", 30, {25, 30}},
};

const std::vector<ListRow> kResRows = {
    {0, u"QCIF/QQVGA", 2, {1, 2}},
    {1, u"CIF/QVGA", 4, {3, 4}},
    {2, u"D1/VGA", 7, {5, 7}},
    {3, u"HD", 8, {8}},
};

TEST(VideoQualityLists, FrameRateEntriesAndAcceptedCodes)
{
    CVideoQuality vq;
    ASSERT_EQ(vq.GetFpsCount(), 10);
    for (const ListRow& row : kFpsRows) {
        SCOPED_TRACE(row.nIndex);
        EXPECT_EQ(vq.GetFpsText(row.nIndex), row.strText);
        EXPECT_EQ(vq.GetFpsValue(row.nIndex), row.ulSent);
        for (DWORD ulCode : row.vecAccepted)
            EXPECT_EQ(vq.GetFpsIndex(ulCode), row.nIndex) << "code " << ulCode;
    }
}

TEST(VideoQualityLists, ResolutionEntriesAndAcceptedCodes)
{
    CVideoQuality vq;
    EXPECT_EQ(vq.GetResCount(TRUE), 4);
    EXPECT_EQ(vq.GetResCount(FALSE), 3);
    for (const ListRow& row : kResRows) {
        SCOPED_TRACE(row.nIndex);
        EXPECT_EQ(vq.GetResText(row.nIndex), row.strText);
        EXPECT_EQ(vq.GetResValue(row.nIndex), row.ulSent);
        for (DWORD ulCode : row.vecAccepted)
            EXPECT_EQ(vq.GetResIndex(ulCode), row.nIndex) << "code " << ulCode;
    }
}

TEST(VideoQualityLists, UnknownCodesGiveMinusOne)
{
    CVideoQuality vq;
    for (DWORD ulCode : {0u, 9u, 11u, 13u, 24u, 31u, 60u, 0xFFFFFFFFu})
        EXPECT_EQ(vq.GetFpsIndex(ulCode), -1) << "fps code " << ulCode;
    for (DWORD ulCode : {0u, 6u, 9u, 0x102u, 0xFFFFFFFFu})
        EXPECT_EQ(vq.GetResIndex(ulCode), -1) << "res code " << ulCode;
}

// Expected rows of the four bit-rate tables: the first and last row in full, plus a row
// in between, each looked up through the codes the client sends.
struct BpsRow {
    bool bMin;
    BOOL bPal;
    int nRes;
    std::array<LONG, 10> anValues;
};

const std::vector<BpsRow> kBpsRows = {
    {false, TRUE, 0, {6, 10, 15, 20, 25, 30, 40, 40, 60, 100}},
    {false, TRUE, 2, {60, 100, 150, 200, 250, 300, 400, 400, 600, 1000}},
    {false, TRUE, 3, {270, 450, 675, 900, 1125, 1350, 1800, 1800, 2700, 4500}},
    {false, FALSE, 0, {6, 10, 12, 16, 20, 25, 30, 40, 60, 100}},
    {false, FALSE, 1, {20, 40, 60, 75, 85, 100, 120, 160, 200, 320}},
    {false, FALSE, 3, {270, 450, 675, 810, 900, 1125, 1350, 1800, 2700, 4500}},
    {true, TRUE, 0, {1, 1, 1, 2, 3, 4, 5, 5, 7, 15}},
    {true, TRUE, 1, {2, 5, 7, 10, 12, 15, 20, 20, 30, 60}},
    {true, TRUE, 3, {15, 30, 45, 60, 75, 90, 120, 120, 188, 375}},
    {true, FALSE, 0, {1, 1, 1, 1, 2, 3, 4, 5, 7, 15}},
    {true, FALSE, 2, {8, 16, 25, 32, 40, 50, 60, 80, 125, 250}},
    {true, FALSE, 3, {36, 72, 113, 144, 180, 225, 270, 360, 563, 1125}},
};

TEST(VideoQualityBitRate, TableRowsBySentCodes)
{
    CVideoQuality vq;
    for (const BpsRow& row : kBpsRows) {
        for (int nFps = 0; nFps < 10; ++nFps) {
            SCOPED_TRACE(testing::Message() << (row.bMin ? "min " : "default ") << (row.bPal ? "PAL" : "NTSC")
                                            << " res " << row.nRes << " fps " << nFps);
            const DWORD ulFps = vq.GetFpsValue(nFps);
            const DWORD ulRes = vq.GetResValue(row.nRes);
            const LONG nValue = row.bMin ? vq.GetBpsMinValue(row.bPal, ulFps, ulRes)
                                         : vq.GetBpsDefaultValue(row.bPal, ulFps, ulRes);
            EXPECT_EQ(nValue, row.anValues[nFps]);
        }
    }
}

TEST(VideoQualityBitRate, SpotValuesAndAlternateCodes)
{
    CVideoQuality vq;
    EXPECT_EQ(vq.GetBpsMinValue(TRUE, 30, 8), 375);
    EXPECT_EQ(vq.GetBpsMinValue(FALSE, 30, 8), 1125);
    EXPECT_EQ(vq.GetBpsDefaultValue(FALSE, 3, 4), 60);
    // The other code of a pair selects the same cell.
    EXPECT_EQ(vq.GetBpsMinValue(TRUE, 25, 8), 375);
    EXPECT_EQ(vq.GetBpsDefaultValue(TRUE, 12, 3), 200);
    EXPECT_EQ(vq.GetBpsDefaultValue(FALSE, 8, 5), 400);
    EXPECT_EQ(vq.GetBpsMinValue(FALSE, 5, 1), 2);
    // Any nonzero flag means PAL.
    EXPECT_EQ(vq.GetBpsDefaultValue(7, 4, 4), 80);
    EXPECT_EQ(vq.GetBpsMaxValue(), 10000);
}

TEST(VideoQualityBitRate, EveryDefaultLiesBetweenMinimumAndMaximum)
{
    CVideoQuality vq;
    for (BOOL bPal : {FALSE, TRUE}) {
        for (int nRes = 0; nRes < 4; ++nRes) {
            for (int nFps = 0; nFps < 10; ++nFps) {
                const DWORD ulFps = vq.GetFpsValue(nFps);
                const DWORD ulRes = vq.GetResValue(nRes);
                const LONG nMin = vq.GetBpsMinValue(bPal, ulFps, ulRes);
                const LONG nDefault = vq.GetBpsDefaultValue(bPal, ulFps, ulRes);
                EXPECT_GT(nMin, 0) << bPal << " " << nRes << " " << nFps;
                EXPECT_LE(nMin, nDefault) << bPal << " " << nRes << " " << nFps;
                EXPECT_LE(nDefault, vq.GetBpsMaxValue()) << bPal << " " << nRes << " " << nFps;
            }
        }
    }
}

TEST(VideoQualityBitRate, UnknownCodeGivesZero)
{
    CVideoQuality vq;
    ASSERT_EQ(vq.GetResIndex(6), -1);
    for (BOOL bPal : {FALSE, TRUE}) {
        EXPECT_EQ(vq.GetBpsMinValue(bPal, 30, 6), 0);
        EXPECT_EQ(vq.GetBpsDefaultValue(bPal, 30, 6), 0);
        EXPECT_EQ(vq.GetBpsMinValue(bPal, 9, 8), 0);
        EXPECT_EQ(vq.GetBpsDefaultValue(bPal, 9, 8), 0);
        EXPECT_EQ(vq.GetBpsMinValue(bPal, 0, 0), 0);
        EXPECT_EQ(vq.GetBpsDefaultValue(bPal, 0, 0), 0);
    }
}

TEST(VideoQualityChecks, IndexOutsideListIsFatal)
{
    CVideoQuality vq;
    EXPECT_THROW(vq.GetFpsText(-1), CMyExceptionExit);
    EXPECT_THROW(vq.GetFpsText(10), CMyExceptionExit);
    EXPECT_THROW(vq.GetFpsValue(-1), CMyExceptionExit);
    EXPECT_THROW(vq.GetFpsValue(10), CMyExceptionExit);
    EXPECT_THROW(vq.GetResText(-1), CMyExceptionExit);
    EXPECT_THROW(vq.GetResText(4), CMyExceptionExit);
    EXPECT_THROW(vq.GetResValue(-1), CMyExceptionExit);
    EXPECT_THROW(vq.GetResValue(4), CMyExceptionExit);
}

// Level-2 lines of failed look-ups, seen on the debugger output that mirrors the log.
class VideoQualityLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        setenv("VISTREL_HOME", m_dir.path().toLocal8Bit().constData(), 1);
        SetTraceSink([this](const char* pszMessage) { m_vecLines.emplace_back(pszMessage); });
    }
    void TearDown() override
    {
        ResetTraceSink();
        unsetenv("VISTREL_HOME");
        g_nDebugLevel = 0;
    }
    std::string AllLines() const
    {
        std::string str;
        for (const std::string& s : m_vecLines)
            str += s + "|";
        return str;
    }

    QTemporaryDir m_dir;
    std::vector<std::string> m_vecLines;
};

TEST_F(VideoQualityLog, FailedLookupsLogAtLevelTwo)
{
    CVideoQuality vq;
    g_nDebugLevel = 2;
    vq.GetFpsIndex(9);
    vq.GetResIndex(6);
    vq.GetBpsMinValue(TRUE, 30, 6);
    vq.GetBpsDefaultValue(FALSE, 11, 8);
    const std::string str = AllLines();
    EXPECT_THAT(str, HasSubstr("2CVideoQuality::GetFpsIndex error ulData:9"));
    EXPECT_THAT(str, HasSubstr("2CVideoQuality::GetResIndex error ulData:6"));
    EXPECT_THAT(str,
                HasSubstr("2CVideoQuality::GetBpsMinValue error bIsTvTypePal:1, ulFpsData:30, ulResData:6"));
    EXPECT_THAT(
        str, HasSubstr("2CVideoQuality::GetBpsDefaultValue error bIsTvTypePal:0, ulFpsData:11, ulResData:8"));
    EXPECT_THAT(str, HasSubstr("2CVideoQuality::GetFpsIndex error ulData:11"));
}

TEST_F(VideoQualityLog, NothingBelowLevelTwoOrOnSuccess)
{
    CVideoQuality vq;
    g_nDebugLevel = 1;
    vq.GetFpsIndex(9);
    vq.GetBpsMinValue(TRUE, 30, 6);
    g_nDebugLevel = 5;
    vq.GetBpsDefaultValue(TRUE, 30, 8);
    EXPECT_THAT(AllLines(), Not(HasSubstr("CVideoQuality")));
}

TEST(VideoQualityInstance, AccessorGivesOneInstance)
{
    EXPECT_EQ(&GetVideoQuality(), &GetVideoQuality());
    EXPECT_EQ(GetVideoQuality().GetFpsValue(9), 30u);
}

} // namespace
