// Which language the client starts in, and when the choice is written back.
#include "core/configfile.h"
#include "core/language.h"
#include "core/startup.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace {

class StartupLanguageTest : public ::testing::Test {
protected:
    std::string Folder() const { return m_dir.path().toStdString() + "/"; }
    std::string IniPath() const { return Folder() + "Vistrel.ini"; }

    void WriteIni(const std::string& strText)
    {
        std::ofstream file(IniPath(), std::ios::binary);
        file << strText;
    }
    std::string ReadIni() const
    {
        std::ifstream file(IniPath(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool IniExists() const { return std::ifstream(IniPath()).is_open(); }

    QTemporaryDir m_dir;
    // The tables' contents do not matter for the choice.
    CLanguageManager m_language{[](int) { return std::span<const BYTE>(); }};
};

TEST_F(StartupLanguageTest, SupportedConfiguredIdIsUsedWithoutWriting)
{
    const std::string strIni = "[LANGUAGE]\r\nID=2052\r\n[DEBUG]\r\nlevel=0\r\n";
    WriteIni(strIni);
    CConfigFileManager config(Folder());
    EXPECT_EQ(ChooseStartupLanguage(config, m_language, 1028), 2052);
    EXPECT_EQ(ReadIni(), strIni);
}

TEST_F(StartupLanguageTest, RegionalEnglishFallsBackToUserDefaultAndIsWrittenBack)
{
    WriteIni("[LANGUAGE]\r\nID=1033\r\n");
    CConfigFileManager config(Folder());
    // A Traditional Chinese user gets Traditional Chinese.
    EXPECT_EQ(ChooseStartupLanguage(config, m_language, 1028), 1028);
    EXPECT_EQ(config.GetLanguageID(), 1028);
    CConfigFileManager reread(Folder());
    EXPECT_EQ(reread.GetLanguageID(), 1028);
}

TEST_F(StartupLanguageTest, UnsupportedUserDefaultEndsInEnglish)
{
    WriteIni("[LANGUAGE]\r\nID=1033\r\n");
    CConfigFileManager config(Folder());
    // en_US maps to 1033, which is not one of the three tables either.
    EXPECT_EQ(ChooseStartupLanguage(config, m_language, 1033), 9);
    CConfigFileManager reread(Folder());
    EXPECT_EQ(reread.GetLanguageID(), 9);
}

TEST_F(StartupLanguageTest, MissingFileFallsBackWithoutCreatingIt)
{
    CConfigFileManager config(Folder());
    ASSERT_FALSE(config.IsFileExist());
    EXPECT_EQ(ChooseStartupLanguage(config, m_language, 2052), 2052);
    EXPECT_FALSE(IniExists());
}

} // namespace
