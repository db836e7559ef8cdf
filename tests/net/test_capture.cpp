#include "net_test_support.h"

#include "net/capturequeue.h"
#include "net/pcaplistener.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace nettest;

namespace {

class CCountingQueue : public CCaptureQueue {
public:
    void NotifyData() override { ++nNotified; }
    std::atomic<int> nNotified{0};
};

std::string TakeOne(CCaptureQueue& queue, int nBufLen = 2560, DWORD* pdwIP = nullptr, WORD* pusPort = nullptr)
{
    std::vector<BYTE> buffer(nBufLen);
    const int n = queue.Get(buffer.data(), nBufLen, pdwIP, pusPort);
    return std::string(reinterpret_cast<char*>(buffer.data()), std::max(n, 0));
}

// The queue tests need no listener at all.
class CaptureQueueTest : public ::testing::Test {
protected:
    CaptureFactoryScope m_noCapture{CaptureListenerFactory()};
};

class PacketHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pAdapter = m_listener.AddAdapter(LOOPBACK, nullptr);
        m_listener.Register(&m_queue, LOOPBACK, 8001, 1);
    }
    void TearDown() override { m_listener.Register(&m_queue, LOOPBACK, 8001, 0); }
    void Feed(const std::vector<BYTE>& frame, DWORD nCapLen)
    {
        // Exactly the captured bytes, so a read past them is caught by the sanitizer build.
        std::vector<BYTE> captured(frame.begin(), frame.begin() + nCapLen);
        m_listener.HandleFrame(m_pAdapter, captured.data(), nCapLen);
    }
    void Feed(const std::vector<BYTE>& frame) { Feed(frame, static_cast<DWORD>(frame.size())); }

    CaptureFactoryScope m_noCapture{CaptureListenerFactory()};
    CPcapListener m_listener;
    AdapterCapture* m_pAdapter = nullptr;
    CCountingQueue m_queue;
};

} // namespace

TEST_F(CaptureQueueTest, FullRingKeepsAllButOneAndTracesTheDrop)
{
    TraceCapture trace;
    CCountingQueue queue;
    constexpr int nSize = CCaptureQueue::RING_SIZE;
    const DWORD dwIPNet = htonl(0xC6120505);
    for (int i = 0; i < nSize; ++i) {
        const std::string strPayload = std::to_string(i);
        queue.Put(reinterpret_cast<const BYTE*>(strPayload.data()), static_cast<DWORD>(strPayload.size()),
                  dwIPNet, htons(9000));
    }
    EXPECT_EQ(queue.GetQueuedCount(), nSize - 1);
    EXPECT_EQ(trace.Count("Drop Packets"), 1);
    char szExpected[80];
    std::snprintf(szExpected, sizeof(szExpected), "Drop Packets, ReadPos=0, write pos=%d, %x", nSize - 1,
                  dwIPNet);
    EXPECT_TRUE(trace.Contains(szExpected));
    // Notified for every put, the dropped one included.
    EXPECT_EQ(queue.nNotified, nSize);

    // Oldest first, address and port in host order; the dropped last one is gone.
    DWORD dwIP = 0;
    WORD usPort = 0;
    EXPECT_EQ(TakeOne(queue, 2560, &dwIP, &usPort), "0");
    EXPECT_EQ(dwIP, 0xC6120505u);
    EXPECT_EQ(usPort, 9000);
    for (int i = 1; i < nSize - 1; ++i)
        ASSERT_EQ(TakeOne(queue), std::to_string(i));
    EXPECT_EQ(queue.Get(nullptr, 0, nullptr, nullptr), 0);

    // Room again after reading, and the same bound once the positions have wrapped.
    queue.Put(reinterpret_cast<const BYTE*>("again"), 5, dwIPNet, htons(9000));
    EXPECT_EQ(TakeOne(queue), "again");
    for (int i = 0; i < nSize; ++i)
        queue.Put(reinterpret_cast<const BYTE*>("x"), 1, dwIPNet, htons(9000));
    EXPECT_EQ(trace.Count("Drop Packets"), 2);
    EXPECT_EQ(queue.GetQueuedCount(), nSize - 1);
}

