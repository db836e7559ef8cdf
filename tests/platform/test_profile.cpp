#include "platform/profile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string Path(const char* pszName = "test.ini") const { return m_dir.filePath(pszName).toStdString(); }
    std::u16string WidePath(const char* pszName = "test.ini") const
    {
        return m_dir.filePath(pszName).toStdU16String();
    }

    void Write(const std::string& strContent, const char* pszName = "test.ini") const
    {
        std::ofstream file(Path(pszName), std::ios::binary);
        file << strContent;
    }

    std::string Read(const char* pszName = "test.ini") const
    {
        std::ifstream file(Path(pszName), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::string Get(const char* pszSection, const char* pszKey, const char* pszDefault = "def",
                    DWORD nSize = 260) const
    {
        std::string strBuffer(nSize, '\x7F');
        const DWORD dwLen =
            GetPrivateProfileString(pszSection, pszKey, pszDefault, strBuffer.data(), nSize, Path().c_str());
        EXPECT_EQ(strBuffer[dwLen], '\0');
        return strBuffer.substr(0, dwLen);
    }

    std::string Section(const char* pszSection, DWORD nSize, DWORD* pdwLen) const
    {
        std::string strBuffer(nSize, '\x7F');
        *pdwLen = GetPrivateProfileSection(pszSection, strBuffer.data(), nSize, Path().c_str());
        return strBuffer;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ProfileTest, NamesIgnoreCaseAndBlanksAroundNamesAndValuesAreTrimmed)
{
    Write("; leading comment\n"
          "[Settings]\n"
          "  Name  =  two words  \n"
          "\tEmpty=\n"
          "Path=D:\\Vistrel\\Record\\\n"
          "[ Other ]\n"
          "name=other\n");
    EXPECT_EQ(Get("SETTINGS", "NAME"), "two words");
    EXPECT_EQ(Get("settings", "empty"), "");
    EXPECT_EQ(Get("Settings", "path"), "D:\\Vistrel\\Record\\");
    EXPECT_EQ(Get("other", "Name"), "other");
}

TEST_F(ProfileTest, DefaultWhenKeySectionOrFileIsMissing)
{
    Write("[A]\nkey=1\n; hidden=2\n");
    EXPECT_EQ(Get("A", "missing"), "def");
    EXPECT_EQ(Get("B", "key"), "def");
    EXPECT_EQ(Get("A", "; hidden"), "def");
    EXPECT_EQ(Get("A", "missing", nullptr), "");
    EXPECT_EQ(Get("A", "missing", "spaced   "), "spaced");

    char szBuffer[16];
    EXPECT_EQ(GetPrivateProfileString("A", "key", "0.0.0.0", szBuffer, 16, Path("absent.ini").c_str()), 7u);
    EXPECT_STREQ(szBuffer, "0.0.0.0");
    EXPECT_EQ(GetPrivateProfileInt("A", "key", 42, Path("absent.ini").c_str()), 42u);
    char szSection[8] = {'x', 'x', 'x'};
    EXPECT_EQ(GetPrivateProfileSection("A", szSection, 8, Path("absent.ini").c_str()), 0u);
    EXPECT_EQ(std::string(szSection, 3), std::string("\0\0x", 3));
}

TEST_F(ProfileTest, ValueIsTruncatedToTheBuffer)
{
    Write("[A]\nkey=abcdef\n");
    EXPECT_EQ(Get("A", "key", "", 4), "abc");
    EXPECT_EQ(Get("A", "key", "", 7), "abcdef");
    EXPECT_EQ(Get("A", "key", "", 1), "");
    EXPECT_EQ(Get("A", "missing", "default", 4), "def");

    char16_t szWide[4];
    EXPECT_EQ(GetPrivateProfileString(u"a", u"KEY", u"", szWide, 4, WidePath().c_str()), 3u);
    EXPECT_EQ(std::u16string(szWide), u"abc");
}

TEST_F(ProfileTest, FirstKeyAndFirstSectionWin)
{
    Write("[A]\nkey=first\nKEY=second\n[B]\nx=1\n[a]\nkey=third\nonly=later\n");
    EXPECT_EQ(Get("A", "key"), "first");
    // A repeated section is not merged into the first one.
    EXPECT_EQ(Get("A", "only"), "def");
}

TEST_F(ProfileTest, MatchingQuotesAreRemoved)
{
    Write("[A]\nd=\"quoted value\"\ns='x'\nmixed=\"x'\none=\"\n");
    EXPECT_EQ(Get("A", "d"), "quoted value");
    EXPECT_EQ(Get("A", "s"), "x");
    EXPECT_EQ(Get("A", "mixed"), "\"x'");
    EXPECT_EQ(Get("A", "one"), "\"");
}

TEST_F(ProfileTest, AcceptsByteOrderMarkAndCrLf)
{
    Write("\xEF\xBB\xBF[A]\r\nkey=value\r\n\r\nn=12\r\n");
    EXPECT_EQ(Get("A", "key"), "value");
    EXPECT_EQ(GetPrivateProfileInt("A", "n", 0, Path().c_str()), 12u);
}

TEST_F(ProfileTest, IntUsesLeadingDigitsElseZero)
{
    Write("[N]\nplain=42\ntrail=42abc\nletter=abc\nneg=-1\nplus=+7\nempty=\nwrap=4294967297\nspace=  9 \n");
    const auto get = [&](const char* pszKey) {
        return GetPrivateProfileInt("N", pszKey, 77, Path().c_str());
    };
    EXPECT_EQ(get("plain"), 42u);
    EXPECT_EQ(get("TRAIL"), 42u);
    EXPECT_EQ(get("letter"), 0u);
    EXPECT_EQ(static_cast<int>(get("neg")), -1);
    EXPECT_EQ(get("plus"), 7u);
    EXPECT_EQ(get("empty"), 77u);
    EXPECT_EQ(get("wrap"), 1u);
    EXPECT_EQ(get("space"), 9u);
    EXPECT_EQ(get("absent"), 77u);
    EXPECT_EQ(static_cast<int>(GetPrivateProfileInt(u"n", u"absent", -5, WidePath().c_str())), -5);
    EXPECT_EQ(GetPrivateProfileInt(u"n", u"plain", 0, WidePath().c_str()), 42u);
}

TEST_F(ProfileTest, SectionListsLinesAsZeroEndedStrings)
{
    Write("[T]\n1 = One \n; comment\n\nbare line\n2=Two=2\n[U]\n3=x\n");
    DWORD dwLen = 0;
    const std::string strBuffer = Section("t", 64, &dwLen);
    const std::string strExpected("1=One\0bare line\0"
                                  "2=Two=2\0",
                                  24);
    ASSERT_EQ(dwLen, strExpected.size());
    EXPECT_EQ(strBuffer.substr(0, dwLen + 1), strExpected + '\0');

    const std::string strMissing = Section("none", 64, &dwLen);
    EXPECT_EQ(dwLen, 0u);
    EXPECT_EQ(strMissing.substr(0, 2), std::string(2, '\0'));
}

TEST_F(ProfileTest, SectionTooLargeIsCutWithTwoZeros)
{
    std::string strFile = "[BIG]\n";
    std::string strFull;
    for (int i = 100; i < 200; ++i) {
        const std::string strLine = std::to_string(i) + "=Model-" + std::to_string(i * 10);
        strFile += strLine + "\n";
        strFull += strLine + '\0';
    }
    Write(strFile);
    ASSERT_GT(strFull.size(), 1024u);

    DWORD dwLen = 0;
    const std::string strBuffer = Section("BIG", 1024, &dwLen);
    EXPECT_EQ(dwLen, 1022u);
    EXPECT_EQ(strBuffer.substr(0, 1022), strFull.substr(0, 1022));
    EXPECT_EQ(strBuffer[1022], '\0');
    EXPECT_EQ(strBuffer[1023], '\0');

    // A buffer that holds the whole list plus the final zero is not truncated.
    const std::string strExact = Section("BIG", DWORD(strFull.size() + 1), &dwLen);
    EXPECT_EQ(dwLen, strFull.size());
    EXPECT_EQ(strExact, strFull + '\0');
}

TEST_F(ProfileTest, NullNamesListKeysOrSections)
{
    Write("[A]\nx=1\nnoequals\ny=2\n[B]\n[C]\nz=3\n");
    char szBuffer[64];
    DWORD dwLen = GetPrivateProfileString("A", nullptr, "", szBuffer, 64, Path().c_str());
    EXPECT_EQ(std::string(szBuffer, dwLen + 1), std::string("x\0y\0\0", 5));
    dwLen = GetPrivateProfileString(nullptr, nullptr, "", szBuffer, 64, Path().c_str());
    EXPECT_EQ(std::string(szBuffer, dwLen + 1), std::string("A\0B\0C\0\0", 7));
    dwLen = GetPrivateProfileString(nullptr, nullptr, "", szBuffer, 5, Path().c_str());
    EXPECT_EQ(dwLen, 3u);
    EXPECT_EQ(std::string(szBuffer, 5), std::string("A\0B\0\0", 5));
}

TEST_F(ProfileTest, WideReadsDecodeUtf8)
{
    Write("[Server_1]\nname=\xE5\x8C\x97\xE4\xBA\xAC Lab\n");
    char16_t szBuffer[32];
    EXPECT_EQ(GetPrivateProfileString(u"SERVER_1", u"Name", u"Unknown", szBuffer, 32, WidePath().c_str()),
              6u);
    EXPECT_EQ(std::u16string(szBuffer), u"\u5317\u4EAC Lab");

    char16_t szSection[32];
    const DWORD dwLen = GetPrivateProfileSection(u"server_1", szSection, 32, WidePath().c_str());
    EXPECT_EQ(std::u16string(szSection, dwLen + 1), std::u16string(u"name=\u5317\u4EAC Lab\0\0", 13));
}

TEST_F(ProfileTest, WriteReplacesOneKeyAndKeepsEveryOtherLine)
{
    const std::string strBefore = "\xEF\xBB\xBF; settings\r\n"
                                  "[LANGUAGE]\r\n"
                                  "  id = 9\r\n"
                                  "ShowDialogue=1\r\n"
                                  "\r\n"
                                  "[language]\r\n"
                                  "ID=7\r\n";
    Write(strBefore);
    ASSERT_TRUE(WritePrivateProfileString("Language", "ID", "1028", Path().c_str()));
    EXPECT_EQ(Read(), "\xEF\xBB\xBF; settings\r\n"
                      "[LANGUAGE]\r\n"
                      "id=1028\r\n"
                      "ShowDialogue=1\r\n"
                      "\r\n"
                      "[language]\r\n"
                      "ID=7\r\n");
    EXPECT_EQ(Get("LANGUAGE", "ID"), "1028");

    ASSERT_TRUE(WritePrivateProfileString(u"LANGUAGE", u"New", u"\u4E2D", WidePath().c_str()));
    EXPECT_EQ(Read(), "\xEF\xBB\xBF; settings\r\n"
                      "[LANGUAGE]\r\n"
                      "id=1028\r\n"
                      "ShowDialogue=1\r\n"
                      "New=\xE4\xB8\xAD\r\n"
                      "\r\n"
                      "[language]\r\n"
                      "ID=7\r\n");
}

TEST_F(ProfileTest, WriteCreatesSectionAndFile)
{
    ASSERT_TRUE(WritePrivateProfileString("A", "k", "v", Path("new.ini").c_str()));
    EXPECT_EQ(Read("new.ini"), "[A]\nk=v\n");
    ASSERT_TRUE(WritePrivateProfileString("B", "k2", "", Path("new.ini").c_str()));
    EXPECT_EQ(Read("new.ini"), "[A]\nk=v\n\n[B]\nk2=\n");
    char szValue[8] = "x";
    EXPECT_EQ(GetPrivateProfileString("b", "K2", "def", szValue, 8, Path("new.ini").c_str()), 0u);
    EXPECT_STREQ(szValue, "");

    Write("[A]\nk=v"); // no line end at the end
    ASSERT_TRUE(WritePrivateProfileString("A", "n", "1", Path().c_str()));
    EXPECT_EQ(Read(), "[A]\nk=v\nn=1\n");
}

TEST_F(ProfileTest, WriteDeletesKeyOrSection)
{
    Write("[A]\nk=v\nx=1\n\n[B]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("A", "K", nullptr, Path().c_str()));
    EXPECT_EQ(Read(), "[A]\nx=1\n\n[B]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("a", nullptr, nullptr, Path().c_str()));
    EXPECT_EQ(Read(), "[B]\ny=2\n");

    // Deleting from a file that does not exist does not create it.
    EXPECT_TRUE(WritePrivateProfileString("A", "k", nullptr, Path("none.ini").c_str()));
    EXPECT_TRUE(WritePrivateProfileString("A", nullptr, nullptr, Path("none.ini").c_str()));
    EXPECT_FALSE(std::filesystem::exists(Path("none.ini")));
}

TEST_F(ProfileTest, WriteRefusesTextThatWouldBreakTheFile)
{
    Write("[A]\nk=v\n");
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "1\n[B]\nx=2", Path().c_str()));
    EXPECT_FALSE(WritePrivateProfileString("A", "k=j", "1", Path().c_str()));
    EXPECT_FALSE(WritePrivateProfileString("A", ";k", "1", Path().c_str()));
    EXPECT_FALSE(WritePrivateProfileString("A]", "k", "1", Path().c_str()));
    EXPECT_FALSE(WritePrivateProfileString(nullptr, "k", "1", Path().c_str()));
    EXPECT_EQ(Read(), "[A]\nk=v\n");

    // A folder that does not exist cannot take the file.
    EXPECT_FALSE(WritePrivateProfileString("A", "k", "1", Path("missing/dir.ini").c_str()));
}
