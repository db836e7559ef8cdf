// Dotted IPv4 address texts.
#pragma once

#include "platform/wintypes.h"

// The address in host order. Not strict: the text as an address, else as a host name;
// 0 (errno EINVAL) when neither, and 0 for an empty text. Strict: the text must be digits
// and dots with exactly three dots, no two in a row and none at the end, else 0xFFFFFFFF;
// then as not strict.
DWORD ParseIPv4(const char* psz, BOOL bStrict);
