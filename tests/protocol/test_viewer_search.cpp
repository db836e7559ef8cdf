// Search replies: search items, names, optional tails, cut replies and recorder channels.
#include "test_viewer_support.h"

#include "platform/ticks.h"

#include <cstring>

using namespace viewertest;

namespace {

class ViewerSearchTest : public ViewerTest {
protected:
    const SearchItem* Item(DWORD dwID) const { return m_pEngine->FindAnyItem(dwID); }
    void Search(const SearchReply& reply, DWORD dwID = kCameraID, DWORD bMulticast = 0,
                DWORD dwIP = kCameraIP)
    {
        Dispatch(CameraPacket(0x81, reply.Body(), dwID), bMulticast, 0, dwIP);
    }
};

TEST_F(ViewerSearchTest, AFullReplyFillsEveryFieldInOrder)
{
    CFakeTickClock clock(5000);
    SearchReply reply;
    reply.capability = 0x17; // SD, unicast, Wi-Fi, 3G
    Search(reply);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(m_events[0].byCode, VIEWER_EVT_SEARCH);
    EXPECT_EQ(m_events[0].wParam, 0u);
    const SearchItem* p = Item(kCameraID);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(m_events[0].lParam, reinterpret_cast<LPARAM>(p));
    EXPECT_EQ(std::u16string(p->szName), u"Cam1");
    EXPECT_STREQ(p->szSerial, "SN0000000001");
    EXPECT_EQ(p->byCapability, 0x17);
    EXPECT_EQ(p->bHasSD, 1u);
    EXPECT_EQ(p->bUnicastCapable, 1u);
    EXPECT_EQ(p->bHasWifi, 1u);
    EXPECT_EQ(p->bHasChildList, 0u);
    EXPECT_EQ(p->bHas3G, 1u);
    EXPECT_EQ(p->byFlagValue, 0x5);
    EXPECT_EQ(p->bFlagBit4, 1);
    EXPECT_EQ(Bytes(p->abInfo, p->abInfo + 5), Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(p->bEncryptVersion, 1);
    EXPECT_EQ(p->dwValue1, 0x01020304u);
    EXPECT_EQ(p->dwValue2, 0x05060708u);
    EXPECT_EQ(p->usValue3Low, 0xBBBB);
    EXPECT_EQ(p->usValue3High, 0xAAAA);
    EXPECT_EQ(Bytes(p->pszEncryptedSourceId, p->pszEncryptedSourceId + 16), Bytes(16, 0x5C));
    EXPECT_EQ(p->dwCameraType, 7u);
    EXPECT_EQ(p->usPort, 8080);
    EXPECT_EQ(p->byValue19, 19);
    EXPECT_EQ(p->byValue20, 20);
    EXPECT_EQ(p->ulSequenceId[0], 0x12345678u);
    EXPECT_EQ(p->ulSequenceId[1], 0x9ABCDEF0u);
    EXPECT_EQ(p->byOptional, 0x61);
    EXPECT_EQ(p->byFeature, 0x0C);
    EXPECT_EQ(p->bFeatureBit3, 1);
    EXPECT_EQ(p->dwOptional, 0xCAFEBABEu);
    EXPECT_EQ(p->dwIP, kCameraIP);
    EXPECT_EQ(p->hSocket, kSocket);
    EXPECT_EQ(p->bFoundBySweep, 1u);
    EXPECT_EQ(p->dwSweepTick, 5000u);
    EXPECT_EQ(p->bFoundByMulticast, 0u);
    EXPECT_EQ(p->nChildCount, 0);
    EXPECT_EQ(p->pChildren, nullptr);
    EXPECT_EQ(p->pParent, nullptr);
}

TEST_F(ViewerSearchTest, CameraTypeIsNormalised)
{
    const std::pair<DWORD, DWORD> cases[] = {
        {0, 5}, {1, 1}, {2, 1}, {3, 1}, {4, 4}, {5, 5}, {0xFFFFFFFF, 0xFFFFFFFF}};
    DWORD dwID = 1;
    for (const auto& [wire, stored] : cases) {
        SearchReply reply;
        reply.cameraType = wire;
        Search(reply, ++dwID);
        ASSERT_NE(Item(dwID), nullptr);
        EXPECT_EQ(Item(dwID)->dwCameraType, stored) << wire;
    }
}

TEST_F(ViewerSearchTest, NamesAreAnsiUnlessTheFieldStartsWithZero)
{
    struct Case {
        const char* name;
        int language;
        Bytes field;
        std::u16string expected;
    };
    Bytes full(32, 'x');
    Bytes utf8Full = {0};
    for (int i = 0; i < 31; ++i)
        utf8Full.push_back('y');
    const Case cases[] = {
        {"Western", 1033, {'C', 'a', 'f', 0xE9}, u"Caf\u00E9"},
        {"GBK", 2052, {0xC3, 0xC5, 'A'}, u"\u95E8A"},
        {"Big5", 1028, {0xAA, 0xF9}, u"\u9580"},
        {"UTF-8 behind a zero", 1033, {0, 0xE9, 0x97, 0xA8, 0xE5, 0x8F, 0xA3}, u"\u95E8\u53E3"},
        {"UTF-8 under GBK too", 2052, {0, 'o', 'k'}, u"ok"},
        {"ANSI field without a zero", 1033, full, std::u16string(32, u'x')},
        {"UTF-8 field without a zero", 1033, utf8Full, std::u16string(31, u'y')},
    };
    DWORD dwID = 0x40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_config.m_nLanguage = c.language;
        SearchReply reply;
        reply.name = c.field;
        Search(reply, ++dwID);
        ASSERT_NE(Item(dwID), nullptr);
        EXPECT_EQ(std::u16string(Item(dwID)->szName), c.expected);
    }
}

TEST_F(ViewerSearchTest, OptionalTailIsReadOnlyWhenPresent)
{
    SearchReply reply;
    Search(reply);
    // Without the tail: what the tail gave before stays.
    SearchReply bare;
    bare.withSequence = false;
    bare.port = 9090;
    Search(bare);
    const SearchItem* p = Item(kCameraID);
    EXPECT_EQ(p->usPort, 9090);
    EXPECT_EQ(p->ulSequenceId[0], 0x12345678u);
    EXPECT_EQ(p->dwOptional, 0xCAFEBABEu);
    EXPECT_EQ(m_events.size(), 2u);

    // Each optional field on its own.
    for (int n = 0; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const DWORD dwID = 0x60 + n;
        SearchReply partial;
        partial.optionalBytes = n;
        Search(partial, dwID);
        const SearchItem* q = Item(dwID);
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(q->ulSequenceId[1], 0x9ABCDEF0u);
        EXPECT_EQ(q->byOptional, n >= 1 ? 0x61 : 0);
        EXPECT_EQ(q->byFeature, n >= 2 ? 0x0C : 0);
        EXPECT_EQ(q->dwOptional, n >= 3 ? 0xCAFEBABEu : 0u);
    }
}

TEST_F(ViewerSearchTest, AReplyCutAtAnyFieldRaisesNothingAndKeepsWhatWasRead)
{
    const Bytes body = SearchReply().Body();
    // Field ends: name, serial, capability, flags, six bytes, three words, skip, check, skip,
    // type, port, two bytes.
    const std::size_t boundaries[] = {0, 32, 52, 53, 54, 60, 64, 68, 72, 76, 92, 96, 100, 102, 103};
    DWORD dwID = 0x700;
    for (std::size_t nCut : boundaries) {
        for (std::size_t nExtra : {0, 1}) {
            const std::size_t nLen = nCut + nExtra;
            if (nLen >= SearchReply::kFixedLen)
                continue;
            SCOPED_TRACE(nLen);
            ++dwID;
            m_events.clear();
            Dispatch(CameraPacket(0x81, Bytes(body.begin(), body.begin() + nLen), dwID));
            EXPECT_TRUE(m_events.empty());
            const SearchItem* p = Item(dwID);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->bFoundBySweep, 1u);
            EXPECT_EQ(std::u16string(p->szName), nLen >= 32 ? u"Cam1" : u"");
            EXPECT_STREQ(p->szSerial, nLen >= 52 ? "SN0000000001" : "");
            EXPECT_EQ(p->bEncryptVersion, nLen >= 60 ? 1 : 0);
            // The sender's address is taken once the second skipped word is behind us.
            EXPECT_EQ(p->dwIP, nLen >= 96 ? kCameraIP : 0u);
            EXPECT_EQ(p->usPort, nLen >= 102 ? 8080 : 0);
        }
    }
    m_events.clear();
    Dispatch(CameraPacket(0x81, Bytes(body.begin(), body.begin() + SearchReply::kFixedLen), 0x7FF));
    EXPECT_EQ(m_events.size(), 1u);
}

