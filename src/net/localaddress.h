// Where the socket layer learns the PC's local IPv4 addresses.
#pragma once

#include "platform/wintypes.h"

#include <vector>

class ILocalAddressSource {
public:
    virtual ~ILocalAddressSource() = default;
    // Host-order addresses, in the order sockets are created for them; read anew each time.
    virtual std::vector<DWORD> GetLocalAddresses() = 0;
};

// The interfaces of this PC.
class CSystemLocalAddresses : public ILocalAddressSource {
public:
    std::vector<DWORD> GetLocalAddresses() override;
    static CSystemLocalAddresses* GetInstance();
};

// A fixed list, for tools and tests that must not touch the real interfaces.
class CFixedLocalAddresses : public ILocalAddressSource {
public:
    explicit CFixedLocalAddresses(std::vector<DWORD> addresses) : m_addresses(std::move(addresses)) {}
    std::vector<DWORD> GetLocalAddresses() override { return m_addresses; }

private:
    std::vector<DWORD> m_addresses;
};
