#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "receiver/CKorvoBlockRixFTPReader.h"
#include "receiver/ReceiverBlocks.h"
#include "rixclient/RixTestHelpers.h"
#include "support/FileTestKit.h"
#include "tests/support/BoundPort.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/WaitUntil.h"

namespace
{

using receivertest::Bytes;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;

constexpr uint32_t kBlock = 0x800000;
constexpr uint32_t kFirst = 360000;
constexpr const char* kClip = "/clips/004512A_test.CLP";

RixBlockReaderWaits ShortWaits()
{
    RixBlockReaderWaits waits;
    waits.nNoWelcomeMs = 30;
    waits.nNoWelcomeSpreadMs = 10;
    waits.nConnectRetryMs = 10;
    waits.nConnectRetries = 2;
    waits.nBlockMs = 8000;
    waits.nReconnectMs = 30;
    waits.nCloseBlockMs = 100;
    return waits;
}

// Five 8 MB BAVD blocks of the block writer, fields back to back, with audio.
const std::vector<receivertest::WrittenBlock>& ClipBlocks()
{
    static const std::vector<receivertest::WrittenBlock> blocks = [] {
        const receivertest::BlockSpec clipSpec{"", KORVOMXF_BLOCK_BAVD_8MB, 3, 1};
        std::vector<receivertest::WrittenBlock> out;
        uint32_t field = kFirst;
        for (uint32_t n = 0; n < 5; ++n) {
            out.push_back(receivertest::WriteBlock(clipSpec, field, n));
            field += static_cast<uint32_t>(out.back().pictures.size());
        }
        return out;
    }();
    return blocks;
}

class RixFtpBlockReaderThreads : public rixtest::SimTest
{
protected:
    void Fill(rixsim::CRixSimStore& store) override
    {
        std::vector<rixsim::RixSimBytes> blocks;
        for (const auto& b : ClipBlocks())
            blocks.push_back(b.block);
        store.AddClip(kClip, blocks, kBlock);
    }

    std::unique_ptr<CKorvoBlockRixFTPReader> MakeReader(uint32_t firstField, int32_t instance = 1)
    {
        auto reader = std::make_unique<CKorvoBlockRixFTPReader>(instance, firstField);
        Prepare(*reader);
        reader->SetWaits(ShortWaits());
        return reader;
    }

