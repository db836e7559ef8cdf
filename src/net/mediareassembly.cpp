#include "net/mediareassembly.h"

#include "core/log.h"
#include "platform/ticks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {

std::atomic<DWORD> g_dwLastFrameAssembleUs{0};
std::atomic<bool> g_bLastFrameDamaged{false};

// A frame whose own header (at its start) says it begins with codec headers: a key frame.
bool StartsKeyFrame(const BYTE* pFirst)
{
    const BYTE byType = (pFirst[0] & 0xF1) | 1;
    return (byType == 0x11 || byType == 0x31 || byType == 0x51 || byType == 0x61) && pFirst[1] == 0;
}

} // namespace

DWORD GetLastFrameAssembleUs()
{
    return g_dwLastFrameAssembleUs.load(std::memory_order_relaxed);
}

bool IsLastFrameDamaged()
{
    return g_bLastFrameDamaged.load(std::memory_order_relaxed);
}

// --- CSpacePool ---

CSpacePool::~CSpacePool()
{
    if (m_pReserved != nullptr)
        munmap(m_pReserved - HEAD_ROOM, m_nReservedBytes);
}

void CSpacePool::Grow()
{
    constexpr std::size_t nChunkBytes = CHUNK_BYTES;
    if (!m_bReserveTried) {
        m_bReserveTried = true;
        const std::size_t nBytes = HEAD_ROOM + RESERVED_CHUNKS * nChunkBytes;
        void* p =
            mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            m_pReserved = static_cast<BYTE*>(p) + HEAD_ROOM;
            m_nReservedBytes = nBytes;
        }
    }
    BYTE* pChunk = nullptr;
    if (m_pReserved != nullptr && m_nReservedUsed < RESERVED_CHUNKS) {
        pChunk = m_pReserved + m_nReservedUsed * nChunkBytes;
        ++m_nReservedUsed;
        Populate(m_nReservedUsed - 1);
    } else {
        // Segments overwrite what they use: no need to clear the chunk.
        m_vecChunks.push_back(std::make_unique_for_overwrite<BYTE[]>(HEAD_ROOM + nChunkBytes));
        pChunk = m_vecChunks.back().get() + HEAD_ROOM;
    }
    m_mapChunks[pChunk] = nChunkBytes;
    m_vecReleased.resize(m_nReservedUsed);
    m_vecFreeSince.resize(m_nReservedUsed);
    DebugTrace(0, "!!!!!!!!!!!!New memory!!!!!!!!!!!!");
    m_vecFree.reserve(m_mapChunks.size() * CHUNK_BLOCKS);
    // Highest first, so that blocks go out in address order: a frame's segments, which come in
    // order, then lie one after another and need no copy to be assembled.
    for (DWORD i = CHUNK_BLOCKS; i-- > 0;)
        m_vecFree.push_back(pChunk + std::size_t{i} * BLOCK_SIZE);
}

void CSpacePool::ReleaseSpace(BYTE* pBlock)
{
    if (pBlock == nullptr)
        return;
    if (IsReservedBlock(pBlock)) {
        m_vecFree.push_back(pBlock);
        return;
    }
    auto it = m_mapChunks.upper_bound(pBlock);
    if (it != m_mapChunks.begin()) {
        --it;
        const auto nOffset = static_cast<std::size_t>(pBlock - it->first);
        if (pBlock >= it->first && nOffset < it->second && nOffset % BLOCK_SIZE == 0) {
            m_vecFree.push_back(pBlock);
            return;
        }
    }
    DebugTrace(0, "ReleaseSpace:Not an valid memory handle");
}

void CSpacePool::ReleaseRun(BYTE* pFirst, std::size_t nBlocks)
{
    if (nBlocks == 0)
        return;
    // Inside the reservation the two ends vouch for every block between them.
    if (IsReservedBlock(pFirst) && IsReservedBlock(pFirst + (nBlocks - 1) * BLOCK_SIZE)) {
        const std::size_t nFree = m_vecFree.size();
        m_vecFree.resize(nFree + nBlocks);
        // Through plain pointers, so that the loop is not held back by the vector's own fields.
        BYTE* pBlock = pFirst + nBlocks * BLOCK_SIZE;
        BYTE** ppOut = m_vecFree.data() + nFree;
        BYTE** const ppEnd = ppOut + nBlocks;
#pragma GCC unroll 4
        for (; ppOut != ppEnd; ++ppOut)
            *ppOut = pBlock -= BLOCK_SIZE;
        return;
    }
    for (std::size_t i = nBlocks; i-- > 0;)
        ReleaseSpace(pFirst + i * BLOCK_SIZE);
}

