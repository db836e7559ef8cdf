// Firmware upgrade of one or more cameras over the LAN protocol.
//
// Per camera: ask to write (54), send the image in 1024-byte chunks, each acknowledged (55),
// ask to burn it (56) and follow the camera's progress reports until it is done. Every camera
// runs on its own timer, independently of the others; a failure ends only that camera's run.
// The camera reports the end of the burn once and restarts: while it burns it is also asked
// for its version, so that a camera whose closing report was lost but which is back with the
// image's version counts as finished rather than as silent.
// The dialog and the command-line client both drive this class and show what it reports
// through IUpgradeListener.
#pragma once

#include "core/engineresponse.h"
#include "core/windowsmanage.h"
#include "platform/wintypes.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

class CEngCmd;
class CEngOffCmd;

constexpr const char* UPGRADE_IMAGE_NAME = "8126.Img";
constexpr std::size_t UPGRADE_CHUNK_LEN = 1024;

// Timer periods (ms) and the give-up time after the last sign of progress.
constexpr UINT UPGRADE_REQUEST_TIMEOUT = 6000;
constexpr UINT UPGRADE_CHUNK_TIMEOUT = 2000;
constexpr UINT UPGRADE_WRITE_REQUEST_TIMEOUT = 20000;
constexpr UINT UPGRADE_WRITING_TIMEOUT = 4000;
constexpr DWORD UPGRADE_GIVE_UP_MS = 180000;

// A camera that acknowledges this chunk number before any chunk went through is not taking
// the image.
constexpr DWORD UPGRADE_REFUSED_CHUNK = 160;

enum UpgradeState : int {
    UPGRADE_IDLE = 0,
    UPGRADE_REQUESTED = 1,
    UPGRADE_SENDING = 2,
    UPGRADE_WRITE_REQUESTED = 3,
    UPGRADE_WRITING = 4,
};

struct UpgradeEntry {
    char szSerial[21] = {};
    int nState = UPGRADE_IDLE;
    DWORD dwChunk = 0;  // chunk being sent
    int nLastChunk = 0; // image size / 1024 - 1
    DWORD dwImageSize = 0;
    int nLastPercent = 0;  // last percentage shown
    UINT_PTR uTimerID = 0; // the camera's dwDVIPID
    DWORD dwLastTick = 0;  // last sign of progress
    bool bFinished = false;
    // The first firmware version the camera reported during this run, once it has.
    char szVersionBefore[17] = {};
    bool bVersionKnown = false;
};

// Sends the three firmware requests (CEngOffCmd through an adapter, a fake in tests).
class IFirmwareSender {
public:
    virtual ~IFirmwareSender() = default;
    virtual int Cmd_FirmReq(const char* pszSerial, DWORD uLen) = 0;
    virtual int Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen) = 0;
    virtual int Cmd_FirmWrite(const char* pszSerial) = 0;
    // Asks the camera (by its dwDVIPID) for its firmware version; 0 when it cannot be asked.
    virtual int Cmd_GetVersion(UINT_PTR uID) = 0;
};

// One timer per camera, keyed by its timer id; an expiry comes back as OnTimer.
class IUpgradeTimers {
public:
    virtual ~IUpgradeTimers() = default;
    virtual void SetUpgradeTimer(UINT_PTR uID, UINT uElapse) = 0;
    virtual void KillUpgradeTimer(UINT_PTR uID) = 0;
};

class IUpgradeListener {
public:
    virtual ~IUpgradeListener() = default;
    // New text for a camera's row: a string id of the camera or decoder set, and a
    // percentage (0 to 100) or -1 when the text has none.
    virtual void OnUpgradeText(const UpgradeEntry& entry, DWORD dwStringID, int nPercent) = 0;
    // The camera accepted the request and the first chunk is on its way.
    virtual void OnUpgradeTransferStarted(const UpgradeEntry& entry) {}
    // The camera wrote the image and reboots.
    virtual void OnUpgradeRebooting(const UpgradeEntry& entry) {}
};

class CFirmwareUpgrade {
public:
    // None of the three is owned; all must outlive this object.
    CFirmwareUpgrade(IFirmwareSender* pSender, IUpgradeTimers* pTimers, IUpgradeListener* pListener);
    ~CFirmwareUpgrade();
    CFirmwareUpgrade(const CFirmwareUpgrade&) = delete;
    CFirmwareUpgrade& operator=(const CFirmwareUpgrade&) = delete;

    // The target is a decoder box: the texts come from the decoder set.
    void SetDecoderBox(bool bDecoder) { m_bDecoder = bDecoder; }
    // Test-only: a shorter give-up time, so end-to-end tests need not wait three minutes
    // for a camera that went quiet. The program itself always uses UPGRADE_GIVE_UP_MS.
    void SetGiveUpTimeForTest(DWORD dwMs) { m_dwGiveUpMs = dwMs; }
    // A camera to upgrade; false for timer id 0 or a camera already listed.
    bool AddCamera(const char* pszSerial, UINT_PTR uTimerID);

