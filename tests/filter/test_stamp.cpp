// The stamp header parser, with the C library's own time formatting as the reference.
#include "filter/mediadataparse.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

std::vector<uint8_t> Stamp(uint8_t byFlags, int32_t nTime, uint32_t dwSub, int nCaptionByte = -1,
                           const std::u16string& strCaption = u"", size_t nPayload = 4)
{
    std::vector<uint8_t> vec = {0, byFlags};
    for (int i = 0; i < 4; ++i)
        vec.push_back(static_cast<uint8_t>(static_cast<uint32_t>(nTime) >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        vec.push_back(static_cast<uint8_t>(dwSub >> (8 * i)));
    if (nCaptionByte >= 0) {
        vec.push_back(static_cast<uint8_t>(nCaptionByte));
        const auto* pb = reinterpret_cast<const uint8_t*>(strCaption.data());
        vec.insert(vec.end(), pb, pb + strCaption.size() * 2);
    }
    vec[0] = static_cast<uint8_t>(vec.size());
    for (size_t i = 0; i < nPayload; ++i)
        vec.push_back(static_cast<uint8_t>(0xE0 + i));
    return vec;
}

std::u16string Expected(const char* pszFormat, int32_t nTime)
{
    std::setlocale(LC_TIME, "");
    const time_t t = nTime;
    struct tm tmTime {};
    gmtime_r(&t, &tmTime);
    char sz[128];
    std::strftime(sz, sizeof sz, pszFormat, &tmTime);
    std::u16string str;
    for (const char* p = sz; *p != 0; ++p)
        str.push_back(static_cast<unsigned char>(*p));
    return str;
}

TEST(StampParse, FlagsSelectFormatAndOrientation)
{
    const int32_t nTime = 1700000000; // a Tuesday
    struct Case {
        uint8_t byFlags;
        const char16_t* pszExpected; // null: from the strftime format below
        const char* pszStrftime;
        uint8_t bMirror, bRotate;
    } const cases[] = {
        {0x00, nullptr, "%Y-%m-%d %H:%M:%S", 0, 0},
        {0x01, nullptr, "%m-%d-%Y %H:%M:%S", 0, 0},
        {0x02, nullptr, "%d-%m-%Y %H:%M:%S", 0, 0},
        {0x13, nullptr, "%Y-%m-%d %a %H:%M:%S", 1, 0},
        {0x05, nullptr, "%d-%m-%Y %a %H:%M:%S", 0, 0},
        {0x06, u"2023-11-14 星期 22:13:20", nullptr, 0, 0},
        {0x08, u"14-11-2023 星期 22:13:20", nullptr, 0, 0},
        {0x09, nullptr, "%Y-%m-%d %H:%M:%S", 0, 0},
        {0x0F, nullptr, "%Y-%m-%d %H:%M:%S", 0, 0},
        {0x41, nullptr, "%Y-%m-%d %H:%M:%S", 0, 0},
        {0x20, nullptr, "%Y-%m-%d %H:%M:%S", 1, 1},
        {0x31, nullptr, "%m-%d-%Y %H:%M:%S", 0, 1},
        {0x80, u"", nullptr, 0, 0},
        {0x90, u"", nullptr, 1, 0},
    };
    for (const Case& c : cases) {
        CMediaDataParse parse;
        const std::vector<uint8_t> vec = Stamp(c.byFlags, nTime, 123456);
        ASSERT_TRUE(parse.Parse(vec.data(), vec.size())) << int(c.byFlags);
        const std::u16string strExpected =
            c.pszExpected != nullptr ? c.pszExpected : Expected(c.pszStrftime, nTime);
        EXPECT_EQ(strExpected, parse.Record().szTime) << "flags " << int(c.byFlags);
        EXPECT_EQ(c.bMirror, parse.Record().bMirror) << "flags " << int(c.byFlags);
        EXPECT_EQ(c.bRotate, parse.Record().bRotate) << "flags " << int(c.byFlags);
        EXPECT_EQ(vec.data() + vec[0], parse.Record().pbPayload);
        EXPECT_EQ(4u, parse.Record().dwPayloadLength);
    }
    // Before 1970 too, with no time zone applied.
    CMediaDataParse parse;
    const std::vector<uint8_t> vec = Stamp(0, -86400 * 365, 0);
    ASSERT_TRUE(parse.Parse(vec.data(), vec.size()));
    EXPECT_EQ(std::u16string(u"1969-01-01 00:00:00"), parse.Record().szTime);
}

TEST(StampParse, CaptionIsSetKeptAndCleared)
{
    CMediaDataParse parse;
    const std::u16string strName = u"门口 Cam";
    auto caption = [&] { return std::u16string(parse.Record().szCaption); };
    std::vector<uint8_t> vec = Stamp(0, 0, 0, static_cast<int>(strName.size() * 2), strName);
    ASSERT_TRUE(parse.Parse(vec.data(), vec.size()));
    EXPECT_EQ(strName, caption());
    vec = Stamp(0, 0, 0, 255);
    ASSERT_TRUE(parse.Parse(vec.data(), vec.size()));
    EXPECT_EQ(strName, caption());
    vec = Stamp(0, 0, 0); // no caption byte at all: nothing changes
    ASSERT_TRUE(parse.Parse(vec.data(), vec.size()));
    EXPECT_EQ(strName, caption());
    vec = Stamp(0, 0, 0, 0);
    ASSERT_TRUE(parse.Parse(vec.data(), vec.size()));
    EXPECT_EQ(u"", caption());
}

TEST(StampParse, HeadersThatDoNotFitAreRefused)
{
    CMediaDataParse parse;
    std::vector<uint8_t> vec = Stamp(0, 0, 0, -1, u"", 0); // header only, no payload
    EXPECT_FALSE(parse.Parse(vec.data(), vec.size()));
    vec = Stamp(0, 0, 0);
    EXPECT_FALSE(parse.Parse(vec.data(), 10));
    vec[0] = 9;
    EXPECT_FALSE(parse.Parse(vec.data(), vec.size()));
    EXPECT_FALSE(parse.Parse(vec.data(), 0));
    // A caption length reaching past the header (and past the sample) is refused before any
    // byte of it is read; the heap copy lets the address checker see an over-read.
    vec = Stamp(0, 0, 0, 200, u"ab", 1);
    auto pCopy = std::make_unique<uint8_t[]>(vec.size());
    std::memcpy(pCopy.get(), vec.data(), vec.size());
    EXPECT_FALSE(parse.Parse(pCopy.get(), vec.size()));
}

} // namespace
