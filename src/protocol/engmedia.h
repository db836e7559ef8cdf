// The media engine: live video and audio, the two playback streams and SD-card downloads,
// from reassembled frames to the media sink or the download manager.
//
// Which cameras are watched and how, and download state, are asked of the layers above on
// every frame through IMediaContext; the engine keeps no per-stream state of its own. Frames of
// every watched camera go to the one media sink, which tells them apart by
// MediaFrame::ulCameraID.
#pragma once

#include "net/socketmanager.h"
#include "platform/wintypes.h"

#include <cstddef>
#include <vector>

// Media types: (type byte AND 0xF1) OR 1.
constexpr BYTE MEDIA_TYPE_MPEG4 = 0x11;
constexpr BYTE MEDIA_TYPE_MPEG4_B = 0x31;
constexpr BYTE MEDIA_TYPE_MPEG4_STAMP = 0x51;
constexpr BYTE MEDIA_TYPE_H264_STAMP = 0x61;
constexpr BYTE MEDIA_TYPE_AUDIO = 0x21;

constexpr DWORD MEDIA_CODEC_AUDIO = 0;
constexpr DWORD MEDIA_CODEC_MPEG4 = 1;
constexpr DWORD MEDIA_CODEC_H264 = 2;

constexpr DWORD MEDIA_HEADER_LEN = 8;
constexpr DWORD MEDIA_DEFAULT_WIDTH = 720;
constexpr DWORD MEDIA_DEFAULT_HEIGHT = 576;
constexpr DWORD PLAYBACK_PREFIX_LEN = 12;
constexpr DWORD SD_SUBPACKET_HEADER_LEN = 20;
constexpr DWORD SD_MIN_DATAGRAM_LEN = 28;

// Download frame classes.
constexpr DWORD DOWNLOAD_FRAME_AUDIO = 1;
constexpr DWORD DOWNLOAD_FRAME_VIDEO = 3;

// Media ports: live, playback A, SD download, playback B; unicast then multicast.
constexpr WORD MEDIA_GROUP_PORT_LIVE = 8103;
constexpr WORD MEDIA_GROUP_PORT_LIVE_MC = 8100;
constexpr WORD MEDIA_GROUP_PORT_PLAYBACK_A = 8106;
constexpr WORD MEDIA_GROUP_PORT_PLAYBACK_A_MC = 8104;
constexpr WORD MEDIA_GROUP_PORT_DOWNLOAD = 8107;
constexpr WORD MEDIA_GROUP_PORT_DOWNLOAD_MC = 8105;
constexpr WORD MEDIA_GROUP_PORT_PLAYBACK_B = 8110;
constexpr WORD MEDIA_GROUP_PORT_PLAYBACK_B_MC = 8108;
constexpr DWORD MEDIA_GROUP_IP = 0xEC050715; // 236.5.7.21

// One media frame as DecodeMedia reads it; what the media sink receives. Points into the
// socket layer's receive buffer: valid only during the call.
struct MediaFrame {
    // The frame minus its 8-byte header; a stamped frame still begins with its stamp header,
    // whose two time values are already in host order.
    const BYTE* pData = nullptr;
    DWORD nLen = 0;
    DWORD ulCameraID = 0;
    WORD usSequence = 0;    // frame number
    BYTE bySubSequence = 0; // video: 0 when the payload starts with a codec header
    DWORD nWidth = 0;
    DWORD nHeight = 0;
    DWORD nCodec = 0; // MEDIA_CODEC_*
    BYTE byMode = 0;  // low 4 bits of the type byte; 0 for plain MPEG-4 (0x11)
    BYTE bStamped = 0;
    DWORD dwMediaTime = 0;
    DWORD dwFormat = 0;
    DWORD nRawLen = 0;
};

