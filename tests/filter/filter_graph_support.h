// A source, a sink and a graph stand-in around the decoder module, all driven from the test's
// thread: samples are delivered synchronously and whatever reaches the sink is recorded.
#pragma once

#include "filter/izebdecoder.h"
#include "platform/com/comapi.h"
#include "platform/mediagraph/basefilter.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <vector>

inline std::string RunQuiet(const std::string& strCommand)
{
    std::string strOut;
    FILE* pPipe = popen((strCommand + " 2>&1").c_str(), "r");
    if (pPipe == nullptr)
        return strOut;
    char sz[256];
    while (std::fgets(sz, sizeof sz, pPipe) != nullptr)
        strOut += sz;
    const int nStatus = pclose(pPipe);
    return strOut + "exit:" + std::to_string(WEXITSTATUS(nStatus));
}

// A fresh class registry for this process with the module registered by vistrel-regsvr.
class RegisteredModule {
public:
    RegisteredModule()
    {
        m_dir = std::filesystem::temp_directory_path() / ("vistrel-filter-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
        setenv("VISTREL_HOME", m_dir.c_str(), 1);
        m_strOutput = RunQuiet(std::string(VISTREL_REGSVR) + " " + FILTER_MODULE);
    }
    ~RegisteredModule() { std::filesystem::remove_all(m_dir); }
    const std::string& Output() const { return m_strOutput; }

private:
    std::filesystem::path m_dir;
    std::string m_strOutput;
};

class CTestGraph : public CUnknown, public IFilterGraph, public IMediaEventSink {
public:
    CTestGraph() : CUnknown("test graph", nullptr) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IMediaEventSink)
            return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        if (riid == IID_IFilterGraph)
            return GetInterface(static_cast<IFilterGraph*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Notify(long lEvent, LONG_PTR, LONG_PTR) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecEvents.push_back(lEvent);
        return S_OK;
    }
    int Count(long lEvent)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_vecEvents.begin(), m_vecEvents.end(), lEvent));
    }
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

private:
    std::mutex m_mutex;
    std::vector<long> m_vecEvents;
};

class CTestSourcePin : public CBaseOutputPin {
public:
    CTestSourcePin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr)
        : CBaseOutputPin("test source pin", pFilter, pLock, phr, u"Out")
    {
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override { return *pmt == m_mt ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override
    {
        if (iPosition != 0)
            return VFW_S_NO_MORE_ITEMS;
        *pmt = m_mt;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override
    {
        pProp->cBuffers = 2;
        pProp->cbBuffer = 1 << 20;
        ALLOCATOR_PROPERTIES actual{};
        return pAlloc->SetProperties(pProp, &actual);
    }
    CMediaType m_mt;
};

class CTestSource : public CBaseFilter {
public:
    CTestSource() : CBaseFilter("test source", nullptr, &m_lock, GUID_NULL)
    {
        HRESULT hr = S_OK;
        m_pPin = new CTestSourcePin(this, &m_lock, &hr);
    }
    ~CTestSource() override { delete m_pPin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pPin : nullptr; }

    HRESULT Push(const std::vector<uint8_t>& vecData, bool bSync, bool bDiscontinuity = false,
                 const AM_MEDIA_TYPE* pmt = nullptr, bool bPreroll = false)
    {
        IMediaSample* pSample = nullptr;
        HRESULT hr = m_pPin->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE* pb = nullptr;
        pSample->GetPointer(&pb);
        std::copy(vecData.begin(), vecData.end(), pb);
        pSample->SetActualDataLength(static_cast<long>(vecData.size()));
        pSample->SetSyncPoint(bSync);
        pSample->SetDiscontinuity(bDiscontinuity);
        pSample->SetPreroll(bPreroll);
        if (pmt != nullptr)
            pSample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(pmt));
        hr = m_pPin->Deliver(pSample);
        pSample->Release();
        return hr;
    }
    HRESULT EndOfStream() { return m_pPin->DeliverEndOfStream(); }

    CCritSec m_lock;
    CTestSourcePin* m_pPin;
};

struct ReceivedSample {
    std::vector<uint8_t> vecData;
    bool bHasType = false;
    CMediaType mt;
};

class CTestSinkPin : public CBaseInputPin {
public:
    CTestSinkPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr)
        : CBaseInputPin("test sink pin", pFilter, pLock, phr, u"In")
    {
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override
    {
        return pmt->majortype == MEDIATYPE_Video && pmt->subtype == m_subtype ? S_OK : S_FALSE;
    }
    HRESULT Receive(IMediaSample* pSample) override
    {
        HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK)
            return hr;
        ReceivedSample sample;
        BYTE* pb = nullptr;
        pSample->GetPointer(&pb);
        sample.vecData.assign(pb, pb + pSample->GetActualDataLength());
        AM_MEDIA_TYPE* pmt = nullptr;
        if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr) {
            sample.bHasType = true;
            sample.mt = *pmt;
            DeleteMediaType(pmt);
        }
        m_vecSamples.push_back(std::move(sample));
        return S_OK;
    }
    HRESULT EndOfStream() override
    {
        ++m_nEndOfStream;
        return S_OK;
    }
    GUID m_subtype = MEDIASUBTYPE_RGB32;
    std::vector<ReceivedSample> m_vecSamples;
    int m_nEndOfStream = 0;
};

