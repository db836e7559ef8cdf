// The RIFF/AVI file: a fixed 326-byte header (one video and one audio stream), the "movi"
// list of chunks each starting at an even offset, and the "idx1" index; the header is
// rewritten with the final counts when the file closes.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

enum : int {
    AVI_VIDEO_XVID = 0,
    AVI_VIDEO_TSXD = 1,
    AVI_VIDEO_TSHD = 2,
    AVI_VIDEO_H264 = 3,
};

class AVIWriter {
public:
    static constexpr std::size_t HEADER_LEN = 326; // up to and including the "movi" fourcc
    static constexpr DWORD INDEX_FLAG_KEY = 0x10;
    // The frame rates a header may state: a rate measured from damaged times (a few frames
    // stamped alike, or far apart) is brought into this range, since 1000000 / rate must fit
    // the header's 32 bits and a player must be able to play it.
    static constexpr float MIN_FRAME_RATE = 0.1f;
    static constexpr float MAX_FRAME_RATE = 1000.0f;
    // The rate a header states for fFrameRate: 15 when it is not a positive number, else
    // fFrameRate brought into [MIN_FRAME_RATE, MAX_FRAME_RATE].
    static float HeaderFrameRate(float fFrameRate);

    AVIWriter() = default;
    ~AVIWriter();
    AVIWriter(const AVIWriter&) = delete;
    AVIWriter& operator=(const AVIWriter&) = delete;

    // Creates or truncates the file and writes the provisional header.
    bool Open(const std::string& strPath, int nVideoType, int nWidth, int nHeight, float fFrameRate);
    bool IsOpen() const { return m_pFile != nullptr; }
    void SetSize(int nWidth, int nHeight);
    void SetAudioFormat(WORD wFormatTag, WORD wChannels, DWORD dwRate);
    void SetFrameRate(float fFrameRate) { m_fFrameRate = HeaderFrameRate(fFrameRate); }
    // One chunk of up to two parts (a rebuilt header and the payload).
    bool WriteVideoChunk(bool bKey, const BYTE* pPart1, DWORD dwLen1, const BYTE* pPart2 = nullptr,
                         DWORD dwLen2 = 0);
    bool WriteAudioChunk(const BYTE* pData, DWORD dwLen);
    // Pads, writes the index, rewrites the header and closes. False when anything written
    // since Open failed to reach the file.
    bool Close();
    // Remembers the current end of the file; Truncate cuts the file and its index back to it.
    void Mark();
    bool Truncate();
    DWORD GetVideoCount() const { return m_dwVideoCount; }

    // Bytes in the file so far (header, chunks and pad bytes), the index that Close writes not
    // counted. 64 bits: the RIFF and index fields of the format end at 4 GiB, and the writer's
    // owner (CAVIProcess) ends a file long before that, but nothing here may wrap meanwhile.
    std::uint64_t GetFileLength() const { return HEADER_LEN + m_ullMovieBytes; }
    // What Close will make of the file: its length plus the index.
    std::uint64_t GetClosedLength() const { return GetFileLength() + 1 + 8 + 16 * m_vecIndex.size(); }
    bool HasWriteError() const { return m_bWriteError; }
    // The header for the current state, as it is written at offset 0.
    void BuildHeader(BYTE (&abyHeader)[HEADER_LEN], std::uint64_t ullFileLength) const;

private:
    struct IndexEntry {
        DWORD dwChunkID;
        DWORD dwFlags;
        DWORD dwOffset;
        DWORD dwLength;
    };

    bool WriteChunk(DWORD dwFourcc, DWORD dwFlags, const BYTE* pPart1, DWORD dwLen1, const BYTE* pPart2,
                    DWORD dwLen2);
    bool Put(const void* pData, std::size_t nLen);

    std::FILE* m_pFile = nullptr;
    std::unique_ptr<char[]> m_pFileBuffer; // the stream's buffer; outlives every file it served
    DWORD m_dwVideoCount = 0;
    DWORD m_dwAudioCount = 0;
    std::uint64_t m_ullMovieBytes = 0;
    float m_fFrameRate = 0.0f;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nVideoType = AVI_VIDEO_TSHD;
    WORD m_wAudioChannels = 1;
    DWORD m_dwAudioRate = 825;
    WORD m_wAudioFormatTag = 49;
    bool m_bWriteError = false;
    std::vector<IndexEntry> m_vecIndex;
    struct MarkPoint {
        std::uint64_t ullMovieBytes = 0;
        DWORD dwVideoCount = 0;
        DWORD dwAudioCount = 0;
        std::size_t nIndex = 0;
    } m_mark;
};
