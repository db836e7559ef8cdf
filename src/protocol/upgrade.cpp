#include "protocol/upgrade.h"

#include "core/log.h"
#include "core/stringids.h"
#include "platform/msgwindow.h"
#include "platform/ticks.h"
#include "protocol/engcmd.h"
#include "protocol/engoffcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>

namespace {

DWORD BigEndian32(const BYTE* pb)
{
    return (static_cast<DWORD>(pb[0]) << 24) | (static_cast<DWORD>(pb[1]) << 16) |
           (static_cast<DWORD>(pb[2]) << 8) | pb[3];
}

} // namespace

CFirmwareUpgrade::CFirmwareUpgrade(IFirmwareSender* pSender, IUpgradeTimers* pTimers,
                                   IUpgradeListener* pListener)
    : m_pSender(pSender), m_pTimers(pTimers), m_pListener(pListener)
{
}

CFirmwareUpgrade::~CFirmwareUpgrade()
{
    for (UpgradeEntry& entry : m_vecEntries) {
        if (entry.nState != UPGRADE_IDLE)
            m_pTimers->KillUpgradeTimer(entry.uTimerID);
    }
    CloseImage();
}

bool CFirmwareUpgrade::AddCamera(const char* pszSerial, UINT_PTR uTimerID)
{
    if (pszSerial == nullptr || uTimerID == 0 || FindEntry(pszSerial) != nullptr ||
        FindByTimer(uTimerID) != nullptr)
        return false;
    UpgradeEntry entry;
    std::strncpy(entry.szSerial, pszSerial, sizeof(entry.szSerial) - 1);
    entry.uTimerID = uTimerID;
    m_vecEntries.push_back(entry);
    return true;
}

std::string CFirmwareUpgrade::ImagePath(const std::string& strFolder)
{
    std::string strPath = strFolder;
    if (!strPath.empty() && strPath.back() != '/')
        strPath += '/';
    return strPath + UPGRADE_IMAGE_NAME;
}

std::string CFirmwareUpgrade::ImageVersion(const std::string& strPath, bool* pbOpened)
{
    // Our images start with an 8-byte mark and carry their version text, zero-padded, at 16..47.
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (pbOpened != nullptr)
        *pbOpened = pFile != nullptr;
    if (pFile == nullptr)
        return {};
    char header[48];
    const std::size_t nRead = std::fread(header, 1, sizeof(header), pFile);
    std::fclose(pFile);
    if (nRead < sizeof(header) || std::memcmp(header, "VSTRLIMG", 8) != 0)
        return {};
    return std::string(header + 16, strnlen(header + 16, 32));
}

bool CFirmwareUpgrade::Start(const std::string& strFolder)
{
    return StartWithFile(ImagePath(strFolder));
}

bool CFirmwareUpgrade::StartWithFile(const std::string& strPath)
{
    VLOG(3, "CFirmwareUpgrade::Start: beg { %s", strPath.c_str());
    CloseImage();
    m_pImage = std::fopen(strPath.c_str(), "rb");
    off_t llSize = -1;
    if (m_pImage != nullptr && fseeko(m_pImage, 0, SEEK_END) == 0)
        llSize = ftello(m_pImage);
    // The request carries the size in 32 bits.
    if (llSize < 0 || llSize > static_cast<off_t>(0xFFFFFFFF)) {
        CloseImage();
        // Every row says why nothing starts, whatever it showed before.
        for (const UpgradeEntry& entry : m_vecEntries)
            Show(entry, Text::ErrOpenFile);
        VLOG(3, "CFirmwareUpgrade::Start: end } cannot open");
        return false;
    }
    m_strImageVersion = ImageVersion(strPath);
    for (UpgradeEntry& entry : m_vecEntries) {
        if (entry.nState != UPGRADE_IDLE || entry.bFinished)
            continue;
        entry.nState = UPGRADE_REQUESTED;
        entry.bVersionKnown = false;
        entry.dwImageSize = static_cast<DWORD>(llSize);
        entry.nLastChunk = static_cast<int>(entry.dwImageSize / UPGRADE_CHUNK_LEN) - 1;
        entry.dwChunk = 0;
        entry.nLastPercent = 0;
        m_pSender->Cmd_FirmReq(entry.szSerial, entry.dwImageSize);
        // The version it runs now: a change later is the sign of its restart with the image.
        AskVersion(entry);
        Arm(entry, UPGRADE_REQUEST_TIMEOUT);
    }
    VLOG(3, "CFirmwareUpgrade::Start: end } size:%lld", static_cast<long long>(llSize));
    return true;
}

