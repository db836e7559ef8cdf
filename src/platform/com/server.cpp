#include "platform/com/server.h"

#include <cstdlib>
#include <dlfcn.h>
#include <limits.h>

#include "platform/com/registry.h"

std::atomic<long> CClassFactory::m_cLocked{0};

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject("Class factory"), m_pTemplate(pTemplate)
{
}

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef()
{
    return static_cast<ULONG>(++m_cRef);
}

ULONG CClassFactory::Release()
{
    const long cRef = --m_cRef;
    if (cRef == 0)
        delete this;
    return static_cast<ULONG>(cRef);
}

HRESULT CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    // An aggregating outer object may only ask for the inner IUnknown.
    if (pUnkOuter != nullptr && riid != IID_IUnknown)
        return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* pObject = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    if (pObject == nullptr)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        // Never referenced yet: one reference and its release free it.
        pObject->NonDelegatingAddRef();
        pObject->NonDelegatingRelease();
        return hr;
    }
    pObject->NonDelegatingAddRef();
    hr = pObject->NonDelegatingQueryInterface(riid, ppv);
    pObject->NonDelegatingRelease();
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL bLock)
{
    if (bLock)
        ++m_cLocked;
    else if (m_cLocked.load() > 0)
        --m_cLocked;
    return S_OK;
}

HRESULT ComServerGetClassObject(const CFactoryTemplate* pTemplates, int nTemplates, REFCLSID rclsid,
                                REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory)
        return E_NOINTERFACE;
    for (int i = 0; i < nTemplates; ++i) {
        if (!pTemplates[i].IsClassID(rclsid))
            continue;
        auto* pFactory = new (std::nothrow) CClassFactory(&pTemplates[i]);
        if (pFactory == nullptr)
            return E_OUTOFMEMORY;
        pFactory->AddRef();
        *ppv = static_cast<IClassFactory*>(pFactory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComServerCanUnloadNow()
{
    return CBaseObject::ObjectsActive() == 0 && !CClassFactory::IsLocked() ? S_OK : S_FALSE;
}

std::string GetModuleFileNameOf(const void* pAddressInModule)
{
    Dl_info info{};
    if (dladdr(pAddressInModule, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0')
        return std::string();
    char szReal[PATH_MAX];
    if (realpath(info.dli_fname, szReal) != nullptr)
        return szReal;
    return info.dli_fname;
}

HRESULT AMovieSetupRegisterServer(REFCLSID clsServer, const std::string& strDescription,
                                  const std::string& strFileName, const std::string& strThreadingModel,
                                  const std::string& strServerType)
{
    const CRegistry registry = CRegistry::ClassesRoot();
    const std::string strKey = "CLSID\\" + GuidToString(clsServer);
    DWORD dwError = registry.SetValue(strKey, "", strDescription);
    if (dwError == ERROR_SUCCESS)
        dwError = registry.SetValue(strKey + "\\" + strServerType, "", strFileName);
    if (dwError == ERROR_SUCCESS)
        dwError = registry.SetValue(strKey + "\\" + strServerType, "ThreadingModel", strThreadingModel);
    return HRESULT_FROM_WIN32(dwError);
}

HRESULT AMovieSetupUnregisterServer(REFCLSID clsServer)
{
    const DWORD dwError = CRegistry::ClassesRoot().DeleteTree("CLSID\\" + GuidToString(clsServer));
    // Already gone is what was asked for.
    return dwError == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(dwError);
}
