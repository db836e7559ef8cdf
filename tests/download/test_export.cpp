// Export: downloaded AVI files, as the download writes them from a real H.264 or MPEG-4
// stream and GSM audio, become one MP4 that ffprobe describes and ffmpeg decodes without an
// error, with its sound on the pictures' timeline; a failed export leaves the output's name
// as it was.
#include "download/aviexport.h"
#include "download/downloadrecordavi.h"
#include "download_test_support.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

using namespace downloadtest;

namespace {

constexpr DWORD T0 = 1714637700; // 2024-05-02 08:15:00

// One number of ffprobe's about the MP4's video (v) or audio (a) stream.
double StreamValue(const std::string& strMp4, const char* pszStream, const char* pszEntry)
{
    const std::string strOut = RunTool(std::string("ffprobe -v error -select_streams ") + pszStream +
                                       " -show_entries stream=" + pszEntry + " -of csv=p=0 '" + strMp4 + "'");
    return strOut.empty() ? -1.0 : std::atof(strOut.c_str());
}

// The decoded audio's loudness (RMS of 16-bit samples) between two times.
double Loudness(const std::vector<BYTE>& pcm, double dFrom, double dTo)
{
    const std::size_t nFrom = static_cast<std::size_t>(dFrom * 8000);
    const std::size_t nTo = std::min(pcm.size() / 2, static_cast<std::size_t>(dTo * 8000));
    double dSum = 0;
    for (std::size_t i = nFrom; i < nTo; ++i) {
        const double d = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
        dSum += d * d;
    }
    return nTo > nFrom ? std::sqrt(dSum / static_cast<double>(nTo - nFrom)) : 0.0;
}

// Downloads as the camera sends them: nFrames of the clip at 15 per second from second
// dwFirst, frames split into 700-byte segments, and 200 ms of GSM audio (10 frames) with
// every third picture, as real time has it.
void Download(const std::string& strFolder, const std::vector<std::vector<BYTE>>& vecClip, int nFirstFrame,
              int nFrames, DWORD dwFirst, const std::vector<BYTE>& gsm, std::size_t& nGsm, bool bMpeg4)
{
    CDownloadRecordAVI avi(dwFirst, dwFirst + static_cast<DWORD>(nFrames / 15) + 1, strFolder);
    for (int k = 0; k < nFrames; ++k) {
        const std::vector<BYTE>& au = vecClip[nFirstFrame + k];
        const DWORD dwTime = dwFirst + static_cast<DWORD>(k / 15);
        const WORD usSeq = static_cast<WORD>(nFirstFrame + k);
        for (std::size_t nOff = 0, u = 0; nOff < au.size(); nOff += 700, ++u) {
            const std::vector<BYTE> part(au.begin() + static_cast<long>(nOff),
                                         au.begin() + static_cast<long>(std::min(au.size(), nOff + 700)));
            OwnedFrame f(1, dwTime, usSeq, static_cast<BYTE>(u), part, false,
                         bMpeg4 ? MEDIA_CODEC_MPEG4 : MEDIA_CODEC_H264);
            const DWORD dwMicro = static_cast<DWORD>(k % 15) * 66666u;
            std::memcpy(&f.vecData[6], &dwMicro, 4);
            ASSERT_TRUE(avi.FeedMediaData(f.frame));
        }
        if (k % 3 == 0) {
            const std::vector<BYTE> block(gsm.begin() + static_cast<long>(nGsm),
                                          gsm.begin() + static_cast<long>(nGsm + 330));
            nGsm += 330;
            avi.FeedMediaData(OwnedFrame(1, dwTime, usSeq, 0, block, true).frame);
        }
    }
}

} // namespace

