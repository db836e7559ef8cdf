#include "protocol/engmedia.h"

#include "core/log.h"
#include "net/mediareassembly.h"
#include "protocol/packet.h"
#include "protocol/videosize.h"

#include <algorithm>
#include <vector>

namespace {
IMediaContext* g_pDefaultMediaContext = nullptr;

struct GroupSpec {
    DWORD dwGroupIP;
    WORD usPort;
};
// In the order of CEngMedia's group indices.
constexpr GroupSpec MEDIA_GROUPS[CEngMedia::GROUP_COUNT] = {
    {0, MEDIA_GROUP_PORT_LIVE},       {MEDIA_GROUP_IP, MEDIA_GROUP_PORT_LIVE_MC},
    {0, MEDIA_GROUP_PORT_PLAYBACK_A}, {MEDIA_GROUP_IP, MEDIA_GROUP_PORT_PLAYBACK_A_MC},
    {0, MEDIA_GROUP_PORT_DOWNLOAD},   {MEDIA_GROUP_IP, MEDIA_GROUP_PORT_DOWNLOAD_MC},
    {0, MEDIA_GROUP_PORT_PLAYBACK_B}, {MEDIA_GROUP_IP, MEDIA_GROUP_PORT_PLAYBACK_B_MC},
};

DWORD ReadBE32(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) << 24 | static_cast<DWORD>(p[1]) << 16 | static_cast<DWORD>(p[2]) << 8 |
           p[3];
}

void WriteHost32(BYTE* p, DWORD dw)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(dw >> (8 * i));
}
} // namespace

IMediaContext* SetDefaultMediaContext(IMediaContext* pContext)
{
    IMediaContext* pOld = g_pDefaultMediaContext;
    g_pDefaultMediaContext = pContext;
    return pOld;
}

IMediaContext* GetDefaultMediaContext()
{
    return g_pDefaultMediaContext;
}

CEngMedia* CEngMedia::GetInstance()
{
    static CEngMedia s_engine;
    return &s_engine;
}

CEngMedia::CEngMedia(CSocketManager* pManager) : m_pManager(pManager) {}

CEngMedia::~CEngMedia() = default;

int CEngMedia::Init(void* pContext, MediaSinkFun pMediaFun)
{
    VLOG(3, "CEngMedia::Init: beg { bInit:%d", m_bInit);
    if (m_bInit) {
        VLOG(3, "CEngMedia::Init: end } already, return 0");
        return 0;
    }
    m_pContext = pContext;
    m_pMediaFun = pMediaFun;
    CSocketManager* pManager = m_pManager != nullptr ? m_pManager : CSocketManager::GetInstance();
    for (int i = 0; i < GROUP_COUNT; ++i)
        m_apGroups[i] =
            pManager->CreateSocket(MEDIA_GROUPS[i].dwGroupIP, MEDIA_GROUPS[i].usPort, FALSE, this);
    m_bInit = 1;
    VLOG(3, "CEngMedia::Init: end } return 1");
    return 1;
}

void CEngMedia::SetMediaSink(void* pContext, MediaSinkFun pMediaFun)
{
    m_pContext = pContext;
    m_pMediaFun = pMediaFun;
}

void CEngMedia::AddMediaTap(void* pContext, MediaTapFun pFun)
{
    RemoveMediaTap(pContext);
    m_vecTaps.push_back({pContext, pFun});
}

void CEngMedia::RemoveMediaTap(void* pContext)
{
    if (m_bInTaps) {
        for (MediaTap& tap : m_vecTaps) {
            if (tap.pContext == pContext)
                tap.pFun = nullptr;
        }
        return;
    }
    std::erase_if(m_vecTaps, [pContext](const MediaTap& tap) { return tap.pContext == pContext; });
}

IMediaContext* CEngMedia::Context() const
{
    return m_pMediaContext != nullptr ? m_pMediaContext : g_pDefaultMediaContext;
}

