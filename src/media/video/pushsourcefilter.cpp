#include "media/video/pushsourcefilter.h"

#include "core/log.h"

#include <chrono>
#include <cstring>
#include <new>

namespace {

// Segments of one frame beyond this are dropped: the decoder never gets a sample larger than
// the pin's buffers.
constexpr std::size_t kMaxFrame = 1024 * 1024;
constexpr std::size_t kMaxQueuedFrames = 250;
// Two seconds at 25 frames/s: a live picture further behind than that starts again from the
// next key frame (a wall of panes on a busy machine would otherwise drift ten seconds late).
constexpr std::size_t kCatchUpFrames = 50;

DWORD FourCCOfMode(int nMode)
{
    return nMode == 2 ? MakeFourCC("TSHD") : nMode == 1 ? MakeFourCC("TSXD") : MakeFourCC("XVID");
}

} // namespace

CPooledSourcePin::CPooledSourcePin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, CDecodePool* pPool)
    : CPushSourcePin("push source pin", pFilter, pLock, phr, u"Output"), m_pPool(pPool)
{
}

CPooledSourcePin::~CPooledSourcePin()
{
    CloseLane();
}

void CPooledSourcePin::CloseLane()
{
    std::shared_ptr<CDecodePool::CLane> pLane;
    {
        std::lock_guard lock(m_mutex);
        pLane = std::move(m_pLane);
    }
    if (pLane)
        pLane->Close();
}

HRESULT CPooledSourcePin::Active()
{
    const HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    CloseLane(); // one left from a run that ended on a delivery error
    std::shared_ptr<CDecodePool::CLane> pLane;
    try {
        pLane = m_pPool->AddLane([this] { return Step(); });
    } catch (const std::bad_alloc&) {
        CBaseOutputPin::Inactive();
        return E_OUTOFMEMORY;
    }
    {
        std::lock_guard lock(m_mutex);
        m_bStop = false;
        m_pLane = pLane;
    }
    // What was queued while stopped goes on now.
    pLane->Wake();
    return S_OK;
}

HRESULT CPooledSourcePin::Inactive()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    // Decommitting first: a step waiting for a buffer gives up, and the lane's close does not
    // wait for it for ever.
    const HRESULT hr = CBaseOutputPin::Inactive();
    CloseLane();
    return hr;
}

void CPooledSourcePin::Wake()
{
    std::shared_ptr<CDecodePool::CLane> pLane;
    {
        std::lock_guard lock(m_mutex);
        pLane = m_pLane;
    }
    if (pLane)
        pLane->Wake();
}

bool CPooledSourcePin::Step()
{
    Item item;
    {
        std::lock_guard lock(m_mutex);
        if (m_bStop || m_queue.empty())
            return false;
        item = std::move(m_queue.front());
        m_queue.pop_front();
    }
    if (item.bEndOfStream) {
        DeliverEndOfStream();
        return true;
    }
    IMediaSample* pSample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
        // Decommitted: the pin is being stopped. Keep the sample for the next run.
        std::lock_guard lock(m_mutex);
        m_queue.push_front(std::move(item));
        return false;
    }
    BYTE* pBuffer = nullptr;
    pSample->GetPointer(&pBuffer);
    if (static_cast<long>(item.data.size()) > pSample->GetSize()) {
        // Larger than any buffer agreed: dropped, and the stream goes on after a gap.
        pSample->Release();
        m_bDiscontinuity = true;
        return true;
    }
    if (!item.data.empty())
        std::memcpy(pBuffer, item.data.data(), item.data.size());
    pSample->SetActualDataLength(static_cast<long>(item.data.size()));
    pSample->SetSyncPoint(item.bSyncPoint);
    pSample->SetDiscontinuity(item.bDiscontinuity || m_bDiscontinuity);
    if (item.pType)
        pSample->SetMediaType(item.pType.get());
    if (item.bTime)
        pSample->SetTime(&item.tStart, nullptr);
    m_bDiscontinuity = false;
    const auto start = std::chrono::steady_clock::now();
    hr = Deliver(pSample);
    m_qwDeliverNs += static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count());
    pSample->Release();
    // Downstream stopping before this pin (the graph stops downstream first) is no error.
    if (FAILED(hr) && hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_COMMITTED) {
        {
            // The stream ends here until the graph runs again, as a failed decoder would
            // fail every sample after.
            std::lock_guard lock(m_mutex);
            m_bStop = true;
        }
        OnDeliveryError(hr);
        return false;
    }
    std::lock_guard lock(m_mutex);
    return !m_bStop && !m_queue.empty();
}

