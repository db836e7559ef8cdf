#include "media/audio/wavfile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

DWORD Le32(const BYTE* p)
{
    return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

WORD Le16(const BYTE* p)
{
    return WORD(p[0] | p[1] << 8);
}

void Put32(std::vector<BYTE>& v, DWORD d)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(BYTE(d >> (8 * i)));
}

void Put16(std::vector<BYTE>& v, WORD w)
{
    v.push_back(BYTE(w));
    v.push_back(BYTE(w >> 8));
}

} // namespace

bool ReadWavFile(const std::string& strPath, WavAudio& wav, std::string& strError)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        strError = "cannot open " + strPath;
        return false;
    }
    std::vector<BYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        strError = strPath + " is not a WAV file";
        return false;
    }
    bool bFormat = false;
    std::size_t nPos = 12;
    while (nPos + 8 <= file.size()) {
        const BYTE* pChunk = file.data() + nPos;
        const DWORD dwSize = Le32(pChunk + 4);
        const std::size_t nBody = nPos + 8;
        if (std::memcmp(pChunk, "fmt ", 4) == 0) {
            if (dwSize < 16 || nBody + 16 > file.size()) {
                strError = strPath + ": format chunk cut short";
                return false;
            }
            const BYTE* p = file.data() + nBody;
            const WORD usTag = Le16(p);
            wav.usChannels = Le16(p + 2);
            wav.dwRate = Le32(p + 4);
            const WORD usBits = Le16(p + 14);
            // WAVE_FORMAT_EXTENSIBLE carries PCM too (sox writes it for some inputs).
            if ((usTag != 1 && usTag != 0xFFFE) || usBits != 16 || wav.usChannels == 0) {
                strError = strPath + ": not 16-bit PCM";
                return false;
            }
            bFormat = true;
        } else if (std::memcmp(pChunk, "data", 4) == 0) {
            if (!bFormat) {
                strError = strPath + ": data before format";
                return false;
            }
            // A header that claims more than the file holds (a recording cut off) keeps what
            // is there.
            std::size_t nLen = std::min<std::size_t>(dwSize, file.size() - nBody);
            nLen -= nLen % (2u * wav.usChannels);
            wav.data.assign(file.begin() + nBody, file.begin() + nBody + nLen);
            return true;
        }
        nPos = nBody + dwSize + (dwSize & 1);
    }
    strError = strPath + ": no audio data";
    return false;
}

bool WriteWavFile(const std::string& strPath, const WavAudio& wav)
{
    std::vector<BYTE> head;
    const DWORD dwData = DWORD(wav.data.size());
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    Put32(head, 36 + dwData);
    head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(head, 16);
    Put16(head, 1);
    Put16(head, wav.usChannels);
    Put32(head, wav.dwRate);
    Put32(head, wav.dwRate * 2 * wav.usChannels);
    Put16(head, WORD(2 * wav.usChannels));
    Put16(head, 16);
    head.insert(head.end(), {'d', 'a', 't', 'a'});
    Put32(head, dwData);
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    out.write(reinterpret_cast<const char*>(wav.data.data()), std::streamsize(wav.data.size()));
    return bool(out);
}
