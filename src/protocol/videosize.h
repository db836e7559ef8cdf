// Picture size from the codec headers at the start of a key frame: the H.264 sequence
// parameter set and the MPEG-4 Part 2 video object layer. Shared by the media engine, the
// video pane and the decoder filter module, so it depends on the standard library only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace videosize {

// Reads the first sequence parameter set found in an Annex B byte stream (start codes of
// three or four bytes). True with the displayed size (frame cropping applied, field coding
// counted); false, leaving the outputs alone, when there is none or it is cut short.
bool ReadH264Size(const std::uint8_t* pData, std::size_t nLen, std::uint32_t* pnWidth,
                  std::uint32_t* pnHeight);

// Reads the first video object layer header found (start code 00 00 01 2x). True with its
// rectangular size; false, leaving the outputs alone, otherwise.
bool ReadMpeg4Size(const std::uint8_t* pData, std::size_t nLen, std::uint32_t* pnWidth,
                   std::uint32_t* pnHeight);

} // namespace videosize
