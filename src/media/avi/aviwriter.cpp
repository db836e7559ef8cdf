#include "media/avi/aviwriter.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace {

constexpr DWORD Fourcc(const char (&sz)[5])
{
    return static_cast<DWORD>(static_cast<BYTE>(sz[0])) | static_cast<DWORD>(static_cast<BYTE>(sz[1])) << 8 |
           static_cast<DWORD>(static_cast<BYTE>(sz[2])) << 16 |
           static_cast<DWORD>(static_cast<BYTE>(sz[3])) << 24;
}

constexpr DWORD VIDEO_FOURCC[] = {Fourcc("xvid"), Fourcc("tsxd"), Fourcc("tshd"), Fourcc("h264")};
// The compression in the stream format, which players and ffprobe go by: the video type's
// fourcc, but "XVID" for stamped MPEG-4, whose "tsxd" no reader outside this design knows
// ("tshd" is known as H.264). The stream header's handler keeps "tsxd", which tells our
// readers that the chunks carry stamp headers.
constexpr DWORD VIDEO_COMPRESSION[] = {Fourcc("xvid"), Fourcc("XVID"), Fourcc("tshd"), Fourcc("h264")};
constexpr std::size_t FILE_BUFFER = 256 << 10;

// Little-endian writer over the fixed header.
class CHeaderWriter {
public:
    explicit CHeaderWriter(BYTE* p) : m_p(p) {}
    void Dw(DWORD v)
    {
        for (int i = 0; i < 4; ++i)
            *m_p++ = static_cast<BYTE>(v >> (8 * i));
    }
    void W(WORD v)
    {
        *m_p++ = static_cast<BYTE>(v);
        *m_p++ = static_cast<BYTE>(v >> 8);
    }

private:
    BYTE* m_p;
};

} // namespace

AVIWriter::~AVIWriter()
{
    if (m_pFile != nullptr)
        Close();
}

bool AVIWriter::Open(const std::string& strPath, int nVideoType, int nWidth, int nHeight, float fFrameRate)
{
    if (m_pFile != nullptr || nVideoType < AVI_VIDEO_XVID || nVideoType > AVI_VIDEO_H264)
        return false;
    m_pFile = std::fopen(strPath.c_str(), "wb");
    if (m_pFile == nullptr)
        return false;
    // The buffer is ours: given none, the C library keeps its 4 KiB one whatever size is asked
    // for, and a file of frames goes out in a write call every few kilobytes.
    // Not zeroed: the library writes each byte before it reads it, and a download of short
    // files paid for a quarter MiB of zeros each.
    if (!m_pFileBuffer)
        m_pFileBuffer = std::make_unique_for_overwrite<char[]>(FILE_BUFFER);
    std::setvbuf(m_pFile, m_pFileBuffer.get(), _IOFBF, FILE_BUFFER);
    m_nVideoType = nVideoType;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_fFrameRate = HeaderFrameRate(fFrameRate);
    m_dwVideoCount = 0;
    m_dwAudioCount = 0;
    m_ullMovieBytes = 0;
    m_bWriteError = false;
    m_vecIndex.clear();
    m_vecIndex.reserve(1024);
    m_mark = MarkPoint();
    BYTE abyHeader[HEADER_LEN];
    BuildHeader(abyHeader, HEADER_LEN);
    return Put(abyHeader, sizeof abyHeader);
}

float AVIWriter::HeaderFrameRate(float fFrameRate)
{
    if (!(fFrameRate > 0.0f)) // 0, negative or not a number: the design's 15
        return 15.0f;
    return std::clamp(fFrameRate, MIN_FRAME_RATE, MAX_FRAME_RATE);
}

void AVIWriter::SetSize(int nWidth, int nHeight)
{
    m_nWidth = nWidth;
    m_nHeight = nHeight;
}

void AVIWriter::SetAudioFormat(WORD wFormatTag, WORD wChannels, DWORD dwRate)
{
    m_wAudioFormatTag = wFormatTag;
    m_wAudioChannels = wChannels;
    m_dwAudioRate = dwRate;
}

