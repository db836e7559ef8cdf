// vistrel-regsvr [-u] MODULE.so
//
// Registers (or with -u unregisters) the classes of a component module: loads it and calls
// its DllRegisterServer or DllUnregisterServer, which write the class registry of the program
// folder (VISTREL_HOME when set).
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>

#include "platform/com/comapi.h"
#include "platform/com/server.h"

namespace {

enum ExitCode { EXIT_OK = 0, EXIT_CALL_FAILED = 1, EXIT_USAGE = 2, EXIT_LOAD_FAILED = 3, EXIT_NO_ENTRY = 4 };

int Usage()
{
    std::fprintf(stderr, "usage: vistrel-regsvr [-u] MODULE.so\n"
                         "  registers the component classes of MODULE.so; -u unregisters them\n");
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv)
{
    bool bUnregister = false;
    const char* pszModule = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 && pszModule == nullptr)
            bUnregister = true;
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return Usage(), EXIT_OK;
        else if (argv[i][0] != '-' && pszModule == nullptr)
            pszModule = argv[i];
        else
            return Usage();
    }
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
