#include "media/video/videopanelogic.h"

#include "core/log.h"
#include "device/devicemanager.h"
#include "media/audio/audiomanager.h"
#include "platform/paths.h"
#include "protocol/engcmd.h"

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
        pLogic->OnMediaFrame(*pFrame);
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

void CVideoPaneLogic::Attach()
{
    if (m_bAttached)
        return;
    for (DWORD dwID : kPaneCommands)
        GetNotifyManager()->RegisterNotify(dwID, this);
    CEngMedia* pEngine = CEngMedia::GetInstance();
    if (!pEngine->IsInit())
        pEngine->Init(this, &PaneMediaSink);
    else
        pEngine->SetMediaSink(this, &PaneMediaSink);
    m_hooks.pAudio->SetCaptureCallback([this](const BYTE* pData, int nLen) { SendAudioData(pData, nLen); });
    m_bAttached = true;
}

void CVideoPaneLogic::Detach()
{
    if (!m_bAttached)
        return;
    for (DWORD dwID : kPaneCommands)
        GetNotifyManager()->RemoveNotify(dwID, this);
    CEngMedia* pEngine = CEngMedia::GetInstance();
    if (pEngine->GetContext() == this)
        pEngine->SetMediaSink(nullptr, nullptr);
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
        Snapshot();
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
        if (nDelta < 0 || (nDelta == 0 && frame.bySubSequence <= m_byLastSubSequence)) {
            ++m_counters.qwFiltered;
            return 0;
        }
        m_usLastSequence = frame.usSequence;
        m_byLastSubSequence = frame.bySubSequence;
    }
    ++m_counters.qwReceived;
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
    buffer.nMode = frame.nCodec == MEDIA_CODEC_H264 ? 2 : frame.bStamped ? 1 : 0;

    if (frame.bStamped && frame.bySubSequence == 0) {
        const DWORD nHeader = frame.nLen > 0 ? frame.pData[0] : 0;
        if (nHeader == 0 || nHeader > frame.nLen) {
            ++m_counters.qwFiltered;
            return 0;
        }
        std::u16string strCaption;
        if (!m_pDevice->bNoCaption)
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
    if (m_pDevice->bListenFromCam && m_hooks.pAudio->GetPlayer() != nullptr)
        m_hooks.pAudio->Play(frame.pData, static_cast<int>(frame.nLen));
    return 1;
}

void CVideoPaneLogic::SendAudioData(const BYTE* pData, int nLen)
{
    if (m_pDevice != nullptr && m_pDevice->bSpeakToCam)
        m_hooks.fnSendAudio(m_pDevice->GetID(), pData, nLen);
}

void CVideoPaneLogic::ShowDevice(DeviceInfo* pDevice)
{
    if (pDevice == nullptr || m_pDevice != nullptr)
        return;
    m_pDevice = pDevice;
    m_usLastSequence = 0;
    m_byLastSubSequence = 0;
    m_pPresenter = m_pView != nullptr ? m_pView->CreateVideoWindow() : nullptr;
    m_pSession = m_hooks.fnMakeSession(m_pPresenter);
    if (m_pView != nullptr)
        m_pView->InvalidatePane();
}

void CVideoPaneLogic::StopDevice(DeviceInfo* pDevice)
{
    if (m_pDevice == nullptr || (pDevice != nullptr && pDevice != m_pDevice))
        return;
    m_pSession.reset();
    if (m_pView != nullptr && m_pPresenter != nullptr)
        m_pView->DestroyVideoWindow();
    m_pPresenter = nullptr;
    m_hooks.pAudio->StopPlay();
    m_hooks.pAudio->StopCapture();
    m_pDevice = nullptr;
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

bool CVideoPaneLogic::Snapshot()
{
    if (!m_pSession || !m_pSession->Snapshot(m_hooks.strSnapshotPath.c_str())) {
        VLOG(2, "Snapshot: no picture to save");
        return false;
    }
    if (m_pView != nullptr)
        m_pView->OnSnapshotTaken(m_hooks.strSnapshotPath);
    return true;
}

void CVideoPaneLogic::OpenLocalMic()
{
    if (m_pDevice != nullptr && m_pDevice->bSpeakToCam)
        m_hooks.pAudio->StartCapture(-1, 8000, 16, 1);
    else
        m_hooks.pAudio->StopCapture();
}

void CVideoPaneLogic::OpenLocalSpk()
{
    if (m_pDevice != nullptr && m_pDevice->bListenFromCam)
        m_hooks.pAudio->StartPlay(nullptr, -1, 8000, 16, 1, kSpeakerCodec, 0);
    else
        m_hooks.pAudio->StopPlay();
}

void CVideoPaneLogic::ResetSequence()
{
    m_usLastSequence = 0;
    m_byLastSubSequence = 0;
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
