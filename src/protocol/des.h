// Single DES (ECB, 8-byte blocks) for the password, token and packet ciphers.
//
// Any 8 bytes are a usable key: the parity bits are ignored, and weak keys are accepted
// (a camera without a password derives its token from the all-zero key).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t DES_BLOCK_LEN = 8;

class CDesKeySchedule {
public:
    CDesKeySchedule() = default;
    explicit CDesKeySchedule(const std::uint8_t* pbKey) { SetKey(pbKey); }

    // Schedules an 8-byte key for both directions.
    void SetKey(const std::uint8_t* pbKey);

    // One 8-byte block; pbIn and pbOut may be the same buffer.
    void EncryptBlock(const std::uint8_t* pbIn, std::uint8_t* pbOut) const;
    void DecryptBlock(const std::uint8_t* pbIn, std::uint8_t* pbOut) const;

    // nBlocks consecutive blocks in place, each on its own (ECB).
    void EncryptBlocks(std::uint8_t* pbData, std::size_t nBlocks) const;
    void DecryptBlocks(std::uint8_t* pbData, std::size_t nBlocks) const;

private:
    // Holds the library's schedule (two directions of sixteen subkeys); kept opaque here so
    // the library's macros stay out of every includer.
    alignas(8) std::uint32_t m_adwSchedule[32]{};
};
