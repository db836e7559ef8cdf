// Language string tables: texts by numeric string id in English (9), Simplified Chinese
// (2052) and Traditional Chinese (1028), with English as the fallback.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <string>

// Built-in text tables by resource number.
constexpr int LANGUAGE_RESOURCE_ENGLISH = 132;
constexpr int LANGUAGE_RESOURCE_CHINESE_SIMPLIFIED = 130;
constexpr int LANGUAGE_RESOURCE_CHINESE_TRADITIONAL = 129;

// Longest text-table line (without its line end) that is read; longer lines are dropped.
constexpr std::size_t MAX_LANGUAGE_LINE = 1199;

// One entry of the built-in key table: the name a text table uses and the string id the
// program uses.
struct LanguageKey {
    const char* pszName;
    DWORD dwStringID;
};

// The built-in key table, in table order (generated from language/keys.txt).
std::span<const LanguageKey> GetLanguageKeys();
// A built-in text table by resource number; empty when there is none.
std::span<const BYTE> FindLanguageResource(int nResourceID);

// Reads a UTF-16LE text table (optional byte-order mark, CR LF lines of key, blanks, text)
// into mapTable. Keys missing from the key table and lines without text are skipped; "\n"
// in a text becomes CR LF; an id already in the map keeps its text, so the first line for
// an id wins. Returns the number of texts added.
std::size_t ParseLanguageTable(std::span<const BYTE> data, std::map<DWORD, std::u16string>& mapTable);

class CLanguageManager {
public:
    // Gives the bytes of a text table by resource number (empty when missing).
    using ResourceLoader = std::function<std::span<const BYTE>(int nResourceID)>;

    CLanguageManager();
    // For tests: text tables come from loader instead of the built-in ones.
    explicit CLanguageManager(ResourceLoader loader);
    virtual ~CLanguageManager();

    // True for exactly 9, 1028 and 2052.
    virtual bool IsLanguageSupported(int nLanguageID) const;
    virtual void LoadLanguage(int nLanguageID);
    // The current table's text, else the English one, else an empty text. Valid until
    // the next LoadLanguage.
    virtual const std::u16string& GetString(DWORD dwStringID) const;
    // The lowest id whose text (current table, else English) is strText; 0 when none is.
    DWORD FindStringID(const std::u16string& strText) const;

    int GetCurrentLanguage() const { return m_nLanguageID; }
    const std::string& GetLanguageFolder() const { return m_strLanguageFolder; }

private:
    void FillTable(int nResourceID, std::map<DWORD, std::u16string>& mapTable) const;

    int m_nLanguageID = 9;
    std::map<DWORD, std::u16string> m_mapCurrent;
    std::map<DWORD, std::u16string> m_mapEnglish;
    std::string m_strLanguageFolder;
    ResourceLoader m_fnLoader;
};

// Process-wide instance behind a created flag and pointer; DeleteLanguageManager clears
// both (start-up's last step).
CLanguageManager* GetLanguageManager();
void DeleteLanguageManager();
