// The recording writer behind REZORIR: decides when the current file must end (picture
// size, size limit, time span, frame rate) and what each chunk holds (the stamp header
// rebuilt with the caption, or the bare payload; GSM audio as is or decoded to PCM).
#pragma once

#include "media/audio/acodecgsmavi.h"
#include "media/avi/aviwriter.h"
#include "media/avi/fpsstat.h"
#include "media/avi/rezorir.h"

#include <memory>
#include <string>

class CAVIProcess : public REZORIR {
public:
    static constexpr std::size_t HEADER_BUFFER = 255;
    static constexpr std::size_t PCM_BUFFER = 15360;
    static constexpr std::size_t STAMP_MIN = 10;

    explicit CAVIProcess(IREZORIROwner* pOwner);
    ~CAVIProcess() override;

    bool Create(const char16_t* pszPath, const char16_t* pszCaption, int bRaw, int nStreamMode, int nWidth,
                int nHeight, int nFrameRate) override;
    bool SetAudioFormat(WORD wFormatTag, WORD wChannels, DWORD dwRate) override;
    bool WriteVideo(const BYTE* pData, DWORD dwLen, WORD usSequence, BYTE bySubSequence) override;
    void WriteAudio(const BYTE* pData, DWORD dwLen, WORD usSequence) override;
    bool IsOpen() override { return m_pWriter != nullptr; }
    void SetMaxFileSize(DWORD dwMiB) override
    {
        m_ullMaxFileSize = static_cast<std::uint64_t>(dwMiB) * 1048576;
    }
    void SetMaxSpan(DWORD dwSeconds) override;
    bool SetRollbackPoint() override;
    bool RollbackToPoint() override;
    DWORD GetVideoCount() override { return m_pWriter != nullptr ? m_pWriter->GetVideoCount() : 0; }

    // The stamp header rebuilt with the caption into abyOut; its length, or 0 when the
    // incoming header is too short or leaves no payload.
    std::size_t RebuildStampHeader(const BYTE* pData, DWORD dwLen, BYTE (&abyOut)[HEADER_BUFFER]) const;

private:
    // Reports a write failure once to the owner.
    void ReportWriteError();

    IREZORIROwner* m_pOwner;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nStreamMode = REZORIR_MODE_H264;
    int m_bRaw = 0;
    WORD m_wAudioFormatTag = 49;
    WORD m_wAudioChannels = 1;
    DWORD m_dwAudioRate = 825;
    std::uint64_t m_ullMaxFileSize = 524288000;
    DWORD m_dwMaxSpan = 1800;
    std::u16string m_strCaption;
    bool m_bErrorReported = false;
    // The span or the frame rate asks for a new file at the next parameter set.
    bool m_bEndPending = false;
    CFPSStat m_fpsStat;
    CACodecGSMAVI m_gsm;
    BYTE m_abyHeader[HEADER_BUFFER] = {};
    std::unique_ptr<BYTE[]> m_pPcm;
    std::unique_ptr<AVIWriter> m_pWriter;
};
