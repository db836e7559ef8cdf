#include "protocol/videosize.h"

#include <algorithm>
#include <array>

namespace videosize {
namespace {

// Most-significant-bit-first reader; every read past the end sets the failure mark and
// yields 0, so a parser checks once at the end.
class BitReader {
public:
    BitReader(const std::uint8_t* pData, std::size_t nLen) : m_pData(pData), m_nBits(nLen * 8) {}

    std::uint32_t Bits(int n)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (m_nPos >= m_nBits) {
                m_bFailed = true;
                return 0;
            }
            v = (v << 1) | ((m_pData[m_nPos >> 3] >> (7 - (m_nPos & 7))) & 1);
            ++m_nPos;
        }
        return v;
    }
    std::uint32_t Ue()
    {
        int nZeros = 0;
        while (Bits(1) == 0) {
            if (m_bFailed || ++nZeros > 31) {
                m_bFailed = true;
                return 0;
            }
        }
        return ((1u << nZeros) - 1) + Bits(nZeros);
    }
    std::int32_t Se()
    {
        const std::uint32_t k = Ue();
        return (k & 1) ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
    }
    bool Failed() const { return m_bFailed; }

private:
    const std::uint8_t* m_pData;
    std::size_t m_nBits;
    std::size_t m_nPos = 0;
    bool m_bFailed = false;
};

// Offset of the byte after the next 00 00 01 at or after nFrom, or nLen.
std::size_t NextStartCode(const std::uint8_t* p, std::size_t nLen, std::size_t nFrom)
{
    for (std::size_t i = nFrom; i + 3 <= nLen; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1)
            return i + 3;
    }
    return nLen;
}

bool IsHighProfile(std::uint32_t uProfile)
{
    switch (uProfile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

void SkipScalingList(BitReader& br, int nSize)
{
    std::int32_t nLast = 8;
    std::int32_t nNext = 8;
    for (int j = 0; j < nSize; ++j) {
        if (nNext != 0)
            nNext = (nLast + br.Se() + 256) % 256;
        nLast = nNext == 0 ? nLast : nNext;
        if (br.Failed())
            return;
    }
}

bool ParseSps(const std::uint8_t* pRbsp, std::size_t nLen, std::uint32_t* pnWidth, std::uint32_t* pnHeight)
{
    BitReader br(pRbsp, nLen);
    const std::uint32_t uProfile = br.Bits(8);
    br.Bits(16); // constraint flags, level_idc
    br.Ue();     // seq_parameter_set_id
    std::uint32_t uChromaFormat = 1;
    std::uint32_t uSeparatePlanes = 0;
    if (IsHighProfile(uProfile)) {
        uChromaFormat = br.Ue();
        if (uChromaFormat > 3)
            return false;
        if (uChromaFormat == 3)
            uSeparatePlanes = br.Bits(1);
        br.Ue();          // bit_depth_luma_minus8
        br.Ue();          // bit_depth_chroma_minus8
        br.Bits(1);       // qpprime_y_zero_transform_bypass_flag
        if (br.Bits(1)) { // seq_scaling_matrix_present_flag
            const int nLists = uChromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < nLists && !br.Failed(); ++i) {
                if (br.Bits(1))
                    SkipScalingList(br, i < 6 ? 16 : 64);
            }
        }
    }
    br.Ue(); // log2_max_frame_num_minus4
    const std::uint32_t uPocType = br.Ue();
    if (uPocType == 0) {
        br.Ue();
    } else if (uPocType == 1) {
        br.Bits(1);
        br.Se();
        br.Se();
        const std::uint32_t nCycle = br.Ue();
        if (nCycle > 255)
            return false;
        for (std::uint32_t i = 0; i < nCycle && !br.Failed(); ++i)
            br.Se();
    }
    br.Ue();    // max_num_ref_frames
    br.Bits(1); // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t uWidthMbs = br.Ue() + 1;
    const std::uint32_t uHeightMapUnits = br.Ue() + 1;
    const std::uint32_t uFrameMbsOnly = br.Bits(1);
    if (!uFrameMbsOnly)
        br.Bits(1); // mb_adaptive_frame_field_flag
    br.Bits(1);     // direct_8x8_inference_flag
    std::uint32_t aCrop[4] = {};
    if (br.Bits(1)) {
        for (std::uint32_t& u : aCrop)
            u = br.Ue();
    }
    if (br.Failed() || uWidthMbs > 1024 || uHeightMapUnits > 1024)
        return false;
    const std::uint32_t uWidth = uWidthMbs * 16;
    const std::uint32_t uHeight = (2 - uFrameMbsOnly) * uHeightMapUnits * 16;
    const std::uint32_t uChromaArray = uSeparatePlanes ? 0 : uChromaFormat;
    const std::uint32_t uCropX = uChromaArray == 1 || uChromaArray == 2 ? 2 : 1;
    const std::uint32_t uCropY = (uChromaArray == 1 ? 2 : 1) * (2 - uFrameMbsOnly);
    const std::uint64_t qwCropW = std::uint64_t{uCropX} * (std::uint64_t{aCrop[0]} + aCrop[1]);
    const std::uint64_t qwCropH = std::uint64_t{uCropY} * (std::uint64_t{aCrop[2]} + aCrop[3]);
    if (qwCropW >= uWidth || qwCropH >= uHeight)
        return false;
    *pnWidth = uWidth - static_cast<std::uint32_t>(qwCropW);
    *pnHeight = uHeight - static_cast<std::uint32_t>(qwCropH);
    return true;
}

} // namespace

