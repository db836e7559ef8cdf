// The live view's video renderer: planar YUV 4:2:0 (or RGB32) samples from the decoder,
// presented through the owner window it is given (IVideoPresenter), or kept in memory only when
// it has none (tests, the command line). A YUV picture is turned into RGB at the size the window
// draws it, so that a wall of small panes never converts whole large pictures. It answers the
// graph's IVideoWindow and IBasicVideo.
#pragma once

#include "media/video/sourcectrl.h"
#include "media/video/yuvpicture.h"
#include "platform/mediagraph/basefilter.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// What the renderer draws into: the pane's child video window. Called on the streaming thread
// except where noted.
class IVideoPresenter {
public:
    // One picture, top row first, 0x00RRGGBB pixels; the data is valid only during the call.
    virtual void PresentFrame(const std::uint32_t* pPixels, int nWidth, int nHeight) = 0;
    // Caller's thread (the session's).
    virtual void SetVideoVisible(bool bVisible) = 0;
    virtual void SetVideoPosition(long nLeft, long nTop, long nWidth, long nHeight) = 0;
    // False when the window cannot switch.
    virtual bool SetVideoFullScreen(bool bFullScreen) = 0;
    // The window's client size, for positioning the video in it.
    virtual void GetClientSize(long* pnWidth, long* pnHeight) = 0;
    // Streaming thread: the size in screen pixels at which a picture of the source size will be
    // drawn now, so that it is made at that size and not converted whole and shrunk after;
    // 0 x 0 when not known (the whole picture is made).
    virtual void GetTargetSize(int nSourceWidth, int nSourceHeight, int* pnWidth, int* pnHeight)
    {
        (void)nSourceWidth;
        (void)nSourceHeight;
        *pnWidth = 0;
        *pnHeight = 0;
    }
    // Any thread: the scale of the screen the window is on, in percent (200 at 200 %).
    virtual int ScalePercent() { return 100; }

protected:
    ~IVideoPresenter() = default;
};

inline OAHWND PresenterHandle(IVideoPresenter* pPresenter)
{
    return reinterpret_cast<OAHWND>(pPresenter);
}

class CVideoRenderer;

class CVideoRendererPin : public CBaseInputPin {
public:
    CVideoRendererPin(CVideoRenderer* pRenderer, CCritSec* pLock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* pSample) override;

private:
    CVideoRenderer* m_pRenderer;
};

class CVideoRenderer : public CBaseFilter, public IVideoWindow, public IBasicVideo {
public:
    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr);

    CVideoRenderer(IUnknown* pUnk, HRESULT* phr);
    ~CVideoRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? m_pPin : nullptr; }

    // IVideoWindow
    HRESULT put_Caption(LPCWSTR) override { return S_OK; }
    HRESULT put_WindowStyle(long nStyle) override;
    HRESULT get_WindowStyle(long* pnStyle) override;
    HRESULT put_Visible(long nVisible) override;
    HRESULT get_Visible(long* pnVisible) override;
    HRESULT put_Owner(OAHWND owner) override;
    HRESULT get_Owner(OAHWND* pOwner) override;
    HRESULT put_MessageDrain(OAHWND drain) override;
    HRESULT get_MessageDrain(OAHWND* pDrain) override;
    HRESULT put_FullScreenMode(long nFullScreen) override;
    HRESULT get_FullScreenMode(long* pnFullScreen) override;
    HRESULT SetWindowPosition(long nLeft, long nTop, long nWidth, long nHeight) override;
    HRESULT GetWindowPosition(long* pnLeft, long* pnTop, long* pnWidth, long* pnHeight) override;

    // IBasicVideo
    HRESULT get_SourceWidth(long* pnWidth) override;
    HRESULT get_SourceHeight(long* pnHeight) override;
    HRESULT GetVideoSize(long* pnWidth, long* pnHeight) override;
    HRESULT SetSourcePosition(long, long, long, long) override { return S_OK; }
    HRESULT SetDefaultSourcePosition() override { return S_OK; }
    HRESULT SetDestinationPosition(long nLeft, long nTop, long nWidth, long nHeight) override;
    HRESULT GetDestinationPosition(long* pnLeft, long* pnTop, long* pnWidth, long* pnHeight) override;
    HRESULT SetDefaultDestinationPosition() override;
    HRESULT GetCurrentImage(long* pnBufferSize, long* pDIBImage) override;

    // Frames shown (or kept, without an owner) and the time spent presenting them.
    std::uint64_t FramesRendered() const { return m_qwFrames.load(); }
    std::uint64_t RenderNanoseconds() const { return m_qwRenderNs.load(); }
    // From a frame's arrival (its sample's start time, LiveClockNow) to its pixels handed to the
    // window, over the pictures that carried one; key frames apart. Longest values since the
    // last call of TakeLatencyPeaks.
    struct Latency {
        std::uint64_t qwFrames = 0;
        std::uint64_t qwNs = 0;
        std::uint64_t qwKeyFrames = 0;
        std::uint64_t qwKeyNs = 0;
        std::uint64_t qwKeyMaxNs = 0; // over the renderer's life
    };
    Latency GetLatency() const;
    void TakeLatencyPeaks(std::uint64_t* pqwMaxNs, std::uint64_t* pqwKeyMaxNs);

private:
    friend class CVideoRendererPin;
    void OnFormat(const CMediaType& mt);
    HRESULT Render(IMediaSample* pSample);
    // The last picture again, scaled for the window as it is now (under m_mutex).
    void PresentLast();
    // A YUV 4:2:0 sample into m_vPicture at the window's size (under m_mutex).
    void ConvertYuv(const BYTE* pData);

    CCritSec m_lock;
    CVideoRendererPin* m_pPin = nullptr;
    std::mutex m_mutex; // the picture and the window state, between the streaming thread and callers
    IVideoPresenter* m_pPresenter = nullptr;
    OAHWND m_drain = 0;
    long m_nStyle = 0;
    bool m_bVisible = true;
    bool m_bFullScreen = false;
    long m_anWindow[4] = {};
    long m_anDest[4] = {};
    int m_nWidth = 0; // of the pictures coming in
    int m_nHeight = 0;
    bool m_bBottomUp = true;
    long m_nStride = 0; // bytes per row of an incoming sample (of its luma plane for YUV)
    enum class Format { Rgb32, Yv12, I420 } m_enFormat = Format::Rgb32;
    // The last picture as made for the window, top row first, and its size.
    std::vector<std::uint32_t> m_vPicture;
    int m_nPictureWidth = 0;
    int m_nPictureHeight = 0;
    YuvScratch m_scratch;       // the converter's rows and tables, kept between pictures
    bool m_bHasPicture = false; // m_vPicture holds a picture of the current format
    std::atomic<std::uint64_t> m_qwFrames{0};
    std::atomic<std::uint64_t> m_qwRenderNs{0};
    // Apart from m_mutex, which is held while a picture is scaled: reading the figures does not
    // wait for that.
    mutable std::mutex m_mutexLatency;
    Latency m_latency;
    std::uint64_t m_qwPeakNs = 0;
    std::uint64_t m_qwKeyPeakNs = 0;
};