// The pages wholly inside reserved chunk i: its neighbours' may be in use.
std::pair<void*, std::size_t> CSpacePool::ChunkPages(std::size_t i) const
{
    const auto nPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto nStart = reinterpret_cast<std::uintptr_t>(m_pReserved + i * CHUNK_BYTES);
    const std::uintptr_t nFirst = (nStart + nPage - 1) / nPage * nPage;
    const std::uintptr_t nEnd = (nStart + CHUNK_BYTES) / nPage * nPage;
    return {reinterpret_cast<void*>(nFirst), nEnd > nFirst ? nEnd - nFirst : 0};
}

void CSpacePool::Populate(std::size_t i)
{
    // A chunk in use holds all its pages from the start, rather than one more page whenever a
    // block lands on a page not touched yet: the memory held is then the chunks held, and does
    // not creep up over hours as rarely used blocks get touched. Where the kernel cannot do it
    // the pages come in as they are used, as before.
    const auto [pPages, nBytes] = ChunkPages(i);
    if (nBytes != 0)
        madvise(pPages, nBytes, MADV_POPULATE_WRITE);
}

void CSpacePool::Trim(DWORD dwNow)
{
    if (m_vecFree.size() < 2 * CHUNK_BLOCKS &&
        std::find(m_vecReleased.begin(), m_vecReleased.end(), true) == m_vecReleased.end()) {
        // Not even two chunks free, so at most the spare is, and no chunk given back before can
        // be in use again: nothing to give back or take in.
        std::fill(m_vecFreeSince.begin(), m_vecFreeSince.end(), std::nullopt);
        m_mapHeapFreeSince.clear();
        return;
    }
    // Lowest on top: what is taken next comes from the lowest chunks, in address order.
    std::sort(m_vecFree.begin(), m_vecFree.end(), std::greater<>());
    std::vector<DWORD> vecReservedFree(m_nReservedUsed);
    std::map<const BYTE*, DWORD> mapHeapFree;
    for (BYTE* pBlock : m_vecFree) {
        if (IsReservedBlock(pBlock)) {
            ++vecReservedFree[static_cast<std::size_t>(pBlock - m_pReserved) / CHUNK_BYTES];
        } else {
            auto it = m_mapChunks.upper_bound(pBlock);
            ++mapHeapFree[std::prev(it)->first];
        }
    }
    // Whether a wholly free chunk has been so for long enough to go (the first one found is
    // kept as the spare).
    bool bSpareKept = false;
    auto bLongFree = [&](DWORD dwSince) { return dwNow - dwSince >= RELEASE_AFTER_MS; };
    for (std::size_t i = 0; i < m_nReservedUsed; ++i) {
        if (vecReservedFree[i] != CHUNK_BLOCKS) {
            m_vecFreeSince[i].reset();
            if (m_vecReleased[i]) {
                // In use again: its pages come back all at once, as a new chunk's do.
                m_vecReleased[i] = false;
                Populate(i);
            }
            continue;
        }
        if (!m_vecFreeSince[i])
            m_vecFreeSince[i] = dwNow;
        if (!bSpareKept) {
            bSpareKept = true;
            continue;
        }
        if (m_vecReleased[i] || !bLongFree(*m_vecFreeSince[i]))
            continue;
        // The blocks stay free; used again, their pages come back zeroed, and segments
        // overwrite them anyway.
        const auto [pPages, nBytes] = ChunkPages(i);
        if (nBytes != 0)
            madvise(pPages, nBytes, MADV_DONTNEED);
        m_vecReleased[i] = true;
    }
    // Heap chunks (past the reservation) go altogether, blocks and memory.
    std::vector<const BYTE*> vecGone;
    std::map<const BYTE*, DWORD> mapFreeSince;
    for (const auto& [pChunk, nFree] : mapHeapFree) {
        if (nFree != CHUNK_BLOCKS)
            continue;
        const auto it = m_mapHeapFreeSince.find(pChunk);
        const DWORD dwSince = it != m_mapHeapFreeSince.end() ? it->second : dwNow;
        if (!bSpareKept) {
            bSpareKept = true;
        } else if (bLongFree(dwSince)) {
            vecGone.push_back(pChunk);
            continue;
        }
        mapFreeSince.emplace(pChunk, dwSince);
    }
    m_mapHeapFreeSince = std::move(mapFreeSince);
    if (vecGone.empty())
        return;
    std::erase_if(m_vecFree, [&](const BYTE* pBlock) {
        if (IsReservedBlock(pBlock))
            return false;
        const BYTE* pChunk = std::prev(m_mapChunks.upper_bound(pBlock))->first;
        return std::binary_search(vecGone.begin(), vecGone.end(), pChunk);
    });
    for (const BYTE* pChunk : vecGone)
        m_mapChunks.erase(pChunk);
    std::erase_if(m_vecChunks, [&](const std::unique_ptr<BYTE[]>& p) {
        return std::binary_search(vecGone.begin(), vecGone.end(), p.get() + HEAD_ROOM);
    });
}

