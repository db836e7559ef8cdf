#include "platform/com/registry.h"
#include "platform/mediagraph/mediagraph.h"
#include "test_com_support.h"
#include "testmodule/testfilters.h"

#include <future>

namespace {

// Filters made here are owned through ComPtr like any other object.
template <class T, class... Args> ComPtr<T> Make(Args&&... args)
{
    T* p = new T(std::forward<Args>(args)...);
    p->NonDelegatingAddRef();
    return ComPtr<T>::Attach(p);
}

ComPtr<IGraphBuilder> MakeGraph()
{
    ComPtr<IGraphBuilder> pGraph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               pGraph.ReleaseAndGetVoidAddress()),
              S_OK);
    return pGraph;
}

IPin* PinOf(CBaseFilter* pFilter, int n)
{
    return pFilter->GetPin(n);
}

GUID ConnectionSubtype(IPin* pPin)
{
    AM_MEDIA_TYPE mt{};
    if (FAILED(pPin->ConnectionMediaType(&mt)))
        return GUID_NULL;
    const GUID subtype = mt.subtype;
    FreeMediaType(mt);
    return subtype;
}

TEST(MediaType, BitmapHeadersAndSizes)
{
    struct Case {
        LONG nWidth, nHeight;
        WORD wBits;
        DWORD dwSize;
    } aCases[] = {
        {1920, 1080, 12, 1920 * 1080 * 12 / 8}, {3, 2, 24, 12 * 2}, {5, -4, 16, 12 * 4}, {1, 1, 32, 4}};
    for (const Case& c : aCases) {
        const CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB24, c.nWidth, c.nHeight, c.wBits);
        const BITMAPINFOHEADER* pbmi = GetBitmapInfoHeader(&mt);
        ASSERT_NE(pbmi, nullptr);
        EXPECT_EQ(GetBitmapSize(pbmi), c.dwSize) << c.nWidth << "x" << c.nHeight << "x" << c.wBits;
    }
    // The same header through VIDEOINFOHEADER2, and blocks too short for their format are refused.
    CMediaType mt2(&MEDIATYPE_Video);
    mt2.SetFormatType(&FORMAT_VideoInfo2);
    auto* pvih2 = reinterpret_cast<VIDEOINFOHEADER2*>(mt2.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    pvih2->bmiHeader.biWidth = 704;
    EXPECT_EQ(GetBitmapInfoHeader(&mt2)->biWidth, 704);
    mt2.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(GetBitmapInfoHeader(&mt2), nullptr);

    // Copies are deep; a partial type matches what it leaves open.
    const CMediaType a = MakeVideoType(MEDIASUBTYPE_YV12, 16, 16);
    CMediaType b = a;
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.Format(), b.Format());
    reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biWidth = 32;
    EXPECT_FALSE(a == b);
    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_YUY2);
    EXPECT_FALSE(a.MatchesPartial(&partial));
}

