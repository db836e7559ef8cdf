#include "filter/zebdecoder.h"

#include "filter/dech264.h"
#include "filter/decmpeg4.h"
#include "platform/com/comapi.h"
#include "platform/com/widestr.h"

#include <cstdlib>
#include <new>

namespace {

struct OutputChoice {
    const GUID* pSubtype;
    DWORD dwCompression;
    WORD wBitCount;
};

// The order in which output types are offered.
const OutputChoice g_outputs[] = {
    {&MEDIASUBTYPE_YV12, MakeFourCC("YV12"), 12},
    {&MEDIASUBTYPE_YUY2, MakeFourCC("YUY2"), 16},
    {&MEDIASUBTYPE_YVYU, MakeFourCC("YVYU"), 16},
    {&MEDIASUBTYPE_UYVY, MakeFourCC("UYVY"), 16},
    {&MEDIASUBTYPE_IYUV, MakeFourCC("IYUV"), 12},
    {&MEDIASUBTYPE_RGB32, BI_RGB, 32},
    {&MEDIASUBTYPE_RGB24, BI_RGB, 24},
    {&MEDIASUBTYPE_RGB555, BI_RGB, 16},
    {&MEDIASUBTYPE_RGB565, BI_RGB, 16},
};
constexpr int OUTPUT_COUNT = 9;

enum class Input { None, H264, Stamped264, Mpeg4, StampedMpeg4 };

Input InputKind(DWORD dwCompression)
{
    if (dwCompression == MakeFourCC("H264") || dwCompression == MakeFourCC("h264"))
        return Input::H264;
    if (dwCompression == MakeFourCC("TSHD") || dwCompression == MakeFourCC("tshd"))
        return Input::Stamped264;
    if (dwCompression == MakeFourCC("XVID") || dwCompression == MakeFourCC("xvid"))
        return Input::Mpeg4;
    if (dwCompression == MakeFourCC("TSXD") || dwCompression == MakeFourCC("tsxd"))
        return Input::StampedMpeg4;
    return Input::None;
}

bool IsVideoInfo(const AM_MEDIA_TYPE* pmt)
{
    return pmt->formattype == FORMAT_VideoInfo || pmt->formattype == FORMAT_VideoInfo2;
}

} // namespace

CUnknown* CZebDecoder::CreateInstance(IUnknown* pUnk, HRESULT* phr)
{
    auto* pFilter = new (std::nothrow) CZebDecoder(pUnk, phr);
    if (pFilter == nullptr && phr != nullptr)
        *phr = E_OUTOFMEMORY;
    return pFilter;
}

CZebDecoder::CZebDecoder(IUnknown* pUnk, HRESULT* phr)
    : CVideoTransformFilter("ZEB Video Decoder", pUnk, CLSID_ZebDecoder)
{
}

CZebDecoder::~CZebDecoder()
{
    // The back-end's overlays live in m_blend: it goes first.
    delete m_pDecoder;
}