// One sub-packet of an SD-download datagram, as the download manager receives it.
struct DownloadFrame {
    MediaFrame stFrame;
    DWORD dwValue1 = 0; // the two 32-bit values of the sub-packet header, host order
    DWORD dwValue2 = 0;
    DWORD dwFrameClass = 0; // DOWNLOAD_FRAME_*
    // The media frame of the sub-packet (from its 20-byte header on), header included.
    const BYTE* pPacket = nullptr;
    DWORD nPacketLen = 0;
};

// The media sink: one call per accepted live or playback frame, on the GUI thread.
using MediaSinkFun = void (*)(MediaFrame* pFrame);
// A tap: a background consumer of live frames (a recorder, a bridge to other programs).
using MediaTapFun = void (*)(void* pContext, const MediaFrame& frame);

// What the engine asks of the device and download managers.
class IMediaContext {
public:
    // Some camera is watched.
    virtual bool HasWatchedDevice() = 0;
    // The play type a camera is watched with: 1 live view, 2 and 3 the playback streams; 0
    // when it is not watched.
    virtual DWORD GetWatchedPlayType(DWORD dwID) = 0;
    // The camera answered a search (it has a search item).
    virtual bool HasSearchItem(DWORD dwID) = 0;
    // The live path check: when the camera's recorded media path differs from nType (1 for
    // unicast) and its change-of-address mark is set, clears the mark and returns true: the
    // caller then sends start video again.
    virtual bool TakeChangeIp(DWORD dwID, int nType) = 0;
    // Start video again for a watched live camera (its token, stream type 0, no download).
    virtual void ResendStartVideo(DWORD dwID) = 0;
    virtual bool IsDownloading(DWORD dwID) = 0;
    // The device record of a downloading camera: false when it is missing or offline;
    // otherwise its record-time protocol version.
    virtual bool GetDownloadDevice(DWORD dwID, WORD* pusMsVersion) = 0;
    // Up to which send sequence the download task has every sub-packet.
    virtual DWORD GetMaxContinuousAck(DWORD dwID) = 0;
    virtual void FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq) = 0;
    // Whether the download task kept the sub-packet just fed (only those are acknowledged).
    virtual bool IsDownloadKept(DWORD dwID, DWORD dwSendSeq)
    {
        (void)dwID;
        (void)dwSendSeq;
        return true;
    }
    // The download acknowledgement: every sequence of one datagram, in arrival order.
    virtual void SendDownloadAck(DWORD dwID, const DWORD* pSequences, std::size_t nCount,
                                 DWORD unMaxContinuousAck) = 0;
    // The playback position pair of the frame of camera dwID just delivered (notification 167,
    // for the selected camera only: the playback pane follows that one).
    virtual void NotifyPlayPosition(DWORD dwID, const DWORD* pPosition) = 0;

protected:
    ~IMediaContext() = default;
};

class CEngMedia : public ISocketReceiver {
public:
    static constexpr int GROUP_COUNT = 8;
    // Group indices.
    enum {
        GROUP_LIVE = 0,
        GROUP_LIVE_MC,
        GROUP_PLAYBACK_A,
        GROUP_PLAYBACK_A_MC,
        GROUP_DOWNLOAD,
        GROUP_DOWNLOAD_MC,
        GROUP_PLAYBACK_B,
        GROUP_PLAYBACK_B_MC,
    };

    // Created on first use.
    static CEngMedia* GetInstance();

    // pManager: where the socket groups are made (null: the process-wide manager).
    explicit CEngMedia(CSocketManager* pManager = nullptr);
    ~CEngMedia();
    CEngMedia(const CEngMedia&) = delete;
    CEngMedia& operator=(const CEngMedia&) = delete;

    // Once only: stores the sink and its context and creates the eight socket groups.
    // 1, or 0 on a second call.
    int Init(void* pContext, MediaSinkFun pMediaFun);
    BOOL IsInit() const { return m_bInit; }
    // The sink may change after Init (a window that comes and goes).
    void SetMediaSink(void* pContext, MediaSinkFun pMediaFun);
    void* GetContext() const { return m_pContext; }
    // Taps see every whole live frame of every watched camera, on the GUI thread, before the
    // sink and with or without one. A frame a viewer takes with zero-filled gaps never reaches
    // a tap: what taps keep or pass on is what the camera sent. A tap may remove itself (or
    // add another) from inside its call; the change counts from the next frame.
    void AddMediaTap(void* pContext, MediaTapFun pFun);
    void RemoveMediaTap(void* pContext);

