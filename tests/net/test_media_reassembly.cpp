// Segment reassembly against frames cut the way cameras cut them.
#include "net/mediareassembly.h"
#include "net/net_test_support.h"
#include "net/socketmanager.h"
#include "platform/ticks.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr DWORD CAMERA_ID = 0x11223344;
constexpr DWORD CAMERA_IP = 0xC6120505;
constexpr WORD CAMERA_PORT = 9000;

class CFakeMediaSource : public IMediaDataSource {
public:
    bool HasWatchedDevice() override { return dwCurrent != 0; }
    bool IsWatched(DWORD dwID) override { return dwCurrent != 0 && dwID == dwCurrent; }
    bool HasDownloading() override { return dwDownloading != 0; }
    bool IsDownloading(DWORD dwID) override { return dwDownloading != 0 && dwID == dwDownloading; }

    DWORD dwCurrent = CAMERA_ID;
    DWORD dwDownloading = 0;
};

using Bytes = std::vector<BYTE>;

// The pages wholly inside [p, p + nBytes) that the kernel holds in memory (-1: it cannot tell).
long ResidentPages(const void* p, std::size_t nBytes)
{
    const auto nPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto nStart = (reinterpret_cast<std::uintptr_t>(p) + nPage - 1) / nPage * nPage;
    const auto nEnd = (reinterpret_cast<std::uintptr_t>(p) + nBytes) / nPage * nPage;
    if (nEnd <= nStart)
        return 0;
    std::vector<unsigned char> vec((nEnd - nStart) / nPage);
    if (mincore(reinterpret_cast<void*>(nStart), nEnd - nStart, vec.data()) != 0)
        return -1;
    return static_cast<long>(std::count_if(vec.begin(), vec.end(), [](unsigned char c) { return c & 1; }));
}

// A live frame of the camera: type byte, marker, sequence, id least significant byte first,
// then a payload that differs in every byte position.
Bytes MakeFrame(std::size_t nLen, DWORD dwID = CAMERA_ID, unsigned uSeed = 1)
{
    Bytes frame(nLen);
    std::mt19937 rng(uSeed);
    for (BYTE& b : frame)
        b = static_cast<BYTE>(rng());
    if (nLen >= 8) {
        frame[0] = 0x61;
        for (int i = 0; i < 4; ++i)
            frame[4 + i] = static_cast<BYTE>(dwID >> (8 * i));
    }
    return frame;
}

Bytes Segment(BYTE bSegment, WORD usSequence, DWORD uOffset, const BYTE* pPayload, std::size_t nLen)
{
    Bytes d = {bSegment,
               0,
               static_cast<BYTE>(usSequence >> 8),
               static_cast<BYTE>(usSequence),
               static_cast<BYTE>(uOffset >> 24),
               static_cast<BYTE>(uOffset >> 16),
               static_cast<BYTE>(uOffset >> 8),
               static_cast<BYTE>(uOffset)};
    d.insert(d.end(), pPayload, pPayload + nLen);
    return d;
}

// The datagrams of one frame in order: one datagram when it fits, else 1280-byte segments.
std::vector<Bytes> Cut(const Bytes& frame, WORD usSequence)
{
    if (frame.size() <= 1280)
        return {Segment(0, usSequence, 0, frame.data(), frame.size())};
    std::vector<Bytes> out;
    for (std::size_t nPos = 0; nPos < frame.size(); nPos += 1280) {
        const std::size_t n = std::min<std::size_t>(1280, frame.size() - nPos);
        const bool bLast = nPos + n == frame.size();
        out.push_back(
            Segment(bLast ? 1 : 2, usSequence, static_cast<DWORD>(nPos / 256), frame.data() + nPos, n));
    }
    return out;
}

// Each case runs twice: datagrams handed over whole (as the capture path does), and read the
// way a media socket reads them, the payload straight into the pool within one receive call.
class MediaReassembly : public ::testing::TestWithParam<bool> {
protected:
    MediaReassembly() : m_clock(1000), m_reassembler(&m_valid), m_frameBuf(CMediaReassembler::MAX_FRAME_LEN)
    {
        m_valid.SetSource(&m_source);
    }

    bool Feed(const Bytes& d, WORD usPort = CAMERA_PORT) { return FeedAll({d}, usPort) == 1; }
    // The datagrams accepted before one ended the call; a socket would read the rest in the
    // next call, as this does.
    std::size_t FeedAll(const std::vector<Bytes>& datagrams, WORD usPort = CAMERA_PORT)
    {
        std::size_t nAccepted = 0;
        if (!GetParam()) {
            for (const Bytes& d : datagrams)
                nAccepted +=
                    m_reassembler.OnDatagram(d.data(), static_cast<int>(d.size()), CAMERA_IP, usPort);
            return nAccepted;
        }
        m_reassembler.BeginCall(GetTickCount(), m_dwNowUs);
        for (const Bytes& d : datagrams) {
            if (d.size() > CMediaReassembler::SEGMENT_HEADER)
                std::memcpy(m_reassembler.GetReadBlock(), d.data() + CMediaReassembler::SEGMENT_HEADER,
                            std::min<std::size_t>(d.size() - CMediaReassembler::SEGMENT_HEADER,
                                                  CSpacePool::BLOCK_SIZE));
            if (m_reassembler.OnReadBlock(d.data(), static_cast<int>(d.size()), CAMERA_IP, usPort)) {
                ++nAccepted;
            } else {
                m_reassembler.EndCall();
                m_reassembler.BeginCall(GetTickCount(), m_dwNowUs);
            }
        }
        m_reassembler.EndCall();
        return nAccepted;
    }
    // Both clocks: the tick the datagrams are filed at, and the time of the receive calls.
    void Advance(DWORD dwMs)
    {
        m_clock.Advance(dwMs);
        m_dwNowUs += dwMs * 1000;
    }
    // Every frame the reassembler hands out now, or the first nMax.
    std::vector<Bytes> Drain(std::size_t nMax = SIZE_MAX)
    {
        std::vector<Bytes> out;
        while (out.size() < nMax) {
            DWORD dwIP = 0;
            WORD usPort = 0;
            // Frames lying whole in the pool come out where they are, the rest in the buffer.
            BYTE* pFrame = nullptr;
            const int n = m_reassembler.Assemble(m_frameBuf.data(), static_cast<DWORD>(m_frameBuf.size()),
                                                 &dwIP, &usPort, &pFrame);
            if (n <= 0)
                return out;
            EXPECT_EQ(dwIP, CAMERA_IP);
            out.emplace_back(pFrame, pFrame + n);
            m_vDamaged.push_back(m_reassembler.IsFrameDamaged());
        }
        return out;
    }

