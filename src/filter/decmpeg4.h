// MPEG-4 Part 2 back-end on the Xvid core, loaded when the back-end is created. Without the
// core the back-end stays unusable and the filter shows nothing, without an error.
#pragma once

#include "filter/decbase.h"

#include <string>
#include <vector>
#include <xvid.h>

class CDecMpeg4 : public CDecBase {
public:
    CDecMpeg4();
    ~CDecMpeg4() override;

    bool IsUsable() const override { return m_hDecoder != nullptr; }
    int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
               int& nChromaStride) override;

    // The core's file name: "xvidcore" of section [FILTER] in the program folder's
    // Vistrel.ini when given, else "libxvidcore.so.4".
    static std::string CoreFileName();

private:
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