TEST(Allocator, LendsCountedBuffersAndDecommitWakesWaiters)
{
    HRESULT hr = S_OK;
    CUnknown* pObject = CMemAllocator::CreateInstance(nullptr, &hr);
    ComPtr<IMemAllocator> pAlloc;
    ASSERT_EQ(pObject->NonDelegatingQueryInterface(IID_IMemAllocator, pAlloc.ReleaseAndGetVoidAddress()),
              S_OK);

    ALLOCATOR_PROPERTIES request{2, 1000, 64, 16};
    ALLOCATOR_PROPERTIES actual{};
    IMediaSample* pSample = nullptr;
    EXPECT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(pAlloc->Commit(), VFW_E_SIZENOTSET);
    ALLOCATOR_PROPERTIES bad{2, 1000, 3, 0};
    EXPECT_EQ(pAlloc->SetProperties(&bad, &actual), VFW_E_BADALIGN);
    ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 2);
    EXPECT_EQ(actual.cbBuffer, 1000);
    ASSERT_EQ(pAlloc->Commit(), S_OK);
    EXPECT_EQ(pAlloc->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);

    IMediaSample* apSamples[2] = {};
    for (IMediaSample*& p : apSamples) {
        ASSERT_EQ(pAlloc->GetBuffer(&p, nullptr, nullptr, 0), S_OK);
        BYTE* pb = nullptr;
        p->GetPointer(&pb);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pb) % 64, 0u);
        EXPECT_EQ(p->GetSize(), 1000);
        EXPECT_EQ(p->SetActualDataLength(1001), VFW_E_BUFFER_OVERFLOW);
    }
    EXPECT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    // A released sample goes to a waiting caller, clean of the last use's properties.
    apSamples[0]->SetSyncPoint(TRUE);
    auto waiter = std::async(std::launch::async, [&] {
        IMediaSample* p = nullptr;
        const HRESULT hrGet = pAlloc->GetBuffer(&p, nullptr, nullptr, 0);
        const bool bClean = p != nullptr && p->IsSyncPoint() == S_FALSE;
        if (p != nullptr)
            p->Release();
        return std::make_pair(hrGet, bClean);
    });
    apSamples[0]->Release();
    EXPECT_EQ(waiter.get(), std::make_pair(S_OK, true));

    // Decommit fails a waiting caller; the memory goes once the last sample is back.
    IMediaSample* pHeld = nullptr;
    ASSERT_EQ(pAlloc->GetBuffer(&pHeld, nullptr, nullptr, 0), S_OK);
    auto blocked = std::async(std::launch::async, [&] {
        IMediaSample* p = nullptr;
        return pAlloc->GetBuffer(&p, nullptr, nullptr, 0);
    });
    while (blocked.wait_for(std::chrono::milliseconds(10)) != std::future_status::timeout)
        FAIL() << "GetBuffer returned with no buffer free";
    ASSERT_EQ(pAlloc->Decommit(), S_OK);
    EXPECT_EQ(blocked.get(), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(pAlloc->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    apSamples[1]->Release();
    pHeld->Release();
    EXPECT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
}

using MediaGraph = ComHomeTest;

// Pin negotiation: the input's proposals, then the output's, each checked by both sides.
TEST_F(MediaGraph, ConnectionNegotiatesTypesAndRefusesWhatAFilterCannotTake)
{
    struct Case {
        const char* pszName;
        CMediaType mtSource;
        std::vector<GUID> vRendererTakes;
        HRESULT hrIn;    // source -> inverter
        HRESULT hrOut;   // inverter -> renderer
        GUID outSubtype; // agreed on the inverter's output
    } aCases[] = {
        {"first output type",
         MakeVideoType(MEDIASUBTYPE_TestIn, 64, 48),
         {MEDIASUBTYPE_TestOutA},
         S_OK,
         S_OK,
         MEDIASUBTYPE_TestOutA},
        {"second output type",
         MakeVideoType(MEDIASUBTYPE_TestIn, 64, 48),
         {MEDIASUBTYPE_TestOutB},
         S_OK,
         S_OK,
         MEDIASUBTYPE_TestOutB},
        {"renderer takes nothing",
         MakeVideoType(MEDIASUBTYPE_TestIn, 64, 48),
         {MEDIASUBTYPE_YV12},
         S_OK,
         VFW_E_NO_ACCEPTABLE_TYPES,
         GUID_NULL},
        {"wrong subtype",
         MakeVideoType(MEDIASUBTYPE_YV12, 64, 48),
         {MEDIASUBTYPE_TestOutA},
         VFW_E_NO_ACCEPTABLE_TYPES,
         E_FAIL,
         GUID_NULL},
        {"top-down input",
         MakeVideoType(MEDIASUBTYPE_TestIn, 64, -48),
         {MEDIASUBTYPE_TestOutA},
         VFW_E_NO_ACCEPTABLE_TYPES,
         E_FAIL,
         GUID_NULL},
    };
    for (Case& c : aCases) {
        SCOPED_TRACE(c.pszName);
        ComPtr<IGraphBuilder> pGraph = MakeGraph();
        auto pSource = Make<CTestSource>(c.mtSource);
        auto pInverter = Make<CTestInverter>(nullptr, CLSID_TestInverterHigh, false);
        auto pRenderer = Make<CTestRenderer>(c.vRendererTakes);
        ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
        ASSERT_EQ(pGraph->AddFilter(pInverter.Get(), u"Inverter"), S_OK);
        ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);

        // The output side cannot connect before the input side.
        EXPECT_TRUE(
            FAILED(pGraph->ConnectDirect(PinOf(pInverter.Get(), 1), PinOf(pRenderer.Get(), 0), nullptr)));
        EXPECT_EQ(pGraph->ConnectDirect(PinOf(pSource.Get(), 0), PinOf(pInverter.Get(), 0), nullptr), c.hrIn);
        if (FAILED(c.hrIn)) {
            // The type tried first, given whole, comes back with the filter's own refusal.
            EXPECT_EQ(PinOf(pInverter.Get(), 0)->QueryAccept(&c.mtSource), S_FALSE);
            EXPECT_EQ(pGraph->ConnectDirect(PinOf(pSource.Get(), 0), PinOf(pInverter.Get(), 0), &c.mtSource),
                      VFW_E_TYPE_NOT_ACCEPTED);
            EXPECT_FALSE(pSource->GetPin(0)->IsConnected());
            continue;
        }
        EXPECT_EQ(pGraph->ConnectDirect(PinOf(pSource.Get(), 0), PinOf(pInverter.Get(), 0), nullptr),
                  VFW_E_ALREADY_CONNECTED);
        EXPECT_EQ(pGraph->ConnectDirect(PinOf(pInverter.Get(), 1), PinOf(pRenderer.Get(), 0), nullptr),
                  c.hrOut);
        EXPECT_EQ(ConnectionSubtype(PinOf(pInverter.Get(), 1)), c.outSubtype);
        EXPECT_EQ(ConnectionSubtype(PinOf(pRenderer.Get(), 0)), c.outSubtype);
        if (SUCCEEDED(c.hrOut)) {
            // The transform's buffers: two pictures of 4 bytes per pixel, agreed with the renderer.
            ALLOCATOR_PROPERTIES props{};
            IMemAllocator* pAlloc = nullptr;
            ASSERT_EQ(pRenderer->Pin().GetAllocator(&pAlloc), S_OK);
            pAlloc->GetProperties(&props);
            pAlloc->Release();
            EXPECT_EQ(props.cBuffers, 2);
            EXPECT_EQ(props.cbBuffer, 64 * 48 * 4);
        }
    }
}