void CFirmwareUpgrade::OnWriteFirmwareReqRes(const BYTE* pBody, std::size_t nLen)
{
    if (pBody == nullptr || nLen < FIRM_WRITEREQ_REPLY_LEN)
        return;
    UpgradeEntry* pEntry = FindBySerialField(pBody);
    if (pEntry == nullptr || pEntry->nState != UPGRADE_REQUESTED) {
        VLOG(2, "CDlgUpdateCam::OnWriteFirmwareReqRes: end } !nState");
        return;
    }
    UpgradeEntry& entry = *pEntry;
    Stop(entry);
    const BYTE byResult = pBody[LAN_SHORT_SERIAL_LEN];
    if (byResult == 1) {
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::FileTooBig);
        return;
    }
    if (byResult == 2) {
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::ErrAlloc);
        return;
    }
    entry.nState = UPGRADE_SENDING;
    entry.dwChunk = 0;
    entry.nLastPercent = 0;
    if (SendChunk(entry) <= 0) {
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::ErrReadFile);
        return;
    }
    Show(entry, Text::Downloading);
    Arm(entry, UPGRADE_CHUNK_TIMEOUT);
    m_pListener->OnUpgradeTransferStarted(entry);
}

void CFirmwareUpgrade::OnSendFirmwareRes(const BYTE* pBody, std::size_t nLen)
{
    if (pBody == nullptr || nLen < FIRM_SENDFILE_REPLY_LEN)
        return;
    UpgradeEntry* pEntry = FindBySerialField(pBody);
    if (pEntry == nullptr || pEntry->nState != UPGRADE_SENDING) {
        VLOG(2, "CDlgUpdateCam::OnSendFirmwareRes: end } !nState");
        return;
    }
    UpgradeEntry& entry = *pEntry;
    const DWORD dwAck = BigEndian32(pBody + LAN_SHORT_SERIAL_LEN);
    if (entry.dwChunk == 0 && dwAck == UPGRADE_REFUSED_CHUNK) {
        // Nothing more goes to this camera; later replies are ignored too.
        Stop(entry);
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::NoRespond);
        return;
    }
    if (dwAck != entry.dwChunk) {
        // The timer sends the current chunk again.
        VLOG(2, "CDlgUpdateCam::OnSendFirmwareRes: end } !nWriteSeq:%d, seq%d", entry.dwChunk, dwAck);
        return;
    }
    ++entry.dwChunk;
    Stop(entry);
    const int nPercent = ChunkPercent(entry.dwChunk, entry.nLastChunk);
    if (nPercent != entry.nLastPercent && nPercent % 5 == 0) {
        entry.nLastPercent = nPercent;
        Show(entry, Text::Downloading, nPercent);
    }
    const int nSent = SendChunk(entry);
    if (nSent < 0) {
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::ErrReadFile);
        return;
    }
    if (nSent > 0) {
        Arm(entry, UPGRADE_CHUNK_TIMEOUT);
        return;
    }
    // End of the image: ask the camera to write it.
    entry.nLastPercent = 0;
    Show(entry, Text::Writing);
    entry.nState = UPGRADE_WRITE_REQUESTED;
    m_pSender->Cmd_FirmWrite(entry.szSerial);
    Arm(entry, UPGRADE_WRITE_REQUEST_TIMEOUT);
}

