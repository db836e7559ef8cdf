// Export: downloaded AVI files, as the download writes them from a real H.264 stream and GSM
// audio, become one MP4 that ffprobe describes and ffmpeg decodes without an error.
#include "download/aviexport.h"
#include "download/downloadrecordavi.h"
#include "download_test_support.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdio>

using namespace downloadtest;

namespace {

std::string RunTool(const std::string& strCommand)
{
    std::string strOut;
    if (std::FILE* pPipe = popen(strCommand.c_str(), "r")) {
        char ach[4096];
        std::size_t n;
        while ((n = std::fread(ach, 1, sizeof ach, pPipe)) > 0)
            strOut.append(ach, n);
        pclose(pPipe);
    }
    return strOut;
}

// Access units of a libx264 clip with parameter sets on every key frame, without the access
// unit delimiters (the cameras send none).
std::vector<std::vector<BYTE>> EncodeClip(const std::string& strDir, int nFrames)
{
    const std::string strClip = strDir + "/clip.h264";
    RunTool("ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=15 -frames:v " + std::to_string(nFrames) +
            " -pix_fmt yuv420p -c:v libx264 -profile:v baseline -g 15 -threads 1 "
            "-x264-params aud=1:repeat-headers=1 -f h264 " +
            strClip);
    const std::vector<BYTE> es = ReadFile(strClip);
    std::vector<std::vector<BYTE>> vec;
    const BYTE abyAud[] = {0, 0, 0, 1, 9};
    std::vector<std::size_t> vecStarts;
    for (std::size_t i = 0; i + 6 <= es.size(); ++i)
        if (std::memcmp(&es[i], abyAud, 5) == 0)
            vecStarts.push_back(i);
    vecStarts.push_back(es.size());
    for (std::size_t k = 0; k + 1 < vecStarts.size(); ++k)
        vec.emplace_back(es.begin() + static_cast<long>(vecStarts[k] + 6),
                         es.begin() + static_cast<long>(vecStarts[k + 1]));
    return vec;
}

} // namespace

TEST(AviExport, DownloadedFilesBecomeOneMp4ThatPlayersOpen)
{
    QTemporaryDir dir;
    const std::string strDir = dir.path().toStdString();
    const int nFrames = 60;
    const std::vector<std::vector<BYTE>> vecClip = EncodeClip(strDir, nFrames);
    ASSERT_EQ(vecClip.size(), static_cast<std::size_t>(nFrames));
    RunTool("sox -n -r 8000 -c 1 " + strDir + "/tone.gsm synth 4 sine 440");
    const std::vector<BYTE> gsm = ReadFile(strDir + "/tone.gsm");
    ASSERT_GE(gsm.size(), 33u * 200);

    // Two ranges of two seconds each, so two files; two 20 ms GSM frames per video frame,
    // split into 700-byte segments.
    const DWORD T0 = 1714637700; // 2024-05-02 08:15:00
    const std::string strFolder = strDir + "/Cam/";
    std::size_t nGsm = 0;
    for (int nRange = 0; nRange < 2; ++nRange) {
        CDownloadRecordAVI avi(T0 + 2 * nRange, T0 + 2 * nRange + 1, strFolder);
        for (int n = 30 * nRange; n < 30 * nRange + 30; ++n) {
            const std::vector<BYTE>& au = vecClip[n];
            for (std::size_t nOff = 0, u = 0; nOff < au.size(); nOff += 700, ++u) {
                const std::vector<BYTE> part(au.begin() + static_cast<long>(nOff),
                                             au.begin() + static_cast<long>(std::min(au.size(), nOff + 700)));
                ASSERT_TRUE(avi.FeedMediaData(
                    OwnedFrame(1, T0 + n / 15, static_cast<WORD>(n), static_cast<BYTE>(u), part).frame));
            }
            const std::vector<BYTE> block(gsm.begin() + static_cast<long>(nGsm),
                                          gsm.begin() + static_cast<long>(nGsm + 66));
            nGsm += 66;
            avi.FeedMediaData(OwnedFrame(1, T0 + n / 15, static_cast<WORD>(n), 0, block, true).frame);
        }
    }
    const std::vector<std::string> vecFiles = ListFolder(strFolder);
    ASSERT_EQ(vecFiles,
              (std::vector<std::string>{"240502081500-240502081501.avi", "240502081502-240502081503.avi"}));

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
    ASSERT_EQ(aviPcm.size(), 30u * 2 * 320);
    ASSERT_GE(soxPcm.size(), aviPcm.size());
    EXPECT_TRUE(std::equal(aviPcm.begin(), aviPcm.end(), soxPcm.begin()));

    const std::string strMp4 = strDir + "/out.mp4";
    const AviExportResult result = ExportAviToMp4({strFolder + vecFiles[0], strFolder + vecFiles[1]}, strMp4);
    ASSERT_TRUE(result.bOk) << result.strError;
    EXPECT_EQ(result.llVideoFrames, nFrames);
    EXPECT_EQ(result.llAudioSamples, nFrames * 320);
    const std::string strStreams = RunTool(
        "ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames,sample_rate -of csv=p=0 " +
        strMp4);
    EXPECT_EQ(strStreams.substr(0, strStreams.find('\n')), "h264,320,240,60") << strStreams;
    EXPECT_EQ(strStreams.substr(strStreams.find('\n') + 1, 9), "aac,8000,") << strStreams;
    EXPECT_EQ(RunTool("ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 " + strMp4),
              "2024-05-02T08:15:00.000000Z\n");
    EXPECT_EQ(RunTool("ffmpeg -v error -i " + strMp4 + " -f null - 2>&1"), "");
    EXPECT_EQ(RunTool("ffmpeg -v error -i " + strMp4 + " -map 0:v -f framecrc - | grep -c '^0,'"), "60\n");
    const double dDuration =
        std::stod(RunTool("ffprobe -v error -show_entries format=duration -of csv=p=0 " + strMp4));
    EXPECT_NEAR(dDuration, 4.0, 0.2);

    // The stamped video of our files is not something ffmpeg decodes; the export is.
    EXPECT_FALSE(ExportAviToMp4({strDir + "/tone.gsm"}, strDir + "/bad.mp4").bOk);
}
