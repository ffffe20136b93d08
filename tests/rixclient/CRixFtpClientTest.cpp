// The video server client against the simulator: welcome, clip addresses, location resolution, clip
// transfers, pacing and the keep-alive.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "tests/rixclient/RixTestHelpers.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/WaitUntil.h"

using namespace rixtest;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;

namespace
{

class Client : public CRixFtpClient
{
public:
    Client() : CRixFtpClient("") {}
};

class RixFtpClient : public SimTest
{
protected:
    void Fill(rixsim::CRixSimStore& store) override
    {
        store.AddClip("/clips/000110A_news.CLP", Blocks(4), 0x200000);
        store.AddFile("/clips/000120A_small.CLP", Small(), 0);
        store.AddDirectory("/up");
    }
    static RixSimBytes Small()
    {
        RixSimBytes bytes(100000);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i * 7);
        return bytes;
    }
    void Open(Client& client, const std::string& path)
    {
        Prepare(client);
        ASSERT_EQ(client.SetClipUrl(Url(path), true), 0);
    }
};

TEST_F(RixFtpClient, WelcomeSetsTheBlockSize)
{
    struct Case {
        rixsim::RixSimWelcomeStyle style;
        int code;
        uint32_t blockSize;
    } cases[] = {
        {rixsim::RixSimWelcomeStyle::Standard, 0, 0x800000},    {rixsim::RixSimWelcomeStyle::Block2, 0, 0x200000},
        {rixsim::RixSimWelcomeStyle::NoBlockSize, 0, 0x800000}, {rixsim::RixSimWelcomeStyle::MultiLine, 0, 0x800000},
        {rixsim::RixSimWelcomeStyle::None, 5, 0x800000},
    };
    for (const Case& c : cases) {
        auto config = _server->GetConfig();
        config._vWelcome = rixsim::RixSimWelcome(c.style);
        _server->SetConfig(config);
        Client client;
        Prepare(client);
        client.SetClipUrl(Url("/clips/000110A_news.CLP"), false);
        if (c.style == rixsim::RixSimWelcomeStyle::Block2) {
            // A 2 MB server after a 16 MB one: the size follows each welcome.
            config._vWelcome = {"220 Korvo FTP Server (v) 7.07 B: 16"};
            _server->SetConfig(config);
            int code = -1;
            ASSERT_TRUE(client.TryConnect(&code));
            EXPECT_EQ(client.GetServerBlockSize(), 16u << 20);
            config._vWelcome = rixsim::RixSimWelcome(c.style);
            _server->SetConfig(config);
        }
        int code = -1;
        EXPECT_EQ(client.TryConnect(&code), c.code == 0);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(client.GetServerBlockSize(), c.blockSize);
    }
}

TEST(RixFtpClientUrl, AddressParts)
{
    struct Case {
        const char* url;
        const char* server;
        const char* directory;
        const char* name;
        bool resolved;
    } cases[] = {
        {"ftp://srv/a/b/000110A_x", "srv", "/a/b/", "000110A_x", true},
        {"ftp://joe:pw@srv:2121\\a\\000110A_x.CLP", "joe:pw@srv:2121", "/a\\", "000110A_x.CLP", true},
        {"ftp://srv/[12]?_x", "srv", "", "[12]?_x", false},
        {"ftp://srv/clips/?_x", "srv", "/clips/", "?_x", false},
        {"ftp://srv/clips/000110A", "srv", "/clips/", "000110A", false},
        {"ftp://srv/c/110[AB]_x", "srv", "/c/", "110[AB]_x", false},
    };
    for (const Case& c : cases) {
        Client client;
        EXPECT_EQ(client.SetClipUrl(c.url, false), 0);
        EXPECT_EQ(client.GetServerName(), c.server) << c.url;
        EXPECT_EQ(client.GetClipDirectory(), c.directory) << c.url;
        EXPECT_EQ(client.GetClipName(), c.name) << c.url;
        EXPECT_EQ(client.IsClipNameResolved(), c.resolved) << c.url;
    }
    Client client;
    client.SetClipUrl("ftp://srv:2121/a/b/000110A_x", false);
    ASSERT_EQ(client.GetServerList().size(), 1u);
    EXPECT_EQ(client.GetServerList()[0].nPort, 2121);
    // A bare path keeps the server and replaces directory and name.
    client.SetClipUrl("c/d/000120B_y", false);
    EXPECT_EQ(client.GetServerName(), "srv:2121");
    EXPECT_EQ(client.GetClipDirectory(), "/c/d/");
    std::string url;
    EXPECT_TRUE(client.GetClipUrl(&url, false));
    EXPECT_EQ(url, "ftp://srv:2121/c/d/000120B_y");
}

