#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/des.h"

namespace {

std::string Hex(const std::uint8_t* pb, std::size_t n)
{
    static const char* kDigits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += kDigits[pb[i] >> 4];
        s += kDigits[pb[i] & 15];
    }
    return s;
}

void FromHex(const char* psz, std::uint8_t* pb)
{
    for (std::size_t i = 0; i < 8; ++i)
        pb[i] = static_cast<std::uint8_t>(std::stoul(std::string(psz + 2 * i, 2), nullptr, 16));
}

struct Vector {
    const char* pszKey;
    const char* pszPlain;
    const char* pszCipher;
};

// Published known answers: the textbook example, FIPS 81's first block, and NIST SP 800-17
// variable-plaintext and variable-key entries.
const Vector kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
};

TEST(Des, KnownAnswerVectorsBothDirections)
{
    for (const auto& v : kVectors) {
        std::uint8_t abKey[8], abPlain[8], abOut[8], abBack[8];
        FromHex(v.pszKey, abKey);
        FromHex(v.pszPlain, abPlain);
        CDesKeySchedule key(abKey);
        key.EncryptBlock(abPlain, abOut);
        EXPECT_EQ(Hex(abOut, 8), v.pszCipher) << "key " << v.pszKey;
        key.DecryptBlock(abOut, abBack);
        EXPECT_EQ(Hex(abBack, 8), v.pszPlain) << "key " << v.pszKey;
        // In place gives the same.
        key.EncryptBlock(abPlain, abPlain);
        EXPECT_EQ(Hex(abPlain, 8), v.pszCipher);
    }
}

TEST(Des, ParityBitsAreIgnoredAndWeakKeysWork)
{
    std::uint8_t abKey[8], abPlain[8], abOut[8];
    FromHex("133457799BBCDFF1", abKey);
    FromHex("0123456789ABCDEF", abPlain);
    for (auto& b : abKey)
        b ^= 0x01; // every parity bit wrong
    CDesKeySchedule(abKey).EncryptBlock(abPlain, abOut);
    EXPECT_EQ(Hex(abOut, 8), "85E813540F0AB405");

    // The all-zero key (a camera without password) is weak and has bad parity; it is the same
    // key as 0101010101010101.
    const std::uint8_t abZero[8] = {};
    CDesKeySchedule(abZero).EncryptBlock(abZero, abOut);
    EXPECT_EQ(Hex(abOut, 8), "8CA64DE9C1B123A7");
}

} // namespace
