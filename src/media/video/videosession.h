// One camera's decoding graph: push source -> decoder filter -> renderer. Frame segments go in
// through AddBuffer; the graph is built for the picture size of the first segment and built
// anew whenever that size changes.
#pragma once

#include "media/video/sourcectrl.h"
#include "media/video/videorenderer.h"
#include "platform/mediagraph/interfaces.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct IZEBDecoder;
struct IZEBDecoderView;
class CVideoRenderer;

// What the pane hands to AddBuffer; width and height are written back.
struct VideoBuffer {
    const BYTE* pData = nullptr;
    DWORD nLen = 0;
    WORD usSequence = 0;
    BYTE bySubSequence = 0;
    int nMode = 0; // 0 plain MPEG-4, 1 MPEG-4 with stamp header, 2 H.264 with stamp header
    DWORD nWidth = 0;
    DWORD nHeight = 0;
    REFERENCE_TIME tArrival = 0; // when the client received it (LiveClockNow); 0: now
};

// Picture-size limits of a live stream.
inline constexpr DWORD VIDEO_MIN_WIDTH = 40;
inline constexpr DWORD VIDEO_MAX_WIDTH = 1920;
inline constexpr DWORD VIDEO_MIN_HEIGHT = 30;
inline constexpr DWORD VIDEO_MAX_HEIGHT = 1080;

// The graphs alive in this process, by item name "FilterGraph %08x pid %08x".
std::vector<std::string> ListRunningGraphs();

class CVideoSession {
public:
    enum { ADD_DROPPED = 0, ADD_PUSHED = 1, ADD_REBUILT = 2 };

    // pOwner: the child video window; null renders to memory only.
    explicit CVideoSession(IVideoPresenter* pOwner, IVideoPresenter* pDrain = nullptr);
    virtual ~CVideoSession();
    CVideoSession(const CVideoSession&) = delete;
    CVideoSession& operator=(const CVideoSession&) = delete;

    virtual int AddBuffer(VideoBuffer* pBuffer);
    // The frame being assembled is complete: send it on now.
    void FlushFrame();
    // Ends any graph first; false (with the failure logged) leaves the session without one.
    bool BuildGraph(IVideoPresenter* pOwner, DWORD nWidth, DWORD nHeight);
    void EndSession();
    // Applied now when a graph runs, and kept for the next build.
    void SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation);
    // Relative rectangle in 1/10000 of the owner's client size (left, top, right, bottom), or
    // null for the whole client area.
    void SetVideoPosition(const RECT* prcRelative = nullptr);
    virtual bool SetFullScreen(bool bFullScreen);
    bool IsFullScreen() const { return m_bFullScreen; }
    // The decoder's current picture as a 24-bit bitmap file.
    bool Snapshot(const char* pszPath);

    bool IsRunning() const { return m_bRunning; }
    // The last build found no decoder to create (the module is not installed or registered).
    bool DecoderMissing() const { return m_bDecoderMissing; }
    DWORD Width() const { return m_nWidth; }
    DWORD Height() const { return m_nHeight; }
    int StreamMode() const { return m_nMode; }

    struct Stats {
        std::uint64_t qwPushed = 0;   // frames handed to the decoder
        std::uint64_t qwDropped = 0;  // frames the source or AddBuffer dropped
        std::uint64_t qwRendered = 0; // pictures presented
        std::uint64_t qwRenderNs = 0; // time spent presenting them
        std::uint64_t qwPushNs = 0;   // time spent in AddBuffer (gathering and queueing)
        std::uint64_t qwBuilds = 0;   // graphs built
        std::uint64_t qwDecodeNs = 0; // the decoder filter's time on the frames, rendering excluded
        // Arrival to pixels handed to the window (CVideoRenderer::Latency).
        std::uint64_t qwTimed = 0;
        std::uint64_t qwLatencyNs = 0;
        std::uint64_t qwKeyTimed = 0;
        std::uint64_t qwKeyLatencyNs = 0;
        std::uint64_t qwKeyLatencyMaxNs = 0;
    };
    // Counts of this session over all the graphs it built.
    Stats GetStats() const;
    // The longest arrival-to-window times (all frames, key frames) since the last call.
    void TakeLatencyPeaks(std::uint64_t* pqwMaxNs, std::uint64_t* pqwKeyMaxNs);

private:
    bool BuildGraphInner(IVideoPresenter* pOwner, DWORD nWidth, DWORD nHeight);
    // Tells the decoder the width its pictures are drawn at, for the size of its texts.
    void FollowShownWidth();
    void ReleaseAll();
    void AccumulateGraphStats();
    // Adds the current graph's renderer and source figures.
    void AddGraphTimes(Stats* pStats) const;

    IVideoPresenter* m_pOwner;
    IVideoPresenter* m_pDrain;
    DWORD m_nWidth = 0;
    DWORD m_nHeight = 0;
    int m_nSequence = -1;   // the frame being assembled
    int m_nLastSubSeq = -1; // last sub-sequence pushed
    int m_nMode = 0;
    IGraphBuilder* m_pGraph = nullptr;
    IMediaControl* m_pMediaControl = nullptr;
    IVideoWindow* m_pVideoWindow = nullptr;
    IBasicVideo* m_pBasicVideo = nullptr;
    SourceCtrl* m_pSourceCtrl = nullptr;
    IZEBDecoder* m_pDecoder = nullptr;
    IZEBDecoderView* m_pDecoderView = nullptr;
    int m_nShownWidth = -1; // as last told to the decoder
    int m_nShownScale = 100;
    IBaseFilter* m_pSourceFilter = nullptr;
    IBaseFilter* m_pDecoderFilter = nullptr;
    CVideoRenderer* m_pRenderer = nullptr; // our renderer when Render picked it; not referenced
    std::string m_strRotName;
    bool m_bHasRelative = false;
    RECT m_rcRelative{};
    int m_anColor[4] = {};
    bool m_bRunning = false;
    bool m_bFullScreen = false;
    // Set on the streaming thread, read by the pane.
    std::atomic<bool> m_bDecoderMissing{false};
    Stats m_stats;                // of graphs already ended
    Stats m_statsGraph;           // the current graph's AddBuffer counts
    std::uint64_t m_qwPeakNs = 0; // of graphs ended since the last TakeLatencyPeaks
    std::uint64_t m_qwKeyPeakNs = 0;
};
