// Reassembly of segmented media datagrams into whole frames, per sender, in pool blocks.
//
// A frame larger than one datagram arrives as 1280-byte segments, each with the frame's
// sequence number and its offset. Segments wait in 500 frame slots per sender until the
// frame is complete. A frame whose blocks lie one after another in the pool is handed out
// where it lies; any other is copied once, into the caller's buffer.
#pragma once

#include "core/log.h"
#include "net/mediadatavalid.h"
#include "platform/wintypes.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Fixed-size blocks for segments, grown by whole chunks and recycled last in, first out, so
// that the steady state allocates nothing.
class CSpacePool {
public:
    static constexpr DWORD BLOCK_SIZE = 1280;
    static constexpr DWORD CHUNK_BLOCKS = 100;
    static constexpr std::size_t CHUNK_BYTES = std::size_t{BLOCK_SIZE} * CHUNK_BLOCKS;
    // Bytes in front of every chunk's first block, so that a read may put a datagram's header
    // just before any block (what it covers there is put back after the read).
    static constexpr std::size_t HEAD_ROOM = 64;
    // Chunks are carved one after another from address space reserved at the first growth, so
    // that a frame larger than one chunk can still lie in one piece. Pages take memory only
    // once used; past the reservation chunks come from the heap. Enough for every sender a
    // socket keeps holding all it may (CMediaReassembler::MAX_SENDERS, LINKITEM::MAX_HELD_BLOCKS).
    static constexpr std::size_t RESERVED_CHUNKS = 1024;

    CSpacePool() = default;
    ~CSpacePool();
    CSpacePool(const CSpacePool&) = delete;
    CSpacePool& operator=(const CSpacePool&) = delete;

    BYTE* AllocSpace()
    {
        if (m_vecFree.empty())
            Grow();
        BYTE* pBlock = m_vecFree.back();
        m_vecFree.pop_back();
        return pBlock;
    }
    // A block that did not come from this pool (or not at a block boundary) is not taken.
    void ReleaseSpace(BYTE* pBlock);
    // nBlocks blocks lying one after another from pFirst, taken back highest first, as
    // ReleaseSpace would take them one by one.
    void ReleaseRun(BYTE* pFirst, std::size_t nBlocks);

    // A chunk gives its memory back only once none of its blocks has been in use for this long.
    // The blocks in use swing from one housekeeping to the next (key frames, frames held for a
    // missing segment, a camera that comes back): given back at once, the same pages would be
    // faulted in again moments later, and the process's memory would wander with every swing.
    // A minute was tried: the chunks then went and came back with every swing of the frames in
    // flight, and a recorder's memory wandered by a few MiB within the hour.
    static constexpr DWORD RELEASE_AFTER_MS = 5 * 60 * 1000;

    // Gives back the memory of the chunks none of whose blocks has been in use for
    // RELEASE_AFTER_MS, but one spare, and puts the lowest blocks on top so that what stays in
    // use gathers in the lowest chunks. Outside the hot path: a burst (many senders, frames that
    // never completed) must not keep its memory for the life of the socket.
    void Trim(DWORD dwNow);

    std::size_t GetChunkCount() const { return m_mapChunks.size(); }
    std::size_t GetFreeCount() const { return m_vecFree.size(); }
    // Chunks whose memory is held: carved or allocated, and not given back since.
    std::size_t GetResidentChunkCount() const;

private:
    void Grow();
    std::pair<void*, std::size_t> ChunkPages(std::size_t i) const;
    void Populate(std::size_t i);
    // A block boundary inside the chunks carved so far from the reservation.
    bool IsReservedBlock(const BYTE* pBlock) const
    {
        const auto nOffset =
            reinterpret_cast<std::uintptr_t>(pBlock) - reinterpret_cast<std::uintptr_t>(m_pReserved);
        return m_pReserved != nullptr && nOffset < m_nReservedUsed * CHUNK_BYTES && nOffset % BLOCK_SIZE == 0;
    }

