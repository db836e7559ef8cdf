// The in-process server side: what a module built as a component needs to serve its classes.
//
// A module lists its classes in a table of CFactoryTemplate and writes its four exports with
// the helpers below:
//
//     COM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
//     { return ComServerGetClassObject(g_Templates, g_cTemplates, rclsid, riid, ppv); }
//     COM_EXPORT HRESULT DllCanUnloadNow() { return ComServerCanUnloadNow(); }
//
// Build a module with hidden visibility (vistrel_add_com_module does), so that its copy of
// this layer, and with it its object and lock counts, stays its own.
#pragma once

#include <string>

#include "platform/com/unknown.h"

#define COM_EXPORT extern "C" __attribute__((visibility("default")))

using WCHAR = char16_t;
using LPCWSTR = const char16_t*;
using LPWSTR = char16_t*;

struct AMOVIESETUP_FILTER; // the media graph's filter setup data

using LPFNNewCOMObject = CUnknown* (*)(IUnknown* pUnkOuter, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL bLoading, const CLSID* rclsid);

// One class the module serves.
struct CFactoryTemplate {
    LPCWSTR m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;                      // may be null
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter; // null when the class is no filter

    bool IsClassID(REFCLSID rclsid) const { return *m_ClsID == rclsid; }
    CUnknown* CreateInstance(IUnknown* pUnkOuter, HRESULT* phr) const { return m_lpfnNew(pUnkOuter, phr); }
};

// The class factory handed out by DllGetClassObject for one template.
class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL bLock) override;

    static bool IsLocked() { return m_cLocked.load() > 0; }

private:
    std::atomic<long> m_cRef{0};
    const CFactoryTemplate* m_pTemplate;
    static std::atomic<long> m_cLocked;
};

// DllGetClassObject: a factory for the template with that class id, or CLASS_E_CLASSNOTAVAILABLE.
HRESULT ComServerGetClassObject(const CFactoryTemplate* pTemplates, int nTemplates, REFCLSID rclsid,
                                REFIID riid, void** ppv);
// DllCanUnloadNow: S_OK when no object of the module lives and no factory is locked; else S_FALSE.
HRESULT ComServerCanUnloadNow();

// The file a module was loaded from, given any address inside it (dladdr); empty if unknown.
std::string GetModuleFileNameOf(const void* pAddressInModule);

// Writes CLSID\{clsid} (default value = description) and its server subkey (default value =
// file, "ThreadingModel" = threading model). Registry errors come back as HRESULT_FROM_WIN32.
HRESULT AMovieSetupRegisterServer(REFCLSID clsServer, const std::string& strDescription,
                                  const std::string& strFileName,
                                  const std::string& strThreadingModel = "Both",
                                  const std::string& strServerType = "InprocServer32");
// Deletes CLSID\{clsid} with all its subkeys.
HRESULT AMovieSetupUnregisterServer(REFCLSID clsServer);

// The signatures of a module's exports, as CoGetClassObject and vistrel-regsvr resolve them.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();
