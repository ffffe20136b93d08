// The block reader against the simulator: seeks, preloading forwards and backwards, the clip's ends,
// busy and broken connections.
#include <gtest/gtest.h>

#include "rixclient/CRixFTPBlockReader.h"
#include "tests/rixclient/RixTestHelpers.h"

using namespace rixtest;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;

namespace
{

constexpr int kBlocks = 8;  // fields 100 to 179

// As the server's data reader: the RPC channel opens with the connection, and refusals count as busy.
class Reader : public CRixFTPBlockReader
{
public:
    Reader() : CRixFTPBlockReader("") {}
    ~Reader() override { StopPreloadThread(); }

protected:
    int OnConnected() override { return OpenRpcConnection(0); }
    int OnFtpError(int code) override
    {
        if (code == 425 || code == 450)
            ++_nFileBusy;
        return 0;
    }
};

class RixFTPBlockReaderThreads : public SimTest
{
protected:
    void Fill(rixsim::CRixSimStore& store) override
    {
        store.AddClip("/clips/000110A_news.CLP", Blocks(kBlocks), 0x200000);
    }
    void Prepare(Reader& reader)
    {
        SimTest::Prepare(reader);
        reader.SetReaderTimeouts({10, 5000});
        ASSERT_EQ(reader.SetClipUrl(Url("/clips/000110A_news.CLP"), false), 0);
        ASSERT_EQ(reader.SetCacheSize(32, 0x200000, 3), 0);
    }
    // The block is the clip's block n, byte for byte.
    static bool IsBlock(const RixCacheElement* element, int n)
    {
        static const auto blocks = Blocks(kBlocks);
        return element && element->nFirstField == 100u + 10 * n && element->nEndField == 110u + 10 * n &&
               element->nBytesRead == 0x200000 && std::equal(blocks[n].begin(), blocks[n].end(), element->pBuffer);
    }
    size_t Count(const std::string& prefix) const
    {
        size_t n = 0;
        for (const auto& line : Commands())
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
};

TEST_F(RixFTPBlockReaderThreads, ForwardsWithPreloadingToTheEnd)
{
    Reader reader;
    Prepare(reader);
    reader.ResetPreloadState();
    ASSERT_EQ(reader.GetBlock(125, false), 0);
    EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), 2));
    EXPECT_TRUE(Received("SITE SEEK 125"));
    for (int n = 3; n < kBlocks; ++n) {
        ASSERT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, false), 0) << n;
        EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), n)) << n;
    }
    // The end of the clip, not an error after retries.
    EXPECT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, false), 2);
    EXPECT_TRUE(reader.IsEndReached());
    // One stream served the direct read and the preloading.
    EXPECT_EQ(Count("RETR"), 1u);
}

TEST_F(RixFTPBlockReaderThreads, BackwardsFromTheCurrentBlock)
{
    Reader reader;
    Prepare(reader);
    reader.ResetPreloadState();
    ASSERT_EQ(reader.GetBlock(145, false), 0);
    ASSERT_TRUE(IsBlock(reader.GetCurrentBlock(), 4));
    EXPECT_EQ(reader.SetPreloadDirection(1), 1);
    EXPECT_EQ(reader.SetPreloadDirection(1), 0);
    EXPECT_TRUE(Received("SITE SEEK -138"));
    for (int n = 3; n >= 0; --n) {
        ASSERT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, false), 0) << n;
        EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), n)) << n;
    }
    // The server ended the backward stream at the clip's first block.
    EXPECT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, false), 2);
    EXPECT_TRUE(reader.IsStartReached());
}

TEST_F(RixFTPBlockReaderThreads, SeekAfterResetReadsDirectly)
{
    Reader reader;
    Prepare(reader);
    reader.ResetPreloadState();
    ASSERT_EQ(reader.GetBlock(105, true), 0);
    // No preloading was asked: the next block is read live, from the same stream.
    ASSERT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, true), 0);
    EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), 1));
    reader.ResetPreloadState();
    ASSERT_EQ(reader.GetBlock(165, false), 0);
    EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), 6));
    EXPECT_TRUE(Received("SITE SEEK 165"));
    // A field cached already is served from the cache.
    reader.ResetPreloadState();
    _server->ClearJournal();
    ASSERT_EQ(reader.GetBlock(112, true), 0);
    EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), 1));
    EXPECT_EQ(Count("RETR"), 0u);
}

TEST_F(RixFTPBlockReaderThreads, BrokenAndBusyConnectionsRecover)
{
    _server->AddFault(RixSimFault{"RETR", RixSimFaultKind::Busy, 1, 0, 1, 0, 450});
    _server->AddFault(RixSimFault{"RETR", RixSimFaultKind::CutData, 1, 0, 1, 3 * 0x100000});
    Reader reader;
    Prepare(reader);
    reader.ResetPreloadState();
    ASSERT_EQ(reader.GetBlock(100, true), 0);
    ASSERT_TRUE(IsBlock(reader.GetCurrentBlock(), 0));
    for (int n = 1; n < 4; ++n) {
        ASSERT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, true), 0) << n;
        EXPECT_TRUE(IsBlock(reader.GetCurrentBlock(), n)) << n;
    }
    // Refused once, cut once: three transfers.
    EXPECT_EQ(Count("RETR"), 3u);
    EXPECT_TRUE(Received("SITE SEEK 110"));
}

TEST_F(RixFTPBlockReaderThreads, CodesWithoutAStream)
{
    Reader reader;
    Prepare(reader);
    EXPECT_EQ(reader.GetBlock(CRixFTPBlockReader::kNoField, false), -3);
    EXPECT_EQ(reader.SetFieldIndex(0), -1);
    EXPECT_EQ(reader.StopPreloading(1000), 0);
    EXPECT_TRUE(Commands().empty());
    // A field outside the clip: the server refuses every position.
    EXPECT_EQ(reader.GetBlock(500, false), -1);
}

}  // namespace
