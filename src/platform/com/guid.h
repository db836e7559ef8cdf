// Globally unique identifiers: class ids, interface ids, media type ids.
//
// The layout is the Win32 one (32-16-16-8x8), so ids written in the registry form
// "{6362657A-1111-0010-8000-00AA00389B71}" read back to the same value everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b)
    {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
    // Ordering only so that ids can key a std::map.
    friend constexpr bool operator<(const GUID& a, const GUID& b)
    {
        if (a.Data1 != b.Data1)
            return a.Data1 < b.Data1;
        if (a.Data2 != b.Data2)
            return a.Data2 < b.Data2;
        if (a.Data3 != b.Data3)
            return a.Data3 < b.Data3;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return a.Data4[i] < b.Data4[i];
        return false;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

namespace guid_detail {
constexpr int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace guid_detail

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without the braces, any case.
// Anything else (short, long, stray characters, one brace only) is refused and *pGuid is untouched.
constexpr bool GuidFromString(std::string_view str, GUID* pGuid)
{
    if (str.size() == 38) {
        if (str.front() != '{' || str.back() != '}')
            return false;
        str = str.substr(1, 36);
    }
    if (str.size() != 36)
        return false;
    std::uint8_t abBytes[16] = {};
    std::size_t nByte = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (str[i] != '-')
                return false;
            ++i;
            continue;
        }
        const int nHigh = guid_detail::HexValue(str[i]);
        const int nLow = guid_detail::HexValue(str[i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        abBytes[nByte++] = static_cast<std::uint8_t>(nHigh * 16 + nLow);
        i += 2;
    }
    GUID guid{};
    guid.Data1 =
        (DWORD(abBytes[0]) << 24) | (DWORD(abBytes[1]) << 16) | (DWORD(abBytes[2]) << 8) | abBytes[3];
    guid.Data2 = static_cast<WORD>((abBytes[4] << 8) | abBytes[5]);
    guid.Data3 = static_cast<WORD>((abBytes[6] << 8) | abBytes[7]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = abBytes[8 + i];
    *pGuid = guid;
    return true;
}

// A GUID from a literal known to be well formed; a malformed literal fails to compile when
// used in a constant expression.
consteval GUID MakeGuid(std::string_view str)
{
    GUID guid{};
    if (!GuidFromString(str, &guid))
        throw "malformed GUID literal";
    return guid;
}

// Registry form: "{6362657A-1111-0010-8000-00AA00389B71}", upper-case hex.
std::string GuidToString(const GUID& guid);

// The four-character code as a 32-bit value, first character in the low byte ("YV12").
constexpr DWORD MakeFourCC(const char (&sz)[5])
{
    return DWORD(BYTE(sz[0])) | (DWORD(BYTE(sz[1])) << 8) | (DWORD(BYTE(sz[2])) << 16) |
           (DWORD(BYTE(sz[3])) << 24);
}

// The media subtype GUID of a four-character code: fourcc-0000-0010-8000-00AA00389B71.
constexpr GUID FourCCGuid(DWORD dwFourCC)
{
    return GUID{dwFourCC, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