TEST_F(ViewerSearchTest, AKnownCameraIsUpdatedInPlaceOnEitherPath)
{
    CFakeTickClock clock(1000);
    Search(SearchReply(), kCameraID, 0);
    SearchItem* p = m_pEngine->FindAnyItem(kCameraID);
    ASSERT_NE(p, nullptr);
    p->bMissing = 1;
    clock.Advance(250);
    SearchReply renamed;
    renamed.name = {'N', 'e', 'w'};
    Search(renamed, kCameraID, 1, 0xC6120033);
    EXPECT_EQ(m_pEngine->GetItemCount(), 1u);
    EXPECT_EQ(m_pEngine->FindAnyItem(kCameraID), p);
    EXPECT_EQ(p->bMissing, 0u);
    EXPECT_EQ(std::u16string(p->szName), u"New");
    EXPECT_EQ(p->dwIP, 0xC6120033u);
    EXPECT_EQ(p->bFoundBySweep, 1u);
    EXPECT_EQ(p->dwSweepTick, 1000u);
    EXPECT_EQ(p->bFoundByMulticast, 1u);
    EXPECT_EQ(p->dwMulticastTick, 1250u);
    EXPECT_EQ(p->bMulticast, 1u);
}

SearchReply Recorder(int nChildren)
{
    SearchReply reply;
    reply.capability = 0x0A;
    for (int i = 0; i < nChildren; ++i) {
        SearchReply::Child child;
        child.id = 0x601 + i;
        child.name = {'c', 'h', static_cast<std::uint8_t>('1' + i)};
        child.serial = "CH" + std::to_string(i + 1);
        child.value = static_cast<std::uint8_t>(0x30 + i);
        child.feature = static_cast<std::uint8_t>(i == 1 ? 0x08 : 0x01);
        reply.children.push_back(child);
    }
    return reply;
}

