// Start-up decisions that do not need a window, kept apart from the application object
// so they can be exercised on their own.
#pragma once

#include "platform/wintypes.h"

class CConfigFileManager;
class CLanguageManager;

// The language the client starts in: the configured id when supported; otherwise the
// user's default language when supported, else English (9). In both fallback cases the
// choice is written back to the settings file (which only happens if the file exists).
int ChooseStartupLanguage(CConfigFileManager& config, const CLanguageManager& language,
                          int nUserDefaultLanguageID);
