#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "tests/outside/RixSimTestClient.h"

using namespace rixsim;
using namespace rixsimtest;

namespace
{

// Four 2 MB blocks of ten fields each, block n filled with byte n + 1.
std::vector<RixSimBytes> FourBlocks()
{
    std::vector<RixSimBytes> blocks;
    for (uint8_t n = 0; n < 4; ++n)
        blocks.push_back(BavdBlock(100 + 10 * n, 10, 0x200000, uint8_t(n + 1)));
    return blocks;
}

class RixSimFtp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RixSimConfig config;
        config._nDataTimeoutMs = 2000;
        _server = std::make_unique<CRixSimServer>(config);
        _server->Store().AddClip("/clips/000110A_news.CLP", FourBlocks(), 0x200000,
                                 CRixClipTable::ForClip("news", 100, 139).ToXml());
        _server->Store().AddFile("/clips/readme.txt", RixSimBytes{'h', 'e', 'l', 'l', 'o'});
        ASSERT_TRUE(_server->Start());
    }
    FtpClient LoggedIn()
    {
        FtpClient client(_server->FtpPort());
        client.Login();
        client.Cmd("CWD /clips");
        return client;
    }
    std::string Blocks(std::initializer_list<int> order)
    {
        auto blocks = FourBlocks();
        std::string sz;
        for (int n : order)
            sz += Str(blocks[size_t(n)]);
        return sz;
    }
    std::unique_ptr<CRixSimServer> _server;
};

struct WelcomeCase {
    RixSimWelcomeStyle eStyle;
    const char* pText;
};

std::string WelcomeName(const ::testing::TestParamInfo<WelcomeCase>& info)
{
    const char* names[] = {"Standard", "NoBlockSize", "Block2", "MultiLine", "None"};
    return names[int(info.param.eStyle)];
}

std::string FaultName(const ::testing::TestParamInfo<RixSimFaultKind>& info)
{
    const char* names[] = {"Delay", "Omit", "Split", "Coalesce", "Busy", "Drop"};
    return names[int(info.param)];
}

class RixSimWelcomeTest : public ::testing::TestWithParam<WelcomeCase>
{
};

TEST_P(RixSimWelcomeTest, SendsTheWelcomeVariant)
{
    RixSimConfig config;
    config._vWelcome = RixSimWelcome(GetParam().eStyle);
    CRixSimServer server(config);
    ASSERT_TRUE(server.Start());
    FtpClient client(server.FtpPort());
    if (GetParam().pText == nullptr) {
        EXPECT_FALSE(Readable(client._sock, 200));
        return;
    }
    Reply reply = client.Read();
    EXPECT_EQ(reply.nCode, 220);
    EXPECT_EQ(reply.szText, GetParam().pText);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RixSimWelcomeTest,
    ::testing::Values(WelcomeCase{RixSimWelcomeStyle::Standard, "220 Korvo FTP Server (v) 7.07 B: 8"},
                      WelcomeCase{RixSimWelcomeStyle::NoBlockSize, "220 Korvo FTP Server (v) 7.07"},
                      WelcomeCase{RixSimWelcomeStyle::Block2, "220 Korvo FTP Server (v) 7.07 B: 2"},
                      WelcomeCase{RixSimWelcomeStyle::MultiLine,
                                  "220-Rix video server\n220-Clip transfer service\n"
                                  "220 Korvo FTP Server (v) 7.07 B: 8"},
                      WelcomeCase{RixSimWelcomeStyle::None, nullptr}),
    WelcomeName);

TEST(RixSimLogin, ChecksTheAccountWhenOneIsSet)
{
    RixSimConfig config;
    config._szUser = "rix";
    config._szPassword = "secret";
    CRixSimServer server(config);
    ASSERT_TRUE(server.Start());
    FtpClient client(server.FtpPort());
    client.Read();
    EXPECT_EQ(client.Cmd("PASS secret").nCode, 503);
    EXPECT_EQ(client.Cmd("SIZE x").nCode, 530);
    EXPECT_EQ(client.Cmd("USER rix").nCode, 331);
    EXPECT_EQ(client.Cmd("PASS wrong").nCode, 530);
    EXPECT_EQ(client.Cmd("USER rix").nCode, 331);
    EXPECT_EQ(client.Cmd("PASS secret").nCode, 230);
}

