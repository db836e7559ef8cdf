#include "filter/decmpeg4.h"

#include <cstdlib>
#include <dlfcn.h>

std::string CDecMpeg4::CoreFileName()
{
    const char* pszName = std::getenv("VISTREL_XVIDCORE");
    return pszName != nullptr && *pszName != '\0' ? pszName : "libxvidcore.so.4";
}

CDecMpeg4::CDecMpeg4()
{
    m_hModule = dlopen(CoreFileName().c_str(), RTLD_NOW | RTLD_LOCAL);
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
}

int CDecMpeg4::Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                      int& nChromaStride)
{
    if (m_hDecoder == nullptr || pbData == nullptr || dwLength == 0)
        return 1;
    m_create.width = m_nWidth;
    m_create.height = m_nHeight;
    const uint8_t* pbInput = pbData;
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
        if (nUsed < 0 || stats.type == XVID_TYPE_NOTHING)
            return 1;
        if (stats.type == XVID_TYPE_VOL) {
            if (stats.data.vol.width != m_nWidth || stats.data.vol.height != m_nHeight)
                return 1;
            if (stats.data.vol.width != m_nVolWidth || stats.data.vol.height != m_nVolHeight ||
                m_vecPicture.empty()) {
                m_nVolWidth = stats.data.vol.width;
                m_nVolHeight = stats.data.vol.height;
                m_nPictureStride = (m_nVolWidth + 15) & ~15;
                m_vecPicture.assign(static_cast<size_t>(m_nPictureStride) * m_nVolHeight +
                                        2 * static_cast<size_t>(m_nPictureStride / 2) *
                                            ((m_nVolHeight + 1) / 2),
                                    0);
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
