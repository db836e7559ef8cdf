#include "core/configfile.h"

#include "core/log.h"
#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/paths.h"
#include "platform/profile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

constexpr DWORD kValueChars = 260;
constexpr DWORD kSectionBytes = 1024;

// The folder must name a directory ("...../"), as the program folder always does.
std::string FilePath(const std::string& strFolder, const char* pszFile)
{
    FATAL_CHECK(!strFolder.empty() && strFolder.back() == '/', "folder without separator: %s",
                strFolder.c_str());
    return strFolder + pszFile;
}

bool CanOpenForReading(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    return file.is_open();
}

std::u16string ReadWide(const char16_t* pszSection, const char16_t* pszKey, const char16_t* pszDefault,
                        const std::u16string& strFile)
{
    char16_t szBuffer[kValueChars] = {};
    GetPrivateProfileString(pszSection, pszKey, pszDefault, szBuffer, kValueChars, strFile.c_str());
    return szBuffer;
}

int ReadInt(const char16_t* pszSection, const char16_t* pszKey, int nDefault, const std::u16string& strFile)
{
    return static_cast<int>(GetPrivateProfileInt(pszSection, pszKey, nDefault, strFile.c_str()));
}

// Decimal conversion of the leading digits, 0 when there are none; out-of-range values
// are clamped rather than left undefined.
int DecimalKey(const std::string& strKey)
{
    const long nValue = std::strtol(strKey.c_str(), nullptr, 10);
    if (nValue > INT_MAX)
        return INT_MAX;
    if (nValue < INT_MIN)
        return INT_MIN;
    return static_cast<int>(nValue);
}

} // namespace

// ---------------------------------------------------------------------------------------

CConfigFileManager::CConfigFileManager(const std::string& strFolder)
{
    const std::string strPath = FilePath(strFolder, "Vistrel.ini");
    m_strFilePath = Utf8ToWide(strPath);
    m_strWebsite = ReadWide(u"WEBSITE", u"register", u"0.0.0.0", m_strFilePath);
    // Settings written on Windows hold drive paths; they and the default are mapped here once.
    m_strRecordPath = Utf8ToWide(
        MapDesignPath(WideToUtf8(ReadWide(u"PATH", u"record", u"D:\\Vistrel\\Record\\", m_strFilePath))));
    m_bEncrypt = ReadInt(u"ENCRYPT", u"encrypt", 0, m_strFilePath) != 0;
    m_nLanguageID = ReadInt(u"LANGUAGE", u"ID", 0, m_strFilePath);
    m_bShowDialogue = ReadInt(u"LANGUAGE", u"ShowDialogue", 0, m_strFilePath) != 0;
    m_nDebugLevel = ReadInt(u"DEBUG", u"level", 0, m_strFilePath);
    m_bFileExist = CanOpenForReading(strPath);
}

CConfigFileManager::~CConfigFileManager() = default;

bool CConfigFileManager::IsFileExist()
{
    return m_bFileExist;
}

std::u16string CConfigFileManager::GetWebsite()
{
    return m_strWebsite;
}

std::u16string CConfigFileManager::GetRecordPath()
{
    return m_strRecordPath;
}

bool CConfigFileManager::IsEncrypt()
{
    return m_bEncrypt;
}

int CConfigFileManager::GetLanguageID()
{
    return m_nLanguageID;
}

bool CConfigFileManager::IsShowDialogue()
{
    return m_bShowDialogue;
}

int CConfigFileManager::GetDebugLevel()
{
    return m_nDebugLevel;
}

bool CConfigFileManager::SetLanguageID(int nLanguageID)
{
    VLOG(3, "CConfigFileManager::SetLanguageID: beg { m_bFileExist:%d, nLanguageID:%d", m_bFileExist ? 1 : 0,
         nLanguageID);
    m_nLanguageID = nLanguageID;
    if (!m_bFileExist) {
        VLOG(1, "CConfigFileManager::SetLanguageID: end } !m_bFileExist");
        return false;
    }
    char16_t szID[16] = {};
    const std::u16string strID = Utf8ToWide(std::to_string(nLanguageID));
    strID.copy(szID, sizeof(szID) / sizeof(szID[0]) - 1);
    const bool bRet = WritePrivateProfileString(u"LANGUAGE", u"ID", szID, m_strFilePath.c_str()) != FALSE;
    VLOG(3, "CConfigFileManager::SetLanguageID: end } bRet:%d", bRet ? 1 : 0);
    return bRet;
}

