// Camera audio as the player decodes it: any bytes, through every codec and variant, into an
// output buffer of exactly the capacity given, so a write past it is caught.
#include "media/audio/acodecgsmavi.h"
#include "media/audio/audiocodec.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 3)
        return 0;
    static const BYTE kIds[] = {AUDIO_CODEC_GSM, AUDIO_CODEC_G729, AUDIO_CODEC_G723, AUDIO_CODEC_G711};
    const BYTE bId = kIds[pData[0] % 4];
    const BYTE bVariant = pData[1] % 5;
    const int nCap = (pData[2] << 6) % 40000;
    const int nIn = int(nSize - 3);
    auto pIn = std::make_unique<BYTE[]>(std::size_t(nIn) + 1);
    std::memcpy(pIn.get(), pData + 3, std::size_t(nIn));
    auto pOut = std::make_unique<BYTE[]>(std::size_t(nCap) + 1);

    std::unique_ptr<CAudioCodec> pCodec = CreateAudioCodec(bId);
    if (pCodec && pCodec->Open(bVariant, 16, CAudioCodec::DIRECTION_DECODE)) {
        const int n = pCodec->Decode(pIn.get(), pOut.get(), nIn, nCap);
        if (n < 0 || n > nCap)
            __builtin_trap();
        // The same bytes as PCM through the encoder.
        const int m = pCodec->Encode(pIn.get(), pOut.get(), nIn, nCap);
        if (m < 0 || m > nCap)
            __builtin_trap();
    }
    CACodecGSMAVI avi;
    const int n = avi.Decode(pIn.get(), nIn, pOut.get(), nCap);
    if (n < 0 || n > nCap || n % CACodecGSMAVI::PCM_FRAME != 0)
        __builtin_trap();
    return 0;
}
