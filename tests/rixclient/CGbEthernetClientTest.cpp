// The GbE client: reassembly of messages however the stream is cut, and exchanges with the simulator's gateway.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "outside/rix/CRixSimServer.h"
#include "platform/Wait.h"
#include "rixclient/CGbEthernetClient.h"
#include "rixclient/CRixClientSocketProtocolAsync.h"
#include "rixclient/CSockStream.h"

namespace
{

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Collects what the client hands out.
class Recorder : public CRixReplyOwner
{
public:
    void StoreReply(std::unique_ptr<CRixMessage> reply) override
    {
        std::lock_guard lock(_mutex);
        _replies.push_back(std::move(reply));
        _cv.notify_all();
    }
    void ClearConnected() override
    {
        std::lock_guard lock(_mutex);
        ++_nDisconnects;
        _cv.notify_all();
    }
    // Waits for the n-th reply (from 1); nullptr after the time-out.
    const CRixMessage* Reply(size_t n)
    {
        std::unique_lock lock(_mutex);
        _cv.wait_for(lock, 10s, [&] { return _replies.size() >= n; });
        return _replies.size() >= n ? _replies[n - 1].get() : nullptr;
    }
    size_t Count()
    {
        std::lock_guard lock(_mutex);
        return _replies.size();
    }
    bool WaitDisconnect()
    {
        std::unique_lock lock(_mutex);
        return _cv.wait_for(lock, 10s, [&] { return _nDisconnects > 0; });
    }
    int Disconnects()
    {
        std::lock_guard lock(_mutex);
        return _nDisconnects;
    }

private:
    std::mutex _mutex;
    std::condition_variable _cv;
    std::vector<std::unique_ptr<CRixMessage>> _replies;
    int _nDisconnects = 0;
};

Bytes Encoded(const CRixMessage& message)
{
    platform::PageBuffer buffer;
    int64_t total = message.Encode(&buffer);
    return Bytes(buffer.get(), buffer.get() + total);
}

CRixMessage Reply(uint32_t id, size_t dataBytes)
{
    CRixMessage m;
    m._nMessageType = CRixMessage::kReply;
    m._nCommand = CRixMessage::kVideoField;
    m._nRequestId = id;
    m._szOperation = "gw";
    m._videoData = Bytes(dataBytes, static_cast<uint8_t>(id));
    return m;
}

// Feeds the client directly, as the receive thread would, in chunks cut at the given points.
void Feed(CRixClientSocketProtocolAsync& client, Bytes stream, const std::vector<size_t>& cuts)
{
    size_t from = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        size_t to = i < cuts.size() ? cuts[i] : stream.size();
        client.OnReceive(stream.data() + from, static_cast<uint32_t>(to - from), static_cast<uint32_t>(to - from));
        from = to;
    }
}

TEST(GbEthernetClient, EveryCutOfTwoMessagesGivesBothInOrder)
{
    Bytes stream = Encoded(Reply(1, 3));
    Bytes second = Encoded(Reply(2, 40));
    stream.insert(stream.end(), second.begin(), second.end());
    // Two cuts anywhere (a header cut in three, a message in three, both messages in one chunk, ...); the
    // client is left with nothing in assembly after each stream.
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, false);
    size_t n = 0;
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); ++b) {
            Feed(client, stream, {a, b});
            n += 2;
            ASSERT_EQ(owner.Count(), n) << a << " " << b;
            EXPECT_EQ(owner.Reply(n - 1)->_nRequestId, 1u);
            EXPECT_EQ(owner.Reply(n)->_videoData, Bytes(40, 2));
        }
    }
    // One byte per receive.
    std::vector<size_t> cuts;
    for (size_t i = 1; i < stream.size(); ++i)
        cuts.push_back(i);
    Feed(client, stream, cuts);
    EXPECT_EQ(owner.Count(), n + 2);
}

TEST(GbEthernetClient, LargestMessageFitsAndOneMoreByteIsRefused)
{
    for (uint32_t extra : {0u, 1u}) {
        CRixMessage m = Reply(3, 0);
        size_t base = Encoded(m).size();
        m._videoData = Bytes(CGbEthernetClient::kReassemblySize - base + extra, 7);
        Recorder owner;
        CRixClientSocketProtocolAsync client(&owner, false);
        Feed(client, Encoded(m), {100000});
        EXPECT_EQ(owner.Count(), extra ? 0u : 1u);
    }
}

