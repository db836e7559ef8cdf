// The class registry: the stand-in for HKEY_CLASSES_ROOT.
//
// One human-readable file, "Classes.reg" in the program folder (VISTREL_HOME when set), in the
// familiar .reg layout:
//
//     [CLSID\{6362657A-1111-0010-8000-00AA00389B71}\InprocServer32]
//     @="/usr/lib/vistrel/libZebH264Filter.so"
//     "ThreadingModel"="Both"
//
// Key paths use '\' and compare without case; "" (written @) is a key's default value; values
// are text (UTF-8). Every change re-reads the file under a lock, applies the change and replaces
// the file atomically (write a temporary, fsync, rename), so a reader never sees half a file and
// two processes registering at once do not lose each other's keys. Results are Win32 error
// codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...); HRESULT_FROM_WIN32 turns them into results.
//
// A registry may lie over a machine-wide one, as a user's classes lie over the machine's on
// Windows: reads see both (the user's keys and values first), changes go to the user's file and
// the machine's is never written.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/wintypes.h"

class CRegistry {
public:
    // A registry kept in the given file, over the machine-wide one in strMachinePath if given.
    explicit CRegistry(std::string strPath, std::string strMachinePath = {});

    // The process's registry: "Classes.reg" in VISTREL_HOME, else next to the executable. For
    // an installed copy the package's /var/lib/vistrel/Classes.reg, which only root changes;
    // another user's changes (the program's own filters) go to $XDG_CONFIG_HOME/vistrel/
    // Classes.reg, over it. The path is resolved on every call, so tests may point VISTREL_HOME
    // elsewhere per case.
    static CRegistry ClassesRoot();

    const std::string& Path() const { return m_strPath; }

    // Creates the key and its missing parents.
    DWORD CreateKey(const std::string& strKey) const;
    // Creates the key if needed and sets one value ("" = default value).
    DWORD SetValue(const std::string& strKey, const std::string& strName, const std::string& strValue) const;
    // ERROR_FILE_NOT_FOUND when the key or the value does not exist.
    DWORD GetValue(const std::string& strKey, const std::string& strName, std::string* pValue) const;
    bool KeyExists(const std::string& strKey) const;
    // Names of the direct subkeys, in file order.
    std::vector<std::string> EnumSubKeys(const std::string& strKey) const;
    // Deletes the key with all its subkeys; ERROR_FILE_NOT_FOUND if it does not exist.
    DWORD DeleteTree(const std::string& strKey) const;

    using Values = std::map<std::string, std::string>;
    struct Change {
        std::string strKey;
        std::string strName;
        std::string strValue;
    };
    // Replaces the key's whole subtree by the given values (keys made as needed), in one write:
    // a reader sees the old subtree or the new one, never a mix.
    DWORD ReplaceTree(const std::string& strKey, const std::vector<Change>& vChanges) const;
    // The key and every key below it, with their values, from one read of the file.
    DWORD ReadTree(const std::string& strKey, std::vector<std::pair<std::string, Values>>* pKeys) const;

private:
    std::string m_strPath;
    std::string m_strMachinePath;
};
