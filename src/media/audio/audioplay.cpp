#include "media/audio/audioplay.h"

#include "core/log.h"
#include "platform/msgwindow.h"
#include "platform/trace.h"

#include <algorithm>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace {

// Where a device stands when the user chose none: the host's default first (ALSA's "default",
// which goes through PipeWire or PulseAudio where one runs), the sound servers, the backend's own
// default, and a raw card last, so that audio never bypasses the desktop's mixer and holds a
// card the user did not choose while the default can be had.
int DefaultRank(const AudioDeviceEntry& entry)
{
    const std::string& strName = entry.strDescription;
    if (strName == "default")
        return 0;
    if (strName == "pipewire" || strName == "pulse")
        return 1;
    if (strName.starts_with("hw:") || strName.find("(hw:") != std::string::npos)
        return 4;
    return 3;
}

// Opens the chosen device: a listed one by index, or for a negative index the default device
// and then the listed ones, in the order above. Returns the open device or nullptr.
template <class Device>
std::unique_ptr<Device> OpenChosenDevice(const std::vector<AudioDeviceEntry>& devices, int nDevice,
                                         HWND hOwner, DWORD dwRate, WORD usBits, WORD usChannels)
{
    if (nDevice >= int(devices.size()))
        return nullptr;
    std::vector<std::pair<int, std::string>> candidates;
    if (nDevice >= 0) {
        candidates.emplace_back(0, devices[std::size_t(nDevice)].strId);
    } else {
        candidates.emplace_back(2, std::string()); // the backend's default device
        for (const AudioDeviceEntry& entry : devices)
            candidates.emplace_back(DefaultRank(entry), entry.strId);
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    for (const auto& [nRank, strId] : candidates) {
        auto pDevice = std::make_unique<Device>(strId, hOwner);
        if (pDevice->Open(dwRate, usBits, usChannels) == 0)
            return pDevice;
    }
    return nullptr;
}

// The hidden windows' class, registered while any capturer exists.
std::mutex g_classLock;
int g_nClassUsers = 0;

std::string CaptureClassName()
{
    return std::to_string(getpid()) + "zebaudio capture";
}

} // namespace

// ---- player ----

CAudioPlay::CAudioPlay() : m_devices(GetAudioBackend().EnumerateDevices(false)) {}

CAudioPlay::~CAudioPlay()
{
    Close();
}

bool CAudioPlay::Open(HWND hWnd, int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec,
                      BYTE bVariant)
{
    VLOG(3, "CAudioPlay::Open: beg { nDevice:%d, dwRate:%u, usBits:%u, usChannels:%u, bCodec:%u, bVariant:%u",
         nDevice, dwRate, usBits, usChannels, bCodec, bVariant);
    Close();
    if (bCodec != AUDIO_CODEC_NONE) {
        m_pCodec = CreateAudioCodec(bCodec);
        if (!m_pCodec || !m_pCodec->Open(bVariant, usBits, CAudioCodec::DIRECTION_DECODE)) {
            m_pCodec.reset();
            VLOG(3, "CAudioPlay::Open: end } return false, no codec %u", bCodec);
            return false;
        }
    }
    m_pRenderer = OpenChosenDevice<CADRenderer>(m_devices, nDevice, hWnd, dwRate, usBits, usChannels);
    if (!m_pRenderer) {
        m_pCodec.reset();
        VLOG(3, "CAudioPlay::Open: end } return false, no device");
        return false;
    }
    m_decodeBuffer.assign(DECODE_BUFFER, 0);
    VLOG(3, "CAudioPlay::Open: end } return true");
    return true;
}

void CAudioPlay::Close()
{
    m_pRenderer.reset();
    m_pCodec.reset();
}

bool CAudioPlay::IsOpen() const
{
    return m_pRenderer && m_pRenderer->IsOpen();
}

