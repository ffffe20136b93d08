// The RPC side channel against the simulator: both byte orders, every reply fault, argument checks.
#include <gtest/gtest.h>

#include "tests/rixclient/RixTestHelpers.h"

using namespace rixtest;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;

namespace
{

class RpcClient : public CRixFtpClient
{
public:
    RpcClient() : CRixFtpClient("") {}
    void SetRequestId(uint16_t id) { _nRpcRequestId = id; }
    int socketErrors = 0;

protected:
    int OnRPCSocketError() override
    {
        ++socketErrors;
        return 0;
    }
};

class RixFtpRpc : public SimTest
{
protected:
    void Fill(rixsim::CRixSimStore& store) override
    {
        store.SetSequence(7, rixsim::RixSimSequence{11, 1000, 2000, 1, {}});
        store.AddDirectory("/clips");
    }
    void Configure(rixsim::RixSimConfig& config) override
    {
        config._nTcSystem = 0;
        config._nTcBaseTicks = 599400ull * 3600;  // 01:00:00:00 on the first day
    }
    void Connect(RpcClient& client)
    {
        Prepare(client);
        ASSERT_EQ(client.SetClipUrl(Url("/clips/000110A_x"), true), 0);
        ASSERT_EQ(client.OpenRpcConnection(0), 0);
        ASSERT_TRUE(client.IsRpcOn());
    }
};

TEST_F(RixFtpRpc, PortAndOpening)
{
    RpcClient client;
    Prepare(client);
    ASSERT_EQ(client.SetClipUrl(Url("/clips/000110A_x"), true), 0);
    EXPECT_NE(client.GetRpcPort(nullptr, 0), 0);
    char reply[8];
    EXPECT_NE(client.GetRpcPort(reply, sizeof reply), 0);
    EXPECT_EQ(std::string(reply), "200 RPC");
    EXPECT_EQ(client.RpcSeqInOut(7, nullptr, nullptr, 1000), -1);

    ASSERT_EQ(client.OpenRpcConnection(0), 0);
    _server->ClearJournal();
    EXPECT_EQ(client.OpenRpcConnection(0), 0);
    EXPECT_TRUE(Commands().empty());

    client.CloseRpcConnection();
    EXPECT_FALSE(client.IsRpcOn());
    // Nothing listens on port 1.
    EXPECT_EQ(client.OpenRpcConnection(1), 4);
    _server->AddFault(RixSimFault{"SITE RPCP", RixSimFaultKind::Busy, 1, 0, 1, 0, 451});
    EXPECT_EQ(client.OpenRpcConnection(0), 7);
}

TEST_F(RixFtpRpc, RepliesInBothByteOrders)
{
    for (auto order : {rixsim::RixSimByteOrder::Little, rixsim::RixSimByteOrder::Big}) {
        auto config = _server->GetConfig();
        config._eRpcOrder = order;
        _server->SetConfig(config);
        RpcClient client;
        Connect(client);
        uint32_t in = 0, out = 0, first = 0;
        EXPECT_EQ(client.RpcSeqInOut(7, &in, &out, 1000), 0);
        EXPECT_EQ(in, 1000u);
        EXPECT_EQ(out, 2000u);
        bool flag = false;
        in = out = 0;
        EXPECT_EQ(client.RpcSeqStatus(7, &first, &in, &out, &flag, 1000), 0);
        EXPECT_EQ(first, 11u);
        EXPECT_EQ(in, 1000u);
        EXPECT_EQ(out, 2000u);
        EXPECT_TRUE(flag);
        TcDate date;
        first = 0;
        EXPECT_EQ(client.RpcField2Tc(0, 'B', 50, &first, &date, 1000), 0);
        EXPECT_EQ(first, 50u);
        // 50 fields of 25 frames per second after one hour.
        EXPECT_EQ(date.GetFieldOfDay(), 3600u * 50 + 50);
    }
    auto rpc = Commands("RPC");
    ASSERT_GE(rpc.size(), 3u);
    EXPECT_EQ(rpc[0].rfind("RPC 3 id=1 ", 0), 0u) << rpc[0];
}

TEST_F(RixFtpRpc, FaultsGiveTheirCodesAndLeaveOutValues)
{
    struct Case {
        RixSimFault fault;
        int16_t code;
    } cases[] = {
        {{"RPC 3", RixSimFaultKind::Length, 1, 0, 1, 0, 0, 21}, 3},
        {{"RPC 3", RixSimFaultKind::Length, 1, 0, 1, 0, 0, 30}, 3},
        {{"RPC 3", RixSimFaultKind::BadMagic}, 4},
        {{"RPC 3", RixSimFaultKind::WrongFunction}, 5},
        {{"RPC 3", RixSimFaultKind::ReturnCode, 1, 0, 1, 0, 2}, 6},
        {{"RPC 3", RixSimFaultKind::WrongRequestId}, 7},
    };
    RpcClient client;
    Connect(client);
    for (const Case& c : cases) {
        _server->AddFault(c.fault);
        uint32_t in = 0xAAAA, out = 0xBBBB;
        EXPECT_EQ(client.RpcSeqInOut(7, &in, &out, 1000), c.code) << int(c.fault._eKind);
        EXPECT_EQ(in, 0xAAAAu);
        EXPECT_EQ(out, 0xBBBBu);
    }
    // An unknown sequence answers IN = OUT = 0.
    uint32_t in = 5, out = 6;
    EXPECT_EQ(client.RpcSeqInOut(99, &in, &out, 1000), 8);
    EXPECT_EQ(in, 5u);
    bool flag = false;
    EXPECT_EQ(client.RpcSeqStatus(99, nullptr, &in, &out, &flag, 1000), 8);

    // Argument checks send nothing.
    _server->ClearJournal();
    TcDate date;
    EXPECT_EQ(client.RpcField2Tc(0, 'G', 1, nullptr, &date, 1000), 9);
    EXPECT_EQ(client.RpcField2Tc(2, 'A', 1, nullptr, &date, 1000), 10);
    EXPECT_TRUE(Commands("RPC").empty());

    // A reply split over two receives is refused.
    _server->AddFault(RixSimFault{"RPC 3", RixSimFaultKind::Split, 1, 100, 5});
    EXPECT_EQ(client.RpcSeqInOut(7, &in, &out, 1000), 3);
}

TEST_F(RixFtpRpc, RequestIdSkipsZero)
{
    RpcClient client;
    Connect(client);
    client.SetRequestId(0xFFFF);
    uint32_t in = 0, out = 0;
    EXPECT_EQ(client.RpcSeqInOut(7, &in, &out, 1000), 0);
    auto rpc = Commands("RPC");
    ASSERT_EQ(rpc.size(), 1u);
    EXPECT_EQ(rpc[0].rfind("RPC 3 id=1 ", 0), 0u) << rpc[0];
}

TEST_F(RixFtpRpc, BrokenChannelReportsTheSocketError)
{
    RpcClient client;
    Connect(client);
    _server->AddFault(RixSimFault{"RPC 3", RixSimFaultKind::DropConnection});
    uint32_t in = 0, out = 0;
    EXPECT_EQ(client.RpcSeqInOut(7, &in, &out, 1000), -3);
    // The owner learns of it; the channel stays as it is until the owner decides.
    EXPECT_EQ(client.socketErrors, 1);
    EXPECT_TRUE(client.IsRpcOn());
    // A control connection that breaks closes the channel.
    client.Close(false, false);
    EXPECT_FALSE(client.IsRpcOn());
}

}  // namespace
