// The camera side of the LAN protocol and the firmware upgrade.
#include <gtest/gtest.h>

#include "fake_env.h"
#include "firmware.h"
#include "lan.h"
#include "scenario.h"

using namespace camsim;
using camsim::test::CFakeEnv;

namespace {

constexpr std::uint32_t PC = 0xC6120001;

std::uint32_t BE32(const Bytes& b, std::size_t off)
{
    return std::uint32_t(b[off]) << 24 | std::uint32_t(b[off + 1]) << 16 | std::uint32_t(b[off + 2]) << 8 |
           b[off + 3];
}

struct Rig {
    explicit Rig(const std::string& json) : sc(LoadScenario(json)) {}
    CFakeEnv env;
    CLanProtocol lan{env};
    Scenario sc;
    Camera& Cam(std::size_t i = 0) { return *sc.cameras.at(i); }

    // Every camera hears a multicast request; a unicast one reaches only the first.
    void Request(std::uint8_t bCode, const Bytes& body, bool bMulticast = true)
    {
        const Bytes pkt = BuildLanPacket(bCode, body);
        for (auto& c : sc.cameras) {
            lan.OnDatagram(*c, LanIn{pkt.data(), pkt.size(), PC, bMulticast});
            if (!bMulticast)
                break;
        }
    }
    Bytes Serial(const std::string& s, std::size_t n = 32)
    {
        Bytes b;
        PutText(b, s, n);
        return b;
    }
    Bytes Reply(std::uint8_t bCode)
    {
        EXPECT_FALSE(env.sent.empty());
        if (env.sent.empty())
            return {};
        const Bytes& d = env.sent.back().data;
        EXPECT_EQ(d[0], 0x80);
        EXPECT_EQ(d[1], bCode);
        return Bytes(d.begin() + 16, d.end());
    }
};

const char* kTwo = R"({"cameras":[
  {"address":"198.18.0.10","serial":"LAN-A","wifi":true,"three_g":true,"three_g_strings":false,
   "wifi_survey":[{"ssid":"lab-net","auth":6,"enc":4},{"ssid":"hidden","hidden":true}],
   "wifi_speed":540,"wifi_quality":70},
  {"address":"198.18.0.11","serial":"LAN-B","firmware_write_ms":1000,"reboot_ms":2000,"firmware_max_size":100000}]})";

} // namespace

TEST(CamsimLan, AddressingBySerialAndRoute)
{
    Rig rig(kTwo);
    // Codes 2 and 5 carry no serial: every camera answers, to 236.5.7.2:8000.
    rig.Request(2, {});
    ASSERT_EQ(rig.env.sent.size(), 2u);
    EXPECT_EQ(rig.env.sent[0].dwDst, GROUP_LAN_REPLY);
    EXPECT_EQ(rig.env.sent[0].usPort, 8000);
    const Bytes np = rig.Reply(0x81);
    ASSERT_EQ(np.size(), 128u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(np.data())), "LAN-B");
    EXPECT_EQ(np[32], 3);
    EXPECT_EQ(BE32(np, 40), 0xC612000Bu);

    // A request with a serial reaches only its camera; a unicast one is answered at the sender's 8001.
    rig.env.sent.clear();
    rig.Request(5, {}, false);
    ASSERT_EQ(rig.env.sent.size(), 1u);
    EXPECT_EQ(rig.env.sent[0].dwDst, PC);
    EXPECT_EQ(rig.env.sent[0].usPort, 8001);
    EXPECT_EQ(rig.Reply(0x85).size(), 100u);
    rig.env.sent.clear();
    rig.Request(49, rig.Serial("LAN-A"));
    ASSERT_EQ(rig.env.sent.size(), 1u);
    // 3G settings without the strings when the camera is set so: 35 bytes.
    EXPECT_EQ(rig.Reply(0xB1).size(), 35u);
    rig.Request(49, rig.Serial("NOBODY"));
    EXPECT_EQ(rig.env.sent.size(), 1u);
}

