// The WAV reader of tessan on files of the project's WAV writer, and on those files with a chunk the writer never
// makes put before the data or after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "outside/tessan/WavFile.h"
#include "support/FileTestKit.h"

namespace
{

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A chunk of odd size, with its pad byte or without.
Bytes OddChunk(bool padded)
{
    Bytes chunk = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};
    if (padded)
        chunk.push_back(0);
    return chunk;
}

}  // namespace

TEST(TessanWavReader, ReadsTheWritersSamplesWithAnOddChunkBeforeOrAfterThem)
{
    const auto dir = testsupport::FreshDir("tessan-wav");
    const std::string written = (dir / "written.wav").string();
    tessan::CWavWriter writer;
    const Bytes samples = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(writer.Open(written, 24));
    ASSERT_TRUE(writer.Append(samples.data(), samples.size()));
    ASSERT_TRUE(writer.Close());
    const Bytes file = ReadBytes(written);
    ASSERT_GT(file.size(), samples.size() + 8);
    const auto dataAt = static_cast<std::ptrdiff_t>(file.size() - samples.size() - 8);

    Bytes before(file.begin(), file.begin() + dataAt);
    const Bytes padded = OddChunk(true);
    before.insert(before.end(), padded.begin(), padded.end());
    before.insert(before.end(), file.begin() + dataAt, file.end());
    Bytes after = file;
    const Bytes unpadded = OddChunk(false);
    after.insert(after.end(), unpadded.begin(), unpadded.end());

    struct Case {
        const char* name;
        const Bytes& bytes;
    };
    for (const Case& c : {Case{"as written", file}, Case{"odd chunk before", before}, Case{"odd chunk after", after}}) {
        const std::string path = (dir / "case.wav").string();
        WriteBytes(path, c.bytes);
        tessan::CWavReader reader;
        ASSERT_TRUE(reader.Load(path)) << c.name << ": " << reader.Error();
        EXPECT_EQ(reader.Bits(), 24) << c.name;
        Bytes taken;
        ASSERT_TRUE(reader.Take(0, 2, taken)) << c.name;
        EXPECT_EQ(taken, samples) << c.name;
    }
}

// The last chunk of odd size lacks its pad byte and no data chunk came: refused, and the walk stays in the file.
TEST(TessanWavReader, RefusesAFileThatEndsInAnOddChunkWithoutItsPad)
{
    const auto dir = testsupport::FreshDir("tessan-wav-cut");
    Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const Bytes unpadded = OddChunk(false);
    file.insert(file.end(), unpadded.begin(), unpadded.end());
    const std::string path = (dir / "cut.wav").string();
    WriteBytes(path, file);
    tessan::CWavReader reader;
    EXPECT_FALSE(reader.Load(path));
    EXPECT_NE(reader.Error().find("no data chunk"), std::string::npos) << reader.Error();
}
