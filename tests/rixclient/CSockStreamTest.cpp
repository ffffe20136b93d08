// The TCP byte streams over loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "rixclient/CServerSockStream.h"
#include "rixclient/CSockStream.h"

namespace
{

TEST(SockStream, ListenOnChosenPortAcceptSendReceive)
{
    CServerSockStream server(0, 5);
    ASSERT_EQ(server.Listen(), 0);
    ASSERT_NE(server.GetPort(), 0);
    std::string address;
    ASSERT_EQ(server.GetAddress(&address), 0);
    EXPECT_EQ(address.substr(address.rfind(':') + 1), std::to_string(server.GetPort()));

    CSockStream client;
    ASSERT_EQ(client.Connect("127.0.0.1", server.GetPort()), 0);
    std::unique_ptr<CSockStream> accepted(server.Accept());
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->GetRemoteAddress(), "127.0.0.1");

    uint32_t count = 0;
    ASSERT_EQ(client.Send("hello", 5, &count), 0);
    EXPECT_EQ(count, 5u);
    char buffer[16] = {};
    ASSERT_EQ(accepted->Receive(buffer, sizeof buffer, &count), 0);
    EXPECT_EQ(std::string(buffer, count), "hello");

    // The peer closed: 3 with nothing received.
    client.Close();
    EXPECT_EQ(accepted->Receive(buffer, sizeof buffer, &count), 3);
    EXPECT_EQ(count, 0u);
}

TEST(SockStream, CodesWithoutConnection)
{
    CSockStream never;
    uint32_t count = 7;
    EXPECT_EQ(never.Send("x", 1, &count), 2);
    EXPECT_EQ(never.Receive(&count, 1, &count), 2);
    platform::Socket* socket = nullptr;
    EXPECT_EQ(never.GetSocket(&socket), 0);

    CSockStream unknown;
    EXPECT_EQ(unknown.Connect("no-such-host.invalid", 1), 2);
    EXPECT_EQ(unknown.GetSocket(&socket), 1);
    EXPECT_EQ(unknown.Connect("127.0.0.1", 1), 1);

    // A listener is found, then closed: connecting to its port fails.
    uint16_t port = 0;
    {
        CServerSockStream server(0, 1);
        ASSERT_EQ(server.Listen(), 0);
        port = server.GetPort();
    }
    CSockStream refused;
    EXPECT_EQ(refused.Connect("127.0.0.1", port), 3);

    CServerSockStream closed(0, 1);
    closed.Close();
    std::string text;
    EXPECT_EQ(closed.GetAddress(&text), 1);
    EXPECT_EQ(closed.Accept(), nullptr);
}

TEST(SockStreamThreads, SecondAcceptWaitsAndCloseEndsIt)
{
    CServerSockStream server(0, 5);
    ASSERT_EQ(server.Listen(), 0);
    CSockStream first;
    ASSERT_EQ(first.Connect("127.0.0.1", server.GetPort()), 0);
    std::unique_ptr<CSockStream> one(server.Accept());
    ASSERT_TRUE(one);

    std::unique_ptr<CSockStream> two;
    std::thread waiter([&] { two.reset(server.Accept()); });
    CSockStream second;
    ASSERT_EQ(second.Connect("127.0.0.1", server.GetPort()), 0);
    waiter.join();
    ASSERT_TRUE(two);

    // The first stream stays valid beside the second.
    uint32_t count = 0;
    ASSERT_EQ(one->Send("a", 1, &count), 0);
    char c = 0;
    ASSERT_EQ(first.Receive(&c, 1, &count), 0);
    EXPECT_EQ(c, 'a');

    // A third Accept waits until the listener is closed from another thread.
    CSockStream* three = nullptr;
    std::thread closer([&] { three = server.Accept(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.Close();
    closer.join();
    EXPECT_EQ(three, nullptr);
    delete three;
}

}  // namespace
