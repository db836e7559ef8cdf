// Whether media is wanted at all, and whether one assembled frame is for a camera the
// client is watching or downloading from.
//
// The answers come from the device and download managers, which live in layers above the
// sockets; they register a source here at start-up. Without a source no media is needed.
#pragma once

#include "platform/wintypes.h"

// What the filter asks of the layers above.
class IMediaDataSource {
public:
    // Some camera is watched (live or playback).
    virtual bool HasWatchedDevice() = 0;
    // This camera is watched.
    virtual bool IsWatched(DWORD dwID) = 0;
    // Some download is running.
    virtual bool HasDownloading() = 0;
    // A download of this camera is running.
    virtual bool IsDownloading(DWORD dwID) = 0;

protected:
    ~IMediaDataSource() = default;
};

class CMediaDataValid {
public:
    // Live frames carry the camera id at bytes 4..7, playback frames after their 12-byte
    // prefix at 16..19, download datagrams after the first sub-packet header at 24..27.
    static constexpr DWORD MIN_FRAME_LEN = 24;

    // Replaces the source (null: none) and returns the previous one. Not owned.
    IMediaDataSource* SetSource(IMediaDataSource* pSource);
    IMediaDataSource* GetSource() const { return m_pSource; }

    bool IsNeedMediaData();
    // True when the frame belongs to a watched camera or to a camera that is downloading.
    // Never reads past nLen.
    bool CheckFrame(const BYTE* pData, DWORD nLen);

    // Set while the sockets have found no media needed and flushed what they held.
    BOOL bMediaIdle = 0;

private:
    IMediaDataSource* m_pSource = nullptr;
};

CMediaDataValid& GetMediaDataValid();
