// Audio front ends: device choice, codec and timing between the video pane and a device.
#pragma once

#include "media/audio/audiocodec.h"
#include "media/audio/audiodevice.h"

#include <memory>
#include <vector>

class CAudioCapture;

// Receives the encoded blocks of a capturer, on the thread that created the capturer. It must
// not close or destroy the capturer from inside the call.
class IAudioCaptureSink {
public:
    virtual ~IAudioCaptureSink() = default;
    virtual void OnCaptureData(CAudioCapture* pCapture, const BYTE* pData, int nLen) = 0;
};

// Camera audio to the speakers: decodes each block into one buffer and queues it.
class CAudioPlay {
public:
    static constexpr int DECODE_BUFFER = 32768;

    CAudioPlay();
    virtual ~CAudioPlay();
    CAudioPlay(const CAudioPlay&) = delete;
    CAudioPlay& operator=(const CAudioPlay&) = delete;

    // nDevice < 0: the host's default device, then the others, raw cards last.
    virtual bool Open(HWND hWnd, int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec,
                      BYTE bVariant);
    virtual void Close();
    virtual bool IsOpen() const;
    virtual void Reserved1() {}
    virtual bool Reserved2() { return false; }
    virtual bool Play(const BYTE* pData, int nLen);
    virtual void Release() { delete this; }

    const std::vector<AudioDeviceEntry>& GetDevices() const { return m_devices; }
    CADRenderer* GetRenderer() const { return m_pRenderer.get(); }

private:
    std::vector<AudioDeviceEntry> m_devices;
    std::unique_ptr<CADRenderer> m_pRenderer;
    std::unique_ptr<CAudioCodec> m_pCodec;
    std::vector<BYTE> m_decodeBuffer;
};

// The microphone to the sink: whole 960-byte blocks, encoded, on the 25 ms timer of a hidden
// window (and on each quarter the device reports).
class CAudioCapture {
public:
    static constexpr int BLOCK = 960;
    static constexpr UINT_PTR TIMER_ID = 101;
    static constexpr UINT TIMER_PERIOD = 25;

    CAudioCapture();
    virtual ~CAudioCapture();
    CAudioCapture(const CAudioCapture&) = delete;
    CAudioCapture& operator=(const CAudioCapture&) = delete;

    // bCodec 0: blocks go to the sink as raw PCM.
    virtual bool Open(int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec, BYTE bVariant,
                      IAudioCaptureSink* pSink);
    virtual void Close();
    virtual bool IsOpen() const;
    virtual void Reserved1() {}
    virtual bool Reserved2() { return false; }
    virtual void Release() { delete this; }

    const std::vector<AudioDeviceEntry>& GetDevices() const { return m_devices; }
    CADCapturer* GetCapturer() const { return m_pCapturer.get(); }
    HWND GetWindow() const { return m_hWnd; }

    // Delivers every whole block the capturer holds (the timer's work).
    void DeliverBlocks();

private:
    static LRESULT WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    std::vector<AudioDeviceEntry> m_devices;
    std::unique_ptr<CADCapturer> m_pCapturer;
    std::unique_ptr<CAudioCodec> m_pCodec;
    BYTE m_abPcm[BLOCK] = {};
    BYTE m_abCoded[BLOCK] = {};
    HWND m_hWnd = nullptr;
    IAudioCaptureSink* m_pSink = nullptr;
};
