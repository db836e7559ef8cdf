#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>
#include <map>
#include <memory>
#include <utility>

namespace {

constexpr const char* kWideEncoding = "UTF-16LE";

std::string EncodingName(UINT uCodePage)
{
    switch (uCodePage) {
    case CP_UTF8:
        return "UTF-8";
    case CP_GBK:
        return "CP936";
    case CP_BIG5:
        return "CP950";
    default:
        return "CP" + std::to_string(uCodePage);
    }
}

class CIconv {
public:
    CIconv(const std::string& strTo, const std::string& strFrom)
        : m_cd(iconv_open(strTo.c_str(), strFrom.c_str()))
    {
    }
    ~CIconv()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    // iconv_open reports failure as (iconv_t)-1.
    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); } // NOLINT(performance-no-int-to-ptr)
    iconv_t Handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Converts a whole buffer. An input unit (nUnit bytes) that the source encoding rejects is
// replaced by strReplacement and skipped; an incomplete sequence at the end is replaced
// once and ends the conversion.
std::string Convert(iconv_t cd, const std::string& strIn, std::size_t nUnit,
                    const std::string& strReplacement)
{
    std::string strOut;
    if (strIn.empty())
        return strOut;
    std::string strChunk(strIn.size() * 4 + 16, '\0');
    char* pIn = const_cast<char*>(strIn.data());
    std::size_t nInLeft = strIn.size();
    while (true) {
        char* pOut = strChunk.data();
        std::size_t nOutLeft = strChunk.size();
        const std::size_t nResult = iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft);
        const int nError = errno;
        strOut.append(strChunk.data(), strChunk.size() - nOutLeft);
        if (nResult != static_cast<std::size_t>(-1)) {
            if (nInLeft == 0) {
                // Flush any shift state before finishing.
                char* pFlush = strChunk.data();
                std::size_t nFlushLeft = strChunk.size();
                iconv(cd, nullptr, nullptr, &pFlush, &nFlushLeft);
                strOut.append(strChunk.data(), strChunk.size() - nFlushLeft);
                break;
            }
            continue;
        }
        if (nError == E2BIG)
            continue;
        strOut += strReplacement;
        if (nError == EILSEQ) {
            const std::size_t nSkip = nInLeft < nUnit ? nInLeft : nUnit;
            pIn += nSkip;
            nInLeft -= nSkip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (nInLeft == 0)
                break;
            continue;
        }
        // EINVAL: the input ends inside a multi-byte sequence.
        break;
    }
    return strOut;
}

std::string WideToBytes(const std::u16string& strWide)
{
    std::string strBytes;
    strBytes.reserve(strWide.size() * 2);
    for (char16_t ch : strWide) {
        strBytes.push_back(static_cast<char>(ch & 0xFF));
        strBytes.push_back(static_cast<char>(ch >> 8));
    }
    return strBytes;
}

std::u16string BytesToWide(const std::string& strBytes)
{
    std::u16string strWide;
    strWide.reserve(strBytes.size() / 2);
    for (std::size_t i = 0; i + 1 < strBytes.size(); i += 2) {
        strWide.push_back(static_cast<char16_t>(static_cast<unsigned char>(strBytes[i]) |
                                                (static_cast<unsigned char>(strBytes[i + 1]) << 8)));
    }
    return strWide;
}

// Opens a converter between the code page and UTF-16, falling back to Windows-1252.
bool OpenFor(std::unique_ptr<CIconv>& pConv, UINT uCodePage, bool bToWide)
{
    for (const std::string& strName : {EncodingName(uCodePage), EncodingName(CP_WESTERN)}) {
        pConv = bToWide ? std::make_unique<CIconv>(kWideEncoding, strName)
                        : std::make_unique<CIconv>(strName, kWideEncoding);
        if (pConv->IsOpen())
            return true;
    }
    return false;
}

// Opening a converter loads and sets up its tables, which costs far more than converting a
// file name: each thread keeps the ones it used, a failed open included. Null when none opens.
iconv_t Converter(UINT uCodePage, bool bToWide)
{
    thread_local std::map<std::pair<UINT, bool>, std::unique_ptr<CIconv>> s_mapOpen;
    std::unique_ptr<CIconv>& pConv = s_mapOpen[{uCodePage, bToWide}];
    if (!pConv)
        OpenFor(pConv, uCodePage, bToWide);
    if (!pConv || !pConv->IsOpen())
        return nullptr;
    // A conversion cut short may have left shift state behind.
    iconv(pConv->Handle(), nullptr, nullptr, nullptr, nullptr);
    return pConv->Handle();
}

} // namespace

UINT CodePageForLanguage(int nLanguageID)
{
    switch (nLanguageID) {
    case 2052:
        return CP_GBK;
    case 1028:
        return CP_BIG5;
    default:
        return CP_WESTERN;
    }
}

std::u16string AnsiToWide(const std::string& strBytes, UINT uCodePage)
{
    iconv_t cd = Converter(uCodePage, true);
    if (cd == nullptr) {
        // No converter at all: keep ASCII, replace the rest.
        std::u16string strWide;
        for (unsigned char ch : strBytes)
            strWide.push_back(ch < 0x80 ? char16_t(ch) : u'\xFFFD');
        return strWide;
    }
    return BytesToWide(Convert(cd, strBytes, 1, std::string("\xFD\xFF", 2)));
}

std::string WideToAnsi(const std::u16string& strWide, UINT uCodePage)
{
    iconv_t cd = Converter(uCodePage, false);
    if (cd == nullptr) {
        std::string strOut;
        for (char16_t ch : strWide)
            strOut.push_back(ch < 0x80 ? char(ch) : '?');
        return strOut;
    }
    return Convert(cd, WideToBytes(strWide), 2, "?");
}

std::u16string Utf8ToWide(const std::string& strUtf8)
{
    return AnsiToWide(strUtf8, CP_UTF8);
}

std::string WideToUtf8(const std::u16string& strWide)
{
    return WideToAnsi(strWide, CP_UTF8);
}
