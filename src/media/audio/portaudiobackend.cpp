// The audio devices on PortAudio: blocking streams whose host buffer is the device buffer.
#include "media/audio/audiodevice.h"

#include "core/log.h"

#include <portaudio.h>

#include <mutex>

namespace {

class CPortAudioStream : public IAudioStream {
public:
    CPortAudioStream(PaStream* pStream, WORD usBlockAlign) : m_pStream(pStream), m_usBlockAlign(usBlockAlign)
    {
    }
    ~CPortAudioStream() override
    {
        // Abort drops what is still queued instead of playing it out: the device is being
        // closed or replaced.
        Pa_AbortStream(m_pStream);
        Pa_CloseStream(m_pStream);
    }
    int Write(const BYTE* pData, DWORD nBytes) override
    {
        return Pa_WriteStream(m_pStream, pData, nBytes / m_usBlockAlign);
    }
    int Read(BYTE* pData, DWORD nBytes) override
    {
        return Pa_ReadStream(m_pStream, pData, nBytes / m_usBlockAlign);
    }
    // A blocking call returns within one quarter; the worker then sees its stop flag.
    void Unblock() override {}

private:
    PaStream* m_pStream;
    WORD m_usBlockAlign;
};

class CPortAudioBackend : public IAudioBackend {
public:
    ~CPortAudioBackend() override
    {
        if (m_nInit == paNoError)
            Pa_Terminate();
    }

    std::vector<AudioDeviceEntry> EnumerateDevices(bool bCapture) override
    {
        std::vector<AudioDeviceEntry> devices;
        if (!Init())
            return devices;
        const PaDeviceIndex nCount = Pa_GetDeviceCount();
        for (PaDeviceIndex i = 0; i < nCount; ++i) {
            const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
            if (!pInfo || (bCapture ? pInfo->maxInputChannels : pInfo->maxOutputChannels) <= 0)
                continue;
            const PaHostApiInfo* pApi = Pa_GetHostApiInfo(pInfo->hostApi);
            const std::string strModule = pApi ? pApi->name : "";
            devices.push_back({strModule + ":" + pInfo->name, pInfo->name, strModule});
        }
        return devices;
    }

    int OpenStream(bool bCapture, const std::string& strId, const WAVEFORMATEX& format, DWORD dwBufferBytes,
                   std::unique_ptr<IAudioStream>& pStream, Step& enStep) override
    {
        enStep = STEP_DEVICE;
        if (!Init())
            return m_nInit;
        const PaDeviceIndex nDevice = FindDevice(bCapture, strId);
        if (nDevice == paNoDevice)
            return paInvalidDevice;

        PaStreamParameters params{};
        params.device = nDevice;
        params.channelCount = format.nChannels;
        params.sampleFormat = format.wBitsPerSample == 8 ? paUInt8 : paInt16;
        // The host buffer plays the part of the looping device buffer: 4 quarters.
        params.suggestedLatency = double(dwBufferBytes) / format.nAvgBytesPerSec;
        const unsigned long nQuarterFrames = dwBufferBytes / 4 / format.nBlockAlign;
        PaStream* pPa = nullptr;
        enStep = STEP_BUFFER;
        PaError nError = Pa_OpenStream(&pPa, bCapture ? &params : nullptr, bCapture ? nullptr : &params,
                                       format.nSamplesPerSec, nQuarterFrames, paClipOff, nullptr, nullptr);
        if (nError != paNoError)
            return nError;
        enStep = STEP_START;
        nError = Pa_StartStream(pPa);
        if (nError != paNoError) {
            Pa_CloseStream(pPa);
            return nError;
        }
        pStream = std::make_unique<CPortAudioStream>(pPa, format.nBlockAlign);
        return 0;
    }

    bool IsTransient(int nError) const override
    {
        return nError == paOutputUnderflowed || nError == paInputOverflowed;
    }

    std::string ErrorText(int nError) const override { return Pa_GetErrorText(nError); }

private:
    bool Init()
    {
        std::call_once(m_once, [this] {
            m_nInit = Pa_Initialize();
            if (m_nInit != paNoError)
                VLOG(1, "CPortAudioBackend::Init: Pa_Initialize failed: %s", Pa_GetErrorText(m_nInit));
        });
        return m_nInit == paNoError;
    }

    PaDeviceIndex FindDevice(bool bCapture, const std::string& strId)
    {
        if (strId.empty())
            return bCapture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        const PaDeviceIndex nCount = Pa_GetDeviceCount();
        for (PaDeviceIndex i = 0; i < nCount; ++i) {
            const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
            const PaHostApiInfo* pApi = pInfo ? Pa_GetHostApiInfo(pInfo->hostApi) : nullptr;
            if (pInfo && pApi && strId == std::string(pApi->name) + ":" + pInfo->name &&
                (bCapture ? pInfo->maxInputChannels : pInfo->maxOutputChannels) > 0)
                return i;
        }
        return paNoDevice;
    }

    std::once_flag m_once;
    PaError m_nInit = paNotInitialized;
};

} // namespace

IAudioBackend& GetPortAudioBackend()
{
    static CPortAudioBackend backend;
    return backend;
}