// Location resolution: the commands sent and the name found, against taken locations.
TEST_F(RixFtpClient, ResolvesOpenLocations)
{
    std::set<uint32_t> page1, page9;
    for (uint32_t slot = 10; slot < 100; ++slot) {
        page1.insert(100 + slot);
        page9.insert(900 + slot);
    }
    struct Case {
        const char* name;
        std::set<uint32_t> takenA, takenOthers;  // the others: cameras B to F
        bool refuseMask;
        bool ok;
        const char* resolved;
        std::vector<std::string> commands;
    } cases[] = {
        // Page 1 is full for A: the server proposes 210, which moves the walk to page 2.
        {"[12]?_x", page1, {}, false, true, "000210A_x", {"SITE CMSK A", "SITE GNFN 000110?_x", "SITE GNFN 000210?_x"}},
        // Past the last page the camera advances.
        {"[1]?_x",
         page1,
         {},
         false,
         true,
         "000110B_x",
         {"SITE CMSK A", "SITE GNFN 000110?_x", "SITE CMSK B", "SITE GNFN 000110?_x"}},
        // Allowed letters go to the mask; a full page with letters given ends the walk.
        {"[1][AB]_x", page1, page1, false, false, "", {"SITE CMSK AB", "SITE GNFN 000110?_x"}},
        // A refused mask drops the page limits: the walk follows the server's proposal.
        {"[1]?_x",
         page1,
         page1,
         true,
         true,
         "000210A_x",
         {"SITE CMSK A", "SITE GNFN 000110?_x", "SITE GNFN 000210?_x"}},
        // Without pages: the leading number, raised to slot 10, and the wrap after 999 (110 is taken for A by
        // the clip in the folder).
        {"000305?_x", {}, {}, false, true, "000310A_x", {"SITE CMSK ABCDEF", "SITE GNFN 000310?_x"}},
        {"001000?_x", {}, {}, false, true, "000110B_x", {"SITE CMSK ABCDEF", "SITE GNFN 000110?_x"}},
        {"000990?_x",
         page9,
         page9,
         false,
         true,
         "000110B_x",
         {"SITE CMSK ABCDEF", "SITE GNFN 000990?_x", "SITE GNFN 000110?_x"}},
    };
    for (const Case& c : cases) {
        _server->Store().SetOccupied('A', c.takenA);
        for (char camera : {'B', 'C', 'D', 'E', 'F'})
            _server->Store().SetOccupied(camera, c.takenOthers);
        _server->ClearFaults();
        if (c.refuseMask)
            _server->AddFault(RixSimFault{"SITE CMSK", RixSimFaultKind::Busy, 1, 0, 1, 0, 501});
        Client client;
        Open(client, "/clips/" + std::string(c.name));
        _server->ClearJournal();
        std::string url;
        EXPECT_EQ(client.GetClipUrl(&url, false), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(client.GetClipName(), c.resolved) << c.name;
        }
        std::vector<std::string> sent;
        for (const auto& line : Commands())
            if (line.rfind("SITE", 0) == 0)
                sent.push_back(line);
        EXPECT_EQ(sent, c.commands) << c.name;
    }
}

TEST_F(RixFtpClient, CheckModeConfirmsAResolvedName)
{
    Client client;
    Open(client, "/clips/000130A_x");
    std::string url;
    EXPECT_TRUE(client.GetClipUrl(&url, true));
    EXPECT_EQ(url, Url("/clips/000130A_x"));
    EXPECT_TRUE(Received("SITE CMSK A"));
    EXPECT_TRUE(Received("SITE GNFN 000130?_x"));
    // Taken: a check gets 451 and fails.
    _server->Store().SetOccupied('A', {130});
    EXPECT_FALSE(client.GetClipUrl(&url, true));
    EXPECT_EQ(client.GetClipName(), "000130A_x");
}

