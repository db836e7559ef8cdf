#include "stream/rtspbridge.h"

#include "core/log.h"
#include "media/audio/audiocodec.h"
#include "media/video/frameorderer.h"
#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "protocol/engmedia.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr UINT WM_BRIDGE_EVENTS = WM_APP + 0x230;
constexpr UINT_PTR TIMER_LEASES = 1;
const char* const kWindowClass = "VistrelRtspBridge";
const char* const kRole = "viewer";
const char* const DIGEST_REALM = "Vistrel";
// A DESCRIBE holds the camera this long after its wait, until the media it makes holds it.
constexpr DWORD DESCRIBE_LEASE_EXTRA_MS = 3000;
// After a key frame, audio is waited for this long before the SDP goes out without it.
constexpr auto AUDIO_GRACE = std::chrono::milliseconds(600);
// A camera clock further than this from arrival is taken again (a camera that set its clock).
constexpr GstClockTimeDiff RESYNC = 2 * GST_SECOND;
// Decoded audio of one frame at most (the cameras send three 20 ms GSM blocks).
constexpr int PCM_MAX = 32768;
// What a stream's queue holds before frames are dropped: seconds of a busy camera.
constexpr guint64 VIDEO_QUEUE_BYTES = 8000000;
constexpr guint64 AUDIO_QUEUE_BYTES = 200000;

// The camera's own video, its parameter sets in band at every key frame; audio as PCMU.
std::string LaunchLine(DWORD nCodec, bool bAudio)
{
    const char* const pszSrc = "appsrc name=vsrc is-live=true format=time do-timestamp=true block=false ";
    std::string strLine = "( ";
    strLine += pszSrc;
    if (nCodec == MEDIA_CODEC_MPEG4)
        strLine +=
            "caps=\"video/mpeg,mpegversion=4,systemstream=false\" ! mpeg4videoparse config-interval=-1 ! "
            "rtpmp4vpay name=pay0 pt=96 config-interval=-1";
    else
        // The parser puts the parameter sets in front of a key frame only where the camera did
        // not (the payloader would repeat them at every key frame, and the frames the clients
        // get would no longer be the camera's).
        strLine += "caps=\"video/x-h264,stream-format=byte-stream,alignment=au\" ! "
                   "h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96";
    if (bAudio)
        strLine += " appsrc name=asrc is-live=true format=time do-timestamp=true block=false "
                   "caps=\"audio/x-mulaw,rate=8000,channels=1\" ! rtppcmupay name=pay1 pt=0";
    return strLine + " )";
}

// The media's packets go out as they come, paced by the camera: a sink that synchronises on the
// clock holds each one for the pipeline's latency, one more sleep and wake of the stream's
// thread per packet (its clients' sinks are made when they set up their transports).
void OnMediaElementAdded(GstBin*, GstBin*, GstElement* pElement, gpointer)
{
    GstElementFactory* pFactory = gst_element_get_factory(pElement);
    if (pFactory == nullptr)
        return;
    const std::string_view strName = GST_OBJECT_NAME(pFactory);
    if (strName == "multiudpsink" || strName == "appsink")
        g_object_set(pElement, "sync", FALSE, nullptr);
}

// A stream's thread wakes for every frame the GUI thread hands it, while the GUI thread still
// holds the source's lock: as an ordinary thread it took the CPU from the GUI thread at once, only
// to wait for that lock, and the GUI thread had to run again to let it go (two more switches per
// frame). A batch thread runs at the waker's next sleep, or on a free CPU. GStreamer's pool keeps
// the thread for later tasks, all of them this bridge's streams.
GstPadProbeReturn OnFirstStreamBuffer(GstPad*, GstPadProbeInfo*, gpointer)
{
    const sched_param param{};
    if (const int nError = pthread_setschedparam(pthread_self(), SCHED_BATCH, &param); nError != 0)
        VLOG(2, "CRtspBridge: stream thread stays as it is: %s", std::strerror(nError));
    return GST_PAD_PROBE_REMOVE;
}

void WatchStreamThread(GstAppSrc* pSource)
{
    if (pSource == nullptr)
        return;
    if (GstPad* pPad = gst_element_get_static_pad(GST_ELEMENT(pSource), "src")) {
        gst_pad_add_probe(pPad, GST_PAD_PROBE_TYPE_BUFFER, &OnFirstStreamBuffer, nullptr, nullptr);
        gst_object_unref(pPad);
    }
}

// The server takes a password's hash only from an htdigest file: one in memory, never on disk.
bool AddDigestHash(GstRTSPAuth* pAuth, const std::string& strUser, const std::string& strHash,
                   GstRTSPToken* pToken)
{
    if (strHash.size() != 32 || strUser.find_first_of(":\n") != std::string::npos)
        return false;
    const int nFd = memfd_create("vistrel-htdigest", MFD_CLOEXEC);
    if (nFd < 0)
        return false;
    const std::string strLine = strUser + ":" + DIGEST_REALM + ":" + strHash + "\n";
    const bool bWritten =
        ::write(nFd, strLine.data(), strLine.size()) == static_cast<ssize_t>(strLine.size());
    const std::string strPath = "/proc/self/fd/" + std::to_string(nFd);
    const bool bParsed = bWritten && gst_rtsp_auth_parse_htdigest(pAuth, strPath.c_str(), pToken);
    ::close(nFd);
    return bParsed;
}

} // namespace

std::string RtspDigestHash(const std::string& strUser, const std::string& strPassword)
{
    const std::string strText = strUser + ":" + DIGEST_REALM + ":" + strPassword;
    gchar* pszHash =
        g_compute_checksum_for_string(G_CHECKSUM_MD5, strText.c_str(), static_cast<gssize>(strText.size()));
    std::string strHash = pszHash != nullptr ? pszHash : "";
    g_free(pszHash);
    return strHash;
}

const char* RtspEventName(RtspEvent enEvent)
{
    switch (enEvent) {
    case RtspEvent::Offered:
        return "offered";
    case RtspEvent::Lost:
        return "lost";
    case RtspEvent::Playing:
        return "playing";
    case RtspEvent::Left:
        return "left";
    case RtspEvent::StreamStarted:
        return "stream_started";
    case RtspEvent::StreamStopped:
        return "stream_stopped";
    case RtspEvent::AuthFailed:
        return "auth_failed";
    }
    return "?";
}

