#include "platform/paths.h"

#include "platform/module.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Slashes(std::string strPath)
{
    std::replace(strPath.begin(), strPath.end(), '\\', '/');
    return strPath;
}

std::string WithoutTrailingSlash(std::string strFolder)
{
    while (strFolder.size() > 1 && strFolder.back() == '/')
        strFolder.pop_back();
    return strFolder;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsDrivePath(const std::string& strPath)
{
    return strPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(strPath[0])) && strPath[1] == ':';
}

// A folder that is ours alone: a real folder (not a symlink), owned by us, closed to others.
bool IsPrivateFolder(const std::string& strFolder)
{
    struct stat st {};
    return ::lstat(strFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

std::string g_strMadeTempFolder;

void RemoveMadeTempFolder()
{
    ::unlink((g_strMadeTempFolder + "/Temp.tmp").c_str());
    ::rmdir(g_strMadeTempFolder.c_str());
}

} // namespace

std::string GetPrivateTempFolder()
{
    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime != nullptr && *pszRuntime == '/') {
        std::string strFolder = WithoutTrailingSlash(pszRuntime) + "/vistrel";
        ::mkdir(strFolder.c_str(), 0700);
        if (IsPrivateFolder(strFolder))
            return strFolder;
    }
    static std::mutex s_mutex;
    std::lock_guard<std::mutex> lock(s_mutex);
    if (g_strMadeTempFolder.empty() || !IsPrivateFolder(g_strMadeTempFolder)) {
        std::string strTemplate = GetTempFolder() + "/vistrel-XXXXXX";
        if (::mkdtemp(strTemplate.data()) == nullptr)
            return std::string();
        static const bool s_bAtExit = std::atexit(RemoveMadeTempFolder) == 0;
        (void)s_bAtExit;
        g_strMadeTempFolder = strTemplate;
    }
    return g_strMadeTempFolder;
}

std::string GetVideosFolder()
{
    std::string strHome = GetHomeFolder();
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string strConfig =
        pszConfig != nullptr && *pszConfig == '/' ? WithoutTrailingSlash(pszConfig) : strHome + "/.config";
    // Lines of the form XDG_VIDEOS_DIR="$HOME/Videos" (an absolute path or one under $HOME).
    std::ifstream file(strConfig + "/user-dirs.dirs");
    std::string strLine;
    const std::string strKey = "XDG_VIDEOS_DIR=\"";
    while (std::getline(file, strLine)) {
        if (strLine.compare(0, strKey.size(), strKey) != 0)
            continue;
        const std::size_t nEnd = strLine.find('"', strKey.size());
        if (nEnd == std::string::npos)
            break;
        std::string strValue = strLine.substr(strKey.size(), nEnd - strKey.size());
        if (strValue.compare(0, 5, "$HOME") == 0)
            strValue.replace(0, 5, strHome);
        if (!strValue.empty() && strValue.front() == '/')
            return WithoutTrailingSlash(strValue);
    }
    return strHome;
}

std::string GetTempFolder()
{
    const char* pszTemp = std::getenv("TMPDIR");
    if (pszTemp != nullptr && *pszTemp != '\0')
        return WithoutTrailingSlash(pszTemp);
    return "/tmp";
}

std::string GetHomeFolder()
{
    const char* pszHome = std::getenv("HOME");
    if (pszHome != nullptr && *pszHome != '\0')
        return WithoutTrailingSlash(pszHome);
    long nSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(nSize > 0 ? static_cast<std::size_t>(nSize) : 16384);
    passwd pw{};
    passwd* pResult = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr &&
        pResult->pw_dir != nullptr && *pResult->pw_dir != '\0')
        return WithoutTrailingSlash(pResult->pw_dir);
    // Without any home the temp folder still gives the files a writable place.
    return GetTempFolder();
}

std::string MapDesignPath(const std::string& strPath)
{
    if (!IsDrivePath(strPath))
        return Slashes(strPath);
    if (EqualsNoCase(strPath, "C:\\Temp.tmp")) {
        // No private folder, no scratch file: the snapshot then fails rather than use a shared one.
        const std::string strFolder = GetPrivateTempFolder();
        return strFolder.empty() ? std::string() : strFolder + "/Temp.tmp";
    }
    if (IsInstalledCopy() && GetDataFolder() != GetProgramFolder() &&
        EqualsNoCase(strPath, "D:\\Vistrel\\Record\\"))
        return GetVideosFolder() + "/Vistrel/";
    // "D:" alone or "D:\..." lands in the home folder; the drive letter has no meaning here.
    std::string strRest = Slashes(strPath.substr(2));
    if (strRest.empty() || strRest.front() != '/')
        strRest.insert(strRest.begin(), '/');
    const std::string strHome = GetHomeFolder();
    return strHome.back() == '/' ? strHome + strRest.substr(1) : strHome + strRest;
}

std::string GetProgramFilePath(const std::string& strFileName)
{
    return GetDataFolder() + Slashes(strFileName);
}