int CEngMedia::GroupIndex(const SocketGroup* pGroup) const
{
    if (pGroup == nullptr)
        return -1;
    for (int i = 0; i < GROUP_COUNT; ++i) {
        if (m_apGroups[i] == pGroup)
            return i;
    }
    return -1;
}

int CEngMedia::DecodeMedia(BYTE* pData, DWORD nLen, MediaFrame* pFrame)
{
    CPacketReader reader(pData, nLen);
    const BYTE byType = reader.ReadUInt8();
    const BYTE byMediaType = (byType & 0xF1) | 1;
    *pFrame = MediaFrame();
    switch (byMediaType) {
    case MEDIA_TYPE_MPEG4:
    case MEDIA_TYPE_MPEG4_B:
    case MEDIA_TYPE_MPEG4_STAMP:
    case MEDIA_TYPE_H264_STAMP: {
        pFrame->bySubSequence = reader.ReadUInt8();
        pFrame->usSequence = reader.ReadUInt16();
        pFrame->ulCameraID = reader.ReadUInt32LE();
        pFrame->nCodec = byMediaType == MEDIA_TYPE_H264_STAMP ? MEDIA_CODEC_H264 : MEDIA_CODEC_MPEG4;
        pFrame->nWidth = MEDIA_DEFAULT_WIDTH;
        pFrame->nHeight = MEDIA_DEFAULT_HEIGHT;
        std::size_t nCodecHeader = MEDIA_HEADER_LEN;
        if (byMediaType == MEDIA_TYPE_MPEG4_STAMP || byMediaType == MEDIA_TYPE_H264_STAMP) {
            // The stamp header: its length byte, then the two time values at 2 and 6.
            const BYTE byExtLen = reader.ReadUInt8();
            if (byExtLen < 10)
                throw CParserException();
            reader.Skip(1);
            BYTE* pTimes = pData + reader.GetPosition();
            reader.Skip(byExtLen - 2); // the whole extension must have arrived
            WriteHost32(pTimes, ReadBE32(pTimes));
            WriteHost32(pTimes + 4, ReadBE32(pTimes + 4));
            pFrame->bStamped = 1;
            nCodecHeader += byExtLen;
        }
        if (pFrame->bySubSequence == 0) {
            std::uint32_t nWidth = MEDIA_DEFAULT_WIDTH;
            std::uint32_t nHeight = MEDIA_DEFAULT_HEIGHT;
            const BYTE* pCodec = pData + nCodecHeader;
            const std::size_t nCodecLen = nLen - nCodecHeader;
            const bool bRead = pFrame->nCodec == MEDIA_CODEC_H264
                                   ? videosize::ReadH264Size(pCodec, nCodecLen, &nWidth, &nHeight)
                                   : videosize::ReadMpeg4Size(pCodec, nCodecLen, &nWidth, &nHeight);
            if (bRead) {
                pFrame->nWidth = nWidth;
                pFrame->nHeight = nHeight;
            }
        }
        if (byMediaType != MEDIA_TYPE_MPEG4)
            pFrame->byMode = byType & 0x0F;
        break;
    }
    case MEDIA_TYPE_AUDIO:
        reader.Skip(1);
        pFrame->usSequence = reader.ReadUInt16();
        pFrame->ulCameraID = reader.ReadUInt32LE();
        pFrame->nCodec = MEDIA_CODEC_AUDIO;
        pFrame->byMode = byType & 0x0F;
        break;
    default:
        VLOG(1, "CEngMedia::DecodeMedia: Invalid Media type mode:%d, type:%d", byType, byMediaType);
        return 0;
    }
    pFrame->pData = pData + MEDIA_HEADER_LEN;
    pFrame->nLen = nLen - MEDIA_HEADER_LEN;
    return 1;
}

