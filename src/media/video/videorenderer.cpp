#include "media/video/videorenderer.h"

#include "media/video/yuvpicture.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

CVideoRendererPin::CVideoRendererPin(CVideoRenderer* pRenderer, CCritSec* pLock, HRESULT* phr)
    : CBaseInputPin("video renderer pin", pRenderer, pLock, phr, u"Input"), m_pRenderer(pRenderer)
{
}

namespace {

bool IsYuv420(const GUID& subtype)
{
    return subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_IYUV;
}

// The decoder's row length of a YUV 4:2:0 luma plane: two thirds of a 12-bit DIB row.
long YuvLumaStride(long nWidth)
{
    return ((12 * nWidth + 31) / 8 & ~3L) * 2 / 3;
}

} // namespace

HRESULT CVideoRendererPin::CheckMediaType(const CMediaType* pmt)
{
    if (pmt->majortype != MEDIATYPE_Video)
        return S_FALSE;
    const bool bYuv = IsYuv420(pmt->subtype);
    if (!bYuv && pmt->subtype != MEDIASUBTYPE_RGB32)
        return S_FALSE;
    if (pmt->formattype != FORMAT_VideoInfo && pmt->formattype != FORMAT_VideoInfo2)
        return S_FALSE;
    const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(pmt);
    if (pHeader == nullptr || pHeader->biBitCount != (bYuv ? 12 : 32) || pHeader->biWidth <= 0 ||
        pHeader->biHeight == 0 || pHeader->biWidth > 8192 || pHeader->biHeight > 8192 ||
        pHeader->biHeight < -8192)
        return S_FALSE;
    // Planar pictures come top row first with whole chroma rows and columns.
    if (bYuv && (pHeader->biWidth % 2 != 0 || pHeader->biHeight % 2 != 0))
        return S_FALSE;
    return S_OK;
}

HRESULT CVideoRendererPin::SetMediaType(const CMediaType* pmt)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr))
        m_pRenderer->OnFormat(*pmt);
    return hr;
}

HRESULT CVideoRendererPin::Receive(IMediaSample* pSample)
{
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    // A type on the sample is a format change the decoder made (a new picture size).
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr) {
        CMediaType mt(*pmt);
        DeleteMediaType(pmt);
        if (CheckMediaType(&mt) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
        CBaseInputPin::SetMediaType(&mt);
        m_pRenderer->OnFormat(mt);
    }
    return m_pRenderer->Render(pSample);
}

CUnknown* CVideoRenderer::CreateInstance(IUnknown* pUnk, HRESULT* phr)
{
    auto* pRenderer = new (std::nothrow) CVideoRenderer(pUnk, phr);
    if (pRenderer == nullptr)
        *phr = E_OUTOFMEMORY;
    return pRenderer;
}

CVideoRenderer::CVideoRenderer(IUnknown* pUnk, HRESULT* phr)
    : CBaseFilter("video renderer", pUnk, &m_lock, CLSID_VistrelVideoRenderer)
{
    m_pPin = new (std::nothrow) CVideoRendererPin(this, &m_lock, phr);
    if (m_pPin == nullptr)
        *phr = E_OUTOFMEMORY;
}

CVideoRenderer::~CVideoRenderer()
{
    delete m_pPin;
}

HRESULT CVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IVideoWindow)
        return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    if (riid == IID_IBasicVideo)
        return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

void CVideoRenderer::OnFormat(const CMediaType& mt)
{
    const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(&mt);
    if (pHeader == nullptr)
        return;
    std::lock_guard lock(m_mutex);
    m_nWidth = pHeader->biWidth;
    m_nHeight = pHeader->biHeight < 0 ? -pHeader->biHeight : pHeader->biHeight;
    m_enFormat = mt.subtype == MEDIASUBTYPE_YV12   ? Format::Yv12
                 : mt.subtype == MEDIASUBTYPE_IYUV ? Format::I420
                                                   : Format::Rgb32;
    m_bBottomUp = m_enFormat == Format::Rgb32 && pHeader->biHeight > 0;
    m_nStride = m_enFormat == Format::Rgb32 ? static_cast<long>(WIDTHBYTES(static_cast<DWORD>(m_nWidth) * 32))
                                            : YuvLumaStride(m_nWidth);
    m_nPictureWidth = m_nWidth;
    m_nPictureHeight = m_nHeight;
    m_vPicture.assign(static_cast<std::size_t>(m_nWidth) * m_nHeight, 0);
    m_bHasPicture = false;
}

