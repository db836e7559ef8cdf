// H.264 decoding library with the call shape the filter was designed around: open, decode a
// record, close. Decode consumes the input it is given and hands back at most one picture;
// with empty input it returns the pictures the decoder still holds back, one per call.
#pragma once

#include <cstdint>
#include <memory>

struct KwDecodeRecord {
    const uint8_t* pbInput = nullptr; // advanced by the library as it consumes
    uint32_t dwInputLength = 0;
    uint32_t dwWidth = 0;  // of the returned picture (filled by the library)
    uint32_t dwHeight = 0; // likewise
    int32_t nStride = 0;   // luma; chroma has half of it
    uint8_t* pY = nullptr; // null while no picture is ready
    uint8_t* pU = nullptr;
    uint8_t* pV = nullptr;
};

using KwHandle = struct KwDecoder*;

// The largest picture a decoder accepts, in pixels (4096 by 2304): well above the 1080p our
// cameras send. libavcodec counts its padded planes, which for a small MPEG-4 picture are
// several times its area.
inline constexpr int64_t KW_DEFAULT_MAX_PIXELS = 4096 * 2304;
// Decoders opened after the call refuse pictures larger than this (0: the default), as a
// process that only ever shows small pictures may want.
void Kw_dec_limit_pixels(int64_t nPixels);

// Null when the decoder cannot be created.
KwHandle Kw_h264_dec_open();
// The same call shape over libavcodec's MPEG-4 Part 2 decoder.
KwHandle Kw_mpeg4_dec_open();
// Negative on a decoding error; 0 otherwise, with pY set when a picture came out. The picture
// stays valid until the next call on the handle.
int Kw_h264_dec_decode(KwHandle hDecoder, KwDecodeRecord* pRecord);
void Kw_h264_dec_close(KwHandle hDecoder);
// A hold on the picture the last decode call handed out: while it is kept, the planes stay valid
// and unchanged, whatever the handle decodes next or whether it is closed. Null without one.
std::shared_ptr<const void> Kw_dec_hold_picture(KwHandle hDecoder);
// The threads the decoder uses now: libavcodec's own for a single large H.264 picture (the only
// decoder open in the process, chosen at each key frame), else 1.
int Kw_dec_threads(KwHandle hDecoder);