// One prepared media of a camera (one client's): where its frames go.
struct Sink {
    GstRTSPMedia* pMedia = nullptr; // not owned: the entry goes when the media does
    GstAppSrc* pVideo = nullptr;
    GstAppSrc* pAudio = nullptr;
    // Video starts at a key frame, which carries the parameter sets.
    bool bGotKey = false;
    bool bMapped = false;
    GstClockTimeDiff llOffset = 0; // running time minus camera time
    GstClockTime tLastVideo = GST_CLOCK_TIME_NONE;
    GstClockTime tAudioNext = GST_CLOCK_TIME_NONE;
    ~Sink()
    {
        if (pVideo != nullptr)
            gst_object_unref(pVideo);
        if (pAudio != nullptr)
            gst_object_unref(pAudio);
    }
};

struct Camera {
    DWORD dwID = 0;
    std::string strPath;
    GstRTSPMediaFactory* pFactory = nullptr; // our reference
    bool bMounted = false;
    // Learnt from the stream: a DESCRIBE needs them for the SDP.
    bool bCodecKnown = false;
    DWORD nCodec = MEDIA_CODEC_H264;
    bool bAudio = false;
    std::chrono::steady_clock::time_point keyAt;
    std::vector<std::unique_ptr<Sink>> vecSinks;
    // GUI thread only: frames in number order, each once, as a decoder downstream needs them
    // (the network repeats and reorders them).
    CFrameOrderer orderer;
    // GUI thread only: GSM in, mu-law out.
    std::unique_ptr<CAudioCodec> pGsm;
    std::unique_ptr<CAudioCodec> pUlaw;
    int nUsers = 0;
};

struct CRtspBridge::Impl {
    enum class Kind { Use, Lease, LeaseEnd, Unuse, Report };
    struct Event {
        Kind enKind;
        DWORD dwID = 0;
        RtspEvent enEvent = RtspEvent::Offered;
        std::string strPath, strPeer, strDetail;
    };

    IRtspBridgeHost& host;
    HWND hWnd = nullptr;
    RtspBridgeConfig config;

    mutable std::mutex mutex; // cameras and their sinks: GUI, server and client threads
    std::condition_variable cond;
    std::map<DWORD, std::unique_ptr<Camera>> mapCameras;

    std::mutex eventMutex;
    std::deque<Event> events;
    // GUI thread: DESCRIBE holds and when they end.
    std::vector<std::pair<DWORD, DWORD>> vecLeases;

    GMainContext* pContext = nullptr;
    GMainLoop* pLoop = nullptr;
    GstRTSPServer* pServer = nullptr;
    std::thread thread;
    std::atomic<std::uint64_t> qwDropped{0};
    // Medias whose end we watch (under mutex); what is left of them forgets us at Stop.
    std::set<GstRTSPMedia*> setWatched;
    // Every client connected (under mutex): at Stop, also those the server no longer lists (a
    // vanished one whose session timed out) are closed, so that their threads end.
    std::vector<std::unique_ptr<GWeakRef, void (*)(GWeakRef*)>> vecClients;

    explicit Impl(IRtspBridgeHost& h) : host(h) {}

    Camera* FindByPath(const std::string& strPath)
    {
        for (auto& [dwID, pCamera] : mapCameras)
            if (pCamera->strPath == strPath)
                return pCamera.get();
        return nullptr;
    }
    Camera* FindByFactory(GstRTSPMediaFactory* pFactory)
    {
        for (auto& [dwID, pCamera] : mapCameras)
            if (pCamera->pFactory == pFactory)
                return pCamera.get();
        return nullptr;
    }

    // Any thread; the GUI thread handles it from its loop.
    void Post(Event event)
    {
        {
            std::lock_guard lock(eventMutex);
            events.push_back(std::move(event));
        }
        PostMessage(hWnd, WM_BRIDGE_EVENTS, 0, 0);
    }
    void Report(RtspEvent enEvent, const std::string& strPath, const std::string& strPeer = {},
                const std::string& strDetail = {})
    {
        Post({Kind::Report, 0, enEvent, strPath, strPeer, strDetail});
    }

    void DrainEvents();
    // The server, its loop and its context go; the next start makes them anew.
    void ReleaseServer()
    {
        g_object_unref(pServer);
        pServer = nullptr;
        g_main_loop_unref(pLoop);
        g_main_context_unref(pContext);
        pLoop = nullptr;
        pContext = nullptr;
    }
    void Use(DWORD dwID, int nDelta);
    void ExpireLeases(bool bAll);
    void Deliver(Camera& camera, DWORD dwNow);
    void PushVideo(Camera& camera, const MediaFrame& frame);
    void PushAudio(Camera& camera, const MediaFrame& frame);
    void RemoveSink(GstRTSPMedia* pMedia);
    // Server thread: ends the sessions and closes the clients that play one of these medias.
    void Kick(const std::set<GstRTSPMedia*>& setMedia, bool bAll);

    static LRESULT WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static void OnClientConnected(GstRTSPServer* pServer, GstRTSPClient* pClient, gpointer pData);
    static GstRTSPStatusCode OnPreDescribe(GstRTSPClient* pClient, GstRTSPContext* pCtx, gpointer pData);
    static void OnMediaConfigure(GstRTSPMediaFactory* pFactory, GstRTSPMedia* pMedia, gpointer pData);
    static void OnUnprepared(GstRTSPMedia* pMedia, gpointer pData);
    static void OnMediaGone(gpointer pData, GObject* pGone);
    static void OnPlay(GstRTSPClient* pClient, GstRTSPContext* pCtx, gpointer pData);
    static void OnTeardown(GstRTSPClient* pClient, GstRTSPContext* pCtx, gpointer pData);
    static void OnClosed(GstRTSPClient* pClient, gpointer pData);
    static void OnNewSession(GstRTSPClient* pClient, GstRTSPSession* pSession, gpointer pData);
    static void OnSendMessage(GstRTSPClient* pClient, GstRTSPContext* pCtx, GstRTSPMessage* pMessage,
                              gpointer pData);
    static gboolean OnCleanup(gpointer pData);
};

