#include <gtest/gtest.h>

#include <memory>

#include "outside/rix/CRixSimServer.h"
#include "tests/outside/RixSimTestClient.h"

using namespace rixsim;
using namespace rixsimtest;

namespace
{

RixSimBytes Request(bool bBig, uint16_t nId, uint16_t nFunction, const RixSimBytes& vPayload)
{
    RixSimBytes v;
    auto put16 = [&](uint16_t n) {
        v.push_back(uint8_t(bBig ? n >> 8 : n));
        v.push_back(uint8_t(bBig ? n : n >> 8));
    };
    put16(0x4248);
    put16(0);
    put16(1000);
    put16(nId);
    put16(uint16_t(14 + vPayload.size()));
    v.insert(v.end(), vPayload.begin(), vPayload.end());
    put16(0);
    put16(nFunction);
    return v;
}

uint32_t Value(const RixSimBytes& v, size_t nAt, int nBytes, bool bBig)
{
    uint32_t n = 0;
    for (int i = 0; i < nBytes; ++i)
        n |= uint32_t(v[nAt + size_t(i)]) << (8 * (bBig ? nBytes - 1 - i : i));
    return n;
}

class RixSimRpc : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _server.Store().AddClip("/clips/000110A_news.CLP", {BavdBlock(100, 10), BavdBlock(110, 10)}, 0x200000);
        _server.Store().SetSequence(7, {1, 100, 200, 1, {}});
        _server.Store().SetSequence(9, {0, 0, 0, 0, "/clips/000110A_news.CLP"});
        RixSimConfig config;
        config._nTcBaseTicks = 51788160000ull;  // 1970-01-02 00:00
        config._nTcKind = 1;
        _server.SetConfig(config);
        ASSERT_TRUE(_server.Start());
        _ftp = std::make_unique<FtpClient>(_server.FtpPort());
        _ftp->Login();
        std::string szReply = _ftp->Cmd("SITE RPCP").szText;
        _rpc = ConnectTo(uint16_t(std::stoi(szReply.substr(14))));
        ASSERT_EQ(_ftp->Cmd("SITE RPCP").szText, szReply + " CONNECTED");
    }
    void SetReplyOrder(RixSimByteOrder eOrder)
    {
        RixSimConfig config = _server.GetConfig();
        config._eRpcOrder = eOrder;
        _server.SetConfig(config);
    }
    RixSimBytes Exchange(const RixSimBytes& vRequest, size_t nReply)
    {
        _rpc.SendAll(vRequest.data(), vRequest.size());
        RixSimBytes v(nReply);
        if (!_rpc.ReceiveAll(v.data(), v.size()))
            v.clear();
        return v;
    }

    CRixSimServer _server;
    std::unique_ptr<FtpClient> _ftp;
    CRixSimSocket _rpc;
};

TEST_F(RixSimRpc, AnswersInTheClientsByteOrder)
{
    EXPECT_EQ(Exchange(Request(false, 0x0102, 3, {7, 0}), 22),
              (RixSimBytes{0x48, 0x42, 0, 0, 0, 0, 0x02, 0x01, 22, 0, 100, 0, 0, 0, 200, 0, 0, 0, 0, 0, 3, 0}));
}

TEST_F(RixSimRpc, AnswersInTheOtherByteOrder)
{
    SetReplyOrder(RixSimByteOrder::Big);
    EXPECT_EQ(Exchange(Request(false, 0x0102, 3, {7, 0}), 22),
              (RixSimBytes{0x42, 0x48, 0, 0, 0, 0, 0x01, 0x02, 0, 22, 0, 0, 0, 100, 0, 0, 0, 200, 0, 0, 0, 3}));
    // The field number goes lowest byte first whatever the order; the stamp is 1970-01-02 plus 50 fields at 25
    // frames per second, kind 1, packed as high half then low half.
    EXPECT_EQ(Exchange(Request(false, 5, 2, {1, 0, 'C', 50, 0, 0, 0}), 26),
              (RixSimBytes{0x42, 0x48, 0, 0, 0,    0,    0,    5,    0,    26, 0, 0, 0,
                           50,   0x10, 0, 0, 0x0C, 0x0E, 0xD9, 0xC1, 0x68, 0,  0, 0, 2}));
}

