#include "core/configfile.h"

#include "core/log.h"
#include "platform/trace.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_strFolder = m_dir.path().toStdString() + "/";
        // The log (fatal checks write to it) goes to the temporary folder, not the build tree.
        setenv("VISTREL_HOME", m_strFolder.c_str(), 1);
        m_nSavedLevel = g_nDebugLevel;
    }

    void TearDown() override
    {
        SetTraceSink({});
        g_nDebugLevel = m_nSavedLevel;
        unsetenv("VISTREL_HOME");
    }

    void Write(const char* pszName, const std::string& strContent) const
    {
        std::ofstream file(m_strFolder + pszName, std::ios::binary);
        file << strContent;
    }

    std::string Read(const char* pszName) const
    {
        std::ifstream file(m_strFolder + pszName, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    // Collects log lines ("<level><text>") through the debugger channel.
    void CaptureLog(int nLevel)
    {
        g_nDebugLevel = nLevel;
        SetTraceSink([this](const char* pszMessage) { m_vecLog.emplace_back(pszMessage); });
    }

    QTemporaryDir m_dir;
    std::string m_strFolder;
    std::vector<std::string> m_vecLog;
    int m_nSavedLevel = 0;
};

const char* const kCameraTypes = "[TYPE_D]\n"
                                 "7=X\n"
                                 "7=Second\n"
                                 "0=Zero\n"
                                 "abc=Letter\n"
                                 "no equals sign\n"
                                 "12a=Leading digits\n"
                                 "5= Spaced name\n"
                                 "[type_m]\n"
                                 "7=FromM\n"
                                 "9=M9\n"
                                 "[TYPE_HD]\n"
                                 "20=HD20\n"
                                 "9=HD9\n"
                                 "[SUBTYPE]\n"
                                 "3=P\n";

} // namespace

TEST_F(ConfigFileTest, SettingsReadFromTheFile)
{
    Write("Vistrel.ini", "[WEBSITE]\nregister=http://www.example.invalid/\n"
                         "[PATH]\nrecord=/srv/rec\n"
                         "[ENCRYPT]\nencrypt=2\n"
                         "[language]\nid=2052\nShowDialogue=1\n"
                         "[DEBUG]\nLEVEL=4\n");
    CConfigFileManager config(m_strFolder);
    EXPECT_TRUE(config.IsFileExist());
    EXPECT_EQ(config.GetWebsite(), u"http://www.example.invalid/");
    EXPECT_EQ(config.GetRecordPath(), u"/srv/rec");
    EXPECT_TRUE(config.IsEncrypt());
    EXPECT_EQ(config.GetLanguageID(), 2052);
    EXPECT_TRUE(config.IsShowDialogue());
    EXPECT_EQ(config.GetDebugLevel(), 4);
}

TEST_F(ConfigFileTest, MissingSettingsFileGivesDefaults)
{
    const char* pszHome = std::getenv("HOME");
    const std::string strSavedHome = pszHome != nullptr ? pszHome : "";
    setenv("HOME", m_dir.path().toStdString().c_str(), 1);
    CConfigFileManager config(m_strFolder);
    setenv("HOME", strSavedHome.c_str(), 1);

    EXPECT_FALSE(config.IsFileExist());
    EXPECT_EQ(config.GetWebsite(), u"0.0.0.0");
    // The default record folder lives under the user's home here.
    EXPECT_EQ(config.GetRecordPath(), m_dir.path().toStdU16String() + u"/Vistrel/Record/");
    EXPECT_FALSE(config.IsEncrypt());
    EXPECT_EQ(config.GetLanguageID(), 0);
    EXPECT_FALSE(config.IsShowDialogue());
    EXPECT_EQ(config.GetDebugLevel(), 0);
}

TEST_F(ConfigFileTest, LongValuesAreCutAt259Characters)
{
    Write("Vistrel.ini", "[WEBSITE]\nregister=" + std::string(300, 'w') + "\n");
    CConfigFileManager config(m_strFolder);
    EXPECT_EQ(config.GetWebsite(), std::u16string(259, u'w'));
}

