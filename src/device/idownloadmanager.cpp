#include "device/idownloadmanager.h"

namespace {
IDownloadRecordManager* g_pDownloadRecordManager = nullptr;
}

IDownloadRecordManager* GetDownloadRecordManager()
{
    return g_pDownloadRecordManager;
}

IDownloadRecordManager* SetDownloadRecordManager(IDownloadRecordManager* pManager)
{
    IDownloadRecordManager* pOld = g_pDownloadRecordManager;
    g_pDownloadRecordManager = pManager;
    return pOld;
}