namespace {

std::string PeerOf(GstRTSPClient* pClient)
{
    GstRTSPConnection* pConnection = gst_rtsp_client_get_connection(pClient);
    const gchar* pszIp = pConnection != nullptr ? gst_rtsp_connection_get_ip(pConnection) : nullptr;
    return pszIp != nullptr ? pszIp : "";
}

// The mount a request is for: "/VS0001" of ".../VS0001/stream=0".
std::string MountOf(const GstRTSPContext* pCtx)
{
    if (pCtx == nullptr || pCtx->uri == nullptr || pCtx->uri->abspath == nullptr)
        return {};
    std::string strPath = pCtx->uri->abspath;
    const std::size_t nSlash = strPath.find('/', 1);
    return nSlash == std::string::npos ? strPath : strPath.substr(0, nSlash);
}

// The paths a client plays, so that its leaving is told once per path.
std::set<std::string>& PlayedBy(GstRTSPClient* pClient)
{
    auto* pSet = static_cast<std::set<std::string>*>(g_object_get_data(G_OBJECT(pClient), "vistrel-played"));
    if (pSet == nullptr) {
        pSet = new std::set<std::string>;
        g_object_set_data_full(G_OBJECT(pClient), "vistrel-played", pSet,
                               [](gpointer p) { delete static_cast<std::set<std::string>*>(p); });
    }
    return *pSet;
}

// The running time of the sink's pipeline now; NONE before it has a clock.
GstClockTime RunningTime(GstAppSrc* pSrc)
{
    GstClock* pClock = gst_element_get_clock(GST_ELEMENT(pSrc));
    if (pClock == nullptr)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime tNow = gst_clock_get_time(pClock);
    gst_object_unref(pClock);
    const GstClockTime tBase = gst_element_get_base_time(GST_ELEMENT(pSrc));
    return tNow >= tBase ? tNow - tBase : 0;
}

} // namespace

CRtspBridge::CRtspBridge(IRtspBridgeHost& host) : m_pImpl(std::make_unique<Impl>(host))
{
    RegisterWindowClass(kWindowClass, &Impl::WndProc);
    m_pImpl->hWnd = CreateMsgWindow(kWindowClass, "RtspBridge");
    SetWindowUserData(m_pImpl->hWnd, reinterpret_cast<LPARAM>(m_pImpl.get()));
}

CRtspBridge::~CRtspBridge()
{
    Stop();
    DestroyWindow(m_pImpl->hWnd);
    for (auto& [dwID, pCamera] : m_pImpl->mapCameras)
        if (pCamera->pFactory != nullptr)
            g_object_unref(pCamera->pFactory);
}

std::string CRtspBridge::Start(const RtspBridgeConfig& config)
{
    Impl& impl = *m_pImpl;
    GError* pError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &pError)) {
        std::string strWhy = std::string("GStreamer cannot start: ") + (pError ? pError->message : "?");
        g_clear_error(&pError);
        return strWhy;
    }
    for (const char* pszElement :
         {"appsrc", "h264parse", "rtph264pay", "mpeg4videoparse", "rtpmp4vpay", "rtppcmupay"}) {
        GstElementFactory* pFactory = gst_element_factory_find(pszElement);
        if (pFactory == nullptr)
            return std::string("GStreamer has no ") + pszElement + " (install its good and bad plugins)";
        gst_object_unref(pFactory);
    }
    impl.config = config;
    impl.pContext = g_main_context_new();
    impl.pLoop = g_main_loop_new(impl.pContext, FALSE);
    impl.pServer = gst_rtsp_server_new();
    gst_rtsp_server_set_address(impl.pServer, config.strAddress.c_str());
    gst_rtsp_server_set_service(impl.pServer, std::to_string(config.nPort).c_str());
    // A start that fails leaves nothing behind: the next one begins anew.
    auto abandon = [&impl](std::string strWhy) {
        impl.ReleaseServer();
        return strWhy;
    };
    if (!config.strUser.empty()) {
        GstRTSPAuth* pAuth = gst_rtsp_auth_new();
        gst_rtsp_auth_set_supported_methods(pAuth, GST_RTSP_AUTH_DIGEST);
        gst_rtsp_auth_set_realm(pAuth, DIGEST_REALM);
        GstRTSPToken* pToken =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
        const bool bAdded = config.strPasswordHash.empty()
                                ? (gst_rtsp_auth_add_digest(pAuth, config.strUser.c_str(),
                                                            config.strPassword.c_str(), pToken),
                                   true)
                                : AddDigestHash(pAuth, config.strUser, config.strPasswordHash, pToken);
        gst_rtsp_token_unref(pToken);
        if (!bAdded) {
            g_object_unref(pAuth);
            return abandon("the account's password hash cannot be used");
        }
        gst_rtsp_server_set_auth(impl.pServer, pAuth);
        g_object_unref(pAuth);
    }
    // Each client on a thread of its own: a DESCRIBE waiting for a camera blocks no one else.
    GstRTSPThreadPool* pPool = gst_rtsp_server_get_thread_pool(impl.pServer);
    gst_rtsp_thread_pool_set_max_threads(pPool, 64);
    g_object_unref(pPool);
    g_signal_connect(impl.pServer, "client-connected", G_CALLBACK(&Impl::OnClientConnected), &impl);
    if (gst_rtsp_server_attach(impl.pServer, impl.pContext) == 0)
        return abandon("cannot listen on " + config.strAddress + ":" + std::to_string(config.nPort));
    // Sessions whose clients stopped their keep-alives are ended here.
    GSource* pCleanup = g_timeout_source_new_seconds(1);
    g_source_set_callback(pCleanup, &Impl::OnCleanup, &impl, nullptr);
    g_source_attach(pCleanup, impl.pContext);
    g_source_unref(pCleanup);
    impl.thread = std::thread([&impl] { g_main_loop_run(impl.pLoop); });
    SetTimer(impl.hWnd, TIMER_LEASES, 500);
    VLOG(1, "CRtspBridge::Start: listening on %s:%d%s", config.strAddress.c_str(), GetPort(),
         config.strUser.empty() ? "" : " with digest authentication");
    return {};
}

int CRtspBridge::GetPort() const
{
    return m_pImpl->pServer != nullptr ? gst_rtsp_server_get_bound_port(m_pImpl->pServer) : 0;
}