class CTestSink : public CBaseFilter {
public:
    CTestSink() : CBaseFilter("test sink", nullptr, &m_lock, GUID_NULL)
    {
        HRESULT hr = S_OK;
        m_pPin = new CTestSinkPin(this, &m_lock, &hr);
    }
    ~CTestSink() override { delete m_pPin; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pPin : nullptr; }

    CCritSec m_lock;
    CTestSinkPin* m_pPin;
};

inline CMediaType VideoType(const char* pszFourCC, int nWidth, int nHeight, bool bInfo2 = false)
{
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_NULL);
    BITMAPINFOHEADER* pHeader = nullptr;
    if (bInfo2) {
        mt.SetFormatType(&FORMAT_VideoInfo2);
        auto* pInfo = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        pInfo->dwPictAspectRatioX = 4;
        pInfo->dwPictAspectRatioY = 3;
        pHeader = &pInfo->bmiHeader;
    } else {
        mt.SetFormatType(&FORMAT_VideoInfo);
        pHeader =
            &reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)))->bmiHeader;
    }
    pHeader->biSize = sizeof(BITMAPINFOHEADER);
    pHeader->biWidth = nWidth;
    pHeader->biHeight = nHeight;
    pHeader->biPlanes = 1;
    pHeader->biBitCount = 24;
    pHeader->biCompression = static_cast<DWORD>(pszFourCC[0]) | static_cast<DWORD>(pszFourCC[1]) << 8 |
                             static_cast<DWORD>(pszFourCC[2]) << 16 | static_cast<DWORD>(pszFourCC[3]) << 24;
    return mt;
}

// Source -> decoder (from the registered module) -> sink, joined to a test graph.
struct DecoderChain {
    ComPtr<IBaseFilter> pDecoder;
    CTestGraph* pGraph = new CTestGraph;
    CTestSource* pSource = new CTestSource;
    CTestSink* pSink = new CTestSink;
    IPin* pDecoderIn = nullptr;
    IPin* pDecoderOut = nullptr;

    DecoderChain()
    {
        pGraph->NonDelegatingAddRef();
        pSource->NonDelegatingAddRef();
        pSink->NonDelegatingAddRef();
        CoCreateInstance(CLSID_ZebDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         pDecoder.ReleaseAndGetVoidAddress());
        if (!pDecoder)
            return;
        pDecoder->FindPin(u"In", &pDecoderIn);
        pDecoder->FindPin(u"Out", &pDecoderOut);
        for (IBaseFilter* pFilter :
             {static_cast<IBaseFilter*>(pSource), pDecoder.Get(), static_cast<IBaseFilter*>(pSink)})
            pFilter->JoinFilterGraph(pGraph, u"filter");
    }
    ~DecoderChain()
    {
        Stop();
        if (pDecoder) {
            pSource->m_pPin->Disconnect();
            pDecoderIn->Disconnect();
            pDecoderOut->Disconnect();
            pSink->m_pPin->Disconnect();
            for (IBaseFilter* pFilter :
                 {static_cast<IBaseFilter*>(pSource), pDecoder.Get(), static_cast<IBaseFilter*>(pSink)})
                pFilter->JoinFilterGraph(nullptr, nullptr);
            pDecoderIn->Release();
            pDecoderOut->Release();
        }
        pDecoder.Reset();
        pSource->NonDelegatingRelease();
        pSink->NonDelegatingRelease();
        pGraph->NonDelegatingRelease();
    }
    HRESULT Connect(const CMediaType& mtIn, const GUID& outSubtype)
    {
        pSource->m_pPin->m_mt = mtIn;
        pSink->m_pPin->m_subtype = outSubtype;
        HRESULT hr = pSource->m_pPin->Connect(pDecoderIn, &mtIn);
        if (FAILED(hr))
            return hr;
        return pDecoderOut->Connect(pSink->m_pPin, nullptr);
    }
    void Run()
    {
        pSink->Pause();
        pDecoder->Pause();
        pSource->Pause();
        pSink->Run(0);
        pDecoder->Run(0);
        pSource->Run(0);
    }
    void Stop()
    {
        pSource->Stop();
        if (pDecoder)
            pDecoder->Stop();
        pSink->Stop();
    }
    IZEBDecoderEx* Private()
    {
        IZEBDecoderEx* p = nullptr;
        pDecoder->QueryInterface(IID_IZEBDecoderEx, reinterpret_cast<void**>(&p));
        if (p != nullptr)
            p->Release(); // the chain keeps the filter alive
        return p;
    }
};
