#include "platform/com/unknown.h"

std::atomic<long> CBaseObject::m_cObjects{0};

CUnknown::CUnknown(const char* pName, IUnknown* pUnkOuter) : CBaseObject(pName)
{
    m_ownUnknown.m_pObject = this;
    m_pUnknown = pUnkOuter != nullptr ? pUnkOuter : &m_ownUnknown;
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown)
        return GetInterface(&m_ownUnknown, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef()
{
    return static_cast<ULONG>(++m_cRef);
}

ULONG CUnknown::NonDelegatingRelease()
{
    const long cRef = --m_cRef;
    if (cRef == 0) {
        // A destructor that hands out and drops references (pins asking their filter) must not
        // come back here and delete twice.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(cRef);
}

HRESULT GetInterface(IUnknown* pUnk, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}
