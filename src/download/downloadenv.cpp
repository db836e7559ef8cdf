#include "download/downloadenv.h"

#include "core/configfile.h"
#include "core/notify.h"
#include "device/devicemanager.h"
#include "platform/codepage.h"
#include "protocol/mscmd.h"

namespace {

// Mode word of request 50 that asks for a download (rather than playback).
constexpr DWORD DOWNLOAD_PLAY_MODE = 4;

class CDefaultDownloadEnv : public IDownloadEnv {
public:
    DeviceInfo* GetDevice(DWORD dwID) override
    {
        return GetDeviceManager()->GetDevice(dwID, CAMERA_MASK_VIDEO);
    }
    void SendStartDownload(DWORD dwID, DWORD dwStart, DWORD dwEnd) override
    {
        CMSCmd::GetInstance()->Cmd_PlayRecord(dwID, DOWNLOAD_PLAY_MODE, 0, 0, dwStart, 0, dwEnd, 0);
    }
    void SendStopDownload(DWORD dwID) override { CMSCmd::GetInstance()->Cmd_StopRecord(dwID); }
    std::string GetRecordPath() override
    {
        std::string strPath = WideToUtf8(GetConfigFileManager()->GetRecordPath());
        if (!strPath.empty() && strPath.back() != '/')
            strPath += '/';
        return strPath;
    }
    CNotifyManager* GetNotify() override { return GetNotifyManager(); }
    std::vector<const DeviceInfo*> GetKnownDevices() override
    {
        std::vector<const DeviceInfo*> vec;
        for (const auto& [dwID, pDevice] : GetDeviceManager()->GetDevices()) {
            vec.push_back(pDevice);
            for (const auto& pChild : pDevice->vecChildren)
                vec.push_back(pChild.get());
        }
        return vec;
    }
};

} // namespace

IDownloadEnv* GetDefaultDownloadEnv()
{
    static CDefaultDownloadEnv s_env;
    return &s_env;
}