void CFirmwareUpgrade::OnWriteFirmwareRes(const BYTE* pBody, std::size_t nLen)
{
    if (pBody == nullptr || nLen < FIRM_WRITEFILE_REPLY_LEN)
        return;
    UpgradeEntry* pEntry = FindBySerialField(pBody);
    if (pEntry == nullptr ||
        (pEntry->nState != UPGRADE_WRITE_REQUESTED && pEntry->nState != UPGRADE_WRITING)) {
        VLOG(2, "CDlgUpdateCam::OnWriteFirmwareRes: end } !nState");
        return;
    }
    UpgradeEntry& entry = *pEntry;
    const BYTE byStage = pBody[20];
    const BYTE byStatus = pBody[21];
    const BYTE byPercent = pBody[22];
    const BYTE byResult = pBody[23];
    entry.nState = UPGRADE_WRITING;
    VLOG(4, "CDlgUpdateCam::OnWriteFirmwareRes: stage:%d, status:%d, nPercent%d, result%d", byStage, byStatus,
         byPercent, byResult);
    Stop(entry);
    if (byStatus == 1) {
        entry.nState = UPGRADE_IDLE;
        entry.bFinished = true;
        if (byResult == 0) {
            Show(entry, Text::WaitReboot);
            m_pListener->OnUpgradeRebooting(entry);
        } else if (byResult == 4) {
            Show(entry, Text::TransErr);
        } else if (byStage == 0) {
            Show(entry, Text::WriteErrInit);
        } else if (byStage == 1) {
            Show(entry, Text::WriteErrCheck);
        } else if (byStage == 2) {
            Show(entry, Text::WriteErrErase);
        } else if (byStage == 3) {
            Show(entry, Text::WriteErr);
        }
        return;
    }
    if (byPercent > entry.nLastPercent) {
        entry.nLastPercent = byPercent;
        Show(entry, Text::Writing, byPercent);
    }
    entry.dwLastTick = GetTickCount();
    Arm(entry, UPGRADE_WRITING_TIMEOUT);
}

void CFirmwareUpgrade::OnVersionRes(UINT_PTR uID, const char* pszVersion, std::size_t nLen)
{
    UpgradeEntry* pEntry = FindByTimer(uID);
    if (pEntry == nullptr || pEntry->nState == UPGRADE_IDLE || pszVersion == nullptr)
        return;
    UpgradeEntry& entry = *pEntry;
    const std::string strVersion(pszVersion, strnlen(pszVersion, std::min<std::size_t>(nLen, 16)));
    if (!entry.bVersionKnown) {
        std::memcpy(entry.szVersionBefore, strVersion.data(), strVersion.size());
        entry.szVersionBefore[strVersion.size()] = '\0';
        entry.bVersionKnown = true;
        return;
    }
    // Only a camera that was burning, answers again, and now runs the image's version (which
    // it did not before) has certainly written it; anything else waits for its report or
    // the give-up time as before.
    if ((entry.nState != UPGRADE_WRITE_REQUESTED && entry.nState != UPGRADE_WRITING) ||
        m_strImageVersion.empty() || strVersion != m_strImageVersion || strVersion == entry.szVersionBefore)
        return;
    VLOG(2, "CDlgUpdateCam::OnVersionRes: %s back with %s, its closing report lost", entry.szSerial,
         strVersion.c_str());
    Stop(entry);
    entry.nState = UPGRADE_IDLE;
    entry.bFinished = true;
    Show(entry, Text::Finished);
    m_pListener->OnUpgradeRebooting(entry);
}

