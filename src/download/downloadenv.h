// What the download tasks need from the rest of the program: the device records, the
// record-time requests that start and stop a camera's download, the record folder and the
// notification bus. The process-wide one uses the singletons; tests pass their own.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

class CNotifyManager;
struct DeviceInfo;

class IDownloadEnv {
public:
    virtual ~IDownloadEnv() = default;
    // The camera's record (a single camera or a channel); null when unknown.
    virtual DeviceInfo* GetDevice(DWORD dwID) = 0;
    // Record-time request 50 for [dwStart, dwEnd], and request 52.
    virtual void SendStartDownload(DWORD dwID, DWORD dwStart, DWORD dwEnd) = 0;
    virtual void SendStopDownload(DWORD dwID) = 0;
    // The record directory, UTF-8, ending with '/'.
    virtual std::string GetRecordPath() = 0;
    virtual CNotifyManager* GetNotify() = 0;
    // Every camera and channel known now: the files of an earlier folder layout, which carried
    // the name alone, count for a camera only while no other one has its name.
    virtual std::vector<const DeviceInfo*> GetKnownDevices() { return {}; }
};

// The device manager, CMSCmd, the configuration's record path and the process-wide bus.
IDownloadEnv* GetDefaultDownloadEnv();