void CVideoRenderer::ConvertYuv(const BYTE* pData)
{
    int nOutW = 0;
    int nOutH = 0;
    if (m_pPresenter != nullptr)
        m_pPresenter->GetTargetSize(m_nWidth, m_nHeight, &nOutW, &nOutH);
    // Made smaller only: a window larger than the picture enlarges it when drawing.
    if (nOutW <= 0 || nOutH <= 0 || nOutW >= m_nWidth || nOutH >= m_nHeight) {
        nOutW = m_nWidth;
        nOutH = m_nHeight;
    }
    YuvPlanes planes;
    planes.nLumaStride = m_nStride;
    planes.nChromaStride = m_nStride / 2;
    planes.nWidth = m_nWidth;
    planes.nHeight = m_nHeight;
    planes.pY = pData;
    const BYTE* pFirst = pData + m_nStride * m_nHeight;
    const BYTE* pSecond = pFirst + planes.nChromaStride * (m_nHeight / 2);
    planes.pU = m_enFormat == Format::Yv12 ? pSecond : pFirst;
    planes.pV = m_enFormat == Format::Yv12 ? pFirst : pSecond;
    m_nPictureWidth = nOutW;
    m_nPictureHeight = nOutH;
    m_vPicture.resize(static_cast<std::size_t>(nOutW) * nOutH);
    ConvertYuv420(planes, nOutW, nOutH, m_vPicture.data(), m_scratch);
}

HRESULT CVideoRenderer::Render(IMediaSample* pSample)
{
    const auto start = std::chrono::steady_clock::now();
    BYTE* pData = nullptr;
    if (FAILED(pSample->GetPointer(&pData)) || pData == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    const long nNeed = m_enFormat == Format::Rgb32 ? m_nStride * m_nHeight : m_nStride * m_nHeight * 3 / 2;
    if (m_nWidth <= 0 || pSample->GetActualDataLength() < nNeed)
        return S_OK; // a short picture is skipped, not shown half
    if (m_enFormat == Format::Rgb32) {
        const std::size_t nRow = static_cast<std::size_t>(m_nWidth) * 4;
        m_nPictureWidth = m_nWidth;
        m_nPictureHeight = m_nHeight;
        m_vPicture.resize(static_cast<std::size_t>(m_nWidth) * m_nHeight);
        for (int y = 0; y < m_nHeight; ++y) {
            const int nSrcRow = m_bBottomUp ? m_nHeight - 1 - y : y;
            std::memcpy(&m_vPicture[static_cast<std::size_t>(y) * m_nWidth], pData + nSrcRow * m_nStride,
                        nRow);
        }
    } else {
        ConvertYuv(pData);
    }
    m_bHasPicture = true;
    if (m_pPresenter != nullptr && m_bVisible)
        m_pPresenter->PresentFrame(m_vPicture.data(), m_nPictureWidth, m_nPictureHeight);
    REFERENCE_TIME tArrival = 0;
    REFERENCE_TIME tEnd = 0;
    if (SUCCEEDED(pSample->GetTime(&tArrival, &tEnd))) {
        const REFERENCE_TIME tNow = LiveClockNow();
        const std::uint64_t qwNs = tNow > tArrival ? static_cast<std::uint64_t>(tNow - tArrival) * 100 : 0;
        std::lock_guard lockLatency(m_mutexLatency);
        ++m_latency.qwFrames;
        m_latency.qwNs += qwNs;
        m_qwPeakNs = std::max(m_qwPeakNs, qwNs);
        if (pSample->IsSyncPoint() == S_OK) {
            ++m_latency.qwKeyFrames;
            m_latency.qwKeyNs += qwNs;
            m_latency.qwKeyMaxNs = std::max(m_latency.qwKeyMaxNs, qwNs);
            m_qwKeyPeakNs = std::max(m_qwKeyPeakNs, qwNs);
        }
    }
    ++m_qwFrames;
    m_qwRenderNs += static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count());
    return S_OK;
}

