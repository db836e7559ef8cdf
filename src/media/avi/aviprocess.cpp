#include "media/avi/aviprocess.h"

#include "platform/codepage.h"
#include "protocol/videosize.h"

#include <algorithm>
#include <cstring>

REZORIR* CreateREZORIR(IREZORIROwner* pOwner)
{
    return new CAVIProcess(pOwner);
}

void DestroyREZORIR(REZORIR* pWriter)
{
    delete pWriter;
}

CAVIProcess::CAVIProcess(IREZORIROwner* pOwner) : m_pOwner(pOwner), m_pPcm(new BYTE[PCM_BUFFER])
{
    m_fpsStat.SetSpanLimit(m_dwMaxSpan);
}

CAVIProcess::~CAVIProcess()
{
    if (m_pWriter == nullptr)
        return;
    m_pWriter->SetFrameRate(m_fpsStat.GetFrameRate());
    if (!m_pWriter->Close())
        ReportWriteError();
}

bool CAVIProcess::Create(const char16_t* pszPath, const char16_t* pszCaption, int bRaw, int nStreamMode,
                         int nWidth, int nHeight, int nFrameRate)
{
    if (m_pWriter != nullptr || pszPath == nullptr ||
        (nStreamMode != REZORIR_MODE_MPEG4 && nStreamMode != REZORIR_MODE_H264))
        return false;
    m_bRaw = bRaw;
    m_nStreamMode = nStreamMode;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    int nVideoType;
    if (nStreamMode == REZORIR_MODE_MPEG4)
        nVideoType = bRaw ? AVI_VIDEO_XVID : AVI_VIDEO_TSXD;
    else
        nVideoType = bRaw ? AVI_VIDEO_H264 : AVI_VIDEO_TSHD;
    m_strCaption = pszCaption != nullptr ? std::u16string(pszCaption) : std::u16string();
    m_fpsStat.Reset();
    m_bErrorReported = false;
    m_bEndPending = false;

    auto pWriter = std::make_unique<AVIWriter>();
    pWriter->SetAudioFormat(m_wAudioFormatTag, m_wAudioChannels, m_dwAudioRate);
    if (!pWriter->Open(WideToUtf8(pszPath), nVideoType, nWidth, nHeight,
                       nFrameRate > 0 ? static_cast<float>(nFrameRate) : 0.0f))
        return false;
    m_pWriter = std::move(pWriter);
    return true;
}

bool CAVIProcess::SetAudioFormat(WORD wFormatTag, WORD wChannels, DWORD dwRate)
{
    if (m_pWriter == nullptr)
        return false;
    m_wAudioFormatTag = wFormatTag;
    m_wAudioChannels = wChannels;
    m_dwAudioRate = dwRate;
    m_pWriter->SetAudioFormat(wFormatTag, wChannels, dwRate);
    return true;
}

void CAVIProcess::SetMaxSpan(DWORD dwSeconds)
{
    m_dwMaxSpan = dwSeconds;
    m_fpsStat.SetSpanLimit(dwSeconds);
}

bool CAVIProcess::SetRollbackPoint()
{
    if (m_pWriter == nullptr)
        return false;
    m_pWriter->Mark();
    return true;
}

bool CAVIProcess::RollbackToPoint()
{
    if (m_pWriter == nullptr)
        return false;
    if (!m_pWriter->Truncate()) {
        ReportWriteError();
        return false;
    }
    return true;
}

void CAVIProcess::ReportWriteError()
{
    if (m_bErrorReported)
        return;
    m_bErrorReported = true;
    if (m_pOwner != nullptr)
        m_pOwner->OnError(REZORIR_ERR_WRITE);
}

std::size_t CAVIProcess::RebuildStampHeader(const BYTE* pData, DWORD dwLen,
                                            BYTE (&abyOut)[HEADER_BUFFER]) const
{
    const DWORD dwStampLen = pData[0];
    if (dwStampLen < STAMP_MIN || dwStampLen >= dwLen)
        return 0;
    std::memcpy(abyOut + 1, pData + 1, STAMP_MIN - 1);
    if (m_strCaption.empty()) {
        abyOut[0] = STAMP_MIN;
        return STAMP_MIN;
    }
    const std::size_t nRoom = HEADER_BUFFER - STAMP_MIN;
    const std::size_t nChars = std::min((nRoom - 3) / 2, m_strCaption.size());
    const std::size_t nCaptionBytes = 2 * nChars + 3;
    abyOut[0] = static_cast<BYTE>(STAMP_MIN + nCaptionBytes);
    BYTE* p = abyOut + STAMP_MIN;
    *p++ = static_cast<BYTE>(2 * nChars + 2);
    for (std::size_t i = 0; i < nChars; ++i) {
        *p++ = static_cast<BYTE>(m_strCaption[i]);
        *p++ = static_cast<BYTE>(m_strCaption[i] >> 8);
    }
    *p++ = 0;
    *p++ = 0;
    return STAMP_MIN + nCaptionBytes;
}