TEST(CamsimLan, NetworkSetMovesTheCamera)
{
    Rig rig(kTwo);
    Bytes b = rig.Serial("LAN-A");
    PutU8(b, 3);
    b.insert(b.end(), 3, 0);
    PutU32(b, 0);          // manual DNS
    PutU32(b, 0xC6120063); // 198.18.0.99
    PutU32(b, 0xFFFFFF00);
    PutU32(b, 0xC6120001);
    PutU32(b, 0x08080808);
    PutU32(b, 0);
    PutU32(b, 0);
    PutText(b, "", 32);
    PutText(b, "", 32);
    ASSERT_EQ(b.size(), 128u);
    rig.Request(1, b);
    const Bytes rep = rig.Reply(0x81);
    EXPECT_EQ(BE32(rep, 40), 0xC6120063u);
    ASSERT_EQ(rig.env.moves.size(), 1u);
    EXPECT_EQ(rig.env.moves[0], 0xC6120063u);
    EXPECT_EQ(rig.Cam().net.dwDns1, 0x08080808u);
    rig.Request(2, {});
    EXPECT_EQ(BE32(rig.env.sent[rig.env.sent.size() - 2].data, 16 + 40), 0xC6120063u);
}

TEST(CamsimLan, WifiReplyAndSet)
{
    Rig rig(kTwo);
    rig.Request(41, rig.Serial("LAN-A"));
    const Bytes w = rig.Reply(0xA9);
    // serial 20, 6, flag, byte, value 4, 4 bytes, 5 words, block 232, survey length, header 36,
    // count and three bytes, two entries of 48.
    ASSERT_EQ(w.size(), 288 + 4 + 36 + 4 + 2 * 48u);
    EXPECT_EQ(BE32(w, 288), 36 + 4 + 96u);
    EXPECT_EQ(w[328], 2);
    const std::size_t e0 = 332;
    EXPECT_EQ(w[e0 + 7], 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w[e0 + 8])), "lab-net");
    EXPECT_EQ(w[e0 + 40], 6);
    EXPECT_EQ(w[e0 + 48 + 7], 0); // hidden network: no SSID length
    // Wired, cable in, Wi-Fi down; the survey header starts with speed and quality.
    EXPECT_EQ(w[27], 0);
    EXPECT_EQ(BE32(w, 28), 1u);
    EXPECT_EQ(w[32], 0);
    EXPECT_EQ(BE32(w, 292), 540u);
    EXPECT_EQ(w[296], 70);

    Bytes set = rig.Serial("LAN-A");
    set.insert(set.end(), 4 + 20, 0);
    set[32] = 1; // the wireless link
    Bytes block(232, 0);
    block[3] = 4;
    block[4] = 'h';
    block[5] = 'o';
    block[6] = 'm';
    block[7] = 'e';
    set.insert(set.end(), block.begin(), block.end());
    set.insert(set.end(), 54, 0);
    ASSERT_EQ(set.size(), 342u);
    rig.Request(42, set);
    rig.Reply(0xAA);
    rig.Request(43, rig.Serial("LAN-A"));
    const Bytes w2 = rig.Reply(0xAB);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w2[56 + 4]), 4), "home");
    // The switched link is the one in use: its Wi-Fi is up.
    EXPECT_EQ(w2[32], 1);
    EXPECT_EQ(w2[27], 1);
}