void CVideoRenderer::PresentLast()
{
    // A paused or slow stream would otherwise keep the picture at the old size until the next
    // one comes.
    if (m_pPresenter != nullptr && m_bVisible && m_bHasPicture)
        m_pPresenter->PresentFrame(m_vPicture.data(), m_nPictureWidth, m_nPictureHeight);
}

CVideoRenderer::Latency CVideoRenderer::GetLatency() const
{
    std::lock_guard lock(m_mutexLatency);
    return m_latency;
}

void CVideoRenderer::TakeLatencyPeaks(std::uint64_t* pqwMaxNs, std::uint64_t* pqwKeyMaxNs)
{
    std::lock_guard lock(m_mutexLatency);
    *pqwMaxNs = std::exchange(m_qwPeakNs, 0);
    *pqwKeyMaxNs = std::exchange(m_qwKeyPeakNs, 0);
}

HRESULT CVideoRenderer::put_WindowStyle(long nStyle)
{
    std::lock_guard lock(m_mutex);
    m_nStyle = nStyle;
    return S_OK;
}

HRESULT CVideoRenderer::get_WindowStyle(long* pnStyle)
{
    if (pnStyle == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnStyle = m_nStyle;
    return S_OK;
}

HRESULT CVideoRenderer::put_Visible(long nVisible)
{
    std::lock_guard lock(m_mutex);
    m_bVisible = nVisible != OAFALSE;
    if (m_pPresenter != nullptr)
        m_pPresenter->SetVideoVisible(m_bVisible);
    return S_OK;
}

HRESULT CVideoRenderer::get_Visible(long* pnVisible)
{
    if (pnVisible == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnVisible = m_bVisible ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CVideoRenderer::put_Owner(OAHWND owner)
{
    std::lock_guard lock(m_mutex);
    m_pPresenter = reinterpret_cast<IVideoPresenter*>(owner);
    return S_OK;
}

HRESULT CVideoRenderer::get_Owner(OAHWND* pOwner)
{
    if (pOwner == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pOwner = reinterpret_cast<OAHWND>(m_pPresenter);
    return S_OK;
}

HRESULT CVideoRenderer::put_MessageDrain(OAHWND drain)
{
    std::lock_guard lock(m_mutex);
    m_drain = drain;
    return S_OK;
}

HRESULT CVideoRenderer::get_MessageDrain(OAHWND* pDrain)
{
    if (pDrain == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pDrain = m_drain;
    return S_OK;
}

HRESULT CVideoRenderer::put_FullScreenMode(long nFullScreen)
{
    std::lock_guard lock(m_mutex);
    const bool bFullScreen = nFullScreen != OAFALSE;
    // Without a window there is no screen to fill.
    if (m_pPresenter == nullptr || !m_pPresenter->SetVideoFullScreen(bFullScreen))
        return E_FAIL;
    m_bFullScreen = bFullScreen;
    PresentLast();
    return S_OK;
}

HRESULT CVideoRenderer::get_FullScreenMode(long* pnFullScreen)
{
    if (pnFullScreen == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnFullScreen = m_bFullScreen ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT CVideoRenderer::SetWindowPosition(long nLeft, long nTop, long nWidth, long nHeight)
{
    if (nWidth < 0 || nHeight < 0)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    const bool bResized = nWidth != m_anWindow[2] || nHeight != m_anWindow[3];
    m_anWindow[0] = nLeft;
    m_anWindow[1] = nTop;
    m_anWindow[2] = nWidth;
    m_anWindow[3] = nHeight;
    if (m_pPresenter != nullptr)
        m_pPresenter->SetVideoPosition(nLeft, nTop, nWidth, nHeight);
    if (bResized)
        PresentLast();
    return S_OK;
}

HRESULT CVideoRenderer::GetWindowPosition(long* pnLeft, long* pnTop, long* pnWidth, long* pnHeight)
{
    if (pnLeft == nullptr || pnTop == nullptr || pnWidth == nullptr || pnHeight == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnLeft = m_anWindow[0];
    *pnTop = m_anWindow[1];
    *pnWidth = m_anWindow[2];
    *pnHeight = m_anWindow[3];
    return S_OK;
}

HRESULT CVideoRenderer::get_SourceWidth(long* pnWidth)
{
    if (pnWidth == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnWidth = m_nWidth;
    return S_OK;
}

HRESULT CVideoRenderer::get_SourceHeight(long* pnHeight)
{
    if (pnHeight == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnHeight = m_nHeight;
    return S_OK;
}

HRESULT CVideoRenderer::GetVideoSize(long* pnWidth, long* pnHeight)
{
    if (pnWidth == nullptr || pnHeight == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnWidth = m_nWidth;
    *pnHeight = m_nHeight;
    return S_OK;
}

HRESULT CVideoRenderer::SetDestinationPosition(long nLeft, long nTop, long nWidth, long nHeight)
{
    if (nWidth < 0 || nHeight < 0)
        return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    m_anDest[0] = nLeft;
    m_anDest[1] = nTop;
    m_anDest[2] = nWidth;
    m_anDest[3] = nHeight;
    return S_OK;
}

HRESULT CVideoRenderer::GetDestinationPosition(long* pnLeft, long* pnTop, long* pnWidth, long* pnHeight)
{
    if (pnLeft == nullptr || pnTop == nullptr || pnWidth == nullptr || pnHeight == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    *pnLeft = m_anDest[0];
    *pnTop = m_anDest[1];
    *pnWidth = m_anDest[2];
    *pnHeight = m_anDest[3];
    return S_OK;
}

HRESULT CVideoRenderer::SetDefaultDestinationPosition()
{
    std::lock_guard lock(m_mutex);
    m_anDest[0] = 0;
    m_anDest[1] = 0;
    m_anDest[2] = m_anWindow[2];
    m_anDest[3] = m_anWindow[3];
    return S_OK;
}

HRESULT CVideoRenderer::GetCurrentImage(long* pnBufferSize, long* pDIBImage)
{
    if (pnBufferSize == nullptr)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_nWidth <= 0 || m_qwFrames.load() == 0 || !m_bHasPicture)
        return E_UNEXPECTED;
    // The picture as last made (at the window's size where it was made smaller).
    const long nWidth = m_nPictureWidth;
    const long nHeight = m_nPictureHeight;
    const long nPixels = nWidth * nHeight * 4;
    const long nNeed = static_cast<long>(sizeof(BITMAPINFOHEADER)) + nPixels;
    if (pDIBImage == nullptr) {
        *pnBufferSize = nNeed;
        return S_OK;
    }
    if (*pnBufferSize < nNeed)
        return E_OUTOFMEMORY;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = nWidth;
    header.biHeight = nHeight; // bottom-up, as a DIB is
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(nPixels);
    auto* pOut = reinterpret_cast<BYTE*>(pDIBImage);
    std::memcpy(pOut, &header, sizeof(header));
    pOut += sizeof(header);
    for (long y = 0; y < nHeight; ++y)
        std::memcpy(pOut + static_cast<std::size_t>(y) * nWidth * 4,
                    &m_vPicture[static_cast<std::size_t>(nHeight - 1 - y) * nWidth],
                    static_cast<std::size_t>(nWidth) * 4);
    *pnBufferSize = nNeed;
    return S_OK;
}
