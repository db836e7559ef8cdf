#include "device/deviceinfo.h"

#include "core/log.h"
#include "platform/codepage.h"

#include <cstring>

DWORD CameraTypeFromChildCount(LONG nChildCount)
{
    if (nChildCount == 0)
        return CAMERA_TYPE_SINGLE;
    return nChildCount > 0 ? CAMERA_TYPE_PARENT : CAMERA_TYPE_CHILD;
}

void MicrophoneInfo::PrintInfo() const
{
    VLOG(5,
         "MicrophoneInfo::PrintInfo: bMicrophoneType:%d, bVolMicrophone:%d, bVolSpeaker:%d, bMicEnable:%d, "
         "bSpkEnable:%d",
         bMicrophoneType, bVolMicrophone, bVolSpeaker, static_cast<int>(bMicEnable),
         static_cast<int>(bSpkEnable));
}

DeviceInfo::~DeviceInfo() = default;

void DeviceInfo::CopyItem(const SearchItem& item)
{
    stItem = item;
    stQuery.bHasWifi = item.bHasWifi != 0;
    stQuery.bHas3G = item.bHas3G != 0;
    stPassword.bEncryptVersion = item.bEncryptVersion;

    // A channel has no password of its own: it is its recorder's.
    const SearchItem* pSource = &item;
    if (item.nChildCount < 0) {
        FATAL_CHECK(item.pParent != nullptr);
        pSource = item.pParent;
    }
    std::memcpy(stPassword.ulSequenceId, pSource->ulSequenceId, sizeof(stPassword.ulSequenceId));
    std::memcpy(stPassword.pszEncryptedSourceId, pSource->pszEncryptedSourceId,
                sizeof(stPassword.pszEncryptedSourceId));

    enCameraType = CameraTypeFromChildCount(item.nChildCount);
    PrintInfo();
}

void DeviceInfo::ClearQueryBlock()
{
    stQuery = DeviceQueryBlock{};
    stQuery.bHasWifi = stItem.bHasWifi != 0;
    stQuery.bHas3G = stItem.bHas3G != 0;
}

void DeviceInfo::PrintInfo() const
{
    if (g_nDebugLevel < 4)
        return;
    const std::string strCheck(reinterpret_cast<const char*>(stItem.pszEncryptedSourceId),
                               sizeof(stItem.pszEncryptedSourceId));
    WriteLog(4, "DeviceInfo::PrintInfo: ulSequenceId[0]:%d, ulSequenceId[1]:%d, pszEncryptedSourceId:%s",
             static_cast<int>(stItem.ulSequenceId[0]), static_cast<int>(stItem.ulSequenceId[1]),
             MaskSecret(strCheck).c_str());
    stPassword.PrintInfo();
}

std::string DeviceSortName(const DeviceInfo& device, UINT uCodePage)
{
    std::string strName = WideToAnsi(std::u16string(device.stItem.szName), uCodePage);
    if (strName.size() > VIEWER_NAME_BYTES - 1)
        strName.resize(VIEWER_NAME_BYTES - 1);
    return strName;
}