void CRtspBridge::Stop()
{
    Impl& impl = *m_pImpl;
    if (impl.pServer == nullptr)
        return;
    KillTimer(impl.hWnd, TIMER_LEASES);
    // The end of the stream first, so that clients hear it before the connection goes.
    {
        std::lock_guard lock(impl.mutex);
        for (auto& [dwID, pCamera] : impl.mapCameras)
            for (auto& pSink : pCamera->vecSinks) {
                gst_app_src_end_of_stream(pSink->pVideo);
                if (pSink->pAudio != nullptr)
                    gst_app_src_end_of_stream(pSink->pAudio);
            }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    struct Stopping {
        Impl* pImpl;
        std::mutex mutex;
        std::condition_variable cond;
        bool bDone = false;
    } stopping{&impl, {}, {}, false};
    g_main_context_invoke(
        impl.pContext,
        [](gpointer pData) -> gboolean {
            auto* pStopping = static_cast<Stopping*>(pData);
            pStopping->pImpl->Kick({}, true);
            std::lock_guard lock(pStopping->mutex);
            pStopping->bDone = true;
            pStopping->cond.notify_all();
            return G_SOURCE_REMOVE;
        },
        &stopping);
    {
        std::unique_lock lock(stopping.mutex);
        stopping.cond.wait_for(lock, std::chrono::seconds(5), [&] { return stopping.bDone; });
    }
    // Clients the server no longer lists are closed too; their threads then end, which takes a
    // moment (at most two seconds are given).
    std::vector<GstRTSPClient*> vecAlive;
    {
        std::lock_guard lock(impl.mutex);
        for (const auto& pRef : impl.vecClients)
            if (auto* pAlive = static_cast<GObject*>(g_weak_ref_get(pRef.get())))
                vecAlive.push_back(GST_RTSP_CLIENT(pAlive));
    }
    for (GstRTSPClient* pClient : vecAlive) {
        g_signal_handlers_disconnect_by_data(pClient, &impl);
        gst_rtsp_client_close(pClient);
        g_object_unref(pClient);
    }
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard lock(impl.mutex);
        if (std::none_of(impl.vecClients.begin(), impl.vecClients.end(), [](const auto& p) {
                auto* pAlive = static_cast<GObject*>(g_weak_ref_get(p.get()));
                if (pAlive != nullptr)
                    g_object_unref(pAlive);
                return pAlive != nullptr;
            }))
            break;
    }
    g_main_loop_quit(impl.pLoop);
    impl.thread.join();
    // The pool's threads are not waited for: one whose client vanished may keep its loop until
    // the process ends. Nothing of theirs reaches us any more (Kick disconnected the clients).
    {
        std::lock_guard lock(impl.mutex);
        for (auto& [dwID, pCamera] : impl.mapCameras)
            g_signal_handlers_disconnect_by_data(pCamera->pFactory, &impl);
        for (auto& [dwID, pCamera] : impl.mapCameras) {
            if (!pCamera->vecSinks.empty())
                impl.Post({Impl::Kind::Unuse, dwID, RtspEvent::Offered, {}, {}, {}});
            pCamera->vecSinks.clear();
            pCamera->bMounted = false;
        }
        for (GstRTSPMedia* pMedia : impl.setWatched) {
            g_signal_handlers_disconnect_by_data(pMedia, &impl);
            g_object_weak_unref(G_OBJECT(pMedia), &Impl::OnMediaGone, &impl);
        }
        impl.setWatched.clear();
    }
    impl.ReleaseServer();
    impl.DrainEvents();
    impl.ExpireLeases(true);
    VLOG(1, "CRtspBridge::Stop: every session ended");
}

void CRtspBridge::Offer(DWORD dwID, const std::string& strName)
{
    Impl& impl = *m_pImpl;
    if (impl.pServer == nullptr)
        return;
    std::string strPath = "/" + strName;
    {
        std::lock_guard lock(impl.mutex);
        auto& pCamera = impl.mapCameras[dwID];
        if (!pCamera) {
            pCamera = std::make_unique<Camera>();
            pCamera->dwID = dwID;
            pCamera->strPath = strPath;
            pCamera->pFactory = gst_rtsp_media_factory_new();
            // A media of its own for every client: the server sends a shared media's packets to
            // all its clients in turn, so one that stops reading over TCP (a paused player) would
            // hold up every other. The camera still streams once for all of them (Use).
            gst_rtsp_media_factory_set_shared(pCamera->pFactory, FALSE);
            // A client that vanishes ends its own session (time-out), not the others' stream.
            gst_rtsp_media_factory_set_stop_on_disconnect(pCamera->pFactory, FALSE);
            gst_rtsp_media_factory_set_launch(pCamera->pFactory, LaunchLine(MEDIA_CODEC_H264, false).c_str());
            if (!impl.config.strUser.empty())
                gst_rtsp_media_factory_add_role(pCamera->pFactory, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                                G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                                G_TYPE_BOOLEAN, TRUE, nullptr);
            g_signal_connect(pCamera->pFactory, "media-configure", G_CALLBACK(&Impl::OnMediaConfigure),
                             &impl);
        }
        if (pCamera->bMounted)
            return;
        strPath = pCamera->strPath;
        GstRTSPMountPoints* pMounts = gst_rtsp_server_get_mount_points(impl.pServer);
        gst_rtsp_mount_points_add_factory(pMounts, strPath.c_str(),
                                          GST_RTSP_MEDIA_FACTORY(g_object_ref(pCamera->pFactory)));
        g_object_unref(pMounts);
        pCamera->bMounted = true;
    }
    const std::string strHost =
        impl.config.strAddress == "0.0.0.0" ? std::string("HOST") : impl.config.strAddress;
    impl.host.OnRtspEvent(RtspEvent::Offered, strPath, {},
                          "rtsp://" + strHost + ":" + std::to_string(GetPort()) + strPath);
}

bool CRtspBridge::IsOffered(DWORD dwID) const
{
    std::lock_guard lock(m_pImpl->mutex);
    const auto it = m_pImpl->mapCameras.find(dwID);
    return it != m_pImpl->mapCameras.end() && it->second->bMounted;
}

void CRtspBridge::Withdraw(DWORD dwID)
{
    Impl& impl = *m_pImpl;
    if (impl.pServer == nullptr)
        return;
    auto* pMedia = new std::set<GstRTSPMedia*>;
    std::string strPath;
    {
        std::lock_guard lock(impl.mutex);
        const auto it = impl.mapCameras.find(dwID);
        if (it == impl.mapCameras.end() || !it->second->bMounted) {
            delete pMedia;
            return;
        }
        Camera& camera = *it->second;
        strPath = camera.strPath;
        GstRTSPMountPoints* pMounts = gst_rtsp_server_get_mount_points(impl.pServer);
        gst_rtsp_mount_points_remove_factory(pMounts, strPath.c_str());
        g_object_unref(pMounts);
        camera.bMounted = false;
        // It may come back with another stream, numbered from anywhere.
        camera.orderer.Reset();
        camera.bCodecKnown = false;
        camera.bAudio = false;
        for (auto& pSink : camera.vecSinks) {
            gst_app_src_end_of_stream(pSink->pVideo);
            if (pSink->pAudio != nullptr)
                gst_app_src_end_of_stream(pSink->pAudio);
            pMedia->insert(pSink->pMedia);
        }
        impl.cond.notify_all();
    }
    impl.host.OnRtspEvent(RtspEvent::Lost, strPath, {}, {});
    if (pMedia->empty()) {
        delete pMedia;
        return;
    }
    // The end of the stream goes out first; then sessions and connections that stay are closed.
    struct KickData {
        Impl* pImpl;
        std::set<GstRTSPMedia*>* pMedia;
    };
    GSource* pSource = g_timeout_source_new(1000);
    g_source_set_callback(
        pSource,
        [](gpointer pData) -> gboolean {
            auto* pKick = static_cast<KickData*>(pData);
            pKick->pImpl->Kick(*pKick->pMedia, false);
            return G_SOURCE_REMOVE;
        },
        new KickData{&impl, pMedia},
        [](gpointer pData) {
            auto* pKick = static_cast<KickData*>(pData);
            delete pKick->pMedia;
            delete pKick;
        });
    g_source_attach(pSource, impl.pContext);
    g_source_unref(pSource);
}