TEST_F(ConfigFileTest, SetLanguageIdWritesOnlyIntoAnExistingFile)
{
    const std::string strBefore = "; keep me\n[LANGUAGE]\nID=1033\nShowDialogue=1\n\n[DEBUG]\nlevel=0\n";
    Write("Vistrel.ini", strBefore);
    CConfigFileManager config(m_strFolder);
    CaptureLog(3);
    EXPECT_TRUE(config.SetLanguageID(1028));
    EXPECT_EQ(config.GetLanguageID(), 1028);
    EXPECT_EQ(Read("Vistrel.ini"), "; keep me\n[LANGUAGE]\nID=1028\nShowDialogue=1\n\n[DEBUG]\nlevel=0\n");
    EXPECT_EQ(m_vecLog, (std::vector<std::string>{
                            "3CConfigFileManager::SetLanguageID: beg { m_bFileExist:1, nLanguageID:1028",
                            "3CConfigFileManager::SetLanguageID: end } bRet:1"}));
    EXPECT_EQ(CConfigFileManager(m_strFolder).GetLanguageID(), 1028);
}

TEST_F(ConfigFileTest, SetLanguageIdWithoutFileCreatesNothing)
{
    CConfigFileManager config(m_strFolder);
    CaptureLog(3);
    EXPECT_FALSE(config.SetLanguageID(9));
    EXPECT_EQ(config.GetLanguageID(), 9);
    EXPECT_FALSE(std::filesystem::exists(m_strFolder + "Vistrel.ini"));
    EXPECT_EQ(m_vecLog, (std::vector<std::string>{
                            "3CConfigFileManager::SetLanguageID: beg { m_bFileExist:0, nLanguageID:9",
                            "1CConfigFileManager::SetLanguageID: end } !m_bFileExist"}));
}

TEST_F(ConfigFileTest, FolderWithoutSeparatorIsFatal)
{
    EXPECT_THROW(CConfigFileManager config(m_dir.path().toStdString()), CMyExceptionExit);
}

TEST_F(ConfigFileTest, CameraTypeSectionsAndNames)
{
    Write("CameraType.ini", kCameraTypes);
    const CConfigCameraType types(m_strFolder);
    EXPECT_TRUE(types.IsFileExist());

    // Key 7 in TYPE_D and TYPE_M: the first section and the first line win.
    EXPECT_EQ(types.GetCameraUIType(7), 1u);
    EXPECT_EQ(types.GetCameraTypeName(7, 3, true), "PXW");
    EXPECT_EQ(types.GetCameraTypeName(7, 3, false), "PX");
    EXPECT_EQ(types.GetCameraTypeName(7, 4, true), "XW");
    EXPECT_EQ(types.GetCameraTypeName(8, 3, true), "");

    EXPECT_EQ(types.GetCameraUIType(9), 2u);
    EXPECT_EQ(types.GetCameraTypeName(9, 0, false), "M9");
    EXPECT_EQ(types.GetCameraUIType(20), 3u);
    EXPECT_EQ(types.GetCameraUIType(12), 1u);
    EXPECT_EQ(types.GetCameraTypeName(12, 0, false), "Leading digits");
    EXPECT_EQ(types.GetCameraTypeName(5, 0, false), "Spaced name");

    // Key 0, a key starting with a letter and a line without '=' add nothing.
    EXPECT_EQ(types.GetCameraUIType(0), 0u);
    EXPECT_EQ(types.GetCameraTypeName(0, 0, false), "");
    EXPECT_EQ(types.GetCameraUIType(3), 0u); // a subtype code is no type
}

TEST_F(ConfigFileTest, MissingCameraTypeFileKnowsNoModel)
{
    const CConfigCameraType types(m_strFolder);
    EXPECT_FALSE(types.IsFileExist());
    EXPECT_EQ(types.GetCameraUIType(7), 0u);
    EXPECT_EQ(types.GetCameraTypeName(7, 3, true), "");
}

