#include <gtest/gtest.h>

#include <map>

#include "outside/rix/CRixSimServer.h"
#include "tests/outside/RixSimTestClient.h"

using namespace rixsim;
using namespace rixsimtest;

namespace
{

std::string Le(uint32_t n, int nBytes)
{
    std::string sz;
    for (int i = 0; i < nBytes; ++i)
        sz += char(n >> (8 * i));
    return sz;
}

std::string Field(uint16_t nTag, const std::string& szValue)
{
    return Le(nTag, 2) + Le(uint32_t(szValue.size()), 4) + szValue;
}

std::string Message(uint8_t nType, uint16_t nCommand, const std::string& szFields)
{
    return std::string{1, char(nType)} + Le(nCommand, 2) + Le(uint32_t(szFields.size()), 4) + szFields;
}

std::string Request(uint16_t nCommand, uint32_t nId, const std::string& szMore)
{
    return Message(1, nCommand, Field(0x0001, Le(nId, 4)) + Field(0x1111, "test") + szMore);
}

uint32_t Number(const std::string& sz)
{
    uint32_t n = 0;
    for (size_t i = sz.size(); i-- > 0;)
        n = n << 8 | uint8_t(sz[i]);
    return n;
}

struct Decoded {
    uint8_t nType = 0;
    uint16_t nCommand = 0;
    std::vector<std::pair<uint16_t, std::string>> fields;
    std::string Get(uint16_t nTag) const
    {
        for (const auto& [n, sz] : fields)
            if (n == nTag)
                return sz;
        return "<none>";
    }
};

Decoded Decode(const std::string& sz)
{
    Decoded d;
    d.nType = uint8_t(sz[1]);
    d.nCommand = uint16_t(Number(sz.substr(2, 2)));
    for (size_t nPos = 8; nPos + 6 <= sz.size();) {
        uint32_t nLength = Number(sz.substr(nPos + 2, 4));
        d.fields.emplace_back(uint16_t(Number(sz.substr(nPos, 2))), sz.substr(nPos + 6, nLength));
        nPos += 6 + nLength;
    }
    return d;
}

class RixSimGbe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RixSimGbeClip clip;
        clip._szUmId = "UMID0001";
        clip._nRixNumber = 3;
        clip._nClipNumber = 42;
        clip._cCamera = 'B';
        clip._nIn = 1000;
        clip._nOut = 1010;
        clip._nShortIn = 1002;
        clip._nVideoFormat = 0x03000000;
        clip._nGrowingMode = 2;
        clip._vVarId = {'v', 'a', 'r'};
        clip._nSamplesPerField = 4;
        clip._vFields = {{0xAA, 0xBB}};
        _server.Store().AddGbeClip(clip);
        ASSERT_TRUE(_server.Start());
        _sock = ConnectTo(_server.GbePort());
        _szWelcome = ReadMessage();
    }
    std::string ReadMessage()
    {
        std::string sz(8, '\0');
        if (!_sock.ReceiveAll(sz.data(), 8))
            return {};
        sz.resize(8 + Number(sz.substr(4, 4)));
        if (!_sock.ReceiveAll(sz.data() + 8, sz.size() - 8))
            return {};
        return sz;
    }
    Decoded Ask(const std::string& szRequest)
    {
        _sock.SendAll(szRequest);
        return Decode(ReadMessage());
    }
    // The reply to a video request for field 1000 with request id 1.
    static std::string VideoReply()
    {
        return Message(2, 2,
                       Field(0x0001, Le(1, 4)) + Field(0x1111, "Rix gateway") + Field(0x0007, Le(1000, 4)) +
                           Field(0x0504, std::string(1, '\0')) + Field(0x0013, "\xAA\xBB"));
    }
    static std::string ByNumbers() { return Field(4, Le(3, 4)) + Field(5, Le(42, 4)) + Field(6, "B"); }

    CRixSimServer _server;
    CRixSimSocket _sock;
    std::string _szWelcome;
};

TEST_F(RixSimGbe, WelcomesTheClient)
{
    EXPECT_EQ(_szWelcome,
              Message(2, 0,
                      Field(0x0001, Le(0, 4)) + Field(0x1111, "Rix gateway") +
                          Field(0x1112, "Welcome to the Rix gateway") + Field(0x0504, std::string(1, '\0'))));
}

