#include "viewer.h"

#include "lan.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <set>

#include "protocol/packet.h"

namespace camsim {

namespace {

std::string HexKey(const char* pszKind, std::uint32_t dwCode)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s:0x%x", pszKind, dwCode);
    return buf;
}

std::string Words(const std::uint32_t* p, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s0x%x", i ? " " : "", p[i]);
        s += buf;
    }
    return s;
}

void ReadArray(CPacketReader& r, std::uint8_t* p, std::size_t n)
{
    r.Read(p, n);
}

} // namespace

// ---------------------------------------------------------------- bodies

Bytes BuildSearchReplyBody(const Camera& cam)
{
    const Camera& owner = cam.PasswordOwner();
    Bytes b;
    PutBytes(b, cam.nameField.data(), cam.nameField.size());
    PutText(b, cam.strSerial, 20);
    std::uint8_t bCaps = 0;
    if (cam.bCapBit0 || cam.bHasSD)
        bCaps |= 0x01;
    if (cam.bUnicastCapable)
        bCaps |= 0x02;
    if (cam.bHasWifi)
        bCaps |= 0x04;
    if (!cam.children.empty())
        bCaps |= 0x08;
    if (cam.bHas3G)
        bCaps |= 0x10;
    PutU8(b, bCaps);
    PutU8(b, cam.bFlagsByte);
    PutBytes(b, cam.fiveBytes.data(), cam.fiveBytes.size());
    PutU8(b, owner.bEncryptVersion);
    for (std::uint32_t v : cam.adwValues)
        PutU32(b, v);
    PutU32(b, 0);
    PutBytes(b, owner.checkValue.data(), owner.checkValue.size());
    PutU32(b, 0);
    PutU32(b, cam.dwTypeNumber);
    PutU16(b, cam.usCameraPort);
    PutU8(b, cam.bByte19);
    PutU8(b, cam.bByte20);
    // The optional tail is all or nothing here; a recorder always sends it since its child
    // list comes after it.
    if (!cam.bSendSequenceIds && cam.children.empty())
        return b;
    PutU32LE(b, owner.adwSeq[0]);
    PutU32LE(b, owner.adwSeq[1]);
    PutU8(b, cam.bOptByte);
    PutU8(b, static_cast<std::uint8_t>(cam.bFeatureByte | (cam.bHasSD ? 0x08 : 0)));
    PutU32(b, cam.dwOptValue);
    if (!cam.children.empty()) {
        PutU32(b, static_cast<std::uint32_t>(cam.children.size()));
        for (const auto& c : cam.children) {
            PutU32(b, c->dwId); // big-endian here, unlike the header's id
            PutBytes(b, c->nameField.data(), c->nameField.size());
            PutText(b, c->strSerial, 20);
            PutBytes(b, c->checkValue.data(), c->checkValue.size());
            PutU8(b, c->bChildByte);
            PutU8(b, static_cast<std::uint8_t>(c->bFeatureByte | (c->bHasSD ? 0x08 : 0)));
        }
    }
    return b;
}

Bytes BuildRecordReplyBody(const RecordSettings& rec, bool bNas)
{
    Bytes b;
    PutU32(b, rec.dwA);
    if (bNas)
        PutU32(b, rec.dwB);
    PutU8(b, rec.bC);
    if (!bNas)
        PutU8(b, rec.bD);
    if (bNas) {
        PutText(b, rec.strPath, 32);
        PutText(b, rec.strAccount, 16);
        PutText(b, rec.strPassword, 16);
    }
    PutBytes(b, rec.three.data(), 3);
    PutBytes(b, rec.three2.data(), 3);
    PutU8(b, rec.bOne);
    PutBytes(b, rec.four.data(), 4);
    PutBytes(b, rec.schedule.data(), 24);
    if (bNas) {
        PutBytes(b, rec.trailing.data(), 6);
        PutU8(b, rec.bD);
    } else {
        PutBytes(b, rec.trailing.data(), 5);
        PutU8(b, rec.trailing[5]);
    }
    PutU32(b, rec.dwSessionMode);
    return b;
}

void ParseRecordWrite(const std::uint8_t* pBody, std::size_t nBody, bool bNas, RecordSettings& rec)
{
    // Parsed into a copy so that a short body changes nothing.
    RecordSettings r2 = rec;
    CPacketReader r(pBody, nBody);
    ReadArray(r, r2.block.data(), 16);
    r2.dwA = r.ReadUInt32();
    if (bNas)
        r2.dwB = r.ReadUInt32();
    r2.bC = r.ReadUInt8();
    if (!bNas)
        r2.bD = r.ReadUInt8();
    if (bNas) {
        r2.strPath = r.ReadFixedString(32);
        r2.strAccount = r.ReadFixedString(16);
        r2.strPassword = r.ReadFixedString(16);
    }
    ReadArray(r, r2.three.data(), 3);
    ReadArray(r, r2.three2.data(), 3);
    r2.bOne = r.ReadUInt8();
    ReadArray(r, r2.four.data(), 4);
    ReadArray(r, r2.schedule.data(), 24);
    ReadArray(r, r2.trailing.data(), 6);
    if (bNas)
        r2.bD = r.ReadUInt8();
    r2.dwSessionMode = r.ReadUInt32();
    if (bNas)
        r2.bFinal = r.ReadUInt8();
    rec = r2;
}