HRESULT CZebDecoder::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IZEBDecoder || riid == IID_IZEBDecoderEx)
        return GetInterface(static_cast<IZEBDecoderEx*>(this), ppv);
    if (riid == IID_IZEBDecoderView)
        return GetInterface(static_cast<IZEBDecoderView*>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CVideoTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CZebDecoder::CheckInputType(const CMediaType* mtIn)
{
    if (mtIn == nullptr || mtIn->majortype != MEDIATYPE_Video || !IsVideoInfo(mtIn))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(mtIn);
    if (pHeader == nullptr)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (pHeader->biHeight < 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // The size is kept before the compression test: it sizes the output types, so a new size
    // takes effect once upstream has had its type checked.
    if (mtIn->formattype == FORMAT_VideoInfo) {
        m_nAspectX = std::abs(pHeader->biWidth) * pHeader->biYPelsPerMeter;
        m_nAspectY = std::abs(pHeader->biHeight) * pHeader->biXPelsPerMeter;
    } else {
        const auto* pInfo2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mtIn->pbFormat);
        m_nAspectX = static_cast<int>(pInfo2->dwPictAspectRatioX);
        m_nAspectY = static_cast<int>(pInfo2->dwPictAspectRatioY);
    }
    m_nInWidth = pHeader->biWidth;
    m_nInHeight = pHeader->biHeight;
    return InputKind(pHeader->biCompression) != Input::None ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CZebDecoder::CheckTransform(const CMediaType*, const CMediaType*)
{
    return S_OK;
}

HRESULT CZebDecoder::GetMediaType(int iPosition, CMediaType* pMediaType)
{
    if (m_pInput == nullptr || !m_pInput->IsConnected())
        return E_UNEXPECTED;
    if (iPosition < 0)
        return E_INVALIDARG;
    if (iPosition >= OUTPUT_COUNT)
        return VFW_S_NO_MORE_ITEMS;
    const OutputChoice& choice = g_outputs[iPosition];
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Video);
    pMediaType->SetSubtype(choice.pSubtype);
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
    auto* pInfo = reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (pInfo == nullptr)
        return E_OUTOFMEMORY;
    BITMAPINFOHEADER& header = pInfo->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = m_nInWidth;
    header.biHeight = m_nInHeight;
    header.biPlanes = 1;
    header.biCompression = choice.dwCompression;
    header.biBitCount = choice.wBitCount;
    header.biSizeImage = GetBitmapSize(&header);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSampleSize(header.biSizeImage);
    return S_OK;
}

HRESULT CZebDecoder::DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pProp)
{
    if (m_pInput == nullptr || !m_pInput->IsConnected())
        return E_UNEXPECTED;
    pProp->cBuffers = 2;
    pProp->cbBuffer = m_nInWidth * m_nInHeight * 4;
    pProp->cbPrefix = 0;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAllocator->SetProperties(pProp, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < pProp->cBuffers || actual.cbBuffer < pProp->cbBuffer)
        return E_FAIL;
    return S_OK;
}

HRESULT CZebDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt)
{
    if (direction == PINDIR_OUTPUT)
        return ConfigureOutput(pmt);

    CAutoLock lock(&m_csStream);
    delete m_pDecoder;
    m_pDecoder = nullptr;
    const BITMAPINFOHEADER* pHeader = pmt != nullptr ? GetBitmapInfoHeader(pmt) : nullptr;
    const Input enKind = pHeader != nullptr ? InputKind(pHeader->biCompression) : Input::None;
    if (enKind == Input::H264 || enKind == Input::Stamped264)
        m_pDecoder = new (std::nothrow) CDecH264;
    else
        m_pDecoder = new (std::nothrow) CDecMpeg4;
    m_nStamp = (enKind == Input::H264 || enKind == Input::Mpeg4) ? 0 : 1;
    if (m_pDecoder != nullptr) {
        m_pDecoder->SetOverlayManager(&m_blend);
        m_pDecoder->SetColorAdjust(m_cBrightness, m_cContrast, m_cHue, m_cSaturation);
        m_pDecoder->SetMirror(m_bMirror);
        m_pDecoder->SetRotate(m_bRotate);
        m_pDecoder->SetFrameSize(m_nInWidth, m_nInHeight);
    }
    m_nWaitForKey = 1;
    m_bPictureSeen = false;
    return S_OK;
}

HRESULT CZebDecoder::ConfigureOutput(const AM_MEDIA_TYPE* pmt)
{
    CAutoLock lock(&m_csStream);
    if (m_pDecoder == nullptr || pmt == nullptr || !IsVideoInfo(pmt))
        return S_FALSE;
    const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(pmt);
    if (pHeader == nullptr)
        return S_FALSE;
    const int nByteStride =
        static_cast<int>((static_cast<int64_t>(pHeader->biBitCount) * pHeader->biWidth + 31) / 8) & ~3;
    bool bFlip = pHeader->biHeight >= 0;
    int nStride = nByteStride;
    uint32_t dwCode = 0;
    const GUID& subtype = pmt->subtype;
    if (subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_IYUV) {
        dwCode = subtype == MEDIASUBTYPE_YV12 ? CSP_YV12 : CSP_I420;
        nStride = nByteStride * 2 / 3;
        bFlip = false;
    } else if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_YVYU || subtype == MEDIASUBTYPE_UYVY) {
        dwCode =
            subtype == MEDIASUBTYPE_YUY2 ? CSP_YUY2 : (subtype == MEDIASUBTYPE_YVYU ? CSP_YVYU : CSP_UYVY);
        bFlip = false;
    } else if (subtype == MEDIASUBTYPE_RGB32) {
        dwCode = CSP_BGRA;
    } else if (subtype == MEDIASUBTYPE_RGB24) {
        dwCode = CSP_BGR;
    } else if (subtype == MEDIASUBTYPE_RGB555) {
        dwCode = CSP_RGB555;
    } else if (subtype == MEDIASUBTYPE_RGB565) {
        dwCode = CSP_RGB565;
    } else {
        return S_FALSE;
    }
    m_pDecoder->SetFrameSize(m_nInWidth, m_nInHeight);
    m_pDecoder->ReleaseStaging();
    m_pDecoder->SetOutput(dwCode, bFlip, nStride);
    return S_OK;
}