std::size_t CSpacePool::GetResidentChunkCount() const
{
    return m_mapChunks.size() -
           static_cast<std::size_t>(std::count(m_vecReleased.begin(), m_vecReleased.end(), true));
}

// --- LINKITEM ---

void LINKITEM::Flush(Slot& slot)
{
    // Highest address first, so that the next frame takes the blocks in address order again
    // (a one-datagram frame read between two segments of a frame breaks the order once).
    if (slot.bInPlace) {
        pPool->ReleaseRun(slot.vecSegments.front().second, slot.vecSegments.size());
    } else {
        std::sort(slot.vecSegments.begin(), slot.vecSegments.end(),
                  [](const auto& a, const auto& b) { return std::less<>()(a.second, b.second); });
        for (auto it = slot.vecSegments.rbegin(); it != slot.vecSegments.rend(); ++it)
            pPool->ReleaseSpace(it->second);
    }
    if (!slot.vecSegments.empty())
        --nBusySlots;
    nHeldBlocks -= static_cast<int>(slot.nCounted);
    slot.nCounted = 0;
    if (slot.nCompleteLen != 0)
        --nCompleteSlots;
    if (&slot - vecSlots.data() < ROOM_SLOTS)
        slot.vecSegments.clear();
    else
        std::vector<std::pair<DWORD, BYTE*>>().swap(slot.vecSegments);
    slot.usSequence = 0;
    slot.dwTick = 0;
    slot.nFinalLen = 0;
    slot.dwFinalOffset = 0;
    slot.nCompleteLen = 0;
    slot.bInPlace = false;
    slot.bRun = false;
    slot.bSingle = false;
    slot.dwFirstUs = 0;
    slot.dwAssembleUs = 0;
}

void LINKITEM::FlushAll()
{
    // Free slots hold nothing to flush.
    for (int i = 0; i < SLOT_COUNT && nBusySlots > 0; ++i) {
        if (!vecSlots[i].IsEmpty())
            Flush(vecSlots[i]);
    }
    vecReady.clear();
    bReadyStale = false;
    bIdle = 1;
}

int LINKITEM::FlushStale(DWORD dwNow)
{
    int nFlushed = 0;
    for (int i = 0; i < SLOT_COUNT && nBusySlots > nCompleteSlots; ++i) {
        Slot& slot = vecSlots[i];
        if (slot.IsEmpty() || slot.nCompleteLen != 0 || dwNow - slot.dwTick <= STALE_MS)
            continue;
        Flush(slot);
        ++nFlushed;
    }
    // A given-up key frame among them may be listed as ready.
    if (nFlushed != 0)
        bReadyStale = true;
    return nFlushed;
}

void LINKITEM::Reset()
{
    FlushAll();
    bIdle = 0;
    nLastSlot = 0;
    bAccepted = false;
}

void LINKITEM::ReleaseOldest(int nKeep)
{
    while (nHeldBlocks >= MAX_HELD_BLOCKS) {
        int nOldest = -1;
        for (int i = 0; i < SLOT_COUNT; ++i) {
            const Slot& slot = vecSlots[i];
            if (i == nKeep || slot.IsEmpty())
                continue;
            if (nOldest < 0) {
                nOldest = i;
                continue;
            }
            const Slot& oldest = vecSlots[nOldest];
            // Incomplete before complete, then by the age of the latest segment.
            const bool bComplete = slot.nCompleteLen != 0;
            const bool bOldestComplete = oldest.nCompleteLen != 0;
            if (bComplete != bOldestComplete ? !bComplete
                                             : static_cast<std::int32_t>(slot.dwTick - oldest.dwTick) < 0)
                nOldest = i;
        }
        if (nOldest < 0)
            return;
        DebugTrace(1, "Assemble error:sender holds %d blocks, throw %d packets, Sequence=%d", nHeldBlocks,
                   static_cast<int>(vecSlots[nOldest].vecSegments.size()),
                   static_cast<int>(vecSlots[nOldest].usSequence));
        Flush(vecSlots[nOldest]);
        bReadyStale = true;
    }
}

int LINKITEM::FindFreeOrReclaim(DWORD usSequence, DWORD dwNow)
{
    // In steady traffic the previous frame is gone when the next one starts.
    if (nBusySlots == 0)
        return 0;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (vecSlots[i].IsEmpty())
            return i;
    }
    int nFound = -1;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (ReclaimIfStale(vecSlots[i], dwNow))
            nFound = i;
    }
    if (nFound >= 0)
        return nFound;
    // The oldest by sequence, allowing for the 16-bit wrap.
    DWORD dwReference = usSequence;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        const auto nDiff = static_cast<std::int32_t>(dwReference - vecSlots[i].usSequence);
        if ((nDiff >= 1 && nDiff <= 4094) || nDiff < -61439) {
            dwReference = vecSlots[i].usSequence;
            nFound = i;
        }
    }
    if (nFound >= 0) {
        DebugTrace(1, "Discard oldest packet!!!");
        Flush(vecSlots[nFound]);
    }
    return nFound;
}