TEST_F(CaptureQueueTest, BytesBoundTheQueueBeforeEntriesDo)
{
    TraceCapture trace;
    CCountingQueue queue;
    const std::string strPayload(1500, 'b');
    const int nFit = static_cast<int>(CCaptureQueue::MAX_QUEUED_BYTES /
                                      (strPayload.size() + CCaptureQueue::ENTRY_OVERHEAD_BYTES));
    ASSERT_LT(nFit, CCaptureQueue::RING_SIZE - 1);
    auto put = [&] {
        queue.Put(reinterpret_cast<const BYTE*>(strPayload.data()), static_cast<DWORD>(strPayload.size()), 0,
                  0);
    };
    for (int i = 0; i < nFit + 10; ++i)
        put();
    EXPECT_EQ(queue.GetQueuedCount(), nFit);
    EXPECT_EQ(trace.Count("Drop Packets"), 10);
    // Reading one frees its bytes for exactly one more.
    EXPECT_EQ(TakeOne(queue).size(), strPayload.size());
    put();
    put();
    EXPECT_EQ(queue.GetQueuedCount(), nFit);
    EXPECT_EQ(trace.Count("Drop Packets"), 11);
}

TEST_F(CaptureQueueTest, LongPayloadIsCutToTheCallersBuffer)
{
    CCountingQueue queue;
    const std::string strPayload(3000, 'p');
    queue.Put(reinterpret_cast<const BYTE*>(strPayload.data()), 3000, 0, 0);
    EXPECT_EQ(TakeOne(queue, 2560).size(), 2560u);
    EXPECT_EQ(queue.GetQueuedCount(), 0);
}

// The heap's own count is the oracle: what a queue holds must stay within what it is charged
// (short replies by the thousand cost about their size, not a block each), and a burst of blocks
// read out must not stay held beyond the spare blocks.
TEST_F(CaptureQueueTest, HeldMemoryStaysWithinWhatIsCharged)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator is not the one counted";
#else
    auto heapBytes = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<long long>(info.uordblks + info.hblkhd);
    };
    const struct {
        DWORD nLen;
        int nCount;
    } rows[] = {
        {60, 20000}, {CCaptureQueue::SMALL_PAYLOAD_BYTES, 5000}, {700, 8000}, {1280, 8000}, {3000, 500}};
    const std::vector<BYTE> payload(3000, 0x5A);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.nLen);
        const long long nBefore = heapBytes();
        {
            CCountingQueue queue;
            for (int i = 0; i < row.nCount; ++i)
                queue.PutQuiet(payload.data(), row.nLen, 0, 0);
            queue.Publish();
            ASSERT_EQ(queue.GetQueuedCount(), row.nCount);
            EXPECT_LE(heapBytes() - nBefore,
                      static_cast<long long>(row.nCount * CCaptureQueue::ChargeFor(row.nLen)));
            std::vector<BYTE> buffer(row.nLen);
            for (int i = 0; i < row.nCount; ++i)
                ASSERT_EQ(queue.Get(buffer.data(), static_cast<int>(buffer.size()), nullptr, nullptr),
                          static_cast<int>(row.nLen));
            EXPECT_LE(heapBytes() - nBefore,
                      static_cast<long long>(
                          CCaptureQueue::MAX_SPARE_BLOCKS * (CCaptureQueue::BLOCK_BYTES + 32) + 65536));
        }
    }
#endif
}