bool CConfigFileManager::SetShowDialogue(bool bShow)
{
    m_bShowDialogue = bShow;
    if (!m_bFileExist)
        return false;
    return WritePrivateProfileString(u"LANGUAGE", u"ShowDialogue", bShow ? u"1" : u"0",
                                     m_strFilePath.c_str()) != FALSE;
}

std::u16string CConfigFileManager::GetWindowValue(const char16_t* pszKey)
{
    return ReadWide(u"WINDOW", pszKey, u"", m_strFilePath);
}

bool CConfigFileManager::SetWindowValue(const char16_t* pszKey, const std::u16string& strValue)
{
    if (!m_bFileExist)
        return false;
    return WritePrivateProfileString(u"WINDOW", pszKey, strValue.c_str(), m_strFilePath.c_str()) != FALSE;
}

std::u16string CConfigFileManager::GetGridValue(const char16_t* pszKey)
{
    return ReadWide(u"LIVEGRID", pszKey, u"", m_strFilePath);
}

bool CConfigFileManager::SetGridValue(const char16_t* pszKey, const std::u16string& strValue)
{
    if (!m_bFileExist)
        return false;
    return WritePrivateProfileString(u"LIVEGRID", pszKey, strValue.c_str(), m_strFilePath.c_str()) != FALSE;
}

std::u16string CConfigFileManager::GetPcRecordValue(const char16_t* pszKey)
{
    return ReadWide(u"PCRECORD", pszKey, u"", m_strFilePath);
}

bool CConfigFileManager::SetPcRecordValue(const char16_t* pszKey, const std::u16string& strValue)
{
    if (!m_bFileExist)
        return false;
    return WritePrivateProfileString(u"PCRECORD", pszKey, strValue.c_str(), m_strFilePath.c_str()) != FALSE;
}

std::u16string CConfigFileManager::GetRtspShareValue(const char16_t* pszKey)
{
    return ReadWide(u"RTSPSHARE", pszKey, u"", m_strFilePath);
}

bool CConfigFileManager::SetRtspShareValue(const char16_t* pszKey, const std::u16string& strValue)
{
    if (!m_bFileExist)
        return false;
    return WritePrivateProfileString(u"RTSPSHARE", pszKey, strValue.c_str(), m_strFilePath.c_str()) != FALSE;
}

// ---------------------------------------------------------------------------------------

CConfigCameraType::CConfigCameraType(const std::string& strFolder)
{
    const std::string strPath = FilePath(strFolder, "CameraType.ini");
    m_bFileExist = CanOpenForReading(strPath);
    if (!m_bFileExist) {
        VLOG(1, "CConfigCameraType::CConfigCameraType: end } cannot open %s", strPath.c_str());
        return;
    }
    LoadSection(strPath, "TYPE_D", m_mapTypeD, &m_mapTypeAll);
    LoadSection(strPath, "TYPE_M", m_mapTypeM, &m_mapTypeAll);
    LoadSection(strPath, "TYPE_HD", m_mapTypeHD, &m_mapTypeAll);
    LoadSection(strPath, "SUBTYPE", m_mapSubType, nullptr);
    VLOG(3, "CConfigCameraType::CConfigCameraType: end } types:%zu, subtypes:%zu", m_mapTypeAll.size(),
         m_mapSubType.size());
}

CConfigCameraType::~CConfigCameraType() = default;

void CConfigCameraType::LoadSection(const std::string& strFile, const char* pszSection,
                                    std::map<int, std::string>& mapSection,
                                    std::map<int, std::string>* pMapAll)
{
    char szBuffer[kSectionBytes] = {};
    const DWORD dwLength = GetPrivateProfileSection(pszSection, szBuffer, kSectionBytes, strFile.c_str());
    // The lines are read as far as the returned length goes. A section too large for the
    // buffer ends in a cut line, which still counts: its code, and so the model's family, is
    // whole; only its name is short.
    std::size_t nPos = 0;
    while (nPos < dwLength) {
        const char* pszLine = szBuffer + nPos;
        const std::size_t nLen = strnlen(pszLine, dwLength - nPos);
        if (nPos + nLen >= dwLength)
            VLOG(2, "CConfigCameraType::LoadSection: [%s] line cut by the buffer: %.*s", pszSection,
                 int(nLen), pszLine);
        nPos += nLen + 1;
        const char* pszEqual = static_cast<const char*>(std::memchr(pszLine, '=', nLen));
        if (pszEqual == nullptr)
            continue;
        const int nKey = DecimalKey(std::string(pszLine, pszEqual));
        if (nKey == 0)
            continue;
        const std::string strValue(pszEqual + 1, pszLine + nLen);
        mapSection.emplace(nKey, strValue);
        if (pMapAll != nullptr)
            pMapAll->emplace(nKey, strValue);
    }
}

