// How the command-line client shows a device: its search identity (one row per device and
// channel) and the settings groups its query pass fetched, as JSON.
#pragma once

#include "device/deviceinfo.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

class CConfigCameraType;

// One settings group of the query pass: its name in the output and its received-flag.
struct QueryGroup {
    const char* pszName;
    BYTE DeviceQueryBlock::*pFlag;
};

// The groups the query pass asks this device for (by kind, Wi-Fi/3G and camera family);
// pParent is a channel's recorder (null otherwise).
std::vector<QueryGroup> ApplicableQueryGroups(const DeviceInfo& device, const DeviceInfo* pParent);
// A group name that info can show for some device.
bool IsQueryGroupName(const std::string& strName);
// Every applicable flag is set, or the four passes are spent.
bool IsQueryDone(const DeviceInfo& device, const DeviceInfo* pParent);
// The applicable groups still without an answer.
std::vector<std::string> MissingQueryGroups(const DeviceInfo& device, const DeviceInfo* pParent);

// Group names: "set" takes its own names and the names "info" shows (ports, sd_record, ...).
// The set group of either name, or empty when it names no settings group.
std::string SetGroupName(const std::string& strName);
// The name info shows a set group under.
std::string InfoGroupName(const std::string& strSetGroup);
// The set group exists on this device: its kind (a recorder's channels have no network of their
// own, a recorder no video settings), its Wi-Fi and 3G.
bool SetGroupApplies(const std::string& strSetGroup, const DeviceInfo& device, const DeviceInfo* pParent);
// The fields a user sets in a Wi-Fi block (mode, SSID, keys, security, channel) are equal.
bool WifiSettingsMatch(const WifiSettingsBlock& a, const WifiSettingsBlock& b);

std::string DeviceNameUtf8(const DeviceInfo& device);
std::string IPv4Text(DWORD dwIP);
const char* KindText(DWORD enCameraType);
// "multicast", "sweep", "multicast+sweep", or "capture" for a camera heard on neither path
// of its own subnet (a reply that only the packet capture delivered).
std::string FoundByText(const DeviceInfo& device);

// The row of "search": identity, model, family, firmware, routes, flags.
nlohmann::json DeviceSummaryJson(const DeviceInfo& device, const CConfigCameraType& types);
// "info": the summary and every applicable settings group, unanswered ones as
// {"answered": false}.
nlohmann::json DeviceInfoJson(const DeviceInfo& device, const DeviceInfo* pParent,
                              const CConfigCameraType& types);

// A plain-text table of summaries (one line each, channels indented below their recorder).
std::string SummaryTable(const std::vector<nlohmann::json>& vecRows);
// "group.key: value" lines of a JSON object.
std::string FlattenJson(const nlohmann::json& value, const std::string& strPrefix = "");
