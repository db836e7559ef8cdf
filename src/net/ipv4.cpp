#include "net/ipv4.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace {

bool IsDigitsAndDots(const char* psz)
{
    for (const char* p = psz; *p != '\0'; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.')
            return false;
    }
    return true;
}

bool IsStrictForm(const char* psz)
{
    if (!IsDigitsAndDots(psz))
        return false;
    int nDots = 0;
    char cPrev = '\0';
    for (const char* p = psz; *p != '\0'; ++p) {
        if (*p == '.') {
            if (cPrev == '.')
                return false;
            ++nDots;
        }
        cPrev = *p;
    }
    return nDots == 3 && cPrev != '.';
}

} // namespace

DWORD ParseIPv4(const char* psz, BOOL bStrict)
{
    if (psz == nullptr)
        return 0;
    if (bStrict && !IsStrictForm(psz))
        return 0xFFFFFFFFu;
    if (*psz == '\0')
        return 0;
    // inet_aton accepts what inet_addr does, and tells 255.255.255.255 from a failure.
    in_addr addr{};
    if (inet_aton(psz, &addr) != 0)
        return ntohl(addr.s_addr);
    // Digits and dots that are no address are no host name either: no resolver query.
    if (!IsDigitsAndDots(psz)) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* pResult = nullptr;
        if (getaddrinfo(psz, nullptr, &hints, &pResult) == 0 && pResult != nullptr) {
            const DWORD dwIP = ntohl(reinterpret_cast<const sockaddr_in*>(pResult->ai_addr)->sin_addr.s_addr);
            freeaddrinfo(pResult);
            return dwIP;
        }
    }
    errno = EINVAL;
    return 0;
}
