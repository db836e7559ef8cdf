#include "app/healthreport.h"

#include "net/mediareassembly.h"
#include "net/socketmanager.h"
#include "net/socketudp.h"
#include "protocol/engmedia.h"

#include <malloc.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct HealthReport {
    std::FILE* pFile = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

void WriteLine(HealthReport& report)
{
    const struct mallinfo2 heap = mallinfo2();
    std::size_t nSenders = 0, nChunks = 0, nResident = 0, nQueued = 0, nRoom = 0;
    unsigned long long qwDroppedSegments = 0, qwDroppedFrames = 0, qwDamaged = 0;
    CEngMedia* pEngine = CEngMedia::GetInstance();
    for (int i = 0; i < CEngMedia::GROUP_COUNT; ++i) {
        const SocketGroup* pGroup = pEngine->GetGroup(i);
        if (pGroup == nullptr)
            continue;
        for (int j = 0; j < pGroup->nSockets; ++j) {
            const CSocketUdp* pSocket = pGroup->ppSockets[j];
            const CMediaReassembler& media = pSocket->GetMediaReassembler();
            nSenders += media.GetSenderCount();
            nRoom += media.GetSegmentRoom();
            nChunks += media.GetPool().GetChunkCount();
            nResident += media.GetPool().GetResidentChunkCount();
            qwDroppedSegments += media.GetDroppedSegments();
            qwDroppedFrames += media.GetDroppedFrames();
            qwDamaged += media.GetDamagedFrames();
            nQueued += static_cast<std::size_t>(pSocket->GetQueuedCount());
        }
    }
    const long long llMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - report.start)
            .count();
    std::fprintf(report.pFile,
                 "health ms=%lld heap_used=%zu heap_arena=%zu heap_mmap=%zu heap_free=%zu senders=%zu "
                 "pool_chunks=%zu pool_resident=%zu capture_queue=%zu dropped_segments=%llu "
                 "dropped_frames=%llu damaged_frames=%llu segment_room=%zu\n",
                 llMs, heap.uordblks + heap.hblkhd, heap.arena, heap.hblkhd, heap.fordblks, nSenders, nChunks,
                 nResident, nQueued, qwDroppedSegments, qwDroppedFrames, qwDamaged, nRoom);
    std::fflush(report.pFile);
}

} // namespace

void KeepLargeBlocksMapped(int nBytes)
{
    // Setting it also fixes the trim threshold, which otherwise follows the mapping threshold up.
    mallopt(M_MMAP_THRESHOLD, nBytes);
}

void StartHeapReturn()
{
    if (QCoreApplication::instance() == nullptr)
        return;
    static bool bStarted = false;
    if (bStarted)
        return;
    bStarted = true;
    auto* pTimer = new QTimer(QCoreApplication::instance());
    QObject::connect(pTimer, &QTimer::timeout, [] {
        CSocketManager::GetInstance()->ReleaseIdleMemory();
        malloc_trim(0);
    });
    pTimer->start(HEAP_RETURN_MS);
}

void StartHealthReport()
{
    const char* pszPath = std::getenv("VISTREL_HEALTH");
    if (pszPath == nullptr || *pszPath == 0 || QCoreApplication::instance() == nullptr)
        return;
    static HealthReport report;
    if (report.pFile != nullptr)
        return;
    report.pFile = std::fopen(pszPath, "a");
    if (report.pFile == nullptr)
        return;
    const char* pszMs = std::getenv("VISTREL_HEALTH_MS");
    const int nMs = pszMs != nullptr && std::atoi(pszMs) > 0 ? std::atoi(pszMs) : 10000;
    auto* pTimer = new QTimer(QCoreApplication::instance());
    QObject::connect(pTimer, &QTimer::timeout, [] { WriteLine(report); });
    pTimer->start(nMs);
    WriteLine(report);
}
