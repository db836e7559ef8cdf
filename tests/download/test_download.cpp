// Download tasks: what is already on disk, the ranges asked for, frames put back in send
// order into AVI files named by their times, and the failures that stop a task.
#include "download/downloadmanager.h"
#include "download/downloadrecord.h"
#include "download/downloadrecordavi.h"
#include "download_test_support.h"
#include "media/avi/aviwriter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>

using namespace downloadtest;

namespace {

constexpr DWORD CAMERA = 0x01020304;
constexpr DWORD T0 = 1704067200; // 2024-01-01 00:00:00

class CFinishSink : public INotifySink {
public:
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override
    {
        vecFinished.push_back(reinterpret_cast<DeviceInfo*>(dwParam)->GetID());
    }
    std::vector<DWORD> vecFinished;
};

struct DownloadFixture {
    QTemporaryDir dir;
    CFakeEnv env;
    DeviceInfo device;
    CFinishSink sink;
    std::string strFolder;

    explicit DownloadFixture(const std::u16string& strName = u"Front door")
    {
        // DOWNLOAD_KEEP=1 keeps the files for a look (the folder is printed).
        if (std::getenv("DOWNLOAD_KEEP") != nullptr) {
            dir.setAutoRemove(false);
            std::printf("files in %s\n", dir.path().toLocal8Bit().constData());
        }
        env.strRecordPath = dir.path().toStdString() + "/";
        SetName(device, strName);
        SetSerial(device, "VS0001");
        device.stItem.dwDVIPID = CAMERA;
        env.mapDevices[CAMERA] = &device;
        env.notify.RegisterNotify(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH, &sink);
        strFolder = MakeDownloadFolder(env.strRecordPath, device);
    }
    // A file as a download names it, holding one key frame (or, bVideo false, audio alone).
    void Touch(const std::string& strName, bool bVideo = true, const std::string& strIn = "")
    {
        const std::string strDir = strIn.empty() ? strFolder : strIn;
        std::filesystem::create_directories(strDir);
        AVIWriter writer;
        ASSERT_TRUE(writer.Open(strDir + strName, AVI_VIDEO_TSHD, 320, 240, 15));
        writer.WriteAudioChunk(std::vector<BYTE>(320, 1).data(), 320);
        if (bVideo)
            writer.WriteVideoChunk(true, KeyFrame().data(), 64);
        ASSERT_TRUE(writer.Close());
    }
};

// A recording of nSeconds at 15 frames per second from dwStart: a key frame every second,
// one audio block per frame; send sequences from 0.
std::vector<OwnedFrame> Recording(DWORD dwStart, int nSeconds, int nSmallFrom = -1)
{
    std::vector<OwnedFrame> vec;
    WORD usSeq = 0;
    for (int s = 0; s < nSeconds; ++s) {
        for (int f = 0; f < 15; ++f, ++usSeq) {
            const bool bSmall = nSmallFrom >= 0 && s >= nSmallFrom;
            vec.emplace_back(CAMERA, dwStart + s, usSeq, 0,
                             f == 0 ? KeyFrame(bSmall, 900) : PFrame(300 + f * 10, static_cast<BYTE>(usSeq)));
            vec.emplace_back(CAMERA, dwStart + s, usSeq, 0, std::vector<BYTE>(33, static_cast<BYTE>(usSeq)),
                             true);
        }
    }
    return vec;
}

// The video payloads (after their stamp headers) of every AVI file in the folder, in order.
std::vector<std::vector<BYTE>> WrittenVideo(const std::string& strFolder)
{
    std::vector<std::vector<BYTE>> vec;
    for (const std::string& strName : ListFolder(strFolder))
        for (const AviChunk& chunk : ReadAviChunks(strFolder + strName))
            if (chunk.strID != "01wb")
                vec.emplace_back(chunk.vecData.begin() + chunk.vecData[0], chunk.vecData.end());
    return vec;
}

std::vector<std::vector<BYTE>> SentVideo(const std::vector<OwnedFrame>& frames)
{
    std::vector<std::vector<BYTE>> vec;
    for (const OwnedFrame& f : frames)
        if (f.frame.dwFrameClass == DOWNLOAD_FRAME_VIDEO)
            vec.emplace_back(f.vecData.begin() + 10, f.vecData.end());
    return vec;
}

} // namespace

