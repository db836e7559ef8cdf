#include "filter/decmpeg4.h"

#include "filter/dech264.h"

#include "platform/module.h"
#include "protocol/videosize.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include <dlfcn.h>

namespace {

constexpr size_t INPUT_PADDING = 64;

// True when every video object layer header (start code 00 00 01 20..2F) in the data can be
// read and gives this size; the core resizes itself to any header it meets.
bool StreamHeadersFit(const uint8_t* pb, uint32_t dwLength, int nWidth, int nHeight)
{
    for (uint32_t i = 0; i + 3 < dwLength; ++i) {
        if (pb[i] != 0 || pb[i + 1] != 0 || pb[i + 2] != 1 || (pb[i + 3] & 0xF0) != 0x20)
            continue;
        uint32_t dwWidth = 0, dwHeight = 0;
        if (!videosize::ReadMpeg4Size(pb + i, dwLength - i, &dwWidth, &dwHeight) ||
            dwWidth != static_cast<uint32_t>(nWidth) || dwHeight != static_cast<uint32_t>(nHeight))
            return false;
    }
    return true;
}

} // namespace

std::string CDecMpeg4::CoreFileName()
{
    // The client's settings file; the module reads it itself, read-only, as it is loaded into
    // programs that do not pass settings on.
    std::ifstream file(GetProgramFolder() + "Vistrel.ini");
    auto lower = [](std::string str) {
        std::transform(str.begin(), str.end(), str.begin(), [](unsigned char c) { return std::tolower(c); });
        return str;
    };
    auto trim = [](const std::string& str) {
        const size_t nFirst = str.find_first_not_of(" \t\r");
        return nFirst == std::string::npos ? std::string()
                                           : str.substr(nFirst, str.find_last_not_of(" \t\r") - nFirst + 1);
    };
    bool bInSection = false;
    for (std::string strLine; std::getline(file, strLine);) {
        strLine = trim(strLine);
        if (strLine.empty() || strLine[0] == ';')
            continue;
        if (strLine[0] == '[') {
            bInSection = lower(strLine) == "[filter]";
            continue;
        }
        const size_t nEqual = strLine.find('=');
        if (bInSection && nEqual != std::string::npos &&
            lower(trim(strLine.substr(0, nEqual))) == "xvidcore") {
            const std::string strValue = trim(strLine.substr(nEqual + 1));
            if (!strValue.empty())
                return strValue;
        }
    }
    return std::string();
}

CDecMpeg4::CDecMpeg4() : CDecMpeg4(CoreFileName()) {}

CDecMpeg4::CDecMpeg4(const std::string& strXvidCore)
{
    if (strXvidCore.empty()) {
        m_hAvDecoder = Kw_mpeg4_dec_open();
        return;
    }
    m_hModule = dlopen(strXvidCore.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_hModule == nullptr)
        return;
    m_pfnGlobal = reinterpret_cast<XvidFunc>(dlsym(m_hModule, "xvid_global"));
    m_pfnDecore = reinterpret_cast<XvidFunc>(dlsym(m_hModule, "xvid_decore"));
    xvid_gbl_init_t init{};
    init.version = XVID_VERSION;
    m_create.version = XVID_VERSION;
    m_create.width = 0;
    m_create.height = 0;
    if (m_pfnGlobal == nullptr || m_pfnDecore == nullptr ||
        m_pfnGlobal(nullptr, XVID_GBL_INIT, &init, nullptr) < 0 ||
        m_pfnDecore(nullptr, XVID_DEC_CREATE, &m_create, nullptr) < 0 || m_create.handle == nullptr) {
        dlclose(m_hModule);
        m_hModule = nullptr;
        m_pfnGlobal = m_pfnDecore = nullptr;
        return;
    }
    m_hDecoder = m_create.handle;
}

CDecMpeg4::~CDecMpeg4()
{
    if (m_hDecoder != nullptr)
        m_pfnDecore(m_hDecoder, XVID_DEC_DESTROY, nullptr, nullptr);
    if (m_hModule != nullptr)
        dlclose(m_hModule);
    Kw_h264_dec_close(m_hAvDecoder);
}

