#include "platform/module.h"

#include <cstdlib>
#include <limits.h>
#include <unistd.h>

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

std::string GetProgramFolder()
{
    // Read on every call: tests point VISTREL_HOME at a fresh folder per case.
    const char* pszHome = std::getenv("VISTREL_HOME");
    if (pszHome != nullptr && *pszHome != '\0') {
        std::string strFolder(pszHome);
        if (strFolder.back() != '/')
            strFolder += '/';
        return strFolder;
    }
    const std::string strModule = GetModuleFileName();
    const std::size_t nSlash = strModule.rfind('/');
    if (nSlash == std::string::npos)
        return std::string();
    return strModule.substr(0, nSlash + 1);
}
