// What the protocol handlers need from their surroundings: a clock, timers, the sockets of a
// camera. The simulator's event loop provides it; unit tests provide a recording fake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "wire.h"

namespace camsim {

struct Camera;

// The camera's own sockets: the clear and the encrypted viewer port, and the LAN port.
enum class Channel { ViewerClear, ViewerEncrypted, Lan };

class IEnv {
public:
    virtual ~IEnv() = default;
    virtual std::uint64_t NowMs() = 0;
    // Sends from the camera's (top-level) socket of that channel.
    virtual void Send(Camera& host, Channel ch, std::uint32_t dwDstAddr, std::uint16_t usDstPort,
                      Bytes data) = 0;
    virtual void After(std::uint32_t dwMs, std::function<void()> fn) = 0;
    // The camera's address changed (network parameters set): its sockets follow.
    virtual void MoveCamera(Camera& host, std::uint32_t dwNewAddr) = 0;
    virtual void Log(const std::string& strLine) = 0;

    // What the media side needs to hear of; the event loop's media engine takes it.
    virtual void OnVideoStart(Camera& cam, bool bByMulticast) {}
    virtual void OnVideoStop(Camera& cam) {}
    virtual void OnRecTimeMedia(Camera& cam, std::uint8_t bCode, const std::uint8_t* pBody, std::size_t nBody)
    {
    }
    virtual void OnTalkAudio(Camera& cam, const std::uint8_t* pData, std::size_t nLen) {}
};

// Where a reply to one received request goes.
struct ReplyRoute {
    Camera* pHost = nullptr; // the camera whose sockets answer
    bool bMulticast = false;
    bool bEncrypted = false;
    std::uint32_t dwAddr = 0; // the requester
    std::uint16_t usPort = 0;
    std::uint32_t dwClientId = 0;
};

} // namespace camsim
