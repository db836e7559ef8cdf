// vistrel-cli: the client's engines without a window, for scripts and tests.
#include "app/cli/cliclient.h"
#include "app/cli/clicommands.h"
#include "app/cli/clisubcommands.h"
#include "app/startup_engines.h"
#include "device/settinggroups.h"
#include "platform/buildinfo.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
// What shared libraries allocate in their load-time constructors is theirs, freed or not: GLib
// leaves its first quark table behind once GStreamer's RTSP server has registered more names
// than it holds, and the leak check's fast unwinder cannot walk through GLib to tell that block
// from one of ours. The executable's preinit functions run before any library's constructor and
// its own constructors after all of them, so the leak check ignores exactly what lies between.
void IgnoreLoadTimeBlocks() { __lsan_disable(); }
[[gnu::section(".preinit_array"), gnu::used]] void (*g_pfnIgnoreLoadTimeBlocks)() = IgnoreLoadTimeBlocks;
[[gnu::constructor]] void CheckBlocksFromHereOn() { __lsan_enable(); }
#endif

const char* const kExitCodes = "Exit codes:\n"
                               "  0  success\n"
                               "  1  start-up failed (for example a socket could not be opened)\n"
                               "  2  bad arguments or setting values (nothing was sent)\n"
                               "  3  camera not found\n"
                               "  4  wrong password\n"
                               "  5  camera refused (it said no, or kept its old values)\n"
                               "  6  timeout (the camera did not answer)\n";