int LINKITEM::FindSegmentedSlot(DWORD usSequence, DWORD dwNow)
{
    // Only a slot that holds segments counts as the frame's (free slots all read 0), and never
    // one holding a frame that came whole.
    auto holdsSegmentsOf = [usSequence](const Slot& slot) {
        return !slot.IsEmpty() && !slot.bSingle && slot.usSequence == usSequence;
    };
    int nFound = holdsSegmentsOf(vecSlots[nLastSlot]) ? nLastSlot : -1;
    for (int i = 0; i < SLOT_COUNT && nFound < 0 && nBusySlots > 0; ++i) {
        if (holdsSegmentsOf(vecSlots[i]))
            nFound = i;
    }
    if (nFound < 0)
        return FindFreeOrReclaim(usSequence, dwNow);
    // A frame's segments come back to back: a slot idle that long holds an older frame of the
    // same number (the numbers wrapped, or the camera started counting again), whose segments
    // must not fill this one's gaps.
    ReclaimIfStale(vecSlots[nFound], dwNow);
    return nFound;
}

bool LINKITEM::ReclaimIfStale(Slot& slot, DWORD dwNow)
{
    const DWORD dwAge = dwNow - slot.dwTick;
    if (dwAge <= STALE_MS)
        return false;
    DebugTrace(1, "Assemble error:time escape %d seconds, throw %d packets, Sequence=%d",
               static_cast<int>(dwAge / 1000), static_cast<int>(slot.vecSegments.size()),
               static_cast<int>(slot.usSequence));
    Flush(slot);
    return true;
}

bool LINKITEM::FitsFrame(const Slot& slot, BYTE bSegment, DWORD dwOffset, DWORD nLen)
{
    if (slot.IsEmpty())
        return true;
    if (bSegment == 1) {
        if (slot.nFinalLen != 0)
            return slot.dwFinalOffset == dwOffset && slot.nFinalLen == nLen;
        return slot.vecSegments.back().first < dwOffset;
    }
    return slot.nFinalLen == 0 || dwOffset < slot.dwFinalOffset;
}

int LINKITEM::FindSingleSlot(DWORD usSequence, DWORD dwNow)
{
    return FindFreeOrReclaim(usSequence, dwNow);
}

bool LINKITEM::Insert(BYTE bSegment, WORD usSequence, DWORD dwOffset, BYTE* pBlock, DWORD nLen, DWORD dwNow,
                      DWORD dwNowUs)
{
    if (bSegment > 1 && AppendInOrder(usSequence, dwOffset, pBlock, dwNow))
        return true;
    // The in-order paths append to the last slot only: counted here, the rest is exact.
    CountHeld(vecSlots[nLastSlot]);
    const int nSlot =
        bSegment == 0 ? FindSingleSlot(usSequence, dwNow) : FindSegmentedSlot(usSequence, dwNow);
    if (nSlot < 0) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: no space for index usSeq:%d", usSequence);
        return false;
    }
    if (nHeldBlocks >= MAX_HELD_BLOCKS)
        ReleaseOldest(nSlot);
    Slot& slot = vecSlots[nSlot];
    // Assembly takes every segment but the final one as a whole block, and the final one's
    // length from the last final to come: a segment that disagrees would put stale pool bytes,
    // or another frame's, into this one. The frame so far goes; the segment starts afresh.
    if (bSegment != 0 && !FitsFrame(slot, bSegment, dwOffset, nLen)) {
        VLOG(2,
             "CSocketUdp::LINKITEM::Insert: segment does not fit its frame, %d segments dropped usSeq:%d, "
             "bSegment:%d, uOffsetFact:%d, usSegLen:%d",
             static_cast<int>(slot.vecSegments.size()), usSequence, bSegment, static_cast<int>(dwOffset),
             static_cast<int>(nLen));
        Flush(slot);
    }
    nLastSlot = nSlot;
    bIdle = 0;
    bReadyStale = true;
    if (slot.IsEmpty()) {
        ++nBusySlots;
        slot.dwFirstUs = dwNowUs;
    }
    slot.usSequence = usSequence;
    slot.dwTick = dwNow;
    if (bSegment == 0) {
        slot.bSingle = true;
        slot.bRun = slot.vecSegments.empty();
        slot.vecSegments.emplace_back(0, pBlock);
        CountHeld(slot);
        slot.nFinalLen = nLen;
        slot.dwFinalOffset = 0;
        UpdateComplete(slot, dwNowUs);
        return true;
    }
    // Segments mostly come in order: then the new one simply goes last.
    auto it = slot.vecSegments.end();
    if (!slot.vecSegments.empty() && slot.vecSegments.back().first >= dwOffset)
        it = std::lower_bound(slot.vecSegments.begin(), slot.vecSegments.end(), dwOffset,
                              [](const auto& seg, DWORD dwKey) { return seg.first < dwKey; });
    if (it != slot.vecSegments.end() && it->first == dwOffset) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: Receive repeat packet! uOffsetFact:%d",
             static_cast<int>(dwOffset));
        pPool->ReleaseSpace(pBlock);
    } else if (it == slot.vecSegments.end()) {
        slot.bRun = slot.vecSegments.empty()
                        ? dwOffset == 0
                        : slot.bRun && dwOffset == slot.vecSegments.back().first + CSpacePool::BLOCK_SIZE &&
                              pBlock == slot.vecSegments.back().second + CSpacePool::BLOCK_SIZE;
        slot.vecSegments.emplace_back(dwOffset, pBlock);
    } else {
        slot.vecSegments.insert(it, {dwOffset, pBlock});
        slot.bRun = false;
    }
    CountHeld(slot);
    if (bSegment == 1) {
        slot.nFinalLen = nLen;
        slot.dwFinalOffset = dwOffset;
    }
    UpdateComplete(slot, dwNowUs);
    return true;
}