bool CAVIProcess::WriteVideo(const BYTE* pData, DWORD dwLen, WORD usSequence, BYTE bySubSequence)
{
    if (m_pWriter == nullptr || pData == nullptr || dwLen == 0)
        return false;
    // Without a whole stamp header there is neither a time nor a payload: dropped silently.
    const DWORD dwStampLen = pData[0];
    if (dwStampLen < STAMP_MIN || dwStampLen >= dwLen)
        return true;
    const BYTE* pPayload = pData + dwStampLen;
    const DWORD dwPayloadLen = dwLen - dwStampLen;

    // A file ends only before a segment that carries a parameter set, so that the next file
    // starts with a picture a player can decode and no frame in between is lost.
    bool bSize = false;
    if (bySubSequence == 0) {
        std::uint32_t uWidth = 0;
        std::uint32_t uHeight = 0;
        bSize = m_nStreamMode == REZORIR_MODE_MPEG4
                    ? videosize::ReadMpeg4Size(pPayload, dwPayloadLen, &uWidth, &uHeight)
                    : videosize::ReadH264Size(pPayload, dwPayloadLen, &uWidth, &uHeight);
        const int nWidth = static_cast<int>(std::min<std::uint32_t>(uWidth, 0xFFFF));
        const int nHeight = static_cast<int>(std::min<std::uint32_t>(uHeight, 0xFFFF));
        const bool bHasSize = m_nWidth > 0 && m_nHeight > 0;
        if (bSize && (nWidth < 1 || nHeight < 1))
            return false;
        if (!bSize && !bHasSize)
            return false; // nothing before it tells a player how to decode it
        if (bSize && !bHasSize) {
            m_nWidth = nWidth;
            m_nHeight = nHeight;
            m_pWriter->SetSize(nWidth, nHeight);
        } else if (bSize && (nWidth != m_nWidth || nHeight != m_nHeight ||
                             m_pWriter->GetFileLength() >= m_ullMaxFileSize || m_bEndPending)) {
            m_pOwner->NeedReCreateFile();
            return false;
        }
    }

    // The time values of the stamp are in host order (the media engine converted them).
    DWORD dwSeconds;
    DWORD dwMicroseconds;
    std::memcpy(&dwSeconds, pData + 2, 4);
    std::memcpy(&dwMicroseconds, pData + 6, 4);
    m_fpsStat.Offer(usSequence, bySubSequence,
                    static_cast<std::int64_t>(dwSeconds) * 10000 +
                        static_cast<std::int64_t>(dwMicroseconds / 100));
    if (m_fpsStat.IsSpanExceeded() || m_fpsStat.CheckFrameRateChange()) {
        m_bEndPending = true;
        if (bSize) {
            m_pOwner->NeedReCreateFile();
            return false;
        }
    }

    bool bWritten;
    if (m_bRaw) {
        bWritten = m_pWriter->WriteVideoChunk(bySubSequence == 0, pPayload, dwPayloadLen);
    } else {
        const std::size_t nHeader = RebuildStampHeader(pData, dwLen, m_abyHeader);
        bWritten = m_pWriter->WriteVideoChunk(bySubSequence == 0, m_abyHeader, static_cast<DWORD>(nHeader),
                                              pPayload, dwPayloadLen);
    }
    if (!bWritten) {
        ReportWriteError();
        return false;
    }
    return true;
}

void CAVIProcess::WriteAudio(const BYTE* pData, DWORD dwLen, WORD usSequence)
{
    (void)usSequence; // the last audio sequence is kept as it was
    if (m_pWriter == nullptr || pData == nullptr || dwLen == 0)
        return;
    bool bWritten;
    if (m_wAudioFormatTag == 1) {
        const int nPcm =
            m_gsm.Decode(pData, static_cast<int>(dwLen), m_pPcm.get(), static_cast<int>(PCM_BUFFER));
        if (nPcm <= 0)
            return;
        bWritten = m_pWriter->WriteAudioChunk(m_pPcm.get(), static_cast<DWORD>(nPcm));
    } else {
        bWritten = m_pWriter->WriteAudioChunk(pData, dwLen);
    }
    if (!bWritten)
        ReportWriteError();
}
