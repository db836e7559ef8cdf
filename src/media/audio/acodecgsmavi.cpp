#include "media/audio/acodecgsmavi.h"

#include "media/audio/pcm16.h"

#include <gsm.h>

CACodecGSMAVI::CACodecGSMAVI() : m_pState(gsm_create()) {}

CACodecGSMAVI::~CACodecGSMAVI()
{
    if (m_pState)
        gsm_destroy(m_pState);
}

int CACodecGSMAVI::Decode(const BYTE* pIn, int nInBytes, BYTE* pOut, int nOutCap)
{
    if (!m_pState || !pIn || !pOut)
        return 0;
    int nOut = 0;
    gsm_signal asSamples[160];
    for (int i = 0; (i + 1) * CODED_FRAME <= nInBytes && nOut + PCM_FRAME <= nOutCap; ++i) {
        // libgsm takes a non-const frame but does not write to it. A frame without the GSM
        // signature nibble is not speech: it becomes silence and keeps the timing.
        if (gsm_decode(m_pState, const_cast<gsm_byte*>(pIn + i * CODED_FRAME), asSamples) != 0) {
            for (gsm_signal& s : asSamples)
                s = 0;
        }
        for (gsm_signal s : asSamples) {
            WritePcm16(pOut + nOut, s);
            nOut += 2;
        }
    }
    return nOut;
}
