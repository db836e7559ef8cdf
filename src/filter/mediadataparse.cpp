#include "filter/mediadataparse.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace {

const char16_t* const g_formats[] = {
    u"YYYY-MM-DD HH:mm:ss",      u"MM-DD-YYYY HH:mm:ss",      u"DD-MM-YYYY HH:mm:ss",
    u"YYYY-MM-DD week HH:mm:ss", u"MM-DD-YYYY week HH:mm:ss", u"DD-MM-YYYY week HH:mm:ss",
    u"YYYY-MM-DD 星期 HH:mm:ss", u"MM-DD-YYYY 星期 HH:mm:ss", u"DD-MM-YYYY 星期 HH:mm:ss",
};
constexpr int FORMAT_COUNT = 9;

uint32_t ReadLe32(const uint8_t* pb)
{
    return pb[0] | (pb[1] << 8) | (pb[2] << 16) | (static_cast<uint32_t>(pb[3]) << 24);
}

// Replaces every occurrence of the token by the value, zero-padded to the token's length.
void ReplaceToken(std::u16string& str, std::u16string_view token, int nValue)
{
    char szDigits[16];
    std::snprintf(szDigits, sizeof szDigits, "%0*d", static_cast<int>(token.size()), nValue);
    const std::u16string strDigits(szDigits, szDigits + std::strlen(szDigits));
    for (size_t nAt = str.find(token); nAt != std::u16string::npos;
         nAt = str.find(token, nAt + strDigits.size()))
        str.replace(nAt, token.size(), strDigits);
}

void ReplaceText(std::u16string& str, std::u16string_view token, const std::u16string& strBy)
{
    for (size_t nAt = str.find(token); nAt != std::u16string::npos; nAt = str.find(token, nAt + strBy.size()))
        str.replace(nAt, token.size(), strBy);
}

template <size_t N> void CopyText(char16_t (&szTo)[N], const std::u16string& str)
{
    const size_t nCount = std::min(str.size(), N - 1);
    std::copy_n(str.data(), nCount, szTo);
    std::fill(szTo + nCount, szTo + N, u'\0');
}

std::u16string Utf8ToUtf16(const char* psz)
{
    std::u16string str;
    const auto* p = reinterpret_cast<const unsigned char*>(psz);
    while (*p != 0) {
        char32_t c = *p;
        int nMore = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (nMore > 0)
            c &= 0x3F >> nMore;
        ++p;
        for (; nMore > 0 && (*p & 0xC0) == 0x80; --nMore, ++p)
            c = (c << 6) | (*p & 0x3F);
        if (c >= 0x10000) {
            str.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            str.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            str.push_back(static_cast<char16_t>(c));
        }
    }
    return str;
}

} // namespace

std::u16string CMediaDataParse::WeekdayName(int nWeekday)
{
    static const locale_t hLocale = [] {
        locale_t h = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
        return h != static_cast<locale_t>(0) ? h : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    }();
    return Utf8ToUtf16(nl_langinfo_l(static_cast<nl_item>(ABDAY_1 + (nWeekday % 7 + 7) % 7), hLocale));
}

bool CMediaDataParse::Parse(const uint8_t* pbData, uint32_t dwLength)
{
    if (pbData == nullptr || dwLength == 0)
        return false;
    const uint32_t L = pbData[0];
    if (L >= dwLength || L <= 9)
        return false;

    const uint8_t F = pbData[1];
    if ((F & 0x20) == 0) {
        m_record.bMirror = (F >> 4) & 1;
        m_record.bRotate = 0;
    } else {
        m_record.bMirror = ((F >> 4) & 1) ^ 1;
        m_record.bRotate = 1;
    }

    const uint32_t dwConsumed = 9;
    const time_t tTime = static_cast<int32_t>(ReadLe32(pbData + 2));
    const uint32_t dwSubSecond = ReadLe32(pbData + 6);
    struct tm tmTime {};
    if ((F & 0x80) != 0 || gmtime_r(&tTime, &tmTime) == nullptr) {
        std::fill(std::begin(m_record.szTime), std::end(m_record.szTime), u'\0');
    } else {
        int K = F & 0xCF;
        if (K >= FORMAT_COUNT)
            K = 0;
        CopyText(m_record.szFormat, g_formats[K]);
        std::u16string str = m_record.szFormat;
        ReplaceToken(str, u"aaaa", static_cast<int>(dwSubSecond / 1000));
        ReplaceToken(str, u"aaa", static_cast<int>(dwSubSecond / 1000));
        ReplaceToken(str, u"YYYY", tmTime.tm_year + 1900);
        ReplaceToken(str, u"YY", (tmTime.tm_year + 1900) % 100);
        ReplaceToken(str, u"MM", tmTime.tm_mon + 1);
        ReplaceToken(str, u"M", tmTime.tm_mon + 1);
        ReplaceToken(str, u"DD", tmTime.tm_mday);
        ReplaceToken(str, u"D", tmTime.tm_mday);
        ReplaceToken(str, u"HH", tmTime.tm_hour);
        ReplaceToken(str, u"hh", tmTime.tm_hour % 12);
        ReplaceToken(str, u"mm", tmTime.tm_min);
        ReplaceToken(str, u"m", tmTime.tm_min);
        ReplaceToken(str, u"ss", tmTime.tm_sec);
        ReplaceToken(str, u"s", tmTime.tm_sec);
        ReplaceText(str, u"week", WeekdayName(tmTime.tm_wday));
        CopyText(m_record.szTime, str);
    }

    // The caption length byte and its text must lie inside the header: checked before the
    // copy so a short sample is never read past its end.
    uint32_t dwCaptionUsed = 0;
    if (L > dwConsumed + 1) {
        const uint32_t N = pbData[1 + dwConsumed];
        dwCaptionUsed = 1;
        if (N != 255)
            dwCaptionUsed += N;
        if (L < dwConsumed + dwCaptionUsed + 1)
            return false;
        if (N == 0) {
            std::fill(std::begin(m_record.szCaption), std::end(m_record.szCaption), u'\0');
        } else if (N != 255) {
            std::fill(std::begin(m_record.szCaption), std::end(m_record.szCaption), u'\0');
            std::memcpy(m_record.szCaption, pbData + 2 + dwConsumed, N);
        }
    }

    m_record.pbPayload = pbData + L;
    m_record.dwPayloadLength = dwLength - L;
    return true;
}