TEST(DownloadRecord, FilesOnDiskLeaveOnlyTheMissingRanges)
{
    const struct {
        const char* pszName;
        std::vector<std::string> vecFiles;
        DWORD dwStart, dwEnd;
        std::vector<std::pair<DWORD, DWORD>> vecHave, vecNeed;
    } aCases[] = {
        {"nothing on disk", {}, T0, T0 + 3600, {}, {{T0, T0 + 3600}}},
        {"a file one second after the previous one merges",
         {"240101000000-240101003000.avi", "240101003001-240101010000.avi"},
         T0,
         T0 + 7200,
         {{T0, T0 + 3601}},
         {{T0 + 3601, T0 + 7200}}},
        {"a later file stays a pair of its own and the gap is fetched",
         {"240101000000-240101003000.avi", "240101003003-240101010000.avi"},
         T0,
         T0 + 3600,
         {{T0, T0 + 1801}, {T0 + 1803, T0 + 3601}},
         {{T0 + 1801, T0 + 1802}}},
        {"names of another shape, zero or reversed stamps, provisional names are ignored",
         {"240101000000.avi", "240101000000_240101003000.avi", "000000000000-240101003000.avi",
          "240101010000-240101000000.avi", "x40101000000-240101003000.avi", "notes.txt"},
         T0,
         T0 + 60,
         {},
         {{T0, T0 + 60}}},
        {"a range that starts inside a file and ends after the next",
         {"240101000000-240101000100.avi", "240101000500-240101000600.avi"},
         T0 + 30,
         T0 + 400,
         {{T0, T0 + 61}, {T0 + 300, T0 + 361}},
         {{T0 + 61, T0 + 299}, {T0 + 361, T0 + 400}}},
        {"a file ending one second before the end leaves the last second",
         {"240101000000-240101000059.avi"},
         T0,
         T0 + 60,
         {{T0, T0 + 60}},
         {{T0 + 60, T0 + 60}}},
        {"a second between two files is fetched",
         {"240101000000-240101003000.avi", "240101003002-240101010000.avi"},
         T0,
         T0 + 3600,
         {{T0, T0 + 1801}, {T0 + 1802, T0 + 3601}},
         {{T0 + 1801, T0 + 1801}}},
        {"a file without video counts for nothing, whatever its name says",
         {"240101000000-240101000029.avi", "-240101000030-240101000030.avi", "240101000031-240101000100.avi"},
         T0,
         T0 + 60,
         {{T0, T0 + 30}, {T0 + 31, T0 + 61}},
         {{T0 + 30, T0 + 30}}},
        {"fully covered", {"240101000000-240101010000.avi"}, T0 + 10, T0 + 3000, {{T0, T0 + 3601}}, {}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        DownloadFixture fx;
        for (const std::string& strFile : c.vecFiles) {
            // A leading "-": the file holds audio alone.
            if (strFile[0] == '-')
                fx.Touch(strFile.substr(1), false);
            else
                fx.Touch(strFile);
        }
        fx.device.dwDownloadStart = c.dwStart;
        fx.device.dwDownloadEnd = c.dwEnd;
        CDownloadRecord task(&fx.device, &fx.env);
        EXPECT_EQ(task.IsRecordAlreadyDownload(), c.vecNeed.empty());
        using Ranges = std::vector<std::pair<DWORD, DWORD>>;
        EXPECT_EQ(Ranges(task.GetHaveList().begin(), task.GetHaveList().end()), c.vecHave);
        EXPECT_EQ(Ranges(task.GetNeedList().begin(), task.GetNeedList().end()), c.vecNeed);
    }
}

TEST(DownloadRecord, DeviceNamesBecomeOneSafeFolderInsideTheRecordFolder)
{
    const struct {
        std::u16string strName;
        std::string strSerial;
        std::string strFolder;
    } aCases[] = {
        {u"Front door", "VS0001", "Front door (VS0001)"},
        {u"../../etc", "VS0001", ".._.._etc (VS0001)"},
        {u"..", "VS0001", "VS0001"},
        {u"a/b\\c:d*?", "VS0001", "a_b_c_d__ (VS0001)"},
        {u"", "VS0001", "VS0001"},
        {u"  . ", "", "camera-7"},
        {u"门口\x01", "VS/../1", "门口_ (VS____1)"},
        {u"cam.", "", "cam (camera-7)"},
        {u"cam", "../..", "cam (camera-7)"},
        // The serial field holds 20 bytes without an end when it is full.
        {u"cam", std::string(20, 'S'), "cam (" + std::string(20, 'S') + ")"},
    };
    for (const auto& c : aCases) {
        DeviceInfo device;
        SetName(device, c.strName);
        SetSerial(device, c.strSerial);
        device.stItem.dwDVIPID = 7;
        EXPECT_EQ(MakeDownloadFolder("/rec/", device), "/rec/" + c.strFolder + "/") << c.strFolder;
    }
    EXPECT_EQ(MakeLegacyDownloadFolder("/rec/", u"Front door", 7), "/rec/Front door/");
    EXPECT_EQ(MakeLegacyDownloadFolder("/rec/", u"..", 7), "/rec/camera-7/");
    const std::string strLong = MakeDownloadFolder("/rec/", std::u16string(120, u'门').c_str(), "SN1", 20, 7);
    EXPECT_LE(strLong.size(), 5 + 200 + 6 + 1);
    EXPECT_EQ((strLong.size() - 6 - 6) % 3, 0u); // whole characters only
}

// Two cameras of one name download at once into folders of their own, and the files an
// earlier layout left in "<name>/" still count for the camera of that name, while no other
// camera has it.
TEST(DownloadRecordManager, CamerasOfOneNameNeverShareAFolder)
{
    DownloadFixture fx(u"Same");
    DeviceInfo other;
    SetName(other, u"Same");
    SetSerial(other, "VS0002");
    constexpr DWORD OTHER = 0x0A0B0C0D;
    other.stItem.dwDVIPID = OTHER;
    for (DeviceInfo* p : {&fx.device, &other}) {
        p->dwDownloadStart = T0;
        p->dwDownloadEnd = T0 + 100;
    }
    // Second 0 to 1 of the first camera in the old folder: with both cameras known it is not
    // read, as it may be either's.
    const std::string strLegacy = fx.env.strRecordPath + "Same/";
    fx.Touch("240101000000-240101000001.avi", true, strLegacy);
    fx.env.mapDevices[OTHER] = &other;
    CDownloadRecordManager manager(&fx.env);
    ASSERT_TRUE(manager.Download(CAMERA));
    ASSERT_TRUE(manager.Download(OTHER));
    EXPECT_NE(manager.GetTask(CAMERA)->GetFolder(), manager.GetTask(OTHER)->GetFolder());
    EXPECT_EQ(fx.env.vecRequests[1], "50 16909060 1704067200 1704067300");
    // The two cameras' frames interleaved; the second one's pictures are the small ones.
    const std::vector<OwnedFrame> a = Recording(T0, 3);
    std::vector<OwnedFrame> b = Recording(T0, 3, 0);
    for (OwnedFrame& f : b)
        f.frame.stFrame.ulCameraID = OTHER;
    for (DWORD q = 0; q < a.size(); ++q) {
        manager.FeedMediaData(a[q].frame, q);
        manager.FeedMediaData(b[q].frame, q);
    }
    manager.DownloadNext(CAMERA);
    manager.DownloadNext(OTHER);
    EXPECT_EQ(manager.GetFailure(CAMERA), "");
    EXPECT_EQ(manager.GetFailure(OTHER), "");
    const std::string strOther = MakeDownloadFolder(fx.env.strRecordPath, other);
    EXPECT_EQ(strOther, fx.env.strRecordPath + "Same (VS0002)/");
    EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{"240101000000-240101000002.avi"});
    EXPECT_EQ(ListFolder(strOther), std::vector<std::string>{"240101000000-240101000002.avi"});
    EXPECT_EQ(WrittenVideo(fx.strFolder), SentVideo(a));
    EXPECT_EQ(WrittenVideo(strOther), SentVideo(b));
    EXPECT_EQ(ListFolder(strLegacy), std::vector<std::string>{"240101000000-240101000001.avi"});

    // Alone with its name, the camera reads the old folder too and resumes after it; the files
    // of the new folder count as before.
    fx.env.mapDevices.erase(OTHER);
    std::filesystem::remove_all(fx.strFolder);
    fx.Touch("240101000010-240101000019.avi");
    fx.env.vecRequests.clear();
    ASSERT_TRUE(manager.Download(CAMERA));
    EXPECT_EQ(fx.env.vecRequests,
              (std::vector<std::string>{"52 16909060", "50 16909060 1704067202 1704067209"}));
    using Ranges = std::vector<std::pair<DWORD, DWORD>>;
    const auto& need = manager.GetTask(CAMERA)->GetNeedList();
    EXPECT_EQ(Ranges(need.begin(), need.end()), (Ranges{{T0 + 2, T0 + 9}, {T0 + 20, T0 + 100}}));
    manager.CancelAllDownload();
}