    std::vector<BYTE*> m_vecFree;
    // Chunk start -> its size in bytes; the heap chunks themselves are owned by m_vecChunks.
    std::map<const BYTE*, std::size_t> m_mapChunks;
    std::vector<std::unique_ptr<BYTE[]>> m_vecChunks;
    // The reservation (its first chunk's first block; null when none could be had), its size
    // and the chunks carved from it.
    BYTE* m_pReserved = nullptr;
    std::size_t m_nReservedBytes = 0;
    std::size_t m_nReservedUsed = 0;
    bool m_bReserveTried = false;
    // Per carved reserved chunk: its pages were given back and not used since the last Trim.
    std::vector<bool> m_vecReleased;
    // Per chunk (reserved by index, heap by start): when Trim first found it wholly free, for as
    // long as it stays so.
    std::vector<std::optional<DWORD>> m_vecFreeSince;
    std::map<const BYTE*, DWORD> m_mapHeapFreeSince;
};

// The frame slots of one sender.
struct LINKITEM {
    static constexpr int SLOT_COUNT = 500;
    // A slot whose latest segment is older than this holds a frame that will not complete.
    static constexpr DWORD STALE_MS = 3000;
    // Pool blocks one sender may hold in its slots, three frames of the largest size: past it
    // the sender's oldest frames go, so that one sender cannot take the pool (segments that
    // continue a frame in order are counted with its next other segment, at most one frame
    // beyond it).
    static constexpr int MAX_HELD_BLOCKS = 3 * 800;
    // A key frame that lost a segment is handed out damaged (its gaps zero-filled) once nothing
    // of it has come for this long while a later frame completed: a viewer would otherwise wait
    // for a key frame that arrives whole, which on a lossy link takes many seconds at high bit
    // rates. Longer than a reordered segment is held up, so reordering alone damages nothing.
    static constexpr DWORD GIVE_UP_MS = 200;

    struct Slot {
        DWORD usSequence = 0;
        DWORD dwTick = 0;
        // Byte offset -> pool block, kept sorted by offset. The capacity stays with the first
        // ROOM_SLOTS slots, so refilling them allocates nothing; the others give it back.
        std::vector<std::pair<DWORD, BYTE*>> vecSegments;
        DWORD nFinalLen = 0;
        DWORD dwFinalOffset = 0;
        // Kept up to date as segments are filed: the frame's length once complete, else 0,
        // and whether its blocks lie one after another in offset order, so that the frame
        // can be read where it is.
        DWORD nCompleteLen = 0;
        bool bInPlace = false;
        // The segments so far are at offsets 0, 1280, 2560, ... in blocks one after another:
        // once the final one ends the run, the frame is complete where it lies, no walk needed.
        bool bRun = false;
        // The frame came in one datagram. Segments never join it, even of the same number: a
        // camera may count its one-datagram frames (audio) apart from its segmented ones.
        bool bSingle = false;
        // Microseconds: when the first segment came, and from then until the frame was complete.
        DWORD dwFirstUs = 0;
        DWORD dwAssembleUs = 0;
        // The slot's blocks counted in LINKITEM::nHeldBlocks: brought up to date by the segments
        // Insert files, not by those the in-order paths append (a call there would cost as much
        // as their work), so a frame still filling is counted late by at most its own blocks.
        DWORD nCounted = 0;

        bool IsEmpty() const { return vecSegments.empty(); }
    };

    // Steady traffic fills the lowest free slot, so a few slots take nearly every frame; the
    // rest fill in bursts (reordering, loss). Had every slot kept the room of the largest frame
    // it ever held, a sender's 500 slots would have grown for hours towards 500 key frames'
    // segment lists (a megabyte or more a camera).
    static constexpr int ROOM_SLOTS = 8;

    explicit LINKITEM(CSpacePool* pPool) : pPool(pPool), vecSlots(SLOT_COUNT) {}

