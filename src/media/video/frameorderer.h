// One camera's media frames put back in number order before they are used.
//
// The socket layer hands out a frame as soon as its last segment is in, so a frame whose
// segment was held up by the network completes after newer ones. Handed on as they complete,
// the older frame would be refused as old and the decoder would lose a reference. Frames that
// complete after a gap wait here for the missing number: until it arrives, or until their wait
// is over (it is lost), and then go on in order. The wait follows how late frames have been
// coming: it starts long enough for a frame held up by a burst of the network, shrinks to two
// frame intervals while nothing comes late, and never exceeds kMaxWaitMs. A number already
// handed on (a repeated frame) is dropped; the later segments of the frame handed on last
// (numbered by their sub-sequence) still go on.
#pragma once

#include "platform/mediagraph/interfaces.h"
#include "protocol/engmedia.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class CFrameOrderer {
public:
    static constexpr DWORD kMaxWaitMs = 300;
    static constexpr DWORD kInitialLatenessMs = 160;
    // Beyond this many numbers away a frame starts the stream anew (a camera that restarted, a
    // playback started again); repeats and late frames come within a few dozen.
    static constexpr std::int64_t kRestartSpan = 256;
    // Frames and bytes held at most; past them the oldest gap is given up at once.
    static constexpr std::size_t kMaxHeldFrames = 128;
    static constexpr std::size_t kMaxHeldBytes = 16u << 20;
    static constexpr DWORD kNothingHeld = 0xFFFFFFFF;
    // Buffers of frames handed on are kept for the next ones, a few of them and only those no
    // larger than this: the buffer that carried a key frame would stay that large, and the few
    // kept would grow over hours towards kMaxSpare key frames a camera.
    static constexpr std::size_t kMaxSpare = 8;
    static constexpr std::size_t kMaxSpareBytes = 64u << 10;

    struct Frame {
        MediaFrame frame; // pData points into vData
        std::vector<BYTE> vData;
        DWORD dwArrival = 0;         // tick count when it reached the orderer
        REFERENCE_TIME tArrival = 0; // the caller's own time stamp, handed back unchanged
        DWORD dwGatherUs = 0;
        std::int64_t llSequence = 0; // the number unwrapped past 65535
    };
    using Sink = std::function<void(Frame&)>;

    // Takes a copy of the frame's bytes. False when it was dropped: its number was already
    // handed on or is held (a repeat), or it came after its wait was given up.
    bool Push(const MediaFrame& frame, DWORD dwNow, REFERENCE_TIME tArrival = 0, DWORD dwGatherUs = 0);
    // Hands on, in number order, every frame that need not wait (any longer).
    void Release(DWORD dwNow, const Sink& sink);
    // Hands on everything held, gaps and all (the stream ends).
    void ReleaseAll(const Sink& sink);
    // Milliseconds until a held frame's wait is over; 0 when one is due now, kNothingHeld when
    // nothing is held.
    DWORD TimeToNextRelease(DWORD dwNow) const;
    // Forgets the numbering: the next frame starts the stream wherever it is.
    void Reset();

    std::size_t Held() const { return m_held.size(); }
    // What the buffers kept for later hold.
    std::size_t SpareBytes() const;
    DWORD WaitMs() const;

    struct Counters {
        std::uint64_t qwReordered = 0; // came after a newer one and were put back in order
        std::uint64_t qwRepeated = 0;  // a number already handed on or held
        std::uint64_t qwLate = 0;      // came after their wait was given up
        std::uint64_t qwSkipped = 0;   // numbers given up as lost
    };
    const Counters& GetCounters() const { return m_counters; }

private:
    // Held frames go by number, the segments of one number by their sub-sequence.
    static bool Before(const Frame& held, std::int64_t llSeq, BYTE bySub);
    void Emit(Frame& frame, const Sink& sink);
    void Decay(DWORD dwNow);
    void ObserveLateness(DWORD dwMs);
    std::vector<BYTE> TakeBuffer();
    void KeepBuffer(std::vector<BYTE>&& vData);

    std::deque<Frame> m_held; // by number, lowest first
    std::size_t m_nHeldBytes = 0;
    bool m_bStarted = false;
    std::int64_t m_llNext = 0;   // the number handed on next, unwrapped
    std::int64_t m_llNewest = 0; // the highest number seen
    BYTE m_byLastSub = 0;        // sub-sequence of the segment handed on last
    bool m_bReleased = false;    // something was handed on since the start
    // Gaps given up, so that a frame arriving after its wait still tells how late it was.
    struct GivenUp {
        std::int64_t llFirst = 0;
        std::int64_t llLast = 0;
        DWORD dwSince = 0;
    };
    std::deque<GivenUp> m_givenUp;
    double m_dLatenessMs = kInitialLatenessMs;
    DWORD m_dwLastDecay = 0;
    bool m_bDecayStarted = false;
    double m_dIntervalMs = 40.0; // video frames' spacing
    DWORD m_dwLastVideo = 0;
    bool m_bHaveVideo = false;
    std::vector<std::vector<BYTE>> m_vSpare; // buffers of frames handed on, for reuse
    Counters m_counters;
};
