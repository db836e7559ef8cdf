// A tiny component module for the component layer's tests: two counter classes.
#include "platform/com/server.h"
#include "testmodule/testmodule.h"

namespace {

class CTestCounter : public CUnknown, public ITestCounter {
public:
    CTestCounter(IUnknown* pUnk, const CLSID& clsid) : CUnknown("Test counter", pUnk), m_clsid(clsid) {}

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_ITestCounter)
            return GetInterface(static_cast<ITestCounter*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Add(int nDelta) override
    {
        m_nValue += nDelta;
        return S_OK;
    }
    int Value() override { return m_nValue; }
    CLSID Class() override { return m_clsid; }

private:
    CLSID m_clsid;
    int m_nValue = 0;
};

CUnknown* CreateCounter(IUnknown* pUnk, HRESULT* phr)
{
    return new CTestCounter(pUnk, CLSID_TestCounter);
}

CUnknown* CreateCounterOther(IUnknown* pUnk, HRESULT* phr)
{
    return new CTestCounter(pUnk, CLSID_TestCounterOther);
}

const CFactoryTemplate g_Templates[] = {
    {u"Test Counter", &CLSID_TestCounter, CreateCounter, nullptr, nullptr},
    {u"Test Counter Other", &CLSID_TestCounterOther, CreateCounterOther, nullptr, nullptr},
};
constexpr int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

} // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return ComServerGetClassObject(g_Templates, g_cTemplates, rclsid, riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow()
{
    return ComServerCanUnloadNow();
}

COM_EXPORT HRESULT DllRegisterServer()
{
    const std::string strPath = GetModuleFileNameOf(reinterpret_cast<const void*>(&DllRegisterServer));
    for (const CFactoryTemplate& t : g_Templates) {
        const std::u16string strName(t.m_Name);
        const HRESULT hr =
            AMovieSetupRegisterServer(*t.m_ClsID, std::string(strName.begin(), strName.end()), strPath);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

COM_EXPORT HRESULT DllUnregisterServer()
{
    for (const CFactoryTemplate& t : g_Templates) {
        const HRESULT hr = AMovieSetupUnregisterServer(*t.m_ClsID);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
