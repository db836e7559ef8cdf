#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/checksum.h"
#include "protocol/des.h"
#include "protocol/packetcipher.h"
#include "protocol/protocolkey.h"

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 37 + 11);
    if (n)
        v[0] = 0x90;
    return v;
}

TEST(PacketCipher, ProtocolKeyIsEightPrintableCharacters)
{
    const auto abKey = GetProtocolKey();
    for (std::uint8_t b : abKey)
        EXPECT_TRUE(std::isprint(b)) << int(b);
}

TEST(PacketCipher, RoundTripsEveryLengthAndKeepsTheMagicInClear)
{
    for (std::size_t n : {0, 1, 2, 7, 8, 9, 16, 17, 47, 48, 49, 50, 56, 57, 60, 100, 2560}) {
        const auto plain = Pattern(n);
        auto data = plain;
        EncryptPacket(data.data(), data.size());
        if (n) {
            EXPECT_EQ(data[0], 0x90) << "magic changed, length " << n;
        }
        if (n > 1) {
            EXPECT_NE(data, plain) << "nothing enciphered, length " << n;
        } else {
            EXPECT_EQ(data, plain) << "length " << n;
        }
        DecryptPacket(data.data(), data.size());
        EXPECT_EQ(data, plain) << "length " << n;
    }
    EXPECT_NO_THROW(EncryptPacket(nullptr, 100));
    EXPECT_NO_THROW(DecryptPacket(nullptr, 100));
}

// Splits the span after the magic into DES blocks and XORed bytes and checks each of them.
void ExpectLayout(std::size_t n, std::size_t nBlocksWanted)
{
    const auto plain = Pattern(n);
    auto data = plain;
    EncryptPacket(data.data(), data.size());

    const auto abKey = GetProtocolKey();
    const CDesKeySchedule key(abKey.data());
    for (std::size_t b = 0; b < nBlocksWanted; ++b) {
        std::uint8_t abBlock[8];
        key.EncryptBlock(plain.data() + 1 + 8 * b, abBlock);
        EXPECT_EQ(0, std::memcmp(abBlock, data.data() + 1 + 8 * b, 8)) << "length " << n << " block " << b;
    }
    for (std::size_t i = 1 + 8 * nBlocksWanted; i < n; ++i)
        EXPECT_EQ(data[i], plain[i] ^ 0x37) << "length " << n << " offset " << i;
}

TEST(PacketCipher, AtMostSixBlocksThenXor)
{
    ExpectLayout(8, 0);   // span 7: all XOR
    ExpectLayout(9, 1);   // span 8: one block, no XOR
    ExpectLayout(17, 2);  // span 16: two blocks, no XOR
    ExpectLayout(48, 5);  // span 47: five blocks, 7 XOR
    ExpectLayout(49, 6);  // span 48: six blocks
    ExpectLayout(60, 6);  // span 59: six blocks, 11 XOR
    ExpectLayout(100, 6); // blocks 7 and beyond are XOR only
}

TEST(PacketCipher, SearchRequestMatchesAnOutsideDes)
{
    // A 16-byte search request; expected bytes from openssl enc -des-ecb under the protocol key.
    std::array<std::uint8_t, 16> ab = {0x90, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00,
                                       0xC0, 0xA8, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00};
    const std::array<std::uint8_t, 16> abWant = {0x90, 0xFD, 0xF9, 0xE9, 0x47, 0x4C, 0xD5, 0x2F,
                                                 0x0F, 0x9F, 0x36, 0x32, 0x37, 0x37, 0x37, 0x37};
    EncryptPacket(ab.data(), ab.size());
    EXPECT_EQ(ab, abWant);

    // A peer with another key cannot read it.
    const std::uint8_t abOther[8] = {'O', 't', 'h', 'e', 'r', 'K', 'e', 'y'};
    DecryptPacket(ab.data(), ab.size(), abOther);
    EXPECT_NE(ab[1], 0x01);
}

TEST(Checksum, Crc32IsTheIeeeOne)
{
    const char sz[] = "123456789";
    EXPECT_EQ(Crc32(sz, 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(sz, 0), 0u);
}

TEST(Checksum, OnlineCommandUsesTheLittleEndianRendering)
{
    // Expected values: zlib's CRC-32 over the little-endian rendering, computed outside.
    const std::uint32_t adwAudio[ONLINE_COMMAND_PARAMS] = {1, 1, 0, 0, 0};
    EXPECT_EQ(OnlineCommandCheckValue(0x20000, adwAudio), 0xCE17B4ACu);
    const std::uint32_t adwMixed[ONLINE_COMMAND_PARAMS] = {0x12345678, 2, 3, 0xFFFFFFFF, 0};
    EXPECT_EQ(OnlineCommandCheckValue(0x80000081, adwMixed), 0x952B663Fu);

    // The receiving end gets the same from the big-endian bytes on the wire, which differ
    // from a CRC over those bytes as they stand.
    const std::uint8_t abWire[ONLINE_COMMAND_CHECKED_LEN] = {
        0x50, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(OnlineCommandCheckValueOfWire(abWire), 0xCE17B4ACu);
    EXPECT_EQ(Crc32(abWire, sizeof(abWire)), 0x9CEE16D4u);
}

} // namespace