void LINKITEM::UpdateComplete(Slot& slot, DWORD dwNowUs)
{
    const bool bWasComplete = slot.nCompleteLen != 0;
    slot.nCompleteLen = 0;
    slot.bInPlace = false;
    if (slot.bRun) {
        if (slot.nFinalLen != 0 && slot.vecSegments.back().first == slot.dwFinalOffset) {
            slot.nCompleteLen = slot.dwFinalOffset + slot.nFinalLen;
            slot.bInPlace = true;
        }
    } else if (slot.nFinalLen != 0 && slot.dwFinalOffset % CSpacePool::BLOCK_SIZE == 0 &&
               slot.vecSegments.size() == slot.dwFinalOffset / CSpacePool::BLOCK_SIZE + 1) {
        // Offsets are distinct and sorted: only a count that fits the final offset is worth the walk.
        slot.nCompleteLen = CompleteLength(slot, &slot.bInPlace);
    }
    nCompleteSlots += (slot.nCompleteLen != 0) - bWasComplete;
    if (slot.nCompleteLen != 0 && !bWasComplete)
        slot.dwAssembleUs = dwNowUs - slot.dwFirstUs;
}

DWORD LINKITEM::CompleteLength(const Slot& slot, bool* pbInPlace) const
{
    if (slot.nFinalLen == 0 || slot.vecSegments.empty())
        return 0;
    // A segment beyond the final one means two frames' worth of segments under one
    // sequence: never complete, reclaimed in time.
    if (slot.vecSegments.back().first != slot.dwFinalOffset)
        return 0;
    const BYTE* pFirst = slot.vecSegments.front().second;
    bool bInPlace = true;
    DWORD dwExpected = 0;
    for (const auto& [dwOffset, pBlock] : slot.vecSegments) {
        if (dwOffset != dwExpected)
            return 0;
        // As addresses: two chunks may happen to touch, and a frame may then span both.
        bInPlace = bInPlace && reinterpret_cast<std::uintptr_t>(pBlock) ==
                                   reinterpret_cast<std::uintptr_t>(pFirst) + dwOffset;
        dwExpected += CSpacePool::BLOCK_SIZE;
    }
    if (pbInPlace != nullptr)
        *pbInPlace = bInPlace;
    return slot.dwFinalOffset + slot.nFinalLen;
}

void LINKITEM::CollectReady(bool bGiveUpKeys)
{
    vecReady.clear();
    bReadyStale = false;
    for (int i = 0; i < SLOT_COUNT && static_cast<int>(vecReady.size()) < nCompleteSlots; ++i) {
        const Slot& slot = vecSlots[i];
        if (slot.nCompleteLen != 0)
            vecReady.push_back({static_cast<WORD>(slot.usSequence), i, slot.nCompleteLen, slot.bInPlace});
    }
    // A key frame is given up only behind a later frame that completed: the link is alive, and
    // what the key frame still lacks is lost rather than late.
    if (bGiveUpKeys && nBusySlots > nCompleteSlots && !vecReady.empty()) {
        const std::size_t nComplete = vecReady.size();
        for (int i = 0; i < SLOT_COUNT; ++i) {
            const Slot& slot = vecSlots[i];
            const DWORD nLen = GivenUpLength(slot, dwLastTick);
            if (nLen == 0)
                continue;
            const auto usSequence = static_cast<WORD>(slot.usSequence);
            const bool bBehind =
                std::any_of(vecReady.begin(), vecReady.begin() + nComplete, [&](const Ready& r) {
                    return static_cast<std::int16_t>(r.usAge - usSequence) > 0;
                });
            if (bBehind)
                vecReady.push_back({usSequence, i, nLen, false, true});
        }
    }
    if (vecReady.size() < 2)
        return;
    // Frame numbers wrap: count them from the oldest, the one the others are all ahead of
    // (a burst spans far less than half the number range).
    WORD usOldest = vecReady.front().usAge;
    for (const Ready& r : vecReady) {
        if (static_cast<std::int16_t>(r.usAge - usOldest) < 0)
            usOldest = r.usAge;
    }
    for (Ready& r : vecReady)
        r.usAge = static_cast<WORD>(r.usAge - usOldest);
    // Newest first: the oldest is taken from the back.
    std::sort(vecReady.begin(), vecReady.end(), [](const Ready& a, const Ready& b) {
        return a.usAge != b.usAge ? a.usAge > b.usAge : a.nSlot > b.nSlot;
    });
}

