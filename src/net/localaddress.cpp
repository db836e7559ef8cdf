#include "net/localaddress.h"

#include "platform/netif.h"

std::vector<DWORD> CSystemLocalAddresses::GetLocalAddresses()
{
    return GetLocalIPv4Addresses();
}

CSystemLocalAddresses* CSystemLocalAddresses::GetInstance()
{
    static CSystemLocalAddresses s_instance;
    return &s_instance;
}
