#include "lan.h"

#include <algorithm>

#include "firmware.h"
#include "protocol/packet.h"

namespace camsim {

namespace {

constexpr std::size_t CHUNK_LEN = 1024;

bool SerialMatches(const Camera& cam, const std::string& strSerial)
{
    return cam.strSerial.substr(0, 20) == strSerial.substr(0, 20);
}

} // namespace

void RebootCamera(IEnv& env, Camera& cam, std::uint32_t dwMs, std::optional<std::string> newFirmware)
{
    cam.bOnline = false;
    cam.uBackAt = env.NowMs() + dwMs;
    const std::uint64_t uGen = ++cam.uRebootGen;
    // What lives in RAM is gone: sessions, the record-time channel, an upgrade in progress.
    auto forget = [](Camera& c) {
        c.video.bActive = false;
        c.rectime.pending.clear();
        c.rectime.dwLastReceived = 0xFFFFFFFF;
        c.rectime.uGeneration++;
    };
    forget(cam);
    for (auto& ch : cam.children)
        forget(*ch);
    cam.firmware = FirmwareSession{};
    cam.firmware.uGen = uGen;
    Camera* pCam = &cam;
    env.After(dwMs, [pCam, uGen, newFirmware] {
        if (pCam->uRebootGen != uGen)
            return; // taken offline or rebooted again meanwhile
        pCam->bOnline = true;
        pCam->uBackAt = 0;
        if (newFirmware)
            pCam->strFirmware = *newFirmware;
    });
}

Bytes BuildNetParamReport(const Camera& cam)
{
    const NetParams& n = cam.net;
    Bytes b;
    PutText(b, cam.strSerial, 20);
    PutU8(b, n.bPppoeNotGet);
    PutU8(b, n.bPppoePresent);
    PutU32(b, n.dwPppoeAddr);
    PutU8(b, n.bDhcpNotGet);
    PutU8(b, n.bDhcpPresent);
    PutU32(b, cam.dwAddr); // the address the camera holds now
    PutU8(b, n.ucConnType);
    PutU8(b, 0);
    PutU16(b, 0);
    PutU32(b, n.dwManualDns);
    PutU32(b, cam.dwAddr);
    PutU32(b, n.dwNetmask);
    PutU32(b, n.dwGateway);
    PutU32(b, n.dwDns1);
    PutU32(b, n.dwDns2);
    PutU32(b, n.dwReserved);
    PutText(b, n.strPppoeAccount, 32);
    PutText(b, n.strPppoePassword, 32);
    return b;
}

Bytes BuildWifiReply(const Camera& cam)
{
    const WifiSettings& w = cam.wifi;
    Bytes b;
    PutText(b, cam.strSerial, 20);
    b.insert(b.end(), 6, 0);
    PutU8(b, w.bWebAuth ? 1 : 0);
    PutU8(b, w.bReplyByte);
    PutU32(b, w.dwReplyValue);
    PutBytes(b, w.settings4.data(), 4);
    for (std::uint32_t v : w.adwSettings5)
        PutU32(b, v);
    PutBytes(b, w.block.data(), w.block.size());
    if (w.bWebAuth) {
        PutU32(b, w.dwWebAuthValue);
        PutBytes(b, w.webAuthRest.data(), w.webAuthRest.size());
    }
    if (w.survey.empty()) {
        PutU32(b, 0);
        return b;
    }
    const std::size_t nCount = std::min<std::size_t>(w.survey.size(), 64);
    PutU32(b, static_cast<std::uint32_t>(36 + 4 + 48 * nCount));
    PutBytes(b, w.surveyHeader.data(), w.surveyHeader.size());
    PutU8(b, static_cast<std::uint8_t>(nCount));
    b.insert(b.end(), 3, 0);
    for (std::size_t i = 0; i < nCount; ++i) {
        const WifiSurveyEntry& e = w.survey[i];
        PutBytes(b, e.bssid.data(), 6);
        PutU8(b, e.bChannel);
        PutU8(b, e.bHidden ? 0 : static_cast<std::uint8_t>(std::min<std::size_t>(e.strSsid.size(), 32)));
        PutText(b, e.bHidden ? std::string() : e.strSsid, 32);
        PutU8(b, e.bAuthMode);
        PutU8(b, e.bEncType);
        PutU8(b, e.bRadio);
        PutU8(b, e.bNetType);
        PutU32(b, e.dwSignal);
    }
    return b;
}

void CLanProtocol::Reply(Camera& cam, bool bMulticast, std::uint32_t dwAddr, std::uint8_t bCode,
                         const Bytes& body)
{
    cam.counters.repliesSent++;
    if (bMulticast)
        m_env.Send(cam, Channel::Lan, GROUP_LAN_REPLY, PORT_LAN_MCAST, BuildLanPacket(bCode, body));
    else
        m_env.Send(cam, Channel::Lan, dwAddr, PORT_LAN_UNI, BuildLanPacket(bCode, body));
}

void CLanProtocol::OnDatagram(Camera& cam, const LanIn& in)
{
    if (!cam.bOnline)
        return;
    LanHeader hdr;
    if (!ParseLanPacket(in.pData, in.nLen, hdr)) {
        if (in.nLen && in.pData[0] == LAN_GROUP)
            cam.counters.malformed++;
        return;
    }
    const std::uint8_t* p = in.pData + HEADER_LEN;
    const std::size_t n = in.nLen - HEADER_LEN;
    // Codes 2 and 5 reach every camera; the others carry the serial of the one they are for.
    if (hdr.bCode != 2 && hdr.bCode != 5) {
        const bool bShort = hdr.bCode >= 54 && hdr.bCode <= 56;
        const std::size_t nField = bShort ? 20 : 32;
        if (n < nField) {
            cam.counters.malformed++;
            return;
        }
        CPacketReader r(p, n);
        if (!SerialMatches(cam, r.ReadFixedString(nField)))
            return;
    }
    cam.counters.lan[hdr.bCode]++;
    if (cam.Ignores("lan:" + std::to_string(hdr.bCode))) {
        cam.counters.ignored++;
        return;
    }
    try {
        Dispatch(cam, in, hdr.bCode, p, n);
    } catch (const CParserException&) {
        cam.counters.malformed++;
        m_env.Log("camera " + std::to_string(cam.dwId) + ": short body for LAN code " +
                  std::to_string(hdr.bCode));
    }
}

void CLanProtocol::Dispatch(Camera& cam, const LanIn& in, std::uint8_t bCode, const std::uint8_t* p,
                            std::size_t n)
{
    CPacketReader r(p, n);
    Bytes b;
    const bool bMc = in.bMulticast;
    const std::uint32_t dwSrc = in.dwSrcAddr;
    switch (bCode) {
    case 1: {
        r.Skip(32);
        NetParams np = cam.net;
        np.ucConnType = r.ReadUInt8();
        r.Skip(3);
        np.dwManualDns = r.ReadUInt32();
        const std::uint32_t dwAddr = r.ReadUInt32();
        np.dwNetmask = r.ReadUInt32();
        np.dwGateway = r.ReadUInt32();
        np.dwDns1 = r.ReadUInt32();
        np.dwDns2 = r.ReadUInt32();
        np.dwReserved = r.ReadUInt32();
        np.strPppoeAccount = r.ReadFixedString(32);
        np.strPppoePassword = r.ReadFixedString(32);
        cam.net = np;
        cam.lastSet["network"] = std::to_string(np.ucConnType) + " " + AddrToText(dwAddr);
        // The report goes out from where the camera was asked; then it moves.
        Reply(cam, bMc, dwSrc, 0x81, [&] {
            Bytes rep = BuildNetParamReport(cam);
            if (np.ucConnType == 3 && dwAddr) {
                // Report the new address at both places the client reads it.
                for (int off : {28, 40}) {
                    rep[off] = static_cast<std::uint8_t>(dwAddr >> 24);
                    rep[off + 1] = static_cast<std::uint8_t>(dwAddr >> 16);
                    rep[off + 2] = static_cast<std::uint8_t>(dwAddr >> 8);
                    rep[off + 3] = static_cast<std::uint8_t>(dwAddr);
                }
            }
            return rep;
        }());
        if (np.ucConnType == 3 && dwAddr && dwAddr != cam.dwAddr)
            m_env.MoveCamera(cam, dwAddr);
        return;
    }
    case 2:
        Reply(cam, bMc, dwSrc, 0x81, BuildNetParamReport(cam));
        return;
    case 5:
        PutText(b, cam.strSerial, 32);
        PutBytes(b, cam.dserverBytes.data(), 6);
        PutText(b, cam.strDServer1, 31);
        PutText(b, cam.strDServer2, 31);
        Reply(cam, bMc, dwSrc, 0x85, b);
        return;
    case 8: {
        r.Skip(32);
        cam.strDServerConnectText = r.ReadFixedString(31);
        std::array<std::uint8_t, 31> block{};
        r.Read(block.data(), block.size());
        cam.lastSet["dserver_connect"] = cam.strDServerConnectText;
        cam.lastSet["dserver_block"] = ToHex(block.data(), block.size());
        // The camera moves to the server it was told and reports the link up there.
        if (!cam.strDServerConnectText.empty()) {
            cam.strDServer1 = cam.strDServerConnectText;
            cam.strDServer2.clear();
            cam.dserverBytes[0] = 1;
        }
        return;
    }
    case 41:
    case 43:
        Reply(cam, bMc, dwSrc, static_cast<std::uint8_t>(bCode + 0x80), BuildWifiReply(cam));
        return;
    case 42: {
        r.Skip(32);
        WifiSettings w = cam.wifi;
        r.Read(w.settings4.data(), 4);
        for (auto& v : w.adwSettings5)
            v = r.ReadUInt32();
        r.Read(w.block.data(), 228);
        r.Read(w.block.data() + 228, 4); // the two 16-bit values, kept as they travel
        w.dwWebAuthValue = r.ReadUInt32();
        r.Read(w.webAuthRest.data(), w.webAuthRest.size());
        // A new link takes effect at once: the Wi-Fi link is up exactly while it is the one used.
        if (w.settings4[0] != cam.wifi.settings4[0]) {
            w.bReplyByte = w.settings4[0] != 0 ? 1 : 0;
            cam.lastSet["wifi_link"] = w.settings4[0] != 0 ? "wireless" : "wired";
        }
        cam.wifi = w;
        cam.lastSet["wifi"] = ToHex(w.block.data() + 4, 32);
        PutText(b, cam.strSerial, 20);
        PutU8(b, 0);
        Reply(cam, bMc, dwSrc, 0xAA, b);
        return;
    }
    case 44:
        r.Skip(32);
        cam.ausCode44[0] = r.ReadUInt16();
        cam.ausCode44[1] = r.ReadUInt16();
        PutText(b, cam.strSerial, 20);
        PutU16(b, cam.ausCode44[0]);
        Reply(cam, bMc, dwSrc, 0xAC, b);
        return;
    case 45:
        r.Skip(32);
        cam.abCode45[0] = r.ReadUInt8();
        cam.abCode45[1] = r.ReadUInt8();
        PutText(b, cam.strSerial, 20);
        PutU8(b, cam.abCode45[0]);
        Reply(cam, bMc, dwSrc, 0xAD, b);
        return;
    case 48: {
        r.Skip(32);
        ThreeGSettings t = cam.threeG;
        const std::uint8_t bOp = r.ReadUInt8();
        t.bConnectType = r.ReadUInt8();
        t.bUseDefaultDial = r.ReadUInt8();
        r.ReadUInt8();
        t.strApn = r.ReadFixedString(32);
        t.strTelNum = r.ReadFixedString(32);
        t.strAccount = r.ReadFixedString(32);
        t.strPassword = r.ReadFixedString(32);
        cam.threeG = t;
        cam.lastSet["three_g"] = std::to_string(bOp) + " " + t.strApn;
        PutText(b, cam.strSerial, 32);
        PutU8(b, 0);
        Reply(cam, bMc, dwSrc, 0xB0, b);
        return;
    }
    case 49: {
        const ThreeGSettings& t = cam.threeG;
        PutText(b, cam.strSerial, 32);
        PutU8(b, t.bConnectType);
        PutU8(b, t.bUseDefaultDial);
        PutU8(b, t.bSimType);
        if (t.bSendStrings) {
            PutText(b, t.strApn, 32);
            PutText(b, t.strTelNum, 32);
            PutText(b, t.strAccount, 32);
            PutText(b, t.strPassword, 32);
        }
        Reply(cam, bMc, dwSrc, 0xB1, b);
        return;
    }
    case 66:
        PutText(b, cam.strSerial, 32);
        PutU32(b, cam.threeG.unDial);
        PutU32(b, cam.threeG.unSignal);
        PutU32(b, cam.threeG.unSimState);
        PutU32(b, cam.threeG.unNetwork);
        Reply(cam, bMc, dwSrc, 0xC2, b);
        return;
    case 54: {
        r.Skip(20);
        const std::uint32_t dwSize = r.ReadUInt32();
        // 1: cannot be an image (not even a header); 2: more than the camera can hold.
        std::uint8_t bResult = 0;
        if (dwSize < IMAGE_HEADER_LEN)
            bResult = 1;
        else if (dwSize > cam.dwFirmwareMaxSize)
            bResult = 2;
        if (bResult == 0 &&
            !(cam.firmware.bActive && cam.firmware.dwSize == dwSize && !cam.firmware.bWriting)) {
            const std::uint64_t uGen = cam.firmware.uGen;
            cam.firmware = FirmwareSession{};
            cam.firmware.uGen = uGen;
            cam.firmware.bActive = true;
            cam.firmware.dwSize = dwSize;
            cam.firmware.image.assign(dwSize, 0);
            cam.firmware.received.assign((dwSize + CHUNK_LEN - 1) / CHUNK_LEN, false);
        }
        cam.lastSet["firmware_request"] = std::to_string(dwSize) + " result " + std::to_string(bResult);
        PutText(b, cam.strSerial, 20);
        PutU8(b, bResult);
        Reply(cam, bMc, dwSrc, 0xB6, b);
        return;
    }
    case 55: {
        r.Skip(20);
        const std::uint32_t dwChunk = r.ReadUInt32();
        FirmwareSession& fw = cam.firmware;
        if (!fw.bActive || fw.bWriting || dwChunk >= fw.received.size()) {
            cam.counters.malformed++;
            return;
        }
        const std::size_t nOff = std::size_t{dwChunk} * CHUNK_LEN;
        const std::size_t nData = std::min(r.GetRemaining(), CHUNK_LEN);
        // A chunk cut short on the way is not taken: unacknowledged, it comes again. Taken, it
        // left zeros in the image and failed its check after the whole upload.
        if (nOff + nData > fw.image.size() || nData < std::min(CHUNK_LEN, fw.image.size() - nOff)) {
            cam.counters.malformed++;
            return;
        }
        r.Read(fw.image.data() + nOff, nData);
        fw.received[dwChunk] = true;
        PutText(b, cam.strSerial, 20);
        PutU32(b, dwChunk);
        Reply(cam, bMc, dwSrc, 0xB7, b);
        return;
    }
    case 56: {
        FirmwareSession& fw = cam.firmware;
        if (!fw.bActive || fw.bWriting)
            return; // a repeated write request while writing changes nothing
        fw.bWriting = true;
        fw.bMulticast = bMc;
        fw.dwReplyAddr = dwSrc;
        fw.steps.clear();
        const bool bComplete = std::all_of(fw.received.begin(), fw.received.end(), [](bool x) { return x; });
        std::string strVersion, strError;
        if (!bComplete) {
            fw.steps.push_back({0, 1, 0, 4});
            fw.strLastResult = "transmission error";
        } else if (!CheckFirmwareImage(fw.image, strVersion, strError)) {
            fw.steps.push_back({0, 0, 0, 0});
            fw.steps.push_back({1, 1, 0, 1});
            fw.strLastResult = "check failed: " + strError;
        } else {
            fw.steps.push_back({0, 0, 0, 0});
            fw.steps.push_back({1, 0, 0, 0});
            fw.steps.push_back({2, 0, 0, 0});
            for (std::uint8_t pc = 20; pc <= 100; pc = static_cast<std::uint8_t>(pc + 20))
                fw.steps.push_back({3, 0, pc, 0});
            fw.steps.push_back({3, 1, 100, 0});
            fw.newVersion = strVersion;
            fw.strLastResult = "written " + strVersion;
        }
        cam.lastSet["firmware"] = fw.strLastResult;
        FirmwareStep(cam, fw.uGen, 0);
        return;
    }
    default:
        m_env.Log("camera " + std::to_string(cam.dwId) + ": LAN code " + std::to_string(bCode) +
                  " not handled");
        return;
    }
}

void CLanProtocol::FirmwareStep(Camera& cam, std::uint64_t uGen, std::size_t nStep)
{
    FirmwareSession& fw = cam.firmware;
    if (fw.uGen != uGen || !fw.bWriting || nStep >= fw.steps.size())
        return;
    const auto& s = fw.steps[nStep];
    Bytes b;
    PutText(b, cam.strSerial, 20);
    PutBytes(b, s.data(), 4);
    if (nStep + 1 < fw.steps.size() || cam.bFirmwareFinalReport)
        Reply(cam, fw.bMulticast, fw.dwReplyAddr, 0xB8, b);
    Camera* pCam = &cam;
    if (nStep + 1 < fw.steps.size()) {
        const auto dwStep = static_cast<std::uint32_t>(cam.dwFirmwareWriteMs / fw.steps.size());
        m_env.After(dwStep, [this, pCam, uGen, nStep] { FirmwareStep(*pCam, uGen, nStep + 1); });
        return;
    }
    // Finished, well or not: the camera restarts, with the new image when it was good.
    const auto newVersion = fw.newVersion;
    m_env.After(200, [this, pCam, newVersion] { RebootCamera(m_env, *pCam, pCam->dwRebootMs, newVersion); });
}

} // namespace camsim
