#include "pcrec/pcrecindex.h"

#include "core/log.h"
#include "pcrec/segmentwriter.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// A prepared statement, finalised when it goes.
class CStatement {
public:
    CStatement(sqlite3* pDb, const char* pszSql) { sqlite3_prepare_v2(pDb, pszSql, -1, &m_p, nullptr); }
    ~CStatement() { sqlite3_finalize(m_p); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;
    bool Ok() const { return m_p != nullptr; }
    CStatement& Bind(int n, std::int64_t ll)
    {
        sqlite3_bind_int64(m_p, n, ll);
        return *this;
    }
    CStatement& Bind(int n, const std::string& str)
    {
        sqlite3_bind_text(m_p, n, str.c_str(), static_cast<int>(str.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool Step() { return m_p != nullptr && sqlite3_step(m_p) == SQLITE_ROW; }
    bool Run() { return m_p != nullptr && sqlite3_step(m_p) == SQLITE_DONE; }
    std::int64_t Int(int n) const { return sqlite3_column_int64(m_p, n); }
    bool IsNull(int n) const { return sqlite3_column_type(m_p, n) == SQLITE_NULL; }
    std::string Text(int n) const
    {
        const unsigned char* p = sqlite3_column_text(m_p, n);
        return p != nullptr ? reinterpret_cast<const char*>(p) : "";
    }

private:
    sqlite3_stmt* m_p = nullptr;
};

constexpr const char* SEGMENT_COLUMNS =
    "id, serial, path, start_ms, end_ms, bytes, frames, codec, width, height, audio, writing, interrupted";

PcSegment ReadSegment(const CStatement& st)
{
    PcSegment s;
    s.llID = st.Int(0);
    s.strSerial = st.Text(1);
    s.strPath = st.Text(2);
    s.llStartMs = st.Int(3);
    s.llEndMs = st.Int(4);
    s.llBytes = st.Int(5);
    s.llFrames = st.Int(6);
    s.strCodec = st.Text(7);
    s.nWidth = static_cast<int>(st.Int(8));
    s.nHeight = static_cast<int>(st.Int(9));
    s.bAudio = st.Int(10) != 0;
    s.bWriting = st.Int(11) != 0;
    s.bInterrupted = st.Int(12) != 0;
    return s;
}

std::int64_t FileSize(const fs::path& path)
{
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::int64_t>(n);
}

} // namespace

std::string SafeSerial(const std::string& strSerial)
{
    std::string str = strSerial;
    for (char& c : str) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    }
    return str;
}

std::string SegmentPathFor(const std::string& strSerial, std::int64_t llStartMs)
{
    const std::time_t t = static_cast<std::time_t>(llStartMs / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char szDay[16];
    char szTime[32];
    std::strftime(szDay, sizeof szDay, "%Y-%m-%d", &tm);
    std::strftime(szTime, sizeof szTime, "%Y%m%dT%H%M%S", &tm);
    char szMs[8];
    std::snprintf(szMs, sizeof szMs, ".%03dZ", static_cast<int>(llStartMs % 1000));
    return strSerial + "/" + szDay + "/" + strSerial + "_" + szTime + szMs + ".mp4";
}

bool ParseSegmentName(const std::string& strFileName, std::string& strSerial, std::int64_t& llStartMs)
{
    // <serial>_YYYYMMDDTHHMMSS.mmmZ.mp4
    constexpr std::size_t TAIL = 15 + 5 + 4;
    const std::size_t nUnderscore = strFileName.rfind('_');
    if (nUnderscore == std::string::npos || nUnderscore == 0 || strFileName.size() - nUnderscore - 1 != TAIL)
        return false;
    const std::string strTail = strFileName.substr(nUnderscore + 1);
    std::tm tm{};
    int nMs = 0;
    char chZ = 0;
    if (std::sscanf(strTail.c_str(), "%4d%2d%2dT%2d%2d%2d.%3d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &nMs, &chZ) != 8 ||
        chZ != 'Z' || strTail.compare(strTail.size() - 4, 4, ".mp4") != 0)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    strSerial = strFileName.substr(0, nUnderscore);
    llStartMs = static_cast<std::int64_t>(timegm(&tm)) * 1000 + nMs;
    return true;
}

CPcRecIndex::~CPcRecIndex()
{
    Close();
}

void CPcRecIndex::Close()
{
    if (m_pDb != nullptr)
        sqlite3_close(m_pDb);
    m_pDb = nullptr;
}

bool CPcRecIndex::Exec(const char* pszSql)
{
    char* pszError = nullptr;
    const int nRet = sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, &pszError);
    if (nRet != SQLITE_OK)
        VLOG(1, "CPcRecIndex: %s: %s", pszSql, pszError != nullptr ? pszError : "?");
    sqlite3_free(pszError);
    return nRet == SQLITE_OK;
}

bool CPcRecIndex::MakeSchema()
{
    // Another process (the client beside vistrel-cli) may hold the database a moment.
    sqlite3_busy_timeout(m_pDb, 2000);
    return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
           Exec("CREATE TABLE IF NOT EXISTS segments (id INTEGER PRIMARY KEY, serial TEXT NOT NULL, "
                "path TEXT NOT NULL UNIQUE, start_ms INTEGER NOT NULL, end_ms INTEGER NOT NULL, "
                "bytes INTEGER NOT NULL, frames INTEGER NOT NULL, codec TEXT NOT NULL, width INTEGER NOT "
                "NULL, "
                "height INTEGER NOT NULL, audio INTEGER NOT NULL, writing INTEGER NOT NULL, "
                "interrupted INTEGER NOT NULL)") &&
           Exec("CREATE INDEX IF NOT EXISTS segments_time ON segments (serial, start_ms)") &&
           Exec("CREATE TABLE IF NOT EXISTS gaps (id INTEGER PRIMARY KEY, serial TEXT NOT NULL, "
                "start_ms INTEGER NOT NULL, end_ms INTEGER NOT NULL)") &&
           Exec("CREATE INDEX IF NOT EXISTS gaps_time ON gaps (serial, start_ms)") &&
           Exec("CREATE TABLE IF NOT EXISTS cameras (serial TEXT PRIMARY KEY, name TEXT NOT NULL)");
}

bool CPcRecIndex::IsHealthy()
{
    CStatement st(m_pDb, "PRAGMA quick_check");
    return st.Ok() && st.Step() && st.Text(0) == "ok";
}

bool CPcRecIndex::Open(const std::string& strFolder, bool bRebuild, std::string& strError, bool bSync)
{
    Close();
    m_strFolder = strFolder;
    m_bRebuilt = false;
    std::error_code ec;
    fs::create_directories(strFolder, ec);
    const fs::path db = fs::path(strFolder) / FILE_NAME;
    const bool bExisted = fs::exists(db, ec);
    // The whole check reads the whole file: the recorder makes it at its start; a reader finds
    // a database that is no database by its first statement.
    bool bOk = sqlite3_open(db.c_str(), &m_pDb) == SQLITE_OK && (!bSync || IsHealthy()) && MakeSchema();
    if (!bOk || bRebuild) {
        // Damaged, or asked for: put aside (a person may want to look at it) and start over
        // from the files.
        if (!bOk)
            VLOG(1, "CPcRecIndex: %s is damaged; rebuilt from the files", db.c_str());
        Close();
        for (const char* pszTail : {"", "-wal", "-shm"}) {
            const fs::path path = db.string() + pszTail;
            if (!bOk && *pszTail == 0)
                fs::rename(path, db.string() + ".damaged", ec);
            else
                fs::remove(path, ec);
        }
        if (sqlite3_open(db.c_str(), &m_pDb) != SQLITE_OK || !MakeSchema()) {
            strError = "cannot make the index " + db.string() + ": " + sqlite3_errmsg(m_pDb);
            Close();
            return false;
        }
        m_bRebuilt = true;
    } else {
        m_bRebuilt = !bExisted;
    }
    if (bSync || m_bRebuilt)
        Sync();
    if (m_bRebuilt)
        DeriveGaps();
    return true;
}

int CPcRecIndex::Sync(const std::set<std::string>& setActive)
{
    int nChanged = 0;
    Begin();
    std::set<std::string> setKnown;
    std::vector<PcSegment> vecRows;
    {
        CStatement st(m_pDb, (std::string("SELECT ") + SEGMENT_COLUMNS + " FROM segments").c_str());
        while (st.Step())
            vecRows.push_back(ReadSegment(st));
    }
    const fs::path folder(m_strFolder);
    for (const PcSegment& row : vecRows) {
        std::error_code ec;
        const fs::path path = folder / row.strPath;
        if (!fs::exists(path, ec)) {
            CStatement(m_pDb, "DELETE FROM segments WHERE id = ?").Bind(1, row.llID).Run();
            ++nChanged;
            continue;
        }
        setKnown.insert(row.strPath);
        if (row.bWriting && setActive.count(row.strPath) == 0) {
            // Its writer died: what it holds up to its last whole fragment is the segment; one
            // that died before its first fragment holds nothing worth keeping.
            const SegmentProbe probe = ProbeSegment(path.string());
            if (probe.llFrames == 0) {
                fs::remove(path, ec);
                CStatement(m_pDb, "DELETE FROM segments WHERE id = ?").Bind(1, row.llID).Run();
                ++nChanged;
                continue;
            }
            CStatement(m_pDb, "UPDATE segments SET writing = 0, interrupted = 1, end_ms = ?, frames = ?, "
                              "bytes = ? WHERE id = ?")
                .Bind(1, row.llStartMs + probe.llMicros / 1000)
                .Bind(2, probe.llFrames)
                .Bind(3, FileSize(path))
                .Bind(4, row.llID)
                .Run();
            ++nChanged;
        }
    }
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->path().extension() != ".mp4")
            continue;
        const std::string strRelative = fs::relative(it->path(), folder, ec).string();
        std::string strSerial;
        std::int64_t llStartMs = 0;
        if (setKnown.count(strRelative) != 0 ||
            !ParseSegmentName(it->path().filename().string(), strSerial, llStartMs))
            continue;
        const SegmentProbe probe = ProbeSegment(it->path().string());
        if (!probe.bOk) {
            VLOG(2, "CPcRecIndex: %s holds no picture; not adopted", it->path().c_str());
            continue;
        }
        PcSegment s;
        s.strSerial = strSerial;
        s.strPath = strRelative;
        s.llStartMs = llStartMs;
        s.llEndMs = llStartMs + probe.llMicros / 1000;
        s.llBytes = FileSize(it->path());
        s.llFrames = probe.llFrames;
        s.strCodec = probe.strCodec;
        s.nWidth = probe.nWidth;
        s.nHeight = probe.nHeight;
        s.bAudio = probe.bAudio;
        s.bInterrupted = true;
        AddSegment(s);
        ++nChanged;
    }
    Commit();
    return nChanged;
}

void CPcRecIndex::DeriveGaps()
{
    Exec("DELETE FROM gaps");
    for (const std::string& strSerial : Cameras()) {
        const std::vector<PcSegment> vec = Segments(strSerial, INT64_MIN, INT64_MAX);
        for (std::size_t i = 1; i < vec.size(); ++i) {
            if (vec[i].llStartMs - vec[i - 1].llEndMs > GAP_MS)
                AddGap(strSerial, vec[i - 1].llEndMs, vec[i].llStartMs);
        }
    }
}

std::int64_t CPcRecIndex::AddSegment(const PcSegment& s)
{
    CStatement st(m_pDb,
                  "INSERT OR REPLACE INTO segments (serial, path, start_ms, end_ms, bytes, frames, codec, "
                  "width, height, audio, writing, interrupted) VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
    st.Bind(1, s.strSerial)
        .Bind(2, s.strPath)
        .Bind(3, s.llStartMs)
        .Bind(4, s.llEndMs)
        .Bind(5, s.llBytes)
        .Bind(6, s.llFrames)
        .Bind(7, s.strCodec)
        .Bind(8, s.nWidth)
        .Bind(9, s.nHeight)
        .Bind(10, s.bAudio ? 1 : 0)
        .Bind(11, s.bWriting ? 1 : 0)
        .Bind(12, s.bInterrupted ? 1 : 0);
    if (!st.Run()) {
        VLOG(1, "CPcRecIndex: cannot add %s: %s", s.strPath.c_str(), sqlite3_errmsg(m_pDb));
        return 0;
    }
    return sqlite3_last_insert_rowid(m_pDb);
}

bool CPcRecIndex::UpdateSegment(std::int64_t llID, std::int64_t llEndMs, std::int64_t llBytes,
                                std::int64_t llFrames, bool bFinished)
{
    CStatement st(m_pDb, "UPDATE segments SET end_ms = ?, bytes = ?, frames = ?, writing = ? WHERE id = ?");
    return st.Bind(1, llEndMs)
        .Bind(2, llBytes)
        .Bind(3, llFrames)
        .Bind(4, bFinished ? 0 : 1)
        .Bind(5, llID)
        .Run();
}

bool CPcRecIndex::AddGap(const std::string& strSerial, std::int64_t llStartMs, std::int64_t llEndMs)
{
    CStatement st(m_pDb, "INSERT INTO gaps (serial, start_ms, end_ms) VALUES (?,?,?)");
    return st.Bind(1, strSerial).Bind(2, llStartMs).Bind(3, llEndMs).Run();
}

std::int64_t CPcRecIndex::LastEnd(const std::string& strSerial)
{
    CStatement st(m_pDb, "SELECT end_ms FROM segments WHERE serial = ? ORDER BY start_ms DESC LIMIT 1");
    st.Bind(1, strSerial);
    return st.Step() ? st.Int(0) : -1;
}

bool CPcRecIndex::RemoveSegment(std::int64_t llID)
{
    std::string strSerial;
    {
        CStatement st(m_pDb, "SELECT serial FROM segments WHERE id = ?");
        st.Bind(1, llID);
        if (!st.Step())
            return false;
        strSerial = st.Text(0);
    }
    if (!CStatement(m_pDb, "DELETE FROM segments WHERE id = ?").Bind(1, llID).Run())
        return false;
    // A gap before the camera's oldest recording separates nothing any more.
    CStatement st(m_pDb,
                  "DELETE FROM gaps WHERE serial = ?1 AND end_ms <= "
                  "COALESCE((SELECT MIN(start_ms) FROM segments WHERE serial = ?1), 9223372036854775807)");
    return st.Bind(1, strSerial).Run();
}

std::vector<PcSegment> CPcRecIndex::Segments(const std::string& strSerial, std::int64_t llFromMs,
                                             std::int64_t llToMs)
{
    if (strSerial.empty()) {
        std::vector<PcSegment> vec;
        for (const std::string& strOne : Cameras()) {
            const std::vector<PcSegment> vecOne = Segments(strOne, llFromMs, llToMs);
            vec.insert(vec.end(), vecOne.begin(), vecOne.end());
        }
        return vec;
    }
    // A camera's segments do not overlap: those that start in the range, and the one before it
    // if it reaches in. Both read the (serial, start) index only where the range is.
    std::vector<PcSegment> vec;
    const std::string strColumns = std::string("SELECT ") + SEGMENT_COLUMNS + " FROM segments ";
    CStatement before(m_pDb,
                      (strColumns + "WHERE id = (SELECT id FROM segments WHERE serial = ?1 AND start_ms < ?2 "
                                    "ORDER BY start_ms DESC LIMIT 1) AND end_ms >= ?2")
                          .c_str());
    before.Bind(1, strSerial).Bind(2, llFromMs);
    if (before.Step())
        vec.push_back(ReadSegment(before));
    CStatement st(
        m_pDb,
        (strColumns + "WHERE serial = ?1 AND start_ms >= ?2 AND start_ms < ?3 ORDER BY start_ms").c_str());
    st.Bind(1, strSerial).Bind(2, llFromMs).Bind(3, llToMs);
    while (st.Step())
        vec.push_back(ReadSegment(st));
    return vec;
}

std::vector<PcGap> CPcRecIndex::Gaps(const std::string& strSerial, std::int64_t llFromMs, std::int64_t llToMs)
{
    if (strSerial.empty()) {
        std::vector<PcGap> vec;
        for (const std::string& strOne : Cameras()) {
            const std::vector<PcGap> vecOne = Gaps(strOne, llFromMs, llToMs);
            vec.insert(vec.end(), vecOne.begin(), vecOne.end());
        }
        return vec;
    }
    std::vector<PcGap> vec;
    CStatement before(m_pDb,
                      "SELECT serial, start_ms, end_ms FROM gaps WHERE id = (SELECT id FROM gaps WHERE "
                      "serial = ?1 AND start_ms < ?2 ORDER BY start_ms DESC LIMIT 1) AND end_ms > ?2");
    before.Bind(1, strSerial).Bind(2, llFromMs);
    if (before.Step())
        vec.push_back({before.Text(0), before.Int(1), before.Int(2)});
    CStatement st(m_pDb, "SELECT serial, start_ms, end_ms FROM gaps WHERE serial = ?1 AND start_ms >= ?2 AND "
                         "start_ms < ?3 ORDER BY start_ms");
    st.Bind(1, strSerial).Bind(2, llFromMs).Bind(3, llToMs);
    while (st.Step())
        vec.push_back({st.Text(0), st.Int(1), st.Int(2)});
    return vec;
}

std::vector<std::string> CPcRecIndex::Cameras()
{
    // One step through the (serial, start) index per camera, not one per segment.
    std::vector<std::string> vec;
    for (std::string strLast;;) {
        CStatement next(m_pDb, "SELECT MIN(serial) FROM segments WHERE serial > ?");
        next.Bind(1, strLast);
        if (!next.Step() || next.IsNull(0))
            break;
        strLast = next.Text(0);
        vec.push_back(strLast);
    }
    return vec;
}

bool CPcRecIndex::SetCameraName(const std::string& strSerial, const std::string& strName)
{
    CStatement st(m_pDb, "INSERT OR REPLACE INTO cameras (serial, name) VALUES (?,?)");
    return st.Bind(1, strSerial).Bind(2, strName).Run();
}

std::map<std::string, std::string> CPcRecIndex::CameraNames()
{
    std::map<std::string, std::string> map;
    CStatement st(m_pDb, "SELECT serial, name FROM cameras");
    while (st.Step())
        map[st.Text(0)] = st.Text(1);
    return map;
}
