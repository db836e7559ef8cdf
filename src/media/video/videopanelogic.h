// The video pane without its window: media frames of the shown camera go to its video session
// and audio to the audio manager; pane commands arrive over the notification bus. The Qt
// widget (src/ui/videopane.h) is the view; without one, the session renders to memory.
#pragma once

#include "core/notify.h"
#include "media/video/frameorderer.h"
#include "media/video/videosession.h"
#include "protocol/engmedia.h"

#include <functional>
#include <memory>
#include <vector>

struct DeviceInfo;
class AudioManager;

// What the logic asks of its window.
class IVideoPaneView {
public:
    // Command 0xA1: the child video window the renderer presents in.
    virtual IVideoPresenter* CreateVideoWindow() = 0;
    virtual void DestroyVideoWindow() = 0;
    // The session built for a new picture size: lay the video window out again.
    virtual void OnPictureSize(DWORD nWidth, DWORD nHeight) = 0;
    // Repaint the pane (the waiting text goes when video arrives).
    virtual void InvalidatePane() = 0;
    // The snapshot was written to the temporary file; the view offers to save it.
    virtual void OnSnapshotTaken(const std::string& strTempPath) = 0;

protected:
    ~IVideoPaneView() = default;
};

// Who asks for a snapshot through the bus: the user's picture is offered for saving, the motion
// page only reads the file as the background of its region picture.
constexpr UINT_PTR SNAPSHOT_FOR_USER = 0;
constexpr UINT_PTR SNAPSHOT_FOR_MOTION = 1;

// A viewer (a pane, or the router of a wall of panes) becomes the media engine's sink, creating
// the engine when there is none; while it is, the sockets hand it key frames that lost segments
// (a picture with concealed gaps beats none). The release leaves a sink another viewer took alone.
void AttachViewerSink(void* pContext, MediaSinkFun pSink);
void DetachViewerSink(void* pContext);

class CVideoPaneLogic : public INotifySink {
public:
    static constexpr std::size_t WORK_BUFFER_SIZE = 1024000;

    struct Hooks {
        // The application's selected play type (1 live view).
        std::function<DWORD()> fnPlayType;
        // Audio request 78 to the camera.
        std::function<int(DWORD dwID, const BYTE* pData, int nLen)> fnSendAudio;
        AudioManager* pAudio = nullptr;
        // Where Snapshot writes; the platform's mapping of "C:\Temp.tmp".
        std::string strSnapshotPath;
        // Makes the session for a shown device (tests put a recording one in).
        std::function<std::unique_ptr<CVideoSession>(IVideoPresenter* pOwner)> fnMakeSession;
    };

    // pView may be null (no window: render to memory). Default hooks use the device manager,
    // the viewer command engine and the process's audio manager.
    explicit CVideoPaneLogic(IVideoPaneView* pView);
    CVideoPaneLogic(IVideoPaneView* pView, Hooks hooks);
    ~CVideoPaneLogic() override;
    CVideoPaneLogic(const CVideoPaneLogic&) = delete;
    CVideoPaneLogic& operator=(const CVideoPaneLogic&) = delete;

    // Subscribes to the pane commands, and to the media engine's frames (creating the engine
    // when there is none) and the audio manager's captured blocks.
    void Attach();
    void Detach();
    // Only the frame queue's message window: a pane of the grid, whose frames and commands come
    // through the router (CVideoRouter) instead of the engine and the bus.
    void AttachQueue();
    // Whether this pane may play and stop the PC speaker and microphone (the process has one
    // of each): a grid's focused pane only; a lone pane always.
    void SetAudioOwner(bool bOwner);
    bool IsAudioOwner() const { return m_bAudioOwner; }
    // The window shows the camera's name itself (a pane of a wall, at a size it can read): the
    // picture then carries no caption, so that the name is not shown twice.
    void SetNameShownByWindow(bool bShown) { m_bNameShownByWindow = bShown; }

