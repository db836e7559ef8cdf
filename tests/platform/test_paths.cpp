#include "platform/module.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
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

    setenv("HOME", "/", 1);
    EXPECT_EQ(MapDesignPath("D:\\Vistrel\\Record\\"), "/Vistrel/Record/");
    unsetenv("HOME");
    // Without HOME the password entry still names a home folder.
    EXPECT_FALSE(GetHomeFolder().empty());
}

// The snapshot scratch file: never at the shared temp folder's fixed name, where another user
// may have put a file of their own or a symlink to one of ours, but in a folder only we can enter.
TEST_F(PathsTest, ScratchFileLivesInAFolderOfOurOwn)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vistrel-paths-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "shared");
    fs::create_directories(dir / "runtime");
    fs::create_directories(dir / "elsewhere");
    setenv("TMPDIR", (dir / "shared").c_str(), 1);
    // What another user left at the old place.
    std::ofstream(dir / "shared" / "Temp.tmp") << "left by another user";
    fs::create_directory_symlink(dir / "elsewhere", dir / "runtime-link");
    fs::create_directory_symlink(dir / "elsewhere", dir / "runtime" / "vistrel-link");

    struct Case {
        std::string strRuntime;  // XDG_RUNTIME_DIR, empty for unset
        fs::path expectedFolder; // empty: a folder made in the temp folder
    };
    const Case cases[] = {
        {"", {}},
        {"relative/run", {}},
        {(dir / "runtime").string(), dir / "runtime" / "vistrel"},
        // A runtime folder that is itself a symlink is fine: what it holds is checked.
        {(dir / "runtime-link").string(), dir / "runtime-link" / "vistrel"},
    };
    for (const Case& c : cases) {
        if (!c.strRuntime.empty())
            setenv("XDG_RUNTIME_DIR", c.strRuntime.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        const fs::path path = MapDesignPath("C:\\Temp.tmp");
        EXPECT_EQ(MapDesignPath("c:\\temp.TMP"), path.string());
        ASSERT_EQ(path.filename(), "Temp.tmp");
        if (!c.expectedFolder.empty())
            EXPECT_EQ(path.parent_path(), c.expectedFolder);
        else
            EXPECT_EQ(path.parent_path().parent_path(), dir / "shared") << path;
        EXPECT_NE(path, dir / "shared" / "Temp.tmp");
        struct stat st {};
        ASSERT_EQ(lstat(path.parent_path().c_str(), &st), 0) << path;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << path;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << path;
        EXPECT_EQ(st.st_uid, getuid());
    }
    // A "vistrel" entry in the runtime folder that is a symlink or open to others is passed over.
    fs::remove(dir / "runtime" / "vistrel");
    fs::rename(dir / "runtime" / "vistrel-link", dir / "runtime" / "vistrel");
    setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
    EXPECT_EQ(fs::path(MapDesignPath("C:\\Temp.tmp")).parent_path().parent_path(), dir / "shared");
    fs::remove(dir / "runtime" / "vistrel");
    fs::create_directory(dir / "runtime" / "vistrel");
    fs::permissions(dir / "runtime" / "vistrel", fs::perms::owner_all | fs::perms::others_all);
    EXPECT_EQ(fs::path(MapDesignPath("C:\\Temp.tmp")).parent_path().parent_path(), dir / "shared");

    std::ifstream left(dir / "shared" / "Temp.tmp");
    std::string strLeft;
    std::getline(left, strLeft);
    EXPECT_EQ(strLeft, "left by another user");
    unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(dir);
}

// The videos folder as xdg-user-dir VIDEOS gives it, which holds an installed copy's downloads.
TEST_F(PathsTest, VideosFolderFollowsTheUsersDirectoriesFile)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vistrel-videos-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "config");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    const struct {
        const char* pszFile; // user-dirs.dirs, nullptr for none
        const char* pszExpected;
    } cases[] = {
        {nullptr, "/home/tester"},
        {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\n", "/home/tester/Videos"},
        {"# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"/srv/videos/\"\n", "/srv/videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/Vid\u00e9os\"\n", "/home/tester/Vid\u00e9os"},
        // Broken lines are passed over, as xdg-user-dir does.
        {"XDG_VIDEOS_DIR=\"relative\"\n", "/home/tester"},
        {"XDG_VIDEOS_DIR=\"$HOME/unterminated\n", "/home/tester"},
    };
    for (const auto& c : cases) {
        fs::remove(dir / "config" / "user-dirs.dirs");
        if (c.pszFile != nullptr)
            std::ofstream(dir / "config" / "user-dirs.dirs") << c.pszFile;
        EXPECT_EQ(GetVideosFolder(), c.pszExpected) << (c.pszFile != nullptr ? c.pszFile : "no file");
    }
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir);
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
