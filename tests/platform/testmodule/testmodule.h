// The classes of the test component module, shared by the module and the tests that load it.
#pragma once

#include "platform/com/unknown.h"

inline constexpr CLSID CLSID_TestCounter = MakeGuid("5A3C0D11-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestCounterOther = MakeGuid("5A3C0D12-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr IID IID_ITestCounter = MakeGuid("5A3C0D10-7E2B-4C61-9A0F-1B2C3D4E5F60");

struct ITestCounter : IUnknown {
    virtual HRESULT Add(int nDelta) = 0;
    virtual int Value() = 0;
    // The class id the object was created for: tells the two classes apart.
    virtual CLSID Class() = 0;

protected:
    ~ITestCounter() = default;
};
