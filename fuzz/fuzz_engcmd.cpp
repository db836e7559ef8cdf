// libFuzzer target: the viewer engine's dispatcher and every reply handler behind it, fed clear
// and enciphered datagrams. Whatever arrives, nothing may read or write outside the datagram,
// the records or the search items, and no exception may leave DispatchCmd.
//
// The first input byte picks the mode:
//   bit 0: deliver enciphered (the input is enciphered first, so the handlers see it as is);
//   bit 1: as a multicast reply;
//   bit 2: the rest is code + body, framed behind a valid header (reaches handlers quickly);
//   bit 3: the body goes to the online-command dispatcher directly.
// A known camera with a capability record is in place first, so that routed paths are live.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/configfile.h"
#include "core/log.h"
#include "protocol/engcmd.h"
#include "protocol/packetcipher.h"

namespace {

class CNullSockets : public IViewerSocketLayer {
public:
    SocketGroup* CreateSocket(DWORD, WORD usPort, ISocketReceiver*) override { return &m_groups[usPort % 4]; }
    SocketGroup* CreateSweepGroup(WORD usPort, const BYTE*, int, ISocketReceiver*) override
    {
        return &m_groups[usPort % 4];
    }
    void StartSweep(SocketGroup*) override {}
    int SendTo(const BYTE*, int nLen, DWORD, WORD, SocketGroup*) override { return nLen; }
    DWORD GetLocalAddress(UINT) override { return 0x7F000001; }
    DWORD GetFirstLocalAddress() override { return 0x7F000001; }

private:
    SocketGroup m_groups[4];
};

class CFuzzConfig : public CConfigFileManager {
public:
    CFuzzConfig() : CConfigFileManager("/nonexistent-vistrel-fuzz/") {}
    bool IsEncrypt() override { return false; }
    int GetLanguageID() override { return 2052; }
};

void Header(std::vector<std::uint8_t>& packet, std::uint8_t byCode)
{
    const std::uint8_t abHeader[16] = {0x90, byCode, 0,    0,    0,    0,    0,    0,
                                       0x44, 0x33,   0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF};
    packet.insert(packet.end(), abHeader, abHeader + 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t nSize)
{
    if (nSize < 1)
        return 0;
    static CNullSockets s_sockets;
    static CFuzzConfig s_config;
    static CConfigCameraType s_types("/nonexistent-vistrel-fuzz/");
    // One engine for many inputs: building one (cipher tables, socket groups) costs more than
    // most inputs. It is built again once inputs have left many search items behind, so that
    // look-ups stay short and memory bounded.
    static std::unique_ptr<CEngCmd> s_pEngine;
    constexpr std::size_t MAX_ITEMS = 64;
    if (s_pEngine == nullptr || s_pEngine->GetItemCount() > MAX_ITEMS) {
        g_nDebugLevel = 0; // no log formatting in the hot path
        s_pEngine.reset();
        EngCmdDeps deps;
        deps.pSockets = &s_sockets;
        deps.pConfig = &s_config;
        deps.pCameraTypes = &s_types;
        s_pEngine = std::make_unique<CEngCmd>(deps);
        s_pEngine->Init();
        s_pEngine->SetPresetNamelessCheck([](DWORD dwID) { return (dwID & 1) != 0; });
    }
    CEngCmd& engine = *s_pEngine;
    const std::uint8_t byMode = pbData[0];
    ++pbData;
    --nSize;
    // The known camera and its capability record, refreshed for every input so that routed
    // paths are live whatever the previous input did to them.
    {
        std::vector<std::uint8_t> search;
        Header(search, 0x81);
        search.resize(16 + 104, 0);
        search[16] = 'c';
        search[16 + 52] = 0x0A; // unicast capable, with a channel list that is missing
        engine.DispatchCmd(search.data(), static_cast<int>(search.size()), 0x7F000002, 8102, 0, 1, 0);
        const std::uint8_t abCap[] = {0x90, 0x08, 0,    0,    0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0,
                                      0,    0,    0x50, 0x02, 0, 0, 0, 0, 0,    0x40, 0,    0,    0, 0,
                                      0x00, 0x08, 0,    0,    0, 0, 0, 0, 0,    0,    0,    0};
        std::vector<std::uint8_t> cap(abCap, abCap + sizeof(abCap));
        engine.DispatchCmd(cap.data(), static_cast<int>(cap.size()), 0x7F000002, 8102, 0, 1, 0);
    }

    std::vector<std::uint8_t> packet;
    if (byMode & 0x08) {
        Header(packet, 0x08);
        const std::uint8_t abOnline[4] = {0x50, 0x02, 0, 0};
        packet.insert(packet.end(), abOnline, abOnline + 4);
        packet.insert(packet.end(), pbData, pbData + nSize);
    } else if ((byMode & 0x04) && nSize >= 1) {
        Header(packet, pbData[0]);
        packet.insert(packet.end(), pbData + 1, pbData + nSize);
    } else {
        packet.assign(pbData, pbData + nSize);
    }
    const BYTE bEncrypted = (byMode & 0x01) ? 1 : 0;
    if (bEncrypted)
        EncryptPacket(packet.data(), packet.size());
    engine.DispatchCmd(packet.empty() ? nullptr : packet.data(), static_cast<int>(packet.size()), 0x7F000002,
                       8113, (byMode & 0x02) ? 1 : 0, 1, bEncrypted);

    // What the handlers left must still be consistent: every channel array holds its count.
    for (std::size_t i = 0; i < engine.GetItemCount(); ++i) {
        const SearchItem* pItem = engine.GetItem(i);
        if (pItem->nChildCount > 0 &&
            (pItem->pChildren == nullptr || pItem->nChildCount > pItem->nChildCapacity))
            __builtin_trap();
        for (LONG k = 0; k < pItem->nChildCount; ++k)
            if (pItem->pChildren[k].pParent != pItem)
                __builtin_trap();
    }
    return 0;
}