TEST_F(RixSimFtp, AnswersEachCommand)
{
    struct Case {
        const char* pCommand;
        const char* pReply;
    };
    const Case cases[] = {
        {"NOOP", "200 NOOP command successful"},
        {"PWD", "257 \"/clips\" is the current directory"},
        {"CWD /nowhere", "550 /nowhere: No such directory"},
        {"CWD /", "250 CWD command successful"},
        {"CWD clips", "250 CWD command successful"},
        {"MKDIR sub", "257 \"/clips/sub\" created"},
        {"MKDIR sub", "550 sub: Cannot create directory"},
        {"MKDIR /no/parent", "550 /no/parent: Cannot create directory"},
        {"TYPE I", "200 Type set to I"},
        {"SIZE 000110A_news.CLP", "213 8388608"},
        {"SIZE missing", "550 missing: No such file"},
        {"REST 10", "350 Restarting at 10"},
        {"REST -1", "501 Bad REST position"},
        {"REST 99999999999999999999", "501 Bad REST position"},
        {"SITE SEEK -5", "200 Seek position set to -5"},
        {"SITE SEEK 4294967295", "200 Seek position set to 4294967295"},
        {"SITE SEEK 4294967296", "501 Bad SEEK position"},
        {"SITE SEEK 1x", "501 Bad SEEK position"},
        {"PORT 1,2,3", "501 Bad PORT argument"},
        {"PORT 127,0,0,1,0,0", "501 Bad PORT argument"},
        {"PORT 256,0,0,1,4,1", "501 Bad PORT argument"},
        {"PORT 127,0,0,1,4,1,7", "501 Bad PORT argument"},
        {"PORT 127,0,0,1,4,1", "200 PORT command successful"},
        {"SITE CMSK ABG", "501 Bad camera mask"},
        {"SITE CMSK", "501 Bad camera mask"},
        {"SITE CMSK abc", "200 Camera mask set to ABC"},
        {"SITE GNFN 000110", "501 Bad location 000110"},
        {"SITE GNFN 000105?_x", "501 Bad location 000105?_x"},
        {"SITE GNFN 001010?_x", "501 Bad location 001010?_x"},
        {"SITE GNFN 000110?_x.CLP", "200 000110B_x.CLP"},
        {"SITE NONE", "500 SITE NONE not understood"},
        {"STAT", "211 Rix simulator ready"},
        {"STAT readme.txt", "550 No transfer of readme.txt"},
        {"ABOR", "226 ABOR command successful"},
        {"RETR missing", "550 missing: No such file"},
        {"RETR readme.txt", "425 Cannot open data connection"},
        {"DELE readme.txt", "250 DELE command successful"},
        {"DELE readme.txt", "550 readme.txt: No such file"},
        {"FOO", "500 FOO not understood"},
        {"QUIT", "221 Goodbye"},
    };
    FtpClient client = LoggedIn();
    for (const auto& c : cases)
        EXPECT_EQ(client.Cmd(c.pCommand).szText, c.pReply) << c.pCommand;
    EXPECT_EQ(client._sock.Receive(nullptr, 0), 0);
    EXPECT_TRUE(_server->WaitForJournal("SITE GNFN 000110?_x.CLP", 0));
}

TEST_F(RixSimFtp, RetrievesFromARestartPosition)
{
    FtpClient client = LoggedIn();
    auto [szData, end] = client.Retrieve("readme.txt", "REST 2");
    EXPECT_EQ(szData, "llo");
    EXPECT_EQ(end.szText, "226 Transfer complete");
    EXPECT_EQ(client.Retrieve("readme.txt", "REST 6").second.nCode, 554);
    EXPECT_EQ(client.Retrieve("readme.txt").first, "hello");
    EXPECT_EQ(client.Retrieve("000110A_news.CLP", "SITE SEEK 120").second.nCode, 226);
    // The seek is spent by the transfer: the next RETR starts at the first byte.
    EXPECT_EQ(client.Retrieve("000110A_news.CLP").first, Blocks({0, 1, 2, 3}));
}