TEST_F(ViewerSearchTest, ARecordersChannelsCarryItsFieldsAndTheirOwn)
{
    SearchReply reply = Recorder(3);
    reply.children[2].name = {0, 0xE9, 0x97, 0xA8};
    Search(reply, 0x600);
    ASSERT_EQ(m_events.size(), 1u);
    const SearchItem* pParent = Item(0x600);
    ASSERT_NE(pParent, nullptr);
    EXPECT_EQ(m_events[0].lParam, reinterpret_cast<LPARAM>(pParent));
    ASSERT_EQ(pParent->nChildCount, 3);
    ASSERT_NE(pParent->pChildren, nullptr);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const SearchItem& c = pParent->pChildren[i];
        EXPECT_EQ(c.dwDVIPID, DWORD(0x601 + i));
        EXPECT_EQ(c.nChildCount, -1);
        EXPECT_EQ(c.pParent, pParent);
        EXPECT_EQ(c.pChildren, nullptr);
        EXPECT_EQ(c.szSerial, "CH" + std::to_string(i + 1));
        EXPECT_EQ(c.byChildValue, 0x30 + i);
        EXPECT_EQ(c.bFeatureBit3, i == 1 ? 1 : 0);
        EXPECT_EQ(Bytes(c.abChildCheck, c.abChildCheck + 16), Bytes(16, 0xC1));
        // The parent's fields, password source included.
        EXPECT_EQ(c.dwIP, kCameraIP);
        EXPECT_EQ(c.dwValue1, pParent->dwValue1);
        EXPECT_EQ(c.ulSequenceId[0], pParent->ulSequenceId[0]);
        EXPECT_EQ(std::memcmp(c.pszEncryptedSourceId, pParent->pszEncryptedSourceId, 16), 0);
        EXPECT_EQ(c.bFoundBySweep, 1u);
        EXPECT_EQ(m_pEngine->FindDeviceItem(c.dwDVIPID), &c);
    }
    EXPECT_EQ(m_pEngine->FindDeviceItem(0x600), pParent);
    EXPECT_EQ(std::u16string(pParent->pChildren[0].szName), u"ch1");
    EXPECT_EQ(std::u16string(pParent->pChildren[2].szName), u"\u95E8");
    EXPECT_EQ(m_pEngine->GetItemCount(), 1u);
}

