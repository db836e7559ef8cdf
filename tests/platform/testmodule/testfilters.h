// Small filters for the media graph tests: a push source, an inverting video transform (also
// served by the test module, where Render finds it by merit) and a renderer that keeps what it gets.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mediagraph/pushsource.h"
#include "platform/mediagraph/vtransform.h"

inline constexpr GUID MEDIASUBTYPE_TestIn = FourCCGuid(MakeFourCC("TSTI"));
inline constexpr GUID MEDIASUBTYPE_TestOutA = FourCCGuid(MakeFourCC("OUTA"));
inline constexpr GUID MEDIASUBTYPE_TestOutB = FourCCGuid(MakeFourCC("OUTB"));

inline constexpr CLSID CLSID_TestInverterHigh = MakeGuid("5A3C0D20-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestInverterLow = MakeGuid("5A3C0D21-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestRefuser = MakeGuid("5A3C0D22-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestUnused = MakeGuid("5A3C0D23-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestSource = MakeGuid("5A3C0D24-7E2B-4C61-9A0F-1B2C3D4E5F60");
inline constexpr CLSID CLSID_TestRenderer = MakeGuid("5A3C0D25-7E2B-4C61-9A0F-1B2C3D4E5F60");

// A video type with a VIDEOINFOHEADER of the given picture.
inline CMediaType MakeVideoType(const GUID& subtype, LONG nWidth, LONG nHeight, WORD wBitCount = 12)
{
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* pvih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    pvih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    pvih->bmiHeader.biWidth = nWidth;
    pvih->bmiHeader.biHeight = nHeight;
    pvih->bmiHeader.biPlanes = 1;
    pvih->bmiHeader.biBitCount = wBitCount;
    pvih->bmiHeader.biCompression = subtype.Data1;
    pvih->bmiHeader.biSizeImage = GetBitmapSize(&pvih->bmiHeader);
    mt.SetSampleSize(pvih->bmiHeader.biSizeImage);
    return mt;
}

// Inverts every byte. A sample starting with 0xFF gives no picture (S_FALSE); one starting with
// 0xEE fails (E_FAIL). A refusing instance takes no input type at all.
class CTestInverter : public CVideoTransformFilter {
public:
    CTestInverter(IUnknown* pUnk, const CLSID& clsid, bool bRefuse)
        : CVideoTransformFilter("Test inverter", pUnk, clsid), m_bRefuse(bRefuse)
    {
    }

    HRESULT CheckInputType(const CMediaType* mtIn) override
    {
        const BITMAPINFOHEADER* pbmi = GetBitmapInfoHeader(mtIn);
        if (m_bRefuse || *mtIn->Type() != MEDIATYPE_Video || *mtIn->Subtype() != MEDIASUBTYPE_TestIn ||
            pbmi == nullptr || pbmi->biHeight < 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT CheckTransform(const CMediaType*, const CMediaType* mtOut) override
    {
        return *mtOut->Subtype() == MEDIASUBTYPE_TestOutA || *mtOut->Subtype() == MEDIASUBTYPE_TestOutB
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override
    {
        if (!m_pInput->IsConnected())
            return E_UNEXPECTED;
        if (iPosition < 0)
            return E_INVALIDARG;
        if (iPosition > 1)
            return VFW_S_NO_MORE_ITEMS;
        const BITMAPINFOHEADER* pbmi = GetBitmapInfoHeader(&m_pInput->CurrentMediaType());
        *pMediaType = MakeVideoType(iPosition == 0 ? MEDIASUBTYPE_TestOutA : MEDIASUBTYPE_TestOutB,
                                    pbmi->biWidth, pbmi->biHeight, 32);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override
    {
        const BITMAPINFOHEADER* pbmi = GetBitmapInfoHeader(&m_pInput->CurrentMediaType());
        pProp->cBuffers = 2;
        pProp->cbBuffer = pbmi->biWidth * pbmi->biHeight * 4;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = pAlloc->SetProperties(pProp, &actual);
        if (FAILED(hr))
            return hr;
        return actual.cBuffers >= 2 && actual.cbBuffer >= pProp->cbBuffer ? S_OK : E_FAIL;
    }
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override
    {
        BYTE* pSrc = nullptr;
        BYTE* pDst = nullptr;
        pIn->GetPointer(&pSrc);
        pOut->GetPointer(&pDst);
        const long n = pIn->GetActualDataLength();
        if (n > 0 && pSrc[0] == 0xFF)
            return S_FALSE;
        if (n > 0 && pSrc[0] == 0xEE)
            return E_FAIL;
        if (n > pOut->GetSize())
            return S_FALSE;
        for (long i = 0; i < n; ++i)
            pDst[i] = static_cast<BYTE>(~pSrc[i]);
        pOut->SetActualDataLength(n);
        return S_OK;
    }

private:
    bool m_bRefuse;
};

class CTestSource : public CBaseFilter {
public:
    explicit CTestSource(const CMediaType& mt)
        : CBaseFilter("Test source", nullptr, &m_csFilter, CLSID_TestSource),
          m_pin("Test source pin", this, &m_csFilter, &m_hr, u"Out")
    {
        m_pin.SetOfferedType(mt);
        m_pin.SetBufferSize(64 * 1024);
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    CPushSourcePin& Pin() { return m_pin; }

private:
    CCritSec m_csFilter;
    HRESULT m_hr = S_OK;
    CPushSourcePin m_pin;
};

struct ReceivedSample {
    std::vector<BYTE> data;
    bool bSyncPoint;
    bool bDiscontinuity;
    std::thread::id thread;
};

// Keeps what it receives; answers IBasicVideo with the connection's picture size, as a video
// renderer does through the graph.
class CTestRenderer : public CBaseFilter, public IBasicVideo {
public:
    explicit CTestRenderer(std::vector<GUID> vAccepted)
        : CBaseFilter("Test renderer", nullptr, &m_csFilter, CLSID_TestRenderer),
          m_pin(this, &m_csFilter, &m_hr), m_vAccepted(std::move(vAccepted))
    {
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IBasicVideo)
            return GetInterface(static_cast<IBasicVideo*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT GetVideoSize(long* pWidth, long* pHeight) override
    {
        const BITMAPINFOHEADER* pbmi = GetBitmapInfoHeader(&m_pin.CurrentMediaType());
        if (!m_pin.IsConnected() || pbmi == nullptr)
            return VFW_E_NOT_CONNECTED;
        *pWidth = pbmi->biWidth;
        *pHeight = pbmi->biHeight;
        return S_OK;
    }
    HRESULT get_SourceWidth(long*) override { return E_NOTIMPL; }
    HRESULT get_SourceHeight(long*) override { return E_NOTIMPL; }
    HRESULT SetSourcePosition(long, long, long, long) override { return E_NOTIMPL; }
    HRESULT SetDefaultSourcePosition() override { return E_NOTIMPL; }
    HRESULT SetDestinationPosition(long, long, long, long) override { return E_NOTIMPL; }
    HRESULT GetDestinationPosition(long*, long*, long*, long*) override { return E_NOTIMPL; }
    HRESULT SetDefaultDestinationPosition() override { return E_NOTIMPL; }
    HRESULT GetCurrentImage(long*, long*) override { return E_NOTIMPL; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    CBaseInputPin& Pin() { return m_pin; }

    // Waits until n samples (or the end of stream, with n = 0) arrived; false after 10 s.
    bool WaitFor(std::size_t n, bool bEndOfStream = false)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10),
                             [&] { return m_vSamples.size() >= n && (!bEndOfStream || m_bEndOfStream); });
    }
    std::vector<ReceivedSample> Samples()
    {
        std::lock_guard lock(m_mutex);
        return m_vSamples;
    }

private:
    class CPin : public CBaseInputPin {
    public:
        CPin(CTestRenderer* pRenderer, CCritSec* pLock, HRESULT* phr)
            : CBaseInputPin("Test renderer pin", pRenderer, pLock, phr, u"In"), m_pRenderer(pRenderer)
        {
        }
        HRESULT CheckMediaType(const CMediaType* pmt) override
        {
            for (const GUID& subtype : m_pRenderer->m_vAccepted)
                if (*pmt->Type() == MEDIATYPE_Video && *pmt->Subtype() == subtype)
                    return S_OK;
            return S_FALSE;
        }
        HRESULT Receive(IMediaSample* pSample) override
        {
            const HRESULT hr = CBaseInputPin::Receive(pSample);
            if (hr != S_OK)
                return hr;
            BYTE* p = nullptr;
            pSample->GetPointer(&p);
            ReceivedSample sample{std::vector<BYTE>(p, p + pSample->GetActualDataLength()),
                                  pSample->IsSyncPoint() == S_OK, pSample->IsDiscontinuity() == S_OK,
                                  std::this_thread::get_id()};
            {
                std::lock_guard lock(m_pRenderer->m_mutex);
                m_pRenderer->m_vSamples.push_back(std::move(sample));
            }
            m_pRenderer->m_cv.notify_all();
            return S_OK;
        }
        HRESULT EndOfStream() override
        {
            {
                std::lock_guard lock(m_pRenderer->m_mutex);
                m_pRenderer->m_bEndOfStream = true;
            }
            m_pRenderer->m_cv.notify_all();
            return m_pRenderer->NotifyEvent(EC_COMPLETE, S_OK, 0);
        }

    private:
        CTestRenderer* m_pRenderer;
    };

    CCritSec m_csFilter;
    HRESULT m_hr = S_OK;
    CPin m_pin;
    std::vector<GUID> m_vAccepted;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<ReceivedSample> m_vSamples;
    bool m_bEndOfStream = false;
};