std::uint64_t CRtspBridge::GetDroppedFrames() const
{
    return m_pImpl->qwDropped.load();
}

void CRtspBridge::PushFrame(const MediaFrame& frame)
{
    Impl& impl = *m_pImpl;
    std::lock_guard lock(impl.mutex);
    const auto it = impl.mapCameras.find(frame.ulCameraID);
    if (it == impl.mapCameras.end() || !it->second->bMounted)
        return;
    const DWORD dwNow = GetTickCount();
    it->second->orderer.Push(frame, dwNow);
    impl.Deliver(*it->second, dwNow);
}

void CRtspBridge::ReleaseDue()
{
    Impl& impl = *m_pImpl;
    std::lock_guard lock(impl.mutex);
    const DWORD dwNow = GetTickCount();
    for (auto& [dwID, pCamera] : impl.mapCameras)
        if (pCamera->bMounted && pCamera->orderer.Held() != 0)
            impl.Deliver(*pCamera, dwNow);
}

void CRtspBridge::Impl::Deliver(Camera& camera, DWORD dwNow)
{
    camera.orderer.Release(dwNow, [&](CFrameOrderer::Frame& held) {
        if (held.frame.nCodec == MEDIA_CODEC_AUDIO)
            PushAudio(camera, held.frame);
        else
            PushVideo(camera, held.frame);
    });
}

void CRtspBridge::Impl::PushVideo(Camera& camera, const MediaFrame& frame)
{
    const BYTE* pData = frame.pData;
    DWORD nLen = frame.nLen;
    GstClockTime tCamera = GST_CLOCK_TIME_NONE;
    // The stamp header is ours, not the codec's; its time is the camera's capture time.
    if (frame.bStamped) {
        if (nLen < 10 || pData[0] < 10 || pData[0] > nLen)
            return;
        DWORD dwSeconds = 0;
        DWORD dwMicros = 0;
        std::memcpy(&dwSeconds, pData + 2, 4);
        std::memcpy(&dwMicros, pData + 6, 4);
        tCamera = dwSeconds * GST_SECOND + (dwMicros % 1000000) * GST_USECOND;
        nLen -= pData[0];
        pData += pData[0];
    }
    if (nLen == 0)
        return;
    const bool bKey = frame.bySubSequence == 0;
    if (bKey && (!camera.bCodecKnown || camera.nCodec != frame.nCodec)) {
        camera.bCodecKnown = true;
        camera.nCodec = frame.nCodec;
        camera.keyAt = std::chrono::steady_clock::now();
        cond.notify_all();
    }
    for (auto& pSink : camera.vecSinks) {
        Sink& sink = *pSink;
        if (!sink.bGotKey && !bKey)
            continue;
        sink.bGotKey = true;
        const GstClockTime tNow = RunningTime(sink.pVideo);
        GstClockTime tPts = GST_CLOCK_TIME_NONE;
        if (GST_CLOCK_TIME_IS_VALID(tNow)) {
            if (GST_CLOCK_TIME_IS_VALID(tCamera)) {
                GstClockTimeDiff llPts = static_cast<GstClockTimeDiff>(tCamera) + sink.llOffset;
                if (!sink.bMapped || GST_CLOCK_DIFF(llPts, static_cast<GstClockTimeDiff>(tNow)) > RESYNC ||
                    GST_CLOCK_DIFF(static_cast<GstClockTimeDiff>(tNow), llPts) > RESYNC) {
                    sink.llOffset =
                        static_cast<GstClockTimeDiff>(tNow) - static_cast<GstClockTimeDiff>(tCamera);
                    sink.bMapped = true;
                    llPts = static_cast<GstClockTimeDiff>(tNow);
                }
                tPts = llPts > 0 ? static_cast<GstClockTime>(llPts) : 0;
            } else {
                tPts = tNow;
            }
            // Never backwards, whatever the camera's clock does.
            if (GST_CLOCK_TIME_IS_VALID(sink.tLastVideo) && tPts <= sink.tLastVideo)
                tPts = sink.tLastVideo + 1;
            sink.tLastVideo = tPts;
        }
        // A media described but never played takes no frames: its queue stays bounded, and it
        // starts again at a key frame when it drains.
        if (gst_app_src_get_current_level_bytes(sink.pVideo) >= VIDEO_QUEUE_BYTES) {
            ++qwDropped;
            sink.bGotKey = false;
            continue;
        }
        GstBuffer* pBuffer = gst_buffer_new_memdup(pData, nLen);
        GST_BUFFER_PTS(pBuffer) = tPts;
        GST_BUFFER_DTS(pBuffer) = tPts;
        if (!bKey)
            GST_BUFFER_FLAG_SET(pBuffer, GST_BUFFER_FLAG_DELTA_UNIT);
        if (gst_app_src_push_buffer(sink.pVideo, pBuffer) != GST_FLOW_OK)
            ++qwDropped;
    }
}

