// Receive throughput of the media path on loopback: 40 KB frames cut into 1280-byte segments,
// drained through the socket manager (notification, read loop, reassembly into the group's
// buffer, CEngMedia::ReceiveData with DecodeMedia, the sink) against a plain recvfrom loop and
// a recvmmsg loop over the same bursts in the same run. Each round queues a burst in the
// receiving socket first (its buffer enlarged so nothing is dropped) and then times the drain
// alone. Also reports whether the segment pool grew after the first round.
//
// Each drain wakes once a round and ends on the read that finds its socket empty: the plain ones
// wait for their socket with poll before reading, the media path comes through the event loop
// (poll and the loop's own work, then the read notice), as the client does.
//
// On a shared machine a round now and then loses the processor for tens of milliseconds, and
// those rounds dominate the totals; the ratio of the median rounds is the one that compares the
// code paths (both are printed). Under heavy load even the medians wait for the processor, so
// the processor time this thread spent in each drain (user and kernel; the sender's loopback
// work is done before the drain starts) is measured and compared too.
//
// The media drain's processor time is also split at its first frame: what comes before is the
// wake-up through the event loop and the first frame, both after the sender has pushed the
// burst through the caches; the rest is the steady drain, compared with the same number of
// segments of the recvfrom drain.
//
//   media_recv_bench [rounds (30)] [frames per burst (40)] [frame bytes (40000)]
#include "net/mediadatavalid.h"
#include "net/socketmanager.h"
#include "protocol/engmedia.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

constexpr DWORD LOOPBACK = 0x7F000001;
constexpr DWORD CAMERA_ID = 0x1234;
using Clock = std::chrono::steady_clock;

sockaddr_in Address(DWORD dwIP, WORD usPort)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(dwIP);
    sin.sin_port = htons(usPort);
    return sin;
}

WORD FreePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sin = Address(LOOPBACK, 0);
    bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    socklen_t nLen = sizeof(sin);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &nLen);
    close(fd);
    return ntohs(sin.sin_port);
}

void EnlargeReceiveBuffer(int fd)
{
    const int nBytes = 256 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &nBytes, sizeof(nBytes)) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof(nBytes));
}

// The selected live camera, for the sockets' filter and the engine.
class CLiveContext : public IMediaContext, public IMediaDataSource {
public:
    bool GetSelectedDevice(DWORD* pdwID) override
    {
        *pdwID = CAMERA_ID;
        return true;
    }
    DWORD GetSelectedPlayType() override { return 1; }
    bool HasSearchItem(DWORD) override { return true; }
    bool TakeChangeIp(DWORD, int) override { return false; }
    void ResendStartVideo() override {}
    bool IsDownloading(DWORD) override { return false; }
    bool GetDownloadDevice(DWORD, WORD*) override { return false; }
    DWORD GetMaxContinuousAck(DWORD) override { return 0; }
    void FeedMediaData(const DownloadFrame&, DWORD) override {}
    void SendDownloadAck(DWORD, const DWORD*, std::size_t, DWORD) override {}
    void NotifyPlayPosition(const DWORD*) override {}
    bool GetCurrentDevice(DWORD* pdwID) override { return GetSelectedDevice(pdwID); }
    bool HasDownloading() override { return false; }
};

double ThreadCpu();

long g_nFrames = 0;
long g_nBytes = 0;
// Processor time when the current round's first frame reached the sink (0: not yet).
double g_dFirstFrame = 0;
void Sink(MediaFrame* pFrame)
{
    if (g_dFirstFrame == 0)
        g_dFirstFrame = ThreadCpu();
    ++g_nFrames;
    g_nBytes += pFrame->nLen;
}

// The datagrams of nFrames stamped H.264 frames of nFrameBytes each.
std::vector<std::vector<BYTE>> MakeBurst(int nFrames, int nFrameBytes, WORD& usSequence)
{
    std::vector<std::vector<BYTE>> out;
    for (int f = 0; f < nFrames; ++f, ++usSequence) {
        std::vector<BYTE> frame(nFrameBytes, static_cast<BYTE>(f));
        const BYTE abHeader[18] = {0x61,
                                   1,
                                   static_cast<BYTE>(usSequence >> 8),
                                   static_cast<BYTE>(usSequence),
                                   0x34,
                                   0x12,
                                   0,
                                   0,
                                   10,
                                   0,
                                   0x66,
                                   0x00,
                                   0x00,
                                   0x01,
                                   0,
                                   0,
                                   0,
                                   0};
        std::copy(std::begin(abHeader), std::end(abHeader), frame.begin());
        for (int nPos = 0; nPos < nFrameBytes; nPos += 1280) {
            const int n = std::min(1280, nFrameBytes - nPos);
            const BYTE bSegment = nPos + n == nFrameBytes ? (nPos == 0 ? 0 : 1) : 2;
            const DWORD uOffset = static_cast<DWORD>(nPos / 256);
            std::vector<BYTE> d = {bSegment,
                                   0,
                                   static_cast<BYTE>(usSequence >> 8),
                                   static_cast<BYTE>(usSequence),
                                   static_cast<BYTE>(uOffset >> 24),
                                   static_cast<BYTE>(uOffset >> 16),
                                   static_cast<BYTE>(uOffset >> 8),
                                   static_cast<BYTE>(uOffset)};
            d.insert(d.end(), frame.begin() + nPos, frame.begin() + nPos + n);
            out.push_back(std::move(d));
        }
    }
    return out;
}

