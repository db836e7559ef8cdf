// libFuzzer target: the media receive path must never read or write outside a datagram or
// the frame buffer, whatever arrives: the segment layer with its pool and slots, the frame
// header and the picture-size readers, the playback prefix, and the SD-download sub-packet
// loop with its acknowledgement.
//
// The input is a run of datagrams, each prefixed by a 16-bit big-endian length. They go
// through the reassembler; every frame it hands out goes to the live and playback classes.
// The whole input also goes to the download class as one datagram.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "net/mediareassembly.h"
#include "platform/ticks.h"
#include "platform/trace.h"
#include "protocol/engmedia.h"

namespace {

volatile unsigned g_uSink;

void Touch(const void* p, std::size_t n)
{
    const auto* pb = static_cast<const BYTE*>(p);
    unsigned u = 0;
    for (std::size_t i = 0; i < n; ++i)
        u += pb[i];
    g_uSink = u;
}

void Sink(MediaFrame* pFrame)
{
    Touch(pFrame->pData, pFrame->nLen);
}

// Accepts everything, so that every path is taken.
class OpenContext : public IMediaContext, public IMediaDataSource {
public:
    bool HasWatchedDevice() override { return bNeeded; }
    DWORD GetWatchedPlayType(DWORD dwID) override { return dwID == dwSelected ? dwPlayType : 0; }
    bool IsWatched(DWORD dwID) override { return bNeeded && dwID == dwSelected; }
    bool HasSearchItem(DWORD) override { return true; }
    bool TakeChangeIp(DWORD, int nType) override { return nType == 0; }
    void ResendStartVideo(DWORD) override {}
    bool IsDownloading(DWORD) override { return true; }
    bool GetDownloadDevice(DWORD, WORD* pusMsVersion) override
    {
        *pusMsVersion = usMsVersion;
        return true;
    }
    DWORD GetMaxContinuousAck(DWORD) override { return 0; }
    void FeedMediaData(const DownloadFrame& frame, DWORD) override
    {
        Touch(frame.pPacket, frame.nPacketLen);
        Touch(frame.stFrame.pData, frame.stFrame.nLen);
    }
    void SendDownloadAck(DWORD, const DWORD* pSequences, std::size_t nCount, DWORD) override
    {
        Touch(pSequences, nCount * sizeof(DWORD));
    }
    void NotifyPlayPosition(DWORD, const DWORD* pPosition) override { Touch(pPosition, 8); }

    bool HasDownloading() override { return bNeeded; }

    DWORD dwSelected = 0;
    DWORD dwPlayType = 1;
    WORD usMsVersion = 4;
    bool bNeeded = true;
};

struct Setup {
    Setup()
    {
        g_nDebugLevel = 0;
        SetTraceSink([](const char*) {});
        engine.SetContext(&context);
        engine.SetMediaSink(nullptr, &Sink);
        for (int i = 0; i < CEngMedia::GROUP_COUNT; ++i)
            engine.SetGroupForTest(i, &groups[i]);
        valid.SetSource(&context);
        frameBuf.resize(CMediaReassembler::MAX_FRAME_LEN);
    }
    OpenContext context;
    CEngMedia engine;
    SocketGroup groups[CEngMedia::GROUP_COUNT];
    CMediaDataValid valid;
    CMediaReassembler reassembler{&valid};
    std::vector<BYTE> frameBuf;
    std::vector<BYTE> work;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    static Setup s;
    if (nSize < 2)
        return 0;
    s.context.dwSelected = pData[0] * 0x01010101u;
    s.context.dwPlayType = 1 + pData[1] % 3;
    s.context.usMsVersion = pData[1] & 0x80 ? 4 : 3;
    s.valid.bDamagedKeyFrames = (pData[1] & 0x20) != 0;
    {
        // One reassembler for the process, emptied per input as the sockets empty theirs when
        // no media is needed: building 500 slots and a pool chunk per input would be most of
        // the run time.
        CMediaReassembler& reassembler = s.reassembler;
        const BYTE abNudge[9] = {};
        s.context.bNeeded = false;
        reassembler.OnDatagram(abNudge, sizeof(abNudge), 0xC6120505, 9000);
        s.context.bNeeded = true;
        // Half the inputs are read as a media socket reads: payloads straight into the pool,
        // every datagram of the input in one receive call until one ends it.
        const bool bReadIntoPool = (pData[1] & 0x40) != 0;
        if (bReadIntoPool)
            reassembler.BeginCall(GetTickCount(), 0);
        std::size_t nPos = 2;
        while (nPos + 2 <= nSize) {
            const std::size_t nLen =
                std::min<std::size_t>(pData[nPos] << 8 | pData[nPos + 1], nSize - nPos - 2);
            nPos += 2;
            // Each datagram in a buffer of its own size, so that the sanitizer sees any overread.
            std::vector<BYTE> datagram(pData + nPos, pData + nPos + nLen);
            nPos += nLen;
            bool bAccepted = false;
            if (bReadIntoPool) {
                if (nLen > CMediaReassembler::SEGMENT_HEADER)
                    std::memcpy(reassembler.GetReadBlock(),
                                datagram.data() + CMediaReassembler::SEGMENT_HEADER,
                                std::min<std::size_t>(nLen - CMediaReassembler::SEGMENT_HEADER,
                                                      CSpacePool::BLOCK_SIZE));
                bAccepted =
                    reassembler.OnReadBlock(datagram.data(), static_cast<int>(nLen), 0xC6120505, 9000);
                if (!bAccepted) {
                    reassembler.EndCall();
                    reassembler.BeginCall(GetTickCount(), 0);
                }
            } else {
                bAccepted = reassembler.OnDatagram(datagram.data(), static_cast<int>(datagram.size()),
                                                   0xC6120505, 9000);
            }
            if (!bAccepted)
                continue;
            for (;;) {
                DWORD dwIP = 0;
                WORD usPort = 0;
                // As the socket manager takes them: a frame whole in the pool stays there.
                BYTE* pFrame = nullptr;
                const int nFrame = reassembler.Assemble(
                    s.frameBuf.data(), static_cast<DWORD>(s.frameBuf.size()), &dwIP, &usPort, &pFrame);
                if (nFrame <= 0)
                    break;
                s.work.assign(pFrame, pFrame + nFrame);
                s.engine.ReceiveData(s.work.data(), nFrame, dwIP, usPort,
                                     &s.groups[CEngMedia::GROUP_LIVE_MC]);
                s.work.assign(pFrame, pFrame + nFrame);
                s.engine.ReceiveData(s.work.data(), nFrame, dwIP, usPort,
                                     &s.groups[CEngMedia::GROUP_PLAYBACK_A + 4 * (pData[1] & 1)]);
            }
        }
        if (bReadIntoPool)
            reassembler.EndCall();
    }
    s.work.assign(pData + 2, pData + nSize);
    s.engine.ReceiveData(s.work.data(), static_cast<int>(s.work.size()), 1, 2,
                         &s.groups[CEngMedia::GROUP_DOWNLOAD]);
    s.work.assign(pData + 2, pData + nSize);
    MediaFrame frame;
    try {
        if (CEngMedia::DecodeMedia(s.work.data(), static_cast<DWORD>(s.work.size()), &frame))
            Touch(frame.pData, frame.nLen);
    } catch (...) {
    }
    return 0;
}
