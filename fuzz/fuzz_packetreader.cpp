// libFuzzer target: the packet reader and writer must never touch a byte outside their buffer,
// whatever sequence of reads a parser makes over whatever datagram arrives; the packet cipher
// must leave any length intact.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/packet.h"
#include "protocol/packetcipher.h"

namespace {

// Past a few dozen operations an input only repeats what shorter ones reach, and every failed
// operation is a thrown exception, the slowest thing here: the bounds keep each input fast.
constexpr std::size_t MAX_OPS = 64;
constexpr int MAX_THROWS = 8;

// Reads driven by the input itself: each op byte picks an operation and, for sized ones, the
// next byte its size, so every path of the reader meets every length.
void DriveReader(const std::uint8_t* pbOps, std::size_t nOps, const std::uint8_t* pbData, std::size_t nLen)
{
    CPacketReader reader(pbData, nLen);
    std::uint8_t abSink[256];
    int nThrown = 0;
    for (std::size_t i = 0; i < nOps && nThrown < MAX_THROWS; ++i) {
        const std::size_t nArg = i + 1 < nOps ? pbOps[i + 1] : 0;
        try {
            switch (pbOps[i] % 11) {
            case 0:
                reader.ReadUInt8();
                break;
            case 1:
                reader.ReadUInt16();
                break;
            case 2:
                reader.ReadUInt32();
                break;
            case 3:
                reader.ReadUInt16LE();
                break;
            case 4:
                reader.ReadUInt32LE();
                break;
            case 5:
                reader.Read(abSink, nArg);
                break;
            case 6:
                reader.Skip(nArg);
                break;
            case 7:
                reader.ReadFixedString(nArg);
                break;
            case 8: {
                const std::uint8_t* p = reader.ReadSpan(nArg);
                if (nArg)
                    std::memcpy(abSink, p, nArg);
                break;
            }
            case 9:
                reader.SetPosition(nArg);
                break;
            default:
                reader.Skip(static_cast<std::size_t>(-1) - nArg);
                break;
            }
        } catch (const CParserException&) {
            ++nThrown;
        }
        if (reader.GetPosition() > reader.GetLength())
            __builtin_trap();
    }
}

void DriveWriter(const std::uint8_t* pbOps, std::size_t nOps, std::size_t nCapacity)
{
    std::vector<std::uint8_t> buffer(nCapacity);
    CPacketWriter writer(buffer.data(), buffer.size());
    const std::uint8_t abSource[256] = {};
    int nThrown = 0;
    for (std::size_t i = 0; i < nOps && nThrown < MAX_THROWS; ++i) {
        const std::size_t nArg = i + 1 < nOps ? pbOps[i + 1] : 0;
        try {
            switch (pbOps[i] % 8) {
            case 0:
                writer.WriteUInt8(1);
                break;
            case 1:
                writer.WriteUInt16(2);
                break;
            case 2:
                writer.WriteUInt32(3);
                break;
            case 3:
                writer.WriteUInt32LE(4);
                break;
            case 4:
                writer.Write(abSource, nArg);
                break;
            case 5:
                writer.WriteZeros(nArg);
                break;
            case 6:
                writer.WriteFixedString("fuzz", nArg);
                break;
            default:
                writer.PatchUInt16(nArg, 5);
                break;
            }
        } catch (const CParserException&) {
            ++nThrown;
        }
        if (writer.GetPosition() > writer.GetCapacity())
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t nSize)
{
    const std::size_t nOps = std::min(nSize, MAX_OPS);
    // Exact-size copy so that the sanitizer sees any read one past the end.
    std::vector<std::uint8_t> datagram(pbData, pbData + nSize);
    DriveReader(pbData, nOps, datagram.data(), datagram.size());

    // An encrypted datagram is deciphered in place before parsing; a round trip restores it.
    std::vector<std::uint8_t> copy = datagram;
    DecryptPacket(copy.data(), copy.size());
    EncryptPacket(copy.data(), copy.size());
    if (copy != datagram)
        __builtin_trap();

    DriveWriter(pbData, nOps, nSize ? pbData[0] : 0);
    return 0;
}
