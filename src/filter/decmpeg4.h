// MPEG-4 Part 2 back-end. It decodes on libavcodec's decoder unless the settings name an Xvid
// core, which is then loaded when the back-end is created; without that core the back-end stays
// unusable and the filter shows nothing, without an error. The Xvid core is not the default: it
// keeps state from damaged samples that no check of the next sample can see, and crashed on
// such a sequence.
#pragma once

#include "filter/decbase.h"
#include "filter/kw264dec.h"

#include <string>
#include <vector>
#include <xvid.h>

class CDecMpeg4 : public CDecBase {
public:
    // The decoder the settings choose.
    CDecMpeg4();
    // The Xvid core of this file name, or libavcodec's decoder when the name is empty.
    explicit CDecMpeg4(const std::string& strXvidCore);
    ~CDecMpeg4() override;

    bool IsUsable() const override { return m_hDecoder != nullptr || m_hAvDecoder != nullptr; }
    bool UsesXvidCore() const { return m_hDecoder != nullptr; }
    int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
               int& nChromaStride) override;
    // The Xvid core writes every picture into the same planes of ours: it gives no hold.
    std::shared_ptr<const void> HoldPicture() override { return Kw_dec_hold_picture(m_hAvDecoder); }

    // The Xvid core's file name: "xvidcore" of section [FILTER] in the program folder's
    // Vistrel.ini (for the installed one, "libxvidcore.so.4"); empty when none is named.
    static std::string CoreFileName();

private:
    int DecodeXvid(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                   int& nChromaStride);

    KwHandle m_hAvDecoder = nullptr;
    using XvidFunc = int (*)(void*, int, void*, void*);
    void* m_hModule = nullptr;
    XvidFunc m_pfnGlobal = nullptr;
    XvidFunc m_pfnDecore = nullptr;
    void* m_hDecoder = nullptr;
    xvid_dec_create_t m_create{};
    xvid_dec_frame_t m_frame{};
    int m_nVolWidth = 0;
    int m_nVolHeight = 0;
    int m_nPictureStride = 0;
    std::vector<uint8_t> m_vecPicture;
    std::vector<uint8_t> m_vecInput;
};
