#include "download/downloadrecord.h"

#include "core/log.h"
#include "device/deviceinfo.h"
#include "download/downloadenv.h"
#include "platform/codepage.h"

#include "media/avi/aviwriter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <sys/stat.h>

namespace {

// Length of "yymmddhhmmss-yymmddhhmmss.avi".
constexpr std::size_t FILE_NAME_LEN = 29;
constexpr std::size_t STAMP_LEN = 12;
// Folder names stay well inside the file system's 255-byte limit.
constexpr std::size_t MAX_FOLDER_BYTES = 200;

bool ParseStamp(const std::string& strDigits, std::tm& tm)
{
    long long llValue = 0;
    for (const char ch : strDigits) {
        if (ch < '0' || ch > '9')
            return false;
        llValue = llValue * 10 + (ch - '0');
    }
    if (llValue == 0)
        return false;
    tm = {};
    tm.tm_sec = static_cast<int>(llValue % 100);
    tm.tm_min = static_cast<int>(llValue / 100 % 100);
    tm.tm_hour = static_cast<int>(llValue / 10000 % 100);
    tm.tm_mday = static_cast<int>(llValue / 1000000 % 100);
    tm.tm_mon = static_cast<int>(llValue / 100000000 % 100) - 1;
    tm.tm_year = static_cast<int>(llValue / 10000000000LL % 100) + 2000 - 1900;
    return true;
}

} // namespace

namespace {

// The device name as one safe folder name (no separators, no "." or "..", no control or
// reserved characters, whole UTF-8 characters within MAX_FOLDER_BYTES); empty when nothing is left.
std::string CleanName(const char16_t* pszName)
{
    std::string strName = WideToUtf8(pszName != nullptr ? std::u16string(pszName) : std::u16string());
    for (char& ch : strName) {
        const unsigned char uch = static_cast<unsigned char>(ch);
        if (uch < 0x20 || uch == 0x7F || std::strchr("/\\<>:\"|?*", ch) != nullptr)
            ch = '_';
    }
    // Leading and trailing blanks and trailing dots make names other systems cannot open.
    const std::size_t nFirst = strName.find_first_not_of(' ');
    strName = nFirst == std::string::npos ? std::string() : strName.substr(nFirst);
    while (!strName.empty() && (strName.back() == ' ' || strName.back() == '.'))
        strName.pop_back();
    if (strName.size() > MAX_FOLDER_BYTES) {
        std::size_t nCut = MAX_FOLDER_BYTES;
        while (nCut > 0 && (static_cast<unsigned char>(strName[nCut]) & 0xC0) == 0x80)
            --nCut; // not inside a UTF-8 sequence
        strName.resize(nCut);
        while (!strName.empty() && (strName.back() == ' ' || strName.back() == '.'))
            strName.pop_back();
    }
    if (strName == "." || strName == "..")
        strName.clear();
    return strName;
}

// The serial number as the camera sends it (up to VIEWER_SERIAL_LEN bytes, not always ended)
// in letters, digits, '-' and '_' alone; "camera-<id>" when it has none.
std::string SerialKey(const char* pszSerial, std::size_t nMax, DWORD dwID)
{
    std::string strKey;
    for (std::size_t i = 0; pszSerial != nullptr && i < nMax && pszSerial[i] != 0; ++i) {
        const char ch = pszSerial[i];
        strKey += std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_' ? ch : '_';
    }
    if (strKey.empty() || strKey.find_first_not_of('_') == std::string::npos)
        strKey = "camera-" + std::to_string(dwID);
    return strKey;
}

// The first 326 bytes of one of our AVI files, the chunk headers after them: a file holds
// video when its header counts video chunks and the first one is a frame start ("00db"), as
// every file this program names starts. A file cut off before its header was rewritten counts
// none.
bool AviHoldsVideo(const std::string& strPath)
{
    std::FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (pFile == nullptr)
        return false;
    BYTE abyHeader[AVIWriter::HEADER_LEN];
    bool bVideo = std::fread(abyHeader, 1, sizeof abyHeader, pFile) == sizeof abyHeader &&
                  std::memcmp(abyHeader, "RIFF", 4) == 0 && std::memcmp(abyHeader + 8, "AVI ", 4) == 0 &&
                  std::memcmp(abyHeader + 322, "movi", 4) == 0;
    auto le32 = [](const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24; };
    bVideo = bVideo && le32(abyHeader + 48) > 0; // avih total frames: the video chunks
    // The first video chunk, past any audio before it.
    for (int nChunk = 0; bVideo && nChunk < 256; ++nChunk) {
        BYTE abyChunk[8];
        if (std::fread(abyChunk, 1, sizeof abyChunk, pFile) != sizeof abyChunk) {
            bVideo = false;
            break;
        }
        if (std::memcmp(abyChunk, "00db", 4) == 0)
            break;
        const DWORD dwLen = le32(abyChunk + 4);
        if (std::memcmp(abyChunk, "01wb", 4) != 0 || std::fseek(pFile, dwLen + (dwLen & 1), SEEK_CUR) != 0)
            bVideo = false;
    }
    std::fclose(pFile);
    return bVideo;
}

} // namespace

