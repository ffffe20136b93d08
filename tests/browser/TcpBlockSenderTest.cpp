#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "platform/Socket.h"
#include "support/FileTestKit.h"

namespace
{

namespace fs = std::filesystem;

constexpr uint64_t kPiece = 0x200000;

// A file of the size whose byte i is (i * 7 + i / 4093) mod 256.
fs::path MakeFile(const std::string& name, uint64_t size)
{
    const fs::path path = testsupport::FreshDir("tcp-sender-" + name) / "clip.mxf";
    std::ofstream out(path, std::ios::binary);
    std::vector<char> chunk(0x10000);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
        for (size_t i = 0; i < n; ++i)
            chunk[i] = static_cast<char>((at + i) * 7 + (at + i) / 4093);
        out.write(chunk.data(), static_cast<std::streamsize>(n));
    }
    return path;
}

// A receiver that connects to the sender and reads until the stream ends.
struct Receiver {
    std::vector<uint8_t> bytes;
    bool Connect(uint16_t port) { return socket.Connect("127.0.0.1", port, 2000); }
    void ReadAll()
    {
        std::vector<uint8_t> piece(0x10000);
        for (int64_t n; (n = socket.Recv(piece.data(), piece.size())) > 0;)
            bytes.insert(bytes.end(), piece.begin(), piece.begin() + n);
    }
    platform::Socket socket;
};

// Listens, lets the receiver connect and starts sending the file; false on any failure.
bool StartStream(TCPBlockSender& sender, Receiver& receiver, const fs::path& file)
{
    if (sender.Listen() != 0)
        return false;
    auto waiting = std::async(std::launch::async, [&] { return sender.WaitForConnection(5000); });
    const bool connected = receiver.Connect(sender.GetPort());
    return waiting.get() == 0 && connected && sender.StartSending(file.string()) == 0;
}

// The sender listens, the receiver connects, the file is sent; the bytes received are returned.
std::vector<uint8_t> Stream(const fs::path& file, uint64_t* pieces)
{
    TCPBlockSender sender;
    Receiver receiver;
    EXPECT_TRUE(StartStream(sender, receiver, file));
    receiver.ReadAll();
    sender.Stop();
    EXPECT_FALSE(sender.IsSending());
    EXPECT_FALSE(sender.HasFailed());
    *pieces = sender.GetPiecesSent();
    return receiver.bytes;
}

TEST(TcpBlockSenderThreads, SendsWholePiecesAfterTheHeaderArea)
{
    const struct {
        const char* name;
        uint64_t size;
        uint64_t pieces;
    } cases[] = {
        {"three-and-a-bit", kPiece + 3 * kPiece + 100, 3},
        {"header-only", kPiece, 0},
        {"shorter", 1000, 0},
        {"empty", 0, 0},
    };
    for (const auto& c : cases) {
        const fs::path file = MakeFile(c.name, c.size);
        uint64_t pieces = 99;
        const std::vector<uint8_t> got = Stream(file, &pieces);
        EXPECT_EQ(pieces, c.pieces) << c.name;
        ASSERT_EQ(got.size(), c.pieces * kPiece) << c.name;
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> expected(got.size());
        in.seekg(static_cast<std::streamoff>(kPiece));
        in.read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(expected.size()));
        EXPECT_TRUE(got == expected) << c.name;
    }
}

TEST(TcpBlockSenderThreads, MissingFileEndsTheStreamAtOnce)
{
    uint64_t pieces = 99;
    EXPECT_TRUE(Stream(testsupport::FreshDir("tcp-sender-missing") / "none.mxf", &pieces).empty());
    EXPECT_EQ(pieces, 0u);
}

TEST(TcpBlockSenderThreads, NoConnectionWithinTheTimeOut)
{
    TCPBlockSender sender;
    ASSERT_EQ(sender.Listen(), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender.WaitForConnection(100), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // The listening socket is closed: a late receiver is refused.
    platform::Socket late;
    EXPECT_FALSE(late.Connect("127.0.0.1", sender.GetPort(), 1000));
    EXPECT_EQ(sender.StartSending("x"), -1);
    sender.Stop();  // nothing runs
}

TEST(TcpBlockSender, PublishesAnAddressThatRoutesToTheTransferHost)
{
    TCPBlockSender sender;
    ASSERT_EQ(sender.Listen(), 0);
    const std::string port = ":" + std::to_string(sender.GetPort());
    std::string text;
    ASSERT_EQ(sender.GetPublishedAddress("127.0.0.1", &text), 0);
    EXPECT_EQ(text, "127.0.0.1" + port);
    sender.SetPublishedAddress("192.0.2.10");
    ASSERT_EQ(sender.GetPublishedAddress("127.0.0.1", &text), 0);
    EXPECT_EQ(text, "192.0.2.10" + port);
}

// A receiver that stops reading and leaves: the sender reports the failure and its thread ends.
TEST(TcpBlockSenderThreads, PeerThatLeavesMidStreamIsReported)
{
    const fs::path file = MakeFile("leaving", kPiece + 40 * kPiece);
    TCPBlockSender sender;
    std::vector<std::string> messages;
    sender.SetMessageSink(
        [&](const std::string& text, const std::string& caption) { messages.push_back(caption + ": " + text); });
    Receiver receiver;
    ASSERT_TRUE(StartStream(sender, receiver, file));
    std::vector<uint8_t> some(0x10000);
    ASSERT_GT(receiver.socket.Recv(some.data(), some.size()), 0);
    receiver.socket.SetLinger(true, 0);  // a reset, so that the sender's next send fails
    receiver.socket.Close();
    for (int i = 0; i < 6000 && sender.IsSending(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(sender.IsSending());
    EXPECT_TRUE(sender.HasFailed());
    EXPECT_TRUE(sender.HasReceiverClosed());  // the receiver's side tells why it stopped
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "TCPBlockSender Error: SendBlock Error");
    sender.Stop();
}

// Stop ends a send blocked on a receiver that does not read.
TEST(TcpBlockSenderThreads, StopEndsABlockedSend)
{
    const fs::path file = MakeFile("blocked", kPiece + 40 * kPiece);
    TCPBlockSender sender;
    std::vector<std::string> messages;
    sender.SetMessageSink([&](const std::string& text, const std::string&) { messages.push_back(text); });
    Receiver receiver;
    ASSERT_TRUE(StartStream(sender, receiver, file));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(sender.IsSending());
    const auto start = std::chrono::steady_clock::now();
    sender.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(sender.IsSending());
    EXPECT_FALSE(sender.HasConnection());
    EXPECT_FALSE(sender.HasReceiverClosed());
    EXPECT_TRUE(messages.empty());  // a stop is no error to show
}

}  // namespace
