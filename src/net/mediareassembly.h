// Reassembly of segmented media datagrams into whole frames, per sender, in pool blocks.
//
// A frame larger than one datagram arrives as 1280-byte segments, each with the frame's
// sequence number and its offset. Segments wait in 500 frame slots per sender until the
// frame is complete; a complete frame is copied once, into the caller's buffer.
#pragma once

#include "net/mediadatavalid.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// Fixed-size blocks for segments, grown by whole chunks and recycled last in, first out, so
// that the steady state allocates nothing.
class CSpacePool {
public:
    static constexpr DWORD BLOCK_SIZE = 1280;
    static constexpr DWORD CHUNK_BLOCKS = 100;

    CSpacePool() = default;
    CSpacePool(const CSpacePool&) = delete;
    CSpacePool& operator=(const CSpacePool&) = delete;

    BYTE* AllocSpace();
    // A block that did not come from this pool (or not at a block boundary) is not taken.
    void ReleaseSpace(BYTE* pBlock);

    std::size_t GetChunkCount() const { return m_mapChunks.size(); }
    std::size_t GetFreeCount() const { return m_vecFree.size(); }

private:
    std::vector<BYTE*> m_vecFree;
    // Chunk start -> its size in bytes; the chunks themselves are owned by m_vecChunks.
    std::map<const BYTE*, std::size_t> m_mapChunks;
    std::vector<std::unique_ptr<BYTE[]>> m_vecChunks;
};

// The frame slots of one sender.
struct LINKITEM {
    static constexpr int SLOT_COUNT = 500;

    struct Slot {
        DWORD usSequence = 0;
        DWORD dwTick = 0;
        // Byte offset -> pool block, kept sorted by offset. The capacity stays with the slot,
        // so refilling it allocates nothing.
        std::vector<std::pair<DWORD, BYTE*>> vecSegments;
        DWORD nFinalLen = 0;
        DWORD dwFinalOffset = 0;

        bool IsEmpty() const { return vecSegments.empty(); }
    };

    explicit LINKITEM(CSpacePool* pPool) : pPool(pPool), vecSlots(SLOT_COUNT) {}

    // Files one segment (header already parsed). False when no slot could be had; the
    // segment is then dropped.
    bool Insert(BYTE bSegment, WORD usSequence, DWORD dwOffset, const BYTE* pPayload, DWORD nLen,
                DWORD dwNow);
    // Length of the slot's frame when it is complete, else 0.
    DWORD CompleteLength(const Slot& slot) const;
    // Copies a complete slot's frame to pBuf (which holds at least its length).
    void Assemble(const Slot& slot, BYTE* pBuf) const;
    void Flush(Slot& slot);
    void FlushAll();

    int FindSegmentedSlot(DWORD usSequence, DWORD dwNow);
    int FindSingleSlot(DWORD usSequence, DWORD dwNow);

    CSpacePool* pPool; // not owned
    std::vector<Slot> vecSlots;
    BOOL bIdle = 0;
    // Slots whose final segment has arrived: only these can be complete, so a sender with
    // none is passed over without a scan.
    int nFinalSlots = 0;
    // The slot the previous segment went to: a frame's segments come together, and at most
    // one slot holds a sequence, so checking it first spares the scan.
    int nLastSlot = 0;

private:
    int FindFreeOrReclaim(DWORD usSequence, DWORD dwNow);
};

class CMediaReassembler {
public:
    static constexpr int READ_BUFFER = 2000;
    static constexpr int SEGMENT_HEADER = 8;
    static constexpr DWORD MAX_FRAME_LEN = 1024000;

    // pValid: the media-data filter (null: the process-wide one). Not owned.
    explicit CMediaReassembler(CMediaDataValid* pValid = nullptr);
    CMediaReassembler(const CMediaReassembler&) = delete;
    CMediaReassembler& operator=(const CMediaReassembler&) = delete;

    // One received datagram. False when the receive call must end now and return 0 (short
    // datagram, or no media needed).
    bool OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort);
    // Hands out one complete, accepted frame: its length with the sender's address and port,
    // or 0 when there is none.
    int Assemble(BYTE* pFrameBuf, DWORD nFrameBufSize, DWORD* pdwIP, WORD* pusPort);

    const CSpacePool& GetPool() const { return m_pool; }
    std::size_t GetSenderCount() const { return m_mapLinks.size(); }
    // Segments dropped as malformed, and complete frames refused or too long.
    DWORD GetDroppedSegments() const { return m_dwDroppedSegments; }
    DWORD GetDroppedFrames() const { return m_dwDroppedFrames; }

private:
    CMediaDataValid& Valid() const;

    CMediaDataValid* m_pValid;
    CSpacePool m_pool;
    std::map<std::uint64_t, std::unique_ptr<LINKITEM>> m_mapLinks;
    DWORD m_dwDroppedSegments = 0;
    DWORD m_dwDroppedFrames = 0;
};
