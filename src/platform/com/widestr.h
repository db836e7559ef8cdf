// UTF-16 text (names in setup data, pin ids) to and from UTF-8 (registry values, file names).
// Unpaired surrogates and malformed UTF-8 become U+FFFD rather than failing.
#pragma once

#include <string>
#include <string_view>

std::string WideToUtf8(std::u16string_view str);
std::u16string Utf8ToWide(std::string_view str);
