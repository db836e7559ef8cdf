// The index of a recording folder: its segments and the gaps between them, per camera, in an
// SQLite database in the folder (WAL), so that a day's timeline opens without reading files.
// The files are the truth: the index is rebuilt from them when it is missing or damaged, and
// Sync adopts files it does not know and drops rows whose files are gone.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

struct PcSegment {
    std::int64_t llID = 0;
    std::string strSerial;
    std::string strPath;        // relative to the folder: <serial>/<day>/<serial>_<start>.mp4
    std::int64_t llStartMs = 0; // UTC milliseconds
    std::int64_t llEndMs = 0;
    std::int64_t llBytes = 0;
    std::int64_t llFrames = 0;
    std::string strCodec;
    int nWidth = 0;
    int nHeight = 0;
    bool bAudio = false;
    bool bWriting = false;     // being written (or the writer died: adopted at the next start)
    bool bInterrupted = false; // adopted after its writer died
};

struct PcGap {
    std::string strSerial;
    std::int64_t llStartMs = 0;
    std::int64_t llEndMs = 0;
};

class CPcRecIndex {
public:
    static constexpr const char* FILE_NAME = "recordings.db";
    // A camera's next segment that starts later than this after the end of its previous one
    // leaves a gap.
    static constexpr std::int64_t GAP_MS = 2000;

    CPcRecIndex() = default;
    ~CPcRecIndex();
    CPcRecIndex(const CPcRecIndex&) = delete;
    CPcRecIndex& operator=(const CPcRecIndex&) = delete;

    // Opens or makes the index of strFolder; a missing or damaged database is put aside and
    // rebuilt from the files. bRebuild: rebuild whatever its state. bSync: bring it in line with
    // the files (the recorder at its start; a reader leaves that to the recorder, whose
    // segments in progress it would take for interrupted ones).
    bool Open(const std::string& strFolder, bool bRebuild, std::string& strError, bool bSync = true);
    void Close();
    const std::string& Folder() const { return m_strFolder; }
    // Whether the last Open rebuilt the index from the files.
    bool WasRebuilt() const { return m_bRebuilt; }

    // Adopts files the index does not know and segments whose writer died, drops rows whose
    // files are gone; the segments being written now (relative paths) are left alone. Returns
    // the number of rows changed.
    int Sync(const std::set<std::string>& setActive = {});

    // Many changes at once (a rebuild, a test's folder): one transaction.
    bool Begin() { return Exec("BEGIN"); }
    bool Commit() { return Exec("COMMIT"); }

    // A segment being written; its id.
    std::int64_t AddSegment(const PcSegment& segment);
    // Its end, size and frames as they stand; bFinished: its writer closed it.
    bool UpdateSegment(std::int64_t llID, std::int64_t llEndMs, std::int64_t llBytes, std::int64_t llFrames,
                       bool bFinished);
    bool AddGap(const std::string& strSerial, std::int64_t llStartMs, std::int64_t llEndMs);
    // The end of a camera's latest segment, -1 when it has none.
    std::int64_t LastEnd(const std::string& strSerial);
    // Removes a segment's row, and the gaps of its camera that end before its camera's first
    // remaining segment.
    bool RemoveSegment(std::int64_t llID);

    // Segments (and gaps) of one camera (empty: all) that overlap [llFromMs, llToMs), by start.
    std::vector<PcSegment> Segments(const std::string& strSerial, std::int64_t llFromMs, std::int64_t llToMs);
    std::vector<PcGap> Gaps(const std::string& strSerial, std::int64_t llFromMs, std::int64_t llToMs);
    std::vector<std::string> Cameras();
    // The name a camera had when it was last recorded (empty: none was recorded with it).
    bool SetCameraName(const std::string& strSerial, const std::string& strName);
    std::map<std::string, std::string> CameraNames();

private:
    bool Exec(const char* pszSql);
    bool MakeSchema();
    bool IsHealthy();
    void DeriveGaps();

    sqlite3* m_pDb = nullptr;
    std::string m_strFolder;
    bool m_bRebuilt = false;
};

// The relative path of a segment of strSerial (a file-name-safe serial) starting at llStartMs.
std::string SegmentPathFor(const std::string& strSerial, std::int64_t llStartMs);
// The start time a segment's file name carries; false when the name is not one of ours.
bool ParseSegmentName(const std::string& strFileName, std::string& strSerial, std::int64_t& llStartMs);
// A serial as a file name: anything but letters, digits, '-' and '_' becomes '_'.
std::string SafeSerial(const std::string& strSerial);
