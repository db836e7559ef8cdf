// 16-bit little-endian PCM to and from native samples, independent of the host's byte order.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>

inline std::int16_t ReadPcm16(const BYTE* p)
{
    return std::int16_t(WORD(p[0] | (p[1] << 8)));
}

inline void WritePcm16(BYTE* p, std::int16_t s)
{
    p[0] = BYTE(WORD(s) & 0xFF);
    p[1] = BYTE(WORD(s) >> 8);
}
