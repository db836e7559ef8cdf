// Readers of the configuration files next to the program: the settings in "Vistrel.ini",
// the camera model table "CameraType.ini" and the D-server list (also in "Vistrel.ini").
//
// Each file is read once, when its reader is constructed. The process-wide readers are
// made by their accessors from the program folder; tests construct their own with a
// folder of their choosing (ending with '/').
#pragma once

#include "platform/wintypes.h"

#include <map>
#include <string>
#include <vector>

class CConfigFileManager {
public:
    explicit CConfigFileManager(const std::string& strFolder);

    virtual bool IsFileExist();
    virtual std::u16string GetWebsite();
    // As stored (mapped to a local path); nothing appends a separator.
    virtual std::u16string GetRecordPath();
    virtual bool IsEncrypt();
    virtual int GetLanguageID();
    virtual bool IsShowDialogue();
    virtual int GetDebugLevel();
    // Keeps the id and, only when the file exists, writes it to LANGUAGE/ID.
    virtual bool SetLanguageID(int nLanguageID);
    // Written like the language id: whether the language dialog shows at start-up, and the main
    // window's place and last tab (section WINDOW; an empty text when not stored).
    virtual bool SetShowDialogue(bool bShow);
    virtual std::u16string GetWindowValue(const char16_t* pszKey);
    virtual bool SetWindowValue(const char16_t* pszKey, const std::u16string& strValue);
    // The same for the live view's wall of panes (section LIVEGRID): its layout and the camera
    // of each pane.
    virtual std::u16string GetGridValue(const char16_t* pszKey);
    virtual bool SetGridValue(const char16_t* pszKey, const std::u16string& strValue);
    // The same for recording on this PC (section PCRECORD): folder, segment length, retention.
    virtual std::u16string GetPcRecordValue(const char16_t* pszKey);
    virtual bool SetPcRecordValue(const char16_t* pszKey, const std::u16string& strValue);
    // The same for sharing the cameras as RTSP streams (section RTSPSHARE): on, port, address,
    // account.
    virtual std::u16string GetRtspShareValue(const char16_t* pszKey);
    virtual bool SetRtspShareValue(const char16_t* pszKey, const std::u16string& strValue);
    virtual ~CConfigFileManager();

    CConfigFileManager(const CConfigFileManager&) = delete;
    CConfigFileManager& operator=(const CConfigFileManager&) = delete;

private:
    bool m_bFileExist = false;
    std::u16string m_strFilePath;
    std::u16string m_strWebsite;
    std::u16string m_strRecordPath;
    bool m_bEncrypt = false;
    int m_nLanguageID = 0;
    bool m_bShowDialogue = false;
    int m_nDebugLevel = 0;
};

class CConfigCameraType {
public:
    explicit CConfigCameraType(const std::string& strFolder);
    virtual ~CConfigCameraType();

    CConfigCameraType(const CConfigCameraType&) = delete;
    CConfigCameraType& operator=(const CConfigCameraType&) = delete;

    // 1 for TYPE_D, 2 for TYPE_M, 3 for TYPE_HD (tested in this order), 0 when unknown.
    DWORD GetCameraUIType(int nType) const;
    // Subtype prefix + model name + "W" for wireless models; empty for an unknown type.
    std::string GetCameraTypeName(int nType, int nSubType, bool bWireless) const;
    bool IsFileExist() const { return m_bFileExist; }

private:
    void LoadSection(const std::string& strFile, const char* pszSection,
                     std::map<int, std::string>& mapSection, std::map<int, std::string>* pMapAll);

    std::map<int, std::string> m_mapTypeD;
    std::map<int, std::string> m_mapTypeM;
    std::map<int, std::string> m_mapTypeHD;
    std::map<int, std::string> m_mapTypeAll;
    std::map<int, std::string> m_mapSubType;
    bool m_bFileExist = false;
};

class CConfigFileDServer {
public:
    explicit CConfigFileDServer(const std::string& strFolder);
    virtual ~CConfigFileDServer();

    CConfigFileDServer(const CConfigFileDServer&) = delete;
    CConfigFileDServer& operator=(const CConfigFileDServer&) = delete;

    bool IsFileExist() const { return m_bFileExist; }
    bool IsSet() const { return m_bSet; }
    // nIndex counts from 1; out of range is a fatal check.
    std::u16string GetServerName(int nIndex) const;
    std::u16string GetServerUrl(int nIndex) const;
    // The name of the first server with exactly this address, else empty.
    std::u16string GetServerNameByUrl(const std::u16string& strUrl) const;
    int GetServerCount() const { return static_cast<int>(m_vecServerName.size()); }

private:
    bool m_bFileExist = false;
    bool m_bSet = false;
    std::vector<std::u16string> m_vecServerName;
    std::vector<std::u16string> m_vecServerUrl;
};

// Process-wide readers of the program folder's files, made on first use.
CConfigFileManager* GetConfigFileManager();
CConfigCameraType* GetConfigCameraType();
CConfigFileDServer* GetConfigFileDServer();

// More servers than this in SERVER/servernum are not read: the count comes from a file a
// user edits, and every entry costs two reads.
constexpr int MAX_DSERVER_COUNT = 1000;
