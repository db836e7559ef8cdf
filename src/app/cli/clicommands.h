// The subcommands of vistrel-cli. Each returns the process exit code (CliExit).
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

class CCliClient;
struct DeviceInfo;

struct CliOptions {
    bool bJson = false;
    int nWaitSeconds = 15; // how long to wait for a camera to appear or answer
    // Test-only: firmware give-up time in ms (0: the program's own three minutes).
    unsigned int uTestGiveUpMs = 0;
};

// Password for a camera: --password, else --password-file (its first line), else the
// environment's VISTREL_PASSWORD (pszEnvironment, may be null); none of them: no value.
// Returns an error message (both options given, unreadable file), or empty.
std::string ResolvePassword(const std::string* pGiven, const std::string* pFile, const char* pszEnvironment,
                            std::optional<std::string>& password);
// Asks on the terminal without echo; false when stdin is not a terminal.
bool PromptPassword(const std::string& strPrompt, std::string& strPassword);

// The one JSON document of a failed call: {"ok":false,"exit":N,"error":{"code","message"}}.
nlohmann::json ErrorJson(int nExit, const std::string& strMessage);
// Reports a failure as text on stderr, or as that document (with device, if any) on stdout.
void PrintError(const CliOptions& options, const std::string& strMessage, int nExit,
                const nlohmann::json& device = nlohmann::json());

// Helpers of the command files: start-up, finding a present device, applying the password
// like the password dialog (bRequired: a camera with a password needs the right one).
bool StartClient(CCliClient& client, const CliOptions& options);
DeviceInfo* FindOrReport(CCliClient& client, const CliOptions& options, const std::string& strCamera);
DeviceInfo* PasswordOwner(CCliClient& client, DeviceInfo* pDevice);
int ApplyPassword(CCliClient& client, const CliOptions& options, DeviceInfo* pDevice,
                  const std::string* pPassword, bool bRequired);
// The cameras of a command that streams them (live, record), after StartClient: each found,
// not a recorder, not given twice, opened with the password and given a start-video token.
// CLI_EXIT_OK with vecDevices filled, else the reported exit code of the first that is not.
int OpenStreamingCameras(CCliClient& client, const CliOptions& options,
                         const std::vector<std::string>& vecCameras, const std::string* pPassword,
                         std::vector<DeviceInfo*>& vecDevices);
// What a command on one camera starts with: the password from the options (or the
// environment), start-up, the camera, which must not be a recorder (strRecorderRefusal says
// why), and its password. Returns the exit code; CLI_EXIT_OK with pDevice set.
int OpenCamera(CCliClient& client, const CliOptions& options, const std::string& strCamera,
               const std::string* pPassword, const std::string* pPasswordFile,
               const std::string& strRecorderRefusal, DeviceInfo*& pDevice);

int CmdSearch(const CliOptions& options, int nSeconds);
int CmdInfo(const CliOptions& options, const std::string& strCamera, const std::string* pPassword);
int CmdSet(const CliOptions& options, const std::string& strCamera, const std::string& strGroup,
           const std::vector<std::string>& vecAssignments, const std::string* pPassword);
int CmdUpgrade(const CliOptions& options, const std::vector<std::string>& vecCameras,
               const std::string& strImageDir, int nTimeoutSeconds, const std::string* pPassword);
// nSeconds 0: until interrupted.
int CmdWatch(const CliOptions& options, int nSeconds);

// Checks a "set" command line without any network: the group, its keys and the values that
// need no camera record. Returns the message of the first error, or empty.
std::string PrecheckSet(const std::string& strGroup, const std::vector<std::string>& vecAssignments);