TEST_F(RixSimRpc, AnswersEveryFunctionForRequestsInBothOrders)
{
    struct Case {
        uint16_t nFunction;
        RixSimBytes vPayload;  // in the request's order for the sequence number
        std::vector<uint32_t> values;
        uint16_t nCode;
    };
    const Case cases[] = {
        {3, {7, 0}, {100, 200}, 0},
        {3, {9, 0}, {100, 119}, 0},  // bound to the clip: its first field and its last
        {3, {8, 0}, {0, 0}, 0},      // unknown sequence
        {6, {7, 0}, {1, 100, 200, 1}, 0},
        {6, {8, 0}, {0, 0, 0, 0}, 0},
        {2, {0, 0, 'A', 0, 0, 0, 0}, {0, 0x1000000C, 0x0ED9C168 - 50 * 11988}, 0},
        {2, {0, 0, 'G', 0, 0, 0, 0}, {0, 0, 0}, 3},
        {2, {2, 0, 'A', 0, 0, 0, 0}, {0, 0, 0}, 3},
        {3, {7, 0, 0, 0}, {0, 0}, 1},
        {2, {0, 0, 'A'}, {0, 0, 0}, 1},
        {9, {}, {}, 2},
    };
    uint16_t nId = 1;
    for (bool bReplyBig : {false, true}) {
        SetReplyOrder(bReplyBig ? RixSimByteOrder::Big : RixSimByteOrder::Little);
        for (bool bRequestBig : {false, true}) {
            for (const auto& c : cases) {
                RixSimBytes vPayload = c.vPayload;
                if (bRequestBig && c.nFunction != 2 && vPayload.size() == 2)
                    std::swap(vPayload[0], vPayload[1]);
                size_t nLength = 14 + 4 * c.values.size();
                RixSimBytes v = Exchange(Request(bRequestBig, ++nId, c.nFunction, vPayload), nLength);
                ASSERT_EQ(v.size(), nLength);
                SCOPED_TRACE(testing::Message() << "function " << c.nFunction << " request big " << bRequestBig
                                                << " reply big " << bReplyBig);
                EXPECT_EQ(Value(v, 0, 2, bReplyBig), 0x4248u);
                EXPECT_EQ(Value(v, 6, 2, bReplyBig), nId);
                EXPECT_EQ(Value(v, 8, 2, bReplyBig), nLength);
                for (size_t i = 0; i < c.values.size(); ++i)
                    EXPECT_EQ(Value(v, 10 + 4 * i, 4, bReplyBig), c.values[i]) << i;
                EXPECT_EQ(Value(v, nLength - 4, 2, bReplyBig), c.nCode);
                EXPECT_EQ(Value(v, nLength - 2, 2, bReplyBig), c.nFunction);
            }
        }
    }
}

TEST_F(RixSimRpc, FollowsAGrowingClipsSequence)
{
    _server.Store().AppendBlocks("/clips/000110A_news.CLP", {BavdBlock(120, 10)});
    RixSimBytes v = Exchange(Request(false, 1, 3, {9, 0}), 22);
    EXPECT_EQ(Value(v, 14, 4, false), 129u);
}

TEST_F(RixSimRpc, ChangesRepliesAsTheFaultsAsk)
{
    const RixSimBytes vGood{0x48, 0x42, 0, 0, 0, 0, 1, 0, 22, 0, 100, 0, 0, 0, 200, 0, 0, 0, 0, 0, 3, 0};
    struct Case {
        RixSimFault fault;
        size_t nAt;  // the bytes that change, with their new values
        RixSimBytes vBytes;
        size_t nLength;
    };
    const Case cases[] = {
        {{"RPC 3", RixSimFaultKind::BadMagic}, 0, {0x34, 0x12}, 22},
        {{"RPC 3", RixSimFaultKind::WrongRequestId}, 6, {2, 0}, 22},
        {{"RPC 3", RixSimFaultKind::WrongFunction}, 20, {4, 0}, 22},
        {{"RPC 3", RixSimFaultKind::ReturnCode, 1, 0, 0, 0, 5}, 18, {5, 0}, 22},
        {{"RPC 3", RixSimFaultKind::Length, 1, 0, 0, 0, 0, 24}, 22, {0, 0}, 24},
        {{"RPC 3", RixSimFaultKind::Length, 1, 0, 0, 0, 0, 21}, 0, {0x48}, 21},
        {{"RPC 3", RixSimFaultKind::Delay, 1, 100}, 0, {0x48}, 22},
    };
    for (const auto& c : cases) {
        _server.AddFault(c.fault);
        RixSimBytes vExpected = vGood;
        vExpected.resize(c.nLength, 0);
        std::copy(c.vBytes.begin(), c.vBytes.end(), vExpected.begin() + long(c.nAt));
        EXPECT_EQ(Exchange(Request(false, 1, 3, {7, 0}), c.nLength), vExpected) << int(c.fault._eKind);
        EXPECT_FALSE(Readable(_rpc, 0));
    }
}

TEST_F(RixSimRpc, SplitsAReplyOverTwoSends)
{
    _server.AddFault({"RPC 3", RixSimFaultKind::Split, 1, 100, 10});
    _rpc.SendAll(Request(false, 1, 3, {7, 0}).data(), 16);
    uint8_t buffer[64];
    EXPECT_EQ(_rpc.Receive(buffer, sizeof buffer), 10);
    EXPECT_EQ(_rpc.Receive(buffer, sizeof buffer), 12);
}

TEST_F(RixSimRpc, DropsTheConnectionOnABadHeaderOrOnRequest)
{
    _server.AddFault({"RPC 6", RixSimFaultKind::DropConnection});
    _rpc.SendAll(Request(false, 1, 6, {7, 0}).data(), 16);
    uint8_t buffer[64];
    EXPECT_EQ(_rpc.Receive(buffer, sizeof buffer), 0);
    EXPECT_TRUE(_server.WaitForJournal("RPC 6 id=1 le 0700", 1000));

    std::string szReply = _ftp->Cmd("SITE RPCP").szText;
    EXPECT_EQ(szReply.find("CONNECTED"), std::string::npos);
    _rpc = ConnectTo(uint16_t(std::stoi(szReply.substr(14))));
    EXPECT_EQ(_ftp->Cmd("SITE RPCP").szText, szReply + " CONNECTED");
    RixSimBytes vBad = Request(false, 1, 3, {7, 0});
    vBad[8] = 0xFF;
    vBad[9] = 0xFF;
    _rpc.SendAll(vBad.data(), vBad.size());
    EXPECT_EQ(_rpc.Receive(buffer, sizeof buffer), 0);
    EXPECT_TRUE(_server.WaitForJournal("RPC bad request header", 1000));
}

}  // namespace
