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
// burst through the caches; the rest is the steady drain. The recvfrom drain is split after
// the same number of segments (one clock read a round on each side), so that both parts are
// compared with their like.
//
// Diagnosis: a fourth argument names the drains to run (comma-separated; default three, the
// pooled one only when named: it is not part of the comparison),
// so that each can be profiled alone (perf stat, perf record, valgrind). "pooled" is a
// recvfrom drain that reads as the media path does, each payload into the next free
// 1280-byte block of a pool-sized area with the header in the 8 bytes in front of it put back
// after the read, and nothing more: what it costs over the plain drain is the destination
// memory, what the media path costs over it is the event loop and the reassembly. Ratios are
// printed only for drains that ran.
//
//   media_recv_bench [rounds (30)] [frames per burst (40)] [frame bytes (40000)]
//                    [recvfrom,recvmmsg,media,pooled]
#include "net/mediadatavalid.h"
#include "net/socketmanager.h"
#include "protocol/engmedia.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
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

// The one watched live camera, for the sockets' filter and the engine.
class CLiveContext : public IMediaContext, public IMediaDataSource {
public:
    bool HasWatchedDevice() override { return true; }
    DWORD GetWatchedPlayType(DWORD dwID) override { return dwID == CAMERA_ID ? 1 : 0; }
    bool HasSearchItem(DWORD) override { return true; }
    bool TakeChangeIp(DWORD, int) override { return false; }
    void ResendStartVideo(DWORD) override {}
    bool IsDownloading(DWORD) override { return false; }
    bool GetDownloadDevice(DWORD, WORD*) override { return false; }
    DWORD GetMaxContinuousAck(DWORD) override { return 0; }
    void FeedMediaData(const DownloadFrame&, DWORD) override {}
    void SendDownloadAck(DWORD, const DWORD*, std::size_t, DWORD) override {}
    void NotifyPlayPosition(DWORD, const DWORD*) override {}
    bool IsWatched(DWORD dwID) override { return dwID == CAMERA_ID; }
    bool HasDownloading() override { return false; }
};

double ThreadCpu();
void PerfAtFirstFrame();

