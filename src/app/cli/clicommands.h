// The subcommands of vistrel-cli. Each returns the process exit code (CliExit).
#pragma once

#include <string>
#include <vector>

struct CliOptions {
    bool bJson = false;
    int nWaitSeconds = 15; // how long to wait for a camera to appear or answer
    // Test-only: firmware give-up time in ms (0: the program's own three minutes).
    unsigned int uTestGiveUpMs = 0;
};

int CmdSearch(const CliOptions& options, int nSeconds);
int CmdInfo(const CliOptions& options, const std::string& strCamera, const std::string* pPassword);
int CmdSet(const CliOptions& options, const std::string& strCamera, const std::string& strGroup,
           const std::vector<std::string>& vecAssignments, const std::string* pPassword);
int CmdUpgrade(const CliOptions& options, const std::vector<std::string>& vecCameras,
               const std::string& strImageDir, int nTimeoutSeconds);
// nSeconds 0: until interrupted.
int CmdWatch(const CliOptions& options, int nSeconds);

// Checks a "set" command line without any network: the group, its keys and the values that
// need no camera record. Returns the message of the first error, or empty.
std::string PrecheckSet(const std::string& strGroup, const std::vector<std::string>& vecAssignments);
