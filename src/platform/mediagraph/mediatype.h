// Media types: what flows on a pin connection (major type, subtype, format block).
#pragma once

#include <cstdlib>

#include "platform/com/unknown.h"

using REFERENCE_TIME = std::int64_t; // 100 ns units

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; // >= 0: bottom-up rows
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression; // BI_RGB or a four-character code
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_BITFIELDS = 3;

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    DWORD dwControlFlags;
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

// Row length in bytes of a bitmap, rounded up to 4 bytes.
constexpr DWORD WIDTHBYTES(DWORD dwBits)
{
    return ((dwBits + 31) & ~DWORD(31)) / 8;
}
// The framework's image size of a bitmap header: padded rows times the height (either sign).
DWORD GetBitmapSize(const BITMAPINFOHEADER* pHeader);

inline constexpr GUID MEDIATYPE_NULL = GUID_NULL;
inline constexpr GUID MEDIASUBTYPE_NULL = GUID_NULL;
inline constexpr GUID MEDIATYPE_Video = MakeGuid("73646976-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Audio = MakeGuid("73647561-0000-0010-8000-00AA00389B71");
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("E436EB83-524F-11CE-9F53-0020AF0BA770");

inline constexpr GUID MEDIASUBTYPE_YV12 = FourCCGuid(MakeFourCC("YV12"));
inline constexpr GUID MEDIASUBTYPE_IYUV = FourCCGuid(MakeFourCC("IYUV"));
inline constexpr GUID MEDIASUBTYPE_YUY2 = FourCCGuid(MakeFourCC("YUY2"));
inline constexpr GUID MEDIASUBTYPE_YVYU = FourCCGuid(MakeFourCC("YVYU"));
inline constexpr GUID MEDIASUBTYPE_UYVY = FourCCGuid(MakeFourCC("UYVY"));
inline constexpr GUID MEDIASUBTYPE_RGB565 = MakeGuid("E436EB7B-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB555 = MakeGuid("E436EB7C-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("E436EB7E-524F-11CE-9F53-0020AF0BA770");

inline constexpr GUID FORMAT_None = MakeGuid("0F6417D6-C318-11D0-A43F-00A0C9223196");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("05589F80-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_VideoInfo2 = MakeGuid("F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA");

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat; // CoTaskMemAlloc'd
};

// Frees the format block (and pUnk) of a type, leaving the structure itself.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a type created by CreateMediaType (or handed out by GetMediaType of a sample).
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into a CoTaskMemAlloc'd structure; null on allocation failure.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Deep copy into *pmtTarget (whose old contents are not freed). E_OUTOFMEMORY on failure.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);

// An owning media type with value semantics.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* pMajorType);
    CMediaType(const AM_MEDIA_TYPE& mt);
    CMediaType(const CMediaType& mt);
    CMediaType& operator=(const AM_MEDIA_TYPE& mt);
    CMediaType& operator=(const CMediaType& mt);
    ~CMediaType();

    bool operator==(const CMediaType& rt) const;
    bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

    HRESULT Set(const CMediaType& rt);
    HRESULT Set(const AM_MEDIA_TYPE& rt);
    bool IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* pType) { majortype = *pType; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* pType) { subtype = *pType; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* pType) { formattype = *pType; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    void SetSampleSize(ULONG sz);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Replaces the format block with a copy of the given bytes.
    BOOL SetFormat(const BYTE* pFormat, ULONG length);
    // A zeroed block of the given size (kept if already that size); null on failure.
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block keeping its start; null on failure.
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();

    // Major type, subtype or format type left null (wildcards in a partial type).
    bool IsPartiallySpecified() const;
    // This type matches the (possibly partial) ppartial: each of its fields that is not null is
    // equal here, and so is its format block when it names a format type.
    bool MatchesPartial(const CMediaType* ppartial) const;

    void InitMediaType();
};

// The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 format block; null when the type
// has neither format or its block is too short.
const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE* pmt);
BITMAPINFOHEADER* GetBitmapInfoHeader(AM_MEDIA_TYPE* pmt);