// The gateway of a simulator with one clip; each test connects a client of its own.
class GbeClientThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _server = std::make_unique<rixsim::CRixSimServer>();
        rixsim::RixSimGbeClip clip;
        clip._szUmId = "UMID-7";
        clip._nRixNumber = 3;
        clip._nClipNumber = 12;
        clip._cCamera = 'B';
        clip._nIn = 100;
        clip._nOut = 200;
        clip._nAudioChannels = 4;
        clip._nSamplesPerField = 5;
        _server->Store().AddGbeClip(clip);
        ASSERT_TRUE(_server->Start());
    }
    // A connected client that has received the welcome; false when it could not.
    bool Connect(CRixClientSocketProtocolAsync& client, Recorder& owner)
    {
        auto stream = std::make_unique<CSockStream>();
        if (stream->Connect("127.0.0.1", _server->GbePort()) != 0)
            return false;
        client.SetSelectTimeout(50);
        if (client.Init(stream.release()) != 0)
            return false;
        const CRixMessage* welcome = owner.Reply(1);
        return welcome && welcome->_szText2.find("Welcome") != std::string::npos;
    }
    CRixMessage Request(CGbEthernetClient& client, uint16_t command, uint32_t field = CRixMessage::kUnset)
    {
        CRixMessage m;
        m._nCommand = command;
        m._nRequestId = client.NextRequestId();
        m._szOperation = "test";
        m._nRixNumber = 3;
        m._nClipNumber = 12;
        m._cCameraId = 'B';
        m._nField = field;
        m._nTcSystem = 3;
        if (command == CRixMessage::kAudio)
            m._nAudioChannelMask = 0b1010;
        return m;
    }
    void Fault(rixsim::RixSimFaultKind kind, const char* command, uint32_t splitAt = 1, uint32_t length = 0)
    {
        rixsim::RixSimFault fault;
        fault._szCommand = command;
        fault._eKind = kind;
        fault._nSplitAt = splitAt;
        fault._nDelayMs = 20;
        fault._nLength = length;
        fault._nCode = 2;
        _server->AddFault(fault);
    }

    std::unique_ptr<rixsim::CRixSimServer> _server;
};

TEST_F(GbeClientThreads, ClipInformationVideoAndAudio)
{
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, true);
    ASSERT_TRUE(Connect(client, owner));
    EXPECT_TRUE(client.IsRunning());

    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kClipInfo)), 0);
    const CRixMessage* info = owner.Reply(2);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->_nMessageType, CRixMessage::kReply);
    EXPECT_EQ(info->_szUmID, "UMID-7");
    EXPECT_EQ(info->_nIn, 100u);
    EXPECT_EQ(info->_nOut, 200u);
    EXPECT_EQ(info->_nNbAudioChannels, 4u);

    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kVideoField, 150)), 0);
    const CRixMessage* video = owner.Reply(3);
    ASSERT_TRUE(video && video->_videoData);
    ASSERT_EQ(video->_videoData->size(), 64u);
    EXPECT_EQ((*video->_videoData)[1], 151);

    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kAudio, 101)), 0);
    const CRixMessage* audio = owner.Reply(4);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->_nAudioContainerCount, 2u);
    EXPECT_EQ(audio->_n0024, 5u);
    for (uint32_t channel = 0; channel < CRixMessage::kAudioChannels; ++channel) {
        SCOPED_TRACE(channel);
        ASSERT_EQ(audio->_audioData[channel].has_value(), channel == 1 || channel == 3);
        if (!audio->_audioData[channel])
            continue;
        // Sample s of a channel: s, the channel, the field.
        Bytes expected;
        for (uint8_t sample = 0; sample < 5; ++sample)
            expected.insert(expected.end(), {sample, uint8_t(channel), 101});
        EXPECT_EQ(*audio->_audioData[channel], expected);
    }

    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kVideoField, 200)), 0);
    const CRixMessage* error = owner.Reply(5);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->_nMessageType, CRixMessage::kErrorReply);
    EXPECT_EQ(error->_nErrorCode, 2u);
    EXPECT_EQ(owner.Disconnects(), 0);
}

TEST_F(GbeClientThreads, EveryHeaderSplitPointAndCoalescedReplies)
{
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, true);
    ASSERT_TRUE(Connect(client, owner));
    size_t n = 1;
    // Each split point of the header and request id, and one inside the body.
    for (uint32_t at = 1; at <= CRixMessage::kMinMessage + 3; ++at) {
        SCOPED_TRACE(at);
        Fault(rixsim::RixSimFaultKind::Split, "GBE 2", at);
        ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kVideoField, 100 + at)), 0);
        const CRixMessage* reply = owner.Reply(++n);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->_nField, 100 + at);
    }
    // The first reply is held back and leaves in one send with the second.
    Fault(rixsim::RixSimFaultKind::Coalesce, "GBE 2");
    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kVideoField, 120)), 0);
    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kVideoField, 121)), 0);
    ASSERT_TRUE(owner.Reply(n + 2));
    EXPECT_EQ(owner.Reply(n + 1)->_nField, 120u);
    EXPECT_EQ(owner.Reply(n + 2)->_nField, 121u);
    EXPECT_EQ(owner.Disconnects(), 0);
}

