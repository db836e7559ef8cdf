// The process-wide audio of the video pane: one player and one capturer at a time.
#pragma once

#include "media/audio/audioplay.h"

#include <functional>
#include <memory>

using AudioCaptureCallback = std::function<void(const BYTE* pData, int nLen)>;

class AudioManager : public IAudioCaptureSink {
public:
    AudioManager() = default;
    ~AudioManager() override;
    AudioManager(const AudioManager&) = delete;
    AudioManager& operator=(const AudioManager&) = delete;

    // Replaces the current player; true when the new one opened.
    virtual bool StartPlay(HWND hWnd, int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec,
                           BYTE bVariant);
    // There must be a player.
    virtual bool Play(const BYTE* pData, int nLen);
    virtual void StopPlay();
    // The function must not be empty.
    virtual void SetCaptureCallback(AudioCaptureCallback fnCallback);
    // Replaces the current capturer; GSM 06.10 blocks go to the capture callback.
    virtual bool StartCapture(int nDevice, DWORD dwRate, WORD usBits, WORD usChannels);
    virtual void StopCapture();

    void OnCaptureData(CAudioCapture* pCapture, const BYTE* pData, int nLen) override;

    CAudioPlay* GetPlayer() const { return m_pPlay.get(); }
    CAudioCapture* GetCapture() const { return m_pCapture.get(); }

private:
    struct Releaser {
        template <class T> void operator()(T* p) const { p->Release(); }
    };
    std::unique_ptr<CAudioPlay, Releaser> m_pPlay;
    std::unique_ptr<CAudioCapture, Releaser> m_pCapture;
    AudioCaptureCallback m_fnCallback;
};

// Created on first use; lives until the process ends.
AudioManager& GetAudioManager();