TEST(CamsimLan, FirmwareUpgradeAssemblesChecksAndReboots)
{
    Rig rig(kTwo);
    Camera& cam = rig.Cam(1);
    Bytes image;
    std::string err;
    ASSERT_TRUE(MakeFirmwareImage("9.9.9", 2500, 5, image, err));
    auto req = [&](std::uint32_t size) {
        Bytes b = rig.Serial("LAN-B", 20);
        PutU32(b, size);
        rig.Request(54, b);
        return rig.Reply(0xB6).at(20);
    };
    EXPECT_EQ(req(10), 1);     // cannot be an image
    EXPECT_EQ(req(200000), 2); // more than the camera holds
    EXPECT_EQ(req(2500), 0);
    for (std::uint32_t k = 0; k < 3; ++k) {
        Bytes b = rig.Serial("LAN-B", 20);
        PutU32(b, k);
        const std::size_t off = k * 1024, n = std::min<std::size_t>(1024, image.size() - off);
        // Cut short on the way (the last chunk too): not acknowledged, so the client sends it again.
        Bytes cut = b;
        cut.insert(cut.end(), image.begin() + static_cast<long>(off),
                   image.begin() + static_cast<long>(off + n - 1));
        const std::size_t nSent = rig.env.sent.size();
        rig.Request(55, cut);
        EXPECT_EQ(rig.env.sent.size(), nSent) << "chunk " << k;
        b.insert(b.end(), image.begin() + static_cast<long>(off), image.begin() + static_cast<long>(off + n));
        rig.Request(55, b);
        const Bytes ack = rig.Reply(0xB7);
        EXPECT_EQ(BE32(ack, 20), k);
    }
    rig.Request(56, rig.Serial("LAN-B", 20));
    rig.env.Advance(2000);
    std::vector<Bytes> progress;
    for (const auto& s : rig.env.sent)
        if (s.data[1] == 0xB8)
            progress.emplace_back(s.data.begin() + 16, s.data.end());
    ASSERT_GE(progress.size(), 3u);
    for (std::size_t i = 0; i + 1 < progress.size(); ++i)
        EXPECT_EQ(progress[i][21], 0) << "status of step " << i;
    EXPECT_EQ(progress.back()[20], 3); // stage: writing
    EXPECT_EQ(progress.back()[21], 1); // status: finished
    EXPECT_EQ(progress.back()[22], 100);
    EXPECT_EQ(progress.back()[23], 0); // result: fine
    EXPECT_FALSE(cam.bOnline);         // rebooting
    const std::size_t n = rig.env.sent.size();
    rig.Request(2, {});
    EXPECT_EQ(rig.env.sent.size(), n + 1); // only the other camera answers
    rig.env.Advance(2500);
    EXPECT_TRUE(cam.bOnline);
    EXPECT_EQ(cam.strFirmware, "9.9.9");
}

TEST(CamsimLan, FirmwareWithADamagedImageOrMissingChunksFails)
{
    Rig rig(kTwo);
    Camera& cam = rig.Cam(1);
    Bytes image;
    std::string err;
    ASSERT_TRUE(MakeFirmwareImage("9.9.9", 1500, 5, image, err));
    image[1000] ^= 0xFF;
    auto upload = [&](bool bAll) {
        Bytes b = rig.Serial("LAN-B", 20);
        PutU32(b, static_cast<std::uint32_t>(image.size()));
        rig.Request(54, b);
        for (std::uint32_t k = 0; k < (bAll ? 2u : 1u); ++k) {
            Bytes c = rig.Serial("LAN-B", 20);
            PutU32(c, k);
            const std::size_t off = k * 1024, n = std::min<std::size_t>(1024, image.size() - off);
            c.insert(c.end(), image.begin() + static_cast<long>(off),
                     image.begin() + static_cast<long>(off + n));
            rig.Request(55, c);
        }
        rig.Request(56, rig.Serial("LAN-B", 20));
        rig.env.Advance(1200);
        for (auto it = rig.env.sent.rbegin(); it != rig.env.sent.rend(); ++it)
            if (it->data[1] == 0xB8)
                return Bytes(it->data.begin() + 16, it->data.end());
        return Bytes{};
    };
    Bytes last = upload(true);
    ASSERT_EQ(last.size(), 24u);
    EXPECT_EQ(last[20], 1); // stage: checking
    EXPECT_EQ(last[21], 1);
    EXPECT_NE(last[23], 0);
    rig.env.Advance(3000);
    EXPECT_EQ(cam.strFirmware, "1.0.0");
    ASSERT_TRUE(cam.bOnline);

    last = upload(false);
    ASSERT_EQ(last.size(), 24u);
    EXPECT_EQ(last[21], 1);
    EXPECT_EQ(last[23], 4); // transmission error
}
