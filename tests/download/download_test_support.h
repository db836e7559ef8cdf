// Helpers of the download tests: a stand-in for the rest of the program, stamped H.264
// segments as the camera sends them, and a reader of the AVI files written.
#pragma once

#include "core/notify.h"
#include "device/deviceinfo.h"
#include "download/downloadenv.h"
#include "protocol/engmedia.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace downloadtest {

class CFakeEnv : public IDownloadEnv {
public:
    DeviceInfo* GetDevice(DWORD dwID) override
    {
        auto it = mapDevices.find(dwID);
        return it == mapDevices.end() ? nullptr : it->second;
    }
    void SendStartDownload(DWORD dwID, DWORD dwStart, DWORD dwEnd) override
    {
        vecRequests.push_back("50 " + std::to_string(dwID) + " " + std::to_string(dwStart) + " " +
                              std::to_string(dwEnd));
    }
    void SendStopDownload(DWORD dwID) override { vecRequests.push_back("52 " + std::to_string(dwID)); }
    std::string GetRecordPath() override { return strRecordPath; }
    CNotifyManager* GetNotify() override { return &notify; }
    std::vector<const DeviceInfo*> GetKnownDevices() override
    {
        std::vector<const DeviceInfo*> vec;
        for (const auto& [dwID, pDevice] : mapDevices)
            vec.push_back(pDevice);
        return vec;
    }

    std::map<DWORD, DeviceInfo*> mapDevices;
    std::vector<std::string> vecRequests;
    std::string strRecordPath;
    CNotifyManager notify;
};

inline void SetName(DeviceInfo& device, const std::u16string& strName)
{
    std::memset(device.stItem.szName, 0, sizeof device.stItem.szName);
    std::memcpy(device.stItem.szName, strName.data(),
                std::min(strName.size(), sizeof device.stItem.szName / 2 - 1) * 2);
}
inline void SetSerial(DeviceInfo& device, const std::string& strSerial)
{
    std::memset(device.stItem.szSerial, 0, sizeof device.stItem.szSerial);
    std::memcpy(device.stItem.szSerial, strSerial.data(),
                std::min(strSerial.size(), sizeof device.stItem.szSerial));
}

// SPS of 320×240 and 176×144 pictures behind a start code, an IDR slice start and a P slice.
inline std::vector<BYTE> KeyFrame(bool bSmall = false, std::size_t nLen = 64)
{
    std::vector<BYTE> v =
        bSmall ? std::vector<BYTE>{0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0A, 0xF4, 0x16, 0x27, 0x20}
               : std::vector<BYTE>{0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xE8, 0x40};
    v.insert(v.end(), {0, 0, 0, 1, 0x65});
    while (v.size() < nLen)
        v.push_back(static_cast<BYTE>(v.size() * 7 + 1));
    return v;
}
inline std::vector<BYTE> PFrame(std::size_t nLen, BYTE bySeed)
{
    std::vector<BYTE> v = {0, 0, 0, 1, 0x41};
    while (v.size() < nLen)
        v.push_back(static_cast<BYTE>(bySeed + v.size()));
    return v;
}

// One downloaded frame with its own bytes: a 10-byte stamp header (time in host order) and
// the payload; audio frames carry GSM bytes alone.
struct OwnedFrame {
    std::vector<BYTE> vecData;
    DownloadFrame frame;

    OwnedFrame(DWORD dwID, DWORD dwTime, WORD usSeq, BYTE bySub, const std::vector<BYTE>& payload,
               bool bAudio = false, DWORD nCodec = MEDIA_CODEC_H264)
    {
        const DWORD dwMicro = usSeq % 15 * 66666u;
        if (!bAudio) {
            vecData.assign(10, 0);
            vecData[0] = 10;
            std::memcpy(&vecData[2], &dwTime, 4);
            std::memcpy(&vecData[6], &dwMicro, 4);
        }
        vecData.insert(vecData.end(), payload.begin(), payload.end());
        frame.stFrame.ulCameraID = dwID;
        frame.stFrame.usSequence = usSeq;
        frame.stFrame.bySubSequence = bySub;
        frame.dwValue1 = dwTime;
        frame.dwValue2 = dwMicro;
        frame.stFrame.nCodec = bAudio ? MEDIA_CODEC_AUDIO : nCodec;
        frame.nPacketLen = static_cast<DWORD>(vecData.size()) + 8;
        frame.dwFrameClass = bAudio ? DOWNLOAD_FRAME_AUDIO : DOWNLOAD_FRAME_VIDEO;
        Fix();
    }
    OwnedFrame(const OwnedFrame& o) : vecData(o.vecData), frame(o.frame) { Fix(); }
    OwnedFrame& operator=(const OwnedFrame& o)
    {
        vecData = o.vecData;
        frame = o.frame;
        Fix();
        return *this;
    }
    void Fix()
    {
        frame.stFrame.pData = vecData.data();
        frame.stFrame.nLen = static_cast<DWORD>(vecData.size());
    }
};

