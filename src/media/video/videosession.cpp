#include "media/video/videosession.h"

#include "core/log.h"
#include "filter/izebdecoder.h"
#include "platform/com/comapi.h"
#include "platform/mediagraph/filtergraph.h"
#include "protocol/videosize.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// The running object table: live graphs by item name, so that the log can list them.
std::mutex g_mutexRot;
std::map<std::string, IGraphBuilder*>& RotTable()
{
    static std::map<std::string, IGraphBuilder*> s_table;
    return s_table;
}

std::string RotRegister(IGraphBuilder* pGraph)
{
    char szName[64];
    std::snprintf(szName, sizeof(szName), "FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pGraph)),
                  static_cast<unsigned>(getpid()));
    std::lock_guard lock(g_mutexRot);
    RotTable()[szName] = pGraph;
    VLOG(3, "Running object table: %s registered, %zu live", szName, RotTable().size());
    return szName;
}

void RotRevoke(const std::string& strName)
{
    std::lock_guard lock(g_mutexRot);
    RotTable().erase(strName);
    VLOG(3, "Running object table: %s revoked, %zu live", strName.c_str(), RotTable().size());
}

template <class T> void SafeRelease(T*& p)
{
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

std::uint64_t NsSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

} // namespace

std::vector<std::string> ListRunningGraphs()
{
    std::lock_guard lock(g_mutexRot);
    std::vector<std::string> vNames;
    for (const auto& entry : RotTable())
        vNames.push_back(entry.first);
    return vNames;
}

CVideoSession::CVideoSession(IVideoPresenter* pOwner, IVideoPresenter* pDrain)
    : m_pOwner(pOwner), m_pDrain(pDrain)
{
    RegisterVideoClasses();
}

CVideoSession::~CVideoSession()
{
    EndSession();
}

int CVideoSession::AddBuffer(VideoBuffer* pBuffer)
{
    const auto start = std::chrono::steady_clock::now();
    // Cameras send every frame whole, marking the ones without codec headers with a non-zero
    // byte here: such a frame with a new sequence is a frame of its own, not the rest of one.
    bool bWholeFrame = false;
    if (m_nSequence != pBuffer->usSequence && pBuffer->bySubSequence != 0) {
        if (m_pSourceCtrl == nullptr || m_nSequence < 0) {
            VLOG(3, "AddBuffer: discard packet, old seq:%d, new seq:%d, subseq:%d", m_nSequence,
                 pBuffer->usSequence, pBuffer->bySubSequence);
            ++m_statsGraph.qwDropped;
            return ADD_DROPPED;
        }
        bWholeFrame = true;
        m_nSequence = pBuffer->usSequence;
        m_nLastSubSeq = pBuffer->bySubSequence - 1;
    }
    int nResult = ADD_DROPPED;
    m_nMode = pBuffer->nMode;
    if (pBuffer->bySubSequence == 0) {
        std::uint32_t nWidth = 720;
        std::uint32_t nHeight = 576;
        const BYTE* pData = pBuffer->pData;
        std::size_t nLen = pBuffer->nLen;
        if (m_nMode > 0) {
            const std::size_t nSkip = nLen > 0 ? pData[0] : 0;
            if (nSkip > nLen) {
                ++m_statsGraph.qwDropped;
                return ADD_DROPPED;
            }
            pData += nSkip;
            nLen -= nSkip;
        }
        const bool bRead = m_nMode == 2 ? videosize::ReadH264Size(pData, nLen, &nWidth, &nHeight)
                                        : videosize::ReadMpeg4Size(pData, nLen, &nWidth, &nHeight);
        // Only key frames carry the size headers: a frame without them keeps the graph it
        // has instead of rebuilding it for the default size.
        if (!bRead && m_pGraph != nullptr) {
            nWidth = m_nWidth;
            nHeight = m_nHeight;
        }
        if (nWidth < VIDEO_MIN_WIDTH || nWidth > VIDEO_MAX_WIDTH || nHeight < VIDEO_MIN_HEIGHT ||
            nHeight > VIDEO_MAX_HEIGHT) {
            VLOG(2, "AddBuffer: picture size %ux%u out of range, frame dropped", nWidth, nHeight);
            ++m_statsGraph.qwDropped;
            return ADD_DROPPED;
        }
        if (nWidth != m_nWidth || nHeight != m_nHeight || m_pGraph == nullptr) {
            // Without a graph (a failed build) every first segment tries again.
            const bool bSizeChanged = nWidth != m_nWidth || nHeight != m_nHeight;
            if (!BuildGraph(m_pOwner, nWidth, nHeight)) {
                VLOG(1, "Create Video Fail");
                ++m_statsGraph.qwDropped;
                return ADD_DROPPED;
            }
            if (bSizeChanged)
                nResult = ADD_REBUILT;
        }
        m_nSequence = pBuffer->usSequence;
        m_nLastSubSeq = -1;
    }
    if (m_pSourceCtrl != nullptr && pBuffer->bySubSequence == m_nLastSubSeq + 1) {
        const bool bFirst = pBuffer->bySubSequence == 0 || bWholeFrame;
        m_pSourceCtrl->PushDataAt(pBuffer->pData, static_cast<long>(pBuffer->nLen), bFirst ? TRUE : FALSE,
                                  pBuffer->tArrival != 0 ? pBuffer->tArrival : LiveClockNow());
        if (bFirst)
            ++m_statsGraph.qwPushed;
        m_nLastSubSeq = pBuffer->bySubSequence;
        if (nResult == ADD_DROPPED)
            nResult = ADD_PUSHED;
    }
    pBuffer->nWidth = m_nWidth;
    pBuffer->nHeight = m_nHeight;
    FollowShownWidth();
    m_statsGraph.qwPushNs += NsSince(start);
    return nResult;
}

