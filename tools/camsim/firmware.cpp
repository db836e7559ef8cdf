#include "firmware.h"

#include <cstring>
#include <random>

#include "protocol/packet.h"

namespace camsim {

namespace {

const char kMagic[8] = {'V', 'S', 'T', 'R', 'L', 'I', 'M', 'G'};

bool PrintableVersion(const std::string& s)
{
    if (s.empty() || s.size() > IMAGE_VERSION_LEN)
        return false;
    for (char c : s)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

} // namespace

bool MakeFirmwareImage(const std::string& strVersion, std::size_t nTotalSize, std::uint32_t dwSeed,
                       Bytes& out, std::string& strError)
{
    if (!PrintableVersion(strVersion)) {
        strError = "the version must be 1 to 32 printable ASCII characters";
        return false;
    }
    if (nTotalSize < IMAGE_HEADER_LEN || nTotalSize - IMAGE_HEADER_LEN > 0xFFFFFFFFu) {
        strError = "the size must be at least 64 bytes (the header)";
        return false;
    }
    const std::size_t nPayload = nTotalSize - IMAGE_HEADER_LEN;
    Bytes payload(nPayload);
    std::mt19937 rng(dwSeed);
    for (auto& b : payload)
        b = static_cast<std::uint8_t>(rng());
    Bytes h;
    PutBytes(h, reinterpret_cast<const std::uint8_t*>(kMagic), 8);
    PutU32(h, 1);
    PutU32(h, IMAGE_HEADER_LEN);
    PutText(h, strVersion, IMAGE_VERSION_LEN);
    PutU32(h, static_cast<std::uint32_t>(nPayload));
    PutU32(h, Crc32(payload.data(), payload.size()));
    PutU32(h, Crc32(h.data(), h.size()));
    PutU32(h, 0);
    out = std::move(h);
    out.insert(out.end(), payload.begin(), payload.end());
    return true;
}

bool CheckFirmwareImage(const Bytes& image, std::string& strVersion, std::string& strError)
{
    if (image.size() < IMAGE_HEADER_LEN) {
        strError = "shorter than the header";
        return false;
    }
    if (std::memcmp(image.data(), kMagic, 8) != 0) {
        strError = "bad magic";
        return false;
    }
    CPacketReader r(image.data(), image.size());
    r.Skip(8);
    const std::uint32_t dwFormat = r.ReadUInt32();
    const std::uint32_t dwHeaderLen = r.ReadUInt32();
    const std::string strText = r.ReadFixedString(IMAGE_VERSION_LEN);
    const std::uint32_t dwPayload = r.ReadUInt32();
    const std::uint32_t dwPayloadCrc = r.ReadUInt32();
    const std::uint32_t dwHeaderCrc = r.ReadUInt32();
    if (dwFormat != 1 || dwHeaderLen != IMAGE_HEADER_LEN) {
        strError = "unknown header format";
        return false;
    }
    if (Crc32(image.data(), 56) != dwHeaderCrc) {
        strError = "header CRC mismatch";
        return false;
    }
    if (image.size() != IMAGE_HEADER_LEN + std::size_t{dwPayload}) {
        strError = "length does not match the header";
        return false;
    }
    if (Crc32(image.data() + IMAGE_HEADER_LEN, dwPayload) != dwPayloadCrc) {
        strError = "payload CRC mismatch";
        return false;
    }
    if (!PrintableVersion(strText)) {
        strError = "version text is not printable";
        return false;
    }
    strVersion = strText;
    return true;
}

} // namespace camsim