DWORD LINKITEM::GivenUpLength(const Slot& slot, DWORD dwNow) const
{
    if (slot.IsEmpty() || slot.nCompleteLen != 0 || slot.bSingle || slot.vecSegments.front().first != 0 ||
        dwNow - slot.dwTick <= GIVE_UP_MS || !StartsKeyFrame(slot.vecSegments.front().second))
        return 0;
    const DWORD dwLast = slot.vecSegments.back().first;
    if (slot.nFinalLen == 0)
        return dwLast + CSpacePool::BLOCK_SIZE;
    // Segments past the final one: two frames under one number, nothing to show.
    return dwLast == slot.dwFinalOffset ? slot.dwFinalOffset + slot.nFinalLen : 0;
}

void LINKITEM::AssembleDamaged(const Slot& slot, BYTE* pBuf, DWORD nLen) const
{
    std::memset(pBuf, 0, nLen);
    for (const auto& [dwOffset, pBlock] : slot.vecSegments) {
        const DWORD nSegLen =
            slot.nFinalLen != 0 && dwOffset == slot.dwFinalOffset ? slot.nFinalLen : CSpacePool::BLOCK_SIZE;
        if (dwOffset + nSegLen <= nLen)
            std::memcpy(pBuf + dwOffset, pBlock, nSegLen);
    }
}

void LINKITEM::Assemble(const Slot& slot, BYTE* pBuf) const
{
    const std::size_t nLast = slot.vecSegments.size() - 1;
    for (std::size_t i = 0; i < nLast; ++i)
        std::memcpy(pBuf + slot.vecSegments[i].first, slot.vecSegments[i].second, CSpacePool::BLOCK_SIZE);
    std::memcpy(pBuf + slot.vecSegments[nLast].first, slot.vecSegments[nLast].second, slot.nFinalLen);
}

// --- CMediaReassembler ---

CMediaReassembler::CMediaReassembler(CMediaDataValid* pValid) : m_pValid(pValid) {}

CMediaDataValid& CMediaReassembler::Valid() const
{
    return m_pValid != nullptr ? *m_pValid : GetMediaDataValid();
}

void CMediaReassembler::BeginCall(DWORD dwNow, DWORD dwNowUs)
{
    m_bInCall = true;
    m_bNeedKnown = false;
    m_pExpectSlot = nullptr;
    m_dwCallTick = dwNow;
    m_dwCallUs = dwNowUs;
}

void CMediaReassembler::EndCall()
{
    m_bInCall = false;
    m_bNeedKnown = false;
    m_pExpectSlot = nullptr;
    m_pool.ReleaseSpace(m_pReadBlock);
    m_pReadBlock = nullptr;
}

bool CMediaReassembler::OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort)
{
    return OnDatagram(pData, nLen, dwIP, usPort, GetTickCount());
}

bool CMediaReassembler::OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD dwNow)
{
    return Accept(pData, nLen, dwIP, usPort, dwNow, false);
}

