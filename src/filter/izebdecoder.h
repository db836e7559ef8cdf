// The decoder filter's private interface and class ids, shared with the programs that put the
// filter into their graphs.
#pragma once

#include "platform/com/unknown.h"

#include <cstdint>

// {6362657A-1111-0010-8000-00AA00389B71}: the four-character form of "zebc".
inline constexpr CLSID CLSID_ZebDecoder = MakeGuid("6362657A-1111-0010-8000-00AA00389B71");
inline constexpr CLSID CLSID_ZebDecoderAbout = MakeGuid("10000001-4FEF-40D3-B3FA-E0531B897F98");
inline constexpr IID IID_IZEBDecoder = MakeGuid("E559629A-1DC7-440F-9985-53D30242426D");
inline constexpr IID IID_IZEBDecoderEx = MakeGuid("62225D43-4CEE-47EF-8F93-903A011CC699");
inline constexpr IID IID_IZEBDecoderView = MakeGuid("8A3C5E21-6B0D-4F52-9E47-1D2C3B4A5F60");
// The About page's own data interface.
inline constexpr IID IID_IZEBAboutPage = MakeGuid("10000002-4FEF-40D3-B3FA-E0531B897F98");

using HOVERLAY = void*;

// Every method is serialised with the filter's picture processing; values set while no
// stream is connected apply to the next one.
struct IZEBDecoder : IUnknown {
    // Each value -128..127 (kept as a signed byte); 0 is neutral.
    virtual HRESULT SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation) = 0;
    virtual HRESULT SetRotate180(BOOL bRotate) = 0;
    virtual HRESULT SetMirror(int nMirror) = 0;
    // The current picture as a 24-bit bitmap file; nonzero on success.
    virtual int SaveSnapshot(const char* pszPath) = 0;

protected:
    ~IZEBDecoder() = default;
};

struct IZEBDecoderEx : IZEBDecoder {
    // Replaces the text shown at a corner (0 top left, 1 top right, 2 bottom left, 3 bottom
    // right); an empty text just removes it. The new overlay, or null.
    virtual HOVERLAY SetOsdText(const char16_t* pszText, int nPosition) = 0;
    // A bitmap of 0x00RRGGBB pixels (stride nWidth * 4) drawn with dwKeyColor transparent.
    virtual HOVERLAY AddOverlayBitmap(int nX, int nY, int nWidth, int nHeight, const uint32_t* pPixels,
                                      uint32_t dwKeyColor) = 0;
    virtual HRESULT SetOverlayValue(HOVERLAY hOverlay, int nValue) = 0;
    virtual HRESULT RemoveOverlay(HOVERLAY hOverlay) = 0;
    virtual int SaveSnapshotW(const char16_t* pszPath) = 0;

protected:
    ~IZEBDecoderEx() = default;
};

// How the picture is shown: a picture shrunk into a small window (a pane of a wall) gets its
// overlay texts in the size that window would give them, so that they stay readable.
struct IZEBDecoderView : IUnknown {
    // The width in screen pixels the picture is drawn at, and the screen's scale (100: one
    // pixel a point, 200 at 200 %); a width of 0 or the picture's own width or more: texts
    // sized by the picture's width, as always. Texts added after this call follow it.
    virtual HRESULT SetShownWidth(int nWidth, int nScalePercent) = 0;

protected:
    ~IZEBDecoderView() = default;
};

// What the About page shows.
struct IZEBAboutPage : IUnknown {
    virtual int GetDialogId() = 0;
    virtual const char16_t* GetTitle() = 0;
    // Lines 0..2; null past the last.
    virtual const char16_t* GetLine(int nLine) = 0;

protected:
    ~IZEBAboutPage() = default;
};