// Frames arrive shuffled within a small window, some twice and some far too early; the
// files hold exactly the recording, in order.
TEST(DownloadRecord, FramesAreWrittenInSendOrderWhateverOrderTheyArriveIn)
{
    for (const bool bShuffle : {false, true}) {
        SCOPED_TRACE(bShuffle ? "reordered and duplicated" : "in order");
        DownloadFixture fx;
        fx.device.dwDownloadStart = T0;
        fx.device.dwDownloadEnd = T0 + 100;
        CDownloadRecordManager manager(&fx.env);
        ASSERT_TRUE(manager.Download(CAMERA));
        EXPECT_EQ(fx.env.vecRequests,
                  (std::vector<std::string>{"52 16909060", "50 16909060 1704067200 1704067300"}));

        const std::vector<OwnedFrame> frames = Recording(T0, 4);
        std::vector<DWORD> vecOrder(frames.size());
        for (DWORD i = 0; i < vecOrder.size(); ++i)
            vecOrder[i] = i;
        std::mt19937 rng(7);
        if (bShuffle) {
            for (std::size_t i = 0; i + 8 < vecOrder.size(); i += 8)
                std::shuffle(vecOrder.begin() + static_cast<long>(i),
                             vecOrder.begin() + static_cast<long>(i + 8), rng);
            for (int k = 0; k < 20; ++k)
                vecOrder.insert(vecOrder.begin() + static_cast<long>(rng() % vecOrder.size()),
                                vecOrder[rng() % vecOrder.size()]);
        }
        DWORD dwBytes = 0;
        for (const DWORD q : vecOrder) {
            manager.FeedMediaData(frames[q].frame, q);
            // Only what is written or held may be acknowledged.
            EXPECT_TRUE(manager.IsKept(CAMERA, q)) << q;
            if (bShuffle && q == 40) { // far beyond the window: dropped, to be sent again
                const DWORD dwFar = q + CDownloadRecord::REORDER_WINDOW + 50;
                manager.FeedMediaData(frames[q].frame, dwFar);
                EXPECT_FALSE(manager.IsKept(CAMERA, dwFar));
            }
        }
        for (const OwnedFrame& f : frames)
            dwBytes += DownloadRawLen(f.frame);
        EXPECT_EQ(fx.device.dwMaxContinuousAck, frames.size());
        EXPECT_EQ(manager.GetTask(CAMERA)->GetHeldFrames(), 0u);
        EXPECT_EQ(fx.device.dwReceiveTime, T0 + 3);
        if (!bShuffle) {
            EXPECT_EQ(fx.device.dwReceiveKB * 1024 + fx.device.dwReceiveRemainder, dwBytes);
        }

        manager.DownloadNext(CAMERA);
        EXPECT_FALSE(manager.IsDownloading(CAMERA));
        EXPECT_EQ(fx.sink.vecFinished, std::vector<DWORD>{CAMERA});
        EXPECT_EQ(manager.GetFailure(CAMERA), "");
        EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{"240101000000-240101000003.avi"});
        EXPECT_EQ(WrittenVideo(fx.strFolder), SentVideo(frames));
        const std::vector<AviChunk> chunks = ReadAviChunks(fx.strFolder + "240101000000-240101000003.avi");
        EXPECT_EQ(
            std::count_if(chunks.begin(), chunks.end(), [](const AviChunk& c) { return c.strID == "01wb"; }),
            60);
    }
}