void CFirmwareUpgrade::OnTimer(UINT_PTR uTimerID)
{
    UpgradeEntry* pEntry = FindByTimer(uTimerID);
    if (pEntry == nullptr)
        return;
    UpgradeEntry& entry = *pEntry;
    m_pTimers->KillUpgradeTimer(entry.uTimerID);
    if (entry.nState == UPGRADE_IDLE)
        return;
    if (GetTickCount() - entry.dwLastTick > m_dwGiveUpMs) {
        entry.nState = UPGRADE_IDLE;
        Show(entry, Text::NoRespond);
        return;
    }
    switch (entry.nState) {
    case UPGRADE_REQUESTED:
        m_pSender->Cmd_FirmReq(entry.szSerial, entry.dwImageSize);
        m_pTimers->SetUpgradeTimer(entry.uTimerID, UPGRADE_REQUEST_TIMEOUT);
        break;
    case UPGRADE_SENDING:
        if (SendChunk(entry) <= 0) {
            // The chunk was read once already: the image changed or became unreadable.
            entry.nState = UPGRADE_IDLE;
            Show(entry, Text::ErrReadFile);
            return;
        }
        m_pTimers->SetUpgradeTimer(entry.uTimerID, UPGRADE_CHUNK_TIMEOUT);
        break;
    case UPGRADE_WRITE_REQUESTED:
        m_pSender->Cmd_FirmWrite(entry.szSerial);
        AskVersion(entry);
        m_pTimers->SetUpgradeTimer(entry.uTimerID, UPGRADE_WRITE_REQUEST_TIMEOUT);
        break;
    case UPGRADE_WRITING:
        AskVersion(entry);
        m_pTimers->SetUpgradeTimer(entry.uTimerID, UPGRADE_WRITING_TIMEOUT);
        break;
    default:
        break;
    }
}

const UpgradeEntry* CFirmwareUpgrade::FindEntry(const char* pszSerial) const
{
    for (const UpgradeEntry& entry : m_vecEntries) {
        if (std::strncmp(entry.szSerial, pszSerial, LAN_SHORT_SERIAL_LEN) == 0)
            return &entry;
    }
    return nullptr;
}

bool CFirmwareUpgrade::IsRunning() const
{
    return std::any_of(m_vecEntries.begin(), m_vecEntries.end(),
                       [](const UpgradeEntry& entry) { return entry.nState != UPGRADE_IDLE; });
}

int CFirmwareUpgrade::ChunkPercent(DWORD dwChunk, int nLastChunk)
{
    // An image of one chunk (or less) is whole once its first chunk is through; past the
    // last chunk the count stays at 100.
    if (nLastChunk <= 0)
        return dwChunk > 0 ? 100 : 0;
    const long long llPercent = static_cast<long long>(dwChunk) * 100 / nLastChunk;
    return static_cast<int>(std::min<long long>(llPercent, 100));
}

DWORD CFirmwareUpgrade::StringID(Text text) const
{
    switch (text) {
    case Text::NoRespond:
        return m_bDecoder ? IDS_UPDATE_NORESPOND1 : IDS_UPDATE_NORESPOND;
    case Text::FileTooBig:
        return m_bDecoder ? IDS_UPDATE_FILETOOBIG1 : IDS_UPDATE_FILETOOBIG;
    case Text::ErrAlloc:
        return IDS_UPDATE_ERRALLOC;
    case Text::ErrOpenFile:
        return IDS_UPDATE_ERROPENFILE;
    case Text::Downloading:
        return m_bDecoder ? IDS_UPDATE_DOWNLOADING1 : IDS_UPDATE_DOWNLOADING;
    case Text::Writing:
        return m_bDecoder ? IDS_UPDATE_WRITING1 : IDS_UPDATE_WRITING;
    case Text::ErrReadFile:
        return m_bDecoder ? IDS_UPDATE_ERRREADFILE1 : IDS_UPDATE_ERRREADFILE;
    case Text::WaitReboot:
        return m_bDecoder ? IDS_UPDATE_WAITREBOOT1 : IDS_UPDATE_WAITREBOOT;
    case Text::TransErr:
        return m_bDecoder ? IDS_UPDATE_TRANSERR1 : IDS_UPDATE_TRANSERR;
    case Text::WriteErrInit:
        return m_bDecoder ? IDS_UPDATE_WRITEERRINIT1 : IDS_UPDATE_WRITEERRINIT;
    case Text::WriteErrCheck:
        return m_bDecoder ? IDS_UPDATE_WRITEERRCHECK1 : IDS_UPDATE_WRITEERRCHECK;
    case Text::WriteErrErase:
        return m_bDecoder ? IDS_UPDATE_WRITEERRERASE1 : IDS_UPDATE_WRITEERRERASE;
    case Text::WriteErr:
        return m_bDecoder ? IDS_UPDATE_WRITEERR1 : IDS_UPDATE_WRITEERR;
    case Text::Finished:
        return IDS_UPDATE_FINISH;
    }
    return 0;
}

