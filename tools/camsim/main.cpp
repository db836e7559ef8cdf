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

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vistrel-camsim: simulated cameras and recorders for the lab"};
    std::string strScenario, strControl, strAddresses, strOut, strVersion, strCheck, strSend;
    std::vector<std::string> interfaces;
    std::vector<std::string> sendLines;
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
    app.add_option("command", sendLines, "command for --send");
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
    const std::size_t nCameras = scenario.cameras.size();
    SimOptions options;
    options.interfaces = interfaces;
    options.strControlPath = strControl;
    options.bVerbose = bVerbose;
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
