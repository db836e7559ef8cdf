#include "wire.h"

#include <arpa/inet.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "protocol/des.h"
#include "protocol/packet.h"
#include "protocol/protocolkey.h"

namespace camsim {

bool ParseViewerRequest(const std::uint8_t* pData, std::size_t nLen, ViewerHeader& hdr)
{
    if (!pData || nLen < HEADER_LEN || pData[0] != VIEWER_MAGIC)
        return false;
    CPacketReader r(pData, nLen);
    r.Skip(1);
    hdr.bCode = r.ReadUInt8();
    r.Skip(2);
    hdr.usTotalLen = r.ReadUInt16();
    r.Skip(2);
    hdr.dwSenderId = r.ReadUInt32();
    hdr.dwReceiverId = r.ReadUInt32LE();
    return true;
}

namespace {

Bytes Frame(std::uint8_t bMagic, std::uint8_t bCode, const Bytes& body, std::uint32_t dwAt8, bool bAt8LE,
            std::uint32_t dwAt12, bool bAt12LE)
{
    Bytes out(HEADER_LEN + body.size());
    CPacketWriter w(out.data(), out.size());
    w.WriteUInt8(bMagic);
    w.WriteUInt8(bCode);
    w.WriteZeros(2);
    w.WriteUInt16(static_cast<std::uint16_t>(out.size()));
    w.WriteZeros(2);
    bAt8LE ? w.WriteUInt32LE(dwAt8) : w.WriteUInt32(dwAt8);
    bAt12LE ? w.WriteUInt32LE(dwAt12) : w.WriteUInt32(dwAt12);
    if (!body.empty())
        w.Write(body.data(), body.size());
    return out;
}

void CipherSpan(std::uint8_t* pData, std::size_t nLen, bool bEncrypt)
{
    if (!pData || nLen < 2)
        return;
    const std::size_t nSpan = nLen - 1;
    const std::size_t nBlocks = std::min<std::size_t>(nSpan / 8, 6);
    const auto key = GetProtocolKey();
    CDesKeySchedule ks(key.data());
    std::uint8_t* p = pData + 1;
    for (std::size_t i = 0; i < nBlocks; ++i, p += 8)
        bEncrypt ? ks.EncryptBlock(p, p) : ks.DecryptBlock(p, p);
    for (std::uint8_t* pEnd = pData + nLen; p < pEnd; ++p)
        *p ^= 0x37;
}

void KeyHalves(const Password& pw, std::uint8_t bEncryptVersion, CDesKeySchedule& ka, CDesKeySchedule& kb)
{
    std::uint8_t k[16];
    for (int i = 0; i < 16; ++i)
        k[i] = bEncryptVersion ? static_cast<std::uint8_t>(pw[i] * 2) : pw[i];
    ka.SetKey(k);
    kb.SetKey(k + 8);
}

Block16 TwoHalves(const Password& pw, std::uint8_t bEncryptVersion, std::uint32_t a, std::uint32_t b)
{
    std::uint8_t s[8];
    for (int i = 0; i < 4; ++i) {
        s[i] = static_cast<std::uint8_t>(a >> (8 * i));
        s[4 + i] = static_cast<std::uint8_t>(b >> (8 * i));
    }
    CDesKeySchedule ka, kb;
    KeyHalves(pw, bEncryptVersion, ka, kb);
    Block16 out{};
    ka.EncryptBlock(s, out.data());
    kb.EncryptBlock(s, out.data() + 8);
    return out;
}

} // namespace

Bytes BuildViewerReply(std::uint8_t bCode, std::uint32_t dwCameraId, std::uint32_t dwClientId,
                       const Bytes& body)
{
    return Frame(VIEWER_MAGIC, bCode, body, dwCameraId, true, dwClientId, false);
}

Bytes BuildViewerRequest(std::uint8_t bCode, std::uint32_t dwClientId, std::uint32_t dwCameraId,
                         const Bytes& body)
{
    return Frame(VIEWER_MAGIC, bCode, body, dwClientId, false, dwCameraId, true);
}

void CipherEncrypt(std::uint8_t* pData, std::size_t nLen)
{
    CipherSpan(pData, nLen, true);
}

void CipherDecrypt(std::uint8_t* pData, std::size_t nLen)
{
    CipherSpan(pData, nLen, false);
}

std::uint32_t Crc32(const std::uint8_t* pData, std::size_t nLen)
{
    return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), pData, static_cast<uInt>(nLen)));
}

std::uint32_t OnlineCheckValue(std::uint8_t bKind, std::uint32_t dwCode, const std::uint32_t (&adwParam)[5])
{
    Bytes le;
    PutU8(le, 0x50);
    PutU8(le, bKind);
    PutU8(le, 0);
    PutU8(le, 0);
    PutU32LE(le, dwCode);
    for (std::uint32_t v : adwParam)
        PutU32LE(le, v);
    return Crc32(le.data(), le.size());
}

std::uint32_t OnlineCheckValueOfBody(const std::uint8_t* pBody28)
{
    std::uint8_t le[28];
    std::memcpy(le, pBody28, 4);
    for (int w = 1; w < 7; ++w)
        for (int i = 0; i < 4; ++i)
            le[4 * w + i] = pBody28[4 * w + 3 - i];
    return Crc32(le, sizeof le);
}

bool ParseOnlineCommand(const std::uint8_t* pBody, std::size_t nLen, OnlineCommand& cmd)
{
    if (!pBody || nLen < ONLINE_BODY_LEN)
        return false;
    CPacketReader r(pBody, nLen);
    r.Skip(1);
    cmd.bKind = r.ReadUInt8();
    r.Skip(2);
    cmd.dwCode = r.ReadUInt32();
    for (auto& v : cmd.adwParam)
        v = r.ReadUInt32();
    cmd.dwCheck = r.ReadUInt32();
    return true;
}

