#include "net/mediareassembly.h"

#include "core/log.h"
#include "platform/ticks.h"

#include <algorithm>
#include <cstring>

// --- CSpacePool ---

BYTE* CSpacePool::AllocSpace()
{
    if (m_vecFree.empty()) {
        constexpr std::size_t nChunkBytes = std::size_t{BLOCK_SIZE} * CHUNK_BLOCKS;
        // Segments overwrite what they use: no need to clear the chunk.
        m_vecChunks.push_back(std::make_unique_for_overwrite<BYTE[]>(nChunkBytes));
        BYTE* pChunk = m_vecChunks.back().get();
        m_mapChunks[pChunk] = nChunkBytes;
        DebugTrace(0, "!!!!!!!!!!!!New memory!!!!!!!!!!!!");
        m_vecFree.reserve(m_vecChunks.size() * CHUNK_BLOCKS);
        for (DWORD i = 0; i < CHUNK_BLOCKS; ++i)
            m_vecFree.push_back(pChunk + std::size_t{i} * BLOCK_SIZE);
    }
    BYTE* pBlock = m_vecFree.back();
    m_vecFree.pop_back();
    return pBlock;
}

void CSpacePool::ReleaseSpace(BYTE* pBlock)
{
    if (pBlock == nullptr)
        return;
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

// --- LINKITEM ---

void LINKITEM::Flush(Slot& slot)
{
    for (auto& [dwOffset, pBlock] : slot.vecSegments)
        pPool->ReleaseSpace(pBlock);
    slot.vecSegments.clear();
    if (slot.nFinalLen != 0)
        --nFinalSlots;
    slot.usSequence = 0;
    slot.dwTick = 0;
    slot.nFinalLen = 0;
    slot.dwFinalOffset = 0;
}

void LINKITEM::FlushAll()
{
    for (Slot& slot : vecSlots)
        Flush(slot);
    bIdle = 1;
}

int LINKITEM::FindFreeOrReclaim(DWORD usSequence, DWORD dwNow)
{
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (vecSlots[i].IsEmpty())
            return i;
    }
    int nFound = -1;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        Slot& slot = vecSlots[i];
        const DWORD dwAge = dwNow - slot.dwTick;
        if (dwAge > 3000) {
            DebugTrace(1, "Assemble error:time escape %d seconds, throw %d packets, Sequence=%d",
                       static_cast<int>(dwAge / 1000), static_cast<int>(slot.vecSegments.size()),
                       static_cast<int>(slot.usSequence));
            Flush(slot);
            nFound = i;
        }
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
    // Only a slot that holds segments counts as the frame's: free slots all read 0.
    if (!vecSlots[nLastSlot].IsEmpty() && vecSlots[nLastSlot].usSequence == usSequence)
        return nLastSlot;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (!vecSlots[i].IsEmpty() && vecSlots[i].usSequence == usSequence)
            return i;
    }
    return FindFreeOrReclaim(usSequence, dwNow);
}

int LINKITEM::FindSingleSlot(DWORD usSequence, DWORD dwNow)
{
    return FindFreeOrReclaim(usSequence, dwNow);
}

bool LINKITEM::Insert(BYTE bSegment, WORD usSequence, DWORD dwOffset, const BYTE* pPayload, DWORD nLen,
                      DWORD dwNow)
{
    const int nSlot =
        bSegment == 0 ? FindSingleSlot(usSequence, dwNow) : FindSegmentedSlot(usSequence, dwNow);
    if (nSlot < 0) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: no space for index usSeq:%d", usSequence);
        return false;
    }
    Slot& slot = vecSlots[nSlot];
    nLastSlot = nSlot;
    bIdle = 0;
    BYTE* pBlock = pPool->AllocSpace();
    std::memcpy(pBlock, pPayload, nLen);
    slot.usSequence = usSequence;
    slot.dwTick = dwNow;
    if (bSegment == 0) {
        slot.vecSegments.emplace_back(0, pBlock);
        ++nFinalSlots;
        slot.nFinalLen = nLen;
        slot.dwFinalOffset = 0;
        return true;
    }
    auto it = std::lower_bound(slot.vecSegments.begin(), slot.vecSegments.end(), dwOffset,
                               [](const auto& seg, DWORD dwKey) { return seg.first < dwKey; });
    if (it != slot.vecSegments.end() && it->first == dwOffset) {
        VLOG(2, "CSocketUdp::LINKITEM::Insert: Receive repeat packet! uOffsetFact:%d",
             static_cast<int>(dwOffset));
        pPool->ReleaseSpace(pBlock);
    } else {
        slot.vecSegments.insert(it, {dwOffset, pBlock});
    }
    if (bSegment == 1) {
        if (slot.nFinalLen == 0)
            ++nFinalSlots;
        slot.nFinalLen = nLen;
        slot.dwFinalOffset = dwOffset;
    }
    return true;
}

