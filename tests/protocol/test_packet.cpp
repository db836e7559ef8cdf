#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "protocol/packet.h"

namespace {

TEST(PacketWriter, WritesNetworkOrderAndLittleEndianWhereAsked)
{
    std::uint8_t ab[16] = {};
    CPacketWriter w(ab, sizeof(ab));
    w.WriteUInt8(0x90);
    w.WriteUInt16(0x1234);
    w.WriteUInt32(0xA1B2C3D4);
    w.WriteUInt32LE(0xA1B2C3D4);
    w.WriteUInt16LE(0x1234);
    const std::uint8_t abWant[] = {0x90, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4,
                                   0xD4, 0xC3, 0xB2, 0xA1, 0x34, 0x12};
    ASSERT_EQ(w.GetPosition(), sizeof(abWant));
    EXPECT_EQ(0, std::memcmp(ab, abWant, sizeof(abWant)));
    EXPECT_EQ(w.GetRemaining(), 3u);
}

TEST(PacketWriter, ThrowsAtTheExactEndAndWritesNothing)
{
    std::uint8_t ab[8];
    std::memset(ab, 0xEE, sizeof(ab));
    CPacketWriter w(ab, 7);
    w.WriteUInt32(0x01020304);
    w.WriteUInt16(0x0506);
    // One byte left: every wider write fails without touching it.
    EXPECT_THROW(w.WriteUInt16(0xFFFF), CParserException);
    EXPECT_THROW(w.WriteUInt32(0xFFFFFFFF), CParserException);
    EXPECT_THROW(w.WriteZeros(2), CParserException);
    const std::uint32_t dw = 0;
    EXPECT_THROW(w.WriteWords32(&dw, 1), CParserException);
    EXPECT_EQ(w.GetPosition(), 6u);
    EXPECT_EQ(ab[6], 0xEE);
    w.WriteUInt8(0x07);
    EXPECT_EQ(w.GetRemaining(), 0u);
    EXPECT_THROW(w.WriteUInt8(0), CParserException);
    EXPECT_EQ(ab[7], 0xEE) << "byte past the capacity was written";

    // Counts so large that a naive sum would wrap.
    CPacketWriter w2(ab, sizeof(ab));
    w2.WriteUInt8(1);
    EXPECT_THROW(w2.Write(ab, std::numeric_limits<std::size_t>::max()), CParserException);
    EXPECT_THROW(w2.WriteWords32(&dw, std::numeric_limits<std::size_t>::max() / 2), CParserException);
    EXPECT_THROW(w2.WriteZeros(std::numeric_limits<std::size_t>::max()), CParserException);
    EXPECT_EQ(w2.GetPosition(), 1u);

    // A null buffer holds nothing.
    CPacketWriter wNull(nullptr, 100);
    EXPECT_THROW(wNull.WriteUInt8(0), CParserException);
    EXPECT_NO_THROW(wNull.Write(nullptr, 0));
}

TEST(PacketWriter, FixedStringsAndLengthPatch)
{
    std::uint8_t ab[16];
    std::memset(ab, 0xEE, sizeof(ab));
    CPacketWriter w(ab, sizeof(ab));
    w.WriteUInt8(0x80);
    w.WriteUInt8(0x01);
    w.WriteUInt16(0); // length, patched below
    w.WriteFixedString("AB", 4);
    w.WriteFixedString("LONGER", 4); // a full field has no terminator
    w.PatchUInt16(2, static_cast<std::uint16_t>(w.GetPosition()));
    const std::uint8_t abWant[] = {0x80, 0x01, 0x00, 0x0C, 'A', 'B', 0, 0, 'L', 'O', 'N', 'G'};
    EXPECT_EQ(0, std::memcmp(ab, abWant, sizeof(abWant)));
    EXPECT_EQ(ab[12], 0xEE);
    // Only bytes already written can be patched.
    EXPECT_THROW(w.PatchUInt16(11, 0), CParserException);
    EXPECT_THROW(w.PatchUInt16(std::numeric_limits<std::size_t>::max(), 0), CParserException);
}

TEST(PacketReader, ReadsNetworkOrderAndThrowsAtTheExactEnd)
{
    const std::uint8_t ab[] = {0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 0x78, 0x56, 0x34, 0x12, 0x99};
    CPacketReader r(ab, sizeof(ab));
    EXPECT_EQ(r.ReadUInt16(), 0x1234);
    EXPECT_EQ(r.ReadUInt32(), 0xA1B2C3D4u);
    EXPECT_EQ(r.ReadUInt32LE(), 0x12345678u);
    EXPECT_EQ(r.GetRemaining(), 1u);
    EXPECT_THROW(r.ReadUInt16(), CParserException);
    EXPECT_THROW(r.ReadUInt32(), CParserException);
    std::uint8_t abOut[2] = {0xEE, 0xEE};
    EXPECT_THROW(r.Read(abOut, 2), CParserException);
    EXPECT_EQ(abOut[0], 0xEE) << "a failing read copied bytes";
    EXPECT_EQ(r.GetPosition(), 10u) << "a failing read moved the position";
    EXPECT_EQ(r.ReadUInt8(), 0x99);
    EXPECT_THROW(r.ReadUInt8(), CParserException);
    EXPECT_THROW(r.Skip(1), CParserException);
    EXPECT_NO_THROW(r.Skip(0));

    CPacketReader rLE(ab, 2);
    EXPECT_EQ(rLE.ReadUInt16LE(), 0x3412);

    CPacketReader rHuge(ab, sizeof(ab));
    rHuge.ReadUInt8();
    EXPECT_THROW(rHuge.Skip(std::numeric_limits<std::size_t>::max()), CParserException);
    EXPECT_THROW(rHuge.ReadSpan(std::numeric_limits<std::size_t>::max()), CParserException);
    EXPECT_THROW(rHuge.SetPosition(sizeof(ab) + 1), CParserException);
    rHuge.SetPosition(sizeof(ab));
    EXPECT_EQ(rHuge.GetRemaining(), 0u);

    CPacketReader rEmpty(nullptr, 50);
    EXPECT_EQ(rEmpty.GetLength(), 0u);
    EXPECT_THROW(rEmpty.ReadUInt8(), CParserException);
}

TEST(PacketReader, FixedStringsStopAtTheFirstZeroOrFillTheField)
{
    const std::uint8_t ab[] = {'C', 'A', 'M', 0, 'x', 'S', 'E', 'R', 'I', 'A', 'L'};
    CPacketReader r(ab, sizeof(ab));
    EXPECT_EQ(r.ReadFixedString(5), "CAM");
    EXPECT_EQ(r.GetPosition(), 5u);
    EXPECT_THROW(r.ReadFixedString(7), CParserException);
    EXPECT_EQ(r.ReadFixedString(6), "SERIAL");
    EXPECT_EQ(r.ReadFixedString(0), "");
}

} // namespace