void CVideoSession::FollowShownWidth()
{
    if (m_pDecoderView == nullptr || m_pOwner == nullptr)
        return;
    int nWidth = 0;
    int nHeight = 0;
    m_pOwner->GetTargetSize(static_cast<int>(m_nWidth), static_cast<int>(m_nHeight), &nWidth, &nHeight);
    // Told only when it changes: the decoder takes it between two pictures.
    const int nScale = m_pOwner->ScalePercent();
    if (nWidth != m_nShownWidth || nScale != m_nShownScale) {
        m_nShownWidth = nWidth;
        m_nShownScale = nScale;
        m_pDecoderView->SetShownWidth(nWidth, nScale);
    }
}

void CVideoSession::FlushFrame()
{
    if (m_pSourceCtrl != nullptr)
        m_pSourceCtrl->FlushFrame();
}

bool CVideoSession::BuildGraph(IVideoPresenter* pOwner, DWORD nWidth, DWORD nHeight)
{
    EndSession();
    m_pOwner = pOwner;
    if (!BuildGraphInner(pOwner, nWidth, nHeight)) {
        EndSession();
        return false;
    }
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    ++m_statsGraph.qwBuilds;
    return true;
}

bool CVideoSession::BuildGraphInner(IVideoPresenter* pOwner, DWORD nWidth, DWORD nHeight)
{
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&m_pGraph));
    if (FAILED(hr)) {
        VLOG(1, "can't create filter graph, Error=%d", static_cast<int>(hr));
        return false;
    }
    m_strRotName = RotRegister(m_pGraph);

    if (FAILED(CoCreateInstance(CLSID_PushSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&m_pSourceFilter)))) {
        VLOG(1, "Can't create source filter");
        return false;
    }
    if (FAILED(m_pSourceFilter->QueryInterface(IID_SourceCtrl, reinterpret_cast<void**>(&m_pSourceCtrl)))) {
        VLOG(1, "Can't get SourceCtrl interface");
        return false;
    }
    m_pSourceCtrl->SetVideoSize(static_cast<int>(nWidth), static_cast<int>(nHeight));
    if (m_nMode > 0)
        m_pSourceCtrl->SetStreamMode(m_nMode == 1 ? 1 : 2);
    if (FAILED(m_pGraph->AddFilter(m_pSourceFilter, u"Source"))) {
        VLOG(1, "fail to add source filter to graph");
        return false;
    }

    m_bDecoderMissing =
        FAILED(CoCreateInstance(CLSID_ZebDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&m_pDecoderFilter)));
    if (m_bDecoderMissing) {
        VLOG(1, "Can't create decode filter");
        return false;
    }
    if (FAILED(m_pGraph->AddFilter(m_pDecoderFilter, u"xvid"))) {
        VLOG(1, "fail to add decode filter to graph");
        return false;
    }
    if (FAILED(m_pDecoderFilter->QueryInterface(IID_IZEBDecoder, reinterpret_cast<void**>(&m_pDecoder)))) {
        m_pDecoder = nullptr;
        VLOG(1, "Can't get decoder interface");
    }
    // Optional: a decoder without it sizes its texts by the picture alone.
    if (FAILED(
            m_pDecoderFilter->QueryInterface(IID_IZEBDecoderView, reinterpret_cast<void**>(&m_pDecoderView))))
        m_pDecoderView = nullptr;
    m_nShownWidth = -1;
    VLOG(3, "AddAndConfigFilters successfully");

    IEnumPins* pEnum = nullptr;
    if (FAILED(m_pSourceFilter->EnumPins(&pEnum)) || pEnum == nullptr) {
        VLOG(1, "Enum output pins failed...\n");
        return false;
    }
    IPin* pOut = nullptr;
    IPin* pPin = nullptr;
    ULONG cFetched = 0;
    while (pOut == nullptr && pEnum->Next(1, &pPin, &cFetched) == S_OK && cFetched == 1) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        if (SUCCEEDED(pPin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT)
            pOut = pPin;
        else
            pPin->Release();
    }
    pEnum->Release();
    if (pOut == nullptr) {
        VLOG(1, "Can't Get the output pin...\n");
        return false;
    }
    VLOG(3, "CVideoSession::Before render");
    hr = m_pGraph->Render(pOut);
    pOut->Release();
    if (FAILED(hr)) {
        VLOG(1, "Render output pin failed, Reason %x", static_cast<unsigned>(hr));
        return false;
    }
    VLOG(3, "Render successfully");

    if (FAILED(m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pMediaControl)))) {
        VLOG(1, "can't get media control interface");
        return false;
    }
    if (FAILED(m_pGraph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&m_pVideoWindow)))) {
        VLOG(1, "can't get video window interface");
        return false;
    }
    m_pVideoWindow->put_Visible(OAFALSE);
    m_pVideoWindow->put_Owner(PresenterHandle(pOwner));
    m_pVideoWindow->put_WindowStyle(0x46000000); // child, clip siblings, clip children
    m_pVideoWindow->put_MessageDrain(PresenterHandle(m_pDrain != nullptr ? m_pDrain : pOwner));
    m_pVideoWindow->put_Visible(OATRUE);
    if (FAILED(m_pGraph->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&m_pBasicVideo))))
        m_pBasicVideo = nullptr;
    // Our own renderer's counters, when Render picked it.
    IBaseFilter* pRendererFilter = nullptr;
    if (SUCCEEDED(
            m_pVideoWindow->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&pRendererFilter)))) {
        CLSID clsid{};
        if (SUCCEEDED(pRendererFilter->GetClassID(&clsid)) && clsid == CLSID_VistrelVideoRenderer)
            m_pRenderer = static_cast<CVideoRenderer*>(pRendererFilter);
        pRendererFilter->Release();
    }

    if (FAILED(m_pMediaControl->Run())) {
        VLOG(1, "Run the graph failed...\n");
        return false;
    }
    SetVideoPosition(m_bHasRelative ? &m_rcRelative : nullptr);
    if (m_pDecoder != nullptr)
        m_pDecoder->SetColorAdjust(m_anColor[0], m_anColor[1], m_anColor[2], m_anColor[3]);
    m_bRunning = true;
    return true;
}