CUnknown* CPushSourceFilter::CreateInstance(IUnknown* pUnk, HRESULT* phr)
{
    auto* pFilter = new (std::nothrow) CPushSourceFilter(pUnk, phr);
    if (pFilter == nullptr)
        *phr = E_OUTOFMEMORY;
    return pFilter;
}

CPushSourceFilter::CPushSourceFilter(IUnknown* pUnk, HRESULT* phr, CDecodePool* pPool)
    : CBaseFilter("push source", pUnk, &m_lock, CLSID_PushSource)
{
    m_pPin = new (std::nothrow)
        CPooledSourcePin(this, &m_lock, phr, pPool != nullptr ? pPool : &CDecodePool::Shared());
    if (m_pPin == nullptr) {
        *phr = E_OUTOFMEMORY;
        return;
    }
    m_pPin->SetBufferSize(static_cast<long>(kMaxFrame));
    // Frames come in bursts whenever the GUI thread was held up (a dialog, opening an audio
    // device, the packet capture's delivery): they are taken and decoded late rather than
    // dropped, as a drop blanks the picture until the next key frame; only a key frame that
    // finds the decoder seconds behind has the frames before it passed over.
    m_pPin->SetMaxQueue(kMaxQueuedFrames);
    m_pPin->SetCatchUp(kCatchUpFrames);
    UpdateOfferedType();
}

CPushSourceFilter::~CPushSourceFilter()
{
    delete m_pPin;
}

