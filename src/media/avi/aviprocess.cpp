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
    m_bHaveLast = false;
    m_bRefusing = false;

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

namespace {

// Offset of the first 00 00 01 at or after nFrom, or nLen.
std::size_t FindStartCode(const BYTE* p, std::size_t nLen, std::size_t nFrom)
{
    for (std::size_t i = nFrom; i + 3 <= nLen; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            return i;
    }
    return nLen;
}

} // namespace

std::vector<BYTE> CAVIProcess::FindParameterSet(const BYTE* pPayload, std::size_t nLen, int nStreamMode)
{
    std::vector<BYTE> vec;
    std::size_t i = FindStartCode(pPayload, nLen, 0);
    if (nStreamMode == REZORIR_MODE_MPEG4) {
        // From the first start code to the group of VOPs or the first VOP: visual object
        // sequence, visual object, video object and its layer.
        const std::size_t nFirst = i;
        bool bLayer = false;
        while (i < nLen) {
            const BYTE byCode = i + 3 < nLen ? pPayload[i + 3] : 0xFF;
            if (byCode == 0xB3 || byCode == 0xB6)
                break;
            bLayer = bLayer || (byCode >= 0x20 && byCode <= 0x2F);
            i = FindStartCode(pPayload, nLen, i + 3);
        }
        if (bLayer)
            vec.assign(pPayload + nFirst, pPayload + i);
        return vec;
    }
    // H.264: the sequence and picture parameter sets ahead of the first slice.
    bool bSps = false;
    while (i < nLen) {
        const std::size_t nNal = i + 3;
        const std::size_t nNext = FindStartCode(pPayload, nLen, nNal);
        std::size_t nEnd = nNext;
        while (nEnd > nNal && pPayload[nEnd - 1] == 0)
            --nEnd; // the zero of the next four-byte start code
        const int nType = nNal < nLen ? (pPayload[nNal] & 0x1F) : 0;
        if (nType >= 1 && nType <= 5)
            break;
        if (nType == 7 || nType == 8) {
            bSps = bSps || nType == 7;
            vec.insert(vec.end(), {0, 0, 0, 1});
            vec.insert(vec.end(), pPayload + nNal, pPayload + nEnd);
        }
        i = nNext;
    }
    if (!bSps)
        vec.clear();
    return vec;
}

bool CAVIProcess::IsKeyPicture(const BYTE* pPayload, std::size_t nLen, int nStreamMode)
{
    for (std::size_t i = FindStartCode(pPayload, nLen, 0); i + 3 < nLen;
         i = FindStartCode(pPayload, nLen, i + 3)) {
        const BYTE byCode = pPayload[i + 3];
        if (nStreamMode == REZORIR_MODE_MPEG4) {
            if (byCode == 0xB6) // vop_coding_type 0: intra
                return i + 4 < nLen && (pPayload[i + 4] >> 6) == 0;
        } else {
            const int nType = byCode & 0x1F;
            if (nType == 5)
                return true;
            if (nType >= 1 && nType <= 4)
                return false;
        }
    }
    return false;
}

int CAVIProcess::CheckFrameStart(const BYTE* pPayload, DWORD dwPayloadLen, WORD usSequence,
                                 BYTE bySubSequence, std::int64_t llTime, bool& bPrefix)
{
    bPrefix = false;
    // Only a segment marked as starting with a codec header is read for the picture size; the
    // key picture is found in the data for frames that carry no header.
    std::uint32_t uWidth = 0;
    std::uint32_t uHeight = 0;
    const bool bSize =
        bySubSequence == 0 && (m_nStreamMode == REZORIR_MODE_MPEG4
                                   ? videosize::ReadMpeg4Size(pPayload, dwPayloadLen, &uWidth, &uHeight)
                                   : videosize::ReadH264Size(pPayload, dwPayloadLen, &uWidth, &uHeight));
    const int nWidth = static_cast<int>(std::min<std::uint32_t>(uWidth, 0xFFFF));
    const int nHeight = static_cast<int>(std::min<std::uint32_t>(uHeight, 0xFFFF));
    if (bSize && (nWidth < 1 || nHeight < 1))
        return 0;
    const bool bKey = bSize || IsKeyPicture(pPayload, dwPayloadLen, m_nStreamMode);
    const bool bStarted = m_pWriter->GetVideoCount() > 0;
    if (!bStarted && !bSize) {
        // Nothing before it tells a player how to decode it: a file starts with a parameter
        // set, the stored one put in front of a key frame that has none.
        if (!bKey || m_vecParameterSet.empty())
            return 0;
        const bool bSetSize = m_nStreamMode == REZORIR_MODE_MPEG4
                                  ? videosize::ReadMpeg4Size(m_vecParameterSet.data(),
                                                             m_vecParameterSet.size(), &uWidth, &uHeight)
                                  : videosize::ReadH264Size(m_vecParameterSet.data(),
                                                            m_vecParameterSet.size(), &uWidth, &uHeight);
        if (!bSetSize || uWidth < 1 || uHeight < 1)
            return 0;
        bPrefix = true;
    }

    m_fpsStat.Offer(usSequence, bySubSequence, llTime);
    if (m_fpsStat.IsSpanExceeded() || m_fpsStat.CheckFrameRateChange())
        m_bEndPending = true;
    if (bStarted) {
        // A new picture size ends the file at once; the size limit, the span and a new frame
        // rate at the next key frame, so that the next file starts with a picture a player can
        // decode (its parameter set repeated when the frame carries none); and a file about to
        // outgrow the format at the next frame whatever it is.
        const bool bHard = m_pWriter->GetClosedLength() >= m_ullHardLimit;
        const bool bNewSize = bSize && (nWidth != m_nWidth || nHeight != m_nHeight);
        const bool bDue = m_pWriter->GetFileLength() >= m_ullMaxFileSize || m_bEndPending;
        if (bNewSize || bHard || (bDue && bKey)) {
            m_pOwner->NeedReCreateFile();
            return -1;
        }
    }
    if (bSize) {
        std::vector<BYTE> vecSet = FindParameterSet(pPayload, dwPayloadLen, m_nStreamMode);
        if (!vecSet.empty())
            m_vecParameterSet = std::move(vecSet);
    }
    if (!bStarted) {
        m_nWidth = static_cast<int>(std::min<std::uint32_t>(uWidth, 0xFFFF));
        m_nHeight = static_cast<int>(std::min<std::uint32_t>(uHeight, 0xFFFF));
        m_pWriter->SetSize(m_nWidth, m_nHeight);
    }
    return 1;
}