TEST_F(ViewerSearchTest, LaterRepliesReuseTheChannelArray)
{
    Search(Recorder(3), 0x600);
    const SearchItem* pParent = Item(0x600);
    const SearchItem* pArray = pParent->pChildren;
    Search(Recorder(3), 0x600);
    EXPECT_EQ(pParent->pChildren, pArray);
    EXPECT_EQ(pParent->nChildCount, 3);
    Search(Recorder(2), 0x600);
    EXPECT_EQ(pParent->pChildren, pArray);
    EXPECT_EQ(pParent->nChildCount, 2);
    EXPECT_EQ(m_pEngine->FindDeviceItem(0x603), nullptr);
    // More channels than the array holds: a larger one, with every channel in it.
    Search(Recorder(5), 0x600);
    EXPECT_EQ(pParent->nChildCount, 5);
    EXPECT_EQ(pParent->pChildren[4].dwDVIPID, 0x605u);
    EXPECT_EQ(pParent->pChildren[4].pParent, pParent);
    EXPECT_EQ(m_events.size(), 4u);
}

TEST_F(ViewerSearchTest, ACutChannelListKeepsTheChannelsReadAndRaisesNothing)
{
    Bytes body = Recorder(3).Body();
    body.resize(body.size() - 40);
    Dispatch(CameraPacket(0x81, body, 0x600));
    EXPECT_TRUE(m_events.empty());
    const SearchItem* pParent = Item(0x600);
    ASSERT_NE(pParent, nullptr);
    EXPECT_EQ(pParent->nChildCount, 2);
    EXPECT_EQ(pParent->pChildren[1].dwDVIPID, 0x602u);
    EXPECT_EQ(m_pEngine->FindDeviceItem(0x603), nullptr);
}

TEST_F(ViewerSearchTest, AnAbsurdChannelCountIsBoundedByTheBody)
{
    Bytes body = Recorder(1).Body();
    const std::size_t nCountAt = body.size() - 74 - 4;
    body[nCountAt] = body[nCountAt + 1] = body[nCountAt + 2] = body[nCountAt + 3] = 0xFF;
    Dispatch(CameraPacket(0x81, body, 0x600));
    EXPECT_TRUE(m_events.empty());
    const SearchItem* pParent = Item(0x600);
    ASSERT_NE(pParent, nullptr);
    EXPECT_EQ(pParent->nChildCount, 1);
    EXPECT_EQ(pParent->nChildCapacity, 1);
}

TEST_F(ViewerSearchTest, AChildBitWithoutACountIsAPlainReply)
{
    SearchReply reply;
    reply.capability = 0x0A;
    Search(reply, 0x600);
    ASSERT_EQ(m_events.size(), 1u);
    EXPECT_EQ(Item(0x600)->nChildCount, 0);
    EXPECT_EQ(Item(0x600)->bHasChildList, 1u);
}

TEST_F(ViewerSearchTest, AChannelAnsweringForItselfUpdatesItsOwnItem)
{
    Search(Recorder(2), 0x600);
    SearchReply own = Recorder(2); // a channel cannot list channels; the list is ignored
    own.name = {'s', 'e', 'l', 'f'};
    Search(own, 0x602, 0, 0xC6120044);
    EXPECT_EQ(m_pEngine->GetItemCount(), 1u);
    const SearchItem* pChild = Item(0x602);
    ASSERT_NE(pChild, nullptr);
    EXPECT_EQ(pChild->nChildCount, -1);
    EXPECT_EQ(pChild->pChildren, nullptr);
    EXPECT_EQ(std::u16string(pChild->szName), u"self");
    EXPECT_EQ(pChild->dwIP, 0xC6120044u);
    EXPECT_EQ(pChild->pParent, Item(0x600));
}

} // namespace
