// The simulator's own wire code against vectors written from the wire tables.
#include <gtest/gtest.h>

#include <nettle/des.h>

#include <cstring>

#include "firmware.h"
#include "protocol/protocolkey.h"
#include "wire.h"

using namespace camsim;

namespace {

// An independent DES oracle straight from the library.
void DesEcb(const std::uint8_t* key, const std::uint8_t* in, std::uint8_t* out)
{
    des_ctx ctx;
    std::uint8_t k[8];
    des_fix_parity(8, k, key);
    des_set_key(&ctx, k);
    des_encrypt(&ctx, 8, out, in);
}

} // namespace

TEST(CamsimWire, ViewerReplyHeaderCarriesCameraIdLittleEndianAndClientIdBigEndian)
{
    const Bytes reply = BuildViewerReply(0x81, 0x12345678, 0xC6120001, Bytes{0xAA, 0xBB});
    const Bytes expect = {0x90, 0x81, 0,    0,    0x00, 0x12, 0,    0,    0x78,
                          0x56, 0x34, 0x12, 0xC6, 0x12, 0x00, 0x01, 0xAA, 0xBB};
    EXPECT_EQ(reply, expect);

    // A request as the client frames it parses back with both byte orders undone.
    const Bytes req = {0x90, 0x09, 0, 0, 0x00, 0x10, 0, 0, 0xC6, 0x12, 0x00, 0x01, 0x78, 0x56, 0x34, 0x12};
    ViewerHeader h;
    ASSERT_TRUE(ParseViewerRequest(req.data(), req.size(), h));
    EXPECT_EQ(h.bCode, 9);
    EXPECT_EQ(h.dwSenderId, 0xC6120001u);
    EXPECT_EQ(h.dwReceiverId, 0x12345678u);
    EXPECT_FALSE(ParseViewerRequest(req.data(), 15, h));
    Bytes wrongMagic = req;
    wrongMagic[0] = 0x5B;
    EXPECT_FALSE(ParseViewerRequest(wrongMagic.data(), wrongMagic.size(), h));
}

TEST(CamsimWire, LanAndRecordTimeHeaders)
{
    const Bytes lan = BuildLanPacket(0xB7, Bytes(24, 1));
    ASSERT_EQ(lan.size(), 40u);
    EXPECT_EQ(lan[0], 0x80);
    EXPECT_EQ(lan[1], 0xB7);
    EXPECT_EQ(lan[4], 0);
    EXPECT_EQ(lan[5], 40);
    for (int i : {2, 3, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})
        EXPECT_EQ(lan[i], 0) << i;

    const Bytes rt = BuildRecTimeReply(19, 0x0102, {0, 0, 0, 0});
    const Bytes expect = {0xB0, 19, 0, 1, 0, 1, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(rt, expect);
    RecTimeHeader h;
    ASSERT_TRUE(ParseRecTimePacket(rt.data(), rt.size(), h));
    EXPECT_EQ(h.bCode, 19);
    EXPECT_EQ(h.usVersion, 0x0102);
}

TEST(CamsimWire, PacketCipherBlocksAndXorTail)
{
    const auto key = GetProtocolKey();
    for (std::size_t n : {8u, 17u, 60u, 100u}) {
        Bytes plain(n);
        for (std::size_t i = 0; i < n; ++i)
            plain[i] = static_cast<std::uint8_t>(i * 29 + 3);
        plain[0] = 0x90;
        Bytes enc = plain;
        CipherEncrypt(enc.data(), enc.size());
        EXPECT_EQ(enc[0], 0x90) << n;
        const std::size_t nBlocks = std::min<std::size_t>((n - 1) / 8, 6);
        for (std::size_t k = 0; k < nBlocks; ++k) {
            std::uint8_t out[8];
            DesEcb(key.data(), &plain[1 + 8 * k], out);
            EXPECT_EQ(0, std::memcmp(out, &enc[1 + 8 * k], 8)) << "block " << k << " of " << n;
        }
        for (std::size_t i = 1 + 8 * nBlocks; i < n; ++i)
            EXPECT_EQ(enc[i], plain[i] ^ 0x37) << "byte " << i << " of " << n;
        CipherDecrypt(enc.data(), enc.size());
        EXPECT_EQ(enc, plain) << n;
    }
    // 17 bytes: two blocks, nothing XORed; 8 bytes: seven XORed bytes.
    Bytes one(1, 0x90);
    CipherEncrypt(one.data(), one.size());
    EXPECT_EQ(one, Bytes(1, 0x90));
}

TEST(CamsimWire, OnlineCheckValueIsOverTheLittleEndianRendering)
{
    const std::uint32_t zero[5] = {0, 0, 0, 0, 0};
    EXPECT_EQ(OnlineCheckValue(2, 0x20000000, zero), 0xbc80f223u);
    const std::uint32_t cap[5] = {0xC6120001, 3, 0, 0, 0};
    EXPECT_EQ(OnlineCheckValue(2, 32, cap), 0xf2b888bau);

    const Bytes req = BuildOnlineRequest(32, cap);
    ASSERT_EQ(req.size(), 32u);
    const Bytes head = {0x50, 2, 0, 0, 0, 0, 0, 32, 0xC6, 0x12, 0x00, 0x01, 0, 0, 0, 3};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), req.begin()));
    EXPECT_EQ(req[28], 0xf2);
    EXPECT_EQ(req[31], 0xba);
    EXPECT_EQ(OnlineCheckValueOfBody(req.data()), 0xf2b888bau);
    OnlineCommand cmd;
    ASSERT_TRUE(ParseOnlineCommand(req.data(), req.size(), cmd));
    EXPECT_EQ(cmd.dwCode, 32u);
    EXPECT_EQ(cmd.adwParam[0], 0xC6120001u);
    EXPECT_EQ(cmd.dwCheck, 0xf2b888bau);
    EXPECT_FALSE(ParseOnlineCommand(req.data(), 31, cmd));
}

