#include "media/video/videopanelogic.h"

#include "core/log.h"
#include "device/devicemanager.h"
#include "media/audio/audiomanager.h"
#include "net/mediareassembly.h"
#include "platform/paths.h"
#include "protocol/engcmd.h"

#include "platform/msgwindow.h"
#include "platform/ticks.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kPaneCommands[] = {DWORD_NOTIFYID_VIDEO_START,           DWORD_NOTIFYID_VIDEO_STOP,
                                   DWORD_NOTIFYID_VIDEO_COLOR,           DWORD_NOTIFYID_WANT_SNAPSHOT,
                                   DWORD_NOTIFYID_SPEAK_TO_CAMERA,       DWORD_NOTIFYID_LISTEN_FROM_CAMERA,
                                   DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED};

// The engine's sink is a plain function; the pane is its context.
void PaneMediaSink(MediaFrame* pFrame)
{
    auto* pLogic = static_cast<CVideoPaneLogic*>(CEngMedia::GetInstance()->GetContext());
    if (pLogic != nullptr && pFrame != nullptr)
        pLogic->QueueMediaFrame(*pFrame);
}

// The queued frames go on once the socket layer's delivery has returned to the event loop.
constexpr char kFlushClass[] = "VideoPaneFrameFlush";
constexpr UINT WM_FLUSH_FRAMES = WM_USER + 1;
// Wakes the orderer when a held frame's wait for a missing one is over.
constexpr UINT_PTR TR_ORDER_WAIT = 1;

LRESULT FlushWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_FLUSH_FRAMES || (uMsg == WM_TIMER && wParam == TR_ORDER_WAIT)) {
        if (auto* pLogic = reinterpret_cast<CVideoPaneLogic*>(GetWindowUserData(hWnd))) {
            if (uMsg == WM_FLUSH_FRAMES)
                pLogic->FlushQueuedFrames();
            else
                pLogic->ReleaseOrderedFrames();
        }
        return 0;
    }
    return DefWindowProc(hWnd, uMsg, wParam, lParam);
}

// A delivery larger than this goes on at once: a second of 1080p at 8 Mbit/s is about 1 MB.
constexpr std::size_t kMaxQueuedFrames = 512;
constexpr std::size_t kMaxQueuedBytes = 8u << 20;

// Where the codec data starts: after the stamp header of a stamped frame.
DWORD EsOffset(const MediaFrame& frame)
{
    return frame.bStamped && frame.nLen > 0 && frame.pData[0] <= frame.nLen ? frame.pData[0] : 0;
}

// The talk codec the camera plays: GSM 06.10 in its AVI variant.
constexpr BYTE kSpeakerCodec = 74;

} // namespace

CVideoPaneLogic::CVideoPaneLogic(IVideoPaneView* pView) : CVideoPaneLogic(pView, Hooks{}) {}

CVideoPaneLogic::CVideoPaneLogic(IVideoPaneView* pView, Hooks hooks)
    : m_pView(pView), m_hooks(std::move(hooks)), m_vWork(WORK_BUFFER_SIZE)
{
    if (!m_hooks.fnPlayType)
        m_hooks.fnPlayType = [] { return GetDeviceManager()->GetPlayType(); };
    if (!m_hooks.fnSendAudio)
        m_hooks.fnSendAudio = [](DWORD dwID, const BYTE* pData, int nLen) {
            return GetEngCmd()->Cmd_SendAudio(dwID, pData, nLen);
        };
    if (m_hooks.pAudio == nullptr)
        m_hooks.pAudio = &GetAudioManager();
    if (!m_hooks.fnMakeSession)
        m_hooks.fnMakeSession = [](IVideoPresenter* pOwner) {
            return std::make_unique<CVideoSession>(pOwner);
        };
    if (m_hooks.strSnapshotPath.empty())
        m_hooks.strSnapshotPath = MapDesignPath("C:\\Temp.tmp");
}

CVideoPaneLogic::~CVideoPaneLogic()
{
    Detach();
    if (m_pDevice != nullptr)
        StopDevice(m_pDevice);
}