std::string SetGroupsHelp()
{
    std::string strHelp = "Groups and keys:\n";
    for (const SettingGroup& group : GetSettingGroups())
        strHelp += "  " + std::string(group.pszName) + ": " + group.pszHelp + "\n";
    return strHelp;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vistrel-cli"));

    CLI::App cli{
        "Vistrel command-line client: finds the cameras on the local network, shows and changes their "
        "settings and upgrades their firmware."};
    cli.footer(kExitCodes);
    cli.set_version_flag("--version", "vistrel-cli " VISTREL_PACKAGE_VERSION);
    cli.require_subcommand(1);
    // Global options may also follow the subcommand.
    cli.fallthrough();
    CliOptions options;
    cli.add_flag("--json", options.bJson, "JSON output");
    cli.add_option("--wait", options.nWaitSeconds,
                   "seconds to wait for a camera to appear or answer (default 15)")
        ->check(CLI::Range(1, 3600));

    int nSearchSeconds = 5;
    CLI::App* pSearch =
        cli.add_subcommand("search", "wait, then list the present devices and their channels");
    pSearch->add_option("--seconds", nSearchSeconds, "how long to listen (default 5)")
        ->check(CLI::Range(1, 3600));

    std::string strCamera;
    std::string strPassword;
    CLI::App* pInfo =
        cli.add_subcommand("info", "every settings group the camera answered, unanswered ones marked");
    pInfo->add_option("camera", strCamera, "serial or id")->required();
    std::string strPasswordFile;
    // The password: --password, --password-file or VISTREL_PASSWORD; a prompt on a terminal.
    auto addPassword = [&](CLI::App* pApp) {
        CLI::Option* pOption = pApp->add_option(
            "--password", strPassword, "the camera's password (also --password-file, VISTREL_PASSWORD)");
        CLI::Option* pFile =
            pApp->add_option("--password-file", strPasswordFile, "a file whose first line is the password");
        return std::make_pair(pOption, pFile);
    };
    const auto [pInfoPassword, pInfoPasswordFile] = addPassword(pInfo);

    std::string strGroup;
    std::vector<std::string> vecAssignments;
    CLI::App* pSet = cli.add_subcommand("set", "change one settings group: set CAMERA GROUP key=value...");
    pSet->footer(SetGroupsHelp());
    pSet->add_option("camera", strCamera, "serial or id")->required();
    pSet->add_option("group", strGroup, "settings group")->required();
    pSet->add_option("values", vecAssignments, "key=value pairs")->required();
    const auto [pSetPassword, pSetPasswordFile] = addPassword(pSet);

    std::vector<std::string> vecCameras;
    std::string strImageDir;
    int nUpgradeTimeout = 600;
    CLI::App* pUpgrade = cli.add_subcommand("upgrade", "upgrade the firmware of one or more cameras at once");
    pUpgrade->add_option("cameras", vecCameras, "serials or ids")->required();
    pUpgrade->add_option("--image-dir", strImageDir, "folder holding 8126.Img")->required();
    const auto [pUpgradePassword, pUpgradePasswordFile] = addPassword(pUpgrade);
    pUpgrade->add_option("--timeout", nUpgradeTimeout, "seconds for the whole upgrade (default 600)")
        ->check(CLI::Range(1, 86400));
    // Hidden, for the end-to-end tests only: a quiet camera is given up sooner.
    pUpgrade->add_option("--test-give-up-ms", options.uTestGiveUpMs)
        ->group("")
        ->check(CLI::Range(1000u, 180000u));

    int nWatchSeconds = 0;
    CLI::App* pWatch =
        cli.add_subcommand("watch", "print presence changes (online, offline, list info) as they happen");
    pWatch->add_option("--seconds", nWatchSeconds, "stop after this long (default: until interrupted)")
        ->check(CLI::Range(0, 86400 * 365));

    // Subcommands of their own command files (clisubcommands.h), one adder call each.
    CliSubcommands vecSubcommands;
    AddControlCommands(cli, options, vecSubcommands);
    AddRecordCommands(cli, options, vecSubcommands);
    AddPcRecordCommands(cli, options, vecSubcommands);
    AddLiveCommands(cli, options, vecSubcommands);
    AddSnapshotCommands(cli, options, vecSubcommands);
    AddAudioCommands(cli, options, vecSubcommands);
    AddSystemCommands(cli, options, vecSubcommands);
    AddQualityCommands(cli, options, vecSubcommands);
    AddServeCommands(cli, options, vecSubcommands);

    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return cli.exit(e);
    } catch (const CLI::ParseError& e) {
        // Under --json a script reads one document, also for a command line it got wrong.
        if (std::any_of(argv + 1, argv + argc,
                        [](const char* psz) { return std::strcmp(psz, "--json") == 0; })) {
            std::cout << ErrorJson(CLI_EXIT_BAD_ARGUMENTS, e.what()).dump() << std::endl;
            return CLI_EXIT_BAD_ARGUMENTS;
        }
        cli.exit(e);
        return CLI_EXIT_BAD_ARGUMENTS;
    }

    // Messages of the checks come from the language tables.
    LoadSettingsAndLanguage();
    std::optional<std::string> password;
    auto resolvePassword = [&](const CLI::Option* pOption, const CLI::Option* pFile) {
        const std::string strError = ResolvePassword(pOption->count() > 0 ? &strPassword : nullptr,
                                                     pFile->count() > 0 ? &strPasswordFile : nullptr,
                                                     std::getenv("VISTREL_PASSWORD"), password);
        if (!strError.empty())
            PrintError(options, strError, CLI_EXIT_BAD_ARGUMENTS);
        return strError.empty();
    };

    if (pSearch->parsed())
        return CmdSearch(options, nSearchSeconds);
    if (pInfo->parsed()) {
        if (!resolvePassword(pInfoPassword, pInfoPasswordFile))
            return CLI_EXIT_BAD_ARGUMENTS;
        return CmdInfo(options, strCamera, password ? &*password : nullptr);
    }
    if (pSet->parsed()) {
        if (!resolvePassword(pSetPassword, pSetPasswordFile))
            return CLI_EXIT_BAD_ARGUMENTS;
        return CmdSet(options, strCamera, strGroup, vecAssignments, password ? &*password : nullptr);
    }
    if (pUpgrade->parsed()) {
        if (!resolvePassword(pUpgradePassword, pUpgradePasswordFile))
            return CLI_EXIT_BAD_ARGUMENTS;
        return CmdUpgrade(options, vecCameras, strImageDir, nUpgradeTimeout, password ? &*password : nullptr);
    }
    for (const CliSubcommand& sub : vecSubcommands)
        if (sub.pApp->parsed())
            return sub.fnRun();
    return CmdWatch(options, nWatchSeconds);
}
