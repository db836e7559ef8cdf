// The class factory of a class built into this layer (graph, mapper), registered with
// CoRegisterClassObject when the class's file is linked in. Static and uncounted, so it never
// keeps a module from unloading.
#pragma once

#include "platform/com/comapi.h"

class CBuiltinClassFactory final : public IClassFactory {
public:
    using PfnCreate = CUnknown* (*)(IUnknown* pUnkOuter, HRESULT* phr);

    CBuiltinClassFactory(REFCLSID rclsid, PfnCreate pfnCreate) : m_pfnCreate(pfnCreate)
    {
        DWORD dwCookie = 0;
        CoRegisterClassObject(rclsid, this, CLSCTX_INPROC_SERVER, 0, &dwCookie);
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory)
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr && riid != IID_IUnknown)
            return E_NOINTERFACE;
        HRESULT hr = S_OK;
        CUnknown* pObject = m_pfnCreate(pUnkOuter, &hr);
        if (pObject == nullptr)
            return FAILED(hr) ? hr : E_OUTOFMEMORY;
        pObject->NonDelegatingAddRef();
        if (SUCCEEDED(hr))
            hr = pObject->NonDelegatingQueryInterface(riid, ppv);
        pObject->NonDelegatingRelease();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    PfnCreate m_pfnCreate;
};