void AttachViewerSink(void* pContext, MediaSinkFun pSink)
{
    CEngMedia* pEngine = CEngMedia::GetInstance();
    if (!pEngine->IsInit())
        pEngine->Init(pContext, pSink);
    else
        pEngine->SetMediaSink(pContext, pSink);
    GetMediaDataValid().bDamagedKeyFrames = true;
}

void DetachViewerSink(void* pContext)
{
    CEngMedia* pEngine = CEngMedia::GetInstance();
    if (pEngine->GetContext() != pContext)
        return;
    pEngine->SetMediaSink(nullptr, nullptr);
    GetMediaDataValid().bDamagedKeyFrames = false;
}

void CVideoPaneLogic::Attach()
{
    if (m_bAttached)
        return;
    for (DWORD dwID : kPaneCommands)
        GetNotifyManager()->RegisterNotify(dwID, this);
    AttachViewerSink(this, &PaneMediaSink);
    m_hooks.pAudio->SetCaptureCallback([this](const BYTE* pData, int nLen) { SendAudioData(pData, nLen); });
    AttachQueue();
    m_bAttached = true;
}

void CVideoPaneLogic::AttachQueue()
{
    if (m_hFlushWnd != nullptr)
        return;
    static const bool s_bRegistered = RegisterWindowClass(kFlushClass, &FlushWndProc);
    (void)s_bRegistered;
    m_hFlushWnd = CreateMsgWindow(kFlushClass, kFlushClass);
    if (m_hFlushWnd != nullptr)
        SetWindowUserData(m_hFlushWnd, reinterpret_cast<LPARAM>(this));
}

void CVideoPaneLogic::SetAudioOwner(bool bOwner)
{
    if (m_bAudioOwner == bOwner)
        return;
    // Giving the pair up ends what this pane had open, and only that: the next owner's may
    // already run.
    if (!bOwner && m_pDevice != nullptr) {
        if (m_pDevice->bListenFromCam)
            m_hooks.pAudio->StopPlay();
        if (m_pDevice->bSpeakToCam)
            m_hooks.pAudio->StopCapture();
        m_pDevice->bSpeakToCam = 0;
        m_pDevice->bListenFromCam = 0;
    }
    m_bAudioOwner = bOwner;
}

void CVideoPaneLogic::Detach()
{
    if (m_bAttached) {
        for (DWORD dwID : kPaneCommands)
            GetNotifyManager()->RemoveNotify(dwID, this);
        DetachViewerSink(this);
    }
    if (m_hFlushWnd != nullptr)
        DestroyWindow(m_hFlushWnd);
    m_hFlushWnd = nullptr;
    m_bFlushPosted = false;
    m_bOrderTimer = false;
    m_vQueue.clear();
    m_nQueuedBytes = 0;
    m_orderer.Reset();
    m_bAttached = false;
}

void CVideoPaneLogic::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    switch (dwNotifyID) {
    case DWORD_NOTIFYID_VIDEO_START:
        ShowDevice(reinterpret_cast<DeviceInfo*>(dwParam));
        break;
    case DWORD_NOTIFYID_VIDEO_STOP:
        StopDevice(reinterpret_cast<DeviceInfo*>(dwParam));
        break;
    case DWORD_NOTIFYID_VIDEO_COLOR:
        SetColorAdjust(static_cast<DWORD>(dwParam));
        break;
    case DWORD_NOTIFYID_WANT_SNAPSHOT:
        Snapshot(dwParam != SNAPSHOT_FOR_MOTION);
        break;
    case DWORD_NOTIFYID_SPEAK_TO_CAMERA:
        OpenLocalMic();
        break;
    case DWORD_NOTIFYID_LISTEN_FROM_CAMERA:
        OpenLocalSpk();
        break;
    case DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED:
        ResetSequence();
        break;
    default:
        break;
    }
}