TEST_F(RixSimGbe, DescribesAClipFoundByNumbersOrUmId)
{
    std::string szExpected =
        Message(2, 1,
                Field(0x0001, Le(7, 4)) + Field(0x1111, "Rix gateway") + Field(0x0003, "UMID0001") +
                    Field(0x0004, Le(3, 4)) + Field(0x0005, Le(42, 4)) + Field(0x0006, "B") + Field(0x0060, Le(2, 4)) +
                    Field(0x0061, "var" + std::string(29, '\0')) + Field(0x0062, Le(3, 4)) + Field(0x0063, Le(0, 4)) +
                    Field(0x0504, std::string(1, '\0')) + Field(0x0010, Le(1, 4)) + Field(0x0011, Le(3, 4)) +
                    Field(0x0012, Le(0x03000000, 4)) + Field(0x0014, Le(1002, 4)) + Field(0x0016, Le(1000, 4)) +
                    Field(0x0017, Le(1010, 4)) + Field(0x0020, Le(4, 4)) + Field(0x0021, Le(1, 4)));
    _sock.SendAll(Request(1, 7, ByNumbers()));
    EXPECT_EQ(ReadMessage(), szExpected);
    _sock.SendAll(Request(1, 7, Field(3, "UMID0001") + Field(4, Le(99, 4))));
    EXPECT_EQ(ReadMessage(), szExpected);
    EXPECT_TRUE(_server.WaitForJournal("GBE 1 id=7 rix=3 clip=42 cam=B", 0));
    EXPECT_TRUE(_server.WaitForJournal("GBE 1 id=7 umid=UMID0001 rix=99", 0));
}

TEST_F(RixSimGbe, SendsVideoFields)
{
    Decoded d = Ask(Request(2, 8, ByNumbers() + Field(7, Le(1000, 4)) + Field(8, Le(3, 4))));
    EXPECT_EQ(d.nType, 2);
    EXPECT_EQ(d.nCommand, 2);
    EXPECT_EQ(Number(d.Get(1)), 8u);
    EXPECT_EQ(Number(d.Get(7)), 1000u);
    EXPECT_EQ(d.Get(0x13), "\xAA\xBB");
    std::string szGenerated;
    for (int i = 0; i < 64; ++i)
        szGenerated += char(1009 + i);
    EXPECT_EQ(Ask(Request(2, 9, ByNumbers() + Field(7, Le(1009, 4)))).Get(0x13), szGenerated);
}

TEST_F(RixSimGbe, SendsTheAudioChannelsOfTheMask)
{
    Decoded d = Ask(Request(3, 10, ByNumbers() + Field(7, Le(1001, 4)) + Field(0x0B, Le(5, 4))));
    EXPECT_EQ(Number(d.Get(0x20)), 2u);
    EXPECT_EQ(Number(d.Get(0x24)), 4u);
    EXPECT_EQ(Number(d.Get(0x23)), 2u);
    std::vector<std::string> containers;
    for (const auto& [nTag, sz] : d.fields)
        if (nTag == 0x26)
            containers.push_back(sz);
    ASSERT_EQ(containers.size(), 2u);
    std::string szSamples = std::string("\x00\x02\xE9\x01\x02\xE9\x02\x02\xE9\x03\x02\xE9", 12);
    EXPECT_EQ(containers[1], Field(0x27, Le(2, 4)) + Field(0x28, szSamples));
}

TEST_F(RixSimGbe, RefusesWithErrorReplies)
{
    struct Case {
        std::string szRequest;
        uint32_t nCode;
    };
    const Case cases[] = {
        {Request(1, 1, Field(4, Le(3, 4)) + Field(5, Le(43, 4)) + Field(6, "B")), 1},
        {Request(2, 2, ByNumbers() + Field(7, Le(1010, 4))), 2},
        {Request(2, 3, ByNumbers()), 2},
        {Request(1, 4, Field(4, Le(3, 2))), 3},
        {Message(1, 1, Field(0x1111, "no id")), 3},
        {Request(9, 5, ByNumbers()), 4},
        // A field whose length runs past the message.
        {Message(1, 1, Field(1, Le(6, 4)) + Le(4, 2) + Le(100, 4) + "abcd"), 3},
    };
    for (const auto& c : cases) {
        Decoded d = Ask(c.szRequest);
        EXPECT_EQ(d.nType, 3);
        EXPECT_EQ(Number(d.Get(0x50)), c.nCode);
    }
}