TEST_F(RixSimFtp, StreamsBlocksForwardsAndBackwardsFromASeek)
{
    struct Case {
        const char* pSeek;
        std::initializer_list<int> order;
    };
    const Case cases[] = {
        {"SITE SEEK 100", {0, 1, 2, 3}}, {"SITE SEEK 115", {1, 2, 3}},     {"SITE SEEK 139", {3}},
        {"SITE SEEK -125", {2, 1, 0}},   {"SITE SEEK -139", {3, 2, 1, 0}}, {"SITE SEEK -100", {0}},
    };
    FtpClient client = LoggedIn();
    for (const auto& c : cases) {
        auto [szData, end] = client.Retrieve("000110A_news.CLP", c.pSeek);
        EXPECT_TRUE(szData == Blocks(c.order)) << c.pSeek << " gave " << szData.size() << " bytes";
        EXPECT_EQ(end.nCode, 226) << c.pSeek;
    }
    EXPECT_EQ(client.Retrieve("000110A_news.CLP", "SITE SEEK 140").second.szText, "550 Field 140 not in the clip");
    EXPECT_EQ(client.Retrieve("000110A_news.CLP", "SITE SEEK -99").second.nCode, 550);
    EXPECT_EQ(client.Retrieve("readme.txt", "SITE SEEK 1").second.szText, "550 readme.txt: Not a clip");
}

TEST_F(RixSimFtp, FindsFieldsInBlocksWithTheTableAtTheEnd)
{
    _server->Store().AddClip("/clips/000120A_old.CLP", {TableBlock(0, 50, 7), TableBlock(50, 100, 8)}, 0x200000);
    FtpClient client = LoggedIn();
    auto [szData, end] = client.Retrieve("000120A_old.CLP", "SITE SEEK -75");
    EXPECT_TRUE(szData == Str(TableBlock(50, 100, 8)) + Str(TableBlock(0, 50, 7)));
}

TEST_F(RixSimFtp, FollowsAGrowingClip)
{
    _server->Store().AddClip("/clips/000130A_live.CLP", {BavdBlock(0, 10, 0x200000, 1)}, 0x200000, {}, true);
    FtpClient client = LoggedIn();
    EXPECT_EQ(client.Retrieve("000130A_live.CLP", "SITE SEEK 10").second.szText, "450 Field 10 not yet recorded");
    CRixSimSocket data = client.Pasv();
    client.Cmd("SITE SEEK 5");
    ASSERT_EQ(client.Cmd("RETR 000130A_live.CLP").nCode, 150);
    std::thread grower([&] {
        for (uint8_t n = 1; n < 3; ++n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            _server->Store().AppendBlocks("/clips/000130A_live.CLP", {BavdBlock(10 * n, 10, 0x200000, n + 1)});
        }
        _server->Store().SetGrowing("/clips/000130A_live.CLP", false);
    });
    std::string szData = ReadToEnd(data);
    grower.join();
    EXPECT_TRUE(szData == Str(BavdBlock(0, 10, 0x200000, 1)) + Str(BavdBlock(10, 10, 0x200000, 2)) +
                              Str(BavdBlock(20, 10, 0x200000, 3)));
    EXPECT_EQ(client.Read().nCode, 226);
}

