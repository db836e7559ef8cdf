// The filter's sample pipeline fed arbitrary samples: stamp header, H.264 or MPEG-4 decoding,
// post-processing and conversion, with decoders that live across inputs as in a stream. The
// first byte picks the back-end, stamping, colour, orientation and output format. The overlays
// the stamp's texts become have a target of their own (fuzz_overlay): a line of text costs more
// than a small picture, and with both here a grown corpus ran mostly text, at a tenth the speed.
#include "filter/dech264.h"
#include "filter/decmpeg4.h"
#include "filter/kw264dec.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int WIDTH = 64, HEIGHT = 48;

// Two back-ends for each of four colour settings, so that the colour tables are built once.
struct Pipeline {
    std::unique_ptr<CDecBase> pBackEnds[8];
    std::vector<uint8_t> vecOut = std::vector<uint8_t>(WIDTH * HEIGHT * 4);

    Pipeline()
    {
        av_log_set_level(AV_LOG_QUIET);
        // Pictures larger than the frame are only cropped, and libavcodec keeps up to 36 of them
        // per decoder: large claimed sizes took this target's decoders past 2 GiB.
        Kw_dec_limit_pixels(256 * 256);
        static const int8_t colours[4][4] = {{0, 0, 0, 0}, {40, 0, 0, 0}, {0, 30, 0, -20}, {-8, 10, 20, 30}};
        for (int i = 0; i < 8; ++i) {
            if (i % 2 == 0)
                pBackEnds[i] = std::make_unique<CDecH264>();
            else
                pBackEnds[i] = std::make_unique<CDecMpeg4>();
            pBackEnds[i]->SetFrameSize(WIDTH, HEIGHT);
            const int8_t* pColour = colours[i / 2];
            pBackEnds[i]->SetColorAdjust(pColour[0], pColour[1], pColour[2], pColour[3]);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static Pipeline pipeline;
    if (nSize < 1)
        return 0;
    const uint8_t bySelect = pData[0];
    static const uint32_t codes[] = {CSP_I420, CSP_YV12, CSP_YUY2,   CSP_UYVY,
                                     CSP_BGRA, CSP_BGR,  CSP_RGB555, CSP_RGB565};
    static const int bytes[] = {1, 1, 2, 2, 4, 3, 2, 2};
    // Bit 0 MPEG-4, bit 1 stamped, bits 2-3 colour, bits 4-6 output code, bit 7 flip and mirror.
    CDecBase& backEnd = *pipeline.pBackEnds[(bySelect & 1) | ((bySelect >> 1) & 6)];
    const int nCode = (bySelect >> 4) & 7;
    backEnd.SetOutput(codes[nCode], (bySelect & 0x80) != 0, WIDTH * bytes[nCode]);
    backEnd.SetMirror((bySelect >> 7) & 1);
    backEnd.SetRotate((bySelect >> 6) & 1);
    backEnd.SetEndOfStream(nSize == 1);
    // An exact-size copy so that any read past the sample is caught.
    auto pSample = std::make_unique<uint8_t[]>(nSize);
    std::memcpy(pSample.get(), pData + 1, nSize - 1);
    backEnd.Process(false, pSample.get(), static_cast<uint32_t>(nSize - 1), (bySelect & 2) != 0,
                    pipeline.vecOut.data(), static_cast<uint32_t>(pipeline.vecOut.size()));
    return 0;
}