// One range split by a picture size change and by a lowered size limit: every frame lands in
// exactly one file, each named by its first and last video frame.
TEST(DownloadRecordAVI, FilesSplitOnSizeChangeAndSizeLimitWithoutLosingTheFrameThatSplitsThem)
{
    const struct {
        const char* pszName;
        int nSmallFrom;
        DWORD dwMaxMiB;
        std::vector<std::string> vecFiles;
    } aCases[] = {
        {"picture size change at second 2",
         2,
         300,
         {"240101000000-240101000001.avi", "240101000002-240101000004.avi"}},
        {"size limit of 1 MiB", -1, 1, {}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        DownloadFixture fx;
        std::vector<OwnedFrame> frames = Recording(T0, 5, c.nSmallFrom);
        if (c.dwMaxMiB == 1) // large key frames: 5 × 300 KiB pass 1 MiB in the fourth second
            for (OwnedFrame& f : frames)
                if (f.frame.stFrame.bySubSequence == 0 && f.vecData.size() > 900) {
                    f.vecData.resize(300 * 1024, 0x11);
                    f.Fix();
                }
        {
            CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
            avi.SetMaxFileMiBForTest(c.dwMaxMiB);
            for (const OwnedFrame& f : frames)
                avi.FeedMediaData(f.frame);
        }
        const std::vector<std::string> vecFiles = ListFolder(fx.strFolder);
        if (c.vecFiles.empty()) {
            EXPECT_EQ(vecFiles, (std::vector<std::string>{"240101000000-240101000003.avi",
                                                          "240101000004-240101000004.avi"}));
        } else {
            EXPECT_EQ(vecFiles, c.vecFiles);
        }
        EXPECT_EQ(WrittenVideo(fx.strFolder), SentVideo(frames));
        for (const std::string& strName : vecFiles)
            EXPECT_EQ(ReadAviChunks(fx.strFolder + strName).front().strID, "00db") << strName;
    }
}

TEST(DownloadRecordAVI, NamesAndRangeRules)
{
    DownloadFixture fx;
    fx.Touch("240101000000-240101003000.avi"); // replaced by the new file of the same name
    {
        CDownloadRecordAVI avi(1000, T0 + 3600, fx.strFolder);
        EXPECT_FALSE(avi.FeedMediaData(OwnedFrame(CAMERA, T0 + 3601, 1, 0, KeyFrame()).frame));
        EXPECT_TRUE(avi.FeedMediaData(OwnedFrame(CAMERA, T0, 1, 0, KeyFrame()).frame));
        EXPECT_EQ(ListFolder(fx.strFolder),
                  (std::vector<std::string>{"240101000000-240101003000.avi", "240101000000.avi"}));
        EXPECT_TRUE(avi.FeedMediaData(OwnedFrame(CAMERA, T0 + 1800, 2, 0, PFrame(50, 1)).frame));
        // Audio after the last video frame does not stretch the name.
        EXPECT_TRUE(
            avi.FeedMediaData(OwnedFrame(CAMERA, T0 + 1801, 3, 0, std::vector<BYTE>(33, 1), true).frame));
    }
    EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{"240101000000-240101003000.avi"});
    EXPECT_EQ(ReadAviChunks(fx.strFolder + "240101000000-240101003000.avi").size(), 3u);
}

