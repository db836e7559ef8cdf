#include "protocol/packetcipher.h"

#include "protocol/des.h"
#include "protocol/protocolkey.h"

namespace {

void Transform(std::uint8_t* pbData, std::size_t nLen, const std::uint8_t* pbKey, bool bEncrypt)
{
    if (!pbData || nLen < 2)
        return;
    std::uint8_t* pbSpan = pbData + 1;
    const std::size_t nSpan = nLen - 1;
    std::size_t nBlocks = nSpan / DES_BLOCK_LEN;
    if (nBlocks > PACKET_CIPHER_MAX_BLOCKS)
        nBlocks = PACKET_CIPHER_MAX_BLOCKS;

    if (nBlocks) {
        const CDesKeySchedule key(pbKey);
        if (bEncrypt)
            key.EncryptBlocks(pbSpan, nBlocks);
        else
            key.DecryptBlocks(pbSpan, nBlocks);
    }
    for (std::size_t i = nBlocks * DES_BLOCK_LEN; i < nSpan; ++i)
        pbSpan[i] ^= PACKET_CIPHER_XOR;
}

} // namespace

void EncryptPacket(std::uint8_t* pbData, std::size_t nLen, const std::uint8_t* pbKey)
{
    Transform(pbData, nLen, pbKey, true);
}

void DecryptPacket(std::uint8_t* pbData, std::size_t nLen, const std::uint8_t* pbKey)
{
    Transform(pbData, nLen, pbKey, false);
}

void EncryptPacket(std::uint8_t* pbData, std::size_t nLen)
{
    const auto abKey = GetProtocolKey();
    Transform(pbData, nLen, abKey.data(), true);
}

void DecryptPacket(std::uint8_t* pbData, std::size_t nLen)
{
    const auto abKey = GetProtocolKey();
    Transform(pbData, nLen, abKey.data(), false);
}
