// Every camera as an RTSP stream for other programs (players, ffmpeg, video recorders).
//
// GStreamer's RTSP server runs on a thread of its own with its own GLib main context: a DESCRIBE
// has to wait for the camera's first key frame (its codec and parameter sets make the SDP), and
// that wait must stall neither the GUI thread, which brings the frames, nor other RTSP clients
// (each client gets a thread of the server's pool). Frames cross from the GUI thread into each
// stream's appsrc, whose queue is bounded. What the server thread wants of the device manager
// (hold a camera's live stream, let it go) and what it reports comes back to the GUI thread as
// posted messages; the host's calls are made there only.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <memory>
#include <string>

struct MediaFrame;

struct RtspBridgeConfig {
    std::string strAddress = "127.0.0.1";
    int nPort = 8554; // 0: any free port (GetPort tells)
    // Empty user: no authentication. Otherwise RTSP digest authentication for every request.
    std::string strUser;
    std::string strPassword;
    // Instead of the password: its digest hash (RtspDigestHash), as a stored account keeps it.
    std::string strPasswordHash;
    // A client that stops sending keep-alives (no TEARDOWN) is dropped after this long.
    unsigned int uSessionTimeoutS = 60;
    // How long a DESCRIBE waits for a camera that is not streaming yet to send a key frame.
    unsigned int uDescribeWaitMs = 10000;
};

// What the bridge tells: cameras offered and lost, clients playing and leaving, streams held and
// let go, refused credentials.
enum class RtspEvent { Offered, Lost, Playing, Left, StreamStarted, StreamStopped, AuthFailed };
const char* RtspEventName(RtspEvent enEvent);

// What digest authentication keeps of a password (MD5 of "user:realm:password", as htdigest
// files hold it), so that a stored account needs no password in clear.
std::string RtspDigestHash(const std::string& strUser, const std::string& strPassword);

class IRtspBridgeHost {
public:
    // Keep the camera's live stream flowing / let it lapse (the last user left).
    virtual void HoldCamera(DWORD dwID) = 0;
    virtual void ReleaseCamera(DWORD dwID) = 0;
    // strPath: the mount ("/VS0001"); strPeer: the client's address, or empty; strDetail: the
    // user name of refused credentials, the URL of an offered camera.
    virtual void OnRtspEvent(RtspEvent enEvent, const std::string& strPath, const std::string& strPeer,
                             const std::string& strDetail) = 0;

protected:
    ~IRtspBridgeHost() = default;
};

class CRtspBridge {
public:
    // Made on the GUI thread, whose event loop must run for the host's calls to come.
    explicit CRtspBridge(IRtspBridgeHost& host);
    ~CRtspBridge();
    CRtspBridge(const CRtspBridge&) = delete;
    CRtspBridge& operator=(const CRtspBridge&) = delete;

    // Binds and starts serving. Empty on success, else why not.
    std::string Start(const RtspBridgeConfig& config);
    // Ends every stream (clients see the end of stream), closes every client, stops the thread.
    void Stop();
    int GetPort() const;

    // The camera is offered at /<strName>; offering it again (after Withdraw) mounts it again.
    void Offer(DWORD dwID, const std::string& strName);
    // The camera went away: its clients get the end of the stream and are closed, its path
    // answers 404 until it is offered again.
    void Withdraw(DWORD dwID);
    bool IsOffered(DWORD dwID) const;

    // One whole live frame of a watched camera (a media tap); GUI thread. Frames go out in
    // number order, each once: one that completes after a newer one is put back in its place,
    // and the newer ones wait for it a little (CFrameOrderer).
    void PushFrame(const MediaFrame& frame);
    // Frames whose wait for an older one is over, when no newer frame came to hand them on;
    // GUI thread, a few times a second.
    void ReleaseDue();

    // Counters of the bridge's own drops: frames a full stream queue refused.
    std::uint64_t GetDroppedFrames() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_pImpl;
};
