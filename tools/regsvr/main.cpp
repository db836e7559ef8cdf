// vistrel-regsvr [-u] MODULE.so
// vistrel-regsvr --version [MODULE.so]
//
// Registers (or with -u unregisters) the classes of a component module: loads it and calls
// its DllRegisterServer or DllUnregisterServer, which write the class registry of the program
// folder (VISTREL_HOME when set; /var/lib/vistrel for an installed copy). --version prints the
// package's version, or a module's version note, read from the file without loading it.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/buildinfo.h"
#include "platform/com/comapi.h"
#include "platform/com/server.h"

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_CALL_FAILED = 1, EXIT_USAGE = 2, EXIT_LOAD_FAILED = 3, EXIT_NO_ENTRY = 4 };

int Usage()
{
    std::fprintf(stderr, "usage: vistrel-regsvr [-u] MODULE.so\n"
                         "       vistrel-regsvr --version [MODULE.so]\n"
                         "  registers the component classes of MODULE.so; -u unregisters them;\n"
                         "  --version prints this program's version, or MODULE.so's version note\n");
    return EXIT_USAGE;
}

// The texts of the module's version note (owner "Vistrel", type 1), found through the program
// headers as the loader would; every offset is checked against the file, which may be anything.
bool ReadVersionNote(const std::vector<unsigned char>& file, std::vector<std::string>& vecTexts)
{
    auto fits = [&](std::uint64_t nAt, std::uint64_t nLen) {
        return nAt <= file.size() && nLen <= file.size() - nAt;
    };
    if (!fits(0, sizeof(Elf64_Ehdr)) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0 ||
        file[EI_CLASS] != ELFCLASS64 || file[EI_DATA] != ELFDATA2LSB)
        return false;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (header.e_phentsize != sizeof(Elf64_Phdr))
        return false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        const std::uint64_t nAt = header.e_phoff + std::uint64_t(i) * sizeof segment;
        if (!fits(nAt, sizeof segment))
            return false;
        std::memcpy(&segment, file.data() + nAt, sizeof segment);
        if (segment.p_type != PT_NOTE || !fits(segment.p_offset, segment.p_filesz))
            continue;
        std::uint64_t nNote = segment.p_offset;
        const std::uint64_t nEnd = segment.p_offset + segment.p_filesz;
        while (nEnd - nNote >= sizeof(Elf64_Nhdr)) {
            Elf64_Nhdr note;
            std::memcpy(&note, file.data() + nNote, sizeof note);
            const std::uint64_t nName = nNote + sizeof note;
            const std::uint64_t nDesc = nName + ((std::uint64_t(note.n_namesz) + 3) & ~3ull);
            const std::uint64_t nNext = nDesc + ((std::uint64_t(note.n_descsz) + 3) & ~3ull);
            if (nNext > nEnd)
                break;
            if (note.n_type == 1 && note.n_namesz == 8 &&
                std::memcmp(file.data() + nName, "Vistrel", 8) == 0) {
                const char* pText = reinterpret_cast<const char*>(file.data() + nDesc);
                const char* pEnd = pText + note.n_descsz;
                while (pText < pEnd) {
                    const std::string strText(pText, strnlen(pText, std::size_t(pEnd - pText)));
                    if (!strText.empty())
                        vecTexts.push_back(strText);
                    pText += strText.size() + 1;
                }
                return true;
            }
            nNote = nNext;
        }
    }
    return false;
}

int PrintVersion(const char* pszModule)
{
    if (pszModule == nullptr) {
        std::printf("vistrel-regsvr %s\n", VISTREL_PACKAGE_VERSION);
        return EXIT_OK;
    }
    std::ifstream in(pszModule, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vistrel-regsvr: %s: %s\n", pszModule, std::strerror(errno));
        return EXIT_LOAD_FAILED;
    }
    const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    std::vector<std::string> vecTexts;
    if (!ReadVersionNote(file, vecTexts)) {
        std::fprintf(stderr, "vistrel-regsvr: %s has no version note\n", pszModule);
        return EXIT_NO_ENTRY;
    }
    for (const std::string& strText : vecTexts)
        std::printf("%s\n", strText.c_str());
    return EXIT_OK;
}

} // namespace

int main(int argc, char** argv)
{
    bool bUnregister = false;
    bool bVersion = false;
    const char* pszModule = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 && pszModule == nullptr && !bVersion)
            bUnregister = true;
        else if (std::strcmp(argv[i], "--version") == 0 && pszModule == nullptr && !bUnregister)
            bVersion = true;
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return Usage(), EXIT_OK;
        else if (argv[i][0] != '-' && pszModule == nullptr)
            pszModule = argv[i];
        else
            return Usage();
    }
    if (bVersion)
        return PrintVersion(pszModule);
    if (pszModule == nullptr)
        return Usage();

    // A full path: dlopen would search the library path for a bare name, and the module records
    // the path it was loaded from in the registry.
    char szPath[PATH_MAX];
    if (realpath(pszModule, szPath) == nullptr) {
        std::fprintf(stderr, "vistrel-regsvr: %s: %s\n", pszModule, std::strerror(errno));
        return EXIT_LOAD_FAILED;
    }
    void* hModule = dlopen(szPath, RTLD_NOW | RTLD_LOCAL);
    if (hModule == nullptr) {
        std::fprintf(stderr, "vistrel-regsvr: cannot load %s: %s\n", szPath, dlerror());
        return EXIT_LOAD_FAILED;
    }
    const char* pszEntry = bUnregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto pfnEntry = reinterpret_cast<PFN_DllRegisterServer>(dlsym(hModule, pszEntry));
    if (pfnEntry == nullptr) {
        std::fprintf(stderr, "vistrel-regsvr: %s has no %s\n", szPath, pszEntry);
        dlclose(hModule);
        return EXIT_NO_ENTRY;
    }
    CoInitialize(nullptr);
    const HRESULT hr = pfnEntry();
    CoUninitialize();
    if (FAILED(hr)) {
        std::fprintf(stderr, "vistrel-regsvr: %s in %s failed: 0x%08X\n", pszEntry, szPath, unsigned(hr));
        dlclose(hModule);
        return EXIT_CALL_FAILED;
    }
    std::printf("%s in %s succeeded.\n", pszEntry, szPath);
    dlclose(hModule);
    return EXIT_OK;
}