    CFakeTickClock m_clock;
    DWORD m_dwNowUs = 1000 * 1000;
    CFakeMediaSource m_source;
    CMediaDataValid m_valid;
    CMediaReassembler m_reassembler;
    Bytes m_frameBuf;
    std::vector<bool> m_vDamaged; // per frame Drain handed out
};

// Whatever order, duplication or interleaving the segments of whole frames arrive in, each
// frame comes out once and byte-identical.
TEST_P(MediaReassembly, DeliversEveryCompleteFrameIntactInAnyArrivalOrder)
{
    struct Case {
        const char* pszName;
        std::vector<std::size_t> vecSizes;
        bool bReverse;
        bool bDuplicate;
        bool bShuffle;
    };
    const Case cases[] = {
        {"single datagrams", {24, 100, 1280}, false, false, false},
        {"segmented in order", {1281, 40000, 2560}, false, false, false},
        {"reverse order", {40000, 3000}, true, false, false},
        {"duplicates", {40000, 500, 7000}, false, true, false},
        {"interleaved frames", {40000, 12345, 2561, 1000, 99999}, false, true, true},
        {"largest frame", {CMediaReassembler::MAX_FRAME_LEN}, false, false, true},
    };
    std::mt19937 rng(7);
    WORD usSequence = 65533; // crosses the 16-bit wrap
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<Bytes> frames;
        std::vector<Bytes> datagrams;
        for (std::size_t nSize : c.vecSizes) {
            frames.push_back(MakeFrame(nSize, CAMERA_ID, usSequence));
            std::vector<Bytes> cut = Cut(frames.back(), usSequence++);
            if (c.bReverse)
                std::reverse(cut.begin(), cut.end());
            if (c.bDuplicate)
                cut.push_back(cut.front());
            datagrams.insert(datagrams.end(), cut.begin(), cut.end());
        }
        if (c.bShuffle)
            std::shuffle(datagrams.begin(), datagrams.end(), rng);
        FeedAll(datagrams);
        std::vector<Bytes> got = Drain();
        // A repeated one-datagram frame is a frame again; the pane drops it by sequence.
        std::sort(got.begin(), got.end());
        got.erase(std::unique(got.begin(), got.end()), got.end());
        std::sort(frames.begin(), frames.end());
        ASSERT_EQ(got.size(), frames.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i] == frames[i]) << i << ": " << got[i].size() << " vs " << frames[i].size();
        EXPECT_TRUE(Drain().empty());
    }
}

// Frames that one burst completes come out oldest first, across the 16-bit wrap, whatever
// slots they landed in.
TEST_P(MediaReassembly, FramesOfOneBurstComeOutInFrameNumberOrder)
{
    enum Part { FIRST, REST, WHOLE, SINGLE, DRAIN };
    struct Step {
        Part enPart;
        WORD usSequence;
    };
    struct Case {
        const char* pszName;
        std::vector<Step> vecSteps; // the last drain is the one checked
        std::vector<WORD> vecExpected;
    };
    const Case cases[] = {
        {"a freed slot takes a later frame",
         {{WHOLE, 1}, {FIRST, 2}, {DRAIN, 0}, {WHOLE, 3}, {REST, 2}},
         {2, 3}},
        {"across the wrap",
         {{FIRST, 1}, {FIRST, 0}, {FIRST, 65535}, {WHOLE, 65534}, {REST, 0}, {REST, 1}, {REST, 65535}},
         {65534, 65535, 0, 1}},
        {"one-datagram frame inside a segmented one", {{FIRST, 7}, {SINGLE, 8}, {REST, 7}}, {7, 8}},
        {"whole frames in reverse", {{WHOLE, 22}, {WHOLE, 21}, {WHOLE, 20}}, {20, 21, 22}},
    };
    auto frameOf = [](WORD usSequence, std::size_t nLen) {
        Bytes frame = MakeFrame(nLen, CAMERA_ID, usSequence);
        frame[2] = static_cast<BYTE>(usSequence >> 8);
        frame[3] = static_cast<BYTE>(usSequence);
        return frame;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<Bytes> got;
        for (const Step& step : c.vecSteps) {
            const std::vector<Bytes> cut =
                Cut(frameOf(step.usSequence, step.enPart == SINGLE ? 500 : 3000), step.usSequence);
            if (step.enPart == DRAIN)
                Drain();
            else if (step.enPart == FIRST)
                Feed(cut.front());
            else if (step.enPart == REST)
                FeedAll({cut.begin() + 1, cut.end()});
            else
                FeedAll(cut);
        }
        std::vector<WORD> vecOrder;
        for (const Bytes& frame : Drain()) {
            vecOrder.push_back(static_cast<WORD>(frame[2] << 8 | frame[3]));
            EXPECT_EQ(frame, frameOf(vecOrder.back(), frame.size()));
        }
        EXPECT_EQ(vecOrder, c.vecExpected);
    }
}