Bytes BuildMailBody(const MailSettings& m)
{
    Bytes b;
    PutText(b, m.strServer1, 64);
    PutText(b, m.strServer2, 64);
    PutU8(b, m.bByte);
    PutText(b, m.strSender, 64);
    PutText(b, m.strSender2, 64);
    PutU8(b, m.bFlags);
    PutText(b, m.strText128, 128);
    PutText(b, m.strText64, 64);
    PutText(b, m.strMessage, 256);
    // The camera may hold more recipients than a client reads; it sends them all.
    const std::size_t n = std::min<std::size_t>(m.recipients.size(), 127);
    PutU8(b, static_cast<std::uint8_t>(n));
    for (std::size_t i = 0; i < n; ++i)
        PutText(b, m.recipients[i], 64);
    return b;
}

void ParseMail(const std::uint8_t* pBody, std::size_t nBody, MailSettings& mail)
{
    MailSettings m;
    CPacketReader r(pBody, nBody);
    m.strServer1 = r.ReadFixedString(64);
    m.strServer2 = r.ReadFixedString(64);
    m.bByte = r.ReadUInt8();
    m.strSender = r.ReadFixedString(64);
    m.strSender2 = r.ReadFixedString(64);
    m.bFlags = r.ReadUInt8();
    m.strText128 = r.ReadFixedString(128);
    m.strText64 = r.ReadFixedString(64);
    m.strMessage = r.ReadFixedString(256);
    const int nCount = static_cast<std::int8_t>(r.ReadUInt8());
    for (int i = 0; i < std::min(nCount, 5); ++i)
        m.recipients.push_back(r.ReadFixedString(64));
    mail = m;
}

Bytes BuildNtpBody(const NtpSettings& n)
{
    Bytes b;
    PutU16(b, n.usSync);
    PutU16(b, static_cast<std::uint16_t>(n.sTimeZone));
    PutText(b, n.strServer, 32);
    PutU8(b, n.bDstMode);
    for (std::uint32_t v : n.adwDst)
        PutU32(b, v);
    PutU8(b, n.bFinal);
    return b;
}

void ParseNtp(const std::uint8_t* pBody, std::size_t nBody, NtpSettings& ntp)
{
    NtpSettings n = ntp;
    CPacketReader r(pBody, nBody);
    n.usSync = r.ReadUInt16();
    n.sTimeZone = static_cast<std::int16_t>(r.ReadUInt16());
    n.strServer = r.ReadFixedString(32);
    // A write may stop after the server name, as a reply may.
    if (r.GetRemaining()) {
        n.bDstMode = r.ReadUInt8();
        for (auto& v : n.adwDst)
            v = r.ReadUInt32();
        n.bFinal = r.ReadUInt8();
    }
    ntp = n;
}

Bytes BuildAutoScanReplyBody(const AutoScanSchedule& s)
{
    Bytes b;
    PutU8(b, 0);
    PutU8(b, s.bByte);
    const std::size_t nNamed = std::min<std::size_t>(s.named.size(), 10);
    PutU8(b, static_cast<std::uint8_t>(nNamed));
    std::size_t i = 0;
    for (const auto& [num, name] : s.named) {
        if (i++ == nNamed)
            break;
        PutU8(b, num);
        const std::size_t nLen = std::min<std::size_t>(name.size(), 64);
        PutU8(b, static_cast<std::uint8_t>(nLen));
        PutBytes(b, reinterpret_cast<const std::uint8_t*>(name.data()), nLen);
    }
    const std::size_t nEntries = std::min<std::size_t>(s.entries.size(), 10);
    PutU8(b, static_cast<std::uint8_t>(nEntries));
    for (std::size_t k = 0; k < nEntries; ++k) {
        PutU8(b, s.entries[k].bNumber);
        PutU32(b, s.entries[k].dwStart);
        PutU32(b, s.entries[k].dwEnd);
    }
    return b;
}

void ParseAutoScanWrite(const std::uint8_t* pBody, std::size_t nBody, AutoScanSchedule& sched)
{
    AutoScanSchedule s;
    CPacketReader r(pBody, nBody);
    r.Skip(1); // operation
    s.bByte = r.ReadUInt8();
    const int nNamed = std::min<int>(r.ReadUInt8(), 10);
    for (int i = 0; i < nNamed; ++i) {
        const std::uint8_t bNum = r.ReadUInt8();
        const std::uint8_t bLen = r.ReadUInt8();
        const std::uint8_t* p = r.ReadSpan(bLen);
        s.named[bNum] = std::string(reinterpret_cast<const char*>(p), std::min<std::size_t>(bLen, 64));
    }
    const int nEntries = std::min<int>(r.ReadUInt8(), 10);
    for (int k = 0; k < nEntries; ++k) {
        ScheduleEntry e;
        e.bNumber = r.ReadUInt8();
        e.dwStart = r.ReadUInt32();
        e.dwEnd = r.ReadUInt32();
        s.entries.push_back(e);
    }
    // Names the client sends empty are unused slots, not entries.
    for (auto it = s.named.begin(); it != s.named.end();)
        it = it->second.empty() ? s.named.erase(it) : std::next(it);
    sched = s;
}

