#include "platform/com/guid.h"

#include <cstdio>

std::string GuidToString(const GUID& guid)
{
    char sz[40];
    std::snprintf(sz, sizeof(sz), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.Data1),
                  unsigned(guid.Data2), unsigned(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return sz;
}
