// Cipher of the viewer protocol's encrypted variant.
//
// Applies to a whole datagram in place: the magic byte (offset 0) stays in clear; of the span
// after it, the first min(span / 8, 6) 8-byte blocks go through DES-ECB under the protocol
// key and every byte after them is XORed with 0x37. Lengths below 2 and a null buffer are
// left alone.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t PACKET_CIPHER_MAX_BLOCKS = 6;
constexpr std::uint8_t PACKET_CIPHER_XOR = 0x37;

void EncryptPacket(std::uint8_t* pbData, std::size_t nLen);
void DecryptPacket(std::uint8_t* pbData, std::size_t nLen);

// The same under another 8-byte key, for a peer that does not share the protocol key.
void EncryptPacket(std::uint8_t* pbData, std::size_t nLen, const std::uint8_t* pbKey);
void DecryptPacket(std::uint8_t* pbData, std::size_t nLen, const std::uint8_t* pbKey);