HRESULT CPushSourceFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_SourceCtrl)
        return GetInterface(static_cast<SourceCtrl*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CPushSourceFilter::GetPin(int n)
{
    return n == 0 ? m_pPin : nullptr;
}

void CPushSourceFilter::UpdateOfferedType()
{
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    const DWORD dwFourCC = FourCCOfMode(m_nMode);
    const GUID subtype = FourCCGuid(dwFourCC);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetVariableSize();
    mt.SetTemporalCompression(TRUE);
    auto* pInfo = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (pInfo == nullptr)
        return;
    pInfo->rcSource = {0, 0, m_nWidth, m_nHeight};
    pInfo->rcTarget = pInfo->rcSource;
    pInfo->AvgTimePerFrame = 400000; // 25 frames a second; nothing downstream clocks by it
    BITMAPINFOHEADER& bmi = pInfo->bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = m_nWidth;
    bmi.biHeight = m_nHeight;
    bmi.biPlanes = 1;
    bmi.biBitCount = 24;
    bmi.biCompression = dwFourCC;
    bmi.biSizeImage = static_cast<DWORD>(m_nWidth * m_nHeight * 3);
    m_pPin->SetOfferedType(mt);
}

HRESULT CPushSourceFilter::SetVideoSize(int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0)
        return E_INVALIDARG;
    CAutoLock lock(&m_lock);
    if (m_pPin->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    UpdateOfferedType();
    return S_OK;
}

HRESULT CPushSourceFilter::SetStreamMode(int nMode)
{
    if (nMode < 0 || nMode > 2)
        return E_INVALIDARG;
    CAutoLock lock(&m_lock);
    if (m_pPin->IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    m_nMode = nMode;
    UpdateOfferedType();
    return S_OK;
}

HRESULT CPushSourceFilter::PushData(const BYTE* pData, long nLen, BOOL bFirst)
{
    return PushDataAt(pData, nLen, bFirst, LiveClockNow());
}

HRESULT CPushSourceFilter::PushDataAt(const BYTE* pData, long nLen, BOOL bFirst, REFERENCE_TIME tArrival)
{
    if (pData == nullptr || nLen < 0)
        return E_POINTER;
    std::lock_guard lock(m_mutexFrame);
    HRESULT hr = S_OK;
    if (bFirst) {
        hr = DeliverGathered();
        m_bGathering = true;
    }
    if (!m_bGathering)
        return S_FALSE; // the rest of a frame whose start was never seen
    if (m_vFrame.size() + static_cast<std::size_t>(nLen) > kMaxFrame) {
        VLOG(2, "CPushSourceFilter::PushData: frame over %zu bytes dropped", kMaxFrame);
        m_vFrame.clear();
        m_bGathering = false;
        ++m_dwDropped;
        return S_FALSE;
    }
    m_vFrame.insert(m_vFrame.end(), pData, pData + nLen);
    m_tArrival = tArrival;
    return hr;
}

HRESULT CPushSourceFilter::FlushFrame()
{
    std::lock_guard lock(m_mutexFrame);
    return DeliverGathered();
}

HRESULT CPushSourceFilter::DeliverGathered()
{
    if (!m_bGathering || m_vFrame.empty()) {
        m_vFrame.clear();
        return S_OK;
    }
    const BOOL bKey = IsKeyFrame(m_vFrame.data(), m_vFrame.size(), m_nMode);
    const HRESULT hr =
        m_pPin->Push(m_vFrame.data(), static_cast<long>(m_vFrame.size()), bKey, FALSE, nullptr, &m_tArrival);
    if (hr == S_OK) {
        m_pPin->Wake();
        ++m_dwDelivered;
    } else {
        ++m_dwDropped;
    }
    // Frames passed over to catch up count as dropped: they were never decoded.
    const auto dwSkipped = static_cast<DWORD>(m_pPin->TakeSkipped());
    m_dwDelivered -= dwSkipped;
    m_dwDropped += dwSkipped;
    m_vFrame.clear();
    m_bGathering = false;
    return hr;
}

HRESULT CPushSourceFilter::GetCounts(DWORD* pdwDelivered, DWORD* pdwDropped)
{
    std::lock_guard lock(m_mutexFrame);
    if (pdwDelivered != nullptr)
        *pdwDelivered = m_dwDelivered;
    if (pdwDropped != nullptr)
        *pdwDropped = m_dwDropped;
    return S_OK;
}

HRESULT CPushSourceFilter::GetDeliveryTime(std::uint64_t* pqwNanoseconds)
{
    if (pqwNanoseconds == nullptr)
        return E_POINTER;
    *pqwNanoseconds = m_pPin->DeliveryNanoseconds();
    return S_OK;
}

bool CPushSourceFilter::IsKeyFrame(const BYTE* pData, std::size_t nLen, int nMode)
{
    if (nMode > 0) {
        // The stamp header's first byte is its own length.
        if (nLen == 0 || pData[0] > nLen)
            return false;
        const std::size_t nSkip = pData[0];
        pData += nSkip;
        nLen -= nSkip;
    }
    // Only the start of the frame is looked at: parameter sets and the first slice or VOP
    // header come first.
    const std::size_t nScan = nLen < 256 ? nLen : 256;
    for (std::size_t i = 0; i + 4 < nScan; ++i) {
        if (pData[i] != 0 || pData[i + 1] != 0 || pData[i + 2] != 1)
            continue;
        const BYTE byCode = pData[i + 3];
        if (nMode == 2) {
            const int nNal = byCode & 0x1F;
            if (nNal == 5 || nNal == 7)
                return true;
            if (nNal == 1)
                return false;
        } else {
            if (byCode >= 0x20 && byCode <= 0x2F) // video object layer
                return true;
            if (byCode == 0xB6) // VOP: coding type in the top two bits
                return (pData[i + 4] >> 6) == 0;
        }
    }
    return false;
}
