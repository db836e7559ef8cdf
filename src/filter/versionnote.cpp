// The module's version, readable without loading the module: an ELF note (owner "Vistrel",
// type 1) of zero-ended "key=value" texts, as a Windows module keeps them in its version
// resource. `vistrel-regsvr --version MODULE` prints it; `readelf -n` shows it too.
#include <cstdint>

#define ZEB_VERSION_TEXTS                                                                                    \
    "FileVersion=1.0.1.2\0ProductVersion=1.0.1.2\0FileDescription=ZebH264DecFilter\0"                        \
    "ProductName=ZebH264DecFilter\0OriginalFilename=ZebH264DecFilter\0InternalName=ZebH264"

namespace {

constexpr std::uint32_t Align4(std::uint32_t n)
{
    return (n + 3) & ~3u;
}

struct VersionNote {
    std::uint32_t nNameSize;
    std::uint32_t nDescSize;
    std::uint32_t nType;
    char szName[8];
    char szDesc[Align4(sizeof(ZEB_VERSION_TEXTS))];
};

// A section named .note.* is emitted as a note section, which the linker puts in a PT_NOTE
// segment; "used" keeps it although nothing refers to it.
[[gnu::used, gnu::section(".note.vistrel.version"), gnu::aligned(4)]] const VersionNote g_versionNote = {
    8, sizeof(ZEB_VERSION_TEXTS), 1, "Vistrel", ZEB_VERSION_TEXTS};

} // namespace