void CRtspBridge::Impl::PushAudio(Camera& camera, const MediaFrame& frame)
{
    if (!camera.bAudio) {
        camera.bAudio = true;
        cond.notify_all();
    }
    bool bWanted = false;
    for (auto& pSink : camera.vecSinks)
        bWanted = bWanted || (pSink->pAudio != nullptr && pSink->bGotKey);
    if (!bWanted)
        return;
    if (!camera.pGsm) {
        camera.pGsm = CreateAudioCodec(AUDIO_CODEC_GSM);
        camera.pUlaw = CreateAudioCodec(AUDIO_CODEC_G711);
        if (!camera.pGsm || !camera.pUlaw || !camera.pGsm->Open(0, 16, CAudioCodec::DIRECTION_DECODE) ||
            !camera.pUlaw->Open(1, 16, CAudioCodec::DIRECTION_ENCODE)) {
            VLOG(1, "CRtspBridge::PushAudio: the audio codecs cannot be opened");
            camera.pGsm.reset();
            return;
        }
    }
    BYTE abPcm[PCM_MAX];
    const int nPcm = camera.pGsm->Decode(frame.pData, abPcm, static_cast<int>(frame.nLen), sizeof(abPcm));
    if (nPcm <= 0) {
        VLOG(2, "CRtspBridge::PushAudio: dropped an audio frame of %u bytes (not GSM)",
             static_cast<unsigned>(frame.nLen));
        return;
    }
    BYTE abUlaw[PCM_MAX / 2];
    const int nUlaw = camera.pUlaw->Encode(abPcm, abUlaw, nPcm, sizeof(abUlaw));
    if (nUlaw <= 0)
        return;
    const GstClockTime tDuration = gst_util_uint64_scale(static_cast<guint64>(nUlaw), GST_SECOND, 8000);
    for (auto& pSink : camera.vecSinks) {
        Sink& sink = *pSink;
        if (sink.pAudio == nullptr || !sink.bGotKey)
            continue;
        // Audio frames carry no time: they follow one another, and take arrival again when the
        // camera paused or sped up.
        const GstClockTime tNow = RunningTime(sink.pAudio);
        GstClockTime tPts = sink.tAudioNext;
        if (GST_CLOCK_TIME_IS_VALID(tNow) &&
            (!GST_CLOCK_TIME_IS_VALID(tPts) || tPts + 200 * GST_MSECOND < tNow ||
             tPts > tNow + 200 * GST_MSECOND))
            tPts = tNow;
        if (GST_CLOCK_TIME_IS_VALID(tPts))
            sink.tAudioNext = tPts + tDuration;
        if (gst_app_src_get_current_level_bytes(sink.pAudio) >= AUDIO_QUEUE_BYTES) {
            ++qwDropped;
            continue;
        }
        GstBuffer* pBuffer = gst_buffer_new_memdup(abUlaw, static_cast<gsize>(nUlaw));
        GST_BUFFER_PTS(pBuffer) = tPts;
        GST_BUFFER_DTS(pBuffer) = tPts;
        GST_BUFFER_DURATION(pBuffer) = tDuration;
        if (gst_app_src_push_buffer(sink.pAudio, pBuffer) != GST_FLOW_OK)
            ++qwDropped;
    }
}

void CRtspBridge::Impl::OnClientConnected(GstRTSPServer*, GstRTSPClient* pClient, gpointer pData)
{
    Impl& impl = *static_cast<Impl*>(pData);
    {
        auto* pRef = new GWeakRef;
        g_weak_ref_init(pRef, pClient);
        std::lock_guard lock(impl.mutex);
        std::erase_if(impl.vecClients, [](const auto& p) {
            auto* pAlive = static_cast<GObject*>(g_weak_ref_get(p.get()));
            if (pAlive != nullptr)
                g_object_unref(pAlive);
            return pAlive == nullptr;
        });
        impl.vecClients.emplace_back(pRef, [](GWeakRef* p) {
            g_weak_ref_clear(p);
            delete p;
        });
    }
    g_signal_connect(pClient, "pre-describe-request", G_CALLBACK(&Impl::OnPreDescribe), pData);
    g_signal_connect(pClient, "play-request", G_CALLBACK(&Impl::OnPlay), pData);
    g_signal_connect(pClient, "teardown-request", G_CALLBACK(&Impl::OnTeardown), pData);
    g_signal_connect(pClient, "closed", G_CALLBACK(&Impl::OnClosed), pData);
    g_signal_connect(pClient, "new-session", G_CALLBACK(&Impl::OnNewSession), pData);
    g_signal_connect(pClient, "send-message", G_CALLBACK(&Impl::OnSendMessage), pData);
}

// Client thread, after the credentials were checked: the camera is asked for its stream, and the
// DESCRIBE waits until its codec is known (and whether it sends audio), which the SDP needs.
GstRTSPStatusCode CRtspBridge::Impl::OnPreDescribe(GstRTSPClient*, GstRTSPContext* pCtx, gpointer pData)
{
    Impl& impl = *static_cast<Impl*>(pData);
    std::unique_lock lock(impl.mutex);
    Camera* pCamera = impl.FindByPath(MountOf(pCtx));
    // The server answers 404, or 401 to a client without valid credentials (which it checks
    // only after this): neither may start a camera.
    if (pCamera == nullptr || !pCamera->bMounted || (!impl.config.strUser.empty() && pCtx->token == nullptr))
        return GST_RTSP_STS_OK;
    const DWORD dwID = pCamera->dwID;
    impl.Post({Kind::Lease, dwID, RtspEvent::Offered, {}, {}, {}});
    struct LeaseEnd {
        Impl& impl;
        DWORD dwID;
        ~LeaseEnd() { impl.Post({Kind::LeaseEnd, dwID, RtspEvent::Offered, {}, {}, {}}); }
    } leaseEnd{impl, dwID};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(impl.config.uDescribeWaitMs);
    for (;;) {
        if (!pCamera->bMounted)
            return GST_RTSP_STS_NOT_FOUND;
        const auto now = std::chrono::steady_clock::now();
        if (pCamera->bCodecKnown && (pCamera->bAudio || now >= pCamera->keyAt + AUDIO_GRACE))
            break;
        if (now >= deadline) {
            VLOG(1, "CRtspBridge::OnPreDescribe: %s sent no key frame in %u ms", pCamera->strPath.c_str(),
                 impl.config.uDescribeWaitMs);
            return GST_RTSP_STS_SERVICE_UNAVAILABLE;
        }
        impl.cond.wait_until(lock, pCamera->bCodecKnown ? std::min(deadline, pCamera->keyAt + AUDIO_GRACE)
                                                        : deadline);
    }
    // The factory's own lock is taken outside ours: it is held while a media is configured.
    GstRTSPMediaFactory* pFactory = GST_RTSP_MEDIA_FACTORY(g_object_ref(pCamera->pFactory));
    const std::string strLaunch = LaunchLine(pCamera->nCodec, pCamera->bAudio);
    lock.unlock();
    gst_rtsp_media_factory_set_launch(pFactory, strLaunch.c_str());
    g_object_unref(pFactory);
    return GST_RTSP_STS_OK;
}

