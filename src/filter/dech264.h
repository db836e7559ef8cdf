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
    std::shared_ptr<const void> HoldPicture() override { return Kw_dec_hold_picture(m_hDecoder); }

private:
    KwHandle m_hDecoder = nullptr;
};

// One sample through a decoder of the Kw call shape, for the back-ends built on it: 0 with a
// picture at least nWidth x nHeight, 1 without one. With bEndOfStream and no picture from the
// sample, the next held-back picture is asked for.
int DecodeKwPicture(KwHandle hDecoder, const uint8_t* pbData, uint32_t dwLength, bool bEndOfStream,
                    int nWidth, int nHeight, FrameBuffer& picture, int& nLumaStride, int& nChromaStride);
