// The text form of the class registry file (see registry.h): parsing and writing, apart from
// the file handling so that the parser can be tested and fuzzed on its own.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct RegistryKey {
    std::string strName; // full path, '\' separated
    std::map<std::string, std::string> values;

    bool operator==(const RegistryKey&) const = default;
};

struct RegistryHive {
    std::vector<RegistryKey> keys; // in file order, each key once
    bool bDamaged = false;         // lines that could not be read: never written back over
};

// Reads the text; unreadable lines are skipped and mark the hive damaged.
RegistryHive ParseRegistryText(std::string_view strText);
// Writes a hive so that ParseRegistryText gives it back unchanged.
std::string FormatRegistryText(const RegistryHive& hive);

namespace regformat {
// Key and value names compare without case (ASCII).
bool SameName(const std::string& a, const std::string& b);
// strKey lies below strParent (any depth).
bool IsBelow(const std::string& strKey, const std::string& strParent);
// Non-empty parts separated by single '\', nothing that would break a line.
bool ValidKey(const std::string& strKey);
} // namespace regformat