    // Reads until the reader stops; every block must be the clip's next one, from block `from` on.
    int ReadBlocks(CKorvoBlockRixFTPReader& reader, size_t from, size_t* pCount)
    {
        int rc = 0;
        uint32_t perField = 0;
        size_t n = from;
        while ((rc = reader.ReadNextBlock(&perField)) == 0) {
            EXPECT_LT(n, ClipBlocks().size());
            if (n >= ClipBlocks().size())
                break;
            const uint8_t* block = reader.GetBlockData()->GetBlockAddress();
            EXPECT_EQ(0, std::memcmp(block, ClipBlocks()[n].block.data(), kBlock)) << "block " << n;
            EXPECT_EQ(perField, 1u);
            ++n;
        }
        *pCount = n - from;
        return rc;
    }
};

TEST_F(RixFtpBlockReaderThreads, ReadsTheClipFromTheFirstFieldToItsEnd)
{
    auto reader = MakeReader(kFirst);
    ASSERT_EQ(reader->Open(Url(kClip)), 0);
    EXPECT_TRUE(Received("SITE SEEK " + std::to_string(kFirst)));
    size_t count = 0;
    EXPECT_EQ(ReadBlocks(*reader, 0, &count), CKorvoBlockRixFTPReader::kReadEnded);
    EXPECT_EQ(count, ClipBlocks().size());
    EXPECT_EQ(reader->GetBytesLeft(), 0);
    EXPECT_EQ(reader->ReadNextBlock(nullptr), CKorvoBlockRixFTPReader::kReadEnded);
    EXPECT_EQ(reader->Close(), 0);
    EXPECT_TRUE(Received("QUIT"));
}

TEST_F(RixFtpBlockReaderThreads, StartsAtTheBlockOfTheFirstField)
{
    const uint32_t field = ClipBlocks()[2].nFirstField + 3;
    auto reader = MakeReader(field);
    ASSERT_EQ(reader->Open(Url(kClip)), 0);
    uint32_t perField = 0;
    EXPECT_EQ(reader->SetFirstField(field, &perField), 3);
    EXPECT_EQ(0, std::memcmp(reader->GetBlockData()->GetBlockAddress(), ClipBlocks()[2].block.data(), kBlock));
    int32_t size = 0;
    const uint8_t* video = reader->GetVideo(3, &size);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(0, std::memcmp(video, ClipBlocks()[2].pictures[3].data(), ClipBlocks()[2].pictures[3].size()));
    const uint8_t* audio = reader->GetAudio(3, &size);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(Bytes(audio, audio + size), ClipBlocks()[2].audio[3]);
    size_t count = 0;
    EXPECT_EQ(ReadBlocks(*reader, 3, &count), CKorvoBlockRixFTPReader::kReadEnded);
    EXPECT_EQ(count, 2u);
}

// Faults of the server: the clip comes whole after recovery, or the reader stops with a clear error; never a
// gap or a repeated block.
TEST_F(RixFtpBlockReaderThreads, ServerFaults)
{
    const struct {
        const char* name;
        std::vector<RixSimFault> faults;
        bool whole;
    } cases[] = {
        {"cut in the second block", {{"RETR", RixSimFaultKind::CutData, 1, 0, 1, kBlock + 3 * 0x100000}}, true},
        {"cut in the fourth block", {{"RETR", RixSimFaultKind::CutData, 1, 0, 1, 3ull * kBlock + 5}}, true},
        {"stall in the second block", {{"RETR", RixSimFaultKind::StallData, 1, 0, 1, kBlock + 1000}}, true},
        {"cut twice", {{"RETR", RixSimFaultKind::CutData, 2, 0, 1, kBlock + 100}}, true},
        {"cut, then busy",
         {{"RETR", RixSimFaultKind::CutData, 1, 0, 1, kBlock + 100}, {"RETR", RixSimFaultKind::Busy, 1}},
         false},
        {"cut in the first block", {{"RETR", RixSimFaultKind::CutData, 1, 0, 1, 1000}}, false},
    };
    for (const auto& c : cases) {
        _server->ClearFaults();
        for (const RixSimFault& fault : c.faults)
            _server->AddFault(fault);
        auto reader = MakeReader(kFirst);
        ASSERT_EQ(reader->Open(Url(kClip)), 0) << c.name;
        size_t count = 0;
        const int rc = ReadBlocks(*reader, 0, &count);
        if (c.whole) {
            EXPECT_EQ(rc, CKorvoBlockRixFTPReader::kReadEnded) << c.name;
            EXPECT_EQ(count, ClipBlocks().size()) << c.name;
            EXPECT_GE(reader->GetRecoveryCount(), 1u) << c.name;
        } else {
            EXPECT_TRUE(rc == CKorvoBlockRixFTPReader::kReadIncomplete || rc == CKorvoBlockRixFTPReader::kReadEnded)
                << c.name << " " << rc;
            EXPECT_LT(count, ClipBlocks().size()) << c.name;
        }
        EXPECT_EQ(reader->Close(), 0);
    }
}

// The control connection drops while the keep-alive polls: the transfer ends whole or with a clear error.
TEST_F(RixFtpBlockReaderThreads, DroppedControlConnection)
{
    _server->AddFault({"STAT", RixSimFaultKind::DropConnection, 1});
    auto reader = MakeReader(kFirst);
    ASSERT_EQ(reader->Open(Url(kClip)), 0);
    // The poll that the server answers by dropping the connection has come.
    ASSERT_TRUE(_server->WaitForJournal("STAT 004512A_test.CLP", 60000));
    size_t count = 0;
    const int rc = ReadBlocks(*reader, 0, &count);
    // An end is only an end when the whole clip came; anything short is a failure that says why.
    if (rc == CKorvoBlockRixFTPReader::kReadEnded) {
        EXPECT_EQ(count, ClipBlocks().size());
    } else {
        EXPECT_EQ(rc, CKorvoBlockRixFTPReader::kReadIncomplete);
        EXPECT_FALSE(reader->GetFailure().empty());
    }
    EXPECT_EQ(reader->Close(), 0);
}

// A server busy at the clip's opening: its refusal of the retrieval fails the open, with the server's words.
TEST_F(RixFtpBlockReaderThreads, BusyAtOpen)
{
    _server->AddFault({"RETR", RixSimFaultKind::Busy, 2});
    auto reader = MakeReader(kFirst);
    EXPECT_EQ(reader->Open(Url(kClip)), CKorvoBlockRixFTPReader::kOpenFailed);
    // The open reached the retrieval, which the server refused as busy.
    EXPECT_TRUE(Received("RETR 004512A_test.CLP"));
    EXPECT_NE(reader->GetFailure().find("450 File busy"), std::string::npos) << reader->GetFailure();
    EXPECT_EQ(reader->ReadNextBlock(nullptr), CKorvoBlockRixFTPReader::kReadNotOpen);
}

// No block within the wait: the reader says so, and Close still ends the stalled thread.
TEST_F(RixFtpBlockReaderThreads, StalledFirstBlockTimesOut)
{
    _server->AddFault({"RETR", RixSimFaultKind::StallData, 1, 0, 1, 1000});
    auto reader = MakeReader(kFirst);
    RixBlockReaderWaits waits = ShortWaits();
    waits.nBlockMs = 300;
    reader->SetWaits(waits);
    ASSERT_EQ(reader->Open(Url(kClip)), 0);
    EXPECT_EQ(reader->ReadNextBlock(nullptr), CKorvoBlockRixFTPReader::kReadTimedOut);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader->Close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(RixFtpBlockReaderThreads, MissingClipFailsOpen)
{
    auto reader = MakeReader(kFirst);
    EXPECT_EQ(reader->Open(Url("/clips/004513A_none.CLP")), CKorvoBlockRixFTPReader::kOpenFailed);
    EXPECT_EQ(reader->ReadNextBlock(nullptr), CKorvoBlockRixFTPReader::kReadNotOpen);
}

TEST_F(RixFtpBlockReaderThreads, RefusedConnectionFailsAfterTheCountedWaits)
{
    // Bound but not listening: refused on every attempt, and no other test's server can take the port meanwhile.
    const testsupport::BoundPort refusing;
    ASSERT_NE(refusing.Port(), 0);
    const std::string where = "[ 127.0.0.1:" + std::to_string(refusing.Port()) + " ]";
    auto reader = std::make_unique<CKorvoBlockRixFTPReader>(1, kFirst);
    Prepare(*reader);
    RixBlockReaderWaits waits = ShortWaits();
    waits.nConnectRetryMs = 200;
    waits.nConnectRetries = 2;
    reader->SetWaits(waits);
    testsupport::LogCapture log("default");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader->Open("ftp://127.0.0.1:" + std::to_string(refusing.Port()) + kClip),
              CKorvoBlockRixFTPReader::kOpenFailed);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // The first attempt and the counted retries, each after its wait; then the open gives up.
    const std::string text = log.Text();
    size_t attempts = 0;
    for (size_t at = 0; (at = text.find("Trying to open ftp server " + where, at)) != std::string::npos; ++at)
        ++attempts;
    EXPECT_EQ(attempts, 1 + waits.nConnectRetries) << text;
    EXPECT_TRUE(log.Has("CKorvoBlockRixFTPReader:1: FAILED to connect to FTP Server !!")) << text;
    EXPECT_NE(reader->GetFailure().find("refused"), std::string::npos) << reader->GetFailure();
    EXPECT_GE(elapsed, std::chrono::milliseconds(waits.nConnectRetries * waits.nConnectRetryMs));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

// A block that is not BAVD is dumped to the instance's file and refused.
TEST_F(RixFtpBlockReaderThreads, NonBavdBlockIsDumped)
{
    std::vector<rixsim::RixSimBytes> blocks;
    for (const auto& b : ClipBlocks())
        blocks.push_back(b.block);
    blocks[1][0] = 'X';
    _server->Store().AddClip("/clips/004514A_bad.CLP", blocks, kBlock);
    auto reader = MakeReader(kFirst, 3);
    ASSERT_EQ(reader->Open(Url("/clips/004514A_bad.CLP")), 0);
    uint32_t perField = 0;
    EXPECT_EQ(reader->ReadNextBlock(&perField), CKorvoBlockRixFTPReader::kReadOk);
    std::filesystem::remove(reader->DumpPath());
    EXPECT_EQ(reader->ReadNextBlock(&perField), CKorvoBlockRixFTPReader::kReadNotBavd);
    EXPECT_NE(reader->DumpPath().find("KorvoRixFtp_00003.bin"), std::string::npos);
    const Bytes dumped = [&] {
        std::ifstream in(reader->DumpPath(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }();
    EXPECT_TRUE(dumped == Bytes(blocks[1].begin(), blocks[1].end()));
    EXPECT_EQ(reader->ReadNextBlock(&perField), CKorvoBlockRixFTPReader::kReadNotBavd);
}

class SilentRixFtpBlockReaderThreads : public RixFtpBlockReaderThreads
{
protected:
    void Configure(rixsim::RixSimConfig& config) override
    {
        config._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::None);
    }
};

// A server that never welcomes is tried again without limit; a cancel ends the wait at once.
TEST_F(SilentRixFtpBlockReaderThreads, CancelEndsTheEndlessRetry)
{
    auto reader = MakeReader(kFirst);
    FtpTimeouts timeouts = rixtest::ShortFtpTimeouts();
    timeouts.nControlMs = 100;
    reader->SetTimeouts(timeouts);
    // The cancel comes once the reader has tried the server again twice.
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([&] {
        testsupport::WaitUntil([&] { return _server->FtpSessions() >= 3; });
        cancelled = std::chrono::steady_clock::now();
        reader->Cancel();
    });
    EXPECT_EQ(reader->Open(Url(kClip)), CKorvoBlockRixFTPReader::kOpenFailed);
    const auto ended = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_GE(_server->FtpSessions(), 3u);
    EXPECT_LT(ended - cancelled, std::chrono::seconds(3));
}

}  // namespace

namespace
{

// The wait before trying a server without a welcome again stays within its spread for any value rand() gives,
// also the large ones of a C library whose rand() tops out at 2^31 - 1.
TEST(RixFtpBlockReaderWaits, NoWelcomeWaitStaysWithinItsSpread)
{
    CKorvoBlockRixFTPReader reader(1, 0);
    for (int random : {0, 1, 16383, 16384, 32767, 32768, 1804289383, 2147483647}) {
        const uint32_t wait = reader.NoWelcomeWait(random);
        EXPECT_GE(wait, 2000u) << random;
        EXPECT_LE(wait, 4000u) << random;
    }
}

// Hostile peers at Open: each ends within seconds once cancelled, and a cancel that came before Open holds.
TEST(RixFtpBlockReaderHostileThreads, CancelEndsOpenAgainstEveryPeer)
{
    using testsupport::ScriptedFtpServer;
    const auto& cases = testsupport::kHostileFtpPeers;
    for (const auto& c : cases) {
        ScriptedFtpServer server(c.welcome, nullptr);
        server.SetManner(c.manner, 2000);
        CKorvoBlockRixFTPReader reader(1, kFirst);
        RixBlockReaderWaits waits = ShortWaits();
        waits.nConnectRetries = 1000;
        reader.SetWaits(waits);
        // The cancel comes once the reader has reached the peer.
        std::chrono::steady_clock::time_point cancelled;
        std::thread canceller([&] {
            testsupport::WaitUntil([&] { return server.Connections() > 0; });
            cancelled = std::chrono::steady_clock::now();
            reader.Cancel();
        });
        EXPECT_EQ(reader.Open("ftp://" + server.Address() + kClip), CKorvoBlockRixFTPReader::kOpenFailed) << c.name;
        const auto ended = std::chrono::steady_clock::now();
        canceller.join();
        EXPECT_GE(server.Connections(), 1) << c.name;
        EXPECT_LT(ended - cancelled, std::chrono::seconds(3)) << c.name;
        EXPECT_NE(reader.GetFailure().find("cancelled"), std::string::npos) << c.name << ": " << reader.GetFailure();
        EXPECT_EQ(reader.Close(), 0);
    }
    CKorvoBlockRixFTPReader early(1, kFirst);
    early.Cancel();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(early.Open("ftp://127.0.0.1:1/clips/x.CLP"), CKorvoBlockRixFTPReader::kOpenFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

}  // namespace

// Cancel and Close from another thread while the receive thread reconnects after broken transfers: the data
// and control connections are replaced by one thread while the other shuts them down.
TEST_F(RixFtpBlockReaderThreads, CancelWhileTheReceiveThreadReconnects)
{
    for (int round = 0; round < 6; ++round) {
        _server->ClearFaults();
        _server->AddFault({"RETR", RixSimFaultKind::CutData, -1, 0, 1, kBlock + 1000});
        auto reader = MakeReader(kFirst);
        ASSERT_EQ(reader->Open(Url(kClip)), 0);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
            reader->Cancel();
        });
        uint32_t perField = 0;
        while (reader->ReadNextBlock(&perField) == CKorvoBlockRixFTPReader::kReadOk) {
        }
        canceller.join();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reader->Close(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}