// A frame with a gap waits; the missing segment completes it. Over 3 s later a segment of the
// same number belongs to another frame (the numbers wrapped) and fills no gap of the old one.
TEST_P(MediaReassembly, FrameWithGapWaitsForMissingSegment)
{
    const Bytes frame = MakeFrame(4 * 1280 - 100);
    const std::vector<Bytes> cut = Cut(frame, 9); // offsets 0, 5, 10, 15
    Feed(cut[0]);
    Feed(cut[1]);
    Feed(cut[3]);
    EXPECT_TRUE(Drain().empty());
    Feed(cut[2]);
    EXPECT_EQ(Drain(), std::vector<Bytes>{frame});

    const Bytes later = MakeFrame(frame.size(), CAMERA_ID, 2);
    const std::vector<Bytes> laterCut = Cut(later, 9);
    FeedAll({cut[0], cut[1], cut[3]});
    Advance(3001);
    Feed(laterCut[2]);
    EXPECT_TRUE(Drain().empty());
    FeedAll({laterCut[0], laterCut[1], laterCut[3]});
    EXPECT_EQ(Drain(), std::vector<Bytes>{later});
}

// A key frame that lost a segment comes out zero-filled there, before the later frames, once
// it has waited long enough behind a later complete one; only for a viewer that asks, and never
// a frame without codec headers.
TEST_P(MediaReassembly, KeyFrameThatLostASegmentIsHandedOutDamagedForAViewer)
{
    for (const bool bViewer : {true, false}) {
        SCOPED_TRACE(bViewer ? "viewer" : "no viewer");
        m_valid.bDamagedKeyFrames = bViewer;
        const WORD usBase = bViewer ? 100 : 200;
        Bytes key = MakeFrame(4 * 1280 - 100, CAMERA_ID, 5);
        key[1] = 0; // begins with codec headers
        Bytes partial = MakeFrame(3 * 1280, CAMERA_ID, 6);
        partial[1] = 1;
        auto next = [&](WORD usSeq) {
            Bytes p = MakeFrame(900, CAMERA_ID, usSeq);
            p[1] = 1;
            return p;
        };
        const std::vector<Bytes> keyCut = Cut(key, usBase);
        const std::vector<Bytes> partialCut = Cut(partial, static_cast<WORD>(usBase + 1));
        FeedAll({keyCut[0], keyCut[1], keyCut[3], partialCut[0], partialCut[2]});
        Advance(40);
        const Bytes p2 = next(static_cast<WORD>(usBase + 2));
        Feed(Cut(p2, static_cast<WORD>(usBase + 2))[0]);
        // A missing segment may still be on its way.
        EXPECT_EQ(Drain(), std::vector<Bytes>{p2});
        Advance(LINKITEM::GIVE_UP_MS + 10);
        const Bytes p3 = next(static_cast<WORD>(usBase + 3));
        Feed(Cut(p3, static_cast<WORD>(usBase + 3))[0]);
        m_vDamaged.clear();
        std::fill(m_frameBuf.begin(), m_frameBuf.end(), 0xAA); // what an earlier frame left there
        const std::vector<Bytes> out = Drain();
        if (!bViewer) {
            EXPECT_EQ(out, std::vector<Bytes>{p3});
            continue;
        }
        Bytes damaged = key;
        std::fill(damaged.begin() + 2 * 1280, damaged.begin() + 3 * 1280, 0);
        EXPECT_EQ(out, (std::vector<Bytes>{damaged, p3}));
        EXPECT_EQ(m_vDamaged, (std::vector<bool>{true, false}));
        EXPECT_EQ(m_reassembler.GetDamagedFrames(), 1u);
    }
}