int CDecMpeg4::Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                      int& nChromaStride)
{
    // A stream header is checked before the decoder sees it: it would resize its pictures to
    // whatever a damaged header claims. Only headers of the frame's size pass.
    if (pbData != nullptr && !StreamHeadersFit(pbData, dwLength, m_nWidth, m_nHeight))
        return 1;
    if (m_hAvDecoder != nullptr)
        return DecodeKwPicture(m_hAvDecoder, pbData, dwLength, m_bEndOfStream, m_nWidth, m_nHeight, picture,
                               nLumaStride, nChromaStride);
    return DecodeXvid(pbData, dwLength, picture, nLumaStride, nChromaStride);
}

int CDecMpeg4::DecodeXvid(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                          int& nChromaStride)
{
    if (m_hDecoder == nullptr || pbData == nullptr || dwLength == 0)
        return 1;
    m_create.width = m_nWidth;
    m_create.height = m_nHeight;
    // The core reads whole words ahead of its position: it gets a copy with zeros after the end.
    m_vecInput.assign(pbData, pbData + dwLength);
    m_vecInput.resize(static_cast<size_t>(dwLength) + INPUT_PADDING, 0);
    const uint8_t* pbInput = m_vecInput.data();
    int nRemaining = static_cast<int>(dwLength);
    for (;;) {
        m_frame = xvid_dec_frame_t{};
        m_frame.version = XVID_VERSION;
        m_frame.general = XVID_LOWDELAY;
        m_frame.bitstream = const_cast<uint8_t*>(pbInput);
        m_frame.length = nRemaining;
        // The installed core hands out no pointers to its internal planes, so it writes the
        // picture into ours, sized by the last stream header.
        m_frame.output.csp = XVID_CSP_PLANAR;
        if (!m_vecPicture.empty()) {
            const int nChroma = m_nPictureStride / 2;
            m_frame.output.plane[0] = m_vecPicture.data();
            m_frame.output.plane[1] =
                m_vecPicture.data() + static_cast<size_t>(m_nPictureStride) * m_nVolHeight;
            m_frame.output.plane[2] = static_cast<uint8_t*>(m_frame.output.plane[1]) +
                                      static_cast<size_t>(nChroma) * ((m_nVolHeight + 1) / 2);
            m_frame.output.stride[0] = m_nPictureStride;
            m_frame.output.stride[1] = m_frame.output.stride[2] = nChroma;
        } else {
            m_frame.output.csp = XVID_CSP_NULL;
        }
        xvid_dec_stats_t stats{};
        stats.version = XVID_VERSION;
        const int nUsed = m_pfnDecore(m_hDecoder, XVID_DEC_DECODE, &m_frame, &stats);
        if (nUsed < 0) {
            // A broken stream header may have resized the core without telling us: no picture
            // goes into our planes again before the next header we have seen.
            m_vecPicture.clear();
            return 1;
        }
        if (stats.type == XVID_TYPE_NOTHING)
            return 1;
        if (stats.type == XVID_TYPE_VOL) {
            // The core now writes pictures of this size: our planes always follow it, and
            // exist only while it is the frame's size.
            m_nVolWidth = stats.data.vol.width;
            m_nVolHeight = stats.data.vol.height;
            if (m_nVolWidth != m_nWidth || m_nVolHeight != m_nHeight || m_nVolWidth <= 0 ||
                m_nVolHeight <= 0) {
                m_vecPicture.clear();
                return 1;
            }
            const int nStride = (m_nVolWidth + 15) & ~15;
            const size_t nSize = static_cast<size_t>(nStride) * m_nVolHeight +
                                 2 * static_cast<size_t>(nStride / 2) * ((m_nVolHeight + 1) / 2);
            if (m_vecPicture.size() != nSize || m_nPictureStride != nStride) {
                m_nPictureStride = nStride;
                m_vecPicture.assign(nSize, 0);
            }
            // A header that consumed nothing would be seen again forever.
            if (nUsed == 0 || nUsed >= nRemaining)
                return 1;
            pbInput += nUsed;
            nRemaining -= nUsed;
            continue;
        }
        // Pictures are only handed out once a stream header of the frame's size was seen:
        // the core's planes are that size.
        if (m_nVolWidth != m_nWidth || m_nVolHeight != m_nHeight || m_frame.output.csp != XVID_CSP_PLANAR)
            return 1;
        picture.pY = static_cast<uint8_t*>(m_frame.output.plane[0]);
        picture.pU = static_cast<uint8_t*>(m_frame.output.plane[1]);
        picture.pV = static_cast<uint8_t*>(m_frame.output.plane[2]);
        nLumaStride = m_frame.output.stride[0];
        nChromaStride = m_frame.output.stride[1];
        return 0;
    }
}
