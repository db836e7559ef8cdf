// The user's language as a Windows language id.
#pragma once

#include "platform/wintypes.h"

#include <string>

using LANGID = WORD;

// From the user's locale: LC_ALL, else LC_MESSAGES, else LANG (the first one set and
// non-empty). 1033 (English, United States) when none is set, for "C"/"POSIX" and for
// languages this table does not know.
LANGID GetUserDefaultLangID();

// The same for one locale name: "zh_CN.UTF-8", "de_AT@euro", "zh-TW", "zh_Hant", "fr".
// A known language with an unknown or missing territory gives that language's main id.
LANGID LangIdFromLocaleName(const std::string& strLocale);
