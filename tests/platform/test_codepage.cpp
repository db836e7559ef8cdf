#include "platform/codepage.h"

#include <gtest/gtest.h>

TEST(CodePage, FollowsTheLanguage)
{
    EXPECT_EQ(CodePageForLanguage(2052), CP_GBK);
    EXPECT_EQ(CodePageForLanguage(1028), CP_BIG5);
    EXPECT_EQ(CodePageForLanguage(9), CP_WESTERN);
    EXPECT_EQ(CodePageForLanguage(1033), CP_WESTERN);
    EXPECT_EQ(CodePageForLanguage(0), CP_WESTERN);
}

TEST(CodePage, RoundTripsEachAnsiCodePage)
{
    struct Case {
        UINT uCodePage;
        std::string strBytes;
        std::u16string strWide;
    };
    const Case cases[] = {
        {CP_GBK, "\xD6\xD0\xCE\xC4 cam1", u"\u4E2D\u6587 cam1"},  // Simplified "Chinese"
        {CP_BIG5, "\xA4\xA4\xA4\xE5 cam1", u"\u4E2D\u6587 cam1"}, // the same in Big5
        {CP_WESTERN, "caf\xE9 \x80 5", u"caf\u00E9 \u20AC 5"},
        {CP_UTF8, "\xE4\xB8\xAD\xF0\x9F\x98\x80", u"\u4E2D\U0001F600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uCodePage);
        EXPECT_EQ(AnsiToWide(c.strBytes, c.uCodePage), c.strWide);
        EXPECT_EQ(WideToAnsi(c.strWide, c.uCodePage), c.strBytes);
    }
    EXPECT_EQ(Utf8ToWide("\xE4\xB8\xAD"), u"\u4E2D");
    EXPECT_EQ(WideToUtf8(u"\u4E2D"), "\xE4\xB8\xAD");
}

TEST(CodePage, KeepsEmbeddedZerosAndLongText)
{
    const std::string strBytes("a\0b", 3);
    EXPECT_EQ(AnsiToWide(strBytes, CP_WESTERN), std::u16string(u"a\0b", 3));
    EXPECT_EQ(WideToUtf8(std::u16string(u"a\0b", 3)), strBytes);

    std::string strLong;
    for (int i = 0; i < 5000; ++i)
        strLong += "\xD6\xD0";
    EXPECT_EQ(AnsiToWide(strLong, CP_GBK), std::u16string(5000, u'\u4E2D'));
    EXPECT_TRUE(AnsiToWide("", CP_GBK).empty());
}

TEST(CodePage, InvalidBytesAreReplacedAndConversionGoesOn)
{
    // A byte that cannot start a character, and a lead byte cut off at the end.
    EXPECT_EQ(AnsiToWide("A\xFF"
                         "B",
                         CP_GBK),
              u"A\uFFFDB");
    EXPECT_EQ(AnsiToWide("A\xD6", CP_GBK), u"A\uFFFD");
    EXPECT_EQ(AnsiToWide("A\xA4", CP_BIG5), u"A\uFFFD");
    // 0x81 has no character in Windows-1252.
    EXPECT_EQ(AnsiToWide("x\x81y", CP_WESTERN), u"x\uFFFDy");
    // Malformed UTF-8: stray continuation, overlong form, truncated sequence.
    EXPECT_EQ(Utf8ToWide("a\x80"
                         "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide("a\xC0\xAF"
                         "b"),
              u"a\uFFFD\uFFFDb");
    EXPECT_EQ(Utf8ToWide("ab\xE4\xB8"), u"ab\uFFFD");
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(WideToAnsi(u"A\u4E2DB", CP_WESTERN), "A?B");
    EXPECT_EQ(WideToAnsi(u"A\u00E9B", CP_GBK), "A\xA8\xA6"
                                               "B");    // GBK does hold e-acute
    EXPECT_EQ(WideToAnsi(u"A\u0E01B", CP_BIG5), "A?B"); // Thai is not in Big5
    // A lone surrogate is not a character in any target.
    EXPECT_EQ(WideToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
    EXPECT_EQ(WideToUtf8(std::u16string(u"a") + char16_t(0xDC00)), "a?");
}

TEST(CodePage, UnknownCodePageConvertsAsWestern)
{
    EXPECT_EQ(AnsiToWide("caf\xE9", 54321), u"caf\u00E9");
    EXPECT_EQ(WideToAnsi(u"caf\u00E9", 54321), "caf\xE9");
}