DWORD LINKITEM::CompleteLength(const Slot& slot) const
{
    if (slot.nFinalLen == 0 || slot.vecSegments.empty())
        return 0;
    // A segment beyond the final one means two frames' worth of segments under one
    // sequence: never complete, reclaimed in time.
    if (slot.vecSegments.back().first != slot.dwFinalOffset)
        return 0;
    DWORD dwExpected = 0;
    for (const auto& [dwOffset, pBlock] : slot.vecSegments) {
        if (dwOffset != dwExpected)
            return 0;
        dwExpected += CSpacePool::BLOCK_SIZE;
    }
    return slot.dwFinalOffset + slot.nFinalLen;
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

bool CMediaReassembler::OnDatagram(const BYTE* pData, int nLen, DWORD dwIP, WORD usPort)
{
    if (nLen < SEGMENT_HEADER + 1) {
        VLOG(2, "CSocketUdp::ReceiveMediaPacket: end } nLen < 9 return 0");
        return false;
    }
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

    const std::uint64_t qwKey = (static_cast<std::uint64_t>(dwIP) << 16) | usPort;
    auto it = m_mapLinks.find(qwKey);
    if (it == m_mapLinks.end())
        it = m_mapLinks.emplace(qwKey, std::make_unique<LINKITEM>(&m_pool)).first;
    LINKITEM& link = *it->second;

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
    if (!link.Insert(bSegment, usSequence, static_cast<DWORD>(qwOffset), pData + SEGMENT_HEADER, nSegLen,
                     GetTickCount())) {
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: rt Media packet failed!");
        ++m_dwDroppedSegments;
        return true;
    }
    VLOG(5, "CSocketUdp::ReceiveMediaPacket: bSegment:%d, usSequence:%d, uOffset:%d, segmentlen:%d", bSegment,
         usSequence, static_cast<int>(uOffset), static_cast<int>(nSegLen));
    return true;
}

int CMediaReassembler::Assemble(BYTE* pFrameBuf, DWORD nFrameBufSize, DWORD* pdwIP, WORD* pusPort)
{
    const DWORD nLimit = std::min(nFrameBufSize, MAX_FRAME_LEN);
    for (auto& [qwKey, pLink] : m_mapLinks) {
        LINKITEM& link = *pLink;
        if (link.nFinalSlots == 0)
            continue;
        DWORD nFrameLen = 0;
        bool bAnyComplete = false;
        int nCandidates = link.nFinalSlots;
        for (LINKITEM::Slot& slot : link.vecSlots) {
            if (nCandidates == 0)
                break;
            if (slot.nFinalLen == 0)
                continue;
            --nCandidates;
            const DWORD nLen = link.CompleteLength(slot);
            if (nLen == 0)
                continue;
            bAnyComplete = true;
            if (nLen > nLimit) {
                ++m_dwDroppedFrames;
                link.Flush(slot);
                continue;
            }
            link.Assemble(slot, pFrameBuf);
            link.Flush(slot);
            nFrameLen = nLen;
            break;
        }
        if (!bAnyComplete)
            continue;
        if (nFrameLen != 0 && Valid().CheckFrame(pFrameBuf, nFrameLen)) {
            *pdwIP = static_cast<DWORD>(qwKey >> 16);
            *pusPort = static_cast<WORD>(qwKey & 0xFFFF);
            return static_cast<int>(nFrameLen);
        }
        if (nFrameLen != 0)
            ++m_dwDroppedFrames;
        link.FlushAll();
    }
    return 0;
}
