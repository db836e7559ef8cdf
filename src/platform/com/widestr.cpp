#include "platform/com/widestr.h"

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& str, char32_t c)
{
    if (c < 0x80) {
        str += static_cast<char>(c);
    } else if (c < 0x800) {
        str += static_cast<char>(0xC0 | (c >> 6));
        str += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        str += static_cast<char>(0xE0 | (c >> 12));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        str += static_cast<char>(0xF0 | (c >> 18));
        str += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    }
}
} // namespace

std::string WideToUtf8(std::u16string_view str)
{
    std::string strOut;
    strOut.reserve(str.size());
    for (std::size_t i = 0; i < str.size(); ++i) {
        const char32_t c = str[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < str.size() && str[i + 1] >= 0xDC00 &&
            str[i + 1] <= 0xDFFF) {
            AppendUtf8(strOut, 0x10000 + ((c - 0xD800) << 10) + (str[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(strOut, kReplacement);
        } else {
            AppendUtf8(strOut, c);
        }
    }
    return strOut;
}

std::u16string Utf8ToWide(std::string_view str)
{
    std::u16string strOut;
    strOut.reserve(str.size());
    std::size_t i = 0;
    while (i < str.size()) {
        const unsigned char b = static_cast<unsigned char>(str[i]);
        int nMore = 0;
        char32_t c = 0;
        char32_t cMin = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            nMore = 1, c = b & 0x1F, cMin = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            nMore = 2, c = b & 0x0F, cMin = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            nMore = 3, c = b & 0x07, cMin = 0x10000;
        } else {
            strOut += char16_t(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = 1;
        for (; j <= std::size_t(nMore) && i + j < str.size(); ++j) {
            const unsigned char t = static_cast<unsigned char>(str[i + j]);
            if ((t & 0xC0) != 0x80)
                break;
            c = (c << 6) | (t & 0x3F);
        }
        if (j != std::size_t(nMore) + 1 || c < cMin || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            strOut += char16_t(kReplacement);
            i += j; // skip the lead byte and the continuation bytes read
            continue;
        }
        i += j;
        if (c >= 0x10000) {
            c -= 0x10000;
            strOut += char16_t(0xD800 + (c >> 10));
            strOut += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            strOut += char16_t(c);
        }
    }
    return strOut;
}
