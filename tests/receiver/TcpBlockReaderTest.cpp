#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>

#include "browser/CTcpBlockSender.h"
#include "platform/Socket.h"
#include "receiver/CKorvoBlockTCPReader.h"
#include "receiver/ReceiverBlocks.h"
#include "receiver/ReceiverClips.h"
#include "support/FileTestKit.h"

namespace
{

using parvexclip::Bytes;
using parvexclip::MediaDir;
using namespace receivertest;

TEST(TcpBlockReader, SourceTexts)
{
    const struct {
        const char* source;
        bool ok;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"10.1.2.3", true, "10.1.2.3", 1666},
        {"10.1.2.3:7000", true, "10.1.2.3", 7000},
        {"host:65535", true, "host", 65535},
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:7x", false, "", 0},
        {"host:", false, "", 0},
        {":7000", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(CKorvoBlockTCPReader::ParseSource(c.source, &host, &port), c.ok) << c.source;
        if (c.ok) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
    CKorvoBlockTCPReader reader(0x200000);
    EXPECT_EQ(reader.Open("127.0.0.1:99999"), 1);
    uint32_t perField = 7;
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadNotConnected);
    EXPECT_EQ(perField, 0u);
}

class TcpBlockPairThreads : public ::testing::TestWithParam<ClipSpec>
{
};

// A clip file streamed by the browser's sender arrives block by block, byte for byte, in every layout.
TEST_P(TcpBlockPairThreads, BlocksArriveAsWritten)
{
    ASSERT_FALSE(MediaDir().empty());
    const ClipSpec& clipSpec = GetParam();
    const std::string path = (testsupport::FreshDir(std::string("tcp-pair-") + clipSpec.pszName) / "clip.mxf").string();
    ClipWriter writer(clipSpec);
    ASSERT_TRUE(writer.WriteAll(path));
    const Bytes file = parvexclip::ReadFile(path);
    const uint32_t blockSize = BlockSizeOf(clipSpec);

    TCPBlockSender sender;
    ASSERT_EQ(sender.Listen(), 0);
    std::string address;
    ASSERT_EQ(sender.GetPublishedAddress("127.0.0.1", &address), 0);
    auto waiting = std::async(std::launch::async, [&] { return sender.WaitForConnection(5000); });
    CKorvoBlockTCPReader reader(blockSize);
    ASSERT_EQ(reader.Open(address), 0);
    ASSERT_EQ(waiting.get(), 0);
    ASSERT_EQ(sender.StartSending(path), 0);

    // Find a field a little into the clip first, then read on to the end.
    uint32_t perField = 0;
    const int32_t element = reader.SetFirstField(kFirstField + 3, &perField);
    EXPECT_EQ(element, 3);
    EXPECT_EQ(perField, 1u);
    uint32_t blocks = 0;
    int rc = 0;
    do {
        const uint64_t at = kHeaderArea + uint64_t{blocks} * blockSize;
        ASSERT_LE(at + blockSize, file.size());
        ASSERT_EQ(0, std::memcmp(reader.GetBlockBuffer(), file.data() + at, blockSize)) << blocks;
        ExpectBlockPictures(reader, writer, "stream");
        ++blocks;
    } while ((rc = reader.ReadNextBlock(&perField)) == 0);
    // The stream ends after the last whole piece: the reader reports the end, then that it is disconnected.
    EXPECT_EQ(rc, CKorvoBlockTCPReader::kReadShort);
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadNotConnected);
    EXPECT_EQ(blocks * uint64_t{blockSize}, (file.size() - kHeaderArea) / blockSize * blockSize);
    sender.Stop();
    EXPECT_FALSE(sender.HasFailed());
}

INSTANTIATE_TEST_SUITE_P(Layouts, TcpBlockPairThreads, ::testing::ValuesIn(kClipFiles), ClipName);

// A sender that dies after one and a half blocks: one block, then the short end, then "not connected".
TEST(TcpBlockReaderThreads, SenderDyingMidBlockIsReported)
{
    const receivertest::BlockSpec clipSpec{"", KORVOMXF_BLOCK_BAVD_2MB, 3, 1};
    const receivertest::WrittenBlock first = receivertest::WriteBlock(clipSpec, 5000, 1);
    const receivertest::WrittenBlock second =
        receivertest::WriteBlock(clipSpec, 5000 + static_cast<uint32_t>(first.pictures.size()), 2);
    platform::Socket listener;
    ASSERT_TRUE(listener.Listen("127.0.0.1", 0, 1));
    std::thread peer([&] {
        platform::Socket s = listener.Accept(5000);
        s.SendAll(first.block.data(), first.block.size(), 5000);
        s.SendAll(second.block.data(), second.block.size() / 2, 5000);
        s.Close();
    });
    CKorvoBlockTCPReader reader(0x200000);
    ASSERT_EQ(reader.Open("127.0.0.1:" + std::to_string(listener.LocalPort())), 0);
    uint32_t perField = 0;
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadOk);
    EXPECT_EQ(reader.GetBlockData()->GetFirstField(), 5000u);
    // The BAVD block is told by its marker although the stream's blocks are 2 MB.
    EXPECT_NE(dynamic_cast<const CKorvo8MBlockData*>(reader.GetBlockData()), nullptr);
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadShort);
    EXPECT_FALSE(reader.IsFieldInBlock(0));
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadNotConnected);
    peer.join();
}

// A cancel wakes a reader that waits on a silent sender.
TEST(TcpBlockReaderThreads, CancelEndsAWaitingRead)
{
    platform::Socket listener;
    ASSERT_TRUE(listener.Listen("127.0.0.1", 0, 1));
    platform::Socket accepted;
    std::thread peer([&] { accepted = listener.Accept(5000); });
    CKorvoBlockTCPReader reader(0x200000);
    ASSERT_EQ(reader.Open("127.0.0.1:" + std::to_string(listener.LocalPort())), 0);
    peer.join();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reader.Cancel();
    });
    uint32_t perField = 0;
    EXPECT_EQ(reader.ReadNextBlock(&perField), CKorvoBlockTCPReader::kReadShort);
    canceller.join();
    EXPECT_FALSE(reader.IsConnected());
}

}  // namespace