    // Null: the context the device layer registered (SetDefaultMediaContext).
    void SetContext(IMediaContext* pContext) { m_pMediaContext = pContext; }

    // Reads one frame header and turns a stamp header's two time values to host order in
    // place. 1 with *pFrame filled, 0 for an invalid type; throws CParserException when the
    // frame is shorter than what it declares.
    static int DecodeMedia(BYTE* pData, DWORD nLen, MediaFrame* pFrame);

    // One reassembled unit from a media group.
    void ReceiveData(BYTE* pData, int nLen, DWORD dwFromIP, WORD usFromPort, SocketGroup* pGroup);

    // ISocketReceiver. Through OnReceive the download acknowledgements wait for the end of the
    // drain (or ACK_BATCH_SEQUENCES sub-packets): one acknowledgement per camera then lists every
    // sequence read meanwhile, in arrival order, with the continuous mark as it stands at the end.
    // ReceiveData alone acknowledges each datagram at once.
    void OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT uMsg) override;
    void OnSweepComplete(int nReserved, SocketGroup* pGroup) override;
    void OnDrainEnd(SocketGroup* pGroup, UINT uMsg) override;

    // A long drain still acknowledges this often, so the camera's window keeps moving.
    static constexpr std::size_t ACK_BATCH_SEQUENCES = 32;
    // Sequences per acknowledgement packet, well within what one viewer packet holds.
    static constexpr std::size_t ACK_MAX_SEQUENCES = 256;

    SocketGroup* GetGroup(int nIndex) const { return m_apGroups[nIndex]; }
    // Which group a handle is (-1: none of ours).
    int GroupIndex(const SocketGroup* pGroup) const;
    // For a test: the groups as if Init had made them.
    void SetGroupForTest(int nIndex, SocketGroup* pGroup) { m_apGroups[nIndex] = pGroup; }
    // For a test: the manager Init makes its sockets with, before Init.
    void SetManagerForTest(CSocketManager* pManager) { m_pManager = pManager; }

private:
    IMediaContext* Context() const;
    void ReceiveLive(BYTE* pData, int nLen, int nType);
    void ReceivePlayback(BYTE* pData, int nLen, DWORD dwPlayType);
    void ReceiveDownload(BYTE* pData, int nLen);
    // The acknowledgement of nCount sequences with the camera's continuous mark as it is now.
    void SendAck(IMediaContext* pContext, DWORD dwID, const DWORD* pSequences, std::size_t nCount);
    void FlushAcks();

    CSocketManager* m_pManager;
    IMediaContext* m_pMediaContext = nullptr;
    void* m_pContext = nullptr;
    MediaSinkFun m_pMediaFun = nullptr;
    struct MediaTap {
        void* pContext = nullptr;
        MediaTapFun pFun = nullptr;
    };
    std::vector<MediaTap> m_vecTaps;
    bool m_bInTaps = false;
    BOOL m_bInit = 0;
    SocketGroup* m_apGroups[GROUP_COUNT] = {};
    // Send sequences of one download datagram; kept so that its capacity is reused.
    std::vector<DWORD> m_nvecSeq;
    // Inside OnReceive: acknowledgements are gathered in m_vecPendingAcks.
    bool m_bBatchAcks = false;
    struct PendingAck {
        DWORD dwID = 0;
        std::vector<DWORD> vecSeq;
    };
    std::vector<PendingAck> m_vecPendingAcks;
};

// The context the device layer registers at start-up (null: none; frames are then dropped
// as if no camera were selected). Returns the previous one.
IMediaContext* SetDefaultMediaContext(IMediaContext* pContext);
IMediaContext* GetDefaultMediaContext();
