#include "media/video/videorouter.h"

#include "core/log.h"
#include "core/notifyids.h"
#include "device/deviceinfo.h"
#include "media/audio/audiomanager.h"
#include "media/video/videopanelogic.h"

#include <algorithm>

namespace {

// The commands for the focused pane; a sequence change names its camera.
constexpr DWORD kRoutedCommands[] = {DWORD_NOTIFYID_VIDEO_COLOR, DWORD_NOTIFYID_WANT_SNAPSHOT,
                                     DWORD_NOTIFYID_SPEAK_TO_CAMERA, DWORD_NOTIFYID_LISTEN_FROM_CAMERA,
                                     DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED};

// The engine's sink is a plain function; the router is its context.
void RouterMediaSink(MediaFrame* pFrame)
{
    auto* pRouter = static_cast<CVideoRouter*>(CEngMedia::GetInstance()->GetContext());
    if (pRouter != nullptr && pFrame != nullptr)
        pRouter->Route(*pFrame);
}

} // namespace

CVideoRouter::CVideoRouter(CNotifyManager* pNotify, AudioManager* pAudio)
    : m_pNotify(pNotify != nullptr ? pNotify : GetNotifyManager()),
      m_pAudio(pAudio != nullptr ? pAudio : &GetAudioManager())
{
}

CVideoRouter::~CVideoRouter()
{
    Detach();
}

void CVideoRouter::Attach()
{
    if (m_bAttached)
        return;
    for (DWORD dwID : kRoutedCommands)
        m_pNotify->RegisterNotify(dwID, this);
    AttachViewerSink(this, &RouterMediaSink);
    m_pAudio->SetCaptureCallback([this](const BYTE* pData, int nLen) {
        if (m_pFocused != nullptr)
            m_pFocused->SendAudioData(pData, nLen);
    });
    m_bAttached = true;
}

void CVideoRouter::Detach()
{
    if (!m_bAttached)
        return;
    for (DWORD dwID : kRoutedCommands)
        m_pNotify->RemoveNotify(dwID, this);
    DetachViewerSink(this);
    m_pAudio->SetCaptureCallback([](const BYTE*, int) {});
    m_bAttached = false;
}

void CVideoRouter::AddPane(CVideoPaneLogic* pLogic)
{
    if (pLogic != nullptr && std::find(m_vPanes.begin(), m_vPanes.end(), pLogic) == m_vPanes.end())
        m_vPanes.push_back(pLogic);
}

void CVideoRouter::RemovePane(CVideoPaneLogic* pLogic)
{
    std::erase(m_vPanes, pLogic);
    if (m_pFocused == pLogic)
        m_pFocused = nullptr;
}

void CVideoRouter::SetFocused(CVideoPaneLogic* pLogic)
{
    if (m_pFocused == pLogic)
        return;
    // The speaker and the microphone are the PC's one pair: the pane losing the focus gives
    // them up before the next one may take them.
    if (m_pFocused != nullptr)
        m_pFocused->SetAudioOwner(false);
    m_pFocused = pLogic;
    if (m_pFocused != nullptr)
        m_pFocused->SetAudioOwner(true);
}

CVideoPaneLogic* CVideoRouter::PaneOf(DWORD dwCameraID) const
{
    for (CVideoPaneLogic* pLogic : m_vPanes) {
        if (pLogic->Device() != nullptr && pLogic->Device()->GetID() == dwCameraID)
            return pLogic;
    }
    return nullptr;
}

bool CVideoRouter::Route(const MediaFrame& frame)
{
    CVideoPaneLogic* pLogic = PaneOf(frame.ulCameraID);
    if (pLogic == nullptr) {
        if (m_qwUnrouted++ % 250 == 0)
            VLOG(3, "CVideoRouter::Route: no pane shows camera %u, frame dropped",
                 static_cast<unsigned>(frame.ulCameraID));
        return false;
    }
    pLogic->QueueMediaFrame(frame);
    return true;
}

void CVideoRouter::NotifySink(DWORD dwNotifyID, UINT_PTR dwParam)
{
    if (dwNotifyID == DWORD_NOTIFYID_VIDEO_SEQUENCE_CHANGED) {
        // The camera named starts its numbers again; without a name, the focused one does.
        const auto* pDevice = reinterpret_cast<const DeviceInfo*>(dwParam);
        CVideoPaneLogic* pLogic = pDevice != nullptr ? PaneOf(pDevice->GetID()) : m_pFocused;
        if (pLogic != nullptr)
            pLogic->ResetSequence();
        return;
    }
    if (m_pFocused != nullptr)
        m_pFocused->NotifySink(dwNotifyID, dwParam);
}
