#include "platform/com/comapi.h"

#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/server.h"

namespace {

struct LoadedModule {
    std::string strPath;
    void* hModule;
    PFN_DllGetClassObject pfnGetClassObject;
    PFN_DllCanUnloadNow pfnCanUnloadNow; // may be null: such a module stays loaded
};

struct ClassEntry {
    DWORD dwCookie;
    CLSID clsid;
    IUnknown* pUnk; // referenced
};

struct ComState {
    std::mutex mutex;
    long cInit = 0;
    std::vector<LoadedModule> modules;
    std::vector<ClassEntry> classes;
    DWORD dwNextCookie = 1;
};

ComState& State()
{
    // Made by the first registration (static initialisers of the classes built in), so it outlives
    // them; in a module it goes with the module, leaving nothing behind when the module unloads.
    static ComState state;
    return state;
}

} // namespace

HRESULT CoInitialize(void* pReserved)
{
    return CoInitializeEx(pReserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD)
{
    ComState& state = State();
    std::lock_guard lock(state.mutex);
    return state.cInit++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    {
        ComState& state = State();
        std::lock_guard lock(state.mutex);
        if (state.cInit == 0 || --state.cInit > 0)
            return;
    }
    CoFreeUnusedLibraries();
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD, DWORD, DWORD* pdwRegister)
{
    if (pUnk == nullptr || pdwRegister == nullptr)
        return E_INVALIDARG;
    ComState& state = State();
    std::lock_guard lock(state.mutex);
    pUnk->AddRef();
    *pdwRegister = state.dwNextCookie++;
    state.classes.push_back(ClassEntry{*pdwRegister, rclsid, pUnk});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister)
{
    IUnknown* pUnk = nullptr;
    {
        ComState& state = State();
        std::lock_guard lock(state.mutex);
        for (auto it = state.classes.begin(); it != state.classes.end(); ++it) {
            if (it->dwCookie == dwRegister) {
                pUnk = it->pUnk;
                state.classes.erase(it);
                break;
            }
        }
    }
    if (pUnk == nullptr)
        return E_INVALIDARG;
    pUnk->Release();
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;

    ComState& state = State();
    IUnknown* pRegistered = nullptr;
    {
        std::lock_guard lock(state.mutex);
        for (const ClassEntry& entry : state.classes) {
            if (entry.clsid == rclsid) {
                pRegistered = entry.pUnk;
                pRegistered->AddRef();
                break;
            }
        }
    }
    if (pRegistered != nullptr) {
        const HRESULT hr = pRegistered->QueryInterface(riid, ppv);
        pRegistered->Release();
        return hr;
    }

    std::string strPath;
    const DWORD dwError = CRegistry::ClassesRoot().GetValue(
        "CLSID\\" + GuidToString(rclsid) + "\\InprocServer32", "", &strPath);
    if (dwError != ERROR_SUCCESS || strPath.empty())
        return REGDB_E_CLASSNOTREG;

    PFN_DllGetClassObject pfnGetClassObject = nullptr;
    {
        // Held across dlopen: two threads creating the same class load the module once.
        std::lock_guard lock(state.mutex);
        for (const LoadedModule& module : state.modules)
            if (module.strPath == strPath)
                pfnGetClassObject = module.pfnGetClassObject;
        if (pfnGetClassObject == nullptr) {
            void* hModule = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (hModule == nullptr)
                return CO_E_DLLNOTFOUND;
            pfnGetClassObject = reinterpret_cast<PFN_DllGetClassObject>(dlsym(hModule, "DllGetClassObject"));
            if (pfnGetClassObject == nullptr) {
                dlclose(hModule);
                return CO_E_ERRORINDLL;
            }
            auto pfnCanUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(hModule, "DllCanUnloadNow"));
            state.modules.push_back(LoadedModule{strPath, hModule, pfnGetClassObject, pfnCanUnloadNow});
        }
    }
    return pfnGetClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory* pFactory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr))
        return hr;
    hr = pFactory->CreateInstance(pUnkOuter, riid, ppv);
    pFactory->Release();
    return hr;
}

void CoFreeUnusedLibraries()
{
    ComState& state = State();
    std::lock_guard lock(state.mutex);
    std::erase_if(state.modules, [](const LoadedModule& module) {
        if (module.pfnCanUnloadNow == nullptr || module.pfnCanUnloadNow() != S_OK)
            return false;
        dlclose(module.hModule);
        return true;
    });
}

std::size_t CoLoadedLibraryCount()
{
    ComState& state = State();
    std::lock_guard lock(state.mutex);
    return state.modules.size();
}

void* CoTaskMemAlloc(std::size_t cb)
{
    return std::malloc(cb == 0 ? 1 : cb);
}

void* CoTaskMemRealloc(void* pv, std::size_t cb)
{
    return std::realloc(pv, cb == 0 ? 1 : cb);
}

void CoTaskMemFree(void* pv)
{
    std::free(pv);
}