    // Opens "<folder>/8126.Img" and starts every listed camera that is neither running nor
    // finished. False (and IDS_UPDATE_ERROPENFILE for every listed camera) when it cannot be
    // opened.
    bool Start(const std::string& strFolder);
    bool StartWithFile(const std::string& strPath);
    static std::string ImagePath(const std::string& strFolder);
    // The version text our images carry in their header; empty for an image without one.
    // pbOpened (optional) tells whether the file could be opened at all.
    static std::string ImageVersion(const std::string& strPath, bool* pbOpened = nullptr);

    // Reply bodies of 0xB6, 0xB7 and 0xB8 (events 2, 4 and 3 of the LAN engine).
    void OnWriteFirmwareReqRes(const BYTE* pBody, std::size_t nLen);
    void OnSendFirmwareRes(const BYTE* pBody, std::size_t nLen);
    void OnWriteFirmwareRes(const BYTE* pBody, std::size_t nLen);
    // A version reply of the viewer protocol (the camera's dwDVIPID and its version field).
    void OnVersionRes(UINT_PTR uID, const char* pszVersion, std::size_t nLen);
    void OnTimer(UINT_PTR uTimerID);

    const std::vector<UpgradeEntry>& GetEntries() const { return m_vecEntries; }
    const UpgradeEntry* FindEntry(const char* pszSerial) const;
    // Some camera is still between request and end.
    bool IsRunning() const;

    // Percentage shown after chunk dwChunk of an image whose last chunk is nLastChunk:
    // 0 to 100, also for images of less than two chunks.
    static int ChunkPercent(DWORD dwChunk, int nLastChunk);

private:
    DWORD m_dwGiveUpMs = UPGRADE_GIVE_UP_MS;
    enum class Text {
        NoRespond,
        FileTooBig,
        ErrAlloc,
        ErrOpenFile,
        Downloading,
        Writing,
        ErrReadFile,
        WaitReboot,
        TransErr,
        WriteErrInit,
        WriteErrCheck,
        WriteErrErase,
        WriteErr,
        Finished,
    };
    DWORD StringID(Text text) const;
    void Show(const UpgradeEntry& entry, Text text, int nPercent = -1);
    UpgradeEntry* FindBySerialField(const BYTE* pSerial);
    UpgradeEntry* FindByTimer(UINT_PTR uTimerID);
    void Arm(UpgradeEntry& entry, UINT uElapse);
    void Stop(UpgradeEntry& entry);
    void AskVersion(const UpgradeEntry& entry);
    // Reads the entry's current chunk and sends it; returns the bytes sent from the image,
    // 0 at the end of the image, -1 when the image cannot be read.
    int SendChunk(UpgradeEntry& entry);
    void CloseImage();

    IFirmwareSender* m_pSender;
    IUpgradeTimers* m_pTimers;
    IUpgradeListener* m_pListener;
    bool m_bDecoder = false;
    std::FILE* m_pImage = nullptr;
    std::string m_strImageVersion;
    std::vector<UpgradeEntry> m_vecEntries;
};

// CEngOffCmd as the sender of the firmware requests, and the viewer engine (optional) for
// the version.
class CEngOffCmdFirmwareSender : public IFirmwareSender {
public:
    explicit CEngOffCmdFirmwareSender(CEngOffCmd* pEngine, CEngCmd* pViewer = nullptr)
        : m_pEngine(pEngine), m_pViewer(pViewer)
    {
    }
    int Cmd_FirmReq(const char* pszSerial, DWORD uLen) override;
    int Cmd_FirmSendReq(const BYTE* pBody, int nBodyLen) override;
    int Cmd_FirmWrite(const char* pszSerial) override;
    int Cmd_GetVersion(UINT_PTR uID) override;

private:
    CEngOffCmd* m_pEngine;
    CEngCmd* m_pViewer;
};

// Window glue for a running program: a hidden window that carries the cameras' timers and
// receives the LAN engine's firmware events, handing both to the upgrade.
class CUpgradeWindow : public IUpgradeTimers, private IWndProcSink {
public:
    static constexpr UINT MSG_WRITEREQ = 0x8101;
    static constexpr UINT MSG_SENDFILE = 0x8102;
    static constexpr UINT MSG_WRITEFILE = 0x8103;
    static constexpr UINT MSG_VERSION = 0x8104;

    // pEngine: where the firmware events come from; pViewer (optional): where the version
    // replies come from (neither owned).
    explicit CUpgradeWindow(CEngResponse* pEngine, CEngResponse* pViewer = nullptr,
                            CWindowsManage* pManager = nullptr);
    ~CUpgradeWindow() override;
    CUpgradeWindow(const CUpgradeWindow&) = delete;
    CUpgradeWindow& operator=(const CUpgradeWindow&) = delete;

    void SetUpgrade(CFirmwareUpgrade* pUpgrade) { m_pUpgrade = pUpgrade; }
    HWND GetWindow() const { return m_hWnd; }

    void SetUpgradeTimer(UINT_PTR uID, UINT uElapse) override;
    void KillUpgradeTimer(UINT_PTR uID) override;

private:
    void OnWndProcSink(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

    CEngResponse* m_pEngine;
    CEngResponse* m_pViewer;
    CWindowsManage* m_pManager;
    HWND m_hWnd = nullptr;
    CFirmwareUpgrade* m_pUpgrade = nullptr;
};