TEST(CamsimWire, CheckValueAndTokenFollowTheKeyMaterialRules)
{
    Password pw{};
    ASSERT_TRUE(PasswordField("Ab\x80", pw));
    const std::uint32_t seq[2] = {0x01020304, 0xFFFFFFFF};
    // Doubled key bytes: 'A'*2, 'b'*2, 0x80*2 wraps to 0; the padding stays 0.
    const std::uint8_t ka[8] = {0x82, 0xC4, 0x00, 0, 0, 0, 0, 0};
    const std::uint8_t kb[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const std::uint8_t s[8] = {0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
    std::uint8_t expect[16];
    DesEcb(ka, s, expect);
    DesEcb(kb, s, expect + 8);
    const Block16 check = CheckValue(pw, seq, 1);
    EXPECT_EQ(0, std::memcmp(check.data(), expect, 16));

    // The token adds 27561 and 41903 to the sequence ids, wrapping at 2^32.
    const std::uint32_t t0 = 0x01020304 + 27561, t1 = 41903 - 1;
    const std::uint8_t t[8] = {std::uint8_t(t0),       std::uint8_t(t0 >> 8), std::uint8_t(t0 >> 16),
                               std::uint8_t(t0 >> 24), std::uint8_t(t1),      std::uint8_t(t1 >> 8),
                               std::uint8_t(t1 >> 16), std::uint8_t(t1 >> 24)};
    DesEcb(ka, t, expect);
    DesEcb(kb, t, expect + 8);
    const Block16 token = ExpectedToken(pw, seq, 1);
    EXPECT_EQ(0, std::memcmp(token.data(), expect, 16));

    // Without the doubling the key is the password itself.
    const std::uint8_t plainKey[8] = {'A', 'b', 0x80, 0, 0, 0, 0, 0};
    DesEcb(plainKey, s, expect);
    EXPECT_EQ(0, std::memcmp(CheckValue(pw, seq, 0).data(), expect, 8));
    EXPECT_FALSE(PasswordField("seventeen bytes!!", pw));
}

TEST(CamsimWire, PasswordChangeBodyIsFourBlocksUnderTheUndoubledOldPassword)
{
    Password oldPw{}, newPw{};
    PasswordField("old", oldPw);
    PasswordField("brand-new", newPw);
    std::uint8_t body[32];
    std::memcpy(body, oldPw.data(), 16);
    std::memcpy(body + 16, newPw.data(), 16);
    std::uint8_t expect[32];
    for (int i = 0; i < 4; ++i)
        DesEcb(oldPw.data(), body + 8 * i, expect + 8 * i);
    PasswordChangeCipher(body, oldPw, true);
    EXPECT_EQ(0, std::memcmp(body, expect, 32));
    PasswordChangeCipher(body, oldPw, false);
    EXPECT_EQ(0, std::memcmp(body + 16, newPw.data(), 16));
}

TEST(CamsimFirmwareImage, MadeImagesCheckAndDamagedOnesDoNot)
{
    Bytes img;
    std::string err, version;
    ASSERT_TRUE(MakeFirmwareImage("2.4.1-lab", 5000, 3, img, err)) << err;
    ASSERT_EQ(img.size(), 5000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data()), 8), "VSTRLIMG");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(img.data() + 16)), "2.4.1-lab");
    EXPECT_EQ((img[48] << 24 | img[49] << 16 | img[50] << 8 | img[51]), 5000 - 64);
    ASSERT_TRUE(CheckFirmwareImage(img, version, err)) << err;
    EXPECT_EQ(version, "2.4.1-lab");

    Bytes bad = img;
    bad[3000] ^= 1;
    EXPECT_FALSE(CheckFirmwareImage(bad, version, err));
    EXPECT_EQ(err, "payload CRC mismatch");
    bad = img;
    bad[20] ^= 1; // inside the version text
    EXPECT_FALSE(CheckFirmwareImage(bad, version, err));
    EXPECT_EQ(err, "header CRC mismatch");
    bad.assign(img.begin(), img.end() - 1);
    EXPECT_FALSE(CheckFirmwareImage(bad, version, err));
    bad.assign(img.begin(), img.begin() + 63);
    EXPECT_FALSE(CheckFirmwareImage(bad, version, err));

    EXPECT_TRUE(MakeFirmwareImage("x", 64, 1, img, err)); // a header alone is a valid empty image
    EXPECT_FALSE(MakeFirmwareImage("x", 63, 1, img, err));
    EXPECT_FALSE(MakeFirmwareImage("", 100, 1, img, err));
    EXPECT_FALSE(MakeFirmwareImage(std::string(33, 'v'), 100, 1, img, err));
}