    // Files one segment (header already parsed) whose payload is in pBlock, a block of the
    // pool; the slot keeps the block, or the pool takes it back for a repeat. False when no
    // slot could be had: the block then stays the caller's. dwNowUs: dwNow in microseconds.
    bool Insert(BYTE bSegment, WORD usSequence, DWORD dwOffset, BYTE* pBlock, DWORD nLen, DWORD dwNow,
                DWORD dwNowUs = 0);
    // Files a middle segment that continues, in order, the frame the previous segment went to:
    // the usual case, quick to recognise. False, with nothing filed, for any other segment.
    // Inlined into the socket's read loop (as is OnReadBlock), where a call would cost as much
    // as the work.
    [[gnu::always_inline]] bool AppendInOrder(WORD usSequence, DWORD dwOffset, BYTE* pBlock, DWORD dwNow)
    {
        Slot& last = vecSlots[nLastSlot];
        // Without its final segment the frame cannot be complete yet, so nothing else changes.
        if (last.usSequence != usSequence || last.nFinalLen != 0 || last.IsEmpty() ||
            last.vecSegments.back().first + CSpacePool::BLOCK_SIZE != dwOffset ||
            dwNow - last.dwTick > STALE_MS)
            return false;
        last.bRun &= pBlock == last.vecSegments.back().second + CSpacePool::BLOCK_SIZE;
        last.vecSegments.emplace_back(dwOffset, pBlock);
        last.dwTick = dwNow;
        return true;
    }
    // Length of the slot's frame when it is complete, else 0; *pbInPlace as Slot::bInPlace.
    DWORD CompleteLength(const Slot& slot, bool* pbInPlace = nullptr) const;
    // Every frame the sender holds is complete: none older can still be waiting for a
    // segment, so they can go out now, oldest first.
    bool AllHeldComplete() const { return nCompleteSlots > 0 && nCompleteSlots == nBusySlots; }
    // Copies a complete slot's frame to pBuf (which holds at least its length).
    void Assemble(const Slot& slot, BYTE* pBuf) const;
    // A given-up key frame: its length up to the last byte received (the whole frame when its
    // final segment came), 0 when the slot holds no such frame at dwNow.
    DWORD GivenUpLength(const Slot& slot, DWORD dwNow) const;
    // Copies what a given-up key frame has to pBuf, zeros where segments are missing.
    void AssembleDamaged(const Slot& slot, BYTE* pBuf, DWORD nLen) const;
    void Flush(Slot& slot);
    void FlushAll();
    // Flushes the frames still waiting for a segment whose latest one is older than STALE_MS,
    // and returns how many: on a lossy link every frame that lost a segment would otherwise
    // keep its blocks until the slots or the sender's share run out, a few MiB per camera.
    int FlushStale(DWORD dwNow);
    // The link as a new sender's: nothing held, nothing pending.
    void Reset();

    int FindSegmentedSlot(DWORD usSequence, DWORD dwNow);
    int FindSingleSlot(DWORD usSequence, DWORD dwNow);
    // Whether a segment agrees with the segmented frame gathered in the slot so far: one final
    // segment, of one length, with nothing at or past its offset.
    static bool FitsFrame(const Slot& slot, BYTE bSegment, DWORD dwOffset, DWORD nLen);

    CSpacePool* pPool; // not owned
    std::vector<Slot> vecSlots;
    BOOL bIdle = 0;
    // Slots holding segments, and complete ones: a sender with none complete is passed over
    // without a scan.
    int nBusySlots = 0;
    int nCompleteSlots = 0;
    // Pool blocks in the slots, and the tick of the sender's latest datagram.
    int nHeldBlocks = 0;
    DWORD dwLastTick = 0;
    // The tick of the sender's latest datagram when a frame of it was last accepted: a sender
    // whose frames are wanted keeps its place while others come and go.
    DWORD dwAcceptTick = 0;
    bool bAccepted = false;
    // The slot the previous segment went to: a frame's segments come together, and at most
    // one slot holds a sequence, so checking it first spares the scan.
    int nLastSlot = 0;

