// The push source of the live view: frame segments from the video pane go in through
// SourceCtrl, whole frames leave as samples on the decoding pool's threads, one at a time and
// in order.
#pragma once

#include "media/video/decodepool.h"
#include "media/video/sourcectrl.h"
#include "platform/mediagraph/basefilter.h"
#include "platform/mediagraph/pushsource.h"

#include <vector>

// The queue of the push pin, delivered by a lane of a decoding pool instead of a thread of its
// own.
class CPooledSourcePin : public CPushSourcePin {
public:
    CPooledSourcePin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, CDecodePool* pPool);
    ~CPooledSourcePin() override;

    HRESULT Active() override;
    HRESULT Inactive() override;
    // After a Push: the lane takes the sample.
    void Wake();

private:
    // One sample downstream; true when more wait.
    bool Step();
    void CloseLane();

    CDecodePool* m_pPool;
    std::shared_ptr<CDecodePool::CLane> m_pLane; // while active
    bool m_bDiscontinuity = false;               // the lane's: a sample was lost before the next
};

class CPushSourceFilter : public CBaseFilter, public SourceCtrl {
public:
    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr);

    // Decoding on pPool's threads; the process's pool when null.
    CPushSourceFilter(IUnknown* pUnk, HRESULT* phr, CDecodePool* pPool = nullptr);
    ~CPushSourceFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    HRESULT SetVideoSize(int nWidth, int nHeight) override;
    HRESULT PushData(const BYTE* pData, long nLen, BOOL bFirst) override;
    HRESULT FlushFrame() override;
    HRESULT GetCounts(DWORD* pdwDelivered, DWORD* pdwDropped) override;
    HRESULT SetStreamMode(int nMode) override;
    HRESULT PushDataAt(const BYTE* pData, long nLen, BOOL bFirst, REFERENCE_TIME tArrival) override;
    HRESULT GetDeliveryTime(std::uint64_t* pqwNanoseconds) override;

    // Whether a frame, as the session pushes it (stamp header first for modes 1 and 2), is a
    // key frame: an H.264 IDR or parameter set, an MPEG-4 video object layer or intra VOP.
    static bool IsKeyFrame(const BYTE* pData, std::size_t nLen, int nMode);

private:
    void UpdateOfferedType();
    // Hands the gathered frame to the pin; under m_mutexFrame.
    HRESULT DeliverGathered();

    CCritSec m_lock;
    CPooledSourcePin* m_pPin = nullptr;
    std::mutex m_mutexFrame; // the frame being gathered (pane thread) against Stop
    std::vector<BYTE> m_vFrame;
    bool m_bGathering = false;
    REFERENCE_TIME m_tArrival = 0; // of the gathered frame's latest segment
    int m_nWidth = 720;
    int m_nHeight = 576;
    int m_nMode = 0;
    DWORD m_dwDelivered = 0;
    DWORD m_dwDropped = 0;
};