int CVideoPaneLogic::OnMediaFrame(const MediaFrame& frame)
{
    return frame.nCodec == MEDIA_CODEC_AUDIO ? FeedAudioData(frame) : FeedVideoData(frame);
}

void CVideoPaneLogic::QueueMediaFrame(const MediaFrame& frame)
{
    if (m_bEngineFramesIgnored)
        return;
    const REFERENCE_TIME tArrival = LiveClockNow();
    // The frame being delivered is the one the socket layer handed out last.
    const DWORD dwGatherUs = GetLastFrameAssembleUs();
    if (m_hFlushWnd == nullptr) {
        m_orderer.Push(frame, GetTickCount(), tArrival, dwGatherUs);
        ReleaseOrderedFrames();
        return;
    }
    QueuedFrame queued{frame, std::vector<BYTE>(frame.pData, frame.pData + frame.nLen), tArrival, dwGatherUs};
    m_nQueuedBytes += frame.nLen;
    m_vQueue.push_back(std::move(queued));
    if (m_vQueue.size() >= kMaxQueuedFrames || m_nQueuedBytes >= kMaxQueuedBytes) {
        FlushQueuedFrames();
        return;
    }
    if (!m_bFlushPosted)
        m_bFlushPosted = PostMessage(m_hFlushWnd, WM_FLUSH_FRAMES, 0, 0);
}

void CVideoPaneLogic::FlushQueuedFrames()
{
    m_bFlushPosted = false;
    if (m_vQueue.empty())
        return;
    std::vector<QueuedFrame> vFrames;
    vFrames.swap(m_vQueue);
    m_nQueuedBytes = 0;
    // Numbers are ordered on the circle around the first frame of the delivery.
    const WORD usBase = static_cast<WORD>(vFrames.front().frame.usSequence - 0x8000);
    WORD usNewest = 0;
    for (const QueuedFrame& queued : vFrames) {
        const WORD us = static_cast<WORD>(queued.frame.usSequence - usBase);
        if (us < usNewest)
            ++m_counters.qwReordered;
        usNewest = std::max(us, usNewest);
    }
    std::stable_sort(vFrames.begin(), vFrames.end(), [usBase](const QueuedFrame& a, const QueuedFrame& b) {
        const WORD usA = static_cast<WORD>(a.frame.usSequence - usBase);
        const WORD usB = static_cast<WORD>(b.frame.usSequence - usBase);
        return usA != usB ? usA < usB : a.frame.bySubSequence < b.frame.bySubSequence;
    });
    const DWORD dwNow = GetTickCount();
    for (QueuedFrame& queued : vFrames) {
        queued.frame.pData = queued.vData.data();
        const std::uint64_t qwLate = m_orderer.GetCounters().qwLate;
        if (m_orderer.Push(queued.frame, dwNow, queued.tArrival, queued.dwGatherUs))
            continue;
        if (m_orderer.GetCounters().qwLate != qwLate)
            VLOG(3, "FlushQueuedFrames: frame %u came after its wait of %u ms", queued.frame.usSequence,
                 static_cast<unsigned>(m_orderer.WaitMs()));
        // A key frame behind the frames already handed on (late, or older than the first one seen)
        // while nothing has been shown: those frames were not decodable without it anyway.
        if (!m_bKeyFed && queued.frame.nCodec != MEDIA_CODEC_AUDIO && queued.frame.bySubSequence == 0) {
            m_bSequenceFree = true;
            m_tArrival = queued.tArrival;
            m_dwGatherUs = queued.dwGatherUs;
            OnMediaFrame(queued.frame);
        }
    }
    ReleaseOrderedFrames();
}

