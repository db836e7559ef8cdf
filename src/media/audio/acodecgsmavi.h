// GSM 06.10 decoder for the audio of downloaded recordings: 33-byte frames in, 320 bytes of
// 16-bit little-endian PCM (160 samples at 8000 Hz) out, with its own state.
#pragma once

#include "platform/wintypes.h"

struct gsm_state;

class CACodecGSMAVI {
public:
    static constexpr int CODED_FRAME = 33;
    static constexpr int PCM_FRAME = 320;

    CACodecGSMAVI();
    ~CACodecGSMAVI();
    CACodecGSMAVI(const CACodecGSMAVI&) = delete;
    CACodecGSMAVI& operator=(const CACodecGSMAVI&) = delete;

    // Decodes the whole 33-byte frames of pIn, stopping before a frame whose 320 bytes would
    // pass nOutCap; a partial trailing frame is ignored. Returns the PCM bytes written.
    int Decode(const BYTE* pIn, int nInBytes, BYTE* pOut, int nOutCap);

private:
    gsm_state* m_pState = nullptr;
};
