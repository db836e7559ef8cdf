#include "media/audio/audiodevice.h"

#include "core/log.h"
#include "platform/msgwindow.h"
#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

WAVEFORMATEX MakePcmFormat(DWORD dwRate, WORD usBits, WORD usChannels)
{
    WAVEFORMATEX format;
    format.wFormatTag = 1;
    format.nChannels = usChannels;
    format.nSamplesPerSec = dwRate;
    format.wBitsPerSample = usBits;
    format.nBlockAlign = WORD(usBits * usChannels / 8);
    format.nAvgBytesPerSec = dwRate * usBits * usChannels / 8;
    format.cbSize = 0;
    return format;
}

// ---- ring ----

CAudioRing::CAudioRing(DWORD dwCapacity) : m_buffer(dwCapacity) {}

DWORD CAudioRing::Write(const BYTE* pData, DWORD nLen)
{
    nLen = std::min(nLen, GetFree());
    for (DWORD nDone = 0; nDone < nLen;) {
        const DWORD nPart = std::min(nLen - nDone, GetCapacity() - m_dwWrite);
        std::memcpy(m_buffer.data() + m_dwWrite, pData + nDone, nPart);
        m_dwWrite = (m_dwWrite + nPart) % GetCapacity();
        nDone += nPart;
    }
    m_dwFill += nLen;
    return nLen;
}

DWORD CAudioRing::Read(BYTE* pData, DWORD nLen)
{
    nLen = std::min(nLen, m_dwFill);
    for (DWORD nDone = 0; nDone < nLen;) {
        const DWORD nPart = std::min(nLen - nDone, GetCapacity() - m_dwRead);
        std::memcpy(pData + nDone, m_buffer.data() + m_dwRead, nPart);
        m_dwRead = (m_dwRead + nPart) % GetCapacity();
        nDone += nPart;
    }
    m_dwFill -= nLen;
    return nLen;
}

void CAudioRing::Clear()
{
    m_dwRead = m_dwWrite = m_dwFill = 0;
}

// ---- device base ----

namespace {

IAudioBackend* g_pBackend = nullptr;

} // namespace

IAudioBackend& GetPortAudioBackend();

IAudioBackend& GetAudioBackend()
{
    return g_pBackend ? *g_pBackend : GetPortAudioBackend();
}

IAudioBackend* SetAudioBackend(IAudioBackend* pBackend)
{
    IAudioBackend* pOld = g_pBackend;
    g_pBackend = pBackend;
    return pOld;
}

CAudioDevice::~CAudioDevice() = default;

DWORD CAudioDevice::GetRingCapacity() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pRing ? m_pRing->GetCapacity() : 0;
}

DWORD CAudioDevice::GetQueuedBytes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pRing ? m_pRing->GetFill() : 0;
}

void CAudioDevice::TraceError(int nError, const char* pszStep) const
{
    char szText[260];
    std::snprintf(szText, sizeof szText, "WAVEERROR:%x %s", unsigned(nError), pszStep);
    OutputDebugString(szText);
}

int CAudioDevice::OpenDevice(bool bCapture, DWORD dwRate, WORD usBits, WORD usChannels, DWORD dwRingBuffers)
{
    Close();
    m_format = MakePcmFormat(dwRate, usBits, usChannels);
    if (m_format.nBlockAlign == 0 || (usBits != 8 && usBits != 16))
        return 2;
    m_dwNotifySize = m_format.nSamplesPerSec * m_format.nBlockAlign / 16;
    m_dwNotifySize -= m_dwNotifySize % m_format.nBlockAlign;
    m_dwBufferSize = QUARTERS * m_dwNotifySize;
    if (m_dwNotifySize == 0)
        return 2;

    IAudioBackend::Step enStep = IAudioBackend::STEP_DEVICE;
    std::unique_ptr<IAudioStream> pStream;
    const int nError =
        GetAudioBackend().OpenStream(bCapture, m_strDeviceId, m_format, m_dwBufferSize, pStream, enStep);
    if (nError != 0 || !pStream) {
        static const char* const kRender[] = {"InitDirectSound:DirectSoundCreate",
                                              "CreateRenderBuffer::CreateSoundBuffer",
                                              "CreateRenderBuffer::Play"};
        static const char* const kCapture[] = {"InitDirectSound:DirectSoundCaptureCreate",
                                               "StartRecord::CreateCaptureBuffer", "StartRecord::Start"};
        TraceError(nError, (bCapture ? kCapture : kRender)[enStep]);
        return 2;
    }
    m_quarter.assign(m_dwNotifySize, 0);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pRing = std::make_unique<CAudioRing>(dwRingBuffers * m_dwBufferSize);
    }
    m_pStream = std::move(pStream);
    m_bStop = false;
    m_bLost = false;
    m_worker = std::thread(&CAudioDevice::WorkerLoop, this);
    return 0;
}

