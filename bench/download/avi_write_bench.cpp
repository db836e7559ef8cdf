// AVI writing alone: downloaded frames (stamped H.264-like segments of camera sizes, with
// GSM audio) through the download's AVI side into a file, against cp of the same number of
// bytes and against writing them from memory. Prints the rates and ratios; the files go to the
// folder given (default /tmp).
//
//   avi_write_bench [folder] [MiB]
#include "download/downloadrecordavi.h"
#include "protocol/engmedia.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string strBase = (argc > 1 ? std::string(argv[1]) : std::string("/tmp")) +
                                "/avi_write_bench." + std::to_string(getpid()) + "/";
    const double dMiB = argc > 2 ? std::atof(argv[2]) : 512;
    std::filesystem::create_directories(strBase + "cam/");

    // 25 frames per second: a 60 KiB key frame with its parameter set each second, 12 KiB
    // otherwise; 60 ms of GSM per frame.
    const std::vector<BYTE> sps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xE8, 0x40};
    auto frameBytes = [&](bool bKey) {
        std::vector<BYTE> v(10, 0);
        v[0] = 10;
        if (bKey)
            v.insert(v.end(), sps.begin(), sps.end());
        v.insert(v.end(), {0, 0, 0, 1, static_cast<BYTE>(bKey ? 0x65 : 0x41)});
        v.resize(bKey ? 60 * 1024 : 12 * 1024, 0x5A);
        return v;
    };
    std::vector<BYTE> key = frameBytes(true), delta = frameBytes(false), gsm(99, 0xD8);
    const DWORD dwStart = 1704067200;
    const long long llTarget = static_cast<long long>(dMiB * 1048576);
    long long llBytes = 0;
    // Each side starts with no dirty pages of the other: once the kernel's dirty limit is
    // reached, a writer waits for the disk, and the side that came second paid for the first.
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    {
        CDownloadRecordAVI avi(dwStart, 0xFFFFFFFF, strBase + "cam/");
        DownloadFrame frame;
        for (DWORD n = 0; llBytes < llTarget; ++n) {
            const DWORD dwTime = dwStart + n / 25;
            const DWORD dwMicro = n % 25 * 40000;
            std::vector<BYTE>& v = n % 25 == 0 ? key : delta;
            std::memcpy(&v[2], &dwTime, 4);
            std::memcpy(&v[6], &dwMicro, 4);
            frame.stFrame.pData = v.data();
            frame.stFrame.nLen = static_cast<DWORD>(v.size());
            frame.stFrame.usSequence = static_cast<WORD>(n);
            frame.stFrame.bySubSequence = n % 25 == 0 ? 0 : 1;
            frame.dwValue1 = dwTime;
            frame.dwFrameClass = DOWNLOAD_FRAME_VIDEO;
            avi.FeedMediaData(frame);
            frame.stFrame.pData = gsm.data();
            frame.stFrame.nLen = static_cast<DWORD>(gsm.size());
            frame.dwFrameClass = DOWNLOAD_FRAME_AUDIO;
            avi.FeedMediaData(frame);
            llBytes += static_cast<long long>(v.size() + gsm.size());
        }
    }
    const double dAvi = Seconds(start);
    long long llFileBytes = 0;
    std::string strFirst;
    for (const auto& entry : std::filesystem::directory_iterator(strBase + "cam/")) {
        llFileBytes += static_cast<long long>(entry.file_size());
        if (strFirst.empty())
            strFirst = entry.path();
    }

    // cp of a file with the bytes the AVI files hold.
    // Timed too: the same bytes written from memory, the floor of any writer that copies into the
    // page cache (cp copies file to file inside the kernel).
    const std::string strSource = strBase + "source.bin";
    ::sync();
    const auto writeStart = std::chrono::steady_clock::now();
    {
        std::FILE* p = std::fopen(strSource.c_str(), "wb");
        std::vector<char> block(1 << 20, 'x');
        for (long long l = 0; l < llFileBytes; l += static_cast<long long>(block.size()))
            std::fwrite(block.data(), 1,
                        std::min<long long>(static_cast<long long>(block.size()), llFileBytes - l), p);
        std::fclose(p);
    }
    const double dWrite = Seconds(writeStart);
    ::sync();
    const auto cpStart = std::chrono::steady_clock::now();
    const int nRc = std::system(("cp '" + strSource + "' '" + strBase + "copy.bin'").c_str());
    const double dCp = Seconds(cpStart);
    std::filesystem::remove_all(strBase);
    if (nRc != 0) {
        std::fprintf(stderr, "cp failed\n");
        return 1;
    }
    const double dAviRate = llFileBytes / 1048576.0 / dAvi;
    const double dCpRate = llFileBytes / 1048576.0 / dCp;
    const double dWriteRate = llFileBytes / 1048576.0 / dWrite;
    std::printf(
        "{\"bytes\":%lld,\"avi_seconds\":%.3f,\"avi_mib_s\":%.1f,\"cp_seconds\":%.3f,\"cp_mib_s\":%.1f,"
        "\"ratio\":%.2f,\"write_mib_s\":%.1f,\"ratio_to_write\":%.2f}\n",
        llFileBytes, dAvi, dAviRate, dCp, dCpRate, dAviRate / dCpRate, dWriteRate, dAviRate / dWriteRate);
    return 0;
}
