// The device and download managers as the media path asks them: which cameras are watched
// and how, which cameras download, and where downloaded frames and their acknowledgements
// go. Start-up registers the process-wide one with the media engine and the sockets.
#pragma once

#include "net/mediadatavalid.h"
#include "protocol/engmedia.h"

class IDeviceManager;
class IDownloadRecordManager;
class CEngCmd;
class CMSCmd;
class CNotifyManager;

struct MediaContextDeps {
    IDeviceManager* pDevices = nullptr;           // null: the process-wide device manager
    IDownloadRecordManager* pDownloads = nullptr; // null: the registered download manager
    CEngCmd* pEngCmd = nullptr;                   // null: the process-wide viewer engine
    CMSCmd* pMsCmd = nullptr;                     // null: the process-wide record-time engine
    CNotifyManager* pNotify = nullptr;            // null: the process-wide notification bus
};

class CDeviceMediaContext : public IMediaContext, public IMediaDataSource {
public:
    explicit CDeviceMediaContext(const MediaContextDeps& deps = MediaContextDeps()) : m_deps(deps) {}

    // IMediaContext
    bool HasWatchedDevice() override;
    DWORD GetWatchedPlayType(DWORD dwID) override;
    bool HasSearchItem(DWORD dwID) override;
    bool TakeChangeIp(DWORD dwID, int nType) override;
    void ResendStartVideo(DWORD dwID) override;
    bool IsDownloading(DWORD dwID) override;
    bool GetDownloadDevice(DWORD dwID, WORD* pusMsVersion) override;
    DWORD GetMaxContinuousAck(DWORD dwID) override;
    void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) override;
    bool IsDownloadKept(DWORD dwID, DWORD dwSendSeq) override;
    void SendDownloadAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount,
                         DWORD unMaxContinuousAck) override;
    void NotifyPlayPosition(DWORD dwID, const DWORD* pPosition) override;

    // IMediaDataSource
    bool IsWatched(DWORD dwID) override;
    bool HasDownloading() override;

    // Frames fed to the download manager so far (also when none is registered).
    DWORD GetFedFrames() const { return m_dwFedFrames; }

private:
    IDeviceManager* Devices() const;
    IDownloadRecordManager* Downloads() const;

    MediaContextDeps m_deps;
    DWORD m_dwFedFrames = 0;
};

CDeviceMediaContext* GetDeviceMediaContext();
// Makes the process-wide context the media engine's and the sockets' source of answers.
void RegisterDeviceMediaContext();