void CEngMedia::OnReceive(BYTE* pData, int nLen, DWORD dwIP, WORD usPort, SocketGroup* pGroup, UINT)
{
    m_bBatchAcks = true;
    ReceiveData(pData, nLen, dwIP, usPort, pGroup);
    m_bBatchAcks = false;
}

void CEngMedia::OnSweepComplete(int, SocketGroup*) {}

void CEngMedia::OnDrainEnd(SocketGroup*, UINT)
{
    FlushAcks();
}

void CEngMedia::FlushAcks()
{
    IMediaContext* pContext = Context();
    // A camera with nothing since the last drain leaves the list, so it holds only the cameras
    // that send.
    std::erase_if(m_vecPendingAcks, [&](PendingAck& pending) {
        if (pending.vecSeq.empty())
            return true;
        if (pContext != nullptr)
            SendAck(pContext, pending.dwID, pending.vecSeq.data(), pending.vecSeq.size());
        pending.vecSeq.clear();
        return false;
    });
}

void CEngMedia::SendAck(IMediaContext* pContext, DWORD dwID, const DWORD* pSequences, std::size_t nCount)
{
    const DWORD unMaxContinuousAck = pContext->GetMaxContinuousAck(dwID);
    for (std::size_t nDone = 0; nDone < nCount; nDone += ACK_MAX_SEQUENCES)
        pContext->SendDownloadAck(dwID, pSequences + nDone, std::min(ACK_MAX_SEQUENCES, nCount - nDone),
                                  unMaxContinuousAck);
    VLOG(5, "CEngMedia::ReceiveData: SDDownload id:%d, uSendSeq:%d, unMaxContinuousAck:%d, size:%d",
         static_cast<int>(dwID), static_cast<int>(pSequences[0]), static_cast<int>(unMaxContinuousAck),
         static_cast<int>(nCount));
}

void CEngMedia::ReceiveData(BYTE* pData, int nLen, DWORD dwFromIP, WORD usFromPort, SocketGroup* pGroup)
{
    try {
        const int nIndex = GroupIndex(pGroup);
        const int nType = nIndex >= 0 && nIndex % 2 == 0 ? 1 : 0;
        VLOG(5, "CEngMedia::ReceiveData: beg { nType:%d, nLen:%d, dwFromIP:%d, usFromPort:%d", nType, nLen,
             static_cast<int>(dwFromIP), usFromPort);
        if (nLen < 0)
            return;
        switch (nIndex) {
        case GROUP_LIVE:
        case GROUP_LIVE_MC:
            ReceiveLive(pData, nLen, nType);
            break;
        case GROUP_PLAYBACK_A:
        case GROUP_PLAYBACK_A_MC:
            ReceivePlayback(pData, nLen, 2);
            break;
        case GROUP_PLAYBACK_B:
        case GROUP_PLAYBACK_B_MC:
            ReceivePlayback(pData, nLen, 3);
            break;
        case GROUP_DOWNLOAD:
        case GROUP_DOWNLOAD_MC:
            ReceiveDownload(pData, nLen);
            break;
        default:
            break;
        }
    } catch (...) {
        VLOG(1, "CEngMedia::ReceiveData: catch(...)");
    }
}

