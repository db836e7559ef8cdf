// The live view's own filters: made creatable in this process and the renderer entered in the
// filter mapper, so that the graph's Render finds it for the decoder's output by merit. They
// live in the program rather than in a module because the renderer draws into the program's
// own windows.
#include "media/video/pushsourcefilter.h"
#include "media/video/videorenderer.h"

#include "core/log.h"
#include "platform/mediagraph/builtinfactory.h"
#include "platform/mediagraph/filtermapper.h"

#include <mutex>

namespace {

HRESULT RegisterRenderer()
{
    IFilterMapper2* pMapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&pMapper));
    if (FAILED(hr))
        return hr;
    static const REGPINTYPES s_types[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
    static const REGFILTERPINS s_pins[] = {
        {u"Input", TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, s_types}};
    const REGFILTER2 rf2 = {1, MERIT_NORMAL, 1, s_pins};
    hr = pMapper->RegisterFilter(CLSID_VistrelVideoRenderer, u"Vistrel Video Renderer", &rf2);
    pMapper->Release();
    return hr;
}

} // namespace

HRESULT RegisterVideoClasses()
{
    static CBuiltinClassFactory s_sourceFactory(CLSID_PushSource, CPushSourceFilter::CreateInstance);
    static CBuiltinClassFactory s_rendererFactory(CLSID_VistrelVideoRenderer, CVideoRenderer::CreateInstance);
    // The mapper's entry is in the registry file, which may have been replaced since (another
    // program registering): checked on every call, written only when missing.
    static std::mutex s_mutex;
    std::lock_guard lock(s_mutex);
    IFilterMapper2* pMapper = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&pMapper))))
        return E_FAIL;
    std::vector<REGFILTER_INFO> vFilters;
    const GUID aTypes[] = {MEDIATYPE_Video, MEDIASUBTYPE_RGB32};
    pMapper->EnumMatchingFilters(&vFilters, 0, FALSE, 1, aTypes);
    pMapper->Release();
    for (const REGFILTER_INFO& info : vFilters)
        if (info.clsid == CLSID_VistrelVideoRenderer)
            return S_OK;
    const HRESULT hr = RegisterRenderer();
    if (FAILED(hr))
        VLOG(1, "RegisterVideoClasses: the video renderer could not be registered, Error=%x",
             static_cast<unsigned>(hr));
    return hr;
}
