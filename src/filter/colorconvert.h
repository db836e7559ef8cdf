// Pixel converters from the decoder's planar 4:2:0 picture to the filter's output formats.
//
// The output codes and the arithmetic are the Xvid core's: BT.601 limited range through
// 13-bit fixed-point tables, error diffusion for 15- and 16-bit RGB. Fast variants are picked
// once per process from what the processor offers; they give the same bytes as the plain ones.
#pragma once

#include <cstdint>

constexpr uint32_t CSP_I420 = 2;
constexpr uint32_t CSP_YV12 = 4;
constexpr uint32_t CSP_YUY2 = 8;
constexpr uint32_t CSP_UYVY = 16;
constexpr uint32_t CSP_YVYU = 32;
constexpr uint32_t CSP_BGRA = 64;
constexpr uint32_t CSP_ABGR = 128;
constexpr uint32_t CSP_RGBA = 256;
constexpr uint32_t CSP_BGR = 512;
constexpr uint32_t CSP_RGB555 = 1024;
constexpr uint32_t CSP_RGB565 = 2048;
constexpr uint32_t CSP_ARGB = 0x8000;
constexpr uint32_t CSP_VFLIP = 0x80000000u;

// One planar 4:2:0 picture; the chroma planes have half the luma stride.
struct FrameBuffer {
    uint8_t* pY = nullptr;
    uint8_t* pU = nullptr;
    uint8_t* pV = nullptr;
    int nStride = 0;
    int nHeight = 0;
};

// Writes the picture into pOut. nOutStride counts pixels for the planar codes (2, 4) and bytes
// otherwise. Returns 0, or -1 for an unknown code, a non-positive size or an output stride too
// small for one row (nothing is written then).
int ConvertImage(const FrameBuffer& frame, int nWidth, int nHeight, uint8_t* pOut, int nOutStride,
                 uint32_t dwCode);

// Which fast variant the converters use: "avx2", "sse2" or "plain".
const char* ConverterVariant();

// Forces the plain routines (true) or the start-up choice (false); for tests and benchmarks.
void ForcePlainConverters(bool bPlain);