void CEngMedia::ReceiveLive(BYTE* pData, int nLen, int nType)
{
    IMediaContext* pContext = Context();
    if (pContext == nullptr || !pContext->HasWatchedDevice()) {
        VLOG(5, "CEngMedia::ReceiveData: end } pDevice == NULL");
        return;
    }
    if (m_pMediaFun == nullptr && m_vecTaps.empty()) {
        VLOG(1, "CEngMedia::ReceiveData: end } m_pMediaFun == NULL");
        return;
    }
    MediaFrame frame;
    if (!DecodeMedia(pData, static_cast<DWORD>(nLen), &frame)) {
        VLOG(1, "CEngMedia::ReceiveData: end } !DecodeMedia");
        return;
    }
    if (!pContext->HasSearchItem(frame.ulCameraID)) {
        VLOG(5, "CEngMedia::ReceiveData: end } !pItem");
        return;
    }
    const DWORD dwPlayType = pContext->GetWatchedPlayType(frame.ulCameraID);
    if (dwPlayType != 1) {
        VLOG(5, "CEngMedia::ReceiveData: end } ulCameraID:%d, GetWatchedPlayType():%d",
             static_cast<int>(frame.ulCameraID), static_cast<int>(dwPlayType));
        return;
    }
    if (pContext->TakeChangeIp(frame.ulCameraID, nType)) {
        pContext->ResendStartVideo(frame.ulCameraID);
        VLOG(4, "CEngMedia::ReceiveData: pItem->bChangeIp dwDVIPID:%d", static_cast<int>(frame.ulCameraID));
    }
    if (!m_vecTaps.empty() && !IsLastFrameDamaged()) {
        // Taps added meanwhile wait for the next frame; removed ones are only cleared here.
        const std::size_t nTaps = m_vecTaps.size();
        m_bInTaps = true;
        for (std::size_t i = 0; i < nTaps; ++i) {
            const MediaTap tap = m_vecTaps[i];
            if (tap.pFun != nullptr)
                tap.pFun(tap.pContext, frame);
        }
        m_bInTaps = false;
        std::erase_if(m_vecTaps, [](const MediaTap& tap) { return tap.pFun == nullptr; });
    }
    if (m_pMediaFun != nullptr)
        m_pMediaFun(&frame);
    VLOG(5, "CEngMedia::ReceiveData: end }");
}

void CEngMedia::ReceivePlayback(BYTE* pData, int nLen, DWORD dwPlayType)
{
    IMediaContext* pContext = Context();
    if (pContext == nullptr || !pContext->HasWatchedDevice())
        return;
    CPacketReader reader(pData, static_cast<std::size_t>(nLen));
    reader.Skip(4);
    DWORD adwPosition[2];
    adwPosition[0] = reader.ReadUInt32();
    adwPosition[1] = reader.ReadUInt32();
    MediaFrame frame;
    if (!DecodeMedia(pData + PLAYBACK_PREFIX_LEN, static_cast<DWORD>(nLen) - PLAYBACK_PREFIX_LEN, &frame) ||
        m_pMediaFun == nullptr)
        return;
    if (pContext->GetWatchedPlayType(frame.ulCameraID) != dwPlayType)
        return;
    m_pMediaFun(&frame);
    pContext->NotifyPlayPosition(frame.ulCameraID, adwPosition);
}