TEST_F(RixSimFtp, StoresAppendsAndRestartsUploads)
{
    FtpClient client = LoggedIn();
    EXPECT_EQ(client.StoreData("STOR up.bin", "abcdef").szText, "226 Transfer complete");
    EXPECT_EQ(client.StoreData("APPE up.bin", "gh").nCode, 226);
    client.Cmd("REST 3");
    EXPECT_EQ(client.StoreData("APPE up.bin", "XY").nCode, 226);
    EXPECT_EQ(Str(_server->Store().FileData("/clips/up.bin")), "abcXY");
    client.Cmd("REST 9");
    EXPECT_EQ(client.StoreData("STOR up.bin", "z").nCode, 554);
    EXPECT_EQ(client.StoreData("STOR /nowhere/up.bin", "z").nCode, 550);
    EXPECT_EQ(client.Cmd("STAT up.bin").szText, "226 Transfer of up.bin complete");

    // An uploaded clip is served by field like any other.
    std::string szClip = Str(BavdBlock(0, 4, 0x200000, 1)) + Str(BavdBlock(4, 4, 0x200000, 2));
    RixSimConfig config = _server->GetConfig();
    config._nStoreBlockSize = 0x200000;
    _server->SetConfig(config);
    EXPECT_EQ(client.StoreData("STOR 000140A_up.CLP", szClip).nCode, 226);
    EXPECT_TRUE(client.Retrieve("000140A_up.CLP", "SITE SEEK -5").first ==
                szClip.substr(0x200000) + szClip.substr(0, 0x200000));
}

TEST_F(RixSimFtp, ReportsAndAbortsARunningTransfer)
{
    _server->AddFault({"RETR", RixSimFaultKind::StallData, 1, 0, 1, 1000});
    FtpClient client = LoggedIn();
    CRixSimSocket data = client.Pasv();
    ASSERT_EQ(client.Cmd("RETR 000110A_news.CLP").nCode, 150);
    std::string szFirst(1000, '\0');
    ASSERT_TRUE(data.ReceiveAll(szFirst.data(), szFirst.size()));
    EXPECT_FALSE(Readable(data, 100));
    EXPECT_EQ(client.Cmd("STAT 000110A_news.CLP").szText, "211 Transfer of 000110A_news.CLP in progress");
    EXPECT_EQ(client.Cmd("ABOR").szText, "426 Transfer aborted");
    EXPECT_EQ(client.Read().szText, "226 ABOR command successful");
    EXPECT_EQ(client.Cmd("STAT 000110A_news.CLP").szText, "426 Transfer of 000110A_news.CLP aborted");
    EXPECT_EQ(client.Retrieve("000110A_news.CLP").second.nCode, 226);
    EXPECT_EQ(client.Cmd("STAT 000110A_news.CLP").szText, "226 Transfer of 000110A_news.CLP complete");
}

TEST_F(RixSimFtp, ServesActiveDataConnections)
{
    FtpClient client = LoggedIn();
    CRixSimSocket listener = CRixSimSocket::Listen("127.0.0.1", 0);
    uint16_t nPort = listener.LocalPort();
    EXPECT_EQ(client.Cmd("PORT 127,0,0,1," + std::to_string(nPort >> 8) + "," + std::to_string(nPort & 0xFF)).nCode,
              200);
    EXPECT_EQ(client.Cmd("RETR readme.txt").nCode, 150);
    CRixSimSocket data = listener.Accept(2000);
    EXPECT_EQ(ReadToEnd(data), "hello");
    EXPECT_EQ(client.Read().nCode, 226);
}

TEST_F(RixSimFtp, ListsADirectory)
{
    FtpClient client = LoggedIn();
    client.Cmd("MKDIR sub");
    CRixSimSocket data = client.Pasv();
    EXPECT_EQ(client.Cmd("LIST").nCode, 150);
    EXPECT_EQ(ReadToEnd(data),
              "drwxr-xr-x 1 rix rix 0 Jan  1 00:00 sub\r\n"
              "-rw-r--r-- 1 rix rix 8388608 Jan  1 00:00 000110A_news.CLP\r\n"
              "-rw-r--r-- 1 rix rix " +
                  std::to_string(CRixClipTable::ForClip("news", 100, 139).ToXml().size()) +
                  " Jan  1 00:00 000110A_news.XML\r\n"
                  "-rw-r--r-- 1 rix rix 5 Jan  1 00:00 readme.txt\r\n");
    EXPECT_EQ(client.Read().nCode, 226);
}