void CVideoSession::EndSession()
{
    if (m_pGraph == nullptr && m_pSourceFilter == nullptr) {
        m_bRunning = false;
        return;
    }
    try {
        if (!m_strRotName.empty()) {
            RotRevoke(m_strRotName);
            m_strRotName.clear();
        }
        if (m_pMediaControl != nullptr) {
            m_pMediaControl->Stop();
            for (int i = 0; i < 20; ++i) {
                OAFilterState state = State_Running;
                const HRESULT hr = m_pMediaControl->GetState(100, &state);
                VLOG(4, "GetState: Stop Session");
                if (FAILED(hr) || state == State_Stopped)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        AccumulateGraphStats();
        ReleaseAll();
    } catch (...) {
        VLOG(1, "CVideoSession::EndSession: exception on the way");
    }
    m_bRunning = false;
    m_nWidth = 0;
    m_nHeight = 0;
    VLOG(3, "CVideoSession::EndSession");
}

void CVideoSession::AccumulateGraphStats()
{
    m_stats.qwPushed += m_statsGraph.qwPushed;
    m_stats.qwDropped += m_statsGraph.qwDropped;
    m_stats.qwPushNs += m_statsGraph.qwPushNs;
    m_stats.qwBuilds += m_statsGraph.qwBuilds;
    if (m_pSourceCtrl != nullptr) {
        DWORD dwDelivered = 0;
        DWORD dwDropped = 0;
        m_pSourceCtrl->GetCounts(&dwDelivered, &dwDropped);
        m_stats.qwDropped += dwDropped;
    }
    AddGraphTimes(&m_stats);
    if (m_pRenderer != nullptr) {
        std::uint64_t qwMax = 0;
        std::uint64_t qwKeyMax = 0;
        m_pRenderer->TakeLatencyPeaks(&qwMax, &qwKeyMax);
        m_qwPeakNs = std::max(m_qwPeakNs, qwMax);
        m_qwKeyPeakNs = std::max(m_qwKeyPeakNs, qwKeyMax);
    }
    m_statsGraph = Stats{};
}

void CVideoSession::AddGraphTimes(Stats* pStats) const
{
    if (m_pRenderer == nullptr)
        return;
    const std::uint64_t qwRenderNs = m_pRenderer->RenderNanoseconds();
    pStats->qwRendered += m_pRenderer->FramesRendered();
    pStats->qwRenderNs += qwRenderNs;
    std::uint64_t qwDeliverNs = 0;
    if (m_pSourceCtrl != nullptr && SUCCEEDED(m_pSourceCtrl->GetDeliveryTime(&qwDeliverNs)))
        pStats->qwDecodeNs += qwDeliverNs - std::min(qwDeliverNs, qwRenderNs);
    const CVideoRenderer::Latency latency = m_pRenderer->GetLatency();
    pStats->qwTimed += latency.qwFrames;
    pStats->qwLatencyNs += latency.qwNs;
    pStats->qwKeyTimed += latency.qwKeyFrames;
    pStats->qwKeyLatencyNs += latency.qwKeyNs;
    pStats->qwKeyLatencyMaxNs = std::max(pStats->qwKeyLatencyMaxNs, latency.qwKeyMaxNs);
}

void CVideoSession::TakeLatencyPeaks(std::uint64_t* pqwMaxNs, std::uint64_t* pqwKeyMaxNs)
{
    std::uint64_t qwMax = 0;
    std::uint64_t qwKeyMax = 0;
    if (m_pRenderer != nullptr)
        m_pRenderer->TakeLatencyPeaks(&qwMax, &qwKeyMax);
    *pqwMaxNs = std::max(std::exchange(m_qwPeakNs, 0), qwMax);
    *pqwKeyMaxNs = std::max(std::exchange(m_qwKeyPeakNs, 0), qwKeyMax);
}

CVideoSession::Stats CVideoSession::GetStats() const
{
    Stats stats = m_stats;
    stats.qwPushed += m_statsGraph.qwPushed;
    stats.qwDropped += m_statsGraph.qwDropped;
    stats.qwPushNs += m_statsGraph.qwPushNs;
    stats.qwBuilds += m_statsGraph.qwBuilds;
    if (m_pSourceCtrl != nullptr) {
        DWORD dwDelivered = 0;
        DWORD dwDropped = 0;
        m_pSourceCtrl->GetCounts(&dwDelivered, &dwDropped);
        stats.qwDropped += dwDropped;
    }
    AddGraphTimes(&stats);
    return stats;
}

void CVideoSession::ReleaseAll()
{
    SafeRelease(m_pMediaControl);
    SafeRelease(m_pSourceCtrl);
    SafeRelease(m_pDecoder);
    SafeRelease(m_pDecoderView);
    if (m_pSourceFilter != nullptr) {
        if (m_pGraph != nullptr)
            m_pGraph->RemoveFilter(m_pSourceFilter);
        SafeRelease(m_pSourceFilter);
    }
    if (m_pVideoWindow != nullptr) {
        m_pVideoWindow->put_Visible(OAFALSE);
        m_pVideoWindow->put_Owner(0);
        SafeRelease(m_pVideoWindow);
    }
    m_pRenderer = nullptr;
    SafeRelease(m_pBasicVideo);
    SafeRelease(m_pDecoderFilter);
    SafeRelease(m_pGraph);
}

void CVideoSession::SetColorAdjust(int nBrightness, int nContrast, int nHue, int nSaturation)
{
    m_anColor[0] = nBrightness;
    m_anColor[1] = nContrast;
    m_anColor[2] = nHue;
    m_anColor[3] = nSaturation;
    if (m_pDecoder != nullptr)
        m_pDecoder->SetColorAdjust(nBrightness, nContrast, nHue, nSaturation);
}

void CVideoSession::SetVideoPosition(const RECT* prcRelative)
{
    if (prcRelative != nullptr) {
        m_bHasRelative = true;
        m_rcRelative = *prcRelative;
    }
    if (m_pVideoWindow == nullptr)
        return;
    long nClientW = static_cast<long>(m_nWidth);
    long nClientH = static_cast<long>(m_nHeight);
    if (m_pOwner != nullptr)
        m_pOwner->GetClientSize(&nClientW, &nClientH);
    long nLeft = 0;
    long nTop = 0;
    long nWidth = nClientW;
    long nHeight = nClientH;
    if (prcRelative != nullptr) {
        nLeft = nClientW * prcRelative->left / 10000;
        nTop = nClientH * prcRelative->top / 10000;
        nWidth = nClientW * (prcRelative->right - prcRelative->left) / 10000;
        nHeight = nClientH * (prcRelative->bottom - prcRelative->top) / 10000;
    }
    VLOG(4, "Video Position: l=%ld,t=%ld, w=%ld, h=%ld", nLeft, nTop, nWidth, nHeight);
    m_pVideoWindow->SetWindowPosition(nLeft, nTop, nWidth, nHeight);
    if (m_pBasicVideo != nullptr)
        m_pBasicVideo->SetDestinationPosition(0, 0, nWidth, nHeight);
}

bool CVideoSession::SetFullScreen(bool bFullScreen)
{
    if (m_pVideoWindow == nullptr)
        return false;
    const bool bOld = m_bFullScreen;
    m_bFullScreen = bFullScreen;
    if (FAILED(m_pVideoWindow->put_FullScreenMode(bFullScreen ? OATRUE : OAFALSE))) {
        m_bFullScreen = bOld;
        return false;
    }
    return true;
}

bool CVideoSession::Snapshot(const char* pszPath)
{
    if (m_pDecoder == nullptr)
        return false;
    return m_pDecoder->SaveSnapshot(pszPath) != 0;
}
