// The module's classes, its registration data and its four exports.
#include "filter/zebdecoder.h"
#include "platform/com/server.h"
#include "platform/mediagraph/filtermapper.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

// The About page: static lines the property page shows.
class CAbout : public CUnknown, public IZEBAboutPage {
public:
    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr)
    {
        auto* pPage = new (std::nothrow) CAbout(pUnk);
        if (pPage == nullptr && phr != nullptr)
            *phr = E_OUTOFMEMORY;
        return pPage;
    }
    explicit CAbout(IUnknown* pUnk) : CUnknown("ZEB Video DecoderAbout", pUnk) {}

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IZEBAboutPage)
            return GetInterface(static_cast<IZEBAboutPage*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetDialogId() override { return 101; }
    const char16_t* GetTitle() override { return u"About"; }
    const char16_t* GetLine(int nLine) override
    {
        static const char16_t* const lines[] = {u"ZEB H264 Decoder", u"Version 1.0.0.0",
                                                u"H.264 and MPEG-4 video for ZEB cameras"};
        return nLine >= 0 && nLine < 3 ? lines[nLine] : nullptr;
    }
};

constexpr GUID g_tsxd = FourCCGuid(MakeFourCC("tsxd"));
constexpr GUID g_TSXD = FourCCGuid(MakeFourCC("TSXD"));
constexpr GUID g_tshd = FourCCGuid(MakeFourCC("tshd"));
constexpr GUID g_TSHD = FourCCGuid(MakeFourCC("TSHD"));
constexpr GUID g_h264 = FourCCGuid(MakeFourCC("h264"));
constexpr GUID g_H264 = FourCCGuid(MakeFourCC("H264"));
constexpr GUID g_xvid = FourCCGuid(MakeFourCC("xvid"));
constexpr GUID g_XVID = FourCCGuid(MakeFourCC("XVID"));

const REGPINTYPES g_inputTypes[] = {
    {&MEDIATYPE_Video, &g_tsxd}, {&MEDIATYPE_Video, &g_TSXD}, {&MEDIATYPE_Video, &g_tshd},
    {&MEDIATYPE_Video, &g_TSHD}, {&MEDIATYPE_Video, &g_h264}, {&MEDIATYPE_Video, &g_H264},
    {&MEDIATYPE_Video, &g_xvid}, {&MEDIATYPE_Video, &g_XVID}, {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL},
};
const REGPINTYPES g_outputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_NULL}};

const AMOVIESETUP_PIN g_pins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 9, g_inputTypes},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, u"Input", 1, g_outputTypes},
};

const AMOVIESETUP_FILTER g_setupFilter = {&CLSID_ZebDecoder, u"ZEB Video Decoder", MERIT_PREFERRED, 2,
                                          g_pins};

const CFactoryTemplate g_Templates[] = {
    {u"ZEB Video Decoder", &CLSID_ZebDecoder, CZebDecoder::CreateInstance, nullptr, &g_setupFilter},
    {u"ZEB Video DecoderAbout", &CLSID_ZebDecoderAbout, CAbout::CreateInstance, nullptr, nullptr},
};
constexpr int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

// The loader's handle of this module, written once when it is loaded. Standard error rather
// than standard output: the command-line client's output is a JSON document.
__attribute__((constructor)) void AnnounceModule()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&AnnounceModule), &info) != 0)
        std::fprintf(stderr, "handle:%x\n",
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(info.dli_fbase)));
}

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
                                    reinterpret_cast<const void*>(&AnnounceModule));
}

COM_EXPORT HRESULT DllUnregisterServer()
{
    return AMovieDllRegisterServer2(FALSE, g_Templates, g_cTemplates,
                                    reinterpret_cast<const void*>(&AnnounceModule));
}
