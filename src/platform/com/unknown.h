// Reference-counted component objects: IUnknown, IClassFactory and the base classes that
// implement them once (CUnknown with aggregation, CBaseObject's live-object count that
// DllCanUnloadNow reads).
//
// Interfaces are tables of virtual operations whose slot order matters (a module and its
// caller may be built apart), so interfaces declare no virtual destructor: objects are freed
// by their own Release, never by delete through an interface pointer.
#pragma once

#include <atomic>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

inline constexpr IID IID_IUnknown = MakeGuid("00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IClassFactory = MakeGuid("00000001-0000-0000-C000-000000000046");

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL bLock) = 0;

protected:
    ~IClassFactory() = default;
};

// Counts the objects of this module that are alive. Each module (and the program) links its own
// copy of this layer, so the count is per module, as DllCanUnloadNow needs.
class CBaseObject {
public:
    explicit CBaseObject(const char* pName = nullptr) : m_pName(pName) { ++m_cObjects; }
    // (The count is defined out of line: an inline static would be merged across modules.)
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject() { --m_cObjects; }

    static long ObjectsActive() { return m_cObjects.load(); }
    const char* Name() const { return m_pName; }

private:
    const char* m_pName;
    static std::atomic<long> m_cObjects;
};

// The unknown of an object when it is not aggregated; an aggregating outer object holds it.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

// Reference counting and IUnknown for one object, aggregation-aware: the public IUnknown of a
// derived class forwards (DECLARE_IUNKNOWN) to the owner, which is the object itself unless an
// outer object was given. The object deletes itself when its count reaches zero.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(const char* pName, IUnknown* pUnkOuter);
    ~CUnknown() override = default;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_pUnknown; }

protected:
    std::atomic<long> m_cRef{0};

private:
    // The object's own IUnknown: the non-delegating operations behind the IUnknown slots, which is
    // what an aggregating outer object holds and what identity queries return.
    struct COwnUnknown final : IUnknown {
        CUnknown* m_pObject;
        HRESULT QueryInterface(REFIID riid, void** ppv) override
        {
            return m_pObject->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return m_pObject->NonDelegatingAddRef(); }
        ULONG Release() override { return m_pObject->NonDelegatingRelease(); }
    };
    COwnUnknown m_ownUnknown;
    IUnknown* m_pUnknown; // the outer object, or m_ownUnknown
};

// Puts an interface pointer out with a reference added, as every QueryInterface must.
HRESULT GetInterface(IUnknown* pUnk, void** ppv);

// The three IUnknown slots of a class derived from CUnknown, forwarded to its owner.
#define DECLARE_IUNKNOWN                                                                                     \
    HRESULT QueryInterface(REFIID riid, void** ppv) override                                                 \
    {                                                                                                        \
        return GetOwner()->QueryInterface(riid, ppv);                                                        \
    }                                                                                                        \
    ULONG AddRef() override                                                                                  \
    {                                                                                                        \
        return GetOwner()->AddRef();                                                                         \
    }                                                                                                        \
    ULONG Release() override                                                                                 \
    {                                                                                                        \
        return GetOwner()->Release();                                                                        \
    }

// Owning interface pointer: releases on destruction, adds a reference on copy.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : m_p(p) // NOLINT(google-explicit-constructor): takes a new reference
    {
        if (m_p != nullptr)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Takes over a pointer whose reference the caller already holds (an out-parameter's).
    static ComPtr Attach(T* p)
    {
        ComPtr ptr;
        ptr.m_p = p;
        return ptr;
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    void Reset()
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // For out-parameters: drops the current pointer first.
    T** ReleaseAndGetAddressOf()
    {
        Reset();
        return &m_p;
    }
    void** ReleaseAndGetVoidAddress()
    {
        Reset();
        return reinterpret_cast<void**>(&m_p);
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // QueryInterface into another pointer type.
    template <class U> HRESULT As(REFIID riid, ComPtr<U>* pOut) const
    {
        if (m_p == nullptr)
            return E_POINTER;
        return m_p->QueryInterface(riid, pOut->ReleaseAndGetVoidAddress());
    }

private:
    T* m_p = nullptr;
};
