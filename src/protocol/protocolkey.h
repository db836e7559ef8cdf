// The key of the viewer protocol's encrypted variant, shared by the client and the camera
// simulator: both ends must hold the same eight bytes.
//
// Built at run time from single-byte constants so that the key is not one string in the
// binary; it is eight printable characters, used as a DES key with the parity bits ignored.
#pragma once

#include <array>
#include <cstdint>

inline std::array<std::uint8_t, 8> GetProtocolKey()
{
    std::array<std::uint8_t, 8> abKey{};
    abKey[0] = 0x5A;
    abKey[1] = 0x71;
    abKey[2] = 0x37;
    abKey[3] = 0x23;
    abKey[4] = 0x6D;
    abKey[5] = 0x56;
    abKey[6] = 0x78;
    abKey[7] = 0x32;
    return abKey;
}
