// Search replies and the search-item list.
#include "core/log.h"
#include "platform/codepage.h"
#include "platform/ticks.h"
#include "protocol/engcmd.h"
#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr BYTE CAP_HAS_SD = 0x01;
constexpr BYTE CAP_UNICAST = 0x02;
constexpr BYTE CAP_WIFI = 0x04;
constexpr BYTE CAP_CHILD_LIST = 0x08;
constexpr BYTE CAP_3G = 0x10;
// dwDVIPID, name, serial, check value field, one byte, feature byte.
constexpr std::size_t CHILD_ENTRY_LEN = 4 + VIEWER_NAME_BYTES + VIEWER_SERIAL_LEN + 16 + 1 + 1;

DWORD NormaliseCameraType(DWORD dwType)
{
    if (dwType == 0)
        return 5;
    if (dwType <= 3)
        return 1;
    return dwType;
}

std::size_t BoundedLength(const BYTE* p, std::size_t nMax)
{
    const void* pZero = std::memchr(p, 0, nMax);
    return pZero != nullptr ? static_cast<std::size_t>(static_cast<const BYTE*>(pZero) - p) : nMax;
}

} // namespace

SearchItem* CEngCmd::FindItemWithChildren(DWORD dwDVIPID) const
{
    const auto it = m_mapItems.find(dwDVIPID);
    return it != m_mapItems.end() && it->second->nChildCount > 0 ? it->second : nullptr;
}

SearchItem* CEngCmd::FindItemWithoutChildren(DWORD dwDVIPID) const
{
    const auto it = m_mapItems.find(dwDVIPID);
    if (it != m_mapItems.end() && it->second->nChildCount <= 0)
        return it->second;
    for (SearchItem* pParent : m_vecParents) {
        for (LONG i = 0; i < pParent->nChildCount; ++i) {
            if (pParent->pChildren[i].dwDVIPID == dwDVIPID)
                return &pParent->pChildren[i];
        }
    }
    return nullptr;
}

SearchItem* CEngCmd::FindDeviceItem(DWORD dwDVIPID) const
{
    // A recorder answers for its own id at its own address (volume, version, ports, ...).
    SearchItem* pItem = FindItemWithoutChildren(dwDVIPID);
    return pItem != nullptr ? pItem : FindItemWithChildren(dwDVIPID);
}

SearchItem* CEngCmd::FindAnyItem(DWORD dwDVIPID) const
{
    SearchItem* pItem = FindItemWithChildren(dwDVIPID);
    return pItem != nullptr ? pItem : FindItemWithoutChildren(dwDVIPID);
}

void CEngCmd::ReadName(CPacketReader& reader, char16_t (&szName)[VIEWER_NAME_CHARS + 1])
{
    const BYTE* pField = reader.ReadSpan(VIEWER_NAME_BYTES);
    std::u16string strName;
    if (pField[0] != 0) {
        const std::size_t nLen = BoundedLength(pField, VIEWER_NAME_BYTES);
        strName = AnsiToWide(std::string(reinterpret_cast<const char*>(pField), nLen), GetAnsiCodePage());
    } else {
        // A leading zero marks a UTF-8 name in the rest of the field.
        const std::size_t nLen = BoundedLength(pField + 1, VIEWER_NAME_BYTES - 1);
        strName = Utf8ToWide(std::string(reinterpret_cast<const char*>(pField + 1), nLen));
    }
    std::size_t nChars = std::min<std::size_t>(strName.size(), VIEWER_NAME_CHARS);
    // Never keep half of a surrogate pair.
    if (nChars > 0 && nChars < strName.size() && strName[nChars - 1] >= 0xD800 &&
        strName[nChars - 1] <= 0xDBFF)
        --nChars;
    std::memset(szName, 0, sizeof(szName));
    std::copy_n(strName.data(), nChars, szName);
}