TEST(CaptureListenerLifetime, FirstQueueMakesItLastQueueEndsIt)
{
    static int s_nMade;
    static int s_nStarted;
    static int s_nDestroyed;
    s_nMade = s_nStarted = s_nDestroyed = 0;
    class CCountedListener : public ICaptureListener {
    public:
        ~CCountedListener() override { ++s_nDestroyed; }
        BOOL Start() override { return ++s_nStarted, 1; }
        void Register(CCaptureQueue*, DWORD, WORD, BOOL) override {}
    };
    CaptureFactoryScope scope([] {
        ++s_nMade;
        return std::unique_ptr<ICaptureListener>(new CCountedListener);
    });
    {
        auto pFirst = std::make_unique<CCountingQueue>();
        auto pSecond = std::make_unique<CCountingQueue>();
        EXPECT_EQ(s_nMade, 1);
        EXPECT_EQ(s_nStarted, 1);
        EXPECT_NE(GetCaptureListener(), nullptr);
        pFirst.reset();
        EXPECT_EQ(s_nDestroyed, 0);
    }
    EXPECT_EQ(s_nDestroyed, 1);
    EXPECT_EQ(GetCaptureListener(), nullptr);
    // A later queue makes a new one.
    CCountingQueue later;
    EXPECT_EQ(s_nMade, 2);
}

// The ring is sized by what the listener is told: a hold made before the listener exists is told
// before its start, and only the first hold and the last release change anything.
TEST(CaptureListenerLifetime, BulkHoldsAreToldOnFirstAndLast)
{
    static std::string s_strCalls;
    s_strCalls.clear();
    class CBulkListener : public ICaptureListener {
    public:
        BOOL Start() override { return s_strCalls += "start ", 1; }
        void Register(CCaptureQueue*, DWORD, WORD, BOOL) override {}
        void SetBulk(bool bBulk) override { s_strCalls += bBulk ? "bulk " : "small "; }
    };
    CaptureFactoryScope scope([] { return std::unique_ptr<ICaptureListener>(new CBulkListener); });
    auto pEarly = std::make_unique<CCaptureBulkHold>();
    {
        CCountingQueue queue;
        auto pSecond = std::make_unique<CCaptureBulkHold>();
        pEarly.reset();
        EXPECT_EQ(s_strCalls, "bulk start ");
        pSecond.reset();
        CCaptureBulkHold again;
        EXPECT_EQ(s_strCalls, "bulk start small bulk ");
    }
    CCountingQueue later;
    EXPECT_EQ(s_strCalls, "bulk start small bulk small small start ");
}

TEST_F(PacketHandlerTest, DeliversPayloadOfRegisteredPortOnly)
{
    FrameSpec spec;
    spec.dwDstIP = 0xC612FFFF; // any destination: capture sees past the address filter
    Feed(BuildFrame(spec));
    DWORD dwIP = 0;
    WORD usPort = 0;
    EXPECT_EQ(TakeOne(m_queue, 2560, &dwIP, &usPort), "hello");
    EXPECT_EQ(dwIP, 0xC6120505u);
    EXPECT_EQ(usPort, 9000);
    EXPECT_EQ(m_queue.nNotified, 1);

    spec.usDstPort = 8002;
    Feed(BuildFrame(spec));
    EXPECT_EQ(m_queue.GetQueuedCount(), 0);

    // An IP header with options moves the UDP header along.
    spec.usDstPort = 8001;
    spec.nIPHeaderLen = 24;
    spec.strPayload = "options";
    Feed(BuildFrame(spec));
    EXPECT_EQ(TakeOne(m_queue), "options");
}

