// Profile files ("ini" files) with the semantics of the Windows profile API.
//
// Files are UTF-8 on disk (a UTF-8 byte order mark is accepted and kept). The narrow
// functions take and return UTF-8; the wide ones take and return UTF-16. Rules shared by all
// readers:
//  - section and key names compare without regard to case; surrounding blanks of names and
//    values are ignored; lines starting with ';' and blank lines are skipped;
//  - when a section or key occurs twice, the first one wins;
//  - a missing file reads as an empty one.
//
// Buffers are counted in characters of the buffer's type. A single value is copied
// truncated to nSize - 1 characters plus the terminator and the copied length is returned.
// Lists (section contents, key names, section names) are zero-ended strings followed by an
// extra zero; when a list does not fit, the last string is cut, two zeros end the buffer and
// nSize - 2 is returned.
#pragma once

#include "platform/wintypes.h"

// pszKey == nullptr lists the section's key names; pszSection == nullptr lists the section
// names. A null default is the empty text; trailing blanks of the default are dropped.
// A value enclosed in matching single or double quotes is returned without them.
DWORD GetPrivateProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                              char* pszBuffer, DWORD nSize, const char* pszFileName);
DWORD GetPrivateProfileString(const char16_t* pszSection, const char16_t* pszKey, const char16_t* pszDefault,
                              char16_t* pszBuffer, DWORD nSize, const char16_t* pszFileName);

// The value's leading decimal number (sign allowed, wrapping at 32 bits; no digits gives 0).
// A key that is absent or has an empty value gives nDefault.
UINT GetPrivateProfileInt(const char* pszSection, const char* pszKey, int nDefault, const char* pszFileName);
UINT GetPrivateProfileInt(const char16_t* pszSection, const char16_t* pszKey, int nDefault,
                          const char16_t* pszFileName);

// Every line of the section as "key=value" (or the bare line when it has no '='), as a list.
DWORD GetPrivateProfileSection(const char* pszSection, char* pszBuffer, DWORD nSize, const char* pszFileName);
DWORD GetPrivateProfileSection(const char16_t* pszSection, char16_t* pszBuffer, DWORD nSize,
                               const char16_t* pszFileName);

// Sets one key, replacing its first occurrence in the first matching section, or appending
// it to the section, or appending the section to the file (which is created if needed).
// Every other line is kept as it was. pszValue == nullptr deletes the key; pszKey == nullptr
// deletes the whole section. The file is replaced atomically. Returns FALSE when the file
// cannot be written or when a name or value would break the line structure (line breaks,
// '=' in a key, ']' in a section name, a key starting with ';' or '[').
BOOL WritePrivateProfileString(const char* pszSection, const char* pszKey, const char* pszValue,
                               const char* pszFileName);
BOOL WritePrivateProfileString(const char16_t* pszSection, const char16_t* pszKey, const char16_t* pszValue,
                               const char16_t* pszFileName);