void CFirmwareUpgrade::Show(const UpgradeEntry& entry, Text text, int nPercent)
{
    m_pListener->OnUpgradeText(entry, StringID(text), nPercent);
}

UpgradeEntry* CFirmwareUpgrade::FindBySerialField(const BYTE* pSerial)
{
    char szSerial[LAN_SHORT_SERIAL_LEN + 1] = {};
    std::memcpy(szSerial, pSerial, LAN_SHORT_SERIAL_LEN);
    return const_cast<UpgradeEntry*>(FindEntry(szSerial));
}

UpgradeEntry* CFirmwareUpgrade::FindByTimer(UINT_PTR uTimerID)
{
    for (UpgradeEntry& entry : m_vecEntries) {
        if (entry.uTimerID == uTimerID)
            return &entry;
    }
    return nullptr;
}

void CFirmwareUpgrade::Arm(UpgradeEntry& entry, UINT uElapse)
{
    m_pTimers->SetUpgradeTimer(entry.uTimerID, uElapse);
    entry.dwLastTick = GetTickCount();
}

void CFirmwareUpgrade::AskVersion(const UpgradeEntry& entry)
{
    // Without the image's version an answer could not tell anything.
    if (!m_strImageVersion.empty())
        m_pSender->Cmd_GetVersion(entry.uTimerID);
}

void CFirmwareUpgrade::Stop(UpgradeEntry& entry)
{
    m_pTimers->KillUpgradeTimer(entry.uTimerID);
}

int CFirmwareUpgrade::SendChunk(UpgradeEntry& entry)
{
    if (m_pImage == nullptr)
        return -1;
    BYTE abyBody[LAN_SHORT_SERIAL_LEN + 4 + UPGRADE_CHUNK_LEN];
    std::memset(abyBody, 0, LAN_SHORT_SERIAL_LEN);
    std::memcpy(abyBody, entry.szSerial, strnlen(entry.szSerial, LAN_SHORT_SERIAL_LEN));
    abyBody[20] = static_cast<BYTE>(entry.dwChunk >> 24);
    abyBody[21] = static_cast<BYTE>(entry.dwChunk >> 16);
    abyBody[22] = static_cast<BYTE>(entry.dwChunk >> 8);
    abyBody[23] = static_cast<BYTE>(entry.dwChunk);
    if (fseeko(m_pImage, static_cast<off_t>(entry.dwChunk) * static_cast<off_t>(UPGRADE_CHUNK_LEN),
               SEEK_SET) != 0)
        return -1;
    const std::size_t nRead = std::fread(abyBody + 24, 1, UPGRADE_CHUNK_LEN, m_pImage);
    if (nRead == 0) {
        const bool bError = std::ferror(m_pImage) != 0;
        std::clearerr(m_pImage);
        return bError ? -1 : 0;
    }
    m_pSender->Cmd_FirmSendReq(abyBody, static_cast<int>(nRead + 24));
    return static_cast<int>(nRead);
}

void CFirmwareUpgrade::CloseImage()
{
    if (m_pImage != nullptr)
        std::fclose(m_pImage);
    m_pImage = nullptr;
}

