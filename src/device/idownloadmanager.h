// The download manager as the layers below it see it.
//
// The device manager keeps downloads alive (its download heartbeat) and moves a download on
// when the camera reports a finished range; the media path feeds downloaded frames. The
// manager itself lives in the download layer above and registers itself here at start-up;
// until one is registered there are no downloads.
#pragma once

#include "platform/wintypes.h"

struct DownloadFrame;

class IDownloadRecordManager {
public:
    // Operations in slot order.
    virtual bool Download(DWORD dwID) = 0;
    virtual void DownloadNext(DWORD dwID) = 0;
    virtual void CancelDownload(DWORD dwID) = 0;
    virtual void CancelAllDownload() = 0;
    virtual bool IsDownloading(DWORD dwID) = 0;
    virtual bool HasDownloading() = 0;
    virtual int GetDownloadCount() = 0;
    virtual void CheckTask() = 0;
    virtual void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) = 0;
    virtual ~IDownloadRecordManager() = default;
    // Whether the camera's task holds or has written the sub-packet: only those may be
    // acknowledged, or the camera would never send a dropped one again.
    virtual bool IsKept(DWORD dwID, DWORD dwSendSeq)
    {
        (void)dwID;
        (void)dwSendSeq;
        return true;
    }
};

// The registered manager, or null before start-up registered one.
IDownloadRecordManager* GetDownloadRecordManager();
// Replaces the registered manager (null: none) and returns the previous one.
IDownloadRecordManager* SetDownloadRecordManager(IDownloadRecordManager* pManager);