inline std::vector<BYTE> ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline DWORD Le32(const std::vector<BYTE>& v, std::size_t n)
{
    return v[n] | v[n + 1] << 8 | v[n + 2] << 16 | static_cast<DWORD>(v[n + 3]) << 24;
}

struct AviChunk {
    std::string strID;
    std::vector<BYTE> vecData;
};

// The chunks of an AVI file in index order; empty when the file has no index.
inline std::vector<AviChunk> ReadAviChunks(const std::string& strPath)
{
    const std::vector<BYTE> f = ReadFile(strPath);
    std::vector<AviChunk> vec;
    if (f.size() < 334 || std::memcmp(&f[322], "movi", 4) != 0)
        return vec;
    const std::size_t nIdx = 322 + 4 + ((Le32(f, 318) - 4 + 1) & ~1u);
    if (nIdx + 8 > f.size() || std::memcmp(&f[nIdx], "idx1", 4) != 0)
        return vec;
    const DWORD dwEntries = Le32(f, nIdx + 4) / 16;
    for (DWORD i = 0; i < dwEntries; ++i) {
        const std::size_t e = nIdx + 8 + 16 * i;
        const std::size_t nChunk = 322 + Le32(f, e + 8);
        const DWORD dwLen = Le32(f, e + 12);
        vec.push_back({std::string(reinterpret_cast<const char*>(&f[nChunk]), 4),
                       std::vector<BYTE>(f.begin() + static_cast<long>(nChunk + 8),
                                         f.begin() + static_cast<long>(nChunk + 8 + dwLen))});
    }
    return vec;
}

// The output of a shell command.
inline std::string RunTool(const std::string& strCommand)
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

// The frames of an elementary stream ffmpeg encodes from its test pattern (H.264 through
// libx264 without access unit delimiters, which cameras do not send, or MPEG-4 Part 2), one
// vector per frame with the headers before it. strOptions go to the encoder.
inline std::vector<std::vector<BYTE>> EncodeFrames(const std::string& strDir, bool bMpeg4, int nFrames,
                                                   const std::string& strOptions,
                                                   const std::string& strSize = "320x240")
{
    const std::string strClip = strDir + (bMpeg4 ? "/clip.m4v" : "/clip.h264");
    RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=" + strSize + ":rate=15 -frames:v " +
            std::to_string(nFrames) + " -pix_fmt yuv420p " +
            (bMpeg4 ? "-c:v mpeg4 -threads 1 " + strOptions + " -f m4v "
                    : "-c:v libx264 -profile:v baseline -threads 1 " + strOptions + " -f h264 ") +
            strClip);
    const std::vector<BYTE> es = ReadFile(strClip);
    std::vector<std::vector<BYTE>> vec;
    std::vector<BYTE> vecHead; // headers ahead of the next picture
    auto startCode = [&](std::size_t i) {
        return i + 3 < es.size() && es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1;
    };
    std::vector<std::size_t> vecUnits;
    for (std::size_t i = 0; i < es.size(); ++i)
        if (startCode(i))
            vecUnits.push_back(i > 0 && es[i - 1] == 0 ? i - 1 : i);
    vecUnits.push_back(es.size());
    for (std::size_t k = 0; k + 1 < vecUnits.size(); ++k) {
        const std::size_t a = vecUnits[k];
        const std::size_t b = vecUnits[k + 1];
        const std::size_t nCode = es[a] == 0 && es[a + 1] == 0 && es[a + 2] == 0 ? a + 4 : a + 3;
        const BYTE byCode = es[nCode];
        vecHead.insert(vecHead.end(), es.begin() + static_cast<long>(a), es.begin() + static_cast<long>(b));
        const bool bPicture = bMpeg4 ? byCode == 0xB6 : ((byCode & 0x1F) >= 1 && (byCode & 0x1F) <= 5);
        const bool bDelimiter = !bMpeg4 && (byCode & 0x1F) == 9;
        if (bDelimiter) {
            vecHead.resize(vecHead.size() - (b - a));
            continue;
        }
        if (bPicture) {
            vec.push_back(std::move(vecHead));
            vecHead.clear();
        }
    }
    return vec;
}

// The names in a folder, sorted.
inline std::vector<std::string> ListFolder(const std::string& strFolder)
{
    std::set<std::string> set;
    if (DIR* p = opendir(strFolder.c_str())) {
        while (const dirent* e = readdir(p))
            if (e->d_name[0] != '.')
                set.insert(e->d_name);
        closedir(p);
    }
    return {set.begin(), set.end()};
}

} // namespace downloadtest