bool CMediaReassembler::Accept(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD dwNow,
                               bool bInReadBlock)
{
    m_pExpectSlot = nullptr;
    if (nLen < SEGMENT_HEADER + 1) {
        VLOG(2, "CSocketUdp::ReceiveMediaPacket: end } nLen < 9 return 0");
        return false;
    }
    if (!m_bNeedKnown) {
        CMediaDataValid& valid = Valid();
        if (!valid.IsNeedMediaData()) {
            if (valid.bMediaIdle)
                return false;
            for (auto& [qwKey, pLink] : m_mapLinks) {
                if (!pLink->bIdle)
                    pLink->FlushAll();
            }
            VLOG(5, "CSocketUdp::ReceiveMediaPacket: !GetMediaDataValid().IsNeedMediaData()");
            valid.bMediaIdle = 1;
            return false;
        }
        valid.bMediaIdle = 0;
        m_bNeedKnown = m_bInCall;
    }

    if (!m_bHousekept || dwNow - m_dwLastHousekeep > LINKITEM::STALE_MS)
        Housekeep(dwNow);
    const std::uint64_t qwKey = (static_cast<std::uint64_t>(dwIP) << 16) | usPort;
    // A burst mostly comes from one sender.
    if (m_pLastLink == nullptr || m_qwLastKey != qwKey) {
        LINKITEM* pLink = FindOrAddLink(qwKey, dwNow);
        if (pLink == nullptr) {
            VLOG(2, "CSocketUdp::ReceiveMediaPacket: no room for sender %u.%u.%u.%u:%d, datagram dropped",
                 dwIP >> 24, (dwIP >> 16) & 0xFF, (dwIP >> 8) & 0xFF, dwIP & 0xFF, usPort);
            ++m_dwDroppedSegments;
            return true;
        }
        m_pLastLink = pLink;
        m_qwLastKey = qwKey;
    }
    LINKITEM& link = *m_pLastLink;
    link.dwLastTick = dwNow;

    const BYTE bSegment = pData[0];
    const auto usSequence = static_cast<WORD>(pData[2] << 8 | pData[3]);
    const DWORD uOffset = static_cast<DWORD>(pData[4]) << 24 | static_cast<DWORD>(pData[5]) << 16 |
                          static_cast<DWORD>(pData[6]) << 8 | pData[7];
    const auto nSegLen = static_cast<DWORD>(nLen - SEGMENT_HEADER);
    if (nSegLen > CSpacePool::BLOCK_SIZE) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: Invalid seg lenth usSegLen:%d", static_cast<int>(nSegLen));
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: rt Media packet failed!");
        ++m_dwDroppedSegments;
        return true;
    }
    // Assembly copies a whole block for every segment but the last, so a short middle
    // segment would leave stale pool bytes inside the frame.
    if (bSegment > 1 && nSegLen != CSpacePool::BLOCK_SIZE) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: short middle segment usSegLen:%d, usSequence:%d",
             static_cast<int>(nSegLen), usSequence);
        ++m_dwDroppedSegments;
        return true;
    }
    // No frame reaches that far (and the byte offset would not fit in 32 bits).
    const std::uint64_t qwOffset = std::uint64_t{uOffset} * 256;
    if (bSegment != 0 && qwOffset + nSegLen > MAX_FRAME_LEN) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: offset beyond any frame uOffset:%u, usSequence:%d",
             static_cast<unsigned>(uOffset), usSequence);
        ++m_dwDroppedSegments;
        return true;
    }
    BYTE* pBlock = GetReadBlock();
    if (!bInReadBlock)
        std::memcpy(pBlock, pData + SEGMENT_HEADER, nSegLen);
    const DWORD dwNowUs = m_bInCall ? m_dwCallUs : dwNow * 1000;
    if (!link.Insert(bSegment, usSequence, static_cast<DWORD>(qwOffset), pBlock, nSegLen, dwNow, dwNowUs)) {
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: rt Media packet failed!");
        ++m_dwDroppedSegments;
        return true;
    }
    m_pReadBlock = nullptr; // the slot (or, for a repeat, the pool) has it now
    if (link.AllHeldComplete())
        m_bFrameReady = true;
    // A full middle segment that went last into a frame still without its final one: the next
    // segment of the burst most likely continues it.
    if (m_bNeedKnown && bSegment == 2 && nSegLen == CSpacePool::BLOCK_SIZE) {
        LINKITEM::Slot& slot = link.vecSlots[link.nLastSlot];
        if (slot.nFinalLen == 0 && !slot.IsEmpty() && slot.vecSegments.back().second == pBlock)
            Expect(slot, usSequence, uOffset + CSpacePool::BLOCK_SIZE / 256, pBlock + CSpacePool::BLOCK_SIZE);
    }
    TraceFiled(bSegment, usSequence, uOffset, nSegLen);
    return true;
}

std::size_t CMediaReassembler::GetSegmentRoom() const
{
    std::size_t nRoom = 0;
    for (const auto& [qwKey, pLink] : m_mapLinks) {
        for (const LINKITEM::Slot& slot : pLink->vecSlots)
            nRoom += slot.vecSegments.capacity();
    }
    return nRoom;
}

LINKITEM* CMediaReassembler::FindOrAddLink(std::uint64_t qwKey, DWORD dwNow)
{
    auto it = m_mapLinks.find(qwKey);
    if (it != m_mapLinks.end())
        return it->second.get();
    if (m_mapLinks.size() < MAX_SENDERS)
        return m_mapLinks.emplace(qwKey, std::make_unique<LINKITEM>(&m_pool)).first->second.get();
    // The place goes with its slots: nothing is allocated. A sender holding nothing loses
    // nothing by it; one holding frames that nobody wants (a spray) loses only those.
    auto itQuiet = m_mapLinks.end();
    auto rank = [dwNow](const LINKITEM& link) {
        return std::pair(link.nBusySlots == 0, dwNow - link.dwLastTick);
    };
    for (auto itLink = m_mapLinks.begin(); itLink != m_mapLinks.end(); ++itLink) {
        const LINKITEM& link = *itLink->second;
        if (link.bAccepted && dwNow - link.dwAcceptTick <= LINKITEM::STALE_MS)
            continue;
        if (itQuiet == m_mapLinks.end() || rank(link) > rank(*itQuiet->second))
            itQuiet = itLink;
    }
    if (itQuiet == m_mapLinks.end())
        return nullptr;
    if (itQuiet->second.get() == m_pLastLink)
        m_pLastLink = nullptr;
    auto node = m_mapLinks.extract(itQuiet);
    node.key() = qwKey;
    node.mapped()->Reset();
    return m_mapLinks.insert(std::move(node)).position->second.get();
}

