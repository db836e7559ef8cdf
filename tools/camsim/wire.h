// The simulator's own wire code: headers, the packet cipher, check values and tokens, written
// from the wire tables on the camera's side. Only the bounded reader/writer and the DES block
// primitive are shared with the client.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

using Bytes = std::vector<std::uint8_t>;

// Ports and groups, host order for addresses.
constexpr std::uint16_t PORT_VIEWER_MCAST = 8101;
constexpr std::uint16_t PORT_VIEWER_UNI = 8102;
constexpr std::uint16_t PORT_VIEWER_MCAST_ENC = 8112;
constexpr std::uint16_t PORT_VIEWER_UNI_ENC = 8113;
constexpr std::uint16_t PORT_LAN_MCAST = 8000;
constexpr std::uint16_t PORT_LAN_UNI = 8001;
constexpr std::uint32_t GROUP_VIEWER_REQ = 0xEC050716;       // 236.5.7.22
constexpr std::uint32_t GROUP_VIEWER_REPLY = 0xEC050717;     // 236.5.7.23
constexpr std::uint32_t GROUP_VIEWER_REQ_ENC = 0xEC05077A;   // 236.5.7.122
constexpr std::uint32_t GROUP_VIEWER_REPLY_ENC = 0xEC05077B; // 236.5.7.123
constexpr std::uint32_t GROUP_LAN_REQ = 0xEC050701;          // 236.5.7.1
constexpr std::uint32_t GROUP_LAN_REPLY = 0xEC050702;        // 236.5.7.2

constexpr std::size_t HEADER_LEN = 16;
constexpr std::uint8_t VIEWER_MAGIC = 0x90;
constexpr std::uint8_t LAN_GROUP = 0x80;
constexpr std::uint8_t RECTIME_GROUP = 0xB0;

// ---- viewer protocol ----

struct ViewerHeader {
    std::uint8_t bCode = 0;
    std::uint16_t usTotalLen = 0;
    // As the camera sees them: the client's id travels big-endian, the camera's id least
    // significant byte first.
    std::uint32_t dwSenderId = 0;   // the client's id
    std::uint32_t dwReceiverId = 0; // the camera's id, 0 or 0xFFFFFFFF
};

// Parses a clear request; false when it is shorter than the header or the magic is wrong.
bool ParseViewerRequest(const std::uint8_t* pData, std::size_t nLen, ViewerHeader& hdr);

// A camera's reply: its own id least significant byte first at offset 8, the client's id
// big-endian at offset 12.
Bytes BuildViewerReply(std::uint8_t bCode, std::uint32_t dwCameraId, std::uint32_t dwClientId,
                       const Bytes& body);
// A request as the client frames it (the test client and the unit tests use it).
Bytes BuildViewerRequest(std::uint8_t bCode, std::uint32_t dwClientId, std::uint32_t dwCameraId,
                         const Bytes& body);

// Packet cipher of the encrypted variant, over a whole datagram: byte 0 stays clear; of the
// rest, up to six whole 8-byte blocks go through DES-ECB under the protocol key, what
// follows is XORed with 0x37. The cipher is its own inverse only in the XOR part.
void CipherEncrypt(std::uint8_t* pData, std::size_t nLen);
void CipherDecrypt(std::uint8_t* pData, std::size_t nLen);

// Online commands (the body of viewer code 8).
struct OnlineCommand {
    std::uint8_t bKind = 0;
    std::uint32_t dwCode = 0;
    std::uint32_t adwParam[5]{};
    std::uint32_t dwCheck = 0;
};
constexpr std::size_t ONLINE_BODY_LEN = 32;
bool ParseOnlineCommand(const std::uint8_t* pBody, std::size_t nLen, OnlineCommand& cmd);
// CRC-32 over the 28 checked bytes rendered with every 32-bit field least significant byte
// first, although they travel big-endian; that is what cameras compute.
std::uint32_t OnlineCheckValue(std::uint8_t bKind, std::uint32_t dwCode, const std::uint32_t (&adwParam)[5]);
// The same over a received body's first 28 bytes (marker and kind as they arrived).
std::uint32_t OnlineCheckValueOfBody(const std::uint8_t* pBody28);
Bytes BuildOnlineRequest(std::uint32_t dwCode, const std::uint32_t (&adwParam)[5]);
// A kind-2 reply body: marker, kind, two zero bytes, the code, then the data words.
Bytes BuildOnlineReply(std::uint32_t dwCode, const std::vector<std::uint32_t>& words);

std::uint32_t Crc32(const std::uint8_t* pData, std::size_t nLen);

// ---- passwords ----

using Password = std::array<std::uint8_t, 16>;
using Block16 = std::array<std::uint8_t, 16>;

// Zero-padded 16-byte field; false when the text is longer.
bool PasswordField(const std::string& strText, Password& pw);
std::string PasswordText(const Password& pw);
// DES_KA(S) || DES_KB(S); S = the sequence ids least significant byte first; K = the password,
// every byte doubled when bEncryptVersion is set. All zero for an empty password means "none".
Block16 CheckValue(const Password& pw, const std::uint32_t (&adwSeq)[2], std::uint8_t bEncryptVersion);
// The token a client must present: the same keys over the sequence ids plus 27561 and 41903.
Block16 ExpectedToken(const Password& pw, const std::uint32_t (&adwSeq)[2], std::uint8_t bEncryptVersion);
// Set-password body: four blocks each enciphered under the first 8 bytes of the old password.
void PasswordChangeCipher(std::uint8_t* pBody32, const Password& oldPw, bool bEncrypt);

// ---- LAN protocol ----

struct LanHeader {
    std::uint8_t bCode = 0;
    std::uint16_t usTotalLen = 0;
};
bool ParseLanPacket(const std::uint8_t* pData, std::size_t nLen, LanHeader& hdr);
Bytes BuildLanPacket(std::uint8_t bCode, const Bytes& body);

// ---- record-time protocol ----

struct RecTimeHeader {
    std::uint8_t bCode = 0;
    std::uint16_t usVersion = 0;
};
bool ParseRecTimePacket(const std::uint8_t* pData, std::size_t nLen, RecTimeHeader& hdr);
// The camera's reply packet: its record-time version goes in the field at offset 8.
Bytes BuildRecTimeReply(std::uint8_t bCode, std::uint16_t usVersion, const Bytes& body);
Bytes BuildRecTimeRequest(std::uint8_t bCode, const Bytes& body);

// ---- helpers ----

// Big-endian appenders for building bodies.
void PutU8(Bytes& b, std::uint8_t v);
void PutU16(Bytes& b, std::uint16_t v);
void PutU32(Bytes& b, std::uint32_t v);
void PutU32LE(Bytes& b, std::uint32_t v);
void PutBytes(Bytes& b, const std::uint8_t* p, std::size_t n);
// Fixed-width text: the first nField bytes of the text, zero-padded.
void PutText(Bytes& b, const std::string& s, std::size_t nField);

std::string ToHex(const std::uint8_t* p, std::size_t n);
bool FromHex(const std::string& s, Bytes& out);
std::string AddrToText(std::uint32_t dwAddr);
bool TextToAddr(const std::string& s, std::uint32_t& dwAddr);

} // namespace camsim