TEST_F(RixSimFtp, ProposesFreeLocations)
{
    // Location 110 of camera A is taken by the clip in the directory.
    _server->Store().SetOccupied('A', {111, 999});
    _server->Store().SetOccupied('B', {110, 120});
    struct Case {
        const char* pMask;
        const char* pQuery;
        const char* pReply;
    };
    const Case cases[] = {
        {"A", "000110?_x.CLP", "451 Location 000110 taken, try '/clips/000112A_x.CLP'"},
        {"AB", "000110?_x.CLP", "451 Location 000110 taken, try '/clips/000111B_x.CLP'"},
        {"ABC", "000110?_x.CLP", "200 000110C_x.CLP"},
        {"A", "000999?_x", "451 Location 000999 taken, try '/clips/000112A_x'"},
        {"B", "000999?_x", "200 000999B_x"},
        {"A", "000119B_x", "200 000119B_x"},
        {"A", "000120B_x", "451 Location 000120 taken, try '/clips/000121B_x'"},
    };
    FtpClient client = LoggedIn();
    for (const auto& c : cases) {
        client.Cmd(std::string("SITE CMSK ") + c.pMask);
        EXPECT_EQ(client.Cmd(std::string("SITE GNFN ") + c.pQuery).szText, c.pReply) << c.pMask << " " << c.pQuery;
    }
}

TEST_F(RixSimFtp, KeepsTheLocationWhenEveryOneIsTaken)
{
    std::set<uint32_t> all;
    for (uint32_t n = 110; n <= 999; ++n)
        all.insert(n);
    _server->Store().SetOccupied('C', all);
    FtpClient client = LoggedIn();
    client.Cmd("SITE CMSK C");
    EXPECT_EQ(client.Cmd("SITE GNFN 000450?_x").szText, "451 Location 000450 taken, try '/clips/000450C_x'");
}

TEST_F(RixSimFtp, ConfirmsTheRpcConnection)
{
    FtpClient client = LoggedIn();
    Reply first = client.Cmd("SITE RPCP");
    ASSERT_EQ(first.nCode, 200);
    ASSERT_EQ(first.szText.rfind("200 RPC Port: ", 0), 0u);
    uint16_t nPort = uint16_t(std::stoi(first.szText.substr(14)));
    EXPECT_EQ(client.Cmd("SITE RPCP").szText, first.szText);
    CRixSimSocket rpc = ConnectTo(nPort);
    EXPECT_EQ(client.Cmd("SITE RPCP").szText, first.szText + " CONNECTED");
    rpc.Close();
    ASSERT_TRUE(_server->Sleep(100));
    EXPECT_EQ(client.Cmd("SITE RPCP").szText, first.szText);
}

class RixSimReplyFault : public RixSimFtp, public ::testing::WithParamInterface<RixSimFaultKind>
{
};

TEST_P(RixSimReplyFault, ChangesTheReplyOfTheCommand)
{
    RixSimFault fault{"SIZE", GetParam(), 1, 150, 2};
    _server->AddFault(fault);
    FtpClient client = LoggedIn();
    auto tStart = std::chrono::steady_clock::now();
    client.Send("SIZE readme.txt");
    switch (GetParam()) {
        case RixSimFaultKind::Delay:
            EXPECT_EQ(client.Read().szText, "213 5");
            EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(150));
            break;
        case RixSimFaultKind::Omit:
            EXPECT_FALSE(Readable(client._sock, 200));
            EXPECT_EQ(client.Cmd("NOOP").szText, "200 NOOP command successful");
            break;
        case RixSimFaultKind::Split: {
            char buffer[64];
            EXPECT_EQ(client._sock.Receive(buffer, sizeof buffer), 2);
            EXPECT_EQ(std::string(buffer, 2), "21");
            EXPECT_EQ(client._sock.Receive(buffer, sizeof buffer), 5);
            EXPECT_EQ(std::string(buffer, 5), "3 5\r\n");
            break;
        }
        case RixSimFaultKind::Coalesce: {
            EXPECT_FALSE(Readable(client._sock, 200));
            client.Send("NOOP");
            char buffer[64];
            int64_t n = client._sock.Receive(buffer, sizeof buffer);
            EXPECT_EQ(std::string(buffer, size_t(std::max<int64_t>(n, 0))), "213 5\r\n200 NOOP command successful\r\n");
            break;
        }
        case RixSimFaultKind::DropConnection:
            EXPECT_EQ(client.Read().nCode, -1);
            break;
        default:
            FAIL();
    }
    // The fault fired once.
    if (GetParam() != RixSimFaultKind::DropConnection) {
        EXPECT_EQ(client.Cmd("SIZE readme.txt").szText, "213 5");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RixSimReplyFault,
                         ::testing::Values(RixSimFaultKind::Delay, RixSimFaultKind::Omit, RixSimFaultKind::Split,
                                           RixSimFaultKind::Coalesce, RixSimFaultKind::DropConnection),
                         FaultName);