    // Complete frames found after the last segment filed, newest frame number first, so that
    // a burst completing several frames hands them out oldest first rather than in slot
    // order (a freed slot takes a later frame). Rebuilt when a segment has been filed since.
    struct Ready {
        WORD usAge; // frame number counted from the oldest complete one
        int nSlot;
        DWORD nLen;
        bool bInPlace;
        bool bDamaged = false;
    };
    std::vector<Ready> vecReady;
    bool bReadyStale = false;
    // bGiveUpKeys: given-up key frames join the complete ones (GIVE_UP_MS).
    void CollectReady(bool bGiveUpKeys = false);

private:
    int FindFreeOrReclaim(DWORD usSequence, DWORD dwNow);
    // Flushes the sender's oldest frames, incomplete ones first, until it holds less than its
    // share of the pool; never nKeep, the slot the next segment goes to.
    void ReleaseOldest(int nKeep);
    // Flushes the slot, with its trace, when it is stale.
    bool ReclaimIfStale(Slot& slot, DWORD dwNow);
    void UpdateComplete(Slot& slot, DWORD dwNowUs);
    void CountHeld(Slot& slot)
    {
        nHeldBlocks += static_cast<int>(slot.vecSegments.size() - slot.nCounted);
        slot.nCounted = static_cast<DWORD>(slot.vecSegments.size());
    }
};

// The gathering time (as CMediaReassembler::GetFrameAssembleUs) of the frame some socket handed
// out last: a receiver called while that frame is delivered finds its own there.
DWORD GetLastFrameAssembleUs();
// Whether the frame some socket handed out last is a damaged key frame (IsFrameDamaged).
bool IsLastFrameDamaged();

class CMediaReassembler {
public:
    static constexpr int READ_BUFFER = 2000;
    static constexpr int SEGMENT_HEADER = 8;
    static constexpr DWORD MAX_FRAME_LEN = 1024000;
    // Senders one socket keeps at once. A host spraying from many source ports would otherwise
    // get slots for each; senders that hold nothing or went quiet make room for new ones.
    static constexpr std::size_t MAX_SENDERS = 32;

    // pValid: the media-data filter (null: the process-wide one). Not owned.
    explicit CMediaReassembler(CMediaDataValid* pValid = nullptr);
    CMediaReassembler(const CMediaReassembler&) = delete;
    CMediaReassembler& operator=(const CMediaReassembler&) = delete;