TEST_F(RixSimGbe, SplitsAReplyAtEveryPointOfItsHeader)
{
    std::string szWhole = VideoReply();
    for (uint32_t nSplit = 1; nSplit < 18; ++nSplit) {
        _server.AddFault({"GBE 2", RixSimFaultKind::Split, 1, 80, nSplit});
        _sock.SendAll(Request(2, 1, ByNumbers() + Field(7, Le(1000, 4))));
        std::string szFirst(64, '\0');
        int64_t n = _sock.Receive(szFirst.data(), szFirst.size());
        EXPECT_EQ(n, nSplit);
        szFirst.resize(size_t(std::max<int64_t>(n, 0)));
        std::string szRest(szWhole.size() - szFirst.size(), '\0');
        ASSERT_TRUE(_sock.ReceiveAll(szRest.data(), szRest.size()));
        EXPECT_EQ(szFirst + szRest, szWhole) << nSplit;
    }
}

TEST_F(RixSimGbe, CoalescesTwoReplies)
{
    _server.AddFault({"GBE 2", RixSimFaultKind::Coalesce});
    _sock.SendAll(Request(2, 1, ByNumbers() + Field(7, Le(1000, 4))));
    EXPECT_FALSE(Readable(_sock, 100));
    _sock.SendAll(Request(2, 2, ByNumbers() + Field(7, Le(1001, 4))));
    EXPECT_EQ(Number(Decode(ReadMessage()).Get(1)), 1u);
    EXPECT_TRUE(Readable(_sock, 0));
    EXPECT_EQ(Number(Decode(ReadMessage()).Get(1)), 2u);
}

TEST_F(RixSimGbe, OversizesOrShrinksTheLength)
{
    for (uint32_t nLength : {2000000u, 3u}) {
        _server.AddFault({"GBE 2", RixSimFaultKind::Length, 1, 0, 0, 0, 0, nLength});
        _sock.SendAll(Request(2, 1, ByNumbers() + Field(7, Le(1000, 4))));
        std::string sz(VideoReply().size(), '\0');
        ASSERT_TRUE(_sock.ReceiveAll(sz.data(), sz.size()));
        EXPECT_EQ(Number(sz.substr(4, 4)), nLength);
        EXPECT_EQ(sz.substr(8), VideoReply().substr(8));
    }
}

TEST_F(RixSimGbe, ClosesOnAHeaderThatIsNoRequest)
{
    for (std::string szBad : {Message(2, 1, Field(1, Le(1, 4))), Message(1, 1, std::string(9, '\0')),
                              Message(1, 1, "") + std::string(20, '\0')}) {
        CRixSimSocket sock = ConnectTo(_server.GbePort());
        std::string szWelcome(_szWelcome.size(), '\0');
        ASSERT_TRUE(sock.ReceiveAll(szWelcome.data(), szWelcome.size()));
        if (szBad.size() == 28)
            szBad.replace(4, 4, Le(1000000, 4));  // a total just over the bound
        sock.SendAll(szBad);
        char c;
        EXPECT_LE(sock.Receive(&c, 1), 0);  // closed, or reset when the rest was left unread
    }
    auto journal = _server.Journal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0]._szText, "GBE bad header type=2 total=18");
    EXPECT_EQ(journal[1]._szText, "GBE bad header type=1 total=17");
    EXPECT_EQ(journal[2]._szText, "GBE bad header type=1 total=1000008");
}

TEST(RixSimGbeWelcome, CanRefuseOrMissTheWelcome)
{
    CRixSimServer server;
    server.AddFault({"GBE WELCOME", RixSimFaultKind::ErrorReply, 1, 0, 0, 0, 9});
    server.AddFault({"GBE WELCOME", RixSimFaultKind::Omit});
    ASSERT_TRUE(server.Start());
    CRixSimSocket refused = ConnectTo(server.GbePort());
    std::string sz(8, '\0');
    ASSERT_TRUE(refused.ReceiveAll(sz.data(), 8));
    EXPECT_EQ(sz[1], 3);
    CRixSimSocket silent = ConnectTo(server.GbePort());
    EXPECT_FALSE(Readable(silent, 200));
}

}  // namespace
