// libFuzzer target: the download feed must never read or write outside what it was given,
// whatever the camera sends: SD-download sub-packets through the frame header into the
// download task (reorder by send sequence, its bounds), the AVI side (file rollover, names)
// and the AVI writer (stamp header rebuild, picture size, frame timing).
//
// The input: 8 bytes of range (start offset and length, 32-bit big-endian), then sub-packets
// as the camera sends them (20-byte header: length, send sequence, time, microseconds; then
// one media frame). Frame times are folded into the range so that most frames are written.
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "core/log.h"
#include "core/notify.h"
#include "device/deviceinfo.h"
#include "download/downloadenv.h"
#include "download/downloadrecord.h"
#include "platform/trace.h"
#include "protocol/engmedia.h"
#include "protocol/packet.h"

namespace {

constexpr DWORD BASE_TIME = 1704067200;

class CFuzzEnv : public IDownloadEnv {
public:
    DeviceInfo* GetDevice(DWORD) override { return &device; }
    void SendStartDownload(DWORD, DWORD, DWORD) override {}
    void SendStopDownload(DWORD) override {}
    std::string GetRecordPath() override { return strRoot; }
    CNotifyManager* GetNotify() override { return nullptr; }

    DeviceInfo device;
    std::string strRoot;
};

DWORD Be32(const std::uint8_t* p)
{
    return static_cast<DWORD>(p[0]) << 24 | static_cast<DWORD>(p[1]) << 16 | static_cast<DWORD>(p[2]) << 8 |
           p[3];
}

CFuzzEnv* Env()
{
    static CFuzzEnv* s_pEnv = [] {
        g_nDebugLevel = 0;
        SetTraceSink([](const char*) {});
        auto* pEnv = new CFuzzEnv;
        // Files go to memory where there is a memory file system.
        const char* pszBase = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pEnv->strRoot = std::string(pszBase) + "/fuzz_download." + std::to_string(getpid()) + "/";
        pEnv->device.stItem.dwDVIPID = 7;
        // libFuzzer ends with exit(): the folder goes with the run, not left in memory.
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(Env()->strRoot, ec);
        });
        return pEnv;
    }();
    return s_pEnv;
}

} // namespace

// An input allocates a few hundred kilobytes and frees them before the next one: a quarantine of
// 256 MiB (the default) only makes every input fault in fresh pages, and filling each block costs
// more than the feed itself. Use after free within an input and across the last ~50 stays caught.
extern "C" const char* __asan_default_options() // NOLINT(bugprone-reserved-identifier)
{
    return "quarantine_size_mb=16:max_malloc_fill_size=0";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    if (nSize < 8)
        return 0;
    CFuzzEnv* pEnv = Env();
    DeviceInfo& device = pEnv->device;
    const DWORD dwSpan = Be32(pData + 4) % 4000 + 1;
    device.dwDownloadStart = BASE_TIME + Be32(pData) % 100000;
    device.dwDownloadEnd = device.dwDownloadStart + dwSpan;
    std::string strFolder;
    {
        CDownloadRecord task(&device, pEnv);
        strFolder = task.GetFolder();
        if (task.IsRecordAlreadyDownload())
            return 0;
        task.Download();
        // A copy the frame header may change in place (the stamp's times go to host order).
        std::vector<BYTE> vecCopy(pData + 8, pData + nSize);
        std::size_t nPos = 0;
        int nRanges = 0;
        while (vecCopy.size() - nPos > SD_SUBPACKET_HEADER_LEN) {
            BYTE* p = vecCopy.data() + nPos;
            const DWORD dwLen = (static_cast<DWORD>(p[0]) << 8 | p[1]) | static_cast<DWORD>(p[2]) << 16;
            if (dwLen <= SD_SUBPACKET_HEADER_LEN || dwLen > vecCopy.size() - nPos)
                break;
            DownloadFrame frame;
            try {
                if (!CEngMedia::DecodeMedia(p + SD_SUBPACKET_HEADER_LEN, dwLen - SD_SUBPACKET_HEADER_LEN,
                                            &frame.stFrame))
                    break;
            } catch (const CParserException&) {
                break;
            }
            frame.dwValue1 = device.dwDownloadStart + Be32(p + 12) % (dwSpan + 2);
            frame.dwValue2 = Be32(p + 16);
            frame.dwFrameClass =
                frame.stFrame.nCodec == MEDIA_CODEC_AUDIO ? DOWNLOAD_FRAME_AUDIO : DOWNLOAD_FRAME_VIDEO;
            frame.pPacket = p + SD_SUBPACKET_HEADER_LEN;
            frame.nPacketLen = dwLen - SD_SUBPACKET_HEADER_LEN;
            // Send sequences near the continuous mark, with a few far ahead.
            const DWORD dwSeq = Be32(p + 8);
            const DWORD dwSendSeq =
                (dwSeq & 0x80000000) ? dwSeq : device.dwMaxContinuousAck + (dwSeq & 0x3F) - 8;
            task.FeedMediaData(frame, dwSendSeq);
            nPos += dwLen;
            // The camera's end-of-range reply, now and then.
            if ((p[3] & 0x0F) == 0x0F && nRanges++ < 2)
                task.DownloadNext();
        }
    }
    // The files go, the folder stays (making it again costs more than the rest). Only the task's
    // own folder: a scan of the root as well is a tenth of an input's time.
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(strFolder, ec))
        std::filesystem::remove(file.path(), ec);
    return 0;
}