void CMediaReassembler::Housekeep(DWORD dwNow)
{
    m_bHousekept = true;
    m_dwLastHousekeep = dwNow;
    const std::size_t nSenders = m_mapLinks.size();
    std::erase_if(m_mapLinks, [&](const auto& entry) {
        LINKITEM& link = *entry.second;
        if (dwNow - link.dwLastTick <= LINKITEM::STALE_MS)
            return false;
        link.FlushAll();
        if (&link == m_pLastLink)
            m_pLastLink = nullptr;
        return true;
    });
    if (m_mapLinks.size() != nSenders)
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: %d quiet senders dropped, %d left",
             static_cast<int>(nSenders - m_mapLinks.size()), static_cast<int>(m_mapLinks.size()));
    int nStale = 0;
    for (auto& [qwKey, pLink] : m_mapLinks)
        nStale += pLink->FlushStale(dwNow);
    if (nStale != 0)
        VLOG(2, "CSocketUdp::ReceiveMediaPacket: %d frames that will not complete dropped", nStale);
    // The read block, if any, is taken: it stays where it is.
    m_pool.Trim(dwNow);
}

int CMediaReassembler::Assemble(BYTE* pFrameBuf, DWORD nFrameBufSize, DWORD* pdwIP, WORD* pusPort,
                                BYTE** ppFrame)
{
    const DWORD nLimit = std::min(nFrameBufSize, MAX_FRAME_LEN);
    for (auto itLink = m_mapLinks.begin(); itLink != m_mapLinks.end(); ++itLink) {
        const std::uint64_t qwKey = itLink->first;
        LINKITEM& link = *itLink->second;
        if (link.nCompleteSlots == 0)
            continue;
        if (link.bReadyStale)
            link.CollectReady(Valid().bDamagedKeyFrames);
        if (link.vecReady.empty())
            continue;
        DWORD nFrameLen = 0;
        BYTE* pFrame = pFrameBuf;
        bool bDamaged = false;
        while (!link.vecReady.empty()) {
            const LINKITEM::Ready ready = link.vecReady.back();
            link.vecReady.pop_back();
            LINKITEM::Slot& slot = link.vecSlots[ready.nSlot];
            if (ready.nLen > nLimit) {
                ++m_dwDroppedFrames;
                link.Flush(slot);
                continue;
            }
            // The blocks go back to the pool at once; nothing takes them before the next
            // read, by when the caller is done with the frame.
            m_dwFrameAssembleUs = slot.dwAssembleUs;
            if (ready.bDamaged) {
                link.AssembleDamaged(slot, pFrameBuf, ready.nLen);
                bDamaged = true;
                ++m_dwDamagedFrames;
                DebugTrace(2,
                           "Assemble: key frame given up with %d segments, Sequence=%d, handed out damaged",
                           static_cast<int>(slot.vecSegments.size()), static_cast<int>(slot.usSequence));
            } else if (ready.bInPlace && ppFrame != nullptr) {
                pFrame = slot.vecSegments.front().second;
                ++m_dwInPlaceFrames;
            } else {
                link.Assemble(slot, pFrameBuf);
                ++m_dwCopiedFrames;
            }
            link.Flush(slot);
            nFrameLen = ready.nLen;
            break;
        }
        if (nFrameLen != 0 && Valid().CheckFrame(pFrame, nFrameLen)) {
            link.bAccepted = true;
            link.dwAcceptTick = link.dwLastTick;
            *pdwIP = static_cast<DWORD>(qwKey >> 16);
            *pusPort = static_cast<WORD>(qwKey & 0xFFFF);
            m_pFrame = pFrame;
            m_bFrameDamaged = bDamaged;
            g_dwLastFrameAssembleUs.store(m_dwFrameAssembleUs, std::memory_order_relaxed);
            g_bLastFrameDamaged.store(bDamaged, std::memory_order_relaxed);
            if (ppFrame != nullptr)
                *ppFrame = pFrame;
            // The senders before this one hold no complete frame: the next call need only look
            // again if this one or a later one may.
            m_bHandingOut = link.nCompleteSlots > 0 || std::next(itLink) != m_mapLinks.end();
            return static_cast<int>(nFrameLen);
        }
        if (nFrameLen != 0)
            ++m_dwDroppedFrames;
        link.FlushAll();
    }
    m_bHandingOut = false;
    return 0;
}