HRESULT CZebDecoder::StartStreaming()
{
    {
        CAutoLock lock(&m_csStream);
        if (m_pDecoder != nullptr)
            m_pDecoder->SetEndOfStream(false);
    }
    const HRESULT hr = CVideoTransformFilter::StartStreaming();
    m_itrAvgDecode = 300000;
    return hr;
}

HRESULT CZebDecoder::Transform(IMediaSample* pIn, IMediaSample* pOut)
{
    CAutoLock lock(&m_csStream);
    AM_MEDIA_TYPE* pmtOut = nullptr;
    if (pOut->GetMediaType(&pmtOut) == S_OK && pmtOut != nullptr) {
        const HRESULT hr = ConfigureOutput(pmtOut);
        DeleteMediaType(pmtOut);
        if (FAILED(hr))
            return hr;
    }
    if (m_pDecoder == nullptr || !m_pDecoder->IsUsable())
        return S_FALSE;
    BYTE* pbIn = nullptr;
    BYTE* pbOut = nullptr;
    if (FAILED(pIn->GetPointer(&pbIn)) || pbIn == nullptr)
        return S_FALSE;
    const long nInLength = pIn->GetActualDataLength();
    const long nOutSize = pOut->GetSize();
    if (FAILED(pOut->GetPointer(&pbOut)))
        pbOut = nullptr;
    const HRESULT hr =
        m_pDecoder->Process(pIn->IsPreroll() == S_OK, pbIn, static_cast<uint32_t>(std::max(0L, nInLength)),
                            m_nStamp != 0, pbOut, static_cast<uint32_t>(std::max(0L, nOutSize)));
    if (hr == S_OK) {
        // The picture fills the buffer the output type describes.
        const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(&m_pOutput->CurrentMediaType());
        pOut->SetActualDataLength(pHeader != nullptr
                                      ? static_cast<long>(std::min<DWORD>(pHeader->biSizeImage, nOutSize))
                                      : nOutSize);
    }
    return hr;
}

HRESULT CZebDecoder::SkipSample(IMediaSample* pOut)
{
    if (pOut != nullptr)
        pOut->Release();
    m_bSampleSkipped = TRUE;
    if (!m_bQualityChanged) {
        m_bQualityChanged = TRUE;
        NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
    }
    return S_OK;
}

