#include "platform/netif.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

std::vector<DWORD> GetLocalIPv4Addresses()
{
    // Resolving our own host name, the usual way elsewhere, yields only 127.0.1.1 on most
    // Linux installations, so the interface list is read instead.
    std::vector<DWORD> addresses;
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return addresses;
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET)
            continue;
        if ((p->ifa_flags & IFF_UP) == 0 || (p->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const auto* pSin = reinterpret_cast<const sockaddr_in*>(p->ifa_addr);
        addresses.push_back(ntohl(pSin->sin_addr.s_addr));
    }
    freeifaddrs(pList);
    return addresses;
}
