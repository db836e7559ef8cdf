// Opening a day's timeline from the PC recordings' index: a folder of 30 days of 10-minute
// segments of 16 cameras (with a gap an hour), then the index opened as the timeline opens it and
// one camera's day (and all cameras' day) read. Prints one JSON line; timings are not judged here.
//   timeline_bench [folder] [days] [cameras]
#include "pcrec/pcrecindex.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

double Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string strFolder =
        argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "vistrel_timeline_bench").string();
    const int nDays = argc > 2 ? std::atoi(argv[2]) : 30;
    const int nCameras = argc > 3 ? std::atoi(argv[3]) : 16;
    std::filesystem::remove_all(strFolder);
    constexpr std::int64_t T0 = 1714521600000; // 2024-05-01 00:00 UTC
    constexpr std::int64_t SEGMENT = 600000;
    std::string strError;
    const auto fill = std::chrono::steady_clock::now();
    long long llRows = 0;
    {
        CPcRecIndex index;
        if (!index.Open(strFolder, false, strError)) {
            std::fprintf(stderr, "%s\n", strError.c_str());
            return 1;
        }
        index.Begin();
        for (int c = 0; c < nCameras; ++c) {
            const std::string strSerial = "CAM" + std::to_string(c);
            for (std::int64_t t = T0; t < T0 + nDays * 86400000LL; t += SEGMENT) {
                PcSegment s;
                s.strSerial = strSerial;
                s.strPath = SegmentPathFor(strSerial, t);
                s.llStartMs = t;
                s.llEndMs = t + SEGMENT - ((t / SEGMENT) % 6 == 5 ? 30000 : 0);
                s.llBytes = 150000000;
                s.llFrames = 15000;
                s.strCodec = "h264";
                s.nWidth = 1280;
                s.nHeight = 720;
                s.bAudio = true;
                index.AddSegment(s);
                if ((t / SEGMENT) % 6 == 5)
                    index.AddGap(strSerial, s.llEndMs, t + SEGMENT);
                ++llRows;
            }
        }
        index.Commit();
    }
    const std::int64_t llDay = T0 + (nDays / 2) * 86400000LL;
    const auto open = std::chrono::steady_clock::now();
    CPcRecIndex index;
    if (!index.Open(strFolder, false, strError, false)) {
        std::fprintf(stderr, "%s\n", strError.c_str());
        return 1;
    }
    const auto opened = std::chrono::steady_clock::now();
    const auto vecSegments = index.Segments("CAM7", llDay, llDay + 86400000);
    const auto vecGaps = index.Gaps("CAM7", llDay, llDay + 86400000);
    const auto oneDay = std::chrono::steady_clock::now();
    const auto vecAll = index.Segments("", llDay, llDay + 86400000);
    const auto allDay = std::chrono::steady_clock::now();
    std::printf(
        "{\"days\": %d, \"cameras\": %d, \"segments\": %lld, \"fill_ms\": %.1f, \"open_ms\": %.2f, "
        "\"one_camera_day_ms\": %.2f, \"one_camera_day_segments\": %zu, \"one_camera_day_gaps\": %zu, "
        "\"open_and_one_camera_day_ms\": %.2f, \"all_cameras_day_ms\": %.2f, \"all_cameras_day_segments\": "
        "%zu}\n",
        nDays, nCameras, llRows, Ms(open - fill), Ms(opened - open), Ms(oneDay - opened), vecSegments.size(),
        vecGaps.size(), Ms(oneDay - open), Ms(allDay - oneDay), vecAll.size());
    std::filesystem::remove_all(strFolder);
    return 0;
}
