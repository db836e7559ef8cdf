#include "platform/com/registry.h"

#include "platform/buildinfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/com/hresult.h"
#include "platform/com/regformat.h"

namespace {

constexpr const char* kFileName = "Classes.reg";

using Key = RegistryKey;
using Hive = RegistryHive;
using regformat::IsBelow;
using regformat::SameName;
using regformat::ValidKey;

DWORD ErrorFromErrno(int nErr)
{
    switch (nErr) {
    case ENOENT:
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_WRITE_FAULT;
    }
}

// Holds the registry's lock file (beside it) for one operation; shared for reading.
class CFileLock {
public:
    CFileLock(const std::string& strPath, bool bExclusive)
    {
        m_fd = ::open((strPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            m_dwError = ErrorFromErrno(errno);
            return;
        }
        while (::flock(m_fd, bExclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                m_dwError = ErrorFromErrno(errno);
                return;
            }
        }
    }
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;
    ~CFileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DWORD Error() const { return m_dwError; }

private:
    int m_fd = -1;
    DWORD m_dwError = ERROR_SUCCESS;
};

// A missing file is an empty registry.
DWORD Load(const std::string& strPath, Hive* pHive)
{
    *pHive = Hive();
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ErrorFromErrno(errno);
    std::string strText;
    char ach[4096];
    for (;;) {
        const ssize_t n = ::read(fd, ach, sizeof(ach));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const DWORD dwError = ErrorFromErrno(errno);
            ::close(fd);
            return dwError;
        }
        if (n == 0)
            break;
        strText.append(ach, static_cast<std::size_t>(n));
    }
    ::close(fd);
    *pHive = ParseRegistryText(strText);
    return ERROR_SUCCESS;
}

// Written beside the file and renamed over it: readers see the old or the new file, whole.
DWORD Save(const std::string& strPath, const Hive& hive)
{
    const std::string strText = FormatRegistryText(hive);
    const std::string strTemp = strPath + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ErrorFromErrno(errno);
    std::size_t nDone = 0;
    while (nDone < strText.size()) {
        const ssize_t n = ::write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const DWORD dwError = ErrorFromErrno(errno);
            ::close(fd);
            ::unlink(strTemp.c_str());
            return dwError;
        }
        nDone += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const DWORD dwError = ErrorFromErrno(errno);
        ::unlink(strTemp.c_str());
        return dwError;
    }
    if (::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        const DWORD dwError = ErrorFromErrno(errno);
        ::unlink(strTemp.c_str());
        return dwError;
    }
    return ERROR_SUCCESS;
}

Key* FindKey(Hive& hive, const std::string& strKey)
{
    for (Key& key : hive.keys)
        if (SameName(key.strName, strKey))
            return &key;
    return nullptr;
}

// Creates the key and every missing parent; returns the key.
Key* CreateKeyIn(Hive& hive, const std::string& strKey)
{
    std::size_t nPos = 0;
    for (;;) {
        nPos = strKey.find('\\', nPos);
        const std::string strPart = strKey.substr(0, nPos);
        if (FindKey(hive, strPart) == nullptr)
            hive.keys.push_back(Key{strPart, {}});
        if (nPos == std::string::npos)
            break;
        ++nPos;
    }
    return FindKey(hive, strKey);
}

// Read, change, write back under the exclusive lock. The change returns ERROR_SUCCESS to have
// the file written.
template <class F> DWORD Modify(const std::string& strPath, F change)
{
    CFileLock lock(strPath, true);
    if (lock.Error() != ERROR_SUCCESS)
        return lock.Error();
    Hive hive;
    DWORD dwError = Load(strPath, &hive);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    // Writing back a file with unreadable lines would lose them; leave it for a person to mend.
    if (hive.bDamaged)
        return ERROR_INVALID_DATA;
    dwError = change(hive);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    return Save(strPath, hive);
}

DWORD Read(const std::string& strPath, Hive* pHive)
{
    CFileLock lock(strPath, false);
    if (lock.Error() != ERROR_SUCCESS)
        return Load(strPath, pHive); // a read-only folder can still be read
    return Load(strPath, pHive);
}

// The user's hive with the machine's keys and values it does not have itself added.
DWORD ReadLayered(const std::string& strPath, const std::string& strMachinePath, Hive* pHive)
{
    DWORD dwError = Read(strPath, pHive);
    if (dwError != ERROR_SUCCESS || strMachinePath.empty())
        return dwError;
    Hive machine;
    dwError = Read(strMachinePath, &machine);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    for (const Key& key : machine.keys) {
        Key* pKey = FindKey(*pHive, key.strName);
        if (pKey == nullptr) {
            pHive->keys.push_back(key);
            continue;
        }
        for (const auto& machineValue : key.values)
            if (std::none_of(pKey->values.begin(), pKey->values.end(),
                             [&](const auto& value) { return SameName(value.first, machineValue.first); }))
                pKey->values.insert(machineValue);
    }
    pHive->bDamaged = pHive->bDamaged || machine.bDamaged;
    return ERROR_SUCCESS;
}

// $XDG_CONFIG_HOME/vistrel/ (else ~/.config/vistrel/), made private to the user when missing;
// as platform/module resolves it.
std::string UserConfigFolder()
{
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    const char* pszHome = std::getenv("HOME");
    std::string strFolder;
    if (pszConfig != nullptr && *pszConfig == '/')
        strFolder = std::string(pszConfig) + "/";
    else if (pszHome != nullptr && *pszHome == '/')
        strFolder = std::string(pszHome) + "/.config/";
    else
        return std::string();
    ::mkdir(strFolder.c_str(), 0700);
    strFolder += "vistrel/";
    ::mkdir(strFolder.c_str(), 0700);
    return strFolder;
}

} // namespace