    // A receive call begins: its datagrams count as read at tick dwNow, dwNowUs in
    // microseconds (one clock read per call is enough for ages counted in seconds, and gives
    // the frames' gathering times to the resolution of the calls). Whether media is needed is
    // asked once per call: nothing in a call can change the answer.
    void BeginCall(DWORD dwNow, DWORD dwNowUs);
    // After the last read of a call: the unused read block goes back on top of the pool, so
    // that blocks keep going out in the order the last frames gave them back.
    void EndCall();
    // One received datagram. False when the receive call must end now and return 0 (short
    // datagram, or no media needed). dwNow: the tick of the read; outside a call it also
    // stands for the time of arrival.
    bool OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD dwNow);
    bool OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort);
    // Where a socket reads the payload of its next datagram straight into: a pool block,
    // kept until a segment is filed in it. Its header goes elsewhere (OnReadBlock).
    BYTE* GetReadBlock()
    {
        if (m_pReadBlock == nullptr)
            m_pReadBlock = m_pool.AllocSpace();
        return m_pReadBlock;
    }
    // The datagram just read in the current call: its 8-byte header in pHeader, its payload
    // in the read block, nLen bytes in all. Returns as OnDatagram.
    [[gnu::always_inline]] bool OnReadBlock(const BYTE* pHeader, int nLen, DWORD dwIP, WORD usPort)
    {
        // The full middle segment the call expects next, from the sender of the previous one:
        // filed here with two comparisons of its header, the rest goes the whole way. The
        // header is looked at only once the length says it is there.
        if (m_pExpectSlot != nullptr && nLen == SEGMENT_HEADER + static_cast<int>(CSpacePool::BLOCK_SIZE)) {
            DWORD dwLead = 0;
            std::memcpy(&dwLead, pHeader, sizeof(dwLead));
            const DWORD uOffset = static_cast<DWORD>(pHeader[4]) << 24 |
                                  static_cast<DWORD>(pHeader[5]) << 16 | static_cast<DWORD>(pHeader[6]) << 8 |
                                  pHeader[7];
            if ((dwLead & EXPECT_LEAD_MASK) == m_dwExpectLead && uOffset == m_uExpectOffset &&
                m_qwLastKey == ((std::uint64_t{dwIP} << 16) | usPort)) {
                LINKITEM::Slot& slot = *m_pExpectSlot;
                BYTE* pBlock = GetReadBlock();
                slot.bRun &= pBlock == m_pExpectBlock;
                slot.vecSegments.emplace_back(uOffset * 256, pBlock);
                m_pReadBlock = nullptr;
                TraceFiled(pHeader[0], static_cast<WORD>(pHeader[2] << 8 | pHeader[3]), uOffset,
                           CSpacePool::BLOCK_SIZE);
                m_uExpectOffset = uOffset + CSpacePool::BLOCK_SIZE / 256;
                m_pExpectBlock = pBlock + CSpacePool::BLOCK_SIZE;
                if (std::uint64_t{m_uExpectOffset} * 256 + CSpacePool::BLOCK_SIZE > MAX_FRAME_LEN)
                    m_pExpectSlot = nullptr;
                return true;
            }
        }
        return Accept(pHeader, nLen, dwIP, usPort, m_dwCallTick, true);
    }
    // True once after a datagram completed a frame of a sender that holds only complete
    // frames: the read may stop there and hand them out while they are still in the cache.
    bool TakeFrameReady()
    {
        const bool b = m_bFrameReady;
        m_bFrameReady = false;
        return b;
    }
    // The last Assemble handed out a frame: more may be ready without reading.
    bool IsHandingOut() const { return m_bHandingOut; }
    // Hands out one complete, accepted frame, the oldest complete frame of its sender first:
    // its length with the sender's address and port, or 0 when there is none. With ppFrame,
    // a frame lying whole in the pool is not copied: *ppFrame says where it is (pFrameBuf or
    // a pool block), valid until the next read.
    int Assemble(BYTE* pFrameBuf, DWORD nFrameBufSize, DWORD* pdwIP, WORD* pusPort, BYTE** ppFrame = nullptr);
    // Where the frame the last Assemble handed out lies.
    BYTE* GetFrame() const { return m_pFrame; }
    // Microseconds from the first segment of the frame the last Assemble handed out to the
    // datagram that completed it (0 for a frame in one datagram).
    DWORD GetFrameAssembleUs() const { return m_dwFrameAssembleUs; }
    // The frame the last Assemble handed out is a key frame with missing segments, zero-filled
    // there; only while the media-data filter asks for them (CMediaDataValid::bDamagedKeyFrames).
    bool IsFrameDamaged() const { return m_bFrameDamaged; }
    DWORD GetDamagedFrames() const { return m_dwDamagedFrames; }

    const CSpacePool& GetPool() const { return m_pool; }
    std::size_t GetSenderCount() const { return m_mapLinks.size(); }
    // Room the senders' slots keep for their segment lists, in entries.
    std::size_t GetSegmentRoom() const;
    // Segments dropped as malformed, and complete frames refused or too long.
    DWORD GetDroppedSegments() const { return m_dwDroppedSegments; }
    DWORD GetDroppedFrames() const { return m_dwDroppedFrames; }

    // Frames handed out where they lay, and copied.
    DWORD GetInPlaceFrames() const { return m_dwInPlaceFrames; }
    DWORD GetCopiedFrames() const { return m_dwCopiedFrames; }

