// The FTP client against peers that do not play by the rules: every connect ends within its waits with a text
// naming the cause, a cancel from another thread ends a wait at once, and a passive reply never sends the data
// connection to another host.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include "ftp/CKorvoFtpClient.h"
#include "tests/support/BoundPort.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/WaitUntil.h"

namespace
{
using testsupport::ScriptedFtpServer;
using Clock = std::chrono::steady_clock;
using testsupport::WaitUntil;

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
    const testsupport::BoundPort refusing;
    const uint16_t port = refusing.Port();
    ASSERT_NE(port, 0);
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
    // The cancel comes once the client is connected and waiting for the welcome.
    Clock::time_point cancelled;
    std::thread canceller([&] {
        WaitUntil([&] { return server.Connections() > 0; }, std::chrono::seconds(60));
        cancelled = Clock::now();
        cancel = true;
    });
    EXPECT_NE(client.AddFtpServer(server.Address(), true), 0);
    const auto ended = Clock::now();
    canceller.join();
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_LT(ended - cancelled, std::chrono::seconds(2));
    EXPECT_NE(client.GetLastFailure().find("cancelled"), std::string::npos) << client.GetLastFailure();
}

// Loopback connections to the port still waiting for the peer's answer to their SYN.
int SynSentTo(uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        unsigned remotePort = 0;
        if (std::sscanf(remote.c_str(), "%*8X:%4X", &remotePort) == 1 && remotePort == port && state == "02")
            ++count;
    }
    return count;
}

// A host that takes no connection at all: a listener whose accept queue is full, so the kernel drops every further
// SYN and a connect waits for an answer that never comes.
TEST(FtpHostilePeerThreads, AbortEndsAConnectToAHostThatNeverAnswers)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener, 0));
    socklen_t length = sizeof address;
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    const uint16_t port = ntohs(address.sin_port);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ASSERT_TRUE(WaitUntil([&] { return SynSentTo(port) >= 1; }, std::chrono::seconds(5))) << "the queue is not full";
    const int waitingBefore = SynSentTo(port);

    Client client;
    FtpTimeouts timeouts;
    timeouts.nPingMs = 100;
    timeouts.nControlMs = 20000;
    client.SetTimeouts(timeouts);
    std::atomic<bool> cancel{false};
    client.SetAbortSignal(&cancel);
    auto connecting =
        std::async(std::launch::async, [&] { return client.AddFtpServer("127.0.0.1:" + std::to_string(port), true); });
    const bool inConnect = WaitUntil([&] { return SynSentTo(port) > waitingBefore; }, std::chrono::seconds(5));
    cancel = true;
    const auto cancelled = Clock::now();
    const bool ended = connecting.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    const int result = connecting.get();
    EXPECT_TRUE(inConnect);
    EXPECT_TRUE(ended) << "the connect outlasted its cancel by "
                       << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelled).count()
                       << " ms";
    EXPECT_NE(result, 0);
    EXPECT_EQ(client.GetLastFailure(), "cancelled");
    for (int fd : fillers)
        close(fd);
    close(listener);
}

// A failure of one server is not quoted once the next one connected.
TEST(FtpHostilePeer, AConnectThatSucceedsClearsTheLastFailure)
{
    uint16_t gonePort = 0;
    {
        ScriptedFtpServer gone("220 ready\r\n", nullptr);
        gonePort = gone.Port();
    }
    ScriptedFtpServer server("220 ready\r\n", nullptr);
    Client client;
    ASSERT_EQ(client.AddFtpServer("localhost:" + std::to_string(gonePort) + "|" + server.Address(), true), 0)
        << client.GetLastFailure();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.GetLastFailure(), "");
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