CRegistry::CRegistry(std::string strPath, std::string strMachinePath)
    : m_strPath(std::move(strPath)), m_strMachinePath(std::move(strMachinePath))
{
}

CRegistry CRegistry::ClassesRoot()
{
    // The program folder, as platform/module resolves it (this layer does without Qt); an
    // installed copy shares one registry, which the package's scripts write.
    std::string strFolder;
    const char* pszHome = std::getenv("VISTREL_HOME");
    if (pszHome != nullptr && *pszHome != '\0') {
        strFolder = pszHome;
        if (strFolder.back() != '/')
            strFolder += '/';
    } else {
        char szPath[PATH_MAX];
        const ssize_t nLen = ::readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
        if (nLen > 0) {
            strFolder.assign(szPath, static_cast<std::size_t>(nLen));
            strFolder.erase(strFolder.rfind('/') + 1);
        }
        if (strFolder == VISTREL_INSTALL_BINDIR "/") {
            const std::string strMachine = VISTREL_INSTALL_STATEDIR "/" + std::string(kFileName);
            const std::string strUser = ::geteuid() == 0 ? std::string() : UserConfigFolder();
            return strUser.empty() ? CRegistry(strMachine) : CRegistry(strUser + kFileName, strMachine);
        }
    }
    return CRegistry(strFolder + kFileName);
}

DWORD CRegistry::CreateKey(const std::string& strKey) const
{
    if (!ValidKey(strKey))
        return ERROR_INVALID_PARAMETER;
    return Modify(m_strPath, [&](Hive& hive) {
        CreateKeyIn(hive, strKey);
        return ERROR_SUCCESS;
    });
}

DWORD CRegistry::SetValue(const std::string& strKey, const std::string& strName,
                          const std::string& strValue) const
{
    if (!ValidKey(strKey))
        return ERROR_INVALID_PARAMETER;
    return Modify(m_strPath, [&](Hive& hive) {
        CreateKeyIn(hive, strKey)->values[strName] = strValue;
        return ERROR_SUCCESS;
    });
}

DWORD CRegistry::GetValue(const std::string& strKey, const std::string& strName, std::string* pValue) const
{
    Hive hive;
    const DWORD dwError = ReadLayered(m_strPath, m_strMachinePath, &hive);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    const Key* pKey = FindKey(hive, strKey);
    if (pKey == nullptr)
        return ERROR_FILE_NOT_FOUND;
    for (const auto& [strValueName, strValue] : pKey->values) {
        if (SameName(strValueName, strName)) {
            *pValue = strValue;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

bool CRegistry::KeyExists(const std::string& strKey) const
{
    Hive hive;
    return ReadLayered(m_strPath, m_strMachinePath, &hive) == ERROR_SUCCESS &&
           FindKey(hive, strKey) != nullptr;
}

std::vector<std::string> CRegistry::EnumSubKeys(const std::string& strKey) const
{
    std::vector<std::string> vNames;
    Hive hive;
    if (ReadLayered(m_strPath, m_strMachinePath, &hive) != ERROR_SUCCESS)
        return vNames;
    for (const Key& key : hive.keys) {
        if (IsBelow(key.strName, strKey) && key.strName.find('\\', strKey.size() + 1) == std::string::npos)
            vNames.push_back(key.strName.substr(strKey.size() + 1));
    }
    return vNames;
}

DWORD CRegistry::DeleteTree(const std::string& strKey) const
{
    if (!ValidKey(strKey))
        return ERROR_INVALID_PARAMETER;
    return Modify(m_strPath, [&](Hive& hive) {
        const std::size_t nBefore = hive.keys.size();
        std::erase_if(hive.keys, [&](const Key& key) {
            return SameName(key.strName, strKey) || IsBelow(key.strName, strKey);
        });
        return hive.keys.size() == nBefore ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
}

DWORD CRegistry::ReplaceTree(const std::string& strKey, const std::vector<Change>& vChanges) const
{
    if (!ValidKey(strKey))
        return ERROR_INVALID_PARAMETER;
    for (const Change& change : vChanges)
        if (!ValidKey(change.strKey) || !(SameName(change.strKey, strKey) || IsBelow(change.strKey, strKey)))
            return ERROR_INVALID_PARAMETER;
    return Modify(m_strPath, [&](Hive& hive) {
        std::erase_if(hive.keys, [&](const Key& key) {
            return SameName(key.strName, strKey) || IsBelow(key.strName, strKey);
        });
        CreateKeyIn(hive, strKey);
        for (const Change& change : vChanges)
            CreateKeyIn(hive, change.strKey)->values[change.strName] = change.strValue;
        return ERROR_SUCCESS;
    });
}

DWORD CRegistry::ReadTree(const std::string& strKey, std::vector<std::pair<std::string, Values>>* pKeys) const
{
    pKeys->clear();
    Hive hive;
    const DWORD dwError = ReadLayered(m_strPath, m_strMachinePath, &hive);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    for (const Key& key : hive.keys)
        if (SameName(key.strName, strKey) || IsBelow(key.strName, strKey))
            pKeys->emplace_back(key.strName, key.values);
    return pKeys->empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}