TEST_F(ConfigFileTest, CameraTypeSectionIsReadOnlyAsFarAsTheBufferHolds)
{
    // "1=A" takes 4 bytes of the 1024, each further line 15 ("100=Model-0100" and its zero):
    // 67 lines (codes 100..166) fit whole, the 68th is cut inside its name.
    std::string strFile = "[TYPE_D]\n1=A\n";
    for (int i = 100; i < 200; ++i)
        strFile += std::to_string(i) + "=Model-0" + std::to_string(i) + "\n";
    strFile += "[TYPE_M]\n2=B\n";
    Write("CameraType.ini", strFile);

    const CConfigCameraType types(m_strFolder);
    EXPECT_EQ(types.GetCameraTypeName(1, 0, false), "A");
    EXPECT_EQ(types.GetCameraTypeName(166, 0, false), "Model-0166");
    // The cut line keeps its code with what fits of its name ("167=Model-016" and the two
    // closing zeros end the 1024 bytes); what lies beyond the buffer is not read.
    EXPECT_EQ(types.GetCameraUIType(167), 1u);
    EXPECT_EQ(types.GetCameraTypeName(167, 0, false), "Model-016");
    EXPECT_EQ(types.GetCameraUIType(168), 0u);
    EXPECT_EQ(types.GetCameraUIType(199), 0u);
    EXPECT_EQ(types.GetCameraUIType(2), 2u);
}

TEST_F(ConfigFileTest, ServerListWithDefaultsForMissingSections)
{
    Write("Vistrel.ini", "[SERVER]\nset=1\nservernum=2\n"
                         "[Server_1]\nname=Lab North\nurl=198.18.10.1\n");
    const CConfigFileDServer dserver(m_strFolder);
    EXPECT_TRUE(dserver.IsFileExist());
    EXPECT_TRUE(dserver.IsSet());
    ASSERT_EQ(dserver.GetServerCount(), 2);
    EXPECT_EQ(dserver.GetServerName(1), u"Lab North");
    EXPECT_EQ(dserver.GetServerUrl(1), u"198.18.10.1");
    EXPECT_EQ(dserver.GetServerName(2), u"Unknown");
    EXPECT_EQ(dserver.GetServerUrl(2), u"0.0.0.0");
    EXPECT_EQ(dserver.GetServerNameByUrl(u"198.18.10.1"), u"Lab North");
    EXPECT_EQ(dserver.GetServerNameByUrl(u"0.0.0.0"), u"Unknown");
    EXPECT_EQ(dserver.GetServerNameByUrl(u"198.18.10.1 "), u"");
}

TEST_F(ConfigFileTest, ServerNumberOutOfRangeIsFatal)
{
    Write("Vistrel.ini", "[SERVER]\nset=0\nservernum=1\n[server_1]\nname=A\nurl=a.example.invalid\n");
    const CConfigFileDServer dserver(m_strFolder);
    EXPECT_FALSE(dserver.IsSet());
    EXPECT_THROW(dserver.GetServerName(0), CMyExceptionExit);
    EXPECT_THROW(dserver.GetServerUrl(2), CMyExceptionExit);
}

TEST_F(ConfigFileTest, ServerListWithoutFileOrWithAbsurdCount)
{
    const CConfigFileDServer missing(m_strFolder);
    EXPECT_FALSE(missing.IsFileExist());
    EXPECT_FALSE(missing.IsSet());
    EXPECT_EQ(missing.GetServerCount(), 0);

    Write("Vistrel.ini", "[SERVER]\nset=1\nservernum=2000000000\n");
    const CConfigFileDServer absurd(m_strFolder);
    EXPECT_EQ(absurd.GetServerCount(), MAX_DSERVER_COUNT);

    Write("Vistrel.ini", "[SERVER]\nset=1\nservernum=-3\n");
    EXPECT_EQ(CConfigFileDServer(m_strFolder).GetServerCount(), 0);
}

TEST_F(ConfigFileTest, AccessorsReadTheProgramFolder)
{
    Write("Vistrel.ini", "[LANGUAGE]\nID=1028\n[SERVER]\nservernum=1\n");
    Write("CameraType.ini", kCameraTypes);
    ASSERT_EQ(GetConfigFileManager(), GetConfigFileManager());
    EXPECT_EQ(GetConfigFileManager()->GetLanguageID(), 1028);
    EXPECT_EQ(GetConfigCameraType()->GetCameraUIType(9), 2u);
    EXPECT_EQ(GetConfigFileDServer()->GetServerCount(), 1);
}
