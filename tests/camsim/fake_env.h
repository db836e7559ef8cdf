// A recording stand-in for the simulator's event loop: sends are kept, time is moved by hand.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "camera.h"
#include "env.h"

namespace camsim::test {

struct Sent {
    Camera* pHost;
    Channel ch;
    std::uint32_t dwDst;
    std::uint16_t usPort;
    Bytes data;
};

class CFakeEnv : public IEnv {
public:
    std::uint64_t NowMs() override { return m_now; }
    void Send(Camera& host, Channel ch, std::uint32_t dwDst, std::uint16_t usPort, Bytes data) override
    {
        sent.push_back({&host, ch, dwDst, usPort, std::move(data)});
    }
    void After(std::uint32_t dwMs, std::function<void()> fn) override
    {
        m_timers.emplace(m_now + dwMs, std::move(fn));
    }
    void MoveCamera(Camera& host, std::uint32_t dwNewAddr) override
    {
        moves.push_back(dwNewAddr);
        host.dwAddr = dwNewAddr;
    }
    void Log(const std::string&) override {}

    // Runs every timer due up to now + dwMs, in order.
    void Advance(std::uint64_t dwMs)
    {
        const std::uint64_t end = m_now + dwMs;
        while (!m_timers.empty() && m_timers.begin()->first <= end) {
            m_now = std::max(m_now, m_timers.begin()->first);
            auto fn = std::move(m_timers.begin()->second);
            m_timers.erase(m_timers.begin());
            fn();
        }
        m_now = end;
    }

    std::vector<Sent> sent;
    std::vector<std::uint32_t> moves;

private:
    std::uint64_t m_now = 1000;
    std::multimap<std::uint64_t, std::function<void()>> m_timers;
};

} // namespace camsim::test