bool ReadH264Size(const std::uint8_t* pData, std::size_t nLen, std::uint32_t* pnWidth,
                  std::uint32_t* pnHeight)
{
    if (pData == nullptr)
        return false;
    for (std::size_t nPos = NextStartCode(pData, nLen, 0); nPos < nLen;
         nPos = NextStartCode(pData, nLen, nPos)) {
        if ((pData[nPos] & 0x1F) != 7)
            continue;
        // The parameter set without emulation-prevention bytes; every field that matters
        // fits well inside this much.
        std::array<std::uint8_t, 512> rbsp{};
        std::size_t nOut = 0;
        int nZeros = 0;
        for (std::size_t i = nPos + 1; i < nLen && nOut < rbsp.size(); ++i) {
            if (nZeros >= 2 && pData[i] == 3) {
                nZeros = 0;
                continue;
            }
            if (nZeros >= 2 && pData[i] <= 1) // the next start code
                break;
            nZeros = pData[i] == 0 ? nZeros + 1 : 0;
            rbsp[nOut++] = pData[i];
        }
        return ParseSps(rbsp.data(), nOut, pnWidth, pnHeight);
    }
    return false;
}

bool ReadMpeg4Size(const std::uint8_t* pData, std::size_t nLen, std::uint32_t* pnWidth,
                   std::uint32_t* pnHeight)
{
    if (pData == nullptr)
        return false;
    std::size_t nPos = NextStartCode(pData, nLen, 0);
    while (nPos < nLen && (pData[nPos] & 0xF0) != 0x20)
        nPos = NextStartCode(pData, nLen, nPos);
    if (nPos >= nLen)
        return false;
    BitReader br(pData + nPos + 1, nLen - nPos - 1);
    br.Bits(1); // random_accessible_vol
    br.Bits(8); // video_object_type_indication
    std::uint32_t uVerID = 1;
    if (br.Bits(1)) { // is_object_layer_identifier
        uVerID = br.Bits(4);
        br.Bits(3);
    }
    if (br.Bits(4) == 15) // aspect_ratio_info: extended PAR
        br.Bits(16);
    if (br.Bits(1)) { // vol_control_parameters
        br.Bits(3);   // chroma_format, low_delay
        if (br.Bits(1))
            br.Bits(79); // vbv parameters with their markers
    }
    const std::uint32_t uShape = br.Bits(2);
    if (uShape == 3 && uVerID != 1)
        br.Bits(4);
    br.Bits(1);
    const std::uint32_t uResolution = br.Bits(16);
    br.Bits(1);
    if (br.Bits(1)) { // fixed_vop_rate: an increment of as many bits as the resolution needs
        int nBits = 1;
        while (nBits < 16 && (1u << nBits) < uResolution)
            ++nBits;
        br.Bits(nBits);
    }
    if (uShape != 0)
        return false;
    br.Bits(1);
    const std::uint32_t uWidth = br.Bits(13);
    br.Bits(1);
    const std::uint32_t uHeight = br.Bits(13);
    if (br.Failed() || uResolution == 0 || uWidth == 0 || uHeight == 0)
        return false;
    *pnWidth = uWidth;
    *pnHeight = uHeight;
    return true;
}

} // namespace videosize
