// Creating objects by class id.
//
// CoCreateInstance looks first in the classes registered by this process (CoRegisterClassObject:
// the media graph's own graph builder and filter mapper), then in the registry file
// (CLSID\{...}\InprocServer32), whose module it loads with dlopen and asks through
// DllGetClassObject. A loaded module stays loaded until CoFreeUnusedLibraries finds that its
// DllCanUnloadNow says S_OK. All functions are safe to call from any thread.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Counted per process. Objects can be created without it (there are no apartments here); the
// last CoUninitialize frees the libraries that can be unloaded, never one with live objects.
HRESULT CoInitialize(void* pReserved);
HRESULT CoInitializeEx(void* pReserved, DWORD dwCoInit);
void CoUninitialize();

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pServerInfo, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// Makes a class object creatable in this process. *pdwRegister receives the cookie for revoking.
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD dwFlags,
                              DWORD* pdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
// Number of modules currently loaded by CoGetClassObject (for tests and diagnostics).
std::size_t CoLoadedLibraryCount();

// Memory handed across module boundaries (media type format blocks, pin ids).
void* CoTaskMemAlloc(std::size_t cb);
void* CoTaskMemRealloc(void* pv, std::size_t cb);
void CoTaskMemFree(void* pv);