HRESULT CZebDecoder::Receive(IMediaSample* pSample)
{
    HRESULT hr = S_OK;
    bool bInputTypeChanged = false;
    AM_MEDIA_TYPE* pmtIn = nullptr;
    if (pSample->GetMediaType(&pmtIn) == S_OK && pmtIn != nullptr) {
        if (pmtIn->pbFormat != nullptr) {
            StopStreaming();
            m_pInput->CurrentMediaType() = *pmtIn;
            // The output keeps its format, at the new size.
            const BITMAPINFOHEADER* pNew = GetBitmapInfoHeader(pmtIn);
            BITMAPINFOHEADER* pOutHeader = GetBitmapInfoHeader(&m_pOutput->CurrentMediaType());
            if (pNew != nullptr && pOutHeader != nullptr) {
                pOutHeader->biWidth = pNew->biWidth;
                pOutHeader->biHeight = pNew->biHeight;
                pOutHeader->biSizeImage = GetBitmapSize(pOutHeader);
            }
            bInputTypeChanged = true;
            hr = StartStreaming();
            if (FAILED(hr)) {
                DeleteMediaType(pmtIn);
                AbortPlayback(hr);
                return hr;
            }
        }
        DeleteMediaType(pmtIn);
    }

    IMediaSample* pOut = nullptr;
    hr = InitializeOutputSample(pSample, &pOut);
    if (FAILED(hr) || pOut == nullptr) {
        if (!m_bPictureSeen)
            m_nWaitForKey = 1;
        return S_FALSE;
    }
    if (bInputTypeChanged)
        pOut->SetMediaType(&m_pOutput->CurrentMediaType());

    AM_MEDIA_TYPE* pmtOut = nullptr;
    if (pOut->GetMediaType(&pmtOut) == S_OK && pmtOut != nullptr) {
        StopStreaming();
        hr = ConfigureOutput(pmtOut);
        if (SUCCEEDED(hr))
            m_pOutput->CurrentMediaType() = *pmtOut;
        DeleteMediaType(pmtOut);
        if (SUCCEEDED(hr))
            hr = StartStreaming();
        if (FAILED(hr)) {
            pOut->Release();
            AbortPlayback(hr);
            return hr;
        }
    }

    // A sync point ends the wait even when it is also a discontinuity. Once pictures come, a
    // gap before a sample is the decoder's to conceal: the picture goes on, and the next sync
    // point cleans it.
    if (pSample->IsDiscontinuity() == S_OK && !m_bPictureSeen)
        m_nWaitForKey = 1;
    if (pSample->IsSyncPoint() == S_OK)
        m_nWaitForKey = 0;
    if (m_nWaitForKey != 0)
        return SkipSample(pOut);

    const DWORD dwStart = timeGetTime();
    hr = Transform(pSample, pOut);
    const DWORD dwTaken = timeGetTime() - dwStart;
    m_itrAvgDecode = static_cast<int>(dwTaken * 625 + 15 * (m_itrAvgDecode / 16));

    if (hr == S_OK) {
        m_bPictureSeen = true;
        hr = m_pOutput->Deliver(pOut);
        m_bSampleSkipped = FALSE;
        pOut->Release();
        return hr;
    }
    if (!m_bPictureSeen || FAILED(hr))
        m_nWaitForKey = 1;
    if (hr == S_FALSE)
        return SkipSample(pOut);
    pOut->Release();
    return hr;
}

HRESULT CZebDecoder::EndOfStream()
{
    CDecBase* pDecoder = nullptr;
    {
        CAutoLock lock(&m_csStream);
        if (m_pDecoder != nullptr)
            m_pDecoder->SetEndOfStream(true);
        pDecoder = m_pDecoder;
    }
    // Pictures the decoder still holds back are shown before the stream ends.
    if (pDecoder != nullptr && m_pOutput != nullptr && m_pOutput->IsConnected() && m_nWaitForKey == 0) {
        for (;;) {
            IMediaSample* pOut = nullptr;
            if (FAILED(m_pOutput->GetDeliveryBuffer(&pOut, nullptr, nullptr, 0)) || pOut == nullptr)
                break;
            HRESULT hr = S_FALSE;
            {
                CAutoLock lock(&m_csStream);
                BYTE* pbOut = nullptr;
                if (m_pDecoder == pDecoder && SUCCEEDED(pOut->GetPointer(&pbOut))) {
                    static const BYTE byNothing = 0;
                    hr = m_pDecoder->Process(false, &byNothing, 0, false, pbOut,
                                             static_cast<uint32_t>(std::max(0L, pOut->GetSize())));
                }
            }
            if (hr != S_OK) {
                pOut->Release();
                break;
            }
            const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(&m_pOutput->CurrentMediaType());
            if (pHeader != nullptr)
                pOut->SetActualDataLength(
                    static_cast<long>(std::min<DWORD>(pHeader->biSizeImage, pOut->GetSize())));
            hr = m_pOutput->Deliver(pOut);
            pOut->Release();
            if (FAILED(hr))
                break;
        }
    }
    return CVideoTransformFilter::EndOfStream();
}

