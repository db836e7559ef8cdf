// Camera side of the LAN protocol: network parameters, D-server, Wi-Fi, 3G, codes 44/45 and
// the firmware upgrade.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "camera.h"
#include "env.h"

namespace camsim {

struct LanIn {
    const std::uint8_t* pData = nullptr;
    std::size_t nLen = 0;
    std::uint32_t dwSrcAddr = 0;
    bool bMulticast = false;
};

class CLanProtocol {
public:
    explicit CLanProtocol(IEnv& env) : m_env(env) {}

    void OnDatagram(Camera& cam, const LanIn& in);

private:
    void Dispatch(Camera& cam, const LanIn& in, std::uint8_t bCode, const std::uint8_t* p, std::size_t n);
    void Reply(Camera& cam, bool bMulticast, std::uint32_t dwAddr, std::uint8_t bCode, const Bytes& body);
    void FirmwareStep(Camera& cam, std::uint64_t uGen, std::size_t nStep);

    IEnv& m_env;
};

// Silent for dwMs, then back; with a firmware version the camera comes back running it.
void RebootCamera(IEnv& env, Camera& cam, std::uint32_t dwMs, std::optional<std::string> newFirmware = {});

Bytes BuildNetParamReport(const Camera& cam);
Bytes BuildWifiReply(const Camera& cam);

} // namespace camsim