bool CAVIProcess::WriteVideo(const BYTE* pData, DWORD dwLen, WORD usSequence, BYTE bySubSequence)
{
    if (m_pWriter == nullptr || pData == nullptr || dwLen == 0)
        return false;
    // A frame starts with sub-sequence 0 or with a new sequence (cameras mark frames that do
    // not begin with a codec header with a non-zero sub-sequence too); the rest continue it.
    const bool bFrameStart = bySubSequence == 0 || !m_bHaveLast || usSequence != m_usLastSequence;
    m_bHaveLast = true;
    m_usLastSequence = usSequence;
    if (!bFrameStart && m_bRefusing)
        return false; // the rest of a frame whose head was refused
    m_bRefusing = false;
    // Without a whole stamp header there is neither a time nor a payload: dropped silently
    // (and the rest of its frame with it).
    const DWORD dwStampLen = pData[0];
    if (dwStampLen < STAMP_MIN || dwStampLen >= dwLen) {
        m_bRefusing = bFrameStart;
        return true;
    }
    const BYTE* pPayload = pData + dwStampLen;
    const DWORD dwPayloadLen = dwLen - dwStampLen;
    // The time values of the stamp are in host order (the media engine converted them).
    DWORD dwSeconds;
    DWORD dwMicroseconds;
    std::memcpy(&dwSeconds, pData + 2, 4);
    std::memcpy(&dwMicroseconds, pData + 6, 4);
    const std::int64_t llTime =
        static_cast<std::int64_t>(dwSeconds) * 10000 + static_cast<std::int64_t>(dwMicroseconds / 100);

    bool bPrefix = false;
    if (bFrameStart) {
        const int nCheck =
            CheckFrameStart(pPayload, dwPayloadLen, usSequence, bySubSequence, llTime, bPrefix);
        if (nCheck <= 0) {
            // Refused: its continuations are refused with it. The file ends before it: the
            // owner offers it again to the next file, which takes its continuations too.
            m_bRefusing = true;
            return false;
        }
    } else {
        if (m_pWriter->GetVideoCount() == 0)
            return false; // the middle of a frame whose start this file never saw
        m_fpsStat.Offer(usSequence, bySubSequence, llTime);
    }

    const BYTE* pPart = pPayload;
    DWORD dwPartLen = dwPayloadLen;
    if (bPrefix) {
        m_vecScratch.assign(m_vecParameterSet.begin(), m_vecParameterSet.end());
        m_vecScratch.insert(m_vecScratch.end(), pPayload, pPayload + dwPayloadLen);
        pPart = m_vecScratch.data();
        dwPartLen = static_cast<DWORD>(m_vecScratch.size());
    }
    // A first segment, and a key frame given its parameter set, are key chunks.
    const bool bKeyChunk = bySubSequence == 0 || bPrefix;
    bool bWritten;
    if (m_bRaw) {
        bWritten = m_pWriter->WriteVideoChunk(bKeyChunk, pPart, dwPartLen);
    } else {
        const std::size_t nHeader = RebuildStampHeader(pData, dwLen, m_abyHeader);
        bWritten =
            m_pWriter->WriteVideoChunk(bKeyChunk, m_abyHeader, static_cast<DWORD>(nHeader), pPart, dwPartLen);
    }
    if (bPrefix) {
        m_vecScratch.clear();
        m_vecScratch.shrink_to_fit();
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
