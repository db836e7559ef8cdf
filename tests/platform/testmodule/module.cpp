// A tiny component module for the component and media graph tests: two counter classes and
// four registered filters of different merit (one refuses every type, one is not to be used).
#include "platform/com/server.h"
#include "platform/mediagraph/filtermapper.h"
#include "testmodule/testfilters.h"
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

template <const CLSID* pClsid, bool bRefuse> CUnknown* CreateInverter(IUnknown* pUnk, HRESULT* phr)
{
    return new CTestInverter(pUnk, *pClsid, bRefuse);
}

const AMOVIESETUP_MEDIATYPE g_inputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_TestIn}};
const AMOVIESETUP_MEDIATYPE g_outputTypes[] = {{&MEDIATYPE_Video, nullptr}};
const AMOVIESETUP_PIN g_pins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, nullptr, u"Output", 1, g_inputTypes},
    {u"Output", FALSE, TRUE, FALSE, FALSE, nullptr, u"Input", 1, g_outputTypes},
};
const AMOVIESETUP_FILTER g_setupHigh = {&CLSID_TestInverterHigh, u"Test Inverter High", MERIT_NORMAL, 2,
                                        g_pins};
const AMOVIESETUP_FILTER g_setupLow = {&CLSID_TestInverterLow, u"Test Inverter Low", MERIT_UNLIKELY, 2,
                                       g_pins};
const AMOVIESETUP_FILTER g_setupRefuser = {&CLSID_TestRefuser, u"Test Refuser", MERIT_PREFERRED, 2, g_pins};
const AMOVIESETUP_FILTER g_setupUnused = {&CLSID_TestUnused, u"Test Unused", MERIT_DO_NOT_USE, 2, g_pins};

const CFactoryTemplate g_Templates[] = {
    {u"Test Counter", &CLSID_TestCounter, CreateCounter, nullptr, nullptr},
    {u"Test Counter Other", &CLSID_TestCounterOther, CreateCounterOther, nullptr, nullptr},
    {u"Test Inverter High", &CLSID_TestInverterHigh, CreateInverter<&CLSID_TestInverterHigh, false>, nullptr,
     &g_setupHigh},
    {u"Test Inverter Low", &CLSID_TestInverterLow, CreateInverter<&CLSID_TestInverterLow, false>, nullptr,
     &g_setupLow},
    {u"Test Refuser", &CLSID_TestRefuser, CreateInverter<&CLSID_TestRefuser, true>, nullptr, &g_setupRefuser},
    {u"Test Unused", &CLSID_TestUnused, CreateInverter<&CLSID_TestUnused, false>, nullptr, &g_setupUnused},
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
    return AMovieDllRegisterServer2(TRUE, g_Templates, g_cTemplates,
                                    reinterpret_cast<const void*>(&DllRegisterServer));
}

COM_EXPORT HRESULT DllUnregisterServer()
{
    return AMovieDllRegisterServer2(FALSE, g_Templates, g_cTemplates,
                                    reinterpret_cast<const void*>(&DllUnregisterServer));
}