// Two downloads with a gap of two seconds between them: the MP4 has every picture, the
// pictures keep the gap and the sound has silence in it, so that both stay together; each
// file exported alone has sound as long as its pictures, from the same start.
TEST(AviExport, DownloadedFilesBecomeOneMp4WithSoundOnThePicturesTimeline)
{
    QTemporaryDir dir;
    const std::string strDir = dir.path().toStdString();
    const int nFrames = 60;
    const std::vector<std::vector<BYTE>> vecClip =
        EncodeFrames(strDir, false, nFrames, "-g 15 -x264-params repeat-headers=1");
    ASSERT_EQ(vecClip.size(), static_cast<std::size_t>(nFrames));
    RunTool("sox -n -r 8000 -c 1 " + strDir + "/tone.gsm synth 5 sine 440");
    const std::vector<BYTE> gsm = ReadFile(strDir + "/tone.gsm");
    ASSERT_GE(gsm.size(), 33u * 200);

    const std::string strFolder = strDir + "/Cam/";
    std::size_t nGsm = 0;
    Download(strFolder, vecClip, 0, 30, T0, gsm, nGsm, false);
    Download(strFolder, vecClip, 30, 30, T0 + 4, gsm, nGsm, false);
    const std::vector<std::string> vecFiles = ListFolder(strFolder);
    ASSERT_EQ(vecFiles,
              (std::vector<std::string>{"240502081500-240502081501.avi", "240502081504-240502081505.avi"}));

    // The camera's GSM is in the files as PCM that players read, sample for sample what sox
    // decodes from the same frames.
    const std::string strFirst = strFolder + vecFiles[0];
    EXPECT_EQ(
        RunTool("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels "
                "-of csv=p=0 '" +
                strFirst + "'"),
        "pcm_s16le,8000,1\n");
    RunTool("ffmpeg -v error -i '" + strFirst + "' -map 0:a -f s16le -y " + strDir + "/avi.pcm");
    RunTool("sox " + strDir + "/tone.gsm -t raw -e signed -b 16 " + strDir + "/sox.pcm");
    const std::vector<BYTE> aviPcm = ReadFile(strDir + "/avi.pcm");
    const std::vector<BYTE> soxPcm = ReadFile(strDir + "/sox.pcm");
    ASSERT_EQ(aviPcm.size(), 10u * 2 * 1600);
    ASSERT_GE(soxPcm.size(), aviPcm.size());
    EXPECT_TRUE(std::equal(aviPcm.begin(), aviPcm.end(), soxPcm.begin()));

    const std::string strMp4 = strDir + "/out.mp4";
    const AviExportResult result = ExportAviToMp4({strFolder + vecFiles[0], strFolder + vecFiles[1]}, strMp4);
    ASSERT_TRUE(result.bOk) << result.strError;
    EXPECT_EQ(result.llVideoFrames, nFrames);
    const std::string strStreams = RunTool(
        "ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames,sample_rate -of csv=p=0 " +
        strMp4);
    EXPECT_EQ(strStreams.substr(0, strStreams.find('\n')), "h264,320,240,60") << strStreams;
    EXPECT_EQ(strStreams.substr(strStreams.find('\n') + 1, 9), "aac,8000,") << strStreams;
    EXPECT_EQ(RunTool("ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 " + strMp4),
              "2024-05-02T08:15:00.000000Z\n");
    EXPECT_EQ(RunTool("ffmpeg -v error -i " + strMp4 + " -f null - 2>&1"), "");
    EXPECT_EQ(RunTool("ffmpeg -v error -i " + strMp4 + " -map 0:v -f framecrc - | grep -c '^0,'"), "60\n");
    // Pictures from 0 to 6 s with the gap from 2 to 4 s; sound as long, silent in the gap.
    EXPECT_NEAR(StreamValue(strMp4, "v", "duration"), 6.0, 0.1);
    EXPECT_NEAR(StreamValue(strMp4, "a", "duration"), StreamValue(strMp4, "v", "duration"), 0.1);
    EXPECT_NEAR(StreamValue(strMp4, "a", "start_time"), StreamValue(strMp4, "v", "start_time"), 0.1);
    EXPECT_NEAR(result.llAudioSamples / 8000.0, 6.0, 0.1);
    RunTool("ffmpeg -v error -i " + strMp4 + " -map 0:a -f s16le -y " + strDir + "/mp4.pcm");
    const std::vector<BYTE> mp4Pcm = ReadFile(strDir + "/mp4.pcm");
    EXPECT_GT(Loudness(mp4Pcm, 0.3, 1.9), 1000.0);
    EXPECT_LT(Loudness(mp4Pcm, 2.2, 3.8), 100.0);
    EXPECT_GT(Loudness(mp4Pcm, 4.3, 5.9), 1000.0);

    for (const std::string& strFile : vecFiles) {
        SCOPED_TRACE(strFile);
        const std::string strOne = strDir + "/one.mp4";
        ASSERT_TRUE(ExportAviToMp4({strFolder + strFile}, strOne).bOk);
        EXPECT_NEAR(StreamValue(strOne, "a", "start_time"), StreamValue(strOne, "v", "start_time"), 0.1);
        EXPECT_NEAR(StreamValue(strOne, "a", "duration"), StreamValue(strOne, "v", "duration"), 0.1);
    }

    // The stamped video of our files is not something ffmpeg decodes; the export is.
    EXPECT_FALSE(ExportAviToMp4({strDir + "/tone.gsm"}, strDir + "/bad.mp4").bOk);
}

