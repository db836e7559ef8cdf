// Live video of several cameras at once: the media engine has one sink, and the router is it.
// Each frame goes to the pane logic that shows the frame's camera, and to no other; the pane
// commands of the bus (colour, snapshot, microphone, speaker) and the PC microphone's blocks go
// to the focused pane only, the one whose camera is the device manager's selection.
#pragma once

#include "core/notify.h"
#include "protocol/engmedia.h"

#include <cstdint>
#include <vector>

class AudioManager;
class CVideoPaneLogic;
class CNotifyManager;

class CVideoRouter : public INotifySink {
public:
    // Null members take the process-wide objects.
    explicit CVideoRouter(CNotifyManager* pNotify = nullptr, AudioManager* pAudio = nullptr);
    ~CVideoRouter() override;
    CVideoRouter(const CVideoRouter&) = delete;
    CVideoRouter& operator=(const CVideoRouter&) = delete;

    // Becomes the media engine's sink (creating the engine when there is none), the audio
    // manager's capture callback and a listener of the pane commands.
    void Attach();
    void Detach();

    void AddPane(CVideoPaneLogic* pLogic);
    void RemovePane(CVideoPaneLogic* pLogic);
    // The pane that takes the bus's commands and owns the PC's speaker and microphone; null:
    // none does.
    void SetFocused(CVideoPaneLogic* pLogic);
    CVideoPaneLogic* Focused() const { return m_pFocused; }

    // One frame of the engine: to the pane showing its camera. False when none does.
    bool Route(const MediaFrame& frame);
    // Frames that found no pane (a camera still streaming after its pane let it go).
    std::uint64_t Unrouted() const { return m_qwUnrouted; }

    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

private:
    CVideoPaneLogic* PaneOf(DWORD dwCameraID) const;

    CNotifyManager* m_pNotify;
    AudioManager* m_pAudio;
    std::vector<CVideoPaneLogic*> m_vPanes;
    CVideoPaneLogic* m_pFocused = nullptr;
    bool m_bAttached = false;
    std::uint64_t m_qwUnrouted = 0;
};
