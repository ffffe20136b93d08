// The audio of clips written by the clip writer, read block by block forwards and backwards against the known
// PCM that went in; seeks; damaged sample counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "common/CTimeCode.h"
#include "platform/File.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/support/FileTestKit.h"

namespace
{

using namespace parvexclip;

constexpr ClipSpec kAudioClips[] = {
    {"MjpegFields_2kTable", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 120, false},
    {"MjpegFields525_2Groups_2kTable", KORVOMXF_FORMAT_TBL2K_2MB, 1, 4, 1, 0, 2, "mjpeg_fields.mjpeg", 0, 90, false},
    {"Imx40_2Groups_Bavd2MB", KORVOMXF_FORMAT_BAVD_2MB, 2, 3, 4, 40, 2, "imx40.m2v", 200000, 24, false},
    {"Dv25_Bavd8MBv257", KORVOMXF_FORMAT_BAVD_8MB_V257, 2, 3, 9, 25, 1, "dv25.dif", 144000, 60, false},
    // More than 2 MB of audio in one 8 MB block.
    {"MjpegFields_4Groups_Bavd8MB", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 1, 0, 4, "mjpeg_fields.mjpeg", 0, 300, false},
};

class ParvexAudioClip : public ::testing::TestWithParam<ClipSpec>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(MediaDir().empty());
        _dir = testsupport::FreshDir(std::string("parvex-audio-") + GetParam().pszName);
        _path = (_dir / "clip.mxf").string();
        ClipWriter writer(GetParam());
        ASSERT_TRUE(writer.WriteAll(_path));
        const uint32_t fields = GetParam().nPictures * FieldsPerPicture(GetParam());
        for (uint32_t f = 0; f < fields; ++f) {
            const Bytes samples = FieldSamples(GetParam(), kFirstField + f);
            _fieldStart.push_back(_expected.size());
            _expected.insert(_expected.end(), samples.begin(), samples.end());
        }
        _fieldStart.push_back(_expected.size());
    }
    void TearDown() override { fs::remove_all(_dir); }

    // The field at which a block's samples start, from its place in the whole stream.
    uint32_t FieldAt(size_t offset) const
    {
        const auto it = std::lower_bound(_fieldStart.begin(), _fieldStart.end(), offset);
        return static_cast<uint32_t>(it - _fieldStart.begin());
    }
    double FieldSeconds() const { return CTimeCode::GetFieldDuration(static_cast<TcSystem>(GetParam().nStandard)); }

    fs::path _dir;
    std::string _path;
    Bytes _expected;
    std::vector<size_t> _fieldStart;
};

