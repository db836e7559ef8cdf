// H.264 back-end.
#pragma once

#include "filter/decbase.h"
#include "filter/kw264dec.h"

class CDecH264 : public CDecBase {
public:
    CDecH264();
    ~CDecH264() override;

    bool IsUsable() const override { return m_hDecoder != nullptr; }
    int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
               int& nChromaStride) override;

private:
    KwHandle m_hDecoder = nullptr;
};
