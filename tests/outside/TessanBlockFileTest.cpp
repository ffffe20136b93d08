// The media folder's block files and WAV files: bytes and headers as written, read back at any range.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "outside/tessan/CBlockFileReader.h"
#include "outside/tessan/CBlockFileWriter.h"
#include "outside/tessan/WavFile.h"
#include "tests/support/FileTestKit.h"

namespace
{

constexpr uint32_t kBlock = 8192;

std::vector<uint8_t> Counting(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed + i / 251);
    return bytes;
}

std::vector<uint8_t> FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct AppendCase {
    const char* name;
    std::vector<size_t> pieces;  // appended one after the other
};

// Pieces inside a block, ending on its edge, crossing edges, and whole blocks that bypass the buffer.
const AppendCase kAppends[] = {
    {"Empty", {}},
    {"OneSmall", {44}},
    {"ExactlyOneBlock", {kBlock}},
    {"HeaderThenManySmall", {44, 1000, 7000, 148, 9000, 3}},
    {"WholeBlocksFromEmpty", {3 * kBlock, 10}},
    {"WholeBlocksWithRest", {100, 5 * kBlock + 17, kBlock - 117}},
};

TEST(TessanBlockFile, WritesWhatIsAppendedAndOverwrittenAndReadsAnyRange)
{
    const auto dir = testsupport::FreshDir("tessan-block-file");
    for (const AppendCase& c : kAppends) {
        SCOPED_TRACE(c.name);
        const auto path = dir / (std::string(c.name) + ".bin");
        std::vector<uint8_t> expected;
        tessan::CBlockFileWriter writer(kBlock);
        ASSERT_TRUE(writer.Open(path.string()));
        uint32_t seed = 1;
        for (size_t size : c.pieces) {
            const auto piece = Counting(size, seed++);
            ASSERT_TRUE(writer.Append(piece.data(), piece.size()));
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        ASSERT_EQ(writer.Size(), expected.size());
        // A header at the start, written out already or still gathered, and bytes still gathered at the end.
        const uint8_t mark[4] = {'R', 'I', 'F', 'F'};
        for (size_t at : {size_t{0}, expected.size() >= 8 ? expected.size() - 8 : size_t{0}})
            if (expected.size() >= at + 4) {
                ASSERT_TRUE(writer.Overwrite(at, mark, 4));
                std::copy(mark, mark + 4, expected.begin() + static_cast<std::ptrdiff_t>(at));
            }
        EXPECT_FALSE(writer.Overwrite(expected.size(), mark, 1));
        ASSERT_TRUE(writer.Close()) << writer.ErrorText();
        EXPECT_EQ(FileBytes(path), expected);

        tessan::CBlockFileReader reader(kBlock);
        ASSERT_TRUE(reader.Open(path.string()));
        ASSERT_EQ(reader.Size(), expected.size());
        std::vector<uint8_t> all;
        ASSERT_TRUE(reader.ReadAll(all, expected.size()));
        EXPECT_EQ(all, expected);
        for (size_t at = 0; at < expected.size(); at += 3001) {
            const size_t size = std::min<size_t>(kBlock + 5000, expected.size() - at);
            std::vector<uint8_t> range(size);
            ASSERT_TRUE(reader.Read(at, range.data(), size)) << at;
            EXPECT_TRUE(std::equal(range.begin(), range.end(), expected.begin() + static_cast<std::ptrdiff_t>(at)))
                << at;
        }
        uint8_t beyond = 0;
        EXPECT_FALSE(reader.Read(expected.size(), &beyond, 1));
        if (!expected.empty())
            EXPECT_FALSE(reader.ReadAll(all, expected.size() - 1));  // more than the limit
    }
}

TEST(TessanBlockFile, AFileThatCannotBeMadeSaysWhy)
{
    tessan::CBlockFileWriter writer(kBlock);
    EXPECT_FALSE(writer.Open((testsupport::FreshDir("tessan-block-missing") / "no" / "such.bin").string()));
    EXPECT_FALSE(writer.ErrorText().empty());
    const uint8_t byte = 1;
    EXPECT_FALSE(writer.Append(&byte, 1));
    tessan::CBlockFileReader reader(kBlock);
    EXPECT_FALSE(reader.Open((testsupport::FreshDir("tessan-block-missing") / "none.bin").string()));
}

// A WAV longer than a write block: its header, fixed at the close, is no longer in the buffer then.
TEST(TessanBlockFile, WavLongerThanABlockGetsItsSizesAndReadsBack)
{
    const auto path = testsupport::FreshDir("tessan-wav-long") / "audio1.wav";
    const auto samples = Counting((tessan::kWavBlockBytes / 3 + 5000) * 3, 9);
    {
        tessan::CWavWriter wav;
        ASSERT_TRUE(wav.Open(path.string(), 24));
        for (size_t at = 0; at < samples.size(); at += 1920 * 3)
            ASSERT_TRUE(wav.Append(samples.data() + at, std::min<size_t>(1920 * 3, samples.size() - at)));
        ASSERT_TRUE(wav.Close());
    }
    const auto bytes = FileBytes(path);
    ASSERT_EQ(bytes.size(), 44 + samples.size());
    auto le32 = [&bytes](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(le32(4), 36 + samples.size());
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(le32(40), samples.size());
    tessan::CWavReader reader;
    ASSERT_TRUE(reader.Load(path.string())) << reader.Error();
    EXPECT_EQ(reader.Bits(), 24);
    ASSERT_EQ(reader.Samples(), samples.size() / 3);
    std::vector<uint8_t> back;
    ASSERT_TRUE(reader.Take(0, static_cast<uint32_t>(reader.Samples()), back));
    EXPECT_EQ(back, samples);
}

}  // namespace
