// Subcommands that live in command files of their own. Each file adds its subcommands to the
// parser and a runner for each; main runs the one the parser saw.
#pragma once

#include "app/cli/clicommands.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

struct CliSubcommand {
    CLI::App* pApp = nullptr;
    // Reads the values the parser filled in, so what it binds must outlive parsing
    // (captured by value in a shared_ptr, not on the adding function's stack).
    std::function<int()> fnRun;
};
using CliSubcommands = std::vector<CliSubcommand>;

// One adder per command file; main calls each once before parsing.
// get, ptz (clicontrol.cpp).
void AddControlCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// live (clilive.cpp).
void AddLiveCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// download, recordings, export (clirecord.cpp).
void AddRecordCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// record; recordings --pc and export --pc, which the SD commands hand on (clipcrec.cpp).
void AddPcRecordCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
int CmdPcRecordings(const CliOptions& options, const std::string& strDir, const std::string& strCamera,
                    const std::string& strDay, bool bReindex);
int CmdPcExport(const CliOptions& options, const std::string& strDir, const std::string& strCamera,
                const std::string& strFrom, const std::string& strTo, const std::string& strOutput);
// listen, talk (cliaudio.cpp).
void AddAudioCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// snapshot (clisnapshot.cpp).
void AddSnapshotCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// reboot, time (clisystem.cpp).
void AddSystemCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// quality (cliquality.cpp).
void AddQualityCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
// serve (cliserve.cpp).
void AddServeCommands(CLI::App& cli, CliOptions& options, CliSubcommands& vec);
