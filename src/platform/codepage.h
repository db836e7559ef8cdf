// ANSI code pages and wide text.
//
// Wide text is UTF-16 (std::u16string), as on the wire and in the language tables. The
// narrow "ANSI" text of the client follows the chosen language: Simplified Chinese uses
// GBK, Traditional Chinese Big5, everything else Windows-1252. Conversions never fail:
// bytes that are not valid in the source encoding become U+FFFD (to wide) and characters
// the target cannot hold become '?' (to narrow), and conversion goes on after them.
#pragma once

#include "platform/wintypes.h"

#include <string>

constexpr UINT CP_GBK = 936;
constexpr UINT CP_BIG5 = 950;
constexpr UINT CP_WESTERN = 1252;
constexpr UINT CP_UTF8 = 65001;

// 2052 -> 936, 1028 -> 950, any other language id -> 1252.
UINT CodePageForLanguage(int nLanguageID);

// Code pages other than 936, 950, 1252 and 65001 are looked up as "CP<n>"; one that the
// system does not know converts as 1252.
std::u16string AnsiToWide(const std::string& strBytes, UINT uCodePage);
std::string WideToAnsi(const std::u16string& strWide, UINT uCodePage);

std::u16string Utf8ToWide(const std::string& strUtf8);
std::string WideToUtf8(const std::u16string& strWide);
