// Download tasks: what is already on disk, the ranges asked for, frames put back in send
// order into AVI files named by their times, and the failures that stop a task.
#include "download/downloadmanager.h"
#include "download/downloadrecord.h"
#include "download/downloadrecordavi.h"
#include "download_test_support.h"

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
        env.strRecordPath = dir.path().toStdString() + "/";
        SetName(device, strName);
        device.stItem.dwDVIPID = CAMERA;
        env.mapDevices[CAMERA] = &device;
        env.notify.RegisterNotify(DWORD_NOTIFYID_RECORD_DOWNLOAD_FINISH, &sink);
        strFolder = MakeDownloadFolder(env.strRecordPath, device.GetName(), CAMERA);
    }
    void Touch(const std::string& strName)
    {
        std::filesystem::create_directories(strFolder);
        std::ofstream(strFolder + strName) << "x";
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
        {"fully covered", {"240101000000-240101010000.avi"}, T0 + 10, T0 + 3000, {{T0, T0 + 3601}}, {}},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        DownloadFixture fx;
        for (const std::string& strFile : c.vecFiles)
            fx.Touch(strFile);
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
        std::string strFolder;
    } aCases[] = {
        {u"Front door", "Front door"},
        {u"../../etc", ".._.._etc"},
        {u"..", "camera-7"},
        {u"a/b\\c:d*?", "a_b_c_d__"},
        {u"", "camera-7"},
        {u"  . ", "camera-7"},
        {u"门口\x01", "门口_"},
        {u"cam.", "cam"},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(MakeDownloadFolder("/rec/", c.strName.c_str(), 7), "/rec/" + c.strFolder + "/");
    const std::string strLong = MakeDownloadFolder("/rec/", std::u16string(120, u'门').c_str(), 7);
    EXPECT_LE(strLong.size(), 5 + 200 + 1);
    EXPECT_EQ((strLong.size() - 6) % 3, 0u); // whole characters only
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