// ---------------------------------------------------------------- calendar

namespace {

std::uint32_t DayOf(std::uint32_t dwSeconds)
{
    const std::time_t t = dwSeconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    return static_cast<std::uint32_t>((tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday);
}

} // namespace

std::uint32_t DayStartSeconds(std::uint32_t dwDay)
{
    std::tm tm{};
    tm.tm_year = static_cast<int>(dwDay / 10000) - 1900;
    tm.tm_mon = static_cast<int>(dwDay / 100 % 100) - 1;
    tm.tm_mday = static_cast<int>(dwDay % 100);
    return static_cast<std::uint32_t>(timegm(&tm));
}

std::vector<std::uint32_t> RecordingDays(const std::vector<Recording>& recs)
{
    std::set<std::uint32_t> days;
    for (const auto& r : recs) {
        if (r.dwEnd < r.dwStart)
            continue;
        for (std::uint32_t d = DayOf(r.dwStart), dEnd = DayOf(r.dwEnd); d <= dEnd;) {
            days.insert(d);
            d = DayOf(DayStartSeconds(d) + 86400);
        }
    }
    return {days.begin(), days.end()};
}

std::vector<std::uint8_t> RecordingFlags(const std::vector<Recording>& recs, std::uint32_t dwDay, int nHour)
{
    // Hours of a day (nHour < 0) or minutes of one hour.
    const std::uint32_t dwBase =
        DayStartSeconds(dwDay) + (nHour < 0 ? 0u : static_cast<std::uint32_t>(nHour) * 3600u);
    const std::size_t nCells = nHour < 0 ? 24 : 60;
    const std::uint32_t dwCell = nHour < 0 ? 3600 : 60;
    std::vector<std::uint8_t> flags(nCells, 0);
    for (std::size_t i = 0; i < nCells; ++i) {
        const std::uint32_t a = dwBase + static_cast<std::uint32_t>(i) * dwCell, b = a + dwCell - 1;
        for (const auto& r : recs) {
            if (r.dwStart <= b && r.dwEnd >= a)
                flags[i] |= static_cast<std::uint8_t>(r.bEvent ? 0x03 : 0x01);
        }
    }
    return flags;
}

// ---------------------------------------------------------------- dispatch

void CViewerProtocol::Reply(const ReplyRoute& route, const Camera& from, std::uint8_t bCode,
                            const Bytes& body)
{
    Bytes pkt = BuildViewerReply(bCode, from.dwId, route.dwClientId, body);
    std::uint32_t dwDst = route.dwAddr;
    std::uint16_t usPort = route.usPort;
    if (route.bMulticast) {
        dwDst = route.bEncrypted ? GROUP_VIEWER_REPLY_ENC : GROUP_VIEWER_REPLY;
        usPort = route.bEncrypted ? PORT_VIEWER_MCAST_ENC : PORT_VIEWER_MCAST;
    }
    if (route.bEncrypted)
        CipherEncrypt(pkt.data(), pkt.size());
    const_cast<Camera&>(from).counters.repliesSent++;
    m_env.Send(*route.pHost, route.bEncrypted ? Channel::ViewerEncrypted : Channel::ViewerClear, dwDst,
               usPort, std::move(pkt));
}

void CViewerProtocol::OnDatagram(Camera& host, const ViewerIn& in)
{
    if (!host.bOnline || !in.pData || in.nLen == 0)
        return;
    if (in.bEncrypted ? host.enCipher == CipherMode::Clear : host.enCipher == CipherMode::Encrypted)
        return; // this camera does not speak that variant
    Bytes data(in.pData, in.pData + in.nLen);
    if (in.bEncrypted)
        CipherDecrypt(data.data(), data.size());
    ViewerHeader hdr;
    if (!ParseViewerRequest(data.data(), data.size(), hdr)) {
        host.counters.malformed++;
        return;
    }
    Camera* pTarget = nullptr;
    if (hdr.dwReceiverId == 0 || hdr.dwReceiverId == 0xFFFFFFFF)
        pTarget = &host;
    else
        pTarget = host.FindById(hdr.dwReceiverId);
    if (!pTarget)
        return; // for another camera of the group
    ReplyRoute route{&host, in.bMulticast, in.bEncrypted, in.dwSrcAddr, in.usSrcPort, hdr.dwSenderId};
    Camera& cam = *pTarget;
    cam.counters.viewer[hdr.bCode]++;
    if (cam.Ignores("viewer:" + std::to_string(hdr.bCode))) {
        cam.counters.ignored++;
        return;
    }
    try {
        Dispatch(cam, route, hdr.bCode, data.data() + HEADER_LEN, data.size() - HEADER_LEN);
    } catch (const CParserException&) {
        cam.counters.malformed++;
        m_env.Log("camera " + std::to_string(cam.dwId) + ": short body for viewer code " +
                  std::to_string(hdr.bCode));
    }
}

void CViewerProtocol::Dispatch(Camera& cam, const ReplyRoute& route, std::uint8_t bCode,
                               const std::uint8_t* p, std::size_t n)
{
    CPacketReader r(p, n);
    Bytes b;
    switch (bCode) {
    case 1: { // search
        if (cam.IsChild())
            return;
        const SearchRoute e = cam.enRoute;
        const bool bAnswer = route.bMulticast ? (e == SearchRoute::Both || e == SearchRoute::Multicast)
                                              : (e == SearchRoute::Both || e == SearchRoute::Sweep);
        if (bAnswer)
            Reply(route, cam, 0x81, BuildSearchReplyBody(cam));
        return;
    }
    case 4: { // set name
        std::array<std::uint8_t, 32> field{};
        r.Read(field.data(), field.size());
        cam.bNameExtra = r.ReadUInt8();
        cam.nameField = field;
        cam.lastSet["name"] = cam.NameText();
        Reply(route, cam, 0x84, {});
        return;
    }
    case 6: { // set password, enciphered under the current one
        std::uint8_t body[32];
        r.Read(body, sizeof body);
        Camera& owner = cam.Root();
        PasswordChangeCipher(body, owner.password, false);
        std::uint32_t dwResult = 1;
        if (std::memcmp(body, owner.password.data(), 16) == 0) {
            std::memcpy(owner.password.data(), body + 16, 16);
            owner.RecomputeCheckValue();
            owner.lastSet["password"] = "changed";
            dwResult = 0;
        } else {
            owner.lastSet["password"] = "refused";
        }
        PutU32(b, dwResult);
        Reply(route, cam, 0x86, b);
        return;
    }
    case 8:
        OnOnline(cam, route, p, n);
        return;
    case 9:
        PutText(b, cam.strHardware, 16);
        PutText(b, cam.strFirmware, 16);
        Reply(route, cam, 0x89, b);
        return;
    case 16:
        cam.bDServerLink = r.ReadUInt8();
        cam.lastSet["dserver_link"] = std::to_string(cam.bDServerLink);
        PutU8(b, cam.bDServerLink);
        Reply(route, cam, 0x90, b);
        return;
    case 17:
        PutU8(b, cam.bDServerLink);
        Reply(route, cam, 0x91, b);
        return;
    case 18:
        ParseRecordWrite(p, n, true, cam.nasRecord);
        cam.lastSet["nas_record"] = ToHex(p, n);
        PutU8(b, 0);
        Reply(route, cam, 0x92, b);
        return;
    case 19:
        Reply(route, cam, 0x93, BuildRecordReplyBody(cam.nasRecord, true));
        return;
    case 24:
        ParseMail(p, n, cam.mail);
        cam.lastSet["mail"] = cam.mail.strServer1;
        PutU8(b, 0);
        Reply(route, cam, 0x98, b);
        return;
    case 25:
        Reply(route, cam, 0x99, BuildMailBody(cam.mail));
        return;
    case 26:
        cam.abDo[0] = r.ReadUInt8();
        cam.abDo[1] = r.ReadUInt8();
        cam.lastSet["alarm_outputs"] = ToHex(cam.abDo, 2);
        return;
    case 27:
        PutBytes(b, cam.abDo, 2);
        Reply(route, cam, 0x9B, b);
        return;
    case 28:
        Reply(route, cam, 0x9C, BuildNtpBody(cam.ntp));
        return;
    case 29:
        ParseNtp(p, n, cam.ntp);
        cam.lastSet["ntp"] = cam.ntp.strServer;
        PutU8(b, 0);
        Reply(route, cam, 0x9D, b);
        return;
    case 35:
        ParseRecordWrite(p, n, false, cam.sdRecord);
        cam.lastSet["sd_record"] = ToHex(p, n);
        return;
    case 36:
        Reply(route, cam, 0xA4, BuildRecordReplyBody(cam.sdRecord, false));
        return;
    case 39: {
        cam.bLastSdOperation = r.ReadUInt8();
        // 0 done, 1 no card to work on, 2 the card is recording and cannot be cleared.
        std::uint8_t bResult = cam.bHasSD ? 0 : 1;
        if (bResult == 0 && cam.bLastSdOperation == 1) {
            if (cam.bSdInfoByte != 0) {
                bResult = 2;
            } else {
                // The calendar stays: the media side may be reading it; the space is free.
                cam.adwSdInfo[2] += cam.adwSdInfo[1];
                cam.adwSdInfo[1] = 0;
                cam.uSdClears++;
            }
        }
        cam.sdRecord.trailing[5] = bResult;
        cam.lastSet["sd_operation"] = std::to_string(cam.bLastSdOperation);
        PutU8(b, bResult);
        Reply(route, cam, 0xA7, b);
        return;
    }
    case 43: {
        const std::uint8_t bType = r.ReadUInt8();
        if (!cam.networkExtend.empty()) {
            b = cam.networkExtend;
        } else {
            const Camera& root = cam.pParent ? *cam.pParent : cam;
            PutU8(b, bType);
            PutU8(b, root.net.ucConnType);
            PutU16(b, 0);
            PutU32(b, root.dwAddr);
            PutU32(b, root.net.dwNetmask);
            PutU32(b, root.net.dwGateway);
            PutU32(b, root.net.dwDns1);
            PutU32(b, root.net.dwDns2);
        }
        Reply(route, cam, 0xAB, b);
        return;
    }
    case 47: {
        const std::uint8_t bOp = r.ReadUInt8();
        if (bOp == 0) {
            Reply(route, cam, 0xAF, BuildAutoScanReplyBody(cam.autoScan));
        } else {
            ParseAutoScanWrite(p, n, cam.autoScan);
            cam.lastSet["auto_scan_schedule"] = std::to_string(cam.autoScan.entries.size());
            PutU8(b, 1);
            Reply(route, cam, 0xAF, b);
        }
        return;
    }
    case 50: {
        const std::uint16_t usOp = r.ReadUInt16();
        const std::uint16_t usValue = r.ReadUInt16();
        if (usOp != 1) {
            // 0 asks the camera to pick a port itself.
            cam.usCameraPort = usValue != 0 ? usValue : static_cast<std::uint16_t>(3479 + cam.dwId % 4000);
            cam.lastSet["camera_port"] = std::to_string(usOp) + " " + std::to_string(usValue);
        }
        PutU32(b, cam.dwPortValue);
        PutU16(b, cam.usCameraPort);
        PutU16(b, cam.usAppPort);
        PutU16(b, cam.usMobilePort);
        Reply(route, cam, 0xB2, b);
        return;
    }
    case 65:
        OnStartVideo(cam, route, p, n);
        return;
    case 66:
        r.Skip(16);
        cam.video.bActive = false;
        cam.video.uStops++;
        m_env.OnVideoStop(cam);
        return;
    case 68:
        OnRecTimePacket(cam, p, n);
        return;
    case 69:
        for (std::uint32_t v : cam.adwSdInfo)
            PutU32(b, cam.bHasSD ? v : 0);
        PutU8(b, cam.bHasSD ? cam.bSdInfoByte : 0);
        Reply(route, cam, 0xC5, b);
        return;
    case 73:
        PutU32(b, cam.dwSdRecordState);
        Reply(route, cam, 0xC9, b);
        return;
    case 74:
        cam.abUpnp[0] = r.ReadUInt8();
        cam.lastSet["upnp"] = std::to_string(cam.abUpnp[0]);
        return;
    case 75:
        PutBytes(b, cam.abUpnp, 3);
        PutU8(b, cam.bUpnpNibbles);
        PutU16(b, cam.usUpnpA);
        PutU16(b, cam.usUpnpB);
        Reply(route, cam, 0xCB, b);
        return;
    case 78:
        cam.counters.audioBytes += n;
        m_env.OnTalkAudio(cam, p, n);
        return;
    case 89:
        OnReliable(cam, route, p, n);
        return;
    case 106: {
        const std::uint8_t bOp = r.ReadUInt8();
        const std::uint8_t bAddr = r.ReadUInt8();
        const std::uint16_t usBaud = r.ReadUInt16();
        if (bOp) {
            cam.bDomeAddress = bAddr;
            cam.usDomeBaud = usBaud;
            cam.lastSet["dome"] = std::to_string(bAddr) + " " + std::to_string(usBaud);
        }
        PutU8(b, cam.bDomeAddress);
        PutU16(b, cam.usDomeBaud);
        Reply(route, cam, 0xDA, b);
        return;
    }
    case 217:
        OnRecTimeAck(cam, p, n);
        return;
    default:
        m_env.Log("camera " + std::to_string(cam.dwId) + ": viewer code " + std::to_string(bCode) +
                  " not handled");
        return;
    }
}

void CViewerProtocol::OnStartVideo(Camera& cam, const ReplyRoute& route, const std::uint8_t* p, std::size_t n)
{
    CPacketReader r(p, n);
    Block16 token{};
    r.Read(token.data(), token.size());
    const std::uint32_t dwPc = r.ReadUInt32();
    const std::uint16_t usPort = r.ReadUInt16();
    r.Skip(1);
    const std::uint8_t bType = r.ReadUInt8();
    const Camera& owner = cam.PasswordOwner();
    std::uint32_t dwStatus = cam.dwVideoStatus;
    if (token != ExpectedToken(owner.password, owner.adwSeq, owner.bEncryptVersion)) {
        cam.counters.badToken++;
        dwStatus = 3;
    }
    if (dwStatus == 0) {
        cam.video.bActive = true;
        cam.video.dwPcAddr = dwPc;
        cam.video.usPort = usPort;
        cam.video.bStreamType = bType;
        cam.video.dwFrom = route.dwAddr;
        cam.video.uStarts++;
    }
    Bytes b;
    PutU32(b, dwStatus);
    if (cam.dwVideoValue) {
        PutU32(b, *cam.dwVideoValue);
        PutU8(b, 1);
    }
    Reply(route, cam, 0xC1, b);
    if (dwStatus == 0)
        m_env.OnVideoStart(cam, route.bMulticast);
}

void CViewerProtocol::OnOnline(Camera& cam, const ReplyRoute& route, const std::uint8_t* p, std::size_t n)
{
    OnlineCommand cmd;
    if (!ParseOnlineCommand(p, n, cmd)) {
        cam.counters.malformed++;
        return;
    }
    if (OnlineCheckValueOfBody(p) != cmd.dwCheck) {
        cam.counters.wrongCheck++;
        return;
    }
    cam.counters.online[static_cast<int>(cmd.dwCode)]++;
    if (cam.Ignores(HexKey("online", cmd.dwCode))) {
        cam.counters.ignored++;
        return;
    }
    const std::uint32_t* a = cmd.adwParam;
    auto reply = [&](std::uint32_t dwCode, std::vector<std::uint32_t> words) {
        while (words.size() < 5)
            words.push_back(0);
        Reply(route, cam, 8, BuildOnlineReply(dwCode, words));
    };
    auto ack = [&] {
        cam.lastSet[HexKey("online", cmd.dwCode)] = Words(a, 5);
        Reply(route, cam, 8, BuildOnlineReply(0x80, {}));
    };
    switch (cmd.dwCode) {
    case 0x20000: // audio channels
        cam.lastSet["audio"] = Words(a, 5);
        if (a[0] == 1 && (a[2] & 2))
            reply(0x101, {2, cam.bTalkAllowed ? 1u : 0u});
        else
            ack();
        return;
    case 0x10000000:
        ack();
        // Operation 1 (low byte) restarts the camera, after the acknowledgement went out.
        if ((a[0] & 0xFF) == 1) {
            cam.Root().uRebootsAsked++;
            RebootCamera(m_env, cam.Root(), cam.Root().dwRebootMs);
        }
        return;
    case 0x8000000:
        // The PC's clock: UTC seconds and the PC's offset from UTC in minutes.
        cam.dwClockUtc = a[0];
        cam.nClockOffset = static_cast<std::int32_t>(a[1]);
        cam.uClockSetAt = m_env.NowMs();
        cam.uClockSets++;
        ack();
        return;
    case 0x10000:
        // The live stream's session-mode word; the video report gives it back.
        if (a[0] == 359) {
            cam.adwVideoReport[0] = a[1];
            cam.lastSet["quality"] = std::to_string(a[1]);
        }
        ack();
        return;
    case 0x800000:
    case 1:
    case 0x80000000:
    case 16384:
        ack();
        return;
    case 0x400000:
        // The client files the video report under the third sensor family's report.
        reply(0x2000,
              {cam.adwVideoReport[0], cam.adwVideoReport[1], cam.adwVideoReport[2], cam.adwVideoReport[3]});
        return;
    case 0x80000001:
        if (a[0] == 2) {
            cam.bTimeFormat = static_cast<std::uint8_t>(a[1]);
            cam.lastSet["time_format"] = std::to_string(cam.bTimeFormat);
        }
        reply(0x80000001, {a[0], cam.bTimeFormat});
        return;
    case 0x20000000: {
        const VolumeSettings& v = cam.volume;
        const std::uint32_t w1 = (v.bSpkEnable ? 1u : 0u) | (std::uint32_t(v.bVolSpeaker & 0x7F) << 1) |
                                 (v.bMicEnable ? 0x100u : 0u) | (std::uint32_t(v.bVolMicrophone & 0x7F) << 9);
        reply(0x40000000, {w1, 0, v.bMicrophoneType});
        return;
    }
    case 2048:
        cam.volume.bMicEnable = (a[0] & 1) == 0;
        cam.volume.bVolMicrophone = static_cast<std::uint8_t>((a[0] >> 1) & 0x7F);
        cam.volume.bMicrophoneType = static_cast<std::uint8_t>(a[1]);
        ack();
        return;
    case 32: {
        const std::uint32_t w2 = (cam.dwCapWord2Flags & 0x7FFFF) | ((cam.dwSensorId & 0x1F) << 19) |
                                 ((cam.dwSubtype & 0xFF) << 24);
        reply(0x40, {cam.dwCapWord1, w2, cam.dwCapWord3, cam.dwCapWord4});
        return;
    }
    case 16: { // PTZ
        const std::uint32_t w = a[0];
        if (w == 0x20050000) {
            Bytes b;
            PutU8(b, 0x50);
            PutU8(b, 15);
            PutU16(b, 0);
            PutU32(b, (std::uint32_t(cam.bPresetNameLen) << 16) |
                          static_cast<std::uint32_t>(cam.presets.size()));
            for (const auto& [num, name] : cam.presets) {
                PutU32(b, num);
                PutText(b, name, cam.bPresetNameLen);
            }
            Reply(route, cam, 8, b);
            return;
        }
        if (w == 0x20010000 || w == 0x20030000)
            cam.bScanning = true;
        else if (w == 0x20020000)
            cam.bScanning = false;
        else if ((w >> 24) == 0xC0) {
            const std::uint32_t num = w & 0xFF;
            const std::uint8_t bCmd = static_cast<std::uint8_t>(w >> 16);
            if (bCmd == 0x03) {
                Bytes name;
                for (int i = 1; i < 5; ++i)
                    PutU32(name, a[i]);
                cam.presets[num] = std::string(name.begin(), std::find(name.begin(), name.end(), 0));
            } else if (bCmd == 0x05) {
                cam.presets.erase(num);
            }
        }
        cam.lastSet["ptz"] = Words(a, 5);
        Reply(route, cam, 8, BuildOnlineReply(0x80, {}));
        return;
    }
    case 0x1000000: {
        MotionSettings& m = cam.motion;
        if ((a[0] & 0xFF) == 2) {
            m.bThreshold = static_cast<std::uint8_t>(a[0] >> 24);
            for (int i = 0; i < 3; ++i)
                m.adwRegion[i] = a[1 + i];
            m.dwSensitivity = a[4];
            cam.lastSet["motion"] = Words(a, 5);
        }
        reply(0x1000000, {std::uint32_t(m.bThreshold) << 24, m.adwRegion[0], m.adwRegion[1], m.adwRegion[2],
                          m.dwSensitivity});
        return;
    }
    case 0x80000008:
        if (a[0] == 1) {
            cam.dwAlarmEnable = a[1];
            cam.dwAlarmPeriod = a[2];
            cam.lastSet["alarm_time"] = Words(a, 3);
        }
        reply(0x80000008, {a[0], cam.dwAlarmEnable, cam.dwAlarmPeriod});
        return;
    case 0x80000020:
        reply(0x80000020, {cam.bScanning ? 1u : 0u});
        return;
    case 256: {
        const std::uint32_t dwControl = a[0];
        const std::uint32_t dwValue = a[1];
        if ((dwControl & 0xFF) == 1) {
            const auto& g = cam.sensorRegs;
            reply(0x100, {dwControl,
                          (dwValue & 0xFF) | std::uint32_t(g[0]) << 8 | std::uint32_t(g[1]) << 16 |
                              std::uint32_t(g[2]) << 24,
                          std::uint32_t(g[3]) | std::uint32_t(g[4]) << 8, std::uint32_t(g[5])});
        } else {
            // Sub-command 2 writes the register named by the further byte, 3 restores them all.
            const std::uint32_t dwSub = dwControl & 0xFF;
            const std::uint32_t dwReg = (dwControl >> 16) & 0xFF;
            if (dwSub == 2 && dwReg < cam.sensorRegs.size())
                cam.sensorRegs[dwReg] = static_cast<std::uint8_t>(dwValue);
            else if (dwSub == 3)
                cam.sensorRegs = cam.sensorRegsDefault;
            cam.sensorSets[dwControl] = dwValue;
            cam.lastSet["sensor"] = Words(a, 2);
            reply(0x100, {dwControl, dwValue});
        }
        return;
    }
    case 0x80000081: {
        SnapshotServer& s = cam.snapshot;
        if (a[0] != 0) {
            s.ucEnable = static_cast<std::uint8_t>(a[1] >> 24);
            s.ucMode = static_cast<std::uint8_t>(a[1] >> 16);
            s.usParam = static_cast<std::uint16_t>(a[1]);
            s.ulServerIP = a[2];
            s.ulServerPort = a[3];
            s.ulSessionMode = a[4];
            cam.lastSet["snapshot_server"] = Words(a, 5);
        }
        Bytes b;
        PutU8(b, 0x50);
        PutU8(b, 2);
        PutU16(b, 0);
        PutU32(b, 0x80000081);
        PutU32(b, a[0]);
        PutU8(b, s.ucEnable);
        PutU8(b, s.ucMode);
        PutU16(b, s.usParam);
        PutU32(b, s.ulServerIP);
        PutU32(b, s.ulServerPort);
        PutU32(b, s.ulSessionMode);
        Reply(route, cam, 8, b);
        return;
    }
    case 0x80000080: {
        RtspSettings& t = cam.rtsp;
        if (a[0] != 0) {
            t.ulEnable = a[1];
            t.ulSessionMode = a[2];
            t.ulSubSessionMode = a[3];
            cam.lastSet["rtsp"] = Words(a, 4);
        }
        reply(0x80000080, {a[0], t.ulEnable, t.ulSessionMode, t.ulSubSessionMode});
        return;
    }
    default:
        m_env.Log("camera " + std::to_string(cam.dwId) + ": online command " + HexKey("code", cmd.dwCode) +
                  " not handled");
        return;
    }
}

// ---------------------------------------------------------------- record time

void CViewerProtocol::OnReliable(Camera& cam, const ReplyRoute& route, const std::uint8_t* p, std::size_t n)
{
    CPacketReader r(p, n);
    const std::uint32_t dwSeq = r.ReadUInt32();
    Bytes ack;
    PutU32(ack, dwSeq);
    Reply(route, cam, 0xD9, ack);
    RecTimeChannel& ch = cam.rectime;
    ch.dwClientId = route.dwClientId;
    ch.dwClientAddr = route.dwAddr;
    ch.usClientPort = route.usPort;
    ch.bMulticast = route.bMulticast;
    ch.bEncrypted = route.bEncrypted;
    if (dwSeq == ch.dwLastReceived)
        return; // a resend of what was handled already
    ch.dwLastReceived = dwSeq;
    OnRecTimePacket(cam, p + 4, n - 4);
}

void CViewerProtocol::OnRecTimeAck(Camera& cam, const std::uint8_t* p, std::size_t n)
{
    CPacketReader r(p, n);
    const std::uint32_t dwSeq = r.ReadUInt32();
    auto& q = cam.rectime.pending;
    if (!q.empty() && q.front().dwSeq == dwSeq) {
        q.pop_front();
        cam.counters.rectimeAcked++;
        PumpRecTime(cam);
    }
}

void CViewerProtocol::QueueRecTimeReply(Camera& cam, Bytes packet)
{
    PendingReply pr;
    pr.dwSeq = cam.rectime.dwNextSeq++;
    pr.packet = std::move(packet);
    cam.rectime.pending.push_back(std::move(pr));
    if (cam.rectime.pending.size() == 1)
        PumpRecTime(cam);
}

void CViewerProtocol::PumpRecTime(Camera& cam)
{
    RecTimeChannel& ch = cam.rectime;
    if (ch.pending.empty())
        return;
    PendingReply& pr = ch.pending.front();
    if (pr.nSends >= 4) {
        cam.counters.rectimeGivenUp++;
        ch.pending.pop_front();
        PumpRecTime(cam);
        return;
    }
    Bytes body;
    PutU32(body, pr.dwSeq);
    body.insert(body.end(), pr.packet.begin(), pr.packet.end());
    ReplyRoute route{&cam.Root(),     ch.bMulticast,   ch.bEncrypted,
                     ch.dwClientAddr, ch.usClientPort, ch.dwClientId};
    if (pr.nSends)
        cam.counters.rectimeResends++;
    pr.nSends++;
    Reply(route, cam, 0x59, body);
    const std::uint32_t dwSeq = pr.dwSeq;
    const int nSends = pr.nSends;
    const std::uint64_t uGen = ch.uGeneration;
    Camera* pCam = &cam;
    m_env.After(800, [this, pCam, dwSeq, nSends, uGen] {
        RecTimeChannel& c = pCam->rectime;
        if (c.uGeneration != uGen || c.pending.empty() || c.pending.front().dwSeq != dwSeq ||
            c.pending.front().nSends != nSends)
            return; // acknowledged, or the camera rebooted
        PumpRecTime(*pCam);
    });
}

void CViewerProtocol::OnRecTimePacket(Camera& cam, const std::uint8_t* p, std::size_t n)
{
    RecTimeHeader hdr;
    if (!ParseRecTimePacket(p, n, hdr)) {
        cam.counters.malformed++;
        return;
    }
    cam.counters.rectime[hdr.bCode]++;
    if (cam.Ignores("rectime:" + std::to_string(hdr.bCode))) {
        cam.counters.ignored++;
        return;
    }
    const std::uint8_t* pBody = p + HEADER_LEN;
    const std::size_t nBody = n - HEADER_LEN;
    CPacketReader r(pBody, nBody);
    Bytes b;
    switch (hdr.bCode) {
    case 106:
    case 108:
        cam.lastSet["rectime:" + std::to_string(hdr.bCode)] = std::to_string(r.ReadUInt32());
        return;
    case 18: {
        r.ReadUInt32();
        cam.lastSet["rectime:18"] = std::to_string(r.ReadUInt32());
        std::uint32_t dwStart = 0, dwEnd = 0;
        for (const auto& rec : cam.recordings) {
            if (!dwStart || rec.dwStart < dwStart)
                dwStart = rec.dwStart;
            dwEnd = std::max(dwEnd, rec.dwEnd);
        }
        PutU32(b, 1);
        PutU32(b, cam.dwId);
        PutU32(b, dwStart);
        PutU32(b, dwEnd);
        QueueRecTimeReply(cam, BuildRecTimeReply(19, cam.usMsVersion, b));
        return;
    }
    case 33: {
        r.ReadUInt32();
        const auto days = RecordingDays(cam.recordings);
        PutU32(b, cam.dwId);
        PutU32(b, static_cast<std::uint32_t>(days.size()));
        for (std::uint32_t d : days)
            PutU32(b, d);
        QueueRecTimeReply(cam, BuildRecTimeReply(0x22, cam.usMsVersion, b));
        return;
    }
    case 20: {
        r.ReadUInt32();
        const std::uint32_t dwDay = r.ReadUInt32();
        PutU32(b, cam.dwId);
        PutU32(b, dwDay);
        const auto flags = RecordingFlags(cam.recordings, dwDay, -1);
        b.insert(b.end(), flags.begin(), flags.end());
        QueueRecTimeReply(cam, BuildRecTimeReply(21, cam.usMsVersion, b));
        return;
    }
    case 22: {
        r.ReadUInt32();
        r.ReadUInt32();
        const std::uint32_t dwDay = r.ReadUInt32();
        const std::uint32_t dwHour = r.ReadUInt32();
        PutU32(b, cam.dwId);
        PutU32(b, dwDay);
        PutU32(b, dwHour);
        const auto flags =
            RecordingFlags(cam.recordings, dwDay, static_cast<int>(std::min<std::uint32_t>(dwHour, 23)));
        b.insert(b.end(), flags.begin(), flags.end());
        QueueRecTimeReply(cam, BuildRecTimeReply(23, cam.usMsVersion, b));
        return;
    }
    case 50:
    case 52:
    case 54:
    case 56:
    case 58:
    case 60:
    case 62:
    case 66:
        cam.rectimeAccepted[hdr.bCode].push_back(Bytes(pBody, pBody + nBody));
        if (cam.rectimeAccepted[hdr.bCode].size() > 16)
            cam.rectimeAccepted[hdr.bCode].erase(cam.rectimeAccepted[hdr.bCode].begin());
        m_env.OnRecTimeMedia(cam, hdr.bCode, pBody, nBody);
        return;
    case 65:
        cam.dwLastDownloadAckCount = r.ReadUInt32();
        m_env.OnRecTimeMedia(cam, hdr.bCode, pBody, nBody);
        return;
    default:
        m_env.Log("camera " + std::to_string(cam.dwId) + ": record-time code " + std::to_string(hdr.bCode) +
                  " not handled");
        return;
    }
}

} // namespace camsim