TEST(DownloadRecordAVI, AFailedRenameIsRetriedOnceThenLeftUnderItsProvisionalName)
{
    static int s_nFailures;
    for (const int nFailures : {1, 2}) {
        DownloadFixture fx;
        s_nFailures = nFailures;
        {
            CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
            avi.SetRenameForTest([](const char* pszFrom, const char* pszTo) {
                return s_nFailures-- > 0 ? -1 : std::rename(pszFrom, pszTo);
            });
            avi.FeedMediaData(OwnedFrame(CAMERA, T0, 1, 0, KeyFrame()).frame);
            avi.CloseAviFile();
            EXPECT_EQ(avi.GetFileCount(), nFailures == 1 ? 1 : 0);
        }
        EXPECT_EQ(
            ListFolder(fx.strFolder),
            std::vector<std::string>{nFailures == 1 ? "240101000000-240101000000.avi" : "240101000000.avi"});
    }
}

// An unwritable folder or a full disk stops the task with a reason; no file is named as
// complete.
TEST(DownloadRecordManager, AFolderOrDiskThatRefusesWritesStopsTheTask)
{
    for (const bool bDiskFull : {false, true}) {
        SCOPED_TRACE(bDiskFull ? "disk full" : "folder cannot be created");
        DownloadFixture fx;
        if (!bDiskFull)
            std::ofstream(fx.strFolder.substr(0, fx.strFolder.size() - 1)) << "a file where the folder goes";
        fx.device.dwDownloadStart = T0;
        fx.device.dwDownloadEnd = T0 + 100;
        CDownloadRecordManager manager(&fx.env);
        ASSERT_TRUE(manager.Download(CAMERA));
        std::vector<OwnedFrame> frames = Recording(T0, 3);
        for (OwnedFrame& f : frames) {
            f.vecData.resize(64 * 1024, 0x22);
            f.Fix();
        }
        // A file size limit stands in for a full disk (writes past it fail with EFBIG).
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        if (bDiskFull) {
            rlimit limit = old;
            limit.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (DWORD q = 0; q < frames.size(); ++q)
            manager.FeedMediaData(frames[q].frame, q); // the rest arrive after the task has gone
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_FALSE(manager.IsDownloading(CAMERA));
        EXPECT_EQ(fx.sink.vecFinished, std::vector<DWORD>{CAMERA});
        EXPECT_NE(manager.GetFailure(CAMERA), "");
        // Kept after the task has gone, for the dialog and the main window to report.
        const DownloadRun* pRun = manager.GetRun(CAMERA);
        ASSERT_NE(pRun, nullptr);
        EXPECT_EQ(pRun->enState, DownloadRun::State::FAILED);
        EXPECT_EQ(pRun->enFailure, bDiskFull ? DownloadFailure::DISK_FULL : DownloadFailure::FOLDER);
        EXPECT_EQ(pRun->strFolder, fx.strFolder);
        EXPECT_EQ(fx.env.vecRequests.back(), "52 16909060");
        for (const std::string& strName : ListFolder(fx.strFolder))
            EXPECT_NE(strName.size(), 29u) << strName;
    }
}

TEST(DownloadRecordManager, RangesAreFetchedOneAfterAnotherAndACoveredRangeStartsNothing)
{
    DownloadFixture fx;
    fx.Touch("240101000100-240101000159.avi");
    fx.device.dwDownloadStart = T0;
    fx.device.dwDownloadEnd = T0 + 180;
    CDownloadRecordManager manager(&fx.env);
    ASSERT_TRUE(manager.Download(CAMERA));
    fx.device.dwMaxContinuousAck = 77;
    manager.DownloadNext(CAMERA);
    EXPECT_EQ(fx.device.dwMaxContinuousAck, 0u); // each range counts its own send sequences
    EXPECT_TRUE(manager.IsDownloading(CAMERA));
    manager.DownloadNext(CAMERA);
    EXPECT_FALSE(manager.IsDownloading(CAMERA));
    EXPECT_EQ(fx.env.vecRequests,
              (std::vector<std::string>{"52 16909060", "50 16909060 1704067200 1704067259", "52 16909060",
                                        "50 16909060 1704067320 1704067380", "52 16909060"}));
    EXPECT_EQ(fx.sink.vecFinished, std::vector<DWORD>{CAMERA});

    fx.env.vecRequests.clear();
    fx.device.dwDownloadStart = T0 + 70;
    fx.device.dwDownloadEnd = T0 + 110;
    EXPECT_FALSE(manager.Download(CAMERA));
    EXPECT_EQ(fx.env.vecRequests, std::vector<std::string>{"52 16909060"});
    EXPECT_EQ(manager.GetDownloadCount(), 0);

    fx.device.dwDownloadStart = T0;
    ASSERT_TRUE(manager.Download(CAMERA));
    manager.CancelAllDownload();
    EXPECT_FALSE(manager.HasDownloading());
    EXPECT_EQ(fx.env.vecRequests.back(), "52 16909060");
}

// A range stopped in the middle of a second loses that second from its file, so that the
// next download, which starts after the file's end, fetches it whole.
TEST(DownloadRecordAVI, AStoppedRangeCutsItsLastSecond)
{
    for (const int nSeconds : {3, 1}) {
        DownloadFixture fx;
        const std::vector<OwnedFrame> frames = Recording(T0, nSeconds);
        {
            CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
            for (std::size_t i = 0; i + 10 < frames.size(); ++i) // the last second is cut short
                avi.FeedMediaData(frames[i].frame);
            avi.CloseAviFile(false);
        }
        if (nSeconds == 1) {
            EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{}); // nothing whole was in it
            continue;
        }
        EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{"240101000000-240101000001.avi"});
        std::vector<std::vector<BYTE>> vecWhole = SentVideo(frames);
        vecWhole.resize(30);
        EXPECT_EQ(WrittenVideo(fx.strFolder), vecWhole);
        EXPECT_EQ(ReadAviChunks(fx.strFolder + "240101000000-240101000001.avi").size(), 60u);
    }
}

