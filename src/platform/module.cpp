#include "platform/module.h"

#include "platform/buildinfo.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string WithSlash(std::string strFolder)
{
    if (!strFolder.empty() && strFolder.back() != '/')
        strFolder += '/';
    return strFolder;
}

std::string HomeOverride()
{
    const char* pszHome = std::getenv("VISTREL_HOME");
    return pszHome != nullptr && *pszHome != '\0' ? WithSlash(pszHome) : std::string();
}

std::string UserHome()
{
    const char* pszHome = std::getenv("HOME");
    if (pszHome != nullptr && *pszHome == '/')
        return pszHome;
    long nSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(nSize > 0 ? static_cast<std::size_t>(nSize) : 16384);
    passwd pw{};
    passwd* pResult = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &pResult) == 0 && pResult != nullptr &&
        pResult->pw_dir != nullptr)
        return pResult->pw_dir;
    return "/tmp";
}

// $VAR when it is an absolute path (the XDG rule: relative values are ignored), else
// $HOME/fallback; with "/vistrel/" appended.
std::string XdgFolder(const char* pszVar, const char* pszFallback)
{
    const char* pszValue = std::getenv(pszVar);
    const std::string strBase =
        pszValue != nullptr && *pszValue == '/' ? std::string(pszValue) : WithSlash(UserHome()) + pszFallback;
    return WithSlash(strBase) + "vistrel/";
}

// Makes each missing folder of the path; the last one only for this user.
void MakeFolders(const std::string& strFolder)
{
    for (std::size_t nSlash = strFolder.find('/', 1); nSlash != std::string::npos;
         nSlash = strFolder.find('/', nSlash + 1)) {
        const bool bLast = nSlash + 1 == strFolder.size();
        ::mkdir(strFolder.substr(0, nSlash).c_str(), bLast ? 0700 : 0755);
    }
}

// Copies a default file of the data folder unless the user already has one. The copy is the
// user's alone: settings may come to hold secrets.
void CopyDefault(const std::string& strFolder, const char* pszName)
{
    const std::string strTo = strFolder + pszName;
    const int nIn = ::open((WithSlash(VISTREL_INSTALL_DATADIR) + pszName).c_str(), O_RDONLY | O_CLOEXEC);
    if (nIn < 0)
        return;
    const int nOut = ::open(strTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (nOut >= 0) {
        char buffer[8192];
        ssize_t nRead;
        bool bOk = true;
        while (bOk && (nRead = ::read(nIn, buffer, sizeof buffer)) > 0)
            bOk = ::write(nOut, buffer, static_cast<std::size_t>(nRead)) == nRead;
        if (::close(nOut) != 0 || !bOk)
            ::unlink(strTo.c_str()); // half a default would be read as the user's settings
    }
    ::close(nIn);
}

} // namespace

std::string GetModuleFileName()
{
    // The executable cannot change while it runs, so it is resolved once.
    static const std::string strModule = [] {
        char szPath[PATH_MAX];
        const ssize_t nLen = readlink("/proc/self/exe", szPath, sizeof(szPath));
        if (nLen <= 0 || static_cast<std::size_t>(nLen) >= sizeof(szPath))
            return std::string();
        return std::string(szPath, static_cast<std::size_t>(nLen));
    }();
    return strModule;
}

bool IsInstalledCopy()
{
    const std::string strModule = GetModuleFileName();
    const std::size_t nSlash = strModule.rfind('/');
    return nSlash != std::string::npos && strModule.compare(0, nSlash, VISTREL_INSTALL_BINDIR) == 0 &&
           nSlash == std::string(VISTREL_INSTALL_BINDIR).size();
}

std::string GetProgramFolder()
{
    // Read on every call: tests point VISTREL_HOME at a fresh folder per case.
    std::string strFolder = HomeOverride();
    if (!strFolder.empty())
        return strFolder;
    if (IsInstalledCopy()) {
        strFolder = XdgFolder("XDG_CONFIG_HOME", ".config");
        static std::once_flag s_prepared;
        std::call_once(s_prepared, [&] {
            MakeFolders(strFolder);
            CopyDefault(strFolder, "Vistrel.ini");
            CopyDefault(strFolder, "CameraType.ini");
        });
        return strFolder;
    }
    const std::string strModule = GetModuleFileName();
    const std::size_t nSlash = strModule.rfind('/');
    if (nSlash == std::string::npos)
        return std::string();
    return strModule.substr(0, nSlash + 1);
}

std::string GetLogFolder()
{
    if (!HomeOverride().empty() || !IsInstalledCopy())
        return GetProgramFolder();
    std::string strFolder = XdgFolder("XDG_STATE_HOME", ".local/state");
    MakeFolders(strFolder);
    return strFolder;
}

std::string GetDataFolder()
{
    if (!HomeOverride().empty() || !IsInstalledCopy())
        return GetProgramFolder();
    return WithSlash(VISTREL_INSTALL_DATADIR);
}
