// A fake audio backend for the device-class tests: every quarter waits for the test to let it
// pass (Tick), so timing, overflow and starvation are exact.
#pragma once

#include "media/audio/audiodevice.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace audiotest {

class CFakeAudioBackend : public IAudioBackend {
public:
    static constexpr int ERR_GONE = -9999;
    static constexpr int ERR_UNDERRUN = -9980;

    struct Opened {
        bool bCapture;
        std::string strId;
        WAVEFORMATEX format;
        DWORD dwBufferBytes;
    };

    CFakeAudioBackend() { m_pOld = SetAudioBackend(this); }
    ~CFakeAudioBackend() override { SetAudioBackend(m_pOld); }

    std::vector<AudioDeviceEntry> EnumerateDevices(bool bCapture) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return bCapture ? m_captureDevices : m_renderDevices;
    }

    int OpenStream(bool bCapture, const std::string& strId, const WAVEFORMATEX& format, DWORD dwBufferBytes,
                   std::unique_ptr<IAudioStream>& pStream, Step& enStep) override
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_attempts.push_back(strId);
        auto it = m_failures.find(strId);
        if (it != m_failures.end()) {
            enStep = it->second;
            return 0x88780078; // any code; traced in hex
        }
        m_opened.push_back({bCapture, strId, format, dwBufferBytes});
        pStream = std::make_unique<Stream>(*this);
        return 0;
    }

    bool IsTransient(int nError) const override { return nError == ERR_UNDERRUN; }
    std::string ErrorText(int nError) const override { return nError == ERR_GONE ? "device gone" : "error"; }

    // --- test side ---
    void SetDevices(std::vector<AudioDeviceEntry> render, std::vector<AudioDeviceEntry> capture)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_renderDevices = std::move(render);
        m_captureDevices = std::move(capture);
    }
    void FailOpen(const std::string& strId, Step enStep)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_failures[strId] = enStep;
    }
    // Lets n quarters pass on the device and waits until the worker has handled them.
    void Tick(int n = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_nTickets += n;
        m_cv.notify_all();
        // Done when the worker has used them all and waits for the next quarter.
        m_cv.wait_for(lock, std::chrono::seconds(5),
                      [&] { return (m_nTickets == 0 && m_bWaiting) || m_bGone; });
    }
    // The device is unplugged: its next quarter fails.
    void Unplug()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bGone = true;
        m_cv.notify_all();
    }
    // What a capture device hears next (one byte per byte read; zeros when used up).
    void Speak(const std::vector<BYTE>& data)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_heard.insert(m_heard.end(), data.begin(), data.end());
    }
    std::vector<std::vector<BYTE>> Played()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_played;
    }
    std::vector<Opened> OpenedStreams()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_opened;
    }
    std::vector<std::string> Attempts()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_attempts;
    }
    int LiveStreams()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_nLive;
    }

private:
    class Stream : public IAudioStream {
    public:
        explicit Stream(CFakeAudioBackend& owner) : m_owner(owner) { ++m_owner.m_nLive; }
        ~Stream() override
        {
            std::lock_guard<std::mutex> guard(m_owner.m_mutex);
            --m_owner.m_nLive;
        }
        int Write(const BYTE* pData, DWORD nBytes) override
        {
            return m_owner.Quarter(*this, [&] { m_owner.m_played.emplace_back(pData, pData + nBytes); });
        }
        int Read(BYTE* pData, DWORD nBytes) override
        {
            return m_owner.Quarter(*this, [&] {
                for (DWORD i = 0; i < nBytes; ++i) {
                    pData[i] = m_owner.m_heard.empty() ? 0 : m_owner.m_heard.front();
                    if (!m_owner.m_heard.empty())
                        m_owner.m_heard.pop_front();
                }
            });
        }
        void Unblock() override
        {
            std::lock_guard<std::mutex> guard(m_owner.m_mutex);
            m_bUnblocked = true;
            m_owner.m_cv.notify_all();
        }

    private:
        friend class CFakeAudioBackend;
        CFakeAudioBackend& m_owner;
        bool m_bUnblocked = false;
    };

    template <class Fn> int Quarter(Stream& stream, Fn fnMove)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bWaiting = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_nTickets > 0 || m_bGone || stream.m_bUnblocked; });
        m_bWaiting = false;
        if (m_bGone)
            return ERR_GONE;
        if (stream.m_bUnblocked)
            return 0; // being stopped
        --m_nTickets;
        fnMove();
        return 0;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    IAudioBackend* m_pOld = nullptr;
    std::vector<AudioDeviceEntry> m_renderDevices, m_captureDevices;
    std::map<std::string, Step> m_failures;
    std::vector<Opened> m_opened;
    std::vector<std::string> m_attempts;
    std::vector<std::vector<BYTE>> m_played;
    std::deque<BYTE> m_heard;
    int m_nTickets = 0;
    bool m_bWaiting = false;
    int m_nLive = 0;
    bool m_bGone = false;
};

} // namespace audiotest