Bytes BuildOnlineRequest(std::uint32_t dwCode, const std::uint32_t (&adwParam)[5])
{
    Bytes b;
    PutU8(b, 0x50);
    PutU8(b, 2);
    PutU16(b, 0);
    PutU32(b, dwCode);
    for (std::uint32_t v : adwParam)
        PutU32(b, v);
    PutU32(b, OnlineCheckValue(2, dwCode, adwParam));
    return b;
}

Bytes BuildOnlineReply(std::uint32_t dwCode, const std::vector<std::uint32_t>& words)
{
    Bytes b;
    PutU8(b, 0x50);
    PutU8(b, 2);
    PutU16(b, 0);
    PutU32(b, dwCode);
    for (std::uint32_t v : words)
        PutU32(b, v);
    return b;
}

bool PasswordField(const std::string& strText, Password& pw)
{
    if (strText.size() > pw.size())
        return false;
    pw.fill(0);
    std::memcpy(pw.data(), strText.data(), strText.size());
    return true;
}

std::string PasswordText(const Password& pw)
{
    const auto it = std::find(pw.begin(), pw.end(), 0);
    return std::string(pw.begin(), it);
}

Block16 CheckValue(const Password& pw, const std::uint32_t (&adwSeq)[2], std::uint8_t bEncryptVersion)
{
    return TwoHalves(pw, bEncryptVersion, adwSeq[0], adwSeq[1]);
}

Block16 ExpectedToken(const Password& pw, const std::uint32_t (&adwSeq)[2], std::uint8_t bEncryptVersion)
{
    return TwoHalves(pw, bEncryptVersion, adwSeq[0] + 27561u, adwSeq[1] + 41903u);
}

void PasswordChangeCipher(std::uint8_t* pBody32, const Password& oldPw, bool bEncrypt)
{
    CDesKeySchedule ks(oldPw.data());
    for (int i = 0; i < 4; ++i) {
        std::uint8_t* p = pBody32 + 8 * i;
        bEncrypt ? ks.EncryptBlock(p, p) : ks.DecryptBlock(p, p);
    }
}

bool ParseLanPacket(const std::uint8_t* pData, std::size_t nLen, LanHeader& hdr)
{
    if (!pData || nLen < HEADER_LEN || pData[0] != LAN_GROUP)
        return false;
    CPacketReader r(pData, nLen);
    r.Skip(1);
    hdr.bCode = r.ReadUInt8();
    r.Skip(2);
    hdr.usTotalLen = r.ReadUInt16();
    return true;
}

Bytes BuildLanPacket(std::uint8_t bCode, const Bytes& body)
{
    return Frame(LAN_GROUP, bCode, body, 0, false, 0, false);
}

bool ParseRecTimePacket(const std::uint8_t* pData, std::size_t nLen, RecTimeHeader& hdr)
{
    if (!pData || nLen < HEADER_LEN || pData[0] != RECTIME_GROUP)
        return false;
    CPacketReader r(pData, nLen);
    r.Skip(1);
    hdr.bCode = r.ReadUInt8();
    r.Skip(6);
    hdr.usVersion = r.ReadUInt16();
    return true;
}

namespace {

Bytes RecTimeFrame(std::uint8_t bCode, std::uint16_t usVersion, const Bytes& body)
{
    Bytes out;
    PutU8(out, RECTIME_GROUP);
    PutU8(out, bCode);
    PutU16(out, 1);
    PutU16(out, 1);
    PutU16(out, 0);
    PutU16(out, usVersion);
    PutU16(out, 0);
    PutU32(out, 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace

Bytes BuildRecTimeReply(std::uint8_t bCode, std::uint16_t usVersion, const Bytes& body)
{
    return RecTimeFrame(bCode, usVersion, body);
}

Bytes BuildRecTimeRequest(std::uint8_t bCode, const Bytes& body)
{
    return RecTimeFrame(bCode, 0, body);
}

void PutU8(Bytes& b, std::uint8_t v)
{
    b.push_back(v);
}

void PutU16(Bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

void PutU32(Bytes& b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}

void PutU32LE(Bytes& b, std::uint32_t v)
{
    for (int s = 0; s <= 24; s += 8)
        b.push_back(static_cast<std::uint8_t>(v >> s));
}

void PutBytes(Bytes& b, const std::uint8_t* p, std::size_t n)
{
    b.insert(b.end(), p, p + n);
}

void PutText(Bytes& b, const std::string& s, std::size_t nField)
{
    const std::size_t n = std::min(s.size(), nField);
    b.insert(b.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    b.insert(b.end(), nField - n, 0);
}

std::string ToHex(const std::uint8_t* p, std::size_t n)
{
    static const char* k = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(k[p[i] >> 4]);
        s.push_back(k[p[i] & 15]);
    }
    return s;
}

bool FromHex(const std::string& s, Bytes& out)
{
    auto nib = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (s.size() % 2)
        return false;
    Bytes b;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const int h = nib(s[i]), l = nib(s[i + 1]);
        if (h < 0 || l < 0)
            return false;
        b.push_back(static_cast<std::uint8_t>(h << 4 | l));
    }
    out = std::move(b);
    return true;
}

std::string AddrToText(std::uint32_t dwAddr)
{
    in_addr a{htonl(dwAddr)};
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

bool TextToAddr(const std::string& s, std::uint32_t& dwAddr)
{
    in_addr a{};
    if (inet_pton(AF_INET, s.c_str(), &a) != 1)
        return false;
    dwAddr = ntohl(a.s_addr);
    return true;
}

} // namespace camsim