void CRtspBridge::Impl::OnMediaConfigure(GstRTSPMediaFactory* pFactory, GstRTSPMedia* pMedia, gpointer pData)
{
    Impl& impl = *static_cast<Impl*>(pData);
    GstElement* pBin = gst_rtsp_media_get_element(pMedia);
    auto pSink = std::make_unique<Sink>();
    pSink->pMedia = pMedia;
    pSink->pVideo = GST_APP_SRC(gst_bin_get_by_name(GST_BIN(pBin), "vsrc"));
    if (GstElement* pAudio = gst_bin_get_by_name(GST_BIN(pBin), "asrc"))
        pSink->pAudio = GST_APP_SRC(pAudio);
    if (GstObject* pPipeline = gst_object_get_parent(GST_OBJECT(pBin))) {
        g_signal_connect(pPipeline, "deep-element-added", G_CALLBACK(&OnMediaElementAdded), nullptr);
        gst_object_unref(pPipeline);
    }
    gst_object_unref(pBin);
    WatchStreamThread(pSink->pVideo);
    WatchStreamThread(pSink->pAudio);
    g_signal_connect(pMedia, "unprepared", G_CALLBACK(&Impl::OnUnprepared), pData);
    g_object_weak_ref(G_OBJECT(pMedia), &Impl::OnMediaGone, pData);
    std::lock_guard lock(impl.mutex);
    impl.setWatched.insert(pMedia);
    Camera* pCamera = impl.FindByFactory(pFactory);
    if (pCamera == nullptr || pSink->pVideo == nullptr)
        return;
    pCamera->vecSinks.push_back(std::move(pSink));
    impl.Post({Kind::Use, pCamera->dwID, RtspEvent::Offered, {}, {}, {}});
}

void CRtspBridge::Impl::OnUnprepared(GstRTSPMedia* pMedia, gpointer pData)
{
    static_cast<Impl*>(pData)->RemoveSink(pMedia);
}

void CRtspBridge::Impl::OnMediaGone(gpointer pData, GObject* pGone)
{
    Impl& impl = *static_cast<Impl*>(pData);
    auto* pMedia = reinterpret_cast<GstRTSPMedia*>(pGone);
    impl.RemoveSink(pMedia);
    std::lock_guard lock(impl.mutex);
    impl.setWatched.erase(pMedia);
}

void CRtspBridge::Impl::RemoveSink(GstRTSPMedia* pMedia)
{
    std::lock_guard lock(mutex);
    for (auto& [dwID, pCamera] : mapCameras) {
        auto& vec = pCamera->vecSinks;
        const auto it =
            std::find_if(vec.begin(), vec.end(), [pMedia](const auto& p) { return p->pMedia == pMedia; });
        if (it == vec.end())
            continue;
        vec.erase(it);
        Post({Kind::Unuse, dwID, RtspEvent::Offered, {}, {}, {}});
        return;
    }
}

void CRtspBridge::Impl::OnPlay(GstRTSPClient* pClient, GstRTSPContext* pCtx, gpointer pData)
{
    const std::string strPath = MountOf(pCtx);
    if (PlayedBy(pClient).insert(strPath).second)
        static_cast<Impl*>(pData)->Report(RtspEvent::Playing, strPath, PeerOf(pClient));
}

void CRtspBridge::Impl::OnTeardown(GstRTSPClient* pClient, GstRTSPContext* pCtx, gpointer pData)
{
    const std::string strPath = MountOf(pCtx);
    if (PlayedBy(pClient).erase(strPath) > 0)
        static_cast<Impl*>(pData)->Report(RtspEvent::Left, strPath, PeerOf(pClient));
}

void CRtspBridge::Impl::OnClosed(GstRTSPClient* pClient, gpointer pData)
{
    for (const std::string& strPath : PlayedBy(pClient))
        static_cast<Impl*>(pData)->Report(RtspEvent::Left, strPath, PeerOf(pClient));
    PlayedBy(pClient).clear();
}

void CRtspBridge::Impl::OnNewSession(GstRTSPClient*, GstRTSPSession* pSession, gpointer pData)
{
    gst_rtsp_session_set_timeout(pSession, static_cast<Impl*>(pData)->config.uSessionTimeoutS);
}

// Refused credentials are told with the user name they gave, never the rest of the header.
void CRtspBridge::Impl::OnSendMessage(GstRTSPClient* pClient, GstRTSPContext* pCtx, GstRTSPMessage* pMessage,
                                      gpointer pData)
{
    GstRTSPStatusCode enCode = GST_RTSP_STS_OK;
    if (gst_rtsp_message_get_type(pMessage) != GST_RTSP_MESSAGE_RESPONSE ||
        gst_rtsp_message_parse_response(pMessage, &enCode, nullptr, nullptr) != GST_RTSP_OK ||
        enCode != GST_RTSP_STS_UNAUTHORIZED || pCtx == nullptr || pCtx->request == nullptr)
        return;
    gchar* pszAuth = nullptr;
    if (gst_rtsp_message_get_header(pCtx->request, GST_RTSP_HDR_AUTHORIZATION, &pszAuth, 0) != GST_RTSP_OK ||
        pszAuth == nullptr)
        return; // the challenge every client gets first
    std::string strUser;
    const char* pszUser = std::strstr(pszAuth, "username=\"");
    if (pszUser != nullptr) {
        pszUser += 10;
        const char* pszEnd = std::strchr(pszUser, '"');
        strUser.assign(pszUser, pszEnd != nullptr ? static_cast<std::size_t>(pszEnd - pszUser) : 0);
        strUser = strUser.substr(0, 64);
    }
    const std::string strPeer = PeerOf(pClient);
    VLOG(1, "CRtspBridge: refused credentials of user \"%s\" from %s for %s", strUser.c_str(),
         strPeer.c_str(), MountOf(pCtx).c_str());
    static_cast<Impl*>(pData)->Report(RtspEvent::AuthFailed, MountOf(pCtx), strPeer, strUser);
}

gboolean CRtspBridge::Impl::OnCleanup(gpointer pData)
{
    GstRTSPSessionPool* pPool = gst_rtsp_server_get_session_pool(static_cast<Impl*>(pData)->pServer);
    gst_rtsp_session_pool_cleanup(pPool);
    g_object_unref(pPool);
    return G_SOURCE_CONTINUE;
}

