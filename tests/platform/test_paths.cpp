#include "platform/module.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class PathsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("HOME", "/home/tester", 1);
        setenv("TMPDIR", "/var/tmp/", 1);
        unsetenv("VISTREL_HOME");
    }
};

TEST_F(PathsTest, DesignPathsMapToLinuxFolders)
{
    EXPECT_EQ(MapDesignPath("C:\\Temp.tmp"), "/var/tmp/Temp.tmp");
    EXPECT_EQ(MapDesignPath("c:\\temp.TMP"), "/var/tmp/Temp.tmp");
    EXPECT_EQ(MapDesignPath("D:\\Vistrel\\Record\\"), "/home/tester/Vistrel/Record/");
    // The trailing separator is neither added nor removed.
    EXPECT_EQ(MapDesignPath("D:\\Vistrel\\Record"), "/home/tester/Vistrel/Record");
    EXPECT_EQ(MapDesignPath("E:\\Video\\a.avi"), "/home/tester/Video/a.avi");
    EXPECT_EQ(MapDesignPath("E:"), "/home/tester/");
    EXPECT_EQ(MapDesignPath("/srv/rec/"), "/srv/rec/");
    EXPECT_EQ(MapDesignPath("PictureSkin\\Main.jpg"), "PictureSkin/Main.jpg");
    EXPECT_EQ(MapDesignPath(""), "");
    // Only the exact scratch file goes to the temp folder.
    EXPECT_EQ(MapDesignPath("C:\\Temp.tmp\\x"), "/home/tester/Temp.tmp/x");

    unsetenv("TMPDIR");
    EXPECT_EQ(MapDesignPath("C:\\Temp.tmp"), "/tmp/Temp.tmp");
    setenv("HOME", "/", 1);
    EXPECT_EQ(MapDesignPath("D:\\Vistrel\\Record\\"), "/Vistrel/Record/");
    unsetenv("HOME");
    // Without HOME the password entry still names a home folder.
    EXPECT_FALSE(GetHomeFolder().empty());
}

TEST_F(PathsTest, ProgramFolderFollowsVistrelHome)
{
    const std::string strModule = GetModuleFileName();
    ASSERT_FALSE(strModule.empty());
    EXPECT_EQ(access(strModule.c_str(), X_OK), 0);
    const std::string strFolder = strModule.substr(0, strModule.rfind('/') + 1);
    EXPECT_EQ(GetProgramFolder(), strFolder);

    setenv("VISTREL_HOME", "/tmp/vh", 1);
    EXPECT_EQ(GetProgramFolder(), "/tmp/vh/");
    EXPECT_EQ(GetProgramFilePath("Vistrel.ini"), "/tmp/vh/Vistrel.ini");
    EXPECT_EQ(GetProgramFilePath("PictureSkin\\Logo.jpg"), "/tmp/vh/PictureSkin/Logo.jpg");
    setenv("VISTREL_HOME", "/tmp/vh2/", 1);
    EXPECT_EQ(GetProgramFolder(), "/tmp/vh2/");
    // Empty means unset.
    setenv("VISTREL_HOME", "", 1);
    EXPECT_EQ(GetProgramFolder(), strFolder);
}

} // namespace
