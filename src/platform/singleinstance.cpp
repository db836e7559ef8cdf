#include "platform/singleinstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

struct NamedMutexHandle {
    int fd;
};

std::string GetNamedMutexPath(const std::string& strName)
{
    // Windows names may carry a namespace prefix ("Local\x"); keep the file inside the folder.
    std::string strFile;
    for (const char ch : strName)
        strFile += (ch == '/' || ch == '\\') ? '_' : ch;

    const char* pszRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (pszRuntime != nullptr && *pszRuntime != '\0') {
        std::string strPath(pszRuntime);
        if (strPath.back() != '/')
            strPath += '/';
        return strPath + strFile + ".lock";
    }
    // /tmp is shared by all users; the user id keeps one user's instance from blocking another's.
    return "/tmp/" + strFile + "." + std::to_string(getuid()) + ".lock";
}

HMUTEX CreateNamedMutex(const std::string& strName, DWORD* pdwError)
{
    DWORD dwIgnored = 0;
    DWORD& dwError = pdwError != nullptr ? *pdwError : dwIgnored;

    const std::string strPath = GetNamedMutexPath(strName);
    // O_CLOEXEC: a program started by us must not inherit the lock and outlive us holding it.
    // O_NOFOLLOW: the /tmp fallback must not be redirected by someone else's symlink.
    const int fd = open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        dwError = static_cast<DWORD>(errno);
        return nullptr;
    }
    int nRet;
    do {
        nRet = flock(fd, LOCK_EX | LOCK_NB);
    } while (nRet != 0 && errno == EINTR);
    if (nRet != 0) {
        if (errno != EWOULDBLOCK) {
            dwError = static_cast<DWORD>(errno);
            close(fd);
            return nullptr;
        }
        // Like Windows: a handle to the existing object, which the caller may simply close.
        close(fd);
        dwError = ERROR_ALREADY_EXISTS;
        return new NamedMutexHandle{-1};
    }
    dwError = 0;
    return new NamedMutexHandle{fd};
}

bool CloseNamedMutex(HMUTEX hMutex)
{
    if (hMutex == nullptr)
        return false;
    // The lock file stays: removing it would let a late opener lock a different inode.
    if (hMutex->fd >= 0)
        close(hMutex->fd);
    delete hMutex;
    return true;
}