private:
    CMediaDataValid& Valid() const;
    // The sender's link, made when new, or taken over from the longest quiet sender none of
    // whose frames was accepted within the reclaim age (one holding nothing first); null when
    // every place is taken by a sender whose frames are wanted.
    LINKITEM* FindOrAddLink(std::uint64_t qwKey, DWORD dwNow);
    // Once per reclaim age: senders quiet that long go, and the pool gives back what they held.
    void Housekeep(DWORD dwNow);
    static void TraceFiled(BYTE bSegment, WORD usSequence, DWORD uOffset, DWORD nSegLen)
    {
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: bSegment:%d, usSequence:%d, uOffset:%d, segmentlen:%d",
             bSegment, usSequence, static_cast<int>(uOffset), static_cast<int>(nSegLen));
    }
    // The checks and filing common to both reads. bInReadBlock: the payload was read into the
    // read block already; otherwise it follows the header in pData.
    bool Accept(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort, DWORD dwNow, bool bInReadBlock);
    // The next segment OnReadBlock files without the checks of Accept: the middle segment
    // (bSegment 2) at uOffset (in 256-byte units) of the frame in slot, which the last sender's
    // previous segment continued in order. Only inside a call that knows media is needed, while
    // the frame has no final segment: the slot's tick is the call's already, and whatever else
    // may change the slot (Accept, the call's end) clears the expectation first.
    void Expect(LINKITEM::Slot& slot, WORD usSequence, DWORD uOffset, BYTE* pNextBlock)
    {
        m_pExpectSlot =
            std::uint64_t{uOffset} * 256 + CSpacePool::BLOCK_SIZE <= MAX_FRAME_LEN ? &slot : nullptr;
        m_dwExpectLead = std::bit_cast<DWORD>(
            std::array<BYTE, 4>{2, 0, static_cast<BYTE>(usSequence >> 8), static_cast<BYTE>(usSequence)});
        m_uExpectOffset = uOffset;
        m_pExpectBlock = pNextBlock;
    }
    // The header's first four bytes as they lie in memory, all but byte 1 (not looked at).
    static constexpr DWORD EXPECT_LEAD_MASK = std::bit_cast<DWORD>(std::array<BYTE, 4>{0xFF, 0, 0xFF, 0xFF});

    CMediaDataValid* m_pValid;
    CSpacePool m_pool;
    std::map<std::uint64_t, std::unique_ptr<LINKITEM>> m_mapLinks;
    DWORD m_dwDroppedSegments = 0;
    DWORD m_dwDroppedFrames = 0;
    DWORD m_dwInPlaceFrames = 0;
    DWORD m_dwCopiedFrames = 0;
    DWORD m_dwDamagedFrames = 0;
    bool m_bFrameDamaged = false;
    BYTE* m_pReadBlock = nullptr;
    bool m_bFrameReady = false;
    bool m_bHandingOut = false;
    BYTE* m_pFrame = nullptr;
    LINKITEM* m_pLastLink = nullptr;
    std::uint64_t m_qwLastKey = 0;
    bool m_bInCall = false;
    bool m_bNeedKnown = false; // media needed, asked in this call
    DWORD m_dwCallTick = 0;
    DWORD m_dwCallUs = 0;
    DWORD m_dwFrameAssembleUs = 0;
    DWORD m_dwLastHousekeep = 0;
    bool m_bHousekept = false;
    // What Expect set; no expectation while m_pExpectSlot is null.
    LINKITEM::Slot* m_pExpectSlot = nullptr;
    DWORD m_dwExpectLead = 0;
    DWORD m_uExpectOffset = 0;
    BYTE* m_pExpectBlock = nullptr;
};
