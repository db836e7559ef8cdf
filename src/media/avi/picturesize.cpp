#include "media/avi/picturesize.h"

#include <cstdint>
#include <vector>

namespace {

// Exp-Golomb reader over an emulation-free copy of the NAL; reads past the end give zero bits
// and set the overrun flag.
class CBitReader {
public:
    CBitReader(const BYTE* pData, std::size_t nLen) : m_pData(pData), m_nBits(nLen * 8) {}
    DWORD Bit()
    {
        if (m_nPos >= m_nBits) {
            m_bOverrun = true;
            return 0;
        }
        const DWORD b = (m_pData[m_nPos >> 3] >> (7 - (m_nPos & 7))) & 1;
        ++m_nPos;
        return b;
    }
    DWORD Bits(int n)
    {
        DWORD v = 0;
        while (n-- > 0)
            v = (v << 1) | Bit();
        return v;
    }
    DWORD Ue()
    {
        int nZeros = 0;
        while (Bit() == 0) {
            if (m_bOverrun || ++nZeros > 31) {
                m_bOverrun = true;
                return 0;
            }
        }
        return ((1u << nZeros) - 1) + Bits(nZeros);
    }
    std::int32_t Se()
    {
        const DWORD v = Ue();
        return (v & 1) ? static_cast<std::int32_t>((v + 1) / 2) : -static_cast<std::int32_t>(v / 2);
    }
    bool Overrun() const { return m_bOverrun; }

private:
    const BYTE* m_pData;
    std::size_t m_nBits;
    std::size_t m_nPos = 0;
    bool m_bOverrun = false;
};

void SkipScalingList(CBitReader& reader, int nSize)
{
    std::int32_t nLast = 8;
    std::int32_t nNext = 8;
    for (int i = 0; i < nSize; ++i) {
        if (nNext != 0)
            nNext = (nLast + reader.Se() + 256) % 256;
        nLast = nNext == 0 ? nLast : nNext;
    }
}

} // namespace

bool GetH264PictureSize(const BYTE* pData, DWORD dwLen, int& nWidth, int& nHeight)
{
    std::size_t nPos;
    if (dwLen >= 5 && pData[0] == 0 && pData[1] == 0 && pData[2] == 0 && pData[3] == 1)
        nPos = 4;
    else if (dwLen >= 4 && pData[0] == 0 && pData[1] == 0 && pData[2] == 1)
        nPos = 3;
    else
        return false;
    if ((pData[nPos] & 0x1F) != 7)
        return false;
    ++nPos;
    // The parameter set is a few dozen bytes; stop at the next start code and drop the
    // emulation prevention bytes.
    std::vector<BYTE> vecRbsp;
    vecRbsp.reserve(64);
    int nZeros = 0;
    for (; nPos < dwLen && vecRbsp.size() < 512; ++nPos) {
        const BYTE by = pData[nPos];
        if (nZeros >= 2 && by == 3) {
            nZeros = 0;
            continue;
        }
        if (nZeros >= 2 && by <= 1)
            break;
        nZeros = by == 0 ? nZeros + 1 : 0;
        vecRbsp.push_back(by);
    }
    CBitReader reader(vecRbsp.data(), vecRbsp.size());
    const DWORD dwProfile = reader.Bits(8);
    reader.Bits(16); // constraint flags, level
    reader.Ue();     // seq_parameter_set_id
    // The high profiles carry chroma and scaling fields before the frame numbering.
    if (dwProfile == 100 || dwProfile == 110 || dwProfile == 122 || dwProfile == 244 || dwProfile == 44 ||
        dwProfile == 83 || dwProfile == 86 || dwProfile == 118 || dwProfile == 128 || dwProfile == 138 ||
        dwProfile == 139 || dwProfile == 134 || dwProfile == 135) {
        const DWORD dwChroma = reader.Ue();
        if (dwChroma == 3)
            reader.Bit();
        reader.Ue(); // bit depth luma
        reader.Ue(); // bit depth chroma
        reader.Bit();
        if (reader.Bit()) {
            const int nLists = dwChroma == 3 ? 12 : 8;
            for (int i = 0; i < nLists; ++i)
                if (reader.Bit())
                    SkipScalingList(reader, i < 6 ? 16 : 64);
        }
    }
    reader.Ue(); // log2_max_frame_num_minus4
    const DWORD dwPocType = reader.Ue();
    if (dwPocType == 0) {
        reader.Ue();
    } else if (dwPocType == 1) {
        reader.Bit();
        reader.Se();
        reader.Se();
        const DWORD dwCount = reader.Ue();
        if (dwCount > 255)
            return false;
        for (DWORD i = 0; i < dwCount; ++i)
            reader.Se();
    }
    reader.Ue(); // max_num_ref_frames
    reader.Bit();
    const DWORD dwWidthMbs = reader.Ue();
    const DWORD dwHeightMaps = reader.Ue();
    if (reader.Overrun() || dwWidthMbs > 1023 || dwHeightMaps > 1023)
        return false;
    nWidth = static_cast<int>(dwWidthMbs + 1) * 16;
    nHeight = static_cast<int>(dwHeightMaps + 1) * 16;
    return true;
}

bool GetMpeg4PictureSize(const BYTE* pData, DWORD dwLen, int& nWidth, int& nHeight)
{
    auto bits = [pData](int nOffset, int nCount) {
        DWORD v = 0;
        for (int i = 0; i < nCount; ++i) {
            const int nBit = nOffset + i;
            v = (v << 1) | ((pData[nBit >> 3] >> (7 - (nBit & 7))) & 1);
        }
        return v;
    };
    // The time resolution sits at bit 169; its width n places the size fields behind it.
    if (dwLen < 24)
        return false;
    const DWORD dwResolution = bits(169, 16);
    int n = 16;
    for (DWORD v = 65535; v > dwResolution; v >>= 1)
        --n;
    if (n < 9 || n > 14)
        return false;
    if (static_cast<DWORD>((203 + n + 13 + 7) / 8) > dwLen)
        return false;
    nWidth = static_cast<int>(bits(189 + n, 13));
    nHeight = static_cast<int>(bits(203 + n, 13));
    return true;
}