// Frames that cannot be assembled soundly never come out; the rest of the sender's traffic
// still does.
TEST_P(MediaReassembly, MalformedSegmentsAndForeignFramesAreDropped)
{
    const Bytes good = MakeFrame(3000, CAMERA_ID, 5);
    struct Case {
        const char* pszName;
        std::vector<Bytes> vecDatagrams;
        std::vector<Bytes> vecExpected; // what comes out whole
    };
    const Bytes payload(1400, 0xAB);
    const Bytes tail = MakeFrame(200);
    // Passes the frame check, so that a frame built around it would come out.
    const Bytes head = MakeFrame(1280, CAMERA_ID, 6);
    const Bytes whole = MakeFrame(500, CAMERA_ID, 7);
    Bytes headTail = head;
    headTail.insert(headTail.end(), tail.begin(), tail.end());
    std::vector<Case> cases = {
        {"one-byte frame refused by the frame check", {Segment(0, 1, 0, payload.data(), 1)}},
        {"frame of 27 bytes is too short for the download word",
         {Segment(0, 2, 0, MakeFrame(27, 99).data(), 27)}},
        {"other camera", {Segment(0, 3, 0, MakeFrame(500, 0x55).data(), 500)}},
        {"payload over 1280", {Segment(0, 4, 0, payload.data(), 1281)}},
        // A middle segment of 1000 bytes would leave 280 stale bytes in the frame.
        {"short middle segment",
         {Segment(2, 5, 0, payload.data(), 1000), Segment(1, 5, 5, tail.data(), 200)}},
        // 0x01000000 * 256 wraps to offset 0 in 32 bits.
        {"offset beyond any frame",
         {Segment(2, 6, 0x01000000, payload.data(), 1280), Segment(1, 6, 5, tail.data(), 200)}},
        // Either final length would leave the block at 1280 partly stale inside the frame.
        {"segments past the final one, then another final",
         {Segment(2, 7, 0, head.data(), 1280), Segment(1, 7, 5, tail.data(), 200),
          Segment(2, 7, 10, payload.data(), 1280), Segment(1, 7, 15, tail.data(), 200)}},
        {"final segment again, longer",
         {Segment(2, 8, 0, head.data(), 1280), Segment(1, 8, 5, tail.data(), 100),
          Segment(1, 8, 5, tail.data(), 200)}},
        // A one-datagram frame and a segmented one of the same number (audio may be counted
        // apart) each come out whole, never one frame of both.
        {"one-datagram frame, then a segment of its number",
         {Segment(0, 9, 0, whole.data(), 500), Segment(1, 9, 5, tail.data(), 200)},
         {whole}},
        {"one-datagram frame amid a segmented one of its number",
         {Segment(2, 10, 0, head.data(), 1280), Segment(0, 10, 0, whole.data(), 500),
          Segment(1, 10, 5, tail.data(), 200)},
         {headTail, whole}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        FeedAll(c.vecDatagrams);
        EXPECT_EQ(Drain(), c.vecExpected);
    }
    FeedAll(Cut(good, 100));
    EXPECT_EQ(Drain(), std::vector<Bytes>{good});
}

TEST_P(MediaReassembly, ShortDatagramEndsTheCall)
{
    const Bytes d = Segment(0, 1, 0, nullptr, 0);
    EXPECT_FALSE(Feed(d));
}

// Frames of the downloading camera pass by the id at bytes 24..27; without a selection or a
// download the sockets drop everything and flush once.
TEST_P(MediaReassembly, MediaNotNeededFlushesOnceAndDiscards)
{
    const Bytes frame = MakeFrame(3000);
    const std::vector<Bytes> cut = Cut(frame, 1);
    Feed(cut[0]);
    Feed(cut[1]);
    m_source.dwCurrent = 0;
    EXPECT_FALSE(Feed(cut[2]));
    EXPECT_TRUE(m_valid.bMediaIdle);
    EXPECT_FALSE(Feed(cut[2]));
    m_source.dwCurrent = CAMERA_ID;
    EXPECT_TRUE(Feed(cut[2]));
    EXPECT_FALSE(m_valid.bMediaIdle);
    EXPECT_TRUE(Drain().empty()); // its first segments were flushed

    m_source.dwCurrent = 0;
    m_source.dwDownloading = 0x77;
    Bytes download = MakeFrame(600, 0x12345678);
    for (int i = 0; i < 4; ++i)
        download[24 + i] = static_cast<BYTE>(0x77 >> (8 * i));
    FeedAll(Cut(download, 2));
    EXPECT_EQ(Drain(), std::vector<Bytes>{download});
}

// With every slot busy: slots idle over 3 s go first; otherwise the oldest sequence, where
// 65530 counts as older than 1 when 3 arrives.
TEST_P(MediaReassembly, FullSlotsAreReclaimedByAgeThenBySequence)
{
    const Bytes half = MakeFrame(1280);
    auto fill = [&](WORD usFirst, int nCount) {
        // Non-final segments only: every slot stays incomplete.
        for (int i = 0; i < nCount; ++i)
            Feed(Segment(2, static_cast<WORD>(usFirst + i), 0, half.data(), 1280));
    };
    // By sequence: 65530 is the one reclaimed, so its second half no longer completes it,
    // while sequence 1 still does.
    Feed(Segment(2, 65530, 0, half.data(), 1280));
    Feed(Segment(2, 1, 0, half.data(), 1280));
    fill(1000, LINKITEM::SLOT_COUNT - 2);
    const Bytes tail = MakeFrame(100, CAMERA_ID, 3);
    Bytes whole3 = half;
    whole3.insert(whole3.end(), tail.begin(), tail.end());
    Feed(Segment(2, 3, 0, half.data(), 1280));
    Feed(Segment(1, 3, 5, tail.data(), 100));
    EXPECT_EQ(Drain(), std::vector<Bytes>{whole3});
    Feed(Segment(1, 65530, 5, tail.data(), 100));
    EXPECT_TRUE(Drain().empty());
    Feed(Segment(1, 1, 5, tail.data(), 100));
    EXPECT_EQ(Drain().size(), 1u);

    // By age: after 3 s every stale slot is flushed and the pool gets its blocks back.
    fill(2000, 1);
    Advance(3001);
    const std::size_t nFreeBefore = m_reassembler.GetPool().GetFreeCount();
    Feed(Segment(0, 7, 0, MakeFrame(300).data(), 300));
    EXPECT_EQ(Drain().size(), 1u);
    EXPECT_GT(m_reassembler.GetPool().GetFreeCount(), nFreeBefore + 400);
}

// A burst that fills a few hundred slots (a network that held up a second of frames) leaves
// no room behind once its frames are out: only the few slots steady traffic goes through keep
// the room of their segment lists, or a sender's 500 slots grow for hours.
TEST_P(MediaReassembly, SlotsFilledInABurstGiveBackTheirRoom)
{
    const Bytes block = MakeFrame(1280);
    const Bytes tail = MakeFrame(100, CAMERA_ID, 3);
    constexpr int FRAMES = 200;
    for (int nSeq = 0; nSeq < FRAMES; ++nSeq) {
        for (DWORD k = 0; k < 10; ++k)
            Feed(Segment(2, static_cast<WORD>(nSeq), k * 5, block.data(), 1280));
    }
    EXPECT_GE(m_reassembler.GetSegmentRoom(), std::size_t{FRAMES} * 10);
    for (int nSeq = 0; nSeq < FRAMES; ++nSeq)
        Feed(Segment(1, static_cast<WORD>(nSeq), 50, tail.data(), 100));
    EXPECT_EQ(Drain().size(), std::size_t{FRAMES});
    EXPECT_LE(m_reassembler.GetSegmentRoom(), std::size_t{LINKITEM::ROOM_SLOTS} * 16);
}

// Steady traffic reuses the same blocks: the pool stops growing after the first frames. A
// frame's blocks lie one after another, also across chunks, so none has to be copied.
TEST_P(MediaReassembly, PoolDoesNotGrowInSteadyState)
{
    WORD usSequence = 0;
    for (const std::size_t nLen : {std::size_t{40000}, std::size_t{400000}}) {
        SCOPED_TRACE(nLen);
        const Bytes frame = MakeFrame(nLen);
        std::size_t nChunks = 0;
        for (int i = 0; i < 60; ++i) {
            if (i == 10)
                nChunks = m_reassembler.GetPool().GetChunkCount();
            FeedAll(Cut(frame, usSequence++));
            const std::vector<Bytes> got = Drain();
            ASSERT_EQ(got.size(), 1u);
            ASSERT_TRUE(got[0] == frame);
        }
        EXPECT_EQ(m_reassembler.GetPool().GetChunkCount(), nChunks);
    }
    EXPECT_EQ(m_reassembler.GetCopiedFrames(), 0u);
    EXPECT_EQ(m_reassembler.GetInPlaceFrames(), 120u);
}

// On a lossy link a frame that lost a segment never completes. Its blocks go once it has been
// stale a while, so the pool holds a few seconds' worth of such frames, not the sender's whole
// share, and every frame that did arrive whole still comes out.
TEST_P(MediaReassembly, FramesThatLostASegmentGoOnceStale)
{
    const Bytes frame = MakeFrame(10000);
    std::size_t nDelivered = 0, nWhole = 0;
    for (WORD usSeq = 0; usSeq < 1500; ++usSeq) {
        std::vector<Bytes> cut = Cut(frame, usSeq);
        if (usSeq % 4 == 0)
            cut.erase(cut.begin() + 3);
        else
            ++nWhole;
        FeedAll(cut);
        nDelivered += Drain().size();
        Advance(40);
    }
    EXPECT_EQ(nDelivered, nWhole);
    // A quarter of 25 frames a second, of 7 blocks each, for up to two housekeeping periods.
    EXPECT_LE(m_reassembler.GetPool().GetChunkCount() * CSpacePool::CHUNK_BLOCKS,
              std::size_t{2 * LINKITEM::STALE_MS / 40 / 4 * 7 + 2 * CSpacePool::CHUNK_BLOCKS});
}

// A host spraying from thousands of source ports, short datagrams and frames that never
// complete, while the camera streams: every camera frame still comes out, the socket keeps a
// bounded number of senders and blocks, and once the spray has been quiet for the reclaim age
// its senders are gone and the pool's memory is given back.
TEST_P(MediaReassembly, SprayFromManyPortsStaysBoundedAndCameraFramesAllArrive)
{
    const Bytes pin = MakeFrame(1280, CAMERA_ID, 5);
    const Bytes tiny = {0, 0, 0, 1, 0, 0, 0, 0, 0x61};
    WORD usCamera = 0;
    std::size_t nFrames = 0;
    for (int nPort = 0; nPort < 10000; ++nPort) {
        const auto usSprayPort = static_cast<WORD>(20000 + nPort);
        // Every third sprayer pins pool blocks: segments of many frames that never end.
        if (nPort % 3 == 0) {
            std::vector<Bytes> pins;
            for (int i = 0; i < 8; ++i)
                pins.push_back(Segment(2, static_cast<WORD>(i), 0, pin.data(), pin.size()));
            FeedAll(pins, usSprayPort);
        } else {
            Feed(tiny, usSprayPort);
        }
        if (nPort % 50 == 0) {
            const Bytes frame = MakeFrame(20000 + nPort, CAMERA_ID, nPort);
            FeedAll(Cut(frame, usCamera++));
            const std::vector<Bytes> got = Drain();
            ASSERT_EQ(got.size(), 1u) << "camera frame " << usCamera;
            ASSERT_TRUE(got[0] == frame);
            ++nFrames;
            Advance(40);
        }
        ASSERT_LE(m_reassembler.GetSenderCount(), CMediaReassembler::MAX_SENDERS);
    }
    EXPECT_EQ(nFrames, 200u);
    EXPECT_LE(m_reassembler.GetPool().GetChunkCount(), 8u);

    // One sender that never completes a frame holds no more than its share, and its newest
    // frame still completes.
    const Bytes big = MakeFrame(200000, CAMERA_ID, 9);
    for (WORD usSeq = 100; usSeq < 130; ++usSeq) {
        std::vector<Bytes> cut = Cut(big, usSeq);
        cut.pop_back();
        FeedAll(cut, 7000);
    }
    const std::size_t nHeldChunks = m_reassembler.GetPool().GetChunkCount();
    EXPECT_LE(nHeldChunks * CSpacePool::CHUNK_BLOCKS, std::size_t{LINKITEM::MAX_HELD_BLOCKS + 800 + 1000});
    FeedAll(Cut(big, 200), 7000);
    EXPECT_EQ(Drain().size(), 1u);

    // Quiet for the reclaim age: only the camera is left. The chunks the spray freed keep their
    // memory for the release age, then the pool keeps one spare beyond what the camera uses.
    const Bytes frame = MakeFrame(30000);
    for (DWORD dwQuiet = 0; dwQuiet <= CSpacePool::RELEASE_AFTER_MS + LINKITEM::STALE_MS;
         dwQuiet += LINKITEM::STALE_MS + 1) {
        Advance(LINKITEM::STALE_MS + 1);
        FeedAll(Cut(frame, usCamera++));
        ASSERT_EQ(Drain(), std::vector<Bytes>{frame});
        if (dwQuiet < CSpacePool::RELEASE_AFTER_MS) {
            ASSERT_EQ(m_reassembler.GetPool().GetResidentChunkCount(), nHeldChunks) << dwQuiet << " ms";
        }
    }
    EXPECT_EQ(m_reassembler.GetSenderCount(), 1u);
    EXPECT_LE(m_reassembler.GetPool().GetResidentChunkCount(), 2u);
}

// A frame's gathering time runs from its first segment's arrival to the arrival of the one
// that completes it, whatever order they come in and whatever else arrives meanwhile.
TEST_P(MediaReassembly, ReportsEachFramesGatheringTime)
{
    struct Step {
        WORD usSequence;
        std::size_t nSegment; // index into the frame's datagrams
        DWORD dwAfterMs;      // since the step before
    };
    struct Case {
        const char* pszName;
        std::vector<Step> vecSteps;
        std::vector<DWORD> vecExpectedUs; // by frame number order
    };
    // Frames 1 and 2 have three segments, frame 3 one datagram.
    const Case cases[] = {
        {"in order", {{1, 0, 0}, {1, 1, 4}, {1, 2, 3}}, {7000}},
        {"final segment first", {{1, 2, 0}, {1, 0, 5}, {1, 1, 2}}, {7000}},
        {"repeat after completion changes nothing", {{1, 0, 0}, {1, 1, 1}, {1, 2, 1}, {1, 2, 9}}, {2000}},
        {"interleaved frames",
         {{1, 0, 0}, {2, 0, 2}, {1, 1, 3}, {3, 0, 1}, {2, 1, 4}, {2, 2, 1}, {1, 2, 6}},
         {17000, 9000, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        for (const Step& step : c.vecSteps) {
            Advance(step.dwAfterMs);
            Feed(Cut(MakeFrame(step.usSequence == 3 ? 600 : 3000, CAMERA_ID, step.usSequence),
                     step.usSequence)[step.nSegment]);
        }
        std::vector<DWORD> vecUs;
        while (!Drain(1).empty())
            vecUs.push_back(m_reassembler.GetFrameAssembleUs());
        EXPECT_EQ(vecUs, c.vecExpectedUs);
    }
}

// Segments read into the pool in calls (where a burst's in-order segments are filed with few
// checks) end in exactly what the same stream gives handed over datagram by datagram, with
// every check: random bursts, cut anywhere into calls, with lost, repeated, swapped, shortened
// and foreign segments, a second sender, frames past the largest and stale slots.
TEST(MediaReassemblyPaths, ReadIntoPoolMatchesWholeDatagramsOnAnyStream)
{
    CFakeTickClock clock(1000);
    CFakeMediaSource source;
    CMediaDataValid validWhole, validPooled;
    validWhole.SetSource(&source);
    validPooled.SetSource(&source);
    CMediaReassembler whole(&validWhole), pooled(&validPooled);
    std::mt19937 rng(13);
    auto chance = [&rng](unsigned uPercent) { return rng() % 100 < uPercent; };
    using Frames = std::vector<std::pair<WORD, Bytes>>;
    auto drain = [](CMediaReassembler& r) {
        Frames out;
        Bytes buf(CMediaReassembler::MAX_FRAME_LEN);
        DWORD dwIP = 0;
        WORD usPort = 0;
        BYTE* pFrame = nullptr;
        for (int n;
             (n = r.Assemble(buf.data(), static_cast<DWORD>(buf.size()), &dwIP, &usPort, &pFrame)) > 0;)
            out.emplace_back(usPort, Bytes(pFrame, pFrame + n));
        return out;
    };
    WORD usSequence = 100;
    std::size_t nFrames = 0;
    for (int nRound = 0; nRound < 300; ++nRound) {
        std::vector<std::pair<WORD, Bytes>> burst;
        for (int f = static_cast<int>(rng() % 5); f >= 0; --f) {
            const std::size_t anSizes[] = {500, 1280, 1281, 3 * 1280, 12345, 40000};
            const std::size_t nSize =
                chance(2) ? CMediaReassembler::MAX_FRAME_LEN + 2 * 1280 : anSizes[rng() % std::size(anSizes)];
            const WORD usFrame = chance(5) ? static_cast<WORD>(usSequence - 2) : usSequence++;
            for (Bytes d : Cut(MakeFrame(nSize, CAMERA_ID, usFrame), usFrame)) {
                if (chance(2))
                    continue;
                if (chance(2) && d[0] == 2)
                    d[0] = 3;
                if (chance(2) && d.size() > 200)
                    d.resize(d.size() - 100);
                burst.emplace_back(chance(3) ? CAMERA_PORT + 1 : CAMERA_PORT, d);
                if (chance(2))
                    burst.push_back(burst.back());
                if (chance(2) && burst.size() > 1)
                    std::swap(burst.back(), burst[burst.size() - 2]);
            }
            if (chance(2))
                burst.emplace_back(CAMERA_PORT, Bytes(5, 2));
        }
        // Both hand out what they hold wherever a socket's receive call would end: after a
        // datagram that completed a frame or ended the call, or anywhere the socket ran dry.
        auto handOut = [&] {
            const Frames got = drain(pooled);
            nFrames += got.size();
            return got == drain(whole);
        };
        pooled.BeginCall(GetTickCount(), 0);
        for (const auto& [usPort, d] : burst) {
            whole.OnDatagram(d.data(), static_cast<int>(d.size()), CAMERA_IP, usPort);
            if (d.size() > CMediaReassembler::SEGMENT_HEADER)
                std::memcpy(pooled.GetReadBlock(), d.data() + CMediaReassembler::SEGMENT_HEADER,
                            std::min<std::size_t>(d.size() - CMediaReassembler::SEGMENT_HEADER,
                                                  CSpacePool::BLOCK_SIZE));
            if (!pooled.OnReadBlock(d.data(), static_cast<int>(d.size()), CAMERA_IP, usPort) ||
                pooled.TakeFrameReady() || chance(5)) {
                pooled.EndCall();
                ASSERT_TRUE(handOut()) << "round " << nRound;
                pooled.BeginCall(GetTickCount(), 0);
            }
        }
        pooled.EndCall();
        ASSERT_TRUE(handOut()) << "round " << nRound;
        clock.Advance(chance(3) ? 3001 : rng() % 20);
    }
    EXPECT_EQ(pooled.GetDroppedSegments(), whole.GetDroppedSegments());
    EXPECT_EQ(pooled.GetDroppedFrames(), whole.GetDroppedFrames());
    // The stream is mostly sound: most frames come out, and some are dropped.
    EXPECT_GT(nFrames, 300u);
    EXPECT_GT(whole.GetDroppedSegments(), 0u);
}

// A real media socket on loopback with no capture and a fake camera table, read by a
// recording receiver; its receive buffer holds a whole burst (as root; CI runs so), else the
// system's limit may drop some.
struct MediaSocketRig {
    CFixedLocalAddresses addresses{{nettest::LOOPBACK}};
    nettest::CaptureFactoryScope noCapture{CaptureListenerFactory()};
    CFakeMediaSource source;
    IMediaDataSource* pOldSource = GetMediaDataValid().SetSource(&source);
    CSocketManager manager{&addresses};
    nettest::CRecordingReceiver receiver;
    WORD usPort = nettest::FreePort();
    SocketGroup* pGroup = nullptr;

    MediaSocketRig()
    {
        manager.SetSourceHoldTime(10);
        pGroup = manager.CreateSocket(0, usPort, FALSE, &receiver);
        if (pGroup == nullptr)
            return;
        const int nBytes = 16 << 20;
        setsockopt(pGroup->ppSockets[0]->GetSocket(), SOL_SOCKET, SO_RCVBUFFORCE, &nBytes, sizeof(nBytes));
    }
    ~MediaSocketRig() { GetMediaDataValid().SetSource(pOldSource); }
};

// Through a real media socket: a burst queued in the socket reaches the receiver whole, in
// frame-number order, mostly straight from the pool, and is handed out frame by frame while
// it is read, so the pool never holds the burst.
TEST(MediaSocket, BurstArrivesInOrderFrameByFrame)
{
    using namespace nettest;
    MediaSocketRig rig;
    ASSERT_NE(rig.pGroup, nullptr);
    CRecordingReceiver& receiver = rig.receiver;
    const WORD usPort = rig.usPort;
    const CMediaReassembler& media = rig.pGroup->ppSockets[0]->GetMediaReassembler();

    // Video frames of 40 KB with a one-datagram audio frame inside every fourth, one frame
    // sent backwards and one segment sent twice.
    UdpPeer peer;
    std::vector<Bytes> sent;
    std::vector<Bytes> datagrams;
    for (WORD usSequence = 0; sent.size() < 25; ++usSequence) {
        sent.push_back(MakeFrame(40000, CAMERA_ID, usSequence));
        std::vector<Bytes> cut = Cut(sent.back(), usSequence);
        if (usSequence == 5)
            std::reverse(cut.begin(), cut.end());
        if (usSequence == 9)
            cut.insert(cut.begin() + 3, cut[2]);
        if (usSequence % 4 == 1) {
            ++usSequence;
            sent.push_back(MakeFrame(60, CAMERA_ID, usSequence));
            cut.insert(cut.begin() + 10, Cut(sent.back(), usSequence).front());
        }
        datagrams.insert(datagrams.end(), cut.begin(), cut.end());
    }
    for (const Bytes& d : datagrams)
        peer.SendToLoopback(usPort, std::string(d.begin(), d.end()));
    ASSERT_TRUE(PumpUntil([&] { return receiver.received.size() >= sent.size(); }));
    PumpFor(50);

    ASSERT_EQ(receiver.received.size(), sent.size());
    // The audio frame inside video frame n is n + 1, and comes after it.
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_TRUE(receiver.received[i].strData == std::string(sent[i].begin(), sent[i].end())) << i;
    // A one-datagram frame read amid a frame's segments costs that frame and the next their
    // place in the pool; the others go out uncopied.
    EXPECT_GE(media.GetInPlaceFrames(), sent.size() / 2);
    EXPECT_EQ(media.GetPool().GetChunkCount(), 1u);
}

// A frame that cannot go out where it lies in the pool is copied into the group's receive
// buffer, whose pages then stay resident as far as that frame reached: over a long run the rare
// largest frames would hold more and more of it. The housekeeping gives them back, and the
// buffer serves the next frame as before. The kernel's page table is the judge.
TEST(MediaSocket, ReceiveBufferPagesGoBackBetweenFrames)
{
    using namespace nettest;
    MediaSocketRig rig;
    ASSERT_NE(rig.pGroup, nullptr);
    CSocketManager& manager = rig.manager;
    CRecordingReceiver& receiver = rig.receiver;
    const WORD usPort = rig.usPort;
    SocketGroup* pGroup = rig.pGroup;
    const long nPage = sysconf(_SC_PAGESIZE);
    auto residentPages = [&] { return ResidentPages(pGroup->pRecvBuf, pGroup->nRecvBufSize); };
    const std::size_t nFrame = 300000;
    UdpPeer peer;
    for (WORD usSequence = 0; usSequence < 2; ++usSequence) {
        const Bytes frame = MakeFrame(nFrame, CAMERA_ID, usSequence + 7);
        // Backwards: its blocks lie in the pool out of order, so it is copied out.
        std::vector<Bytes> cut = Cut(frame, usSequence);
        std::reverse(cut.begin(), cut.end());
        for (const Bytes& d : cut)
            peer.SendToLoopback(usPort, std::string(d.begin(), d.end()));
        ASSERT_TRUE(PumpUntil([&] { return receiver.received.size() > usSequence; }));
        EXPECT_TRUE(receiver.received[usSequence].strData == std::string(frame.begin(), frame.end()))
            << usSequence;
        EXPECT_GE(residentPages(), static_cast<long>(nFrame / nPage) - 2) << "copied into the buffer";
        manager.ReleaseIdleMemory();
        EXPECT_LE(residentPages(), 1) << usSequence;
    }
    EXPECT_EQ(pGroup->ppSockets[0]->GetMediaReassembler().GetInPlaceFrames(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadPaths, MediaReassembly, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ReadIntoPool" : "WholeDatagram";
                         });

TEST(SpacePool, TakesBackOnlyItsOwnBlocks)
{
    CSpacePool pool;
    BYTE* pBlock = pool.AllocSpace();
    EXPECT_EQ(pool.GetFreeCount(), CSpacePool::CHUNK_BLOCKS - 1);
    BYTE foreign[CSpacePool::BLOCK_SIZE];
    pool.ReleaseSpace(nullptr);
    pool.ReleaseSpace(foreign);
    pool.ReleaseSpace(pBlock + 1);
    EXPECT_EQ(pool.GetFreeCount(), CSpacePool::CHUNK_BLOCKS - 1);
    pool.ReleaseSpace(pBlock);
    EXPECT_EQ(pool.GetFreeCount(), CSpacePool::CHUNK_BLOCKS);
    EXPECT_EQ(pool.AllocSpace(), pBlock); // last in, first out

    // A run of blocks goes back whole, lowest on top; a run that is not the pool's does not.
    std::vector<BYTE*> vecRun;
    for (int i = 0; i < 5; ++i)
        vecRun.push_back(pool.AllocSpace());
    ASSERT_EQ(vecRun.back(), vecRun.front() + 4 * CSpacePool::BLOCK_SIZE);
    const std::size_t nFree = pool.GetFreeCount();
    pool.ReleaseRun(foreign, 1);
    pool.ReleaseRun(vecRun.front() + 1, 4);
    EXPECT_EQ(pool.GetFreeCount(), nFree);
    pool.ReleaseRun(vecRun.front(), 5);
    EXPECT_EQ(pool.GetFreeCount(), nFree + 5);
    for (BYTE* pExpected : vecRun)
        EXPECT_EQ(pool.AllocSpace(), pExpected);
}

} // namespace

// The memory a chunk holds is the whole chunk, from when it is carved until it has been free
// for the release age (so that it does not creep up page by page, nor swing with every
// housekeeping), and again the whole chunk once it is used after that. The kernel's page table
// is the judge.
TEST(SpacePool, ChunkMemoryIsHeldWholeUntilFreeForTheReleaseAge)
{
    const long nPage = sysconf(_SC_PAGESIZE);
    auto residentPages = [](const BYTE* pChunk) { return ResidentPages(pChunk, CSpacePool::CHUNK_BYTES); };
    {
        // Kernels before 5.14 fault pages in as they are used: nothing to check there.
        void* p = mmap(nullptr, nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        const bool bPopulates = madvise(p, nPage, MADV_POPULATE_WRITE) == 0;
        munmap(p, nPage);
        if (!bPopulates)
            GTEST_SKIP() << "no MADV_POPULATE_WRITE here";
    }
    const long nWhole = static_cast<long>(CSpacePool::CHUNK_BYTES / nPage) - 1;

    CSpacePool pool;
    std::vector<BYTE*> vecBlocks;
    for (DWORD i = 0; i < 3 * CSpacePool::CHUNK_BLOCKS; ++i)
        vecBlocks.push_back(pool.AllocSpace());
    ASSERT_EQ(pool.GetChunkCount(), 3u);
    const BYTE* chunks[3] = {vecBlocks[0], vecBlocks[CSpacePool::CHUNK_BLOCKS],
                             vecBlocks[2 * CSpacePool::CHUNK_BLOCKS]};
    for (const BYTE* pChunk : chunks)
        EXPECT_GE(residentPages(pChunk), nWhole) << "carved but not written";

    for (BYTE* pBlock : vecBlocks)
        pool.ReleaseSpace(pBlock);
    const struct {
        DWORD dwNow;
        std::size_t nResident;
    } trims[] = {
        {1000, 3}, {1000 + CSpacePool::RELEASE_AFTER_MS - 1, 3}, {1000 + CSpacePool::RELEASE_AFTER_MS, 1}};
    for (const auto& trim : trims) {
        pool.Trim(trim.dwNow);
        EXPECT_EQ(pool.GetResidentChunkCount(), trim.nResident) << trim.dwNow;
    }
    EXPECT_GE(residentPages(chunks[0]), nWhole) << "the spare";
    EXPECT_EQ(residentPages(chunks[1]), 0);
    EXPECT_EQ(residentPages(chunks[2]), 0);

    // Used again: one block of the second chunk, and the whole chunk is back at the next trim.
    for (DWORD i = 0; i <= CSpacePool::CHUNK_BLOCKS; ++i)
        pool.AllocSpace();
    pool.Trim(2000 + CSpacePool::RELEASE_AFTER_MS);
    EXPECT_EQ(pool.GetResidentChunkCount(), 2u);
    EXPECT_GE(residentPages(chunks[1]), nWhole);
    EXPECT_EQ(residentPages(chunks[2]), 0);
}