TEST_F(GbeClientThreads, OutOfRangeLengthsEndTheConnection)
{
    // Lengths of the rest that give totals of 13, 17 and 1,000,001 bytes, and one near 2^32.
    for (uint32_t length : {5u, 9u, 999993u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        Recorder owner;
        CRixClientSocketProtocolAsync client(&owner, true);
        ASSERT_TRUE(Connect(client, owner));
        Fault(rixsim::RixSimFaultKind::Length, "GBE 1", 1, length);
        ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kClipInfo)), 0);
        ASSERT_TRUE(owner.WaitDisconnect());
        EXPECT_EQ(owner.Count(), 1u);
        for (int i = 0; i < 500 && client.IsRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(client.IsRunning());
        EXPECT_EQ(client.SendRequest(Request(client, CRixMessage::kClipInfo)), 0);
    }
}

TEST_F(GbeClientThreads, InitTwiceChangesNothing)
{
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, true);
    ASSERT_TRUE(Connect(client, owner));
    CSockStream other;
    EXPECT_EQ(client.Init(&other), 1);
    EXPECT_TRUE(client.IsRunning());
    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kClipInfo)), 0);
    EXPECT_TRUE(owner.Reply(2));
    EXPECT_EQ(client.Restart(), 0);
    EXPECT_EQ(owner.Disconnects(), 0);

    CRixClientSocketProtocolAsync idle(&owner, false);
    EXPECT_EQ(idle.Init(nullptr), 4);
    EXPECT_EQ(idle.Stop(), 1);
    EXPECT_EQ(idle.Restart(), 1);
    EXPECT_EQ(idle.SendRequest(Request(idle, CRixMessage::kClipInfo)), 0);
}

TEST_F(GbeClientThreads, StopWakesTheWaitingThread)
{
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, false);
    CSockStream stream;
    ASSERT_EQ(stream.Connect("127.0.0.1", _server->GbePort()), 0);
    ASSERT_EQ(client.Init(&stream), 0);
    ASSERT_TRUE(owner.Reply(1));
    // The thread sits in its 200-second wait for data.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(owner.Disconnects(), 1);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_EQ(client.Stop(), 1);
}

// Ends the connection from its own receive thread on the first reply after the welcome.
class SelfDisconnecting : public CRixClientSocketProtocolAsync
{
public:
    using CRixClientSocketProtocolAsync::CRixClientSocketProtocolAsync;
    int OnMessage(std::unique_ptr<CRixMessage> message) override
    {
        if (message->_nCommand != 0)
            ForceDisconnect();
        return CRixClientSocketProtocolAsync::OnMessage(std::move(message));
    }
};

TEST_F(GbeClientThreads, ForceDisconnectOnTheReceiveThread)
{
    Recorder owner;
    SelfDisconnecting client(&owner, true);
    ASSERT_TRUE(Connect(client, owner));
    ASSERT_GT(client.SendRequest(Request(client, CRixMessage::kClipInfo)), 0);
    ASSERT_TRUE(owner.WaitDisconnect());
    EXPECT_TRUE(owner.Reply(2));
    // The destructor joins the ended thread.
}

TEST_F(GbeClientThreads, ForceDisconnectFromTheOwnerAndConcurrentSends)
{
    Recorder owner;
    CRixClientSocketProtocolAsync client(&owner, true);
    ASSERT_TRUE(Connect(client, owner));
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&] {
            for (int i = 0; i < 10; ++i)
                client.SendRequest(Request(client, CRixMessage::kVideoField, 100 + i));
        });
    for (auto& t : senders)
        t.join();
    ASSERT_TRUE(owner.Reply(41));
    client.ForceDisconnect();
    EXPECT_EQ(owner.Disconnects(), 1);
    EXPECT_FALSE(client.IsRunning());
}

TEST_F(GbeClientThreads, RegistryIsSignalledWhenItsLastConnectionEnds)
{
    Recorder owner;
    CSocketProtocolRegistry registry;
    std::vector<CRixClientSocketProtocolAsync*> clients;
    for (int i = 0; i < 2; ++i) {
        auto client = std::make_unique<CRixClientSocketProtocolAsync>(&owner, true);
        clients.push_back(client.get());
        registry.Add(std::move(client));
        ASSERT_TRUE(Connect(*clients.back(), owner));
    }
    EXPECT_EQ(registry.Count(), 2u);
    EXPECT_EQ(registry.WaitEmpty(0), platform::kWaitTimeout);
    // One ends because the gateway drops it, the other is forced from here; neither is joined by its caller.
    Fault(rixsim::RixSimFaultKind::DropConnection, "GBE 1");
    ASSERT_GT(clients[0]->SendRequest(Request(*clients[0], CRixMessage::kClipInfo)), 0);
    ASSERT_TRUE(owner.WaitDisconnect());
    clients[1]->ForceDisconnect();
    EXPECT_EQ(registry.WaitEmpty(3000), platform::kWaitObject0);
    EXPECT_EQ(registry.Count(), 0u);
    EXPECT_EQ(owner.Disconnects(), 2);
    registry.Reap();
}

}  // namespace