DWORD CConfigCameraType::GetCameraUIType(int nType) const
{
    if (m_mapTypeD.count(nType) != 0)
        return 1;
    if (m_mapTypeM.count(nType) != 0)
        return 2;
    if (m_mapTypeHD.count(nType) != 0)
        return 3;
    return 0;
}

std::string CConfigCameraType::GetCameraTypeName(int nType, int nSubType, bool bWireless) const
{
    const auto itType = m_mapTypeAll.find(nType);
    if (itType == m_mapTypeAll.end())
        return {};
    std::string strName;
    const auto itSub = m_mapSubType.find(nSubType);
    if (itSub != m_mapSubType.end())
        strName = itSub->second;
    strName += itType->second;
    if (bWireless)
        strName += 'W';
    return strName;
}

// ---------------------------------------------------------------------------------------

CConfigFileDServer::CConfigFileDServer(const std::string& strFolder)
{
    const std::string strPath = FilePath(strFolder, "Vistrel.ini");
    m_bFileExist = CanOpenForReading(strPath);
    if (!m_bFileExist) {
        VLOG(1, "CConfigFileDServer::CConfigFileDServer: end } cannot open %s", strPath.c_str());
        return;
    }
    const std::u16string strFile = Utf8ToWide(strPath);
    m_bSet = ReadInt(u"SERVER", u"set", 0, strFile) != 0;
    int nCount = ReadInt(u"SERVER", u"servernum", 0, strFile);
    if (nCount > MAX_DSERVER_COUNT) {
        VLOG(1, "CConfigFileDServer::CConfigFileDServer: servernum:%d, reading %d", nCount,
             MAX_DSERVER_COUNT);
        nCount = MAX_DSERVER_COUNT;
    }
    for (int i = 1; i <= nCount; ++i) {
        char szSection[32];
        std::snprintf(szSection, sizeof(szSection), "%s%d", "server_", i);
        const std::u16string strSection = Utf8ToWide(szSection);
        m_vecServerName.push_back(ReadWide(strSection.c_str(), u"name", u"Unknown", strFile));
        m_vecServerUrl.push_back(ReadWide(strSection.c_str(), u"url", u"0.0.0.0", strFile));
    }
    VLOG(3, "CConfigFileDServer::CConfigFileDServer: end } m_bSet:%d, servers:%d", m_bSet ? 1 : 0,
         GetServerCount());
}

CConfigFileDServer::~CConfigFileDServer() = default;

std::u16string CConfigFileDServer::GetServerName(int nIndex) const
{
    FATAL_CHECK(nIndex >= 1 && nIndex <= GetServerCount(), "server %d of %d", nIndex, GetServerCount());
    return m_vecServerName[static_cast<std::size_t>(nIndex - 1)];
}

std::u16string CConfigFileDServer::GetServerUrl(int nIndex) const
{
    FATAL_CHECK(nIndex >= 1 && nIndex <= GetServerCount(), "server %d of %d", nIndex, GetServerCount());
    return m_vecServerUrl[static_cast<std::size_t>(nIndex - 1)];
}

std::u16string CConfigFileDServer::GetServerNameByUrl(const std::u16string& strUrl) const
{
    for (std::size_t i = 0; i < m_vecServerUrl.size(); ++i) {
        if (m_vecServerUrl[i] == strUrl)
            return m_vecServerName[i];
    }
    return {};
}

// ---------------------------------------------------------------------------------------

CConfigFileManager* GetConfigFileManager()
{
    static CConfigFileManager manager(GetProgramFolder());
    return &manager;
}

CConfigCameraType* GetConfigCameraType()
{
    static CConfigCameraType cameraType(GetProgramFolder());
    return &cameraType;
}

CConfigFileDServer* GetConfigFileDServer()
{
    static CConfigFileDServer dserver(GetProgramFolder());
    return &dserver;
}