// Render: the graph's own filters first, then registered ones by merit, skipping filters that
// refuse the type and those registered not to be used.
TEST_F(MediaGraph, RenderPrefersFiltersInTheGraphThenRegisteredOnesByMerit)
{
    ASSERT_EQ(RegSvr("'" VISTREL_TEST_MODULE "'"), 0);
    EXPECT_NE(RegistryText().find("\"Merit\"=\"0x00800000\""), std::string::npos);

    for (const bool bLocal : {true, false}) {
        SCOPED_TRACE(bLocal ? "inverter in the graph" : "inverter from the registry");
        ComPtr<IGraphBuilder> pGraph = MakeGraph();
        auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
        auto pRenderer = Make<CTestRenderer>(std::vector<GUID>{MEDIASUBTYPE_TestOutB});
        ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
        ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);
        const CLSID localClass = MakeGuid("5A3C0D2F-7E2B-4C61-9A0F-1B2C3D4E5F60");
        ComPtr<CTestInverter> pLocal;
        if (bLocal) {
            pLocal = Make<CTestInverter>(nullptr, localClass, false);
            ASSERT_EQ(pGraph->AddFilter(pLocal.Get(), u"Local"), S_OK);
        }

        ASSERT_EQ(pGraph->Render(PinOf(pSource.Get(), 0)), S_OK);
        EXPECT_EQ(pGraph->Render(PinOf(pSource.Get(), 0)), VFW_E_ALREADY_CONNECTED);

        // Exactly three filters: the refuser tried on the way was taken out again.
        ComPtr<IEnumFilters> pEnum;
        ASSERT_EQ(pGraph->EnumFilters(pEnum.ReleaseAndGetAddressOf()), S_OK);
        IBaseFilter* apFilters[4] = {};
        ULONG cFetched = 0;
        pEnum->Next(4, apFilters, &cFetched);
        EXPECT_EQ(cFetched, 3u);
        for (ULONG i = 0; i < cFetched; ++i)
            apFilters[i]->Release();

        IPin* pMiddleIn = nullptr;
        ASSERT_EQ(PinOf(pSource.Get(), 0)->ConnectedTo(&pMiddleIn), S_OK);
        PIN_INFO info{};
        pMiddleIn->QueryPinInfo(&info);
        CLSID clsid{};
        info.pFilter->GetClassID(&clsid);
        EXPECT_EQ(clsid, bLocal ? localClass : CLSID_TestInverterHigh);
        info.pFilter->Release();
        pMiddleIn->Release();
        EXPECT_EQ(ConnectionSubtype(PinOf(pRenderer.Get(), 0)), MEDIASUBTYPE_TestOutB);
        EXPECT_EQ(CoLoadedLibraryCount(), bLocal ? 0u : 1u);
    }
    // The graph released the module's filter: the module can go.
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 0u);

    // With the registered filters gone, nothing can render the source.
    ASSERT_EQ(RegSvr("-u '" VISTREL_TEST_MODULE "'"), 0);
    EXPECT_EQ(RegistryText().find("Filters\\{"), std::string::npos);
    ComPtr<IGraphBuilder> pGraph = MakeGraph();
    auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
    ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
    EXPECT_EQ(pGraph->Render(PinOf(pSource.Get(), 0)), VFW_E_CANNOT_RENDER);
}