std::string MakeLegacyDownloadFolder(const std::string& strRecordPath, const char16_t* pszName, DWORD dwID)
{
    const std::string strName = CleanName(pszName);
    return strRecordPath + (strName.empty() ? "camera-" + std::to_string(dwID) : strName) + "/";
}

std::string MakeDownloadFolder(const std::string& strRecordPath, const char16_t* pszName,
                               const char* pszSerial, std::size_t nSerialMax, DWORD dwID)
{
    const std::string strName = CleanName(pszName);
    const std::string strKey = SerialKey(pszSerial, nSerialMax, dwID);
    return strRecordPath + (strName.empty() ? strKey : strName + " (" + strKey + ")") + "/";
}

std::string MakeDownloadFolder(const std::string& strRecordPath, const DeviceInfo& device)
{
    return MakeDownloadFolder(strRecordPath, device.GetName(), device.stItem.szSerial, VIEWER_SERIAL_LEN,
                              device.GetID());
}

CDownloadRecord::CDownloadRecord(DeviceInfo* pDevice, IDownloadEnv* pEnv) : m_pDevice(pDevice), m_pEnv(pEnv)
{
    FATAL_CHECK(m_pDevice != nullptr && m_pEnv != nullptr);
    m_strFolder = MakeDownloadFolder(m_pEnv->GetRecordPath(), *m_pDevice);
    m_pEnv->SendStopDownload(m_pDevice->GetID());
}

CDownloadRecord::~CDownloadRecord()
{
    DestroyWriter(false);
}

bool CDownloadRecord::IsRecordAlreadyDownload()
{
    m_listHave.clear();
    m_listNeed.clear();
    CalcHaveTime();
    CalcNeedTime();
    return m_listNeed.empty();
}

std::vector<std::string> CDownloadRecord::GetHaveFolders() const
{
    std::vector<std::string> vecFolders{m_strFolder};
    // The layout before the serial number was part of the folder: <name>/. Its files are this
    // camera's only while no other camera known by the same name could have written them.
    const std::string strLegacy =
        MakeLegacyDownloadFolder(m_pEnv->GetRecordPath(), m_pDevice->GetName(), m_pDevice->GetID());
    if (strLegacy == m_strFolder)
        return vecFolders;
    for (const DeviceInfo* pOther : m_pEnv->GetKnownDevices()) {
        if (pOther != nullptr && pOther->GetID() != m_pDevice->GetID() &&
            MakeLegacyDownloadFolder(m_pEnv->GetRecordPath(), pOther->GetName(), pOther->GetID()) ==
                strLegacy) {
            VLOG(3, "CDownloadRecord::CalcHaveTime: %s is also id %u's name, its files are not read",
                 strLegacy.c_str(), pOther->GetID());
            return vecFolders;
        }
    }
    vecFolders.push_back(strLegacy);
    return vecFolders;
}

