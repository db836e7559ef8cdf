// Test tool: downloaded AVI files as the download writes them, without a camera, for the
// export's memory check and its measurement on large inputs.
//
//   make_recording FOLDER START SECONDS [KEY_KIB] [FRAME_KIB]
//
// SECONDS of 25 frames per second from camera time START into FOLDER (files of the download's
// usual 300 MiB at most): an H.264 key frame with its parameter sets each second (KEY_KIB, 60
// by default), the others FRAME_KIB (12), and 40 ms of GSM audio per frame. The frames do not
// decode to a picture; the export remuxes them as they are.
#include "download/downloadrecordavi.h"
#include "protocol/engmedia.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_recording FOLDER START SECONDS [KEY_KIB] [FRAME_KIB]\n");
        return 2;
    }
    std::string strFolder = argv[1];
    if (strFolder.back() != '/')
        strFolder += '/';
    const DWORD dwStart = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const DWORD dwSeconds = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    const std::size_t nKey = (argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 60) << 10;
    const std::size_t nFrame = (argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 12) << 10;
    const std::vector<BYTE> sps = {0,    0,    0, 1, 0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07,
                                   0xE8, 0x40, 0, 0, 0,    1,    0x68, 0xCE, 0x38, 0x80};
    std::vector<BYTE> vecVideo;
    std::vector<BYTE> vecAudio(66, 0xD8);
    CDownloadRecordAVI avi(dwStart, dwStart + dwSeconds, strFolder);
    auto feed = [&](std::vector<BYTE>& vecData, DWORD dwTime, WORD usSeq, BYTE bySub, bool bAudio) {
        DownloadFrame frame{};
        frame.stFrame.pData = vecData.data();
        frame.stFrame.nLen = static_cast<DWORD>(vecData.size());
        frame.stFrame.ulCameraID = 1;
        frame.stFrame.usSequence = usSeq;
        frame.stFrame.bySubSequence = bySub;
        frame.stFrame.nCodec = bAudio ? MEDIA_CODEC_AUDIO : MEDIA_CODEC_H264;
        frame.dwValue1 = dwTime;
        frame.dwFrameClass = bAudio ? DOWNLOAD_FRAME_AUDIO : DOWNLOAD_FRAME_VIDEO;
        frame.nPacketLen = frame.stFrame.nLen + 8;
        return avi.FeedMediaData(frame);
    };
    WORD usSeq = 0;
    for (DWORD s = 0; s < dwSeconds; ++s) {
        for (DWORD f = 0; f < 25; ++f, ++usSeq) {
            const bool bKey = f == 0;
            vecVideo.assign(10, 0);
            vecVideo[0] = 10;
            const DWORD dwTime = dwStart + s;
            const DWORD dwMicro = f * 40000;
            std::memcpy(&vecVideo[2], &dwTime, 4);
            std::memcpy(&vecVideo[6], &dwMicro, 4);
            if (bKey)
                vecVideo.insert(vecVideo.end(), sps.begin(), sps.end());
            vecVideo.insert(vecVideo.end(), {0, 0, 0, 1, static_cast<BYTE>(bKey ? 0x65 : 0x41)});
            vecVideo.resize(10 + (bKey ? nKey : nFrame), static_cast<BYTE>(usSeq * 7 + 1));
            if (!feed(vecVideo, dwTime, usSeq, bKey ? 0 : 1, false)) {
                std::fprintf(stderr, "make_recording: %s\n", avi.GetFailureText().c_str());
                return 1;
            }
            feed(vecAudio, dwTime, usSeq, 0, true);
        }
    }
    avi.CloseAviFile();
    if (avi.GetFailure() != DownloadFailure::NONE) {
        std::fprintf(stderr, "make_recording: %s\n", avi.GetFailureText().c_str());
        return 1;
    }
    return 0;
}
