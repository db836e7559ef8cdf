// The push source filter's control interface and the class ids of the live-view filters that
// live in this program rather than in a module.
#pragma once

#include "platform/mediagraph/interfaces.h"

#include <chrono>
#include <cstdint>

// {6F0A3D6D-B4EC-47EA-AA81-5D10FF82AD4D}
inline constexpr CLSID CLSID_PushSource = MakeGuid("6F0A3D6D-B4EC-47EA-AA81-5D10FF82AD4D");
inline constexpr IID IID_SourceCtrl = MakeGuid("4F81C1C9-C16B-41F8-BF5F-E283DDD9EE9D");
// The renderer the graph's Render finds by merit for the decoder's RGB32 output.
inline constexpr CLSID CLSID_VistrelVideoRenderer = MakeGuid("7A1E0C52-3B0F-4D6B-9E51-2C6A9D1F0B11");

// Sample times on the live path: when the client received a frame, on a steady clock in
// 100 ns units, so that the renderer can tell how long a frame took to reach the window.
inline REFERENCE_TIME LiveClockNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() /
           100;
}

// Slot order is fixed (callers index the table): 3 SetVideoSize, 4 PushData, 7 SetStreamMode.
struct SourceCtrl : IUnknown {
    // The picture size announced on the output type; set before the graph is rendered.
    virtual HRESULT SetVideoSize(int nWidth, int nHeight) = 0;
    // One segment of a frame, in order; bFirst starts a new frame. A frame goes downstream as
    // one sample when the next one starts.
    virtual HRESULT PushData(const BYTE* pData, long nLen, BOOL bFirst) = 0;
    // Sends the frame being gathered now instead of waiting for the next first segment.
    virtual HRESULT FlushFrame() = 0;
    // Frames given to the output pin and frames it dropped because its queue was full.
    virtual HRESULT GetCounts(DWORD* pdwDelivered, DWORD* pdwDropped) = 0;
    // 0 plain MPEG-4 (XVID), 1 MPEG-4 with stamp header (TSXD), 2 H.264 with stamp header (TSHD).
    virtual HRESULT SetStreamMode(int nMode) = 0;
    // PushData for a segment received at tArrival (LiveClockNow); a frame's sample carries the
    // arrival of its last segment. PushData stamps a segment with the time of the call.
    virtual HRESULT PushDataAt(const BYTE* pData, long nLen, BOOL bFirst, REFERENCE_TIME tArrival) = 0;
    // Time the output pin's thread spent handing frames downstream (decoding and rendering).
    virtual HRESULT GetDeliveryTime(std::uint64_t* pqwNanoseconds) = 0;

protected:
    ~SourceCtrl() = default;
};

// Makes the push source and the video renderer creatable by CoCreateInstance in this process
// and enters the renderer in the filter mapper. Safe to call more than once.
HRESULT RegisterVideoClasses();