// The capture thread's dispatch: each queue gets the whole batch with one notice, drops
// included, and a socket closing meanwhile waits for the batch's end (its queue may be freed
// right after).
TEST_F(PacketHandlerTest, ABatchNotifiesEachStillRegisteredQueueOnce)
{
    CCountingQueue other;
    m_listener.Register(&other, LOOPBACK, 8002, 1);
    FrameSpec spec;
    const std::vector<BYTE> mine = BuildFrame(spec);
    for (int i = 0; i < 3; ++i)
        m_listener.HandleFrame(m_pAdapter, mine.data(), static_cast<DWORD>(mine.size()), true);
    spec.usDstPort = 8002;
    const std::vector<BYTE> frame = BuildFrame(spec);
    m_listener.HandleFrame(m_pAdapter, frame.data(), static_cast<DWORD>(frame.size()), true);
    EXPECT_EQ(m_queue.nNotified + other.nNotified, 0);
    m_listener.NotifyPut(m_pAdapter);
    EXPECT_EQ(m_queue.nNotified, 1);
    EXPECT_EQ(other.nNotified, 1);
    EXPECT_EQ(m_queue.GetQueuedCount(), 3);
    EXPECT_EQ(TakeOne(m_queue), "hello");
    m_listener.NotifyPut(m_pAdapter); // nothing new
    EXPECT_EQ(m_queue.nNotified, 1);

    m_listener.HandleFrame(m_pAdapter, frame.data(), static_cast<DWORD>(frame.size()), true);
    EXPECT_EQ(other.GetQueuedCount(), 2);
    std::atomic<bool> bClosed{false};
    std::thread closer([&] {
        m_listener.Register(&other, LOOPBACK, 8002, 0);
        bClosed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(bClosed);
    m_listener.NotifyPut(m_pAdapter);
    closer.join();
    EXPECT_EQ(other.nNotified, 2);
    EXPECT_EQ(TakeOne(other), "hello");
    EXPECT_EQ(TakeOne(other), "hello");
    EXPECT_EQ(other.GetQueuedCount(), 0);
    m_listener.HandleFrame(m_pAdapter, frame.data(), static_cast<DWORD>(frame.size()), true);
    m_listener.NotifyPut(m_pAdapter);
    EXPECT_EQ(other.nNotified, 2);
}

TEST_F(PacketHandlerTest, RegistrationFollowsTheAdapterAndTheQueue)
{
    CCountingQueue other;
    // No adapter has this address: nothing is registered.
    m_listener.Register(&other, 0xC6120002, 8001, 1);
    // An existing entry stays; removing someone else's entry does nothing.
    m_listener.Register(&other, LOOPBACK, 8001, 1);
    m_listener.Register(&other, LOOPBACK, 8001, 0);
    Feed(BuildFrame(FrameSpec{}));
    EXPECT_EQ(m_queue.GetQueuedCount(), 1);
    EXPECT_EQ(other.GetQueuedCount(), 0);

    m_listener.Register(&m_queue, LOOPBACK, 8001, 0);
    Feed(BuildFrame(FrameSpec{}));
    EXPECT_EQ(m_queue.GetQueuedCount(), 1);
}

TEST_F(PacketHandlerTest, MalformedOrForeignFramesAreDropped)
{
    TraceCapture trace;
    FrameSpec spec;
    spec.strPayload = std::string(1500, 'x'); // UDP length 1508
    Feed(BuildFrame(spec));
    EXPECT_TRUE(trace.Contains("Error, packet too long, Receive a Packet with len 1508"));

    spec = FrameSpec{};
    spec.nUDPLenDelta = 40; // length field claims more than was captured
    Feed(BuildFrame(spec));
    spec.nUDPLenDelta = -8; // shorter than the UDP header itself
    Feed(BuildFrame(spec));
    spec = FrameSpec{};
    spec.usEtherType = 0x8100; // 802.1Q tag
    Feed(BuildFrame(spec));
    spec = FrameSpec{};
    spec.usFragment = 0x0010; // a later fragment has no UDP header
    Feed(BuildFrame(spec));
    spec = FrameSpec{};
    spec.strPayload.clear();
    Feed(BuildFrame(spec));
    EXPECT_EQ(m_queue.GetQueuedCount(), 0);
    EXPECT_EQ(m_queue.nNotified, 0);

    // An IP header length pointing past the captured bytes.
    std::vector<BYTE> frame = BuildFrame(FrameSpec{});
    frame[14] = 0x4F;
    Feed(frame);
    EXPECT_EQ(m_queue.GetQueuedCount(), 0);

    // Every cut of a good frame: only the whole one is delivered.
    const std::vector<BYTE> good = BuildFrame(FrameSpec{});
    for (DWORD n = 0; n <= good.size(); ++n)
        Feed(good, n);
    EXPECT_EQ(m_queue.GetQueuedCount(), 1);
}