void AVIWriter::BuildHeader(BYTE (&abyHeader)[HEADER_LEN], std::uint64_t ullFileLength) const
{
    std::memset(abyHeader, 0, sizeof abyHeader);
    CHeaderWriter w(abyHeader);
    const DWORD dwWidth = m_nWidth > 0 ? static_cast<DWORD>(m_nWidth) : 0;
    const DWORD dwHeight = m_nHeight > 0 ? static_cast<DWORD>(m_nHeight) : 0;
    const DWORD dwImage = dwWidth * dwHeight * 3;
    const DWORD dwVideoFourcc = VIDEO_FOURCC[m_nVideoType];
    const DWORD dwCompression = VIDEO_COMPRESSION[m_nVideoType];
    const float fRate = HeaderFrameRate(m_fFrameRate);

    w.Dw(Fourcc("RIFF"));
    w.Dw(static_cast<DWORD>(ullFileLength - 8));
    w.Dw(Fourcc("AVI "));
    w.Dw(Fourcc("LIST"));
    w.Dw(294);
    w.Dw(Fourcc("hdrl"));

    w.Dw(Fourcc("avih"));
    w.Dw(56);
    w.Dw(static_cast<DWORD>(1000000.0f / fRate));
    w.Dw(0);     // max bytes per second
    w.Dw(0);     // padding granularity
    w.Dw(0x810); // has index, trust chunk type
    w.Dw(m_dwVideoCount);
    w.Dw(0);
    w.Dw(2);
    w.Dw(dwImage);
    w.Dw(dwWidth);
    w.Dw(dwHeight);
    for (int i = 0; i < 4; ++i)
        w.Dw(0);

    w.Dw(Fourcc("LIST"));
    w.Dw(116);
    w.Dw(Fourcc("strl"));
    w.Dw(Fourcc("strh"));
    w.Dw(56);
    w.Dw(Fourcc("vids"));
    w.Dw(dwVideoFourcc);
    w.Dw(0); // flags
    w.W(0);  // priority
    w.W(0);  // language
    w.Dw(0); // initial frames
    w.Dw(100);
    w.Dw(static_cast<DWORD>(fRate * 100.0f + 0.5f));
    w.Dw(0);
    w.Dw(m_dwVideoCount);
    w.Dw(dwImage);
    w.Dw(0); // quality
    w.Dw(0); // sample size
    w.W(0);
    w.W(0);
    w.W(static_cast<WORD>(dwWidth));
    w.W(static_cast<WORD>(dwHeight));
    w.Dw(Fourcc("strf"));
    w.Dw(40);
    w.Dw(40);
    w.Dw(dwWidth);
    w.Dw(dwHeight);
    w.W(1);
    w.W(24);
    w.Dw(dwCompression);
    w.Dw(dwImage);
    for (int i = 0; i < 4; ++i)
        w.Dw(0);

    w.Dw(Fourcc("LIST"));
    w.Dw(94);
    w.Dw(Fourcc("strl"));
    w.Dw(Fourcc("strh"));
    w.Dw(56);
    w.Dw(Fourcc("auds"));
    w.Dw(0); // handler
    w.Dw(0);
    w.W(0);
    w.W(0);
    w.Dw(0);
    w.Dw(static_cast<DWORD>(m_wAudioChannels) * 2);
    w.Dw(static_cast<DWORD>(m_wAudioChannels) * m_dwAudioRate * 2);
    w.Dw(0);
    w.Dw(m_dwAudioCount);
    for (int i = 0; i < 5; ++i) // buffer size, quality, sample size, frame rectangle
        w.Dw(0);
    w.Dw(Fourcc("strf"));
    w.Dw(18);
    w.W(m_wAudioFormatTag);
    w.W(m_wAudioChannels);
    w.Dw(m_dwAudioRate);
    w.Dw(m_dwAudioRate * m_wAudioChannels * 2);
    w.W(2);
    w.W(16);
    w.W(0);

    w.Dw(Fourcc("LIST"));
    w.Dw(static_cast<DWORD>(m_ullMovieBytes + 4));
    w.Dw(Fourcc("movi"));
}

bool AVIWriter::Put(const void* pData, std::size_t nLen)
{
    if (nLen != 0 && std::fwrite(pData, 1, nLen, m_pFile) != nLen)
        m_bWriteError = true;
    return !m_bWriteError;
}

