// The PC's local IPv4 addresses.
#pragma once

#include "platform/wintypes.h"

#include <vector>

// Addresses (host order) of the interfaces that are up, not loopback, in the kernel's
// order; empty when none or when the list cannot be read.
std::vector<DWORD> GetLocalIPv4Addresses();