void CRtspBridge::Impl::Kick(const std::set<GstRTSPMedia*>& setMedia, bool bAll)
{
    struct Filter {
        const std::set<GstRTSPMedia*>* pMedia;
        bool bAll;
    } filter{&setMedia, bAll};
    // A session goes when one of its medias is one of these.
    auto sessionFilter = [](GstRTSPSessionPool*, GstRTSPSession* pSession,
                            gpointer p) -> GstRTSPFilterResult {
        auto* pFilter = static_cast<Filter*>(p);
        if (pFilter->bAll)
            return GST_RTSP_FILTER_REMOVE;
        GList* pList = gst_rtsp_session_filter(
            pSession,
            [](GstRTSPSession*, GstRTSPSessionMedia* pSm, gpointer q) -> GstRTSPFilterResult {
                auto* pF = static_cast<Filter*>(q);
                return pF->pMedia->count(gst_rtsp_session_media_get_media(pSm)) ? GST_RTSP_FILTER_REF
                                                                                : GST_RTSP_FILTER_KEEP;
            },
            p);
        const bool bHit = pList != nullptr;
        g_list_free_full(pList, g_object_unref);
        return bHit ? GST_RTSP_FILTER_REMOVE : GST_RTSP_FILTER_KEEP;
    };
    // Clients go with their sessions: a connection without a session left has nothing to play.
    GList* pClients = gst_rtsp_server_client_filter(
        pServer,
        [](GstRTSPServer*, GstRTSPClient* pClient, gpointer p) -> GstRTSPFilterResult {
            auto* pFilter = static_cast<Filter*>(p);
            if (pFilter->bAll)
                return GST_RTSP_FILTER_REF;
            GList* pList = gst_rtsp_client_session_filter(
                pClient,
                [](GstRTSPClient*, GstRTSPSession* pSession, gpointer q) -> GstRTSPFilterResult {
                    auto* pF = static_cast<Filter*>(q);
                    GList* pHits = gst_rtsp_session_filter(
                        pSession,
                        [](GstRTSPSession*, GstRTSPSessionMedia* pSm, gpointer r) -> GstRTSPFilterResult {
                            return static_cast<Filter*>(r)->pMedia->count(
                                       gst_rtsp_session_media_get_media(pSm))
                                       ? GST_RTSP_FILTER_REF
                                       : GST_RTSP_FILTER_KEEP;
                        },
                        pF);
                    const bool bHit = pHits != nullptr;
                    g_list_free_full(pHits, g_object_unref);
                    return bHit ? GST_RTSP_FILTER_REF : GST_RTSP_FILTER_KEEP;
                },
                p);
            const bool bHit = pList != nullptr;
            g_list_free_full(pList, g_object_unref);
            return bHit ? GST_RTSP_FILTER_REF : GST_RTSP_FILTER_KEEP;
        },
        &filter);
    GstRTSPSessionPool* pPool = gst_rtsp_server_get_session_pool(pServer);
    GList* pRemoved = gst_rtsp_session_pool_filter(pPool, sessionFilter, &filter);
    g_list_free_full(pRemoved, g_object_unref);
    g_object_unref(pPool);
    for (GList* p = pClients; p != nullptr; p = p->next) {
        if (bAll)
            g_signal_handlers_disconnect_by_data(p->data, this);
        gst_rtsp_client_close(GST_RTSP_CLIENT(p->data));
    }
    g_list_free_full(pClients, g_object_unref);
}

LRESULT CRtspBridge::Impl::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pImpl = reinterpret_cast<Impl*>(GetWindowUserData(hWnd));
    if (pImpl == nullptr)
        return DefWindowProc(hWnd, uMsg, wParam, lParam);
    if (uMsg == WM_BRIDGE_EVENTS)
        pImpl->DrainEvents();
    else if (uMsg == WM_TIMER && wParam == TIMER_LEASES)
        pImpl->ExpireLeases(false);
    return 0;
}

void CRtspBridge::Impl::DrainEvents()
{
    std::deque<Event> batch;
    {
        std::lock_guard lock(eventMutex);
        batch.swap(events);
    }
    for (const Event& event : batch) {
        switch (event.enKind) {
        case Kind::Use:
            Use(event.dwID, 1);
            break;
        case Kind::Lease:
            Use(event.dwID, 1);
            vecLeases.emplace_back(event.dwID,
                                   GetTickCount() + config.uDescribeWaitMs + DESCRIBE_LEASE_EXTRA_MS);
            break;
        case Kind::LeaseEnd: {
            // The oldest lease of the camera ends soon: the media, if any, is made by then.
            const auto it = std::find_if(vecLeases.begin(), vecLeases.end(),
                                         [&](const auto& lease) { return lease.first == event.dwID; });
            if (it != vecLeases.end())
                it->second = std::min(it->second - GetTickCount(), DESCRIBE_LEASE_EXTRA_MS) + GetTickCount();
            break;
        }
        case Kind::Unuse:
            Use(event.dwID, -1);
            break;
        case Kind::Report:
            host.OnRtspEvent(event.enEvent, event.strPath, event.strPeer, event.strDetail);
            break;
        }
    }
}

void CRtspBridge::Impl::ExpireLeases(bool bAll)
{
    const DWORD dwNow = GetTickCount();
    std::vector<DWORD> vecDone;
    std::erase_if(vecLeases, [&](const auto& lease) {
        if (!bAll && static_cast<LONG>(dwNow - lease.second) < 0)
            return false;
        vecDone.push_back(lease.first);
        return true;
    });
    for (DWORD dwID : vecDone)
        Use(dwID, -1);
}

// GUI thread: the camera's stream is held while a DESCRIBE waits for it or a media plays it.
void CRtspBridge::Impl::Use(DWORD dwID, int nDelta)
{
    std::string strPath;
    int nBefore = 0;
    int nAfter = 0;
    {
        std::lock_guard lock(mutex);
        const auto it = mapCameras.find(dwID);
        if (it == mapCameras.end())
            return;
        strPath = it->second->strPath;
        nBefore = it->second->nUsers;
        nAfter = std::max(0, nBefore + nDelta);
        it->second->nUsers = nAfter;
    }
    if (nBefore == 0 && nAfter > 0) {
        host.HoldCamera(dwID);
        host.OnRtspEvent(RtspEvent::StreamStarted, strPath, {}, {});
    } else if (nBefore > 0 && nAfter == 0) {
        host.ReleaseCamera(dwID);
        host.OnRtspEvent(RtspEvent::StreamStopped, strPath, {}, {});
    }
}