void CVideoPaneLogic::ReleaseOrderedFrames()
{
    if (m_bOrderTimer && m_hFlushWnd != nullptr)
        KillTimer(m_hFlushWnd, TR_ORDER_WAIT);
    m_bOrderTimer = false;
    bool bFed = false;
    m_orderer.Release(GetTickCount(), [this, &bFed](CFrameOrderer::Frame& frame) {
        m_tArrival = frame.tArrival;
        m_dwGatherUs = frame.dwGatherUs;
        OnMediaFrame(frame.frame);
        bFed = true;
    });
    m_tArrival = 0;
    m_dwGatherUs = 0;
    // The socket layer hands out whole units, one per frame number: the last frame handed on
    // is complete, so it need not wait a frame period for the next one to start. (Fed by hand,
    // without the engine, a frame may come in segments and waits for the next one.)
    if (bFed && m_pSession && m_hFlushWnd != nullptr)
        m_pSession->FlushFrame();
    const DWORD dwWait = m_orderer.TimeToNextRelease(GetTickCount());
    if (dwWait != CFrameOrderer::kNothingHeld && m_hFlushWnd != nullptr)
        m_bOrderTimer = SetTimer(m_hFlushWnd, TR_ORDER_WAIT, std::max<DWORD>(dwWait, 1)) != 0;
}

std::u16string CVideoPaneLogic::CaptionOf(const DeviceInfo& device, DWORD dwCameraID)
{
    for (const auto& pChild : device.vecChildren)
        if (pChild && pChild->GetID() == dwCameraID)
            return pChild->GetName();
    return device.GetName();
}

int CVideoPaneLogic::FeedVideoData(const MediaFrame& frame)
{
    if (m_pDevice == nullptr || frame.ulCameraID != m_pDevice->GetID()) {
        ++m_counters.qwFiltered;
        return 0;
    }
    if (m_hooks.fnPlayType() == PLAY_TYPE_REALTIME) {
        // Frame numbers wrap at 65536: "older" is judged on the circle, so that the picture
        // goes on past the wrap instead of stopping until the camera's next reset.
        const auto nDelta = static_cast<std::int16_t>(static_cast<WORD>(frame.usSequence - m_usLastSequence));
        if (!m_bSequenceFree && (nDelta < 0 || (nDelta == 0 && frame.bySubSequence <= m_byLastSubSequence))) {
            ++m_counters.qwFiltered;
            return 0;
        }
        m_bSequenceFree = false;
        m_usLastSequence = frame.usSequence;
        m_byLastSubSequence = frame.bySubSequence;
    }
    ++m_counters.qwReceived;
    m_counters.qwGatherUs += m_dwGatherUs;
    if (frame.bySubSequence == 0)
        m_bKeyFed = true;
    // One line per frame at level 4, its codec data's CRC-32 comparable with the camera's.
    VLOG(4, "FeedVideoData: id:%u, seq:%u, es_size:%u, es_crc:%08lx", static_cast<unsigned>(frame.ulCameraID),
         frame.usSequence, static_cast<unsigned>(frame.nLen - EsOffset(frame)),
         crc32(0, frame.pData + EsOffset(frame), frame.nLen - EsOffset(frame)));
    ++m_pDevice->dwFrameCount;
    m_pDevice->dwByteCount += frame.nLen;
    if (!m_pSession)
        return 0;
    if (m_bWaitingShown && m_pView != nullptr) {
        m_bWaitingShown = false;
        m_pView->InvalidatePane();
    }

    VideoBuffer buffer;
    buffer.pData = frame.pData;
    buffer.nLen = frame.nLen;
    buffer.usSequence = frame.usSequence;
    buffer.bySubSequence = frame.bySubSequence;
    buffer.tArrival = m_tArrival;
    buffer.nMode = frame.nCodec == MEDIA_CODEC_H264 ? 2 : frame.bStamped ? 1 : 0;

    if (frame.bStamped && frame.bySubSequence == 0) {
        const DWORD nHeader = frame.nLen > 0 ? frame.pData[0] : 0;
        if (nHeader == 0 || nHeader > frame.nLen) {
            ++m_counters.qwFiltered;
            return 0;
        }
        std::u16string strCaption;
        if (!m_pDevice->bNoCaption && !m_bNameShownByWindow)
            strCaption = CaptionOf(*m_pDevice, frame.ulCameraID);
        // One length byte counts the caption: at most 127 UTF-16 units.
        if (strCaption.size() > 127)
            strCaption.resize(127);
        const DWORD nCaption = static_cast<DWORD>(strCaption.size() * 2);
        const std::size_t nTotal = static_cast<std::size_t>(frame.nLen) + nCaption + 1;
        if (nTotal > m_vWork.size() || nHeader + nCaption + 1 > 255) {
            VLOG(2, "FeedVideoData: stamped frame of %zu bytes exceeds the work buffer, dropped", nTotal);
            ++m_counters.qwOversized;
            return 0;
        }
        BYTE* pWork = m_vWork.data();
        std::memcpy(pWork, frame.pData, nHeader);
        pWork[nHeader] = static_cast<BYTE>(nCaption);
        for (std::size_t i = 0; i < strCaption.size(); ++i) {
            pWork[nHeader + 1 + 2 * i] = static_cast<BYTE>(strCaption[i]);
            pWork[nHeader + 2 + 2 * i] = static_cast<BYTE>(strCaption[i] >> 8);
        }
        std::memcpy(pWork + nHeader + 1 + nCaption, frame.pData + nHeader, frame.nLen - nHeader);
        pWork[0] = static_cast<BYTE>(nHeader + nCaption + 1);
        buffer.pData = pWork;
        buffer.nLen = static_cast<DWORD>(nTotal);
    }
    ++m_counters.qwSegments;
    if (m_pSession->AddBuffer(&buffer) == CVideoSession::ADD_REBUILT) {
        m_nPictureWidth = buffer.nWidth;
        m_nPictureHeight = buffer.nHeight;
        m_dZoom = 1.0;
        if (m_pView != nullptr)
            m_pView->OnPictureSize(buffer.nWidth, buffer.nHeight);
    }
    return 1;
}