// Samples pushed from this thread are transformed and rendered on the source's streaming
// thread; a sample without a picture is dropped with one quality event per run; stop and run
// again; the end of stream completes the graph.
TEST_F(MediaGraph, SamplesFlowThroughTheTransformOnTheStreamingThread)
{
    ComPtr<IGraphBuilder> pGraph = MakeGraph();
    auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
    auto pInverter = Make<CTestInverter>(nullptr, CLSID_TestInverterHigh, false);
    auto pRenderer = Make<CTestRenderer>(std::vector<GUID>{MEDIASUBTYPE_TestOutA});
    ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pInverter.Get(), u"Inverter"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(pGraph->Connect(PinOf(pSource.Get(), 0), PinOf(pRenderer.Get(), 0)), S_OK); // via the inverter

    ComPtr<IMediaControl> pControl;
    ComPtr<IMediaEvent> pEvent;
    ASSERT_EQ(pGraph.As(IID_IMediaControl, &pControl), S_OK);
    ASSERT_EQ(pGraph.As(IID_IMediaEvent, &pEvent), S_OK);
    // The renderer's video interfaces are reached through the graph; no filter has a window.
    ComPtr<IBasicVideo> pBasicVideo;
    ComPtr<IVideoWindow> pVideoWindow;
    ASSERT_EQ(pGraph.As(IID_IBasicVideo, &pBasicVideo), S_OK);
    long nWidth = 0;
    long nHeight = 0;
    EXPECT_EQ(pBasicVideo->GetVideoSize(&nWidth, &nHeight), S_OK);
    EXPECT_EQ(nWidth * 1000 + nHeight, 16 * 1000 + 16);
    EXPECT_EQ(pGraph.As(IID_IVideoWindow, &pVideoWindow), E_NOINTERFACE);
    OAFilterState state = -1;
    EXPECT_EQ(pControl->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    ASSERT_EQ(pControl->Run(), S_OK);
    EXPECT_EQ(pControl->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    FILTER_STATE filterState = State_Stopped;
    pInverter->GetState(0, &filterState);
    EXPECT_EQ(filterState, State_Running);
    // Connections cannot change while the graph runs.
    EXPECT_EQ(PinOf(pSource.Get(), 0)->Disconnect(), VFW_E_NOT_STOPPED);

    CPushSourcePin& pin = pSource->Pin();
    const BYTE abFirst[] = {0x00, 0x0F, 0xF0};
    const BYTE abNoPicture[] = {0xFF, 0x01};
    const BYTE abLast[] = {0x55};
    ASSERT_EQ(pin.Push(abFirst, sizeof(abFirst), TRUE), S_OK);
    ASSERT_EQ(pin.Push(abNoPicture, sizeof(abNoPicture), FALSE), S_OK);
    ASSERT_EQ(pin.Push(abNoPicture, sizeof(abNoPicture), FALSE), S_OK);
    ASSERT_EQ(pin.Push(abLast, sizeof(abLast), FALSE), S_OK);
    ASSERT_TRUE(pRenderer->WaitFor(2));

    std::vector<ReceivedSample> vSamples = pRenderer->Samples();
    ASSERT_EQ(vSamples.size(), 2u);
    EXPECT_EQ(vSamples[0].data, (std::vector<BYTE>{0xFF, 0xF0, 0x0F}));
    EXPECT_TRUE(vSamples[0].bSyncPoint);
    EXPECT_EQ(vSamples[1].data, (std::vector<BYTE>{0xAA}));
    EXPECT_TRUE(vSamples[1].bDiscontinuity); // samples were skipped before it
    EXPECT_NE(vSamples[0].thread, std::this_thread::get_id());
    EXPECT_EQ(vSamples[0].thread, vSamples[1].thread);

    long lCode = 0;
    LONG_PTR lParam1 = 0;
    LONG_PTR lParam2 = 0;
    ASSERT_EQ(pEvent->GetEvent(&lCode, &lParam1, &lParam2, 5000), S_OK);
    EXPECT_EQ(lCode, EC_QUALITY_CHANGE);
    EXPECT_EQ(pEvent->GetEvent(&lCode, &lParam1, &lParam2, 0), E_ABORT); // once per run

    // Stopped and run again: buffers are committed anew and the quality event may come again.
    ASSERT_EQ(pControl->Stop(), S_OK);
    EXPECT_EQ(pControl->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    ASSERT_EQ(pin.Push(abNoPicture, sizeof(abNoPicture), FALSE), S_OK); // waits for the next run
    ASSERT_EQ(pControl->Run(), S_OK);
    ASSERT_EQ(pin.Push(abLast, sizeof(abLast), TRUE), S_OK);
    ASSERT_EQ(pin.PushEndOfStream(), S_OK);
    ASSERT_TRUE(pRenderer->WaitFor(3, true));
    ASSERT_EQ(pEvent->GetEvent(&lCode, &lParam1, &lParam2, 5000), S_OK);
    EXPECT_EQ(lCode, EC_QUALITY_CHANGE);
    ASSERT_EQ(pEvent->WaitForCompletion(5000, &lCode), S_OK);
    EXPECT_EQ(lCode, EC_COMPLETE);
    ASSERT_EQ(pControl->Stop(), S_OK);
}

// A live source that fell behind: a key frame finding the catch-up count queued goes next, the
// samples before it are passed over (and counted), and it is marked a discontinuity; a key frame
// with fewer queued waits its turn.
TEST_F(MediaGraph, AKeyFrameFarBehindPassesOverTheQueue)
{
    ComPtr<IGraphBuilder> pGraph = MakeGraph();
    auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
    auto pInverter = Make<CTestInverter>(nullptr, CLSID_TestInverterHigh, false);
    auto pRenderer = Make<CTestRenderer>(std::vector<GUID>{MEDIASUBTYPE_TestOutA});
    ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pInverter.Get(), u"Inverter"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(pGraph->Connect(PinOf(pSource.Get(), 0), PinOf(pRenderer.Get(), 0)), S_OK);
    ComPtr<IMediaControl> pControl;
    ASSERT_EQ(pGraph.As(IID_IMediaControl, &pControl), S_OK);

    CPushSourcePin& pin = pSource->Pin();
    pin.SetCatchUp(3);
    // Stopped: everything waits in the queue, as behind a busy decoder.
    for (BYTE by : {0x10, 0x11, 0x12}) // key, then 2 more: 3 queued
        ASSERT_EQ(pin.Push(&by, 1, by == 0x10), S_OK);
    const BYTE byKey = 0x20, byAfter = 0x21;
    ASSERT_EQ(pin.Push(&byKey, 1, TRUE), S_OK); // finds 3: they go
    ASSERT_EQ(pin.Push(&byAfter, 1, FALSE), S_OK);
    ASSERT_EQ(pin.Push(&byKey, 1, TRUE), S_OK); // finds 2: waits its turn
    EXPECT_EQ(pin.QueueLength(), 3u);
    EXPECT_EQ(pin.TakeSkipped(), 3u);
    EXPECT_EQ(pin.TakeSkipped(), 0u);

    ASSERT_EQ(pControl->Run(), S_OK);
    ASSERT_TRUE(pRenderer->WaitFor(3));
    const std::vector<ReceivedSample> vSamples = pRenderer->Samples();
    ASSERT_EQ(vSamples.size(), 3u);
    EXPECT_EQ(vSamples[0].data, std::vector<BYTE>{0xDF});
    EXPECT_TRUE(vSamples[0].bSyncPoint && vSamples[0].bDiscontinuity);
    EXPECT_EQ(vSamples[1].data, std::vector<BYTE>{0xDE});
    EXPECT_FALSE(vSamples[1].bDiscontinuity);
    EXPECT_FALSE(vSamples[2].bDiscontinuity);
    ASSERT_EQ(pControl->Stop(), S_OK);
}

// A type carried on a sample becomes the transform's input type; a failing transform aborts the
// stream with an error event.
TEST_F(MediaGraph, FormatChangeOnASampleAndTransformErrorsReachTheGraph)
{
    ComPtr<IGraphBuilder> pGraph = MakeGraph();
    auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
    auto pInverter = Make<CTestInverter>(nullptr, CLSID_TestInverterHigh, false);
    auto pRenderer = Make<CTestRenderer>(std::vector<GUID>{MEDIASUBTYPE_TestOutA});
    ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pInverter.Get(), u"Inverter"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(pGraph->Render(PinOf(pSource.Get(), 0)), S_OK);
    ComPtr<IMediaControl> pControl;
    ComPtr<IMediaEvent> pEvent;
    ASSERT_EQ(pGraph.As(IID_IMediaControl, &pControl), S_OK);
    ASSERT_EQ(pGraph.As(IID_IMediaEvent, &pEvent), S_OK);
    ASSERT_EQ(pControl->Run(), S_OK);

    const CMediaType mtBigger = MakeVideoType(MEDIASUBTYPE_TestIn, 32, 24);
    const BYTE abPicture[] = {0x01};
    ASSERT_EQ(pSource->Pin().Push(abPicture, 1, TRUE, FALSE, &mtBigger), S_OK);
    ASSERT_TRUE(pRenderer->WaitFor(1));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(PinOf(pInverter.Get(), 0)->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(GetBitmapInfoHeader(&mt)->biWidth, 32);
    FreeMediaType(mt);

    const BYTE abBroken[] = {0xEE};
    ASSERT_EQ(pSource->Pin().Push(abBroken, 1, TRUE), S_OK);
    long lCode = 0;
    ASSERT_EQ(pEvent->WaitForCompletion(5000, &lCode), S_OK);
    EXPECT_EQ(lCode, EC_ERRORABORT);
    ASSERT_EQ(pControl->Stop(), S_OK);
}

// Stopping and running the graph again and again while another thread keeps pushing: every stop
// returns (no thread waits for another forever), every buffer comes back, and after the last run
// samples still arrive.
TEST_F(MediaGraph, RepeatedStopAndRunWhileSamplesArePushed)
{
    ComPtr<IGraphBuilder> pGraph = MakeGraph();
    auto pSource = Make<CTestSource>(MakeVideoType(MEDIASUBTYPE_TestIn, 16, 16));
    auto pInverter = Make<CTestInverter>(nullptr, CLSID_TestInverterHigh, false);
    auto pRenderer = Make<CTestRenderer>(std::vector<GUID>{MEDIASUBTYPE_TestOutA});
    ASSERT_EQ(pGraph->AddFilter(pSource.Get(), u"Source"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pInverter.Get(), u"Inverter"), S_OK);
    ASSERT_EQ(pGraph->AddFilter(pRenderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(pGraph->Render(PinOf(pSource.Get(), 0)), S_OK);
    ComPtr<IMediaControl> pControl;
    ASSERT_EQ(pGraph.As(IID_IMediaControl, &pControl), S_OK);
    pSource->Pin().SetMaxQueue(8);

    std::atomic<bool> bDone{false};
    std::thread pusher([&] {
        const BYTE abPicture[] = {0x01, 0x02, 0x03, 0x04};
        while (!bDone)
            if (pSource->Pin().Push(abPicture, sizeof(abPicture), TRUE) != S_OK)
                std::this_thread::yield(); // queue full
    });
    // Stopped and joined on every way out, a failed assertion included.
    struct Joiner {
        std::atomic<bool>& bDone;
        std::thread& thread;
        ~Joiner()
        {
            bDone = true;
            thread.join();
        }
    } joiner{bDone, pusher};
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(pControl->Run(), S_OK);
        if (i % 3 == 0) {
            ASSERT_EQ(pControl->Pause(), S_OK);
        }
        ASSERT_EQ(pControl->Stop(), S_OK);
        for (CBaseFilter* pFilter :
             {static_cast<CBaseFilter*>(pSource.Get()), static_cast<CBaseFilter*>(pInverter.Get())}) {
            auto* pAllocator =
                static_cast<CBaseOutputPin*>(pFilter->GetPin(pFilter == pSource.Get() ? 0 : 1))->Allocator();
            ASSERT_NE(pAllocator, nullptr);
            EXPECT_EQ(static_cast<CBaseAllocator*>(pAllocator)->OutstandingBuffers(), 0) << "run " << i;
        }
    }
    const std::size_t nBefore = pRenderer->Samples().size();
    ASSERT_EQ(pControl->Run(), S_OK);
    EXPECT_TRUE(pRenderer->WaitFor(nBefore + 10));
    ASSERT_EQ(pControl->Stop(), S_OK);
    for (const ReceivedSample& sample : pRenderer->Samples()) {
        ASSERT_EQ(sample.data, (std::vector<BYTE>{0xFE, 0xFD, 0xFC, 0xFB}));
    }
}

} // namespace