TEST_F(RixSimFtp, AnswersBusyTheGivenNumberOfTimes)
{
    _server->AddFault({"RETR", RixSimFaultKind::Busy, 2, 0, 0, 0, 425});
    FtpClient client = LoggedIn();
    EXPECT_EQ(client.Retrieve("readme.txt").second.szText, "425 File busy");
    EXPECT_EQ(client.Retrieve("readme.txt").second.szText, "425 File busy");
    EXPECT_EQ(client.Retrieve("readme.txt").first, "hello");
}

TEST_F(RixSimFtp, CutsTheDataConnectionAfterSomeBytes)
{
    _server->AddFault({"RETR", RixSimFaultKind::CutData, 1, 0, 0, 3000000});
    _server->AddFault({"STOR", RixSimFaultKind::CutData, 1, 0, 0, 4});
    FtpClient client = LoggedIn();
    auto [szData, end] = client.Retrieve("000110A_news.CLP");
    EXPECT_EQ(szData.size(), 3000000u);
    EXPECT_EQ(end.szText, "426 Connection closed; transfer aborted");
    EXPECT_EQ(client.Cmd("STAT 000110A_news.CLP").nCode, 426);
    EXPECT_EQ(client.StoreData("STOR cut.bin", "abcdefgh").nCode, 426);
    EXPECT_EQ(Str(_server->Store().FileData("/clips/cut.bin")), "abcd");
}

TEST_F(RixSimFtp, StallsTheDataForAWhile)
{
    _server->AddFault({"RETR", RixSimFaultKind::StallData, 1, 200, 0, 2});
    FtpClient client = LoggedIn();
    auto tStart = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Retrieve("readme.txt").first, "hello");
    EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(200));
}

TEST_F(RixSimFtp, JournalsEveryCommandBySession)
{
    FtpClient first = LoggedIn();
    FtpClient second = LoggedIn();
    second.Cmd("NOOP");
    auto journal = _server->Journal();
    ASSERT_EQ(journal.size(), 7u);
    EXPECT_EQ(journal[0]._szChannel, "FTP");
    EXPECT_EQ(journal[0]._szText, "USER rix");
    EXPECT_EQ(journal[0]._nSession, 1u);
    EXPECT_EQ(journal[6]._szText, "NOOP");
    EXPECT_EQ(journal[6]._nSession, 2u);
}

TEST(RixSimStop, EndsEveryThreadWhileClientsStillHang)
{
    CRixSimServer server;
    server.Store().AddClip("/c/000110A_x.CLP", {BavdBlock(0, 10)}, 0x200000, {}, true);
    server.AddFault({"RETR", RixSimFaultKind::StallData, 1, 0, 0, 10});
    ASSERT_TRUE(server.Start());
    FtpClient stalled(server.FtpPort());
    stalled.Login();
    CRixSimSocket data = stalled.Pasv();
    EXPECT_EQ(stalled.Cmd("RETR /c/000110A_x.CLP").nCode, 150);
    FtpClient growing(server.FtpPort());
    growing.Login();
    CRixSimSocket data2 = growing.Pasv();
    EXPECT_EQ(growing.Cmd("RETR /c/000110A_x.CLP").nCode, 150);
    FtpClient idle(server.FtpPort());
    auto tStart = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(2));
}

}  // namespace
