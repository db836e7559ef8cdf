// The recording writer behind REZORIR: decides when the current file must end (picture
// size, size limit, time span, frame rate) and what each chunk holds (the stamp header
// rebuilt with the caption, or the bare payload; GSM audio as is or decoded to PCM).
#pragma once

#include "media/audio/acodecgsmavi.h"
#include "media/avi/aviwriter.h"
#include "media/avi/fpsstat.h"
#include "media/avi/rezorir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CAVIProcess : public REZORIR {
public:
    static constexpr std::size_t HEADER_BUFFER = 255;
    static constexpr std::size_t PCM_BUFFER = 15360;
    static constexpr std::size_t STAMP_MIN = 10;
    // A file ends at the next frame start once it holds this much (index included), key frame
    // or not: the format's 32-bit sizes and offsets end at 4 GiB, and a camera that sends no
    // key frame for that long must not make the file unreadable. Left 64 MiB for a frame.
    static constexpr std::uint64_t HARD_FILE_LIMIT = 0xFFFFFFFFull - (64ull << 20);

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
    const std::vector<BYTE>& GetParameterSet() override { return m_vecParameterSet; }
    void SetParameterSet(const std::vector<BYTE>& vecParameterSet) override
    {
        m_vecParameterSet = vecParameterSet;
    }
    // Test hook: the hard limit (HARD_FILE_LIMIT), lowered.
    void SetHardLimitForTest(std::uint64_t ullBytes) { m_ullHardLimit = ullBytes; }

    // The parameter sets at the head of a frame's first segment (with their start codes), empty
    // when it carries none; and whether the segment starts a picture that decodes on its own
    // (an H.264 IDR slice, an MPEG-4 I-VOP).
    static std::vector<BYTE> FindParameterSet(const BYTE* pPayload, std::size_t nLen, int nStreamMode);
    static bool IsKeyPicture(const BYTE* pPayload, std::size_t nLen, int nStreamMode);

    // The stamp header rebuilt with the caption into abyOut; its length, or 0 when the
    // incoming header is too short or leaves no payload.
    std::size_t RebuildStampHeader(const BYTE* pData, DWORD dwLen, BYTE (&abyOut)[HEADER_BUFFER]) const;

private:
    // Reports a write failure once to the owner.
    void ReportWriteError();
    // Decides about a segment that starts a frame: 1 write it, 0 refuse it (with its
    // continuations), -1 the file must end first (the owner was told). bPrefix: the stored
    // parameter set goes in front of it.
    int CheckFrameStart(const BYTE* pPayload, DWORD dwPayloadLen, WORD usSequence, BYTE bySubSequence,
                        std::int64_t llTime, bool& bPrefix);

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
    // The span, the frame rate or the size limit asks for a new file at the next key frame.
    bool m_bEndPending = false;
    std::uint64_t m_ullHardLimit = HARD_FILE_LIMIT;
    // The last segment offered, to tell a frame's continuation from the start of the next.
    bool m_bHaveLast = false;
    WORD m_usLastSequence = 0;
    // A frame whose first segment was refused: its continuations are refused too, so that no
    // frame is ever written in part.
    bool m_bRefusing = false;
    std::vector<BYTE> m_vecParameterSet;
    std::vector<BYTE> m_vecScratch; // a key frame with the parameter set put in front
    CFPSStat m_fpsStat;
    CACodecGSMAVI m_gsm;
    BYTE m_abyHeader[HEADER_BUFFER] = {};
    std::unique_ptr<BYTE[]> m_pPcm;
    std::unique_ptr<AVIWriter> m_pWriter;
};
