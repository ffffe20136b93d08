#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "ftp/CAsyncSendSocket.h"
#include "platform/Clock.h"
#include "platform/Socket.h"

namespace
{

struct Link {
    platform::Socket listener, client, server;
    Link()
    {
        listener.Listen("127.0.0.1", 0);
        client.Connect("127.0.0.1", listener.LocalPort(), 2000);
        server = listener.Accept(2000);
    }
};

TEST(AsyncSendSocketThreads, SendsTheWholeBufferToAReadingPeer)
{
    Link link;
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> got;
    std::thread reader([&] {
        uint8_t buf[65536];
        while (got.size() < data.size()) {
            int64_t n = link.server.Recv(buf, sizeof buf);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
    });
    CAsyncSendSocket sender(link.client, 5000, "");
    EXPECT_EQ(sender.Send(data.data(), data.size()), static_cast<int64_t>(data.size()));
    reader.join();
    EXPECT_EQ(got, data);
    EXPECT_EQ(sender.BytesSent(), data.size());
}

TEST(AsyncSendSocketThreads, PeerThatStopsReadingTimesOutAndReleasesTheBuffer)
{
    Link link;
    link.client.SetBufferSizes(65536, 0);
    link.server.SetBufferSizes(0, 65536);
    CAsyncSendSocket sender(link.client, 200, "");
    // Freed right after the failed send: the sanitizer sees any later touch by the send thread.
    auto data = std::make_unique<std::vector<uint8_t>>(32 << 20, 0x5A);
    double start = platform::PerfSeconds();
    EXPECT_EQ(sender.Send(data->data(), data->size()), -1);
    double elapsed = platform::PerfSeconds() - start;
    data.reset();
    EXPECT_EQ(sender.LastError(), platform::kWsaTimedOut);
    EXPECT_GE(elapsed, 0.19);
    EXPECT_LT(elapsed, 3.0);
    // The connection is given up: later sends fail at once instead of hanging.
    uint8_t byte = 1;
    EXPECT_EQ(sender.Send(&byte, 1), -1);
}

TEST(AsyncSendSocketThreads, StopsWithoutASend)
{
    Link link;
    CAsyncSendSocket sender(link.client, 1000, "");
    sender.StopThread();
    uint8_t byte = 1;
    EXPECT_EQ(sender.Send(&byte, 1), -1);
}

TEST(AsyncSendSocket, SlowSendRule)
{
    struct Case {
        size_t length;
        double seconds;
        bool slow;
    } cases[] = {
        {1 << 20, 4.0, true},   // 2097152 bits/s
        {1000, 100.0, false},   // under 1024 bytes: never
        {1024, 0.004, true},    // exactly 2048000 bits/s
        {1 << 20, 0.1, false},  // 83 Mbit/s
        {312500, 1.0, true},    // exactly 2500000 bits/s
        {312501, 1.0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CAsyncSendSocket::IsSlowSend(c.length, c.seconds), c.slow) << c.length << " in " << c.seconds;
}

}  // namespace