TEST_P(ParvexAudioClip, EveryBlockForwardsAndBackwards)
{
    const ClipSpec& clipSpec = GetParam();
    CMXF_Parvex_AudioDataReader reader("");
    ASSERT_EQ(reader.AttachSourceReader(CreateSourceReader(_path.c_str(), 0, 0, ""), 1), 0);
    int32_t channels[32] = {};
    ASSERT_EQ(reader.GetAudioChannels(channels, 32), 4 * clipSpec.nAudioGroups);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(channels[i], i < 4 * clipSpec.nAudioGroups ? 1 : 0);
    const uint32_t blocks = reader.GetBlockCount();
    ASSERT_GT(blocks, 1u);

    Bytes buffer(0x800000);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    double seconds = 0;
    EXPECT_EQ(reader.GetNextData(nullptr, 0, &size, nullptr), 102);
    uint8_t* none = nullptr;
    EXPECT_EQ(reader.GetNextData(&none, 0, &size, nullptr), 102);
    EXPECT_EQ(reader.GetPrevData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 100);
    // Room for the block's whole audio area is asked, more than the samples it gives.
    EXPECT_EQ(reader.GetNextData(&data, 1000, &size, nullptr), 101);
    EXPECT_GT(size, 1000u);

    Bytes forwards;
    for (uint32_t b = 0; b < blocks; ++b) {
        SCOPED_TRACE(b);
        ASSERT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0);
        EXPECT_NEAR(seconds, FieldAt(forwards.size()) * FieldSeconds(), 1e-9);
        forwards.insert(forwards.end(), data, data + size);
    }
    EXPECT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 100);
    ASSERT_EQ(forwards.size(), _expected.size());
    EXPECT_TRUE(forwards == _expected);

    Bytes backwards;
    for (uint32_t b = blocks; b-- > 0;) {
        SCOPED_TRACE(b);
        ASSERT_EQ(reader.GetPrevData(&data, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0);
        backwards.insert(backwards.begin(), data, data + size);
        EXPECT_NEAR(seconds, FieldAt(_expected.size() - backwards.size()) * FieldSeconds(), 1e-9);
    }
    EXPECT_EQ(reader.GetPrevData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 100);
    EXPECT_TRUE(backwards == _expected);

    // Seeks move the block cursor: the block delivered holds the field.
    const uint32_t fields = clipSpec.nPictures * FieldsPerPicture(clipSpec);
    for (uint32_t field : {fields - 1, 0u, fields / 2, fields / 3}) {
        SCOPED_TRACE(field);
        ASSERT_EQ(reader.GoToFieldOffset(field), 0);
        ASSERT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0);
        const auto first = static_cast<uint32_t>(std::lround(seconds / FieldSeconds()));
        const size_t fieldsIn = FieldAt(_fieldStart[first] + size) - first;
        EXPECT_LE(first, field);
        EXPECT_LT(field, first + fieldsIn);
        EXPECT_EQ(0, std::memcmp(data, _expected.data() + _fieldStart[first], size));
        double at = (field + 0.5) * FieldSeconds();
        ASSERT_EQ(reader.GoToTime(&at), 0);
        EXPECT_NEAR(at, first * FieldSeconds(), 1e-9);
    }
    ASSERT_EQ(reader.GoToDataEnd(), 0);
    EXPECT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 100);
    // The source was handed over; seeks go to the clip file reader and land on the block of the position.
    ASSERT_EQ(reader.Seek(CParvexDataReader::kDataStart + uint64_t{reader.GetClipInfo()->_nBlockSize} + 100), 0);
    ASSERT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, &seconds), 0);
    EXPECT_GT(seconds, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ParvexAudioClip, ::testing::ValuesIn(kAudioClips),
                         [](const auto& info) { return std::string(info.param.pszName); });

// A sample count larger than its chunk is refused rather than read past the chunk and the caller's buffer.
TEST(ParvexAudioDamage, SampleCountBeyondItsChunk)
{
    ASSERT_FALSE(MediaDir().empty());
    const fs::path dir = testsupport::FreshDir("parvex-audio-damage");
    for (const ClipSpec& clipSpec : {kAudioClips[0], kAudioClips[2]}) {
        SCOPED_TRACE(clipSpec.pszName);
        const std::string path = (dir / (std::string(clipSpec.pszName) + ".mxf")).string();
        ClipWriter writer(clipSpec);
        ASSERT_TRUE(writer.WriteAll(path));
        // The first field's count of channel 0: above the header area of a BAVD block, just below the table of a
        // 2kTable block, there stored in reversed 32-bit words.
        const bool table = clipSpec.nBlockFormat == KORVOMXF_FORMAT_TBL2K_2MB;
        const uint64_t field =
            table ? 0x200000 + 0x1FF800 - uint64_t{4} * 2944 * clipSpec.nAudioGroups : 0x200000 + 0x8000;
        platform::File file;
        ASSERT_TRUE(file.Open(path, platform::File::Access::ReadWrite, platform::File::Disposition::OpenExisting));
        uint8_t word[4];
        ASSERT_EQ(file.ReadAt(word, 4, field), 4);
        // Bytes 1..2 hold the count in both layouts (reversed in the 2kTable's words): 65535 samples.
        word[1] = word[2] = 0xFF;
        ASSERT_EQ(file.WriteAt(word, 4, field), 4);
        file.Close();

        testsupport::LogCapture log("default");
        CMXF_Parvex_AudioDataReader reader("");
        ASSERT_EQ(reader.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
        Bytes buffer(0x800000);
        uint8_t* data = buffer.data();
        uint32_t size = 0;
        EXPECT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr),
                  CMXF_Parvex_AudioDataReader::kDamagedBlock);
        EXPECT_TRUE(log.Has("samples do not fit a chunk"));
        // The next block is whole.
        ASSERT_EQ(reader.GoToFieldOffset(200), 0);
        EXPECT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 0);
    }
    fs::remove_all(dir);
}

}  // namespace
