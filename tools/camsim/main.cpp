// vistrel-camsim: plays the cameras of a scenario file, builds firmware images, and talks to a
// running simulator's control socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "firmware.h"
#include "media.h"
#include "scenario.h"
#include "sim.h"

using namespace camsim;

namespace {

int MakeImage(const std::string& strVersion, std::size_t nSize, std::uint32_t dwSeed,
              const std::string& strOut)
{
    Bytes image;
    std::string strError;
    if (!MakeFirmwareImage(strVersion, nSize, dwSeed, image, strError)) {
        std::cerr << "vistrel-camsim: " << strError << std::endl;
        return 2;
    }
    std::ofstream out(strOut, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out) {
        std::cerr << "vistrel-camsim: cannot write " << strOut << std::endl;
        return 1;
    }
    std::cout << strOut << ": " << image.size() << " bytes, version " << strVersion << std::endl;
    return 0;
}

int CheckImage(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in) {
        std::cerr << "vistrel-camsim: cannot read " << strPath << std::endl;
        return 1;
    }
    const Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string strVersion, strError;
    if (!CheckFirmwareImage(image, strVersion, strError)) {
        std::cout << strPath << ": not valid: " << strError << std::endl;
        return 1;
    }
    std::cout << strPath << ": valid, version " << strVersion << ", " << image.size() << " bytes"
              << std::endl;
    return 0;
}

// Sends one line to a running simulator and prints its one-line answer.
int SendControl(const std::string& strPath, const std::string& strLine)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un su{};
    su.sun_family = AF_UNIX;
    if (fd < 0 || strPath.size() >= sizeof su.sun_path) {
        std::cerr << "vistrel-camsim: bad control socket path" << std::endl;
        return 1;
    }
    std::strcpy(su.sun_path, strPath.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&su), sizeof su) != 0) {
        std::cerr << "vistrel-camsim: cannot connect to " << strPath << ": " << std::strerror(errno)
                  << std::endl;
        close(fd);
        return 1;
    }
    const std::string out = strLine + "\n";
    if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) {
        close(fd);
        return 1;
    }
    std::string answer;
    char buf[4096];
    ssize_t n;
    while (answer.find('\n') == std::string::npos && (n = read(fd, buf, sizeof buf)) > 0)
        answer.append(buf, static_cast<std::size_t>(n));
    close(fd);
    std::cout << answer;
    return answer.rfind("{\"ok\":true", 0) == 0 || answer.find("\"ok\":true") != std::string::npos ? 0 : 1;
}