int CVideoPaneLogic::FeedAudioData(const MediaFrame& frame)
{
    if (m_pDevice == nullptr || frame.ulCameraID != m_pDevice->GetID())
        return 0;
    if (m_bAudioOwner && m_pDevice->bListenFromCam && m_hooks.pAudio->GetPlayer() != nullptr)
        m_hooks.pAudio->Play(frame.pData, static_cast<int>(frame.nLen));
    return 1;
}

void CVideoPaneLogic::SendAudioData(const BYTE* pData, int nLen)
{
    if (m_bAudioOwner && m_pDevice != nullptr && m_pDevice->bSpeakToCam)
        m_hooks.fnSendAudio(m_pDevice->GetID(), pData, nLen);
}

void CVideoPaneLogic::ShowDevice(DeviceInfo* pDevice)
{
    if (pDevice == nullptr || m_pDevice != nullptr)
        return;
    m_pDevice = pDevice;
    m_usLastSequence = 0;
    m_byLastSubSequence = 0;
    m_bSequenceFree = true;
    m_bKeyFed = false;
    m_orderer.Reset();
    m_pPresenter = m_pView != nullptr ? m_pView->CreateVideoWindow() : nullptr;
    m_pSession = m_hooks.fnMakeSession(m_pPresenter);
    if (m_pView != nullptr)
        m_pView->InvalidatePane();
}

