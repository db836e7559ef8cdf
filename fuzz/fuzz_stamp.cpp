// The stamp header parser on arbitrary samples, twice on one parser so that kept captions and
// formats from the first sample meet the second.
#include "filter/mediadataparse.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CMediaDataParse parse;
    const size_t nFirst = nSize / 2;
    // Exact-size heap copies: a read past either sample is caught.
    auto pA = std::make_unique<uint8_t[]>(nFirst + 1);
    auto pB = std::make_unique<uint8_t[]>(nSize - nFirst + 1);
    std::memcpy(pA.get(), pData, nFirst);
    std::memcpy(pB.get(), pData + nFirst, nSize - nFirst);
    for (auto [pSample, nLength] : {std::pair{pA.get(), nFirst}, std::pair{pB.get(), nSize - nFirst}}) {
        if (parse.Parse(pSample, static_cast<uint32_t>(nLength))) {
            const StampRecord& record = parse.Record();
            if (record.pbPayload < pSample || record.pbPayload + record.dwPayloadLength != pSample + nLength)
                __builtin_trap();
            if (record.szTime[MAX_TIME_TEXT - 1] != 0 || record.szCaption[MAX_CAPTION_TEXT - 1] != 0)
                __builtin_trap();
        }
    }
    return 0;
}