// ---------------------------------------------------------------------------------------------

int CEngOffCmdFirmwareSender::Cmd_FirmReq(const char* pszSerial, DWORD uLen)
{
    return m_pEngine->Cmd_FirmReq(pszSerial, uLen);
}

int CEngOffCmdFirmwareSender::Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen)
{
    return m_pEngine->Cmd_FirmSendReq(pBody, nBodyLen);
}

int CEngOffCmdFirmwareSender::Cmd_FirmWrite(const char* pszSerial)
{
    return m_pEngine->Cmd_FirmWrite(pszSerial);
}

int CEngOffCmdFirmwareSender::Cmd_GetVersion(UINT_PTR uID)
{
    return m_pViewer != nullptr ? m_pViewer->Cmd_GetVersion(static_cast<DWORD>(uID)) : 0;
}

// ---------------------------------------------------------------------------------------------

CUpgradeWindow::CUpgradeWindow(CEngResponse* pEngine, CEngResponse* pViewer, CWindowsManage* pManager)
    : m_pEngine(pEngine), m_pViewer(pViewer), m_pManager(pManager != nullptr ? pManager : GetWindowsManage())
{
    m_hWnd = m_pManager->CreateMsgWindow("FirmwareUpgrade", this);
    m_pEngine->RegisterResponse(LAN_EVENT_FIRM_WRITEREQ, m_hWnd, MSG_WRITEREQ, 0);
    m_pEngine->RegisterResponse(LAN_EVENT_FIRM_SENDFILE, m_hWnd, MSG_SENDFILE, 0);
    m_pEngine->RegisterResponse(LAN_EVENT_FIRM_WRITEFILE, m_hWnd, MSG_WRITEFILE, 0);
    if (m_pViewer != nullptr)
        m_pViewer->RegisterResponse(VIEWER_EVT_VERSION, m_hWnd, MSG_VERSION, 0);
}

CUpgradeWindow::~CUpgradeWindow()
{
    m_pEngine->RemoveResponse(LAN_EVENT_FIRM_WRITEREQ, m_hWnd);
    m_pEngine->RemoveResponse(LAN_EVENT_FIRM_SENDFILE, m_hWnd);
    m_pEngine->RemoveResponse(LAN_EVENT_FIRM_WRITEFILE, m_hWnd);
    if (m_pViewer != nullptr)
        m_pViewer->RemoveResponse(VIEWER_EVT_VERSION, m_hWnd);
    m_pManager->DestroyMsgWindow(m_hWnd);
}

void CUpgradeWindow::SetUpgradeTimer(UINT_PTR uID, UINT uElapse)
{
    ::SetTimer(m_hWnd, uID, uElapse);
}

void CUpgradeWindow::KillUpgradeTimer(UINT_PTR uID)
{
    ::KillTimer(m_hWnd, uID);
}

void CUpgradeWindow::OnWndProcSink(HWND, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (m_pUpgrade == nullptr)
        return;
    const auto* pBody = reinterpret_cast<const BYTE*>(lParam);
    const auto nLen = static_cast<std::size_t>(wParam);
    switch (uMsg) {
    case WM_TIMER:
        m_pUpgrade->OnTimer(wParam);
        break;
    case MSG_WRITEREQ:
        m_pUpgrade->OnWriteFirmwareReqRes(pBody, nLen);
        break;
    case MSG_SENDFILE:
        m_pUpgrade->OnSendFirmwareRes(pBody, nLen);
        break;
    case MSG_WRITEFILE:
        m_pUpgrade->OnWriteFirmwareRes(pBody, nLen);
        break;
    case MSG_VERSION:
        // wParam the camera's id, lParam its version record.
        if (const auto* pInfo = reinterpret_cast<const VersionInfo*>(lParam); pInfo != nullptr)
            m_pUpgrade->OnVersionRes(wParam, pInfo->szVersion, sizeof(pInfo->szVersion));
        break;
    default:
        break;
    }
}
