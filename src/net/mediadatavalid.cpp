#include "net/mediadatavalid.h"

#include <cstring>

namespace {
// Camera ids travel least significant byte first; compare them as the wire holds them.
DWORD ReadIdAt(const BYTE* pData, DWORD nOffset)
{
    return static_cast<DWORD>(pData[nOffset]) | static_cast<DWORD>(pData[nOffset + 1]) << 8 |
           static_cast<DWORD>(pData[nOffset + 2]) << 16 | static_cast<DWORD>(pData[nOffset + 3]) << 24;
}
} // namespace

CMediaDataValid& GetMediaDataValid()
{
    static CMediaDataValid s_valid;
    return s_valid;
}

IMediaDataSource* CMediaDataValid::SetSource(IMediaDataSource* pSource)
{
    IMediaDataSource* pOld = m_pSource;
    m_pSource = pSource;
    return pOld;
}

bool CMediaDataValid::IsNeedMediaData()
{
    if (m_pSource == nullptr)
        return false;
    return m_pSource->HasWatchedDevice() || m_pSource->HasDownloading();
}

bool CMediaDataValid::CheckFrame(const BYTE* pData, DWORD nLen)
{
    if (pData == nullptr || nLen < MIN_FRAME_LEN || m_pSource == nullptr)
        return false;
    if (m_pSource->HasWatchedDevice()) {
        if (m_pSource->IsWatched(ReadIdAt(pData, 4)) || m_pSource->IsWatched(ReadIdAt(pData, 16)))
            return true;
    }
    // The download id sits at bytes 24..27, one word beyond the shortest frame checked.
    if (nLen < MIN_FRAME_LEN + 4)
        return false;
    return m_pSource->IsDownloading(ReadIdAt(pData, 24));
}