HRESULT CZebDecoder::GetPages(CAUUID* pPages)
{
    if (pPages == nullptr)
        return E_POINTER;
    pPages->cElems = 1;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pPages->pElems == nullptr) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pPages->pElems[0] = CLSID_ZebDecoderAbout;
    return S_OK;
}

HRESULT CZebDecoder::SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation)
{
    CAutoLock lock(&m_csStream);
    m_cBrightness = static_cast<int8_t>(nBrightness);
    m_cContrast = static_cast<int8_t>(nContrast);
    m_cHue = static_cast<int8_t>(nHue);
    m_cSaturation = static_cast<int8_t>(nSaturation);
    if (m_pDecoder != nullptr)
        m_pDecoder->SetColorAdjust(m_cBrightness, m_cContrast, m_cHue, m_cSaturation);
    return S_OK;
}

HRESULT CZebDecoder::SetRotate180(BOOL bRotate)
{
    CAutoLock lock(&m_csStream);
    m_bRotate = bRotate != 0 ? 1 : 0;
    if (m_pDecoder != nullptr)
        m_pDecoder->SetRotate(m_bRotate);
    return S_OK;
}

HRESULT CZebDecoder::SetMirror(int nMirror)
{
    CAutoLock lock(&m_csStream);
    // Kept as 0/1: it is combined with the stream's own mirror bit by exclusive or.
    m_bMirror = nMirror != 0 ? 1 : 0;
    if (m_pDecoder != nullptr)
        m_pDecoder->SetMirror(m_bMirror);
    return S_OK;
}

int CZebDecoder::SaveSnapshot(const char* pszPath)
{
    CAutoLock lock(&m_csStream);
    if (pszPath == nullptr || m_pDecoder == nullptr)
        return 0;
    return m_pDecoder->SaveSnapshot(pszPath);
}

int CZebDecoder::SaveSnapshotW(const char16_t* pszPath)
{
    CAutoLock lock(&m_csStream);
    if (pszPath == nullptr || m_pDecoder == nullptr)
        return 0;
    return m_pDecoder->SaveSnapshot(WideToUtf8(pszPath));
}

HOVERLAY CZebDecoder::SetOsdText(const char16_t* pszText, int nPosition)
{
    if (nPosition < 0 || nPosition > 3)
        return nullptr;
    CAutoLock lock(&m_csStream);
    m_blend.RemoveItem(m_pText[nPosition]);
    m_pText[nPosition] = nullptr;
    if (pszText != nullptr && *pszText != u'\0')
        m_pText[nPosition] = m_blend.AddText(pszText, m_nInWidth, std::abs(m_nInHeight), nPosition);
    return m_pText[nPosition];
}

HRESULT CZebDecoder::SetShownWidth(int nWidth, int nScalePercent)
{
    if (nWidth < 0 || nScalePercent < 25 || nScalePercent > 800)
        return E_INVALIDARG;
    CAutoLock lock(&m_csStream);
    m_blend.SetShownWidth(nWidth, nScalePercent);
    return S_OK;
}

HOVERLAY CZebDecoder::AddOverlayBitmap(int nX, int nY, int nWidth, int nHeight, const uint32_t* pPixels,
                                       uint32_t dwKeyColor)
{
    CAutoLock lock(&m_csStream);
    return m_blend.AddBitmap(nX, nY, nWidth, nHeight, pPixels, dwKeyColor);
}

HRESULT CZebDecoder::SetOverlayValue(HOVERLAY hOverlay, int nValue)
{
    CAutoLock lock(&m_csStream);
    return m_blend.SetItemValue(static_cast<OverlayItem*>(hOverlay), nValue) ? S_OK : E_INVALIDARG;
}

HRESULT CZebDecoder::RemoveOverlay(HOVERLAY hOverlay)
{
    CAutoLock lock(&m_csStream);
    for (OverlayItem*& pText : m_pText)
        if (pText == hOverlay)
            pText = nullptr;
    return m_blend.RemoveItem(static_cast<OverlayItem*>(hOverlay)) ? S_OK : E_INVALIDARG;
}