// An MPEG-4 camera's download: the file is made for MPEG-4 from its first frame and holds every
// frame whole, its key frames too, byte for byte; a frame the writer cannot take (the rest of a
// picture before the first parameter set) leaves nothing of itself in the file.
TEST(DownloadRecordAVI, Mpeg4CamerasGetMpeg4FilesWithEveryFrameWhole)
{
    DownloadFixture fx;
    const std::vector<std::vector<BYTE>> vecClip =
        EncodeFrames(fx.dir.path().toStdString(), true, 45, "-g 15");
    ASSERT_EQ(vecClip.size(), 45u);
    std::vector<OwnedFrame> frames;
    for (std::size_t n = 0; n < vecClip.size(); ++n) {
        // Marker 0 on the frames that start with the codec's header (the key frames), as the
        // cameras send them; frames split into 700-byte segments.
        const bool bKey = vecClip[n][3] != 0xB6;
        for (std::size_t nOff = 0, u = 0; nOff < vecClip[n].size(); nOff += 700, ++u)
            frames.emplace_back(CAMERA, T0 + static_cast<DWORD>(n / 15), static_cast<WORD>(n),
                                static_cast<BYTE>(u == 0 && bKey ? 0 : u + 1),
                                std::vector<BYTE>(vecClip[n].begin() + static_cast<long>(nOff),
                                                  vecClip[n].begin() + static_cast<long>(std::min(
                                                                           vecClip[n].size(), nOff + 700))),
                                false, MEDIA_CODEC_MPEG4);
    }
    {
        CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
        // The tail of a picture whose start came before the range: nothing to decode it with.
        OwnedFrame tail(CAMERA, T0, 999, 3, std::vector<BYTE>(500, 0x5A), false, MEDIA_CODEC_MPEG4);
        EXPECT_FALSE(avi.FeedMediaData(tail.frame));
        for (const OwnedFrame& f : frames)
            EXPECT_TRUE(avi.FeedMediaData(f.frame));
    }
    const std::vector<std::string> vecFiles = ListFolder(fx.strFolder);
    ASSERT_EQ(vecFiles, std::vector<std::string>{"240101000000-240101000002.avi"});
    const std::string strFile = fx.strFolder + vecFiles[0];
    const std::vector<BYTE> f = ReadFile(strFile);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[112]), 4), "tsxd");
    EXPECT_EQ(WrittenVideo(fx.strFolder), SentVideo(frames));
    // ffprobe knows the stream for MPEG-4 of the camera's size; the frames with their stamp
    // headers taken off decode, every one.
    EXPECT_EQ(
        RunTool(
            "ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height -of csv=p=0 '" +
            strFile + "'"),
        "mpeg4,320,240\n");
    std::vector<BYTE> es;
    for (const std::vector<BYTE>& frame : WrittenVideo(fx.strFolder))
        es.insert(es.end(), frame.begin(), frame.end());
    const std::string strEs = fx.dir.path().toStdString() + "/written.m4v";
    std::ofstream(strEs, std::ios::binary)
        .write(reinterpret_cast<const char*>(es.data()), static_cast<std::streamsize>(es.size()));
    EXPECT_EQ(RunTool("ffmpeg -v error -f m4v -i '" + strEs + "' -f framecrc - 2>&1 | grep -c '^0,'"),
              "45\n");
    EXPECT_EQ(RunTool("ffmpeg -v error -f m4v -i '" + strEs + "' -f null - 2>&1"), "");
}