TEST_F(RixFtpClient, ReadsAClipFromAFieldPosition)
{
    Client client;
    Open(client, "/clips/000110A_news.CLP");
    ASSERT_EQ(client.OpenClip(CKorvoFtpClient::kRetrieve, 125, 0, CKorvoFtpClient::kSiteSeek), 0);
    EXPECT_TRUE(Received("SITE SEEK 125"));
    auto blocks = Blocks(4);
    std::vector<uint8_t> got(0x200000);
    for (int n : {2, 3}) {
        uint32_t count = 0;
        ASSERT_EQ(client.ReadData(got.data(), 0x200000, &count, 0), 0);
        ASSERT_EQ(count, 0x200000u);
        EXPECT_TRUE(got == blocks[n]) << n;
    }
    uint32_t count = 1;
    EXPECT_EQ(client.ReadData(got.data(), 0x200000, &count, 0), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(client.GetBytesMoved(), 0x400000u);
    client.CloseClip(false);
}

TEST_F(RixFtpClient, PacedReadsKeepTheRate)
{
    Client client;
    Open(client, "/clips/000110A_news.CLP");
    ASSERT_EQ(client.OpenClip(CKorvoFtpClient::kRetrieve, 100, CKorvoFtpClient::kSiteSeek), 0);
    std::vector<uint8_t> buffer(100000);
    const double start = platform::PerfSeconds();
    // 100000 bytes at 1 MB/s: each paced call after the first waits for the previous one's 0.1 s.
    for (int i = 0; i < 4; ++i) {
        uint32_t count = 0;
        ASSERT_EQ(client.ReadData(buffer.data(), 100000, &count, 1000000), 0);
        ASSERT_EQ(count, 100000u);
    }
    EXPECT_GE(platform::PerfSeconds() - start, 0.29);
    client.CloseClip(true);
}

TEST_F(RixFtpClient, WritesClipAndXmlAndDeletes)
{
    Client client;
    Open(client, "/up/000140A_new.CLP");
    ASSERT_EQ(client.OpenClipAtStart(CKorvoFtpClient::kStore), 0);
    auto data = Blocks(2)[1];
    data.resize(3 * 0x100000 + 17);
    uint32_t count = 0;
    ASSERT_EQ(client.WriteData(data.data(), static_cast<uint32_t>(data.size()), &count), 0);
    EXPECT_EQ(count, data.size());
    EXPECT_EQ(client.CloseClip(false), 226);
    EXPECT_TRUE(_server->Store().FileData("/up/000140A_new.CLP") == data);

    const std::string xml = "<clip/>";
    ASSERT_EQ(client.OpenClipXml(CKorvoFtpClient::kStore), 0);
    ASSERT_EQ(client.WriteData(xml.data(), static_cast<uint32_t>(xml.size()), &count), 0);
    client.CloseClip(false);
    auto stored = _server->Store().FileData("/up/000140A_new.XML");
    EXPECT_EQ(std::string(stored.begin(), stored.end()), xml);

    EXPECT_EQ(client.DeleteClip(), 0);
    EXPECT_FALSE(_server->Store().Info("/up/000140A_new.CLP"));
    // No transfer open: nothing is written.
    EXPECT_EQ(client.WriteData(xml.data(), 1, &count), -1);
}

TEST_F(RixFtpClient, StoreResolvesAnOpenName)
{
    _server->Store().SetOccupied('A', {110});
    Client client;
    Open(client, "/up/[1]?_rec.CLP");
    ASSERT_EQ(client.OpenClipAtStart(CKorvoFtpClient::kStore), 0);
    client.CloseClip(false);
    EXPECT_EQ(client.GetClipName(), "000111A_rec.CLP");
    EXPECT_TRUE(_server->Store().Info("/up/000111A_rec.CLP"));
}

class RixFtpClientThreads : public RixFtpClient
{
};

TEST_F(RixFtpClientThreads, KeepAliveLeavesTheTailToTheReader)
{
    testsupport::LogCapture log("default");
    Client client;
    Open(client, "/clips/000120A_small.CLP");
    ASSERT_EQ(client.OpenClip(CKorvoFtpClient::kRetrieve, 0, 1), 0);
    client.StartKeepAlive();
    // The whole file is in the connection and the transfer complete: the keep-alive has taken the 226 and ended
    // before the reader reads a byte.
    auto ended = [&] {
        const std::string text = log.Text();
        const size_t poll = text.find("> CTRL: STAT 000120A_small.CLP");
        return poll != std::string::npos && text.find("< Reply: 226", poll) != std::string::npos;
    };
    ASSERT_TRUE(testsupport::WaitUntil(ended)) << log.Text();
    std::vector<uint8_t> got(200000);
    uint32_t count = 0;
    ASSERT_EQ(client.ReadData(got.data(), 200000, &count, 0), 0);
    got.resize(count);
    EXPECT_TRUE(got == Small());
    client.CloseClip(false);
}

TEST_F(RixFtpClientThreads, KeepAlivePollsALongRead)
{
    Client client;
    Open(client, "/clips/000110A_news.CLP");
    ASSERT_EQ(client.OpenClip(CKorvoFtpClient::kRetrieve, 100, CKorvoFtpClient::kSiteSeek), 0);
    client.StartKeepAlive();
    auto blocks = Blocks(4);
    std::vector<uint8_t> got(0x200000);
    for (int n = 0; n < 4; ++n) {
        uint32_t count = 0;
        ASSERT_EQ(client.ReadData(got.data(), 0x200000, &count, 20000000), 0);
        ASSERT_EQ(count, 0x200000u);
        EXPECT_TRUE(got == blocks[n]) << n;
    }
    size_t stats = 0;
    for (const auto& line : Commands())
        stats += line == "STAT 000110A_news.CLP";
    EXPECT_GE(stats, 2u);
    client.CloseClip(false);
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(RixFtpClientThreads, KeepAliveStopsWhileAReplyIsMissing)
{
    _server->AddFault(RixSimFault{"STAT", RixSimFaultKind::Omit});
    Client client;
    Open(client, "/up/000150A_w.CLP");
    ASSERT_EQ(client.OpenClipAtStart(CKorvoFtpClient::kStore), 0);
    client.StartKeepAlive();
    ASSERT_TRUE(_server->WaitForJournal("STAT 000150A_w.CLP", 60000));
    const double start = platform::PerfSeconds();
    client.CloseClip(true);
    EXPECT_LT(platform::PerfSeconds() - start, 1.5);
    // Stopping again, or with no thread, does nothing.
    client.StopKeepAlive();
}

}  // namespace