// Prints (and with strOut writes) the SD frame a camera of the scenario holds at a second and
// an index within it, as the download and playback send it.
int PrintSdFrame(const Scenario& scenario, const std::vector<std::string>& args, const std::string& strOut)
{
    if (args.size() != 3) {
        std::cerr << "vistrel-camsim: --sd-frame takes CAMERA-ID SECONDS INDEX" << std::endl;
        return 2;
    }
    const auto dwId = static_cast<std::uint32_t>(std::strtoul(args[0].c_str(), nullptr, 0));
    std::uint32_t dwTime = 0;
    if (!ParseTime(args[1], dwTime)) {
        std::cerr << "vistrel-camsim: not a time: " << args[1] << std::endl;
        return 2;
    }
    // "all" prints every frame of the second: a checker needs the clip once, not once a frame.
    const bool bAll = args[2] == "all" && strOut.empty();
    const auto dwFirst = bAll ? 0u : static_cast<std::uint32_t>(std::strtoul(args[2].c_str(), nullptr, 0));
    const Camera* pCam = nullptr;
    for (auto& c : scenario.cameras)
        if (Camera* p = c->FindById(dwId))
            pCam = p;
    if (!pCam) {
        std::cerr << "vistrel-camsim: no camera " << dwId << std::endl;
        return 1;
    }
    std::string strError;
    auto sd = GetClip(pCam->media.sd, strError);
    if (!sd) {
        std::cerr << "vistrel-camsim: " << strError << std::endl;
        return 1;
    }
    const std::uint32_t dwLast = bAll ? static_cast<std::uint32_t>(sd->cfg.nFps) - 1 : dwFirst;
    for (std::uint32_t dwIndex = dwFirst; dwIndex <= dwLast; ++dwIndex) {
        SdPosition pos;
        if (dwIndex >= static_cast<std::uint32_t>(sd->cfg.nFps) || !SdAt(*pCam, *sd, dwTime, dwIndex, pos)) {
            std::cerr << "vistrel-camsim: camera " << dwId << " has no recorded frame " << dwIndex << " at "
                      << dwTime << std::endl;
            return 1;
        }
        const Bytes frame = SdFrame(*pCam, *sd, pCam->media.bStampFlags, pos);
        const std::size_t nEs = CodecDataOffset(frame);
        char line[256];
        std::snprintf(line, sizeof line,
                      "{\"camera\":%u,\"time\":%u,\"index\":%u,\"frame\":%u,\"key\":%s,\"size\":%zu,"
                      "\"crc\":\"%08x\",\"es_size\":%zu,\"es_crc\":\"%08x\"}",
                      dwId, dwTime, dwIndex, pos.dwFrame, frame[1] == 0 ? "true" : "false", frame.size(),
                      Crc32(frame.data(), frame.size()), frame.size() - nEs,
                      Crc32(frame.data() + nEs, frame.size() - nEs));
        std::cout << line << std::endl;
        if (!strOut.empty()) {
            std::ofstream out(strOut, std::ios::binary);
            out.write(reinterpret_cast<const char*>(frame.data()),
                      static_cast<std::streamsize>(frame.size()));
            if (!out) {
                std::cerr << "vistrel-camsim: cannot write " << strOut << std::endl;
                return 1;
            }
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vistrel-camsim: simulated cameras and recorders for the lab"};
    std::string strScenario, strControl, strAddresses, strOut, strVersion, strCheck, strSend;
    std::vector<std::string> interfaces;
    std::vector<std::string> sendLines;
    std::string strMediaLog;
    bool bSdFrame = false;
    std::size_t nSize = 0;
    std::uint32_t dwSeed = 1;
    bool bVerbose = false, bMakeImage = false;
    app.add_option("--scenario", strScenario, "scenario file (JSON)");
    app.add_option(
        "--addresses", strAddresses,
        "addresses, space-separated, for cameras whose scenario entry has none (e.g. $LAB_CAMERA_ADDRS_1)");
    app.add_option("--interface", interfaces,
                   "interface to join the request groups on (default: those holding camera addresses)");
    app.add_option("--control", strControl, "Unix socket for control commands");
    app.add_flag("--verbose,-v", bVerbose, "log protocol events to stderr");
    app.add_flag("--make-image", bMakeImage, "build a valid firmware image and exit");
    app.add_option("--version", strVersion, "version text of --make-image");
    app.add_option("--size", nSize, "total size in bytes of --make-image (at least 64)");
    app.add_option("-o,--output", strOut, "file written by --make-image");
    app.add_option("--seed", dwSeed, "seed of --make-image's payload");
    app.add_option("--check-image", strCheck, "check a firmware image and print its version");
    app.add_option("--send", strSend,
                   "control socket of a running simulator; sends the remaining arguments as one command");
    app.add_option("--media-log", strMediaLog,
                   "one line per sent media frame to this file (- for standard output)");
    app.add_flag("--sd-frame", bSdFrame,
                 "print the SD frame CAMERA-ID SECONDS INDEX of the scenario (-o writes its bytes) and exit");
    app.add_option("command", sendLines, "command for --send, or the arguments of --sd-frame");
    CLI11_PARSE(app, argc, argv);

    if (bMakeImage) {
        if (strVersion.empty() || !nSize || strOut.empty()) {
            std::cerr << "vistrel-camsim: --make-image needs --version, --size and -o" << std::endl;
            return 2;
        }
        return MakeImage(strVersion, nSize, dwSeed, strOut);
    }
    if (!strCheck.empty())
        return CheckImage(strCheck);
    if (!strSend.empty()) {
        std::string line;
        for (const auto& s : sendLines)
            line += (line.empty() ? "" : " ") + s;
        return SendControl(strSend, line);
    }
    if (strScenario.empty()) {
        std::cerr << app.help() << std::endl;
        return 2;
    }

    std::vector<std::uint32_t> addresses;
    std::istringstream in(strAddresses);
    for (std::string s; in >> s;) {
        std::uint32_t dw = 0;
        if (!TextToAddr(s, dw)) {
            std::cerr << "vistrel-camsim: not an address: " << s << std::endl;
            return 2;
        }
        addresses.push_back(dw);
    }
    Scenario scenario;
    try {
        scenario = LoadScenarioFile(strScenario, addresses);
    } catch (const CScenarioError& e) {
        std::cerr << "vistrel-camsim: " << strScenario << ": " << e.what() << std::endl;
        return 2;
    }
    if (bSdFrame)
        return PrintSdFrame(scenario, sendLines, strOut);
    const std::size_t nCameras = scenario.cameras.size();
    SimOptions options;
    options.interfaces = interfaces;
    options.strControlPath = strControl;
    options.bVerbose = bVerbose;
    options.strMediaLog = strMediaLog;
    CSimulator sim(std::move(scenario), options);
    std::string strError;
    if (!sim.Open(strError)) {
        std::cerr << "vistrel-camsim: " << strError << std::endl;
        return 1;
    }
    InstallSignalHandlers();
    std::cout << "vistrel-camsim: ready, " << nCameras << " camera(s)" << std::endl;
    sim.Run();
    return 0;
}
