// The FTP client against peers that do not play by the rules: every connect ends within its waits with a text
// naming the cause, a cancel from another thread ends a wait at once, and a passive reply never sends the data
// connection to another host.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "ftp/CKorvoFtpClient.h"
#include "tests/support/ScriptedFtpServer.h"

namespace
{
using testsupport::ScriptedFtpServer;
using Clock = std::chrono::steady_clock;

class Client : public CKorvoFtpClient
{
public:
    Client() : CKorvoFtpClient("")
    {
        FtpTimeouts timeouts;
        timeouts.nPingMs = 100;
        timeouts.nControlMs = 1000;
        timeouts.nAcceptMs = 1000;
        timeouts.nDataMs = 2000;
        timeouts.nCloseMs = 500;
        SetTimeouts(timeouts);
    }
};

TEST(FtpHostilePeer, ConnectEndsWithinItsWaitAndNamesTheCause)
{
    const struct {
        const char* name;
        ScriptedFtpServer::Manner manner;
        const char* welcome;
        const char* cause;
    } cases[] = {
        {"no welcome", ScriptedFtpServer::Manner::Scripted, "", "no reply within 1000 ms"},
        {"close on accept", ScriptedFtpServer::Manner::CloseOnAccept, "220 ready\r\n", "closed the connection"},
        {"one byte every 300 ms", ScriptedFtpServer::Manner::Drip, "", "no reply within 1000 ms"},
        {"log-in refused", ScriptedFtpServer::Manner::Scripted, "220 ready\r\n", "log-in refused by"},
    };
    for (const auto& c : cases) {
        ScriptedFtpServer server(c.welcome, [](const std::string& command, ScriptedFtpServer&) {
            std::optional<std::string> reply;
            if (command.rfind("PASS", 0) == 0)
                reply = "530 Login incorrect.\r\n";
            return reply;
        });
        server.SetManner(c.manner, 300);
        Client client;
        const auto start = Clock::now();
        EXPECT_NE(client.AddFtpServer(server.Address(), true), 0) << c.name;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << c.name;
        EXPECT_NE(client.GetLastFailure().find(c.cause), std::string::npos)
            << c.name << ": " << client.GetLastFailure();
        EXPECT_FALSE(client.IsConnected()) << c.name;
    }
}

TEST(FtpHostilePeer, RefusedConnectionNamesTheAddress)
{
    uint16_t port = 0;
    {
        ScriptedFtpServer gone("220 ready\r\n", nullptr);
        port = gone.Port();
    }
    Client client;
    EXPECT_NE(client.AddFtpServer("127.0.0.1:" + std::to_string(port), true), 0);
    EXPECT_EQ(client.GetLastFailure(), "cannot connect to 127.0.0.1:" + std::to_string(port) + ": connection refused");
}

TEST(FtpHostilePeerThreads, AbortEndsAWaitForTheWelcomeAtOnce)
{
    ScriptedFtpServer server("", nullptr);
    Client client;
    FtpTimeouts timeouts;
    timeouts.nControlMs = 20000;
    client.SetTimeouts(timeouts);
    std::atomic<bool> cancel{false};
    client.SetAbortSignal(&cancel);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto start = Clock::now();
    EXPECT_NE(client.AddFtpServer(server.Address(), true), 0);
    const auto elapsed = Clock::now() - start;
    canceller.join();
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_NE(client.GetLastFailure().find("cancelled"), std::string::npos) << client.GetLastFailure();
}

// A passive reply naming another host: the data connection still goes to the server of the control connection.
TEST(FtpHostilePeer, PassiveReplyToAnotherAddressIsNotFollowed)
{
    ScriptedFtpServer server("220 ready\r\n", [](const std::string& command, ScriptedFtpServer& s) {
        std::optional<std::string> reply;
        if (command == "PASV") {
            std::string own = s.OpenPassive();
            // The port stays; the address becomes one of a documentation network that nothing answers.
            size_t comma = own.find('(');
            for (int i = 0; i < 4; ++i)
                comma = own.find(',', comma + 1);
            reply = "227 Entering Passive Mode (192,0,2,7," + own.substr(comma + 1);
        }
        if (command == "RETR clip.bin") {
            s.SendDataAndClose("the data");
            reply = "150 Opening.\r\n226 Transfer complete.\r\n";
        }
        return reply;
    });
    Client client;
    ASSERT_EQ(client.AddFtpServer(server.Address(), true), 0);
    ASSERT_EQ(client.OpenFile("clip.bin", CKorvoFtpClient::kRetrieve, 0, 0), 0);
    char buffer[64];
    int64_t count = 0;
    EXPECT_EQ(client.FtpReadFile(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<int64_t>(count, 0))), "the data");
}

}  // namespace