bool CAudioPlay::Play(const BYTE* pData, int nLen)
{
    if (!m_pRenderer || !pData || nLen <= 0)
        return false;
    if (!m_pCodec)
        return m_pRenderer->Write(pData, DWORD(nLen)) == CADRenderer::WRITE_OK;
    int nDecoded = 0;
    try {
        // A block that decodes to more than the buffer holds keeps its first frames.
        nDecoded = m_pCodec->Decode(pData, m_decodeBuffer.data(), nLen, DECODE_BUFFER);
    } catch (...) {
        OutputDebugString("Audio Decode Exception");
        return false;
    }
    if (nDecoded <= 0)
        return false;
    return m_pRenderer->Write(m_decodeBuffer.data(), DWORD(nDecoded)) == CADRenderer::WRITE_OK;
}

// ---- capturer ----

CAudioCapture::CAudioCapture() : m_devices(GetAudioBackend().EnumerateDevices(true))
{
    {
        std::lock_guard<std::mutex> guard(g_classLock);
        if (g_nClassUsers++ == 0)
            RegisterWindowClass(CaptureClassName(), &CAudioCapture::WindowProc);
    }
    m_hWnd = CreateMsgWindow(CaptureClassName(), "");
    if (m_hWnd)
        SetWindowUserData(m_hWnd, reinterpret_cast<LPARAM>(this));
}

CAudioCapture::~CAudioCapture()
{
    Close();
    if (m_hWnd)
        DestroyWindow(m_hWnd);
    std::lock_guard<std::mutex> guard(g_classLock);
    if (--g_nClassUsers == 0)
        UnregisterWindowClass(CaptureClassName());
}

bool CAudioCapture::Open(int nDevice, DWORD dwRate, WORD usBits, WORD usChannels, BYTE bCodec, BYTE bVariant,
                         IAudioCaptureSink* pSink)
{
    VLOG(3,
         "CAudioCapture::Open: beg { nDevice:%d, dwRate:%u, usBits:%u, usChannels:%u, bCodec:%u, bVariant:%u",
         nDevice, dwRate, usBits, usChannels, bCodec, bVariant);
    Close();
    if (!m_hWnd) {
        VLOG(3, "CAudioCapture::Open: end } return false, no window");
        return false;
    }
    m_pCapturer = OpenChosenDevice<CADCapturer>(m_devices, nDevice, m_hWnd, dwRate, usBits, usChannels);
    if (!m_pCapturer) {
        VLOG(3, "CAudioCapture::Open: end } return false, no device");
        return false;
    }
    if (bCodec != AUDIO_CODEC_NONE) {
        m_pCodec = CreateAudioCodec(bCodec);
        if (!m_pCodec || !m_pCodec->Open(bVariant, usBits, CAudioCodec::DIRECTION_ENCODE)) {
            Close();
            VLOG(3, "CAudioCapture::Open: end } return false, no codec %u", bCodec);
            return false;
        }
    }
    m_pSink = pSink;
    SetTimer(m_hWnd, TIMER_ID, TIMER_PERIOD);
    VLOG(3, "CAudioCapture::Open: end } return true");
    return true;
}

void CAudioCapture::Close()
{
    if (m_hWnd)
        KillTimer(m_hWnd, TIMER_ID);
    m_pSink = nullptr;
    m_pCodec.reset();
    m_pCapturer.reset();
}

bool CAudioCapture::IsOpen() const
{
    return m_pCapturer && m_pCapturer->IsOpen();
}

void CAudioCapture::DeliverBlocks()
{
    while (m_pCapturer && m_pCapturer->Read(m_abPcm, BLOCK) == CADCapturer::READ_OK) {
        const BYTE* pOut = m_abPcm;
        int nOut = BLOCK;
        if (m_pCodec) {
            nOut = m_pCodec->Encode(m_abPcm, m_abCoded, BLOCK, BLOCK);
            pOut = m_abCoded;
        }
        if (nOut > 0 && m_pSink)
            m_pSink->OnCaptureData(this, pOut, nOut);
    }
}

LRESULT CAudioCapture::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_TIMER) {
        if (auto* pThis = reinterpret_cast<CAudioCapture*>(GetWindowUserData(hWnd)))
            pThis->DeliverBlocks();
        return 0;
    }
    return DefWindowProc(hWnd, uMsg, wParam, lParam);
}