void CDownloadRecord::CalcHaveTime()
{
    // Enumerated in name order, which is time order; a name in both folders counts once.
    std::map<std::string, std::vector<std::string>> mapNames;
    for (const std::string& strFolder : GetHaveFolders()) {
        DIR* pDir = opendir(strFolder.c_str());
        if (pDir == nullptr) {
            VLOG(3, "CDownloadRecord::CalcHaveTime: no folder %s", strFolder.c_str());
            continue;
        }
        while (const dirent* pEntry = readdir(pDir)) {
            const std::string strName = pEntry->d_name;
            if (strName.empty() || strName[0] == '.' || strName.size() < 4 ||
                strName.compare(strName.size() - 4, 4, ".avi") != 0)
                continue;
            struct stat st {};
            if (stat((strFolder + strName).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
                continue;
            mapNames[strName].push_back(strFolder + strName);
        }
        closedir(pDir);
    }
    for (const auto& [strName, vecPaths] : mapNames) {
        // The name says which seconds a file holds only when it holds video at all.
        if (strName.size() == FILE_NAME_LEN &&
            std::none_of(vecPaths.begin(), vecPaths.end(),
                         [](const std::string& p) { return AviHoldsVideo(p); })) {
            VLOG(3, "CDownloadRecord::CalcHaveTime: %s holds no video, not counted", strName.c_str());
            continue;
        }
        AddMapTime(strName);
    }
}

void CDownloadRecord::AddMapTime(const std::string& strFile)
{
    if (strFile.size() != FILE_NAME_LEN || strFile[STAMP_LEN] != '-') {
        VLOG(3, "CDownloadRecord::AddMapTime: szFile name is not in right format %s", strFile.c_str());
        return;
    }
    std::tm tmStart{};
    std::tm tmEnd{};
    if (!ParseStamp(strFile.substr(0, STAMP_LEN), tmStart) ||
        !ParseStamp(strFile.substr(STAMP_LEN + 1, STAMP_LEN), tmEnd)) {
        VLOG(3, "CDownloadRecord::AddMapTime: szFile timename is not in right format %s", strFile.c_str());
        return;
    }
    // The names were made from the record times without time-zone conversion; converting
    // back the same way also holds across daylight-saving changes.
    tmEnd.tm_sec += 1;
    const DWORD dwStart = static_cast<DWORD>(timegm(&tmStart));
    const DWORD dwEnd = static_cast<DWORD>(timegm(&tmEnd));
    if (dwStart >= dwEnd) {
        VLOG(3, "CDownloadRecord::AddMapTime: szFile timename is not in right format %s", strFile.c_str());
        return;
    }
    // A have pair ends one second after its file's last second (that second is on disk whole),
    // so a file that starts at that end continues the pair; one that starts a second later
    // leaves a second between them that no file holds. (The design's "more than one second
    // after" was made for ends that name the last second itself.)
    if (m_listHave.empty() || dwStart > m_listHave.back().second)
        m_listHave.emplace_back(dwStart, dwEnd);
    else if (dwEnd > m_listHave.back().second)
        m_listHave.back().second = dwEnd;
}

void CDownloadRecord::CalcNeedTime()
{
    // Need ranges end on their last second (the end is fetched too) while a have pair ends one
    // second after its file: a file ending one second before the requested end still leaves
    // that second to fetch.
    DWORD s = m_pDevice->dwDownloadStart;
    const DWORD e = m_pDevice->dwDownloadEnd;
    for (const TimeRange& have : m_listHave) {
        if (s > e)
            break;
        if (s < have.first) {
            m_listNeed.emplace_back(s, std::min(have.first - 1, e));
            s = have.second;
        } else if (s <= have.second) {
            s = have.second;
        }
    }
    if (s <= e)
        m_listNeed.emplace_back(s, e);
}

void CDownloadRecord::Download()
{
    FATAL_CHECK(!m_listNeed.empty());
    m_pDevice->dwReceiveTime = 0;
    m_pDevice->dwReceiveKB = 0;
    m_pDevice->dwReceiveRemainder = 0;
    m_pDevice->dwMaxContinuousAck = 0;
    const TimeRange range = m_listNeed.front();
    VLOG(3, "CDownloadRecord::Download: beg { id:%d, start:%u, end:%u", static_cast<int>(m_pDevice->GetID()),
         range.first, range.second);
    m_pEnv->SendStartDownload(m_pDevice->GetID(), range.first, range.second);
    m_pWriter = std::make_unique<CDownloadRecordAVI>(range.first, range.second, m_strFolder);
    m_pWriter->SetMaxFileMiBForTest(m_dwMaxFileMiB);
}

void CDownloadRecord::DestroyWriter(bool bWhole)
{
    if (m_pWriter == nullptr)
        return;
    m_pWriter->CloseAviFile(bWhole); // finalises and names the last file
    m_nFiles += m_pWriter->GetFileCount();
    if (m_pWriter->GetFailure() != DownloadFailure::NONE && m_enFailure == DownloadFailure::NONE) {
        m_enFailure = m_pWriter->GetFailure();
        m_strFailure = m_pWriter->GetFailureText();
    }
    m_pWriter.reset();
}

bool CDownloadRecord::DownloadNext()
{
    m_pEnv->SendStopDownload(m_pDevice->GetID());
    DestroyWriter(true);
    m_mapReorder.clear();
    m_nHeldBytes = 0;
    if (!m_listNeed.empty())
        m_listNeed.pop_front();
    if (m_listNeed.empty() || m_enFailure != DownloadFailure::NONE)
        return false;
    Download();
    return true;
}

void CDownloadRecord::CancelDownload()
{
    m_pEnv->SendStopDownload(m_pDevice->GetID());
    m_listNeed.clear();
    m_mapReorder.clear();
    m_nHeldBytes = 0;
    DestroyWriter(false);
}

void CDownloadRecord::CheckTask()
{
    const DWORD dwTime = m_pDevice->GetReceiveTime();
    const DWORD dwAck = m_pDevice->GetMaxContinuousAck();
    const DWORD dwKB = m_pDevice->GetReceiveData();
    if (dwTime == m_dwLastReceiveTime || dwAck == m_dwLastMaxContinuousAck || dwKB == m_dwLastReceiveKB) {
        m_dwLastReceiveTime = 0;
        m_dwLastMaxContinuousAck = 0;
        m_dwLastReceiveKB = 0;
        VLOG(3,
             "CDownloadRecord::CheckTask: no data GetReceiveTime:%d, GetMaxContinuousAck:%d, "
             "GetReceiveData:%d",
             static_cast<int>(dwTime), static_cast<int>(dwAck), static_cast<int>(dwKB));
        return;
    }
    m_dwLastReceiveTime = dwTime;
    m_dwLastMaxContinuousAck = dwAck;
    m_dwLastReceiveKB = dwKB;
}

void CDownloadRecord::WriteFrame(const DownloadFrame& frame)
{
    if (m_pWriter == nullptr || m_enFailure != DownloadFailure::NONE)
        return;
    m_pWriter->FeedMediaData(frame);
    if (m_pWriter->GetFailure() != DownloadFailure::NONE) {
        m_enFailure = m_pWriter->GetFailure();
        m_strFailure = m_pWriter->GetFailureText();
        VLOG(1, "CDownloadRecord::FeedMediaData: id:%d stops: %s", static_cast<int>(m_pDevice->GetID()),
             m_strFailure.c_str());
    }
}

bool CDownloadRecord::IsKept(DWORD dwSendSeq) const
{
    return dwSendSeq < m_pDevice->dwMaxContinuousAck || m_mapReorder.count(dwSendSeq) != 0;
}

void CDownloadRecord::FeedMediaData(const DownloadFrame& frame, DWORD dwSendSeq)
{
    DWORD a = m_pDevice->dwMaxContinuousAck;
    if (dwSendSeq < a) {
        VLOG(4, "CDownloadRecord::FeedMediaData: old uSendSeq:%u, unMaxContinuousAck:%u", dwSendSeq, a);
        return;
    }
    if (dwSendSeq == a) {
        WriteFrame(frame);
        ++a;
        m_pDevice->dwReceiveTime = DownloadMediaTime(frame);
    } else if (dwSendSeq - a > REORDER_WINDOW || m_nHeldBytes + frame.stFrame.nLen > REORDER_MAX_BYTES) {
        // The camera resends it: it is not acknowledged as continuous.
        VLOG(2, "CDownloadRecord::FeedMediaData: too far ahead uSendSeq:%u, unMaxContinuousAck:%u, held:%u",
             dwSendSeq, a, static_cast<unsigned>(m_mapReorder.size()));
    } else if (m_mapReorder.count(dwSendSeq) == 0) {
        HeldFrame& held = m_mapReorder[dwSendSeq];
        held.vecData.assign(frame.stFrame.pData, frame.stFrame.pData + frame.stFrame.nLen);
        held.frame = frame;
        held.frame.stFrame.pData = held.vecData.data();
        // The packet view points into the socket buffer; nothing after this call may use it.
        held.frame.pPacket = nullptr;
        m_nHeldBytes += held.vecData.size();
    } else {
        VLOG(4, "CDownloadRecord::FeedMediaData: uSendSeq:%d", static_cast<int>(dwSendSeq));
    }
    for (auto it = m_mapReorder.begin(); it != m_mapReorder.end() && it->first == a;
         it = m_mapReorder.begin()) {
        WriteFrame(it->second.frame);
        m_pDevice->dwReceiveTime = DownloadMediaTime(it->second.frame);
        m_nHeldBytes -= it->second.vecData.size();
        m_mapReorder.erase(it);
        ++a;
    }
    const std::uint64_t ullBytes =
        static_cast<std::uint64_t>(m_pDevice->dwReceiveRemainder) + DownloadRawLen(frame);
    m_pDevice->dwReceiveKB += static_cast<DWORD>(ullBytes / 1024);
    m_pDevice->dwReceiveRemainder = static_cast<DWORD>(ullBytes % 1024);
    m_pDevice->dwMaxContinuousAck = a;
}
