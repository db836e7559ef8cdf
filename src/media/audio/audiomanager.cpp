#include "media/audio/audiomanager.h"

#include "core/log.h"

AudioManager::~AudioManager()
{
    StopCapture();
    StopPlay();
}

bool AudioManager::StartPlay(HWND hWnd, int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec,
                             BYTE bVariant)
{
    StopPlay();
    m_pPlay.reset(new CAudioPlay);
    return m_pPlay->Open(hWnd, nDevice, dwRate, usBits, usChannels, bCodec, bVariant);
}

bool AudioManager::Play(const BYTE* pData, int nLen)
{
    FATAL_CHECK(m_pPlay);
    return m_pPlay->Play(pData, nLen);
}

void AudioManager::StopPlay()
{
    if (m_pPlay)
        m_pPlay->Close();
    m_pPlay.reset();
}

void AudioManager::SetCaptureCallback(AudioCaptureCallback fnCallback)
{
    FATAL_CHECK(fnCallback);
    m_fnCallback = std::move(fnCallback);
}

bool AudioManager::StartCapture(int nDevice, DWORD dwRate, WORD usBits, WORD usChannels)
{
    StopCapture();
    m_pCapture.reset(new CAudioCapture);
    return m_pCapture->Open(nDevice, dwRate, usBits, usChannels, AUDIO_CODEC_GSM, 0, this);
}

void AudioManager::StopCapture()
{
    if (m_pCapture)
        m_pCapture->Close();
    m_pCapture.reset();
}

void AudioManager::OnCaptureData(CAudioCapture*, const BYTE* pData, int nLen)
{
    if (m_fnCallback)
        m_fnCallback(pData, nLen);
}

AudioManager& GetAudioManager()
{
    // The device layer comes first so that it is still there when the manager closes its
    // devices at exit.
    GetAudioBackend();
    static AudioManager manager;
    return manager;
}
