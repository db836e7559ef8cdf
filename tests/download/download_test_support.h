// Helpers of the download tests: a stand-in for the rest of the program, stamped H.264
// segments as the camera sends them, and a reader of the AVI files written.
#pragma once

#include "core/notify.h"
#include "device/deviceinfo.h"
#include "download/downloadenv.h"
#include "protocol/engmedia.h"

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
               bool bAudio = false)
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
        frame.stFrame.nCodec = bAudio ? MEDIA_CODEC_AUDIO : MEDIA_CODEC_H264;
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