void CAudioDevice::WorkerLoop()
{
    for (int k = 0; !m_bStop; k = (k + 1) % QUARTERS) {
        if (!HandleNotification(k)) {
            m_bLost = true;
            break;
        }
    }
}

void CAudioDevice::Close()
{
    if (m_worker.joinable()) {
        m_bStop = true;
        m_pStream->Unblock();
        m_worker.join();
    }
    m_pStream.reset();
    std::lock_guard<std::mutex> guard(m_lock);
    m_pRing.reset();
}

// ---- renderer ----

CADRenderer::~CADRenderer()
{
    Close();
}

int CADRenderer::Open(DWORD dwRate, WORD usBits, WORD usChannels)
{
    VLOG(3, "CADRenderer::Open: beg { dwRate:%u, usBits:%u, usChannels:%u", dwRate, usBits, usChannels);
    const int nResult = OpenDevice(false, dwRate, usBits, usChannels, 4);
    VLOG(3, "CADRenderer::Open: end } return %d", nResult);
    return nResult;
}

int CADRenderer::Write(const BYTE* pData, DWORD nLen)
{
    if (!m_pStream)
        return WRITE_NO_BUFFER;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pRing)
        return WRITE_NO_RING;
    if (m_pRing->GetFree() < nLen) {
        m_pRing->Clear();
        if (m_pRing->GetFree() < nLen)
            return WRITE_TOO_LARGE;
    }
    m_pRing->Write(pData, nLen);
    return WRITE_OK;
}

bool CADRenderer::HandleNotification(int)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const DWORD nGot = m_pRing->Read(m_quarter.data(), m_dwNotifySize);
        std::fill(m_quarter.begin() + nGot, m_quarter.end(), BYTE(m_format.wBitsPerSample == 8 ? 0x80 : 0));
    }
    const int nError = m_pStream->Write(m_quarter.data(), m_dwNotifySize);
    if (nError != 0 && !GetAudioBackend().IsTransient(nError)) {
        TraceError(nError, "HandleNotification::Lock");
        VLOG(1, "CADRenderer::HandleNotification: device lost (%s), playback ends",
             GetAudioBackend().ErrorText(nError).c_str());
        return false;
    }
    return true;
}

// ---- capturer ----

CADCapturer::~CADCapturer()
{
    Close();
}

int CADCapturer::Open(DWORD dwRate, WORD usBits, WORD usChannels)
{
    VLOG(3, "CADCapturer::Open: beg { dwRate:%u, usBits:%u, usChannels:%u", dwRate, usBits, usChannels);
    const int nResult = OpenDevice(true, dwRate, usBits, usChannels, 16);
    VLOG(3, "CADCapturer::Open: end } return %d", nResult);
    return nResult;
}

int CADCapturer::Read(BYTE* pData, DWORD nLen)
{
    if (!m_pStream)
        return READ_NO_BUFFER;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pRing || m_pRing->GetFill() < nLen)
        return READ_NOT_ENOUGH;
    m_pRing->Read(pData, nLen);
    return READ_OK;
}

bool CADCapturer::HandleNotification(int)
{
    const int nError = m_pStream->Read(m_quarter.data(), m_dwNotifySize);
    if (nError != 0 && !GetAudioBackend().IsTransient(nError)) {
        TraceError(nError, "HandleNotification::Lock");
        VLOG(1, "CADCapturer::HandleNotification: device lost (%s), capture ends",
             GetAudioBackend().ErrorText(nError).c_str());
        return false;
    }
    if (m_bStop)
        return true;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pRing->GetFree() < m_dwNotifySize)
        m_pRing->Clear();
    if (m_hOwner)
        PostMessage(m_hOwner, WM_TIMER, 0, 0);
    m_pRing->Write(m_quarter.data(), m_dwNotifySize);
    return true;
}