void CVideoPaneLogic::StopDevice(DeviceInfo* pDevice)
{
    if (m_pDevice == nullptr || (pDevice != nullptr && pDevice != m_pDevice))
        return;
    if (m_pSession) {
        // One line per viewing, so that a lost picture can be traced to its stage.
        const CVideoSession::Stats stats = m_pSession->GetStats();
        VLOG(
            3,
            "Live view of %u ended: %llu video frames received, %llu filtered, %llu oversized, "
            "%llu frames to the decoder, %llu rendered, %llu dropped, %llu graphs, %llu put back in order, "
            "%llu repeated, %llu late, %llu numbers missing; "
            "arrival to window %.2f ms, key frames %.2f ms, longest %.2f ms; reassembly %.2f ms",
            static_cast<unsigned>(m_pDevice->GetID()), static_cast<unsigned long long>(m_counters.qwReceived),
            static_cast<unsigned long long>(m_counters.qwFiltered),
            static_cast<unsigned long long>(m_counters.qwOversized),
            static_cast<unsigned long long>(stats.qwPushed),
            static_cast<unsigned long long>(stats.qwRendered),
            static_cast<unsigned long long>(stats.qwDropped), static_cast<unsigned long long>(stats.qwBuilds),
            static_cast<unsigned long long>(m_counters.qwReordered + m_orderer.GetCounters().qwReordered),
            static_cast<unsigned long long>(m_orderer.GetCounters().qwRepeated),
            static_cast<unsigned long long>(m_orderer.GetCounters().qwLate),
            static_cast<unsigned long long>(m_orderer.GetCounters().qwSkipped),
            stats.qwTimed ? stats.qwLatencyNs / 1e6 / double(stats.qwTimed) : 0.0,
            stats.qwKeyTimed ? stats.qwKeyLatencyNs / 1e6 / double(stats.qwKeyTimed) : 0.0,
            stats.qwKeyLatencyMaxNs / 1e6,
            m_counters.qwReceived ? m_counters.qwGatherUs / 1e3 / double(m_counters.qwReceived) : 0.0);
    }
    m_pSession.reset();
    if (m_pView != nullptr && m_pPresenter != nullptr)
        m_pView->DestroyVideoWindow();
    m_pPresenter = nullptr;
    // Another pane's camera may be the one heard.
    if (m_bAudioOwner) {
        m_hooks.pAudio->StopPlay();
        m_hooks.pAudio->StopCapture();
    }
    m_pDevice = nullptr;
    m_bEngineFramesIgnored = false;
    m_orderer.Reset();
    m_vQueue.clear();
    m_nQueuedBytes = 0;
    m_bFullScreen = false;
    m_nPictureWidth = 0;
    m_nPictureHeight = 0;
    if (m_pView != nullptr)
        m_pView->InvalidatePane();
}

void CVideoPaneLogic::SetColorAdjust(DWORD dwValue)
{
    if (!m_pSession)
        return;
    m_pSession->SetColorAdjust(
        static_cast<std::int8_t>(dwValue & 0xFF), static_cast<std::int8_t>(dwValue >> 8),
        static_cast<std::int8_t>(dwValue >> 16), static_cast<std::int8_t>(dwValue >> 24));
}

bool CVideoPaneLogic::Snapshot(bool bOffer)
{
    if (!m_pSession || !m_pSession->Snapshot(m_hooks.strSnapshotPath.c_str())) {
        VLOG(2, "Snapshot: no picture to save");
        return false;
    }
    if (bOffer && m_pView != nullptr)
        m_pView->OnSnapshotTaken(m_hooks.strSnapshotPath);
    return true;
}

void CVideoPaneLogic::OpenLocalMic()
{
    if (!m_bAudioOwner)
        return;
    if (m_pDevice != nullptr && m_pDevice->bSpeakToCam)
        m_hooks.pAudio->StartCapture(-1, 8000, 16, 1);
    else
        m_hooks.pAudio->StopCapture();
}

void CVideoPaneLogic::OpenLocalSpk()
{
    if (!m_bAudioOwner)
        return;
    if (m_pDevice != nullptr && m_pDevice->bListenFromCam)
        m_hooks.pAudio->StartPlay(nullptr, -1, 8000, 16, 1, kSpeakerCodec, 0);
    else
        m_hooks.pAudio->StopPlay();
}

void CVideoPaneLogic::ResetSequence()
{
    m_usLastSequence = 0;
    m_byLastSubSequence = 0;
    m_bSequenceFree = true;
    m_bKeyFed = false;
    m_orderer.Reset();
}

bool CVideoPaneLogic::ToggleFullScreen()
{
    if (!m_pSession)
        return false;
    const bool bWanted = !m_bFullScreen;
    if (!m_pSession->SetFullScreen(bWanted))
        return false;
    m_bFullScreen = bWanted;
    return true;
}