void Send(int fd, WORD usPort, const std::vector<std::vector<BYTE>>& burst)
{
    const sockaddr_in sin = Address(LOOPBACK, usPort);
    for (const auto& d : burst)
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
}

int BoundSocket(WORD usPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in sin = Address(LOOPBACK, usPort);
    bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
    EnlargeReceiveBuffer(fd);
    return fd;
}

// Processor time of this thread, in seconds.
double ThreadCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The wake-up of a drain that waits for its socket.
void WaitReadable(int fd)
{
    pollfd pfd{fd, POLLIN, 0};
    poll(&pfd, 1, -1);
}

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec.empty() ? 0 : vec[vec.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nRounds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int nFrames = argc > 2 ? std::atoi(argv[2]) : 40;
    const int nFrameBytes = argc > 3 ? std::atoi(argv[3]) : 40000;
    const int fdSend = socket(AF_INET, SOCK_DGRAM, 0);
    WORD usSequence = 0;

    const WORD usPlainPort = FreePort();
    const int fdPlain = BoundSocket(usPlainPort);
    const WORD usMmsgPort = FreePort();
    const int fdMmsg = BoundSocket(usMmsgPort);
    std::vector<BYTE> buffer(2000);
    constexpr int MMSG_BATCH = 64;
    std::vector<std::vector<BYTE>> mmsgBuffers(MMSG_BATCH, std::vector<BYTE>(2000));
    std::vector<iovec> iovecs(MMSG_BATCH);
    std::vector<mmsghdr> msgs(MMSG_BATCH);
    std::vector<sockaddr_in> froms(MMSG_BATCH);
    for (int i = 0; i < MMSG_BATCH; ++i) {
        iovecs[i] = {mmsgBuffers[i].data(), mmsgBuffers[i].size()};
        msgs[i].msg_hdr = {};
        msgs[i].msg_hdr.msg_iov = &iovecs[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &froms[i];
        msgs[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }

    CFixedLocalAddresses addresses({LOOPBACK});
    SetCaptureListenerFactory(CaptureListenerFactory());
    CSocketManager manager(&addresses);
    manager.SetSourceHoldTime(10);
    CLiveContext context;
    GetMediaDataValid().SetSource(&context);
    CEngMedia engine(&manager);
    engine.SetContext(&context);
    const WORD usPort = FreePort();
    SocketGroup* pGroup = manager.CreateSocket(0, usPort, FALSE, &engine);
    if (pGroup == nullptr) {
        std::fprintf(stderr, "media_recv_bench: no socket\n");
        return 1;
    }
    engine.SetGroupForTest(CEngMedia::GROUP_LIVE, pGroup);
    engine.SetMediaSink(nullptr, &Sink);
    EnlargeReceiveBuffer(pGroup->ppSockets[0]->GetSocket());
    const CMediaReassembler& media = pGroup->ppSockets[0]->GetMediaReassembler();
    Send(fdSend, usPort, MakeBurst(1, nFrameBytes, usSequence));
    while (g_nFrames < 1)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    double dPlain = 0, dMmsg = 0, dMedia = 0;
    std::vector<double> vecPlain, vecMmsg, vecMedia;
    std::vector<double> vecPlainCpu, vecMmsgCpu, vecMediaCpu, vecMediaFirstCpu;
    long nDatagrams = 0;
    std::size_t nChunksAfterFirst = 0;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        const auto burst = MakeBurst(nFrames, nFrameBytes, usSequence);
        const long nCount = static_cast<long>(burst.size());
        nDatagrams += nCount;

        Send(fdSend, usPlainPort, burst);
        double dCpu = ThreadCpu();
        auto start = Clock::now();
        WaitReadable(fdPlain);
        for (long i = 0; i < nCount; ++i) {
            sockaddr_in from{};
            socklen_t nLen = sizeof(from);
            recvfrom(fdPlain, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &nLen);
        }
        recvfrom(fdPlain, buffer.data(), buffer.size(), MSG_DONTWAIT, nullptr, nullptr);
        vecPlain.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        vecPlainCpu.push_back(ThreadCpu() - dCpu);
        dPlain += vecPlain.back();

        Send(fdSend, usMmsgPort, burst);
        dCpu = ThreadCpu();
        start = Clock::now();
        WaitReadable(fdMmsg);
        for (long nGot = 0; nGot < nCount;) {
            // Without MSG_WAITFORONE a call would wait for a whole batch past the end of the burst.
            const int n = recvmmsg(fdMmsg, msgs.data(), MMSG_BATCH, MSG_WAITFORONE, nullptr);
            if (n > 0)
                nGot += n;
        }
        recvmmsg(fdMmsg, msgs.data(), MMSG_BATCH, MSG_DONTWAIT, nullptr);
        vecMmsg.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        vecMmsgCpu.push_back(ThreadCpu() - dCpu);
        dMmsg += vecMmsg.back();

        const long nTarget = g_nFrames + nFrames;
        g_dFirstFrame = 0;
        Send(fdSend, usPort, burst);
        dCpu = ThreadCpu();
        start = Clock::now();
        while (g_nFrames < nTarget)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        vecMedia.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        vecMediaCpu.push_back(ThreadCpu() - dCpu);
        vecMediaFirstCpu.push_back(g_dFirstFrame - dCpu);
        dMedia += vecMedia.back();
        if (nRound == 0)
            nChunksAfterFirst = media.GetPool().GetChunkCount();
    }
    close(fdPlain);
    close(fdMmsg);
    close(fdSend);
    const double dPlainRate = nDatagrams / dPlain;
    const double dMmsgRate = nDatagrams / dMmsg;
    const double dMediaRate = nDatagrams / dMedia;
    std::printf("%d rounds of %d frames of %d bytes (%ld segments)\n", nRounds, nFrames, nFrameBytes,
                nDatagrams);
    std::printf("plain recvfrom drain:     %.0f segments/s\n", dPlainRate);
    std::printf("recvmmsg drain:           %.0f segments/s\n", dMmsgRate);
    std::printf("media path (to the sink): %.0f segments/s, %.1f MB/s of frames\n", dMediaRate,
                dMediaRate * 1280 / 1e6);
    std::printf("ratio media/recvfrom:     %.3f\n", dMediaRate / dPlainRate);
    std::printf("ratio media/recvmmsg:     %.3f\n", dMediaRate / dMmsgRate);
    const double dPerRound = static_cast<double>(nDatagrams) / nRounds;
    const double dPlainMedian = dPerRound / Median(vecPlain);
    const double dMmsgMedian = dPerRound / Median(vecMmsg);
    const double dMediaMedian = dPerRound / Median(vecMedia);
    std::printf("median rounds: recvfrom %.0f, recvmmsg %.0f, media %.0f segments/s\n", dPlainMedian,
                dMmsgMedian, dMediaMedian);
    std::printf("median ratio media/recvfrom: %.3f\n", dMediaMedian / dPlainMedian);
    std::printf("median ratio media/recvmmsg: %.3f\n", dMediaMedian / dMmsgMedian);
    std::printf("median processor time a round: recvfrom %.0f, recvmmsg %.0f, media %.0f us\n",
                Median(vecPlainCpu) * 1e6, Median(vecMmsgCpu) * 1e6, Median(vecMediaCpu) * 1e6);
    std::printf("processor-time ratio media/recvfrom: %.3f\n", Median(vecPlainCpu) / Median(vecMediaCpu));
    std::printf("processor-time ratio media/recvmmsg: %.3f\n", Median(vecMmsgCpu) / Median(vecMediaCpu));
    if (nFrames > 1) {
        // The frames after the first against the same share of the recvfrom drain.
        std::vector<double> vecSteady;
        for (std::size_t i = 0; i < vecMediaCpu.size(); ++i)
            vecSteady.push_back(vecMediaCpu[i] - vecMediaFirstCpu[i]);
        const double dShare = static_cast<double>(nFrames - 1) / nFrames;
        std::printf("media processor time to the first frame %.0f us, then %.0f us for %d frames\n",
                    Median(vecMediaFirstCpu) * 1e6, Median(vecSteady) * 1e6, nFrames - 1);
        std::printf("steady processor-time ratio media/recvfrom: %.3f\n",
                    Median(vecPlainCpu) * dShare / Median(vecSteady));
    }
    std::printf(
        "pool chunks: %zu after the first round, %zu after the last; dropped segments %u, frames %u\n",
        nChunksAfterFirst, media.GetPool().GetChunkCount(), static_cast<unsigned>(media.GetDroppedSegments()),
        static_cast<unsigned>(media.GetDroppedFrames()));
    std::printf("frames handed out where they lay %u, copied %u\n",
                static_cast<unsigned>(media.GetInPlaceFrames()),
                static_cast<unsigned>(media.GetCopiedFrames()));
    return 0;
}
