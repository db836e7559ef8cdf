// Firmware image ("8126.Img"): a 64-byte header and a payload.
//
//   offset size
//   0      8    magic "VSTRLIMG"
//   8      4    header format, 1 (big-endian, as every field here)
//   12     4    header length, 64
//   16     32   version text, printable ASCII, zero-padded (not zero-ended when 32 long)
//   48     4    payload length
//   52     4    CRC-32 of the payload
//   56     4    CRC-32 of header bytes 0..55
//   60     4    zero
//   64     n    payload
//
// An image is valid when the magic, format, header length and header CRC match, the file is
// exactly 64 + payload length bytes and the payload CRC matches.
#pragma once

#include <cstdint>
#include <string>

#include "wire.h"

namespace camsim {

constexpr std::size_t IMAGE_HEADER_LEN = 64;
constexpr std::size_t IMAGE_VERSION_LEN = 32;

// nTotalSize is the whole file, header included (at least 64 bytes); the payload is
// pseudo-random from the seed so that two images of one version still differ.
bool MakeFirmwareImage(const std::string& strVersion, std::size_t nTotalSize, std::uint32_t dwSeed,
                       Bytes& out, std::string& strError);
// Checks an image; on success gives its version text.
bool CheckFirmwareImage(const Bytes& image, std::string& strVersion, std::string& strError);

} // namespace camsim