void CEngCmd::ResCmd_Search(const ViewerPacket& packet)
{
    const DWORD dwID = packet.dwSrcID;
    VLOG(3, "CEngCmd::ResCmd_Search: beg { id:%x, ip:%x, bMulticast:%d, bEncrypted:%d, size:%u", dwID,
         packet.dwIP, packet.bMulticast, packet.bEncrypted, packet.nBodyLen);
    SearchItem* pItem = FindAnyItem(dwID);
    if (pItem != nullptr) {
        pItem->bMissing = 0;
    } else {
        m_vecItems.push_back(std::make_unique<SearchItem>());
        pItem = m_vecItems.back().get();
        pItem->dwDVIPID = dwID;
        m_mapItems.emplace(dwID, pItem);
    }
    SearchItem& item = *pItem;

    item.hSocket = packet.hSocket;
    item.bMulticast = packet.bMulticast;
    item.bEncrypted = packet.bEncrypted;
    if (packet.bMulticast) {
        item.bFoundByMulticast = 1;
        item.dwMulticastTick = GetTickCount();
    } else {
        item.bFoundBySweep = 1;
        item.dwSweepTick = GetTickCount();
    }

    CPacketReader reader(packet.pBody, packet.nBodyLen);
    ReadName(reader, item.szName);
    const std::string strSerial = reader.ReadFixedString(VIEWER_SERIAL_LEN);
    std::memset(item.szSerial, 0, sizeof(item.szSerial));
    std::memcpy(item.szSerial, strSerial.data(), strSerial.size());

    const BYTE byCapability = reader.ReadUInt8();
    item.byCapability = byCapability;
    item.bHasSD = (byCapability & CAP_HAS_SD) ? 1 : 0;
    item.bUnicastCapable = (byCapability & CAP_UNICAST) ? 1 : 0;
    item.bHasWifi = (byCapability & CAP_WIFI) ? 1 : 0;
    item.bHasChildList = (byCapability & CAP_CHILD_LIST) ? 1 : 0;
    item.bHas3G = (byCapability & CAP_3G) ? 1 : 0;

    const BYTE byFlags = reader.ReadUInt8();
    item.byFlagValue = byFlags & 0x0F;
    item.bFlagBit4 = (byFlags >> 4) & 1;
    for (BYTE& byInfo : item.abInfo)
        byInfo = reader.ReadUInt8();
    item.bEncryptVersion = reader.ReadUInt8();
    item.dwValue1 = reader.ReadUInt32();
    item.dwValue2 = reader.ReadUInt32();
    const DWORD dwValue3 = reader.ReadUInt32();
    item.usValue3Low = static_cast<WORD>(dwValue3 & 0xFFFF);
    item.usValue3High = static_cast<WORD>(dwValue3 >> 16);
    reader.Skip(4);
    reader.Read(item.pszEncryptedSourceId, sizeof(item.pszEncryptedSourceId));
    reader.Skip(4);
    item.dwIP = packet.dwIP;
    item.dwCameraType = NormaliseCameraType(reader.ReadUInt32());
    item.usPort = reader.ReadUInt16();
    item.byValue19 = reader.ReadUInt8();
    item.byValue20 = reader.ReadUInt8();

    // Older firmware stops here; what the tail would carry stays as it was.
    if (reader.GetRemaining() >= 8) {
        item.ulSequenceId[0] = reader.ReadUInt32LE();
        item.ulSequenceId[1] = reader.ReadUInt32LE();
    }
    if (reader.GetRemaining() >= 1)
        item.byOptional = reader.ReadUInt8();
    if (reader.GetRemaining() >= 1) {
        item.byFeature = reader.ReadUInt8();
        item.bFeatureBit3 = (item.byFeature >> 3) & 1;
    }
    if (reader.GetRemaining() >= 4)
        item.dwOptional = reader.ReadUInt32();

    // A channel answering for itself cannot carry channels of its own.
    if ((byCapability & CAP_CHILD_LIST) && reader.GetRemaining() >= 4 && item.nChildCount >= 0)
        ReadChildren(reader, item);

    VLOG(3, "CEngCmd::ResCmd_Search: end } id:%x, nChildCount:%d", dwID, item.nChildCount);
    RaiseEvent(VIEWER_EVT_SEARCH, 0, reinterpret_cast<LPARAM>(&item));
}

void CEngCmd::ReadChildren(CPacketReader& reader, SearchItem& parent)
{
    const DWORD dwCount = reader.ReadUInt32();
    // A count the body cannot hold ends in the parser error below anyway; allocating for it
    // would only let a camera make us reserve gigabytes.
    const std::size_t nFit = std::min<std::size_t>(dwCount, reader.GetRemaining() / CHILD_ENTRY_LEN);
    if (std::find(m_vecParents.begin(), m_vecParents.end(), &parent) == m_vecParents.end())
        m_vecParents.push_back(&parent);
    if (parent.pChildren == nullptr || static_cast<std::size_t>(parent.nChildCapacity) < nFit) {
        // Reused by later replies; grown only when a recorder reports more channels.
        m_vecChildArrays.push_back(std::make_unique<SearchItem[]>(std::max<std::size_t>(nFit, 1)));
        parent.pChildren = m_vecChildArrays.back().get();
        parent.nChildCapacity = static_cast<LONG>(std::max<std::size_t>(nFit, 1));
    }
    // The count grows with every entry read, so a list cut short keeps what it read and
    // never claims entries that were not filled.
    parent.nChildCount = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (i >= nFit)
            throw CParserException();
        SearchItem& child = parent.pChildren[i];
        child = parent;
        child.nChildCount = -1;
        child.nChildCapacity = 0;
        child.pChildren = nullptr;
        child.pParent = &parent;
        child.dwDVIPID = reader.ReadUInt32();
        ReadName(reader, child.szName);
        const std::string strSerial = reader.ReadFixedString(VIEWER_SERIAL_LEN);
        std::memset(child.szSerial, 0, sizeof(child.szSerial));
        std::memcpy(child.szSerial, strSerial.data(), strSerial.size());
        reader.Read(child.abChildCheck, sizeof(child.abChildCheck));
        child.byChildValue = reader.ReadUInt8();
        child.byFeature = reader.ReadUInt8();
        child.bFeatureBit3 = (child.byFeature >> 3) & 1;
        parent.nChildCount = static_cast<LONG>(i + 1);
    }
}