    // The media callback: audio to FeedAudioData, video to FeedVideoData.
    int OnMediaFrame(const MediaFrame& frame);
    // The media engine's frames, as it delivers them. The socket layer hands out the frames it
    // has completed in the order of its slots, not of their numbers, and a frame held up by the
    // network completes after newer ones: the frames of one delivery are held until it ends,
    // then put in number order with those still waiting for an older one (CFrameOrderer), and
    // go to OnMediaFrame in that order, so that the live filter does not drop a frame that came
    // after a newer one. Without Attach (no message window) a frame goes to the orderer at once.
    void QueueMediaFrame(const MediaFrame& frame);
    // The shown camera's pictures come from its recordings on this PC, fed to OnMediaFrame: the
    // engine's frames of it (it may stream live for a recording at the same time) pass by until
    // the camera is stopped.
    void SetEngineFramesIgnored(bool bIgnored) { m_bEngineFramesIgnored = bIgnored; }
    void FlushQueuedFrames();
    // The orderer's wait for a missing frame is over: what waited for it goes on.
    void ReleaseOrderedFrames();
    std::size_t QueuedFrames() const { return m_vQueue.size(); }
    const CFrameOrderer& Orderer() const { return m_orderer; }
    int FeedVideoData(const MediaFrame& frame);
    int FeedAudioData(const MediaFrame& frame);
    void SendAudioData(const BYTE* pData, int nLen);

    // Pane commands (also reachable through the bus).
    void ShowDevice(DeviceInfo* pDevice);
    void StopDevice(DeviceInfo* pDevice);
    void SetColorAdjust(DWORD dwValue);
    bool Snapshot(bool bOffer = true);
    void OpenLocalMic();
    void OpenLocalSpk();
    void ResetSequence();
    // Double click or a key while full screen; false when the window did not switch.
    bool ToggleFullScreen();

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    DeviceInfo* Device() const { return m_pDevice; }
    CVideoSession* Session() const { return m_pSession.get(); }
    DWORD PictureWidth() const { return m_nPictureWidth; }
    DWORD PictureHeight() const { return m_nPictureHeight; }
    bool IsFullScreen() const { return m_bFullScreen; }
    // Painting: a session whose graph is not running yet shows the waiting text.
    bool ShowsWaitingText() const { return m_pSession && !m_pSession->IsRunning(); }
    void SetWaitingTextShown() { m_bWaitingShown = true; }
    const std::string& SnapshotPath() const { return m_hooks.strSnapshotPath; }

    struct Counters {
        std::uint64_t qwReceived = 0;  // video segments of the shown camera
        std::uint64_t qwFiltered = 0;  // dropped as old or another camera's
        std::uint64_t qwOversized = 0; // stamped first segments too long for the work buffer
        std::uint64_t qwSegments = 0;  // handed to the session
        std::uint64_t qwReordered = 0; // delivered after a newer frame, put back in order
        std::uint64_t qwGatherUs = 0;  // received frames' time from first segment to complete
    };
    const Counters& GetCounters() const { return m_counters; }

    // The caption shown for the device: its name, or its channel entry's for a recorder.
    static std::u16string CaptionOf(const DeviceInfo& device, DWORD dwCameraID);

private:
    IVideoPaneView* m_pView;
    Hooks m_hooks;
    bool m_bAttached = false;
    bool m_bAudioOwner = true;
    bool m_bNameShownByWindow = false;
    DeviceInfo* m_pDevice = nullptr;
    std::unique_ptr<CVideoSession> m_pSession;
    IVideoPresenter* m_pPresenter = nullptr;
    WORD m_usLastSequence = 0;
    BYTE m_byLastSubSequence = 0;
    DWORD m_nPictureWidth = 0;
    DWORD m_nPictureHeight = 0;
    double m_dZoom = 1.0;
    bool m_bFullScreen = false;
    bool m_bWaitingShown = false;
    std::vector<BYTE> m_vWork;
    Counters m_counters;
    // Nothing accepted since the device was shown or the filter reset: the next frame is taken
    // whatever its number (a camera's numbers may start anywhere on the circle).
    bool m_bSequenceFree = true;
    // A key frame went to the session since then: until one has, a key frame that comes after
    // its wait (a damaged one given up late by the socket layer) is still the way to a picture.
    bool m_bKeyFed = false;
    bool m_bEngineFramesIgnored = false;

    struct QueuedFrame {
        MediaFrame frame;
        std::vector<BYTE> vData;
        REFERENCE_TIME tArrival = 0;
        DWORD dwGatherUs = 0;
    };
    // When the frame being fed reached the pane (LiveClockNow): the frames of a delivery wait
    // for the event loop, and that wait is part of their way to the window.
    REFERENCE_TIME m_tArrival = 0;
    // How long the socket layer took to gather the frame being fed from its segments.
    DWORD m_dwGatherUs = 0;
    std::vector<QueuedFrame> m_vQueue;
    std::size_t m_nQueuedBytes = 0;
    HWND m_hFlushWnd = nullptr;
    bool m_bFlushPosted = false;
    CFrameOrderer m_orderer;
    bool m_bOrderTimer = false;
};