// MPEG-4 downloads export as MPEG-4 in MP4, every picture decoded.
TEST(AviExport, Mpeg4DownloadsExportToo)
{
    QTemporaryDir dir;
    const std::string strDir = dir.path().toStdString();
    const std::vector<std::vector<BYTE>> vecClip = EncodeFrames(strDir, true, 30, "-g 15");
    ASSERT_EQ(vecClip.size(), 30u);
    std::size_t nGsm = 0;
    const std::vector<BYTE> gsm(33 * 400, 0xD8);
    Download(strDir + "/Cam/", vecClip, 0, 30, T0, gsm, nGsm, true);
    const std::vector<std::string> vecFiles = ListFolder(strDir + "/Cam/");
    ASSERT_EQ(vecFiles.size(), 1u);
    const std::string strMp4 = strDir + "/out.mp4";
    const AviExportResult result = ExportAviToMp4({strDir + "/Cam/" + vecFiles[0]}, strMp4);
    ASSERT_TRUE(result.bOk) << result.strError;
    EXPECT_EQ(result.llVideoFrames, 30);
    EXPECT_EQ(
        RunTool(
            "ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height -of csv=p=0 " +
            strMp4),
        "mpeg4,320,240\n");
    EXPECT_EQ(RunTool("ffmpeg -v error -i " + strMp4 + " -map 0:v -f framecrc - 2>&1 | grep -c '^0,'"),
              "30\n");
}

// The MP4 is made beside the output and takes its name at the end: a failed export leaves a file
// that was there as it was and no other file behind, and an input is never the output.
TEST(AviExport, AFailedExportLeavesTheOutputsNameAsItWas)
{
    QTemporaryDir dir;
    const std::string strDir = dir.path().toStdString();
    const std::vector<std::vector<BYTE>> vecClip = EncodeFrames(strDir, false, 15, "-g 15");
    std::filesystem::remove(strDir + "/clip.h264");
    std::size_t nGsm = 0;
    const std::vector<BYTE> gsm(33 * 400, 0xD8);
    Download(strDir + "/Cam/", vecClip, 0, 15, T0, gsm, nGsm, false);
    const std::string strAvi = strDir + "/Cam/" + ListFolder(strDir + "/Cam/").at(0);
    const std::vector<BYTE> avi = ReadFile(strAvi);

    const std::string strOut = strDir + "/out.mp4";
    std::ofstream(strOut) << "an earlier export";
    // A damaged second input: its last index entry points past its end, found only once the
    // first file is in the MP4.
    const std::string strCut = strDir + "/cut.avi";
    {
        std::vector<BYTE> cut = avi;
        const DWORD dwFar = 0x7FFFFFF0;
        std::memcpy(&cut[cut.size() - 8], &dwFar, 4);
        std::ofstream(strCut, std::ios::binary)
            .write(reinterpret_cast<const char*>(cut.data()), static_cast<std::streamsize>(cut.size()));
    }
    EXPECT_FALSE(ExportAviToMp4({strAvi, strCut}, strOut).bOk);
    EXPECT_EQ(ReadFile(strOut), std::vector<BYTE>({'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'e',
                                                   'x', 'p', 'o', 'r', 't'}));
    // An input as the output, by its name or by a link to it.
    std::filesystem::create_symlink(strAvi, strDir + "/link.avi");
    for (const std::string& strSame :
         {strAvi, strDir + "/link.avi", strDir + "/Cam/../Cam/" + strAvi.substr(strAvi.rfind('/') + 1)}) {
        const AviExportResult result = ExportAviToMp4({strAvi}, strSame);
        EXPECT_FALSE(result.bOk) << strSame;
        EXPECT_NE(result.strError.find("is one of the files"), std::string::npos) << result.strError;
        EXPECT_EQ(ReadFile(strAvi), avi);
    }
    // A folder that cannot be written: nothing made.
    const std::string strLocked = strDir + "/locked";
    std::filesystem::create_directory(strLocked);
    chmod(strLocked.c_str(), 0555);
    if (access(strLocked.c_str(), W_OK) != 0) // root writes anyway
        EXPECT_FALSE(ExportAviToMp4({strAvi}, strLocked + "/out.mp4").bOk);
    chmod(strLocked.c_str(), 0755);
    // Nothing was left beside the output; a good export replaces it, with a user's file mode.
    EXPECT_EQ(ListFolder(strDir),
              (std::vector<std::string>{"Cam", "cut.avi", "link.avi", "locked", "out.mp4"}));
    ASSERT_TRUE(ExportAviToMp4({strAvi}, strOut).bOk);
    EXPECT_EQ(
        RunTool("ffprobe -v error -select_streams v -show_entries stream=nb_frames -of csv=p=0 " + strOut),
        "15\n");
    struct stat st {};
    stat(strOut.c_str(), &st);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(ListFolder(strDir),
              (std::vector<std::string>{"Cam", "cut.avi", "link.avi", "locked", "out.mp4"}));
}
