#include "platform/paths.h"

#include "platform/module.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <pwd.h>
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

} // namespace

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
    if (EqualsNoCase(strPath, "C:\\Temp.tmp"))
        return GetTempFolder() + "/Temp.tmp";
    // "D:" alone or "D:\..." lands in the home folder; the drive letter has no meaning here.
    std::string strRest = Slashes(strPath.substr(2));
    if (strRest.empty() || strRest.front() != '/')
        strRest.insert(strRest.begin(), '/');
    const std::string strHome = GetHomeFolder();
    return strHome.back() == '/' ? strHome + strRest.substr(1) : strHome + strRest;
}

std::string GetProgramFilePath(const std::string& strFileName)
{
    return GetProgramFolder() + Slashes(strFileName);
}
