// libFuzzer target: the class registry file's parser. Any text is read without a fault; what it
// reads is written back in a form that reads back to exactly the same keys and values, and
// unreadable lines are reported (the file is then never written over).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/com/regformat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t nLen)
{
    const std::string_view strText(reinterpret_cast<const char*>(pbData), nLen);
    const RegistryHive hive = ParseRegistryText(strText);
    for (const RegistryKey& key : hive.keys)
        if (!regformat::ValidKey(key.strName))
            std::abort();
    const RegistryHive again = ParseRegistryText(FormatRegistryText(hive));
    if (again.bDamaged || again.keys != hive.keys)
        std::abort();
    return 0;
}
