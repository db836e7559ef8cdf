// The recording writer as its users see it: one AVI file at a time, fed with the camera's
// compressed video segments and GSM audio, which asks its owner for a new file when the
// current one must end (picture size, size limit, time span, frame rate).
#pragma once

#include "platform/wintypes.h"

#include <vector>

// The owner's side; operations in slot order.
class IREZORIROwner {
public:
    // The current file must end. Called from inside a write; the owner may not destroy the
    // writer there, only after the write returned.
    virtual void NeedReCreateFile() = 0;
    virtual void OnError(int nErrorID) = 0;
    virtual ~IREZORIROwner() = default;
};

// Error ids passed to OnError.
enum : int {
    REZORIR_ERR_WRITE = 1, // the file system refused a write (disk full, folder gone)
};

// Stream modes.
enum : int {
    REZORIR_MODE_MPEG4 = 1, // MPEG-4 Part 2 with stamp header
    REZORIR_MODE_H264 = 2,  // H.264 with stamp header
};

class REZORIR {
public:
    // Operations in slot order.
    virtual bool Create(const char16_t* pszPath, const char16_t* pszCaption, int bRaw, int nStreamMode,
                        int nWidth, int nHeight, int nFrameRate) = 0;
    virtual bool SetAudioFormat(WORD wFormatTag, WORD wChannels, DWORD dwRate) = 0;
    virtual bool WriteVideo(const BYTE* pData, DWORD dwLen, WORD usSequence, BYTE bySubSequence) = 0;
    virtual void WriteAudio(const BYTE* pData, DWORD dwLen, WORD usSequence) = 0;
    virtual bool IsOpen() = 0;
    virtual void SetMaxFileSize(DWORD dwMiB) = 0;
    virtual void SetMaxSpan(DWORD dwSeconds) = 0;
    // Finalises and closes an open file.
    virtual ~REZORIR() = default;
    // A point to cut the file back to, and the cut: what was written after the point goes
    // (a download stopped in the middle of a second drops that second, which the next one
    // fetches whole). False without an open file or when the file system refuses.
    virtual bool SetRollbackPoint() = 0;
    virtual bool RollbackToPoint() = 0;
    // Video chunks in the file.
    virtual DWORD GetVideoCount() = 0;
    // The codec's parameter set last seen (H.264 SPS and PPS, MPEG-4 from the visual object
    // sequence to the video object layer, with their start codes), and one to start a file
    // with: a file that has to begin at a key frame without one (a camera that sends its
    // parameter set once) repeats it at its head. The owner carries it from file to file.
    virtual const std::vector<BYTE>& GetParameterSet() = 0;
    virtual void SetParameterSet(const std::vector<BYTE>& vecParameterSet) = 0;
};

REZORIR* CreateREZORIR(IREZORIROwner* pOwner);
void DestroyREZORIR(REZORIR* pWriter);
