// Scenario files and seeded faults.
#include <gtest/gtest.h>

#include "faults.h"
#include "scenario.h"

using namespace camsim;

TEST(CamsimScenario, TemplatesExpandOverConsecutiveLabAddresses)
{
    const Scenario sc = LoadScenario(R"({"seed":3,"cameras":[
      {"address":"198.18.0.10","count":1000,"id":20000,"serial":"SIM{n:5}","name":"Cam {n}"},
      {"address":"198.18.9.10","serial":"REC","channels":4}]})");
    ASSERT_EQ(sc.cameras.size(), 1001u);
    EXPECT_EQ(AddrToText(sc.cameras[0]->dwAddr), "198.18.0.10");
    EXPECT_EQ(AddrToText(sc.cameras[244]->dwAddr), "198.18.0.254");
    EXPECT_EQ(AddrToText(sc.cameras[245]->dwAddr), "198.18.1.10");
    EXPECT_EQ(AddrToText(sc.cameras[999]->dwAddr), "198.18.4.29"); // as the lab hands them out
    EXPECT_EQ(sc.cameras[999]->dwId, 20999u);
    EXPECT_EQ(sc.cameras[999]->strSerial, "SIM01000");
    EXPECT_EQ(sc.cameras[999]->NameText(), "Cam 1000");
    EXPECT_EQ(sc.cameras[1000]->children.size(), 4u);
    EXPECT_EQ(sc.cameras[1000]->children[3]->strSerial, "REC-4");
    // Sequence ids come from the seed: the same file gives the same cameras.
    const Scenario again = LoadScenario(R"({"seed":3,"cameras":[{"address":"198.18.0.10"}]})");
    EXPECT_EQ(again.cameras[0]->adwSeq[0], sc.cameras[0]->adwSeq[0]);
}

TEST(CamsimScenario, AddressesFromTheLabListAndBadFilesAreRefused)
{
    const Scenario sc = LoadScenario(R"({"cameras":[{"count":2}]})", {0xC612000A, 0xC612000B});
    EXPECT_EQ(sc.cameras[1]->dwAddr, 0xC612000Bu);
    auto fails = [](const char* json, const char* what) {
        try {
            LoadScenario(json, {0xC612000A});
            ADD_FAILURE() << "accepted: " << json;
        } catch (const CScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
    };
    fails(R"({"cameras":[{"address":"10.0.0.5"}]})", "outside the lab");
    fails(R"({"cameras":[{"count":2}]})", "has no address");
    fails(R"({"cameras":[{"address":"198.18.0.10","id":5},{"address":"198.18.0.11","id":5}]})",
          "share the id");
    fails(R"({"cameras":[{"address":"198.18.0.10","serial":"ABCDEFGHIJKLMNOPQRSTU"}]})", "serial");
    fails(R"({"cameras":[{"address":"198.18.0.10","password":"seventeen chars!!"}]})", "password");
    fails(R"({"cameras":[{"address":"198.18.0.10","answers":"sometimes"}]})", "answers");
    fails(R"({"cameras":[{"address":"198.18.0.10","faults":{"loss":2}}]})", "probability");
    fails(R"({"cameras":[{"address":"198.18.0.10","recordings":[{"start":"yesterday","end":5}]}]})", "time");
    fails("{not json", "JSON");
    fails(R"({"cams":[]})", "cameras");
}

TEST(CamsimFaults, SeededAndPerDirection)
{
    FaultDirection f;
    f.dLoss = 0.3;
    f.dDuplicate = 0.2;
    f.dGarble = 0.1;
    f.dTruncate = 0.1;
    f.dReorder = 0.1;
    const std::vector<std::uint8_t> data(40, 0x55);
    auto run = [&](std::uint32_t seed) {
        std::mt19937 rng(seed);
        std::vector<std::vector<Delivery>> out;
        bool b;
        for (int i = 0; i < 200; ++i)
            out.push_back(ApplyFaults(f, rng, data, b));
        return out;
    };
    const auto a = run(9), b = run(9);
    ASSERT_EQ(a.size(), b.size());
    std::size_t nLost = 0, nDup = 0, nChanged = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].size(), b[i].size());
        for (std::size_t k = 0; k < a[i].size(); ++k) {
            EXPECT_EQ(a[i][k].data, b[i][k].data);
            EXPECT_EQ(a[i][k].dwDelayMs, b[i][k].dwDelayMs);
            nChanged += a[i][k].data != data;
        }
        nLost += a[i].empty();
        nDup += a[i].size() == 2;
    }
    EXPECT_GT(nLost, 0u);
    EXPECT_GT(nDup, 0u);
    EXPECT_GT(nChanged, 0u);

    std::mt19937 rng(1);
    bool bChanged = true;
    const auto clean = ApplyFaults(FaultDirection{}, rng, data, bChanged);
    ASSERT_EQ(clean.size(), 1u);
    EXPECT_FALSE(bChanged);
    EXPECT_EQ(clean[0].data, data);
    FaultDirection all;
    all.dLoss = 1;
    EXPECT_TRUE(ApplyFaults(all, rng, data, bChanged).empty());

    FaultSpec spec;
    ParseFaults(R"({"out":{"duplicate":1,"delay_ms":50}})", spec);
    EXPECT_EQ(spec.out.dDuplicate, 1.0);
    EXPECT_EQ(spec.out.dwDelayMs, 50u);
    EXPECT_FALSE(spec.in.Any());
}
