// CRC-32 (IEEE 802.3, as zlib and PNG compute it) and the check value of online commands.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t ONLINE_COMMAND_PARAMS = 5;
// Marker, kind, two zero bytes, the code and the five parameters.
constexpr std::size_t ONLINE_COMMAND_CHECKED_LEN = 28;
constexpr std::uint8_t ONLINE_COMMAND_MARKER = 0x50;
constexpr std::uint8_t ONLINE_COMMAND_KIND_REQUEST = 2;

std::uint32_t Crc32(const void* pData, std::size_t nLen);

// Check value of an online command request: the CRC-32 of the 28 checked bytes rendered with
// the code and every parameter least significant byte first, although they travel big-endian.
// Cameras compute it over that rendering, so it must be reproduced exactly.
std::uint32_t OnlineCommandCheckValue(std::uint32_t dwCode,
                                      const std::uint32_t (&adwParam)[ONLINE_COMMAND_PARAMS]);

// The same from the 28 checked bytes as they travel (big-endian fields), for the receiving end.
// Reads exactly ONLINE_COMMAND_CHECKED_LEN bytes.
std::uint32_t OnlineCommandCheckValueOfWire(const std::uint8_t* pbWire);