bool AVIWriter::WriteChunk(DWORD dwFourcc, DWORD dwFlags, const BYTE* pPart1, DWORD dwLen1,
                           const BYTE* pPart2, DWORD dwLen2)
{
    if (m_pFile == nullptr)
        return false;
    if (m_ullMovieBytes & 1) {
        const BYTE byPad = 0;
        Put(&byPad, 1);
        ++m_ullMovieBytes;
    }
    const DWORD dwLen = dwLen1 + dwLen2;
    BYTE abyHead[8];
    CHeaderWriter w(abyHead);
    w.Dw(dwFourcc);
    w.Dw(dwLen);
    Put(abyHead, sizeof abyHead);
    Put(pPart1, dwLen1);
    if (pPart2 != nullptr)
        Put(pPart2, dwLen2);
    // Offsets count from the "movi" fourcc, which is 4 bytes before the first chunk.
    m_vecIndex.push_back({dwFourcc, dwFlags, static_cast<DWORD>(m_ullMovieBytes + 4), dwLen});
    m_ullMovieBytes += 8 + static_cast<std::uint64_t>(dwLen);
    return !m_bWriteError;
}

bool AVIWriter::WriteVideoChunk(bool bKey, const BYTE* pPart1, DWORD dwLen1, const BYTE* pPart2, DWORD dwLen2)
{
    // "00db" marks the first segment of a frame.
    if (!WriteChunk(bKey ? Fourcc("00db") : Fourcc("00dc"), bKey ? INDEX_FLAG_KEY : 0, pPart1, dwLen1, pPart2,
                    dwLen2))
        return false;
    ++m_dwVideoCount;
    return true;
}

bool AVIWriter::WriteAudioChunk(const BYTE* pData, DWORD dwLen)
{
    if (!WriteChunk(Fourcc("01wb"), INDEX_FLAG_KEY, pData, dwLen, nullptr, 0))
        return false;
    ++m_dwAudioCount;
    return true;
}

void AVIWriter::Mark()
{
    m_mark = {m_ullMovieBytes, m_dwVideoCount, m_dwAudioCount, m_vecIndex.size()};
}

bool AVIWriter::Truncate()
{
    if (m_pFile == nullptr)
        return false;
    const off_t llLength = static_cast<off_t>(HEADER_LEN) + static_cast<off_t>(m_mark.ullMovieBytes);
    if (std::fflush(m_pFile) != 0 || ::ftruncate(::fileno(m_pFile), llLength) != 0 ||
        std::fseek(m_pFile, llLength, SEEK_SET) != 0) {
        m_bWriteError = true;
        return false;
    }
    m_ullMovieBytes = m_mark.ullMovieBytes;
    m_dwVideoCount = m_mark.dwVideoCount;
    m_dwAudioCount = m_mark.dwAudioCount;
    m_vecIndex.resize(m_mark.nIndex);
    return true;
}

bool AVIWriter::Close()
{
    if (m_pFile == nullptr)
        return false;
    std::uint64_t ullLength = GetFileLength();
    if (ullLength & 1) {
        const BYTE byPad = 0;
        Put(&byPad, 1);
        ++ullLength;
    }
    BYTE abyHead[8];
    CHeaderWriter w(abyHead);
    w.Dw(Fourcc("idx1"));
    w.Dw(static_cast<DWORD>(m_vecIndex.size() * 16));
    Put(abyHead, sizeof abyHead);
    for (const IndexEntry& entry : m_vecIndex) {
        BYTE abyEntry[16];
        CHeaderWriter e(abyEntry);
        e.Dw(entry.dwChunkID);
        e.Dw(entry.dwFlags);
        e.Dw(entry.dwOffset);
        e.Dw(entry.dwLength);
        Put(abyEntry, sizeof abyEntry);
    }
    ullLength += 8 + m_vecIndex.size() * 16;
    if (std::fflush(m_pFile) != 0)
        m_bWriteError = true;
    BYTE abyHeader[HEADER_LEN];
    BuildHeader(abyHeader, ullLength);
    if (std::fseek(m_pFile, 0, SEEK_SET) != 0)
        m_bWriteError = true;
    else
        Put(abyHeader, sizeof abyHeader);
    if (std::fclose(m_pFile) != 0)
        m_bWriteError = true;
    m_pFile = nullptr;
    m_vecIndex.clear();
    m_vecIndex.shrink_to_fit();
    return !m_bWriteError;
}
