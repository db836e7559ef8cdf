#include "protocol/checksum.h"

#include <zlib.h>

#include "protocol/packet.h"

std::uint32_t Crc32(const void* pData, std::size_t nLen)
{
    uLong ulCrc = crc32(0L, Z_NULL, 0);
    const auto* pb = static_cast<const Bytef*>(pData);
    // zlib takes a 32-bit length; feed larger inputs in pieces.
    while (nLen > 0) {
        const uInt nPart = nLen > 0x40000000u ? 0x40000000u : static_cast<uInt>(nLen);
        ulCrc = crc32(ulCrc, pb, nPart);
        pb += nPart;
        nLen -= nPart;
    }
    return static_cast<std::uint32_t>(ulCrc);
}

std::uint32_t OnlineCommandCheckValue(std::uint32_t dwCode,
                                      const std::uint32_t (&adwParam)[ONLINE_COMMAND_PARAMS])
{
    std::uint8_t abRendering[ONLINE_COMMAND_CHECKED_LEN];
    CPacketWriter writer(abRendering, sizeof(abRendering));
    writer.WriteUInt8(ONLINE_COMMAND_MARKER);
    writer.WriteUInt8(ONLINE_COMMAND_KIND_REQUEST);
    writer.WriteUInt16LE(0);
    writer.WriteUInt32LE(dwCode);
    for (std::uint32_t dwParam : adwParam)
        writer.WriteUInt32LE(dwParam);
    return Crc32(abRendering, writer.GetPosition());
}

std::uint32_t OnlineCommandCheckValueOfWire(const std::uint8_t* pbWire)
{
    std::uint8_t abRendering[ONLINE_COMMAND_CHECKED_LEN];
    // The first four bytes are single bytes and zeros; only the 32-bit fields turn around.
    for (std::size_t i = 0; i < 4; ++i)
        abRendering[i] = pbWire[i];
    for (std::size_t nField = 4; nField < ONLINE_COMMAND_CHECKED_LEN; nField += 4)
        for (std::size_t i = 0; i < 4; ++i)
            abRendering[nField + i] = pbWire[nField + 3 - i];
    return Crc32(abRendering, sizeof(abRendering));
}