long g_nFrames = 0;
long g_nBytes = 0;
// Processor time when the current round's first frame reached the sink (0: not yet).
double g_dFirstFrame = 0;
void Sink(MediaFrame* pFrame)
{
    if (g_dFirstFrame == 0) {
        g_dFirstFrame = ThreadCpu();
        PerfAtFirstFrame();
    }
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
            const BYTE abSegHeader[8] = {bSegment,
                                         0,
                                         static_cast<BYTE>(usSequence >> 8),
                                         static_cast<BYTE>(usSequence),
                                         static_cast<BYTE>(uOffset >> 24),
                                         static_cast<BYTE>(uOffset >> 16),
                                         static_cast<BYTE>(uOffset >> 8),
                                         static_cast<BYTE>(uOffset)};
            std::vector<BYTE> d(std::begin(abSegHeader), std::end(abSegHeader));
            d.resize(8 + n);
            std::copy(frame.begin() + nPos, frame.begin() + nPos + n, d.begin() + 8);
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

// With MEDIA_BENCH_PERF_CTL and MEDIA_BENCH_PERF_ACK naming the control and acknowledgement
// fifos of `perf record --control fifo:CTL,ACK -D -1`, perf samples only inside the drains, not
// the sender's work between them; with MEDIA_BENCH_PERF_FIRST=1 too, only up to the first frame
// (the wake-up).
class CPerfControl {
public:
    CPerfControl()
    {
        const char* pszCtl = std::getenv("MEDIA_BENCH_PERF_CTL");
        const char* pszAck = std::getenv("MEDIA_BENCH_PERF_ACK");
        if (pszCtl != nullptr && pszAck != nullptr) {
            m_fdCtl = open(pszCtl, O_WRONLY);
            m_fdAck = open(pszAck, O_RDONLY);
        }
    }
    ~CPerfControl()
    {
        if (m_fdCtl >= 0)
            close(m_fdCtl);
        if (m_fdAck >= 0)
            close(m_fdAck);
    }
    void Enable()
    {
        m_bEnabled = true;
        Command("enable\n");
    }
    void Disable()
    {
        if (m_bEnabled)
            Command("disable\n");
        m_bEnabled = false;
    }
    void AtFirstFrame()
    {
        if (m_bFirstOnly)
            Disable();
    }

private:
    void Command(const char* pszCommand)
    {
        if (m_fdCtl < 0 || m_fdAck < 0)
            return;
        if (write(m_fdCtl, pszCommand, std::strlen(pszCommand)) < 0)
            return;
        char acAck[16];
        if (read(m_fdAck, acAck, sizeof(acAck)) < 0)
            return;
    }

    int m_fdCtl = -1;
    int m_fdAck = -1;
    bool m_bEnabled = false;
    bool m_bFirstOnly = std::getenv("MEDIA_BENCH_PERF_FIRST") != nullptr;
};

CPerfControl* g_pPerf = nullptr;

void PerfAtFirstFrame()
{
    if (g_pPerf != nullptr)
        g_pPerf->AtFirstFrame();
}

// The rounds of one drain: wall and processor time of each.
struct Drain {
    bool bRun = false;
    std::vector<double> vecWall, vecCpu;
    double dTotal = 0;

    void Add(double dWall, double dCpu)
    {
        vecWall.push_back(dWall);
        vecCpu.push_back(dCpu);
        dTotal += dWall;
    }
};

void PrintRatio(const char* pszName, const Drain& a, const Drain& b)
{
    if (!a.bRun || !b.bRun)
        return;
    // Throughput ratios: the baseline's time over the other's.
    std::printf("ratio %s:     %.3f\n", pszName, a.dTotal / b.dTotal);
    std::printf("median ratio %s: %.3f\n", pszName, Median(a.vecWall) / Median(b.vecWall));
    std::printf("processor-time ratio %s: %.3f\n", pszName, Median(a.vecCpu) / Median(b.vecCpu));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nRounds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int nFrames = argc > 2 ? std::atoi(argv[2]) : 40;
    const int nFrameBytes = argc > 3 ? std::atoi(argv[3]) : 40000;
    const std::string strDrains = argc > 4 ? argv[4] : "recvfrom,recvmmsg,media";
    auto runs = [&strDrains](const char* pszName) {
        return ("," + strDrains + ",").find(std::string(",") + pszName + ",") != std::string::npos;
    };
    Drain plain, mmsg, media, pooled;
    plain.bRun = runs("recvfrom");
    mmsg.bRun = runs("recvmmsg");
    media.bRun = runs("media");
    pooled.bRun = runs("pooled");
    const int fdSend = socket(AF_INET, SOCK_DGRAM, 0);
    WORD usSequence = 0;

    const WORD usPlainPort = FreePort();
    const int fdPlain = BoundSocket(usPlainPort);
    const WORD usMmsgPort = FreePort();
    const int fdMmsg = BoundSocket(usMmsgPort);
    const WORD usPooledPort = FreePort();
    const int fdPooled = BoundSocket(usPooledPort);
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
    // The pooled drain's blocks: one frame's worth, taken again for every frame, as the media
    // path's pool gives the blocks a frame just freed to the next one.
    constexpr int BLOCK = 1280, HEAD_ROOM = 64;
    const int nFrameBlocks = (nFrameBytes + BLOCK - 1) / BLOCK;
    std::vector<BYTE> pooledArea(HEAD_ROOM + static_cast<std::size_t>(nFrameBlocks) * BLOCK);

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
    const CMediaReassembler& reassembler = pGroup->ppSockets[0]->GetMediaReassembler();
    Send(fdSend, usPort, MakeBurst(1, nFrameBytes, usSequence));
    while (g_nFrames < 1)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    CPerfControl perf;
    g_pPerf = &perf;
    std::vector<double> vecMediaFirstCpu, vecPlainFirstCpu;
    long nDatagrams = 0;
    std::size_t nChunksAfterFirst = 0;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        const auto burst = MakeBurst(nFrames, nFrameBytes, usSequence);
        const long nCount = static_cast<long>(burst.size());
        nDatagrams += nCount;
        double dCpu = 0;
        Clock::time_point start;
        auto begin = [&] {
            perf.Enable();
            dCpu = ThreadCpu();
            start = Clock::now();
        };
        auto end = [&](Drain& drain) {
            drain.Add(std::chrono::duration<double>(Clock::now() - start).count(), ThreadCpu() - dCpu);
            perf.Disable();
        };

        if (plain.bRun) {
            Send(fdSend, usPlainPort, burst);
            begin();
            WaitReadable(fdPlain);
            for (long i = 0; i < nCount; ++i) {
                sockaddr_in from{};
                socklen_t nLen = sizeof(from);
                recvfrom(fdPlain, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &nLen);
                // Where the media path's sink sees its first frame (one clock read a round each).
                if (i + 1 == nFrameBlocks) {
                    vecPlainFirstCpu.push_back(ThreadCpu() - dCpu);
                    perf.AtFirstFrame();
                }
            }
            recvfrom(fdPlain, buffer.data(), buffer.size(), MSG_DONTWAIT, nullptr, nullptr);
            end(plain);
        }

        if (mmsg.bRun) {
            Send(fdSend, usMmsgPort, burst);
            begin();
            WaitReadable(fdMmsg);
            for (long nGot = 0; nGot < nCount;) {
                // Without MSG_WAITFORONE a call would wait for a whole batch past the end of the burst.
                const int n = recvmmsg(fdMmsg, msgs.data(), MMSG_BATCH, MSG_WAITFORONE, nullptr);
                if (n > 0)
                    nGot += n;
            }
            recvmmsg(fdMmsg, msgs.data(), MMSG_BATCH, MSG_DONTWAIT, nullptr);
            end(mmsg);
        }

        if (pooled.bRun) {
            Send(fdSend, usPooledPort, burst);
            begin();
            WaitReadable(fdPooled);
            for (long i = 0, nBlock = 0; i <= nCount;
                 ++i, nBlock = nBlock + 1 == nFrameBlocks ? 0 : nBlock + 1) {
                BYTE* pRead = pooledArea.data() + HEAD_ROOM + nBlock * BLOCK - 8;
                BYTE abCovered[8], abHeader[8];
                std::memcpy(abCovered, pRead, 8);
                sockaddr_in from{};
                socklen_t nLen = sizeof(from);
                recvfrom(fdPooled, pRead, 8 + BLOCK, i < nCount ? MSG_TRUNC : MSG_TRUNC | MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &nLen);
                std::memcpy(abHeader, pRead, 8);
                std::memcpy(pRead, abCovered, 8);
                asm volatile("" : : "r"(abHeader) : "memory");
            }
            end(pooled);
        }

        if (media.bRun) {
            const long nTarget = g_nFrames + nFrames;
            g_dFirstFrame = 0;
            Send(fdSend, usPort, burst);
            begin();
            while (g_nFrames < nTarget)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            end(media);
            vecMediaFirstCpu.push_back(g_dFirstFrame - dCpu);
            if (nRound == 0)
                nChunksAfterFirst = reassembler.GetPool().GetChunkCount();
        }
    }
    close(fdPlain);
    close(fdMmsg);
    close(fdPooled);
    close(fdSend);
    std::printf("%d rounds of %d frames of %d bytes (%ld segments)\n", nRounds, nFrames, nFrameBytes,
                nDatagrams);
    const double dPerRound = static_cast<double>(nDatagrams) / nRounds;
    for (const auto& [pszName, pDrain] :
         {std::pair<const char*, const Drain*>{"plain recvfrom drain", &plain},
          {"recvmmsg drain", &mmsg},
          {"pooled recvfrom drain", &pooled},
          {"media path (to the sink)", &media}}) {
        if (!pDrain->bRun)
            continue;
        std::printf("%-25s %.0f segments/s, median round %.0f segments/s, %.0f us processor time\n",
                    (std::string(pszName) + ":").c_str(), static_cast<double>(nDatagrams) / pDrain->dTotal,
                    dPerRound / Median(pDrain->vecWall), Median(pDrain->vecCpu) * 1e6);
    }
    PrintRatio("media/recvfrom", plain, media);
    PrintRatio("media/recvmmsg", mmsg, media);
    PrintRatio("pooled/recvfrom", plain, pooled);
    PrintRatio("media/pooled", pooled, media);
    if (!media.bRun)
        return 0;
    if (nFrames > 1) {
        // The wake-up and first frame, and the frames after it, against the same segments of
        // the recvfrom drain.
        std::vector<double> vecSteady, vecPlainSteady;
        for (std::size_t i = 0; i < media.vecCpu.size(); ++i)
            vecSteady.push_back(media.vecCpu[i] - vecMediaFirstCpu[i]);
        std::printf("media processor time to the first frame %.0f us, then %.0f us for %d frames\n",
                    Median(vecMediaFirstCpu) * 1e6, Median(vecSteady) * 1e6, nFrames - 1);
        if (plain.bRun) {
            for (std::size_t i = 0; i < plain.vecCpu.size(); ++i)
                vecPlainSteady.push_back(plain.vecCpu[i] - vecPlainFirstCpu[i]);
            std::printf("recvfrom processor time to the first frame's segments %.0f us, then %.0f us\n",
                        Median(vecPlainFirstCpu) * 1e6, Median(vecPlainSteady) * 1e6);
            std::printf("steady processor-time ratio media/recvfrom: %.3f\n",
                        Median(vecPlainSteady) / Median(vecSteady));
        }
    }
    std::printf(
        "pool chunks: %zu after the first round, %zu after the last; dropped segments %u, frames %u\n",
        nChunksAfterFirst, reassembler.GetPool().GetChunkCount(),
        static_cast<unsigned>(reassembler.GetDroppedSegments()),
        static_cast<unsigned>(reassembler.GetDroppedFrames()));
    std::printf("frames handed out where they lay %u, copied %u\n",
                static_cast<unsigned>(reassembler.GetInPlaceFrames()),
                static_cast<unsigned>(reassembler.GetCopiedFrames()));
    return 0;
}