// A camera that sends its parameter set once: files still end at the size limit, at the next
// key frame, and each new file starts with the stored parameter set in front of that frame, so
// that every file decodes on its own and together they hold every frame once.
TEST(DownloadRecordAVI, FilesSplitAtKeyFramesWhenTheParameterSetComesOnce)
{
    DownloadFixture fx;
    const std::string strDir = fx.dir.path().toStdString();
    // Large frames (noise at a low quantiser), an IDR every 15 frames; the SPS and PPS that
    // libx264 puts before each are left before the first one alone.
    std::vector<std::vector<BYTE>> vecClip = EncodeFrames(
        strDir, false, 90, "-vf noise=alls=40:allf=t -g 15 -keyint_min 15 -qp 10 -x264-params scenecut=0");
    ASSERT_EQ(vecClip.size(), 90u);
    for (std::size_t n = 1; n < vecClip.size(); ++n) {
        const std::vector<BYTE> v = vecClip[n];
        std::vector<std::size_t> vecStarts; // of each unit's 00 00 01
        for (std::size_t i = 0; i + 3 < v.size(); ++i)
            if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1)
                vecStarts.push_back(i);
        vecStarts.push_back(v.size());
        vecClip[n].clear();
        for (std::size_t k = 0; k + 1 < vecStarts.size(); ++k) {
            const int nType = v[vecStarts[k] + 3] & 0x1F;
            if (nType == 6 || nType == 7 || nType == 8)
                continue;
            const std::size_t nFrom =
                vecStarts[k] > 0 && v[vecStarts[k] - 1] == 0 ? vecStarts[k] - 1 : vecStarts[k];
            std::size_t nTo = vecStarts[k + 1];
            if (nTo < v.size() && nTo > 0 && v[nTo - 1] == 0)
                --nTo;
            vecClip[n].insert(vecClip[n].end(), v.begin() + static_cast<long>(nFrom),
                              v.begin() + static_cast<long>(nTo));
        }
    }
    std::size_t nBytes = 0;
    for (const auto& frame : vecClip)
        nBytes += frame.size();
    ASSERT_GT(nBytes, 2u << 20) << "the clip must pass the 1 MiB limit twice";
    std::vector<OwnedFrame> frames;
    for (std::size_t n = 0; n < vecClip.size(); ++n) {
        const bool bHeader = (vecClip[n][4] & 0x1F) == 7;
        ASSERT_EQ(bHeader, n == 0);
        for (std::size_t nOff = 0, u = 0; nOff < vecClip[n].size(); nOff += 4000, ++u)
            frames.emplace_back(CAMERA, T0 + static_cast<DWORD>(n / 15), static_cast<WORD>(n),
                                static_cast<BYTE>(u == 0 && bHeader ? 0 : u + 1),
                                std::vector<BYTE>(vecClip[n].begin() + static_cast<long>(nOff),
                                                  vecClip[n].begin() + static_cast<long>(std::min(
                                                                           vecClip[n].size(), nOff + 4000))));
    }
    {
        CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
        avi.SetMaxFileMiBForTest(1);
        for (const OwnedFrame& f : frames)
            EXPECT_TRUE(avi.FeedMediaData(f.frame));
    }
    const std::vector<std::string> vecFiles = ListFolder(fx.strFolder);
    ASSERT_GE(vecFiles.size(), 2u);
    // The SPS and PPS of the first frame, as libx264 wrote them (four-byte start codes).
    std::vector<BYTE> sets;
    {
        const std::vector<BYTE>& v = vecClip[0];
        for (std::size_t i = 0; i + 4 < v.size(); ++i) {
            if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 0 || v[i + 3] != 1)
                continue;
            std::size_t j = i + 4;
            while (j + 4 <= v.size() &&
                   !(v[j] == 0 && v[j + 1] == 0 && (v[j + 2] == 1 || (v[j + 2] == 0 && v[j + 3] == 1))))
                ++j;
            if ((v[i + 4] & 0x1F) == 7 || (v[i + 4] & 0x1F) == 8)
                sets.insert(sets.end(), v.begin() + static_cast<long>(i), v.begin() + static_cast<long>(j));
        }
    }
    ASSERT_GT(sets.size(), 8u);
    std::size_t nFrames = 0;
    std::vector<std::vector<BYTE>> vecWithout;
    for (std::size_t k = 0; k < vecFiles.size(); ++k) {
        SCOPED_TRACE(vecFiles[k]);
        const std::vector<AviChunk> chunks = ReadAviChunks(fx.strFolder + vecFiles[k]);
        ASSERT_FALSE(chunks.empty());
        EXPECT_EQ(chunks.front().strID, "00db");
        // Every file starts with the SPS and PPS: the first one as sent, the later ones stored.
        std::vector<BYTE> es;
        for (const AviChunk& c : chunks)
            es.insert(es.end(), c.vecData.begin() + c.vecData[0], c.vecData.end());
        EXPECT_TRUE(std::equal(sets.begin(), sets.end(), es.begin()));
        if (k > 0) { // then the IDR slice itself
            std::size_t i = sets.size();
            while (i < es.size() && es[i] == 0)
                ++i;
            ASSERT_LT(i + 1, es.size());
            EXPECT_EQ(es[i + 1] & 0x1F, 5);
        }
        const std::string strEs = strDir + "/part.h264";
        std::ofstream(strEs, std::ios::binary)
            .write(reinterpret_cast<const char*>(es.data()), static_cast<std::streamsize>(es.size()));
        const std::string strCount =
            RunTool("ffmpeg -v error -f h264 -i '" + strEs + "' -f framecrc - 2>&1 | grep -c '^0,'");
        EXPECT_EQ(RunTool("ffmpeg -v error -f h264 -i '" + strEs + "' -f null - 2>&1"), "");
        nFrames += std::stoul(strCount);
        // What the files hold, the repeated parameter set taken off again, is what was sent.
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            std::vector<BYTE> payload(chunks[i].vecData.begin() + chunks[i].vecData[0],
                                      chunks[i].vecData.end());
            if (k > 0 && i == 0)
                payload.erase(payload.begin(), payload.begin() + static_cast<long>(sets.size()));
            vecWithout.push_back(std::move(payload));
        }
    }
    EXPECT_EQ(nFrames, vecClip.size());
    const std::vector<std::vector<BYTE>> vecSent = SentVideo(frames);
    EXPECT_EQ(vecWithout.size(), vecSent.size());
    EXPECT_TRUE(vecWithout == vecSent) << "the files hold other bytes than were sent";
}

// A range whose file ends up without any video (its pictures all came before a parameter
// set): no file is left that a later download would take for those seconds.
TEST(DownloadRecordAVI, AFileWithoutVideoIsNotNamed)
{
    DownloadFixture fx;
    {
        CDownloadRecordAVI avi(T0, T0 + 10, fx.strFolder);
        for (WORD n = 0; n < 5; ++n) {
            EXPECT_FALSE(
                avi.FeedMediaData(OwnedFrame(CAMERA, T0, n, 1, PFrame(300, static_cast<BYTE>(n))).frame));
            avi.FeedMediaData(OwnedFrame(CAMERA, T0, n, 0, std::vector<BYTE>(33, 1), true).frame);
        }
    }
    EXPECT_EQ(ListFolder(fx.strFolder), std::vector<std::string>{});
}