void CEngMedia::ReceiveDownload(BYTE* pData, int nLen)
{
    VLOG(5, "CEngMedia::ReceiveData: SDDownload");
    if (nLen < static_cast<int>(SD_MIN_DATAGRAM_LEN)) {
        VLOG(5, "CEngMedia::ReceiveData: end } SDDownload nLen < 28");
        return;
    }
    // A recording is written as the camera sent it, never with a viewer's zero-filled gaps.
    if (IsLastFrameDamaged()) {
        VLOG(2, "CEngMedia::ReceiveData: end } SDDownload damaged datagram dropped");
        return;
    }
    const DWORD dwID = static_cast<DWORD>(pData[24]) | static_cast<DWORD>(pData[25]) << 8 |
                       static_cast<DWORD>(pData[26]) << 16 | static_cast<DWORD>(pData[27]) << 24;
    IMediaContext* pContext = Context();
    if (pContext == nullptr || !pContext->IsDownloading(dwID)) {
        VLOG(5, "CEngMedia::ReceiveData: end } SDDownload !IsDownloading, ulCameraID:%d",
             static_cast<int>(dwID));
        return;
    }
    // The camera decides what arrives here: a record gone or offline is a drop, not a
    // fatal check that would close the log for good.
    WORD usMsVersion = 0;
    if (!pContext->GetDownloadDevice(dwID, &usMsVersion)) {
        VLOG(2, "CEngMedia::ReceiveData: end } SDDownload no online device id:%d", static_cast<int>(dwID));
        return;
    }

    std::vector<DWORD>& nvecSeq = m_nvecSeq;
    nvecSeq.clear();
    CPacketReader reader(pData, static_cast<std::size_t>(nLen));
    while (reader.GetRemaining() > SD_SUBPACKET_HEADER_LEN) {
        const std::size_t nStart = reader.GetPosition();
        const WORD usTotalPacketLenLow = reader.ReadUInt16();
        const BYTE byTotalPacketLenHigh = reader.ReadUInt8();
        reader.Skip(5);
        const DWORD uSendSeq = reader.ReadUInt32();
        DownloadFrame download;
        download.dwValue1 = reader.ReadUInt32();
        download.dwValue2 = reader.ReadUInt32();
        DWORD unTotalPacketLen = usTotalPacketLenLow;
        if (usMsVersion >= 4)
            unTotalPacketLen |= static_cast<DWORD>(byTotalPacketLenHigh) << 16;
        if (unTotalPacketLen < SD_SUBPACKET_HEADER_LEN + 1 ||
            unTotalPacketLen > static_cast<std::size_t>(nLen) - nStart) {
            VLOG(
                1,
                "CEngMedia::ReceiveData: end } SDDownload error unTotalPacketLen:%d, usTotalPacketLenLow:%d, "
                "byTotalPacketLenHigh:%d, usMsVersion:%d, uSendSeq:%d",
                static_cast<int>(unTotalPacketLen), usTotalPacketLenLow, byTotalPacketLenHigh, usMsVersion,
                static_cast<int>(uSendSeq));
            return;
        }
        BYTE* pFrame = pData + nStart + SD_SUBPACKET_HEADER_LEN;
        const DWORD nFrameLen = unTotalPacketLen - SD_SUBPACKET_HEADER_LEN;
        if (!DecodeMedia(pFrame, nFrameLen, &download.stFrame)) {
            VLOG(1, "CEngMedia::ReceiveData: end } SDDownload !DecodeMedia");
            return;
        }
        download.dwFrameClass =
            download.stFrame.nCodec == MEDIA_CODEC_AUDIO ? DOWNLOAD_FRAME_AUDIO : DOWNLOAD_FRAME_VIDEO;
        download.pPacket = pFrame;
        download.nPacketLen = nFrameLen;
        pContext->FeedMediaData(download, uSendSeq);
        // A sub-packet the task could not keep stays unacknowledged, so the camera sends it again.
        if (pContext->IsDownloadKept(download.stFrame.ulCameraID, uSendSeq))
            nvecSeq.push_back(uSendSeq);
        else
            VLOG(2, "CEngMedia::ReceiveData: SDDownload not kept uSendSeq:%u",
                 static_cast<unsigned>(uSendSeq));
        reader.SetPosition(nStart + unTotalPacketLen);
    }
    if (nvecSeq.empty()) {
        VLOG(1, "CEngMedia::ReceiveData: SDDownload !(nvecSeq.size() > 0)");
        return;
    }
    if (!m_bBatchAcks) {
        SendAck(pContext, dwID, nvecSeq.data(), nvecSeq.size());
        return;
    }
    auto it = std::find_if(m_vecPendingAcks.begin(), m_vecPendingAcks.end(),
                           [dwID](const PendingAck& pending) { return pending.dwID == dwID; });
    if (it == m_vecPendingAcks.end()) {
        it = m_vecPendingAcks.emplace(m_vecPendingAcks.end());
        it->dwID = dwID;
    }
    it->vecSeq.insert(it->vecSeq.end(), nvecSeq.begin(), nvecSeq.end());
    if (it->vecSeq.size() >= ACK_BATCH_SEQUENCES) {
        SendAck(pContext, dwID, it->vecSeq.data(), it->vecSeq.size());
        it->vecSeq.clear();
    }
}
