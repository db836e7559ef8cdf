// The simulator's event loop: one thread, epoll over every socket, a timer queue, and the
// control socket.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env.h"
#include "lan.h"
#include "media.h"
#include "scenario.h"
#include "viewer.h"

namespace camsim {

// SIGINT and SIGTERM end Run; SIGPIPE is ignored.
void InstallSignalHandlers();

struct SimOptions {
    std::vector<std::string>
        interfaces;             // to join the request groups on; empty: those holding camera addresses
    std::string strControlPath; // Unix socket for line commands; empty: none
    bool bVerbose = false;
    std::string strMediaLog; // one line per sent media frame; "-" for standard output
};

class CSimulator : public IEnv {
public:
    CSimulator(Scenario scenario, SimOptions options);
    ~CSimulator() override;

    // Opens every socket; false with a message when that is impossible.
    bool Open(std::string& strError);
    // Runs until Stop (the control command "quit", or a signal).
    void Run();
    void Stop() { m_bStop = true; }

    // One control line in, one JSON line out.
    std::string Control(const std::string& strLine);

    // IEnv
    std::uint64_t NowMs() override;
    void Send(Camera& host, Channel ch, std::uint32_t dwDstAddr, std::uint16_t usDstPort,
              Bytes data) override;
    void After(std::uint32_t dwMs, std::function<void()> fn) override;
    void MoveCamera(Camera& host, std::uint32_t dwNewAddr) override;
    void Log(const std::string& strLine) override;
    void OnVideoStart(Camera& cam, bool bByMulticast) override;
    void OnVideoStop(Camera& cam) override;
    void OnRecTimeMedia(Camera& cam, std::uint8_t bCode, const std::uint8_t* pBody,
                        std::size_t nBody) override;
    void OnTalkAudio(Camera& cam, const std::uint8_t* pData, std::size_t nLen) override;

private:
    enum class Kind {
        ViewerGroup,
        ViewerGroupEnc,
        LanGroup,
        ViewerUni,
        ViewerUniEnc,
        LanUni,
        ControlListen,
        ControlConn
    };
    struct Sock {
        int fd = -1;
        Kind kind;
        Camera* pCam = nullptr;
        std::string strIn; // control connections: partial line
    };

    bool OpenGroup(Kind kind, std::uint32_t dwGroup, std::uint16_t usPort, std::string& strError);
    bool BindCamera(Camera& cam, std::string& strError);
    void CloseCamera(Camera& cam);
    int OpenUdp(std::uint32_t dwAddr, std::uint16_t usPort, bool bFreeBind, std::string& strError);
    void Watch(int fd, Kind kind, Camera* pCam);
    void Unwatch(int fd);
    void OnReadable(int fd);
    void Deliver(Camera& cam, Kind kind, const Bytes& data, std::uint32_t dwSrc, std::uint16_t usPort);
    void RunTimers();
    Camera* Select(const std::string& strSel);

    Scenario m_scenario;
    SimOptions m_options;
    CViewerProtocol m_viewer;
    CLanProtocol m_lan;
    int m_epoll = -1;
    std::map<int, Sock> m_socks;
    struct CamSocks {
        int fdViewer = -1, fdViewerEnc = -1, fdLan = -1;
        int fdMedia = -1; // opened with the first media datagram; not read
    };
    void SendMedia(Camera& root, std::uint32_t dwDst, std::uint16_t usPort, const Bytes& data);
    std::unique_ptr<CMediaEngine> m_media;
    std::ofstream m_mediaLog;
    std::map<Camera*, CamSocks> m_camSocks;
    std::multimap<std::uint64_t, std::function<void()>> m_timers;
    std::vector<std::uint32_t> m_groupIfIndex;
    bool m_bStop = false;
    std::uint64_t m_uDroppedUnsafe = 0;
};

} // namespace camsim
