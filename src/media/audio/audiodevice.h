// Audio devices: a looping device buffer of four quarters drained (playback) or filled
// (capture) by a worker thread, with a ring buffer between the worker and the GUI thread.
//
// The device itself sits behind IAudioBackend (PortAudio in the program, a fake in tests). A
// quarter is N = 1/16 s of audio rounded down to the block align, the device buffer 4N; the
// worker moves one quarter per period through a blocking stream, which paces it as the
// device's position notifications would.
#pragma once

#include "platform/wintypes.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The PCM format of a device (the fields of WAVEFORMATEX).
struct WAVEFORMATEX {
    WORD wFormatTag = 1; // PCM
    WORD nChannels = 1;
    DWORD nSamplesPerSec = 8000;
    DWORD nAvgBytesPerSec = 16000;
    WORD nBlockAlign = 2;
    WORD wBitsPerSample = 16;
    WORD cbSize = 0;
};

WAVEFORMATEX MakePcmFormat(DWORD dwRate, WORD usBits, WORD usChannels);

// One entry of a device list.
struct AudioDeviceEntry {
    std::string strId;          // what the backend opens it by (empty: the default device)
    std::string strDescription; // for people
    std::string strModule;      // the host API that drives it
};

// A blocking stream of one device. Write and Read move exactly nBytes and return 0, or an
// error code of the backend. Unblock makes a waiting Write or Read return soon (the worker is
// being stopped); a real device returns within one quarter anyway.
class IAudioStream {
public:
    virtual ~IAudioStream() = default;
    virtual int Write(const BYTE* pData, DWORD nBytes) = 0;
    virtual int Read(BYTE* pData, DWORD nBytes) = 0;
    virtual void Unblock() = 0;
};

class IAudioBackend {
public:
    // The steps of opening a device that can fail; each has its log text.
    enum Step { STEP_DEVICE, STEP_BUFFER, STEP_START };

    virtual ~IAudioBackend() = default;
    virtual std::vector<AudioDeviceEntry> EnumerateDevices(bool bCapture) = 0;
    // Opens and starts a stream on the device (empty id: the default device) whose buffer holds
    // dwBufferBytes. On failure returns the error code and the step that failed.
    virtual int OpenStream(bool bCapture, const std::string& strId, const WAVEFORMATEX& format,
                           DWORD dwBufferBytes, std::unique_ptr<IAudioStream>& pStream, Step& enStep) = 0;
    // Errors of Write and Read that lose nothing (an underrun or overrun); the stream goes on.
    virtual bool IsTransient(int nError) const = 0;
    virtual std::string ErrorText(int nError) const = 0;
};

// The backend of every device object. Tests replace it before opening devices; returns the
// previous one (nullptr installs PortAudio again).
IAudioBackend& GetAudioBackend();
IAudioBackend* SetAudioBackend(IAudioBackend* pBackend);

// Ring buffer of whole bytes; the owner locks.
class CAudioRing {
public:
    explicit CAudioRing(DWORD dwCapacity);
    DWORD GetCapacity() const { return DWORD(m_buffer.size()); }
    DWORD GetFill() const { return m_dwFill; }
    DWORD GetFree() const { return GetCapacity() - m_dwFill; }
    // Both copy at most what fits or what is there and return the count.
    DWORD Write(const BYTE* pData, DWORD nLen);
    DWORD Read(BYTE* pData, DWORD nLen);
    void Clear();

private:
    std::vector<BYTE> m_buffer;
    DWORD m_dwRead = 0;
    DWORD m_dwWrite = 0;
    DWORD m_dwFill = 0;
};

class CAudioDevice {
public:
    static constexpr int QUARTERS = 4;

    virtual ~CAudioDevice();
    CAudioDevice(const CAudioDevice&) = delete;
    CAudioDevice& operator=(const CAudioDevice&) = delete;

    // 0 on success, 2 on failure (nothing is left running).
    virtual int Open(DWORD dwRate, WORD usBits, WORD usChannels) = 0;
    virtual void Close();
    bool IsOpen() const { return bool(m_pStream); }
    // True once the worker has ended by itself (the device went away).
    bool IsLost() const { return m_bLost; }

    const WAVEFORMATEX& GetFormat() const { return m_format; }
    DWORD GetNotifySize() const { return m_dwNotifySize; }
    DWORD GetBufferSize() const { return m_dwBufferSize; }
    DWORD GetRingCapacity() const;
    DWORD GetQueuedBytes() const;

protected:
    CAudioDevice(std::string strDeviceId, HWND hOwner)
        : m_strDeviceId(std::move(strDeviceId)), m_hOwner(hOwner)
    {
    }

    int OpenDevice(bool bCapture, DWORD dwRate, WORD usBits, WORD usChannels, DWORD dwRingBuffers);
    void WorkerLoop();
    // One quarter through the device; false ends the worker.
    virtual bool HandleNotification(int k) = 0;
    void TraceError(int nError, const char* pszStep) const;

    WAVEFORMATEX m_format;
    std::string m_strDeviceId;
    HWND m_hOwner = nullptr;
    DWORD m_dwNotifySize = 0;
    DWORD m_dwBufferSize = 0;
    std::unique_ptr<IAudioStream> m_pStream;
    std::unique_ptr<CAudioRing> m_pRing;
    std::vector<BYTE> m_quarter;
    mutable std::mutex m_lock; // guards the ring
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bLost{false};
    std::thread m_worker;
};

// Playback: the ring (4 device buffers) is drained a quarter at a time; a starved quarter is
// filled up with silence.
class CADRenderer : public CAudioDevice {
public:
    static constexpr int WRITE_OK = 0, WRITE_NO_BUFFER = 3, WRITE_NO_RING = 4, WRITE_TOO_LARGE = 5;

    explicit CADRenderer(std::string strDeviceId = {}, HWND hOwner = nullptr)
        : CAudioDevice(std::move(strDeviceId), hOwner)
    {
    }
    ~CADRenderer() override;
    int Open(DWORD dwRate, WORD usBits, WORD usChannels) override;
    // Queues a block; when it does not fit, everything queued is dropped first.
    int Write(const BYTE* pData, DWORD nLen);

protected:
    bool HandleNotification(int k) override;
};

// Capture: each quarter read from the device is appended to the ring (16 device buffers),
// which is emptied first when it lacks room; the owner window gets a WM_TIMER (id 0) each time.
class CADCapturer : public CAudioDevice {
public:
    static constexpr int READ_OK = 0, READ_NO_BUFFER = 3, READ_NOT_ENOUGH = 4;

    explicit CADCapturer(std::string strDeviceId = {}, HWND hOwner = nullptr)
        : CAudioDevice(std::move(strDeviceId), hOwner)
    {
    }
    ~CADCapturer() override;
    int Open(DWORD dwRate, WORD usBits, WORD usChannels) override;
    // Copies out exactly nLen bytes, or nothing.
    int Read(BYTE* pData, DWORD nLen);

protected:
    bool HandleNotification(int k) override;
};
