#include "platform/mediagraph/mediatype.h"

#include <cstring>

#include "platform/com/comapi.h"

DWORD GetBitmapSize(const BITMAPINFOHEADER* pHeader)
{
    const DWORD dwRow = WIDTHBYTES(DWORD(pHeader->biWidth) * pHeader->biBitCount);
    const std::int64_t nHeight = pHeader->biHeight < 0 ? -std::int64_t(pHeader->biHeight) : pHeader->biHeight;
    return static_cast<DWORD>(dwRow * nHeight);
}

void FreeMediaType(AM_MEDIA_TYPE& mt)
{
    if (mt.cbFormat != 0 || mt.pbFormat != nullptr) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource)
{
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0 && pmtSource->pbFormat != nullptr) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (pmtTarget->pbFormat == nullptr) {
            pmtTarget->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
    } else {
        pmtTarget->cbFormat = 0;
        pmtTarget->pbFormat = nullptr;
    }
    if (pmtTarget->pUnk != nullptr)
        pmtTarget->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc)
{
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (pmt == nullptr)
        return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || pmt->pbFormat == nullptr)
        return nullptr;
    if (pmt->formattype == FORMAT_VideoInfo && pmt->cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat)->bmiHeader;
    if (pmt->formattype == FORMAT_VideoInfo2 && pmt->cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(pmt->pbFormat)->bmiHeader;
    return nullptr;
}

BITMAPINFOHEADER* GetBitmapInfoHeader(AM_MEDIA_TYPE* pmt)
{
    return const_cast<BITMAPINFOHEADER*>(GetBitmapInfoHeader(static_cast<const AM_MEDIA_TYPE*>(pmt)));
}

CMediaType::CMediaType()
{
    InitMediaType();
}

CMediaType::CMediaType(const GUID* pMajorType)
{
    InitMediaType();
    majortype = *pMajorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& mt)
{
    InitMediaType();
    Set(mt);
}

CMediaType::CMediaType(const CMediaType& mt) : AM_MEDIA_TYPE(mt)
{
    InitMediaType();
    Set(mt);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& mt)
{
    Set(mt);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& mt)
{
    Set(mt);
    return *this;
}

CMediaType::~CMediaType()
{
    FreeMediaType(*this);
}

void CMediaType::InitMediaType()
{
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
    pUnk = nullptr;
    cbFormat = 0;
    pbFormat = nullptr;
}

HRESULT CMediaType::Set(const CMediaType& rt)
{
    return Set(static_cast<const AM_MEDIA_TYPE&>(rt));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt)
{
    if (&rt == this)
        return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr))
        InitMediaType();
    return hr;
}

bool CMediaType::operator==(const CMediaType& rt) const
{
    return majortype == rt.majortype && subtype == rt.subtype && formattype == rt.formattype &&
           cbFormat == rt.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG sz)
{
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG length)
{
    if (AllocFormatBuffer(length) == nullptr && length != 0)
        return FALSE;
    if (length != 0)
        std::memcpy(pbFormat, pFormat, length);
    return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length)
{
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    if (cbFormat == length && pbFormat != nullptr) {
        std::memset(pbFormat, 0, length);
        return pbFormat;
    }
    auto* pNew = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (pNew == nullptr)
        return nullptr;
    std::memset(pNew, 0, length);
    ResetFormatBuffer();
    pbFormat = pNew;
    cbFormat = length;
    return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length)
{
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* pNew = static_cast<BYTE*>(CoTaskMemRealloc(pbFormat, length));
    if (pNew == nullptr)
        return nullptr;
    if (length > cbFormat)
        std::memset(pNew + cbFormat, 0, length - cbFormat);
    pbFormat = pNew;
    cbFormat = length;
    return pbFormat;
}

void CMediaType::ResetFormatBuffer()
{
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

bool CMediaType::IsPartiallySpecified() const
{
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType* ppartial) const
{
    if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype)
        return false;
    if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype)
        return false;
    if (ppartial->formattype != GUID_NULL) {
        if (formattype != ppartial->formattype || cbFormat != ppartial->cbFormat)
            return false;
        if (cbFormat != 0 && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0)
            return false;
    }
    return true;
}
