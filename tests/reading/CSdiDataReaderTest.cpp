#include <gtest/gtest.h>

#include <cstring>

#include "reading/formats/CSdiDataReader.h"
#include "support/ByteWriter.h"
#include "support/TestEnv.h"
#include "tests/reading/FormatMedia.h"

namespace
{

using namespace formatmedia;
using testsupport::ByteWriter;

constexpr uint32_t kFrame = CSdiDataReader::kFrameSize;
constexpr uint32_t kField = CSdiDataReader::kFieldSize;

// Frames whose bytes are a pattern of the frame number; each field's audio number is 100 x frame + field.
Bytes MakeFrames(uint32_t frames, uint32_t extra)
{
    Bytes bytes(size_t{frames} * kFrame + extra);
    ByteWriter w(bytes);
    for (uint32_t f = 0; f < frames; ++f) {
        w.Pattern(size_t{f} * kFrame, kFrame, static_cast<uint8_t>(f * 17 + 1));
        for (uint32_t field = 0; field < 2; ++field) {
            const size_t at = size_t{f} * kFrame + field * kField + 62;
            const uint16_t number = static_cast<uint16_t>(100 * f + field + 1);
            w.U8(at, static_cast<uint8_t>(number));
            w.U8(at + 1, static_cast<uint8_t>(number >> 8));
        }
    }
    return bytes;
}

struct SdiFile {
    explicit SdiFile(uint32_t extra = 0) : bytes(MakeFrames(10, extra))
    {
        path = testsupport::TestRoot() / "frames.sdi";
        WriteBytes(path, bytes);
    }
    Bytes Frame(uint32_t f) const
    {
        return Bytes(bytes.begin() + size_t{f} * kFrame, bytes.begin() + size_t{f + 1} * kFrame);
    }
    Bytes bytes;
    fs::path path;
};

// The audio record of a frame, from the layout table.
Bytes Record(const Bytes& frame)
{
    Bytes record(CSdiAudioDataReader::kRecordSize);
    ByteWriter w(record);
    const uint32_t sum = (frame[62] | frame[63] << 8) + (frame[kField + 62] | frame[kField + 63] << 8);
    w.Le32(0, sum);
    static const size_t kPlaces[8][2] = {{4, 64},       {2932, kField + 64},    {5860, 2992},  {8788, kField + 2992},
                                         {11716, 5920}, {14644, kField + 5920}, {17572, 8848}, {20500, kField + 8848}};
    for (const auto& place : kPlaces)
        std::memcpy(&record[place[0]], &frame[place[1]], 2928);
    return record;
}

TEST(SdiDataReader, FramesForwardsAndBackwards)
{
    SdiFile file;
    int32_t result = -9;
    auto reader = OpenReader<CSdiVideoDataReader>(file.path, &result, std::string());
    ASSERT_TRUE(reader) << result;
    int32_t in = -1, out = -1, system = -1;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 20);
    EXPECT_EQ(system, 3);
    EXPECT_EQ(reader->GetInOut(&in, nullptr, &system), -1);
    // The first read after opening gives the first frame, whole.
    const Walk forwards = WalkForwards(*reader, kFrame);
    ASSERT_EQ(forwards.units.size(), 10u);
    for (uint32_t f = 0; f < 10; ++f) {
        EXPECT_EQ(forwards.units[f], file.Frame(f)) << f;
        EXPECT_DOUBLE_EQ(forwards.seconds[f], f * 0.04);
    }
    const Walk backwards = WalkBackwards(*reader, kFrame);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
}

TEST(SdiDataReader, Positioning)
{
    SdiFile file(100);
    int32_t result = -9;
    auto reader = OpenReader<CSdiVideoDataReader>(file.path, &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GoToFieldOffset(21), 1);
    ASSERT_EQ(reader->GoToFieldOffset(7), 0);
    uint8_t* p = nullptr;
    uint32_t size = 0;
    double seconds = -1;
    ASSERT_EQ(reader->GetNextData(&p, kFrame, &size, &seconds), 0);
    EXPECT_EQ(Bytes(p, p + size), file.Frame(3));  // byte 2628096
    EXPECT_DOUBLE_EQ(seconds, 0.12);
    double t = 0.05;
    ASSERT_EQ(reader->GoToTime(&t), 0);
    EXPECT_DOUBLE_EQ(t, 0.04);
    ASSERT_EQ(reader->GetNextData(&p, kFrame, &size, &seconds), 0);
    EXPECT_EQ(Bytes(p, p + size), file.Frame(1));
    ASSERT_EQ(reader->GoToDataEnd(), 0);  // byte 8760320
    ASSERT_EQ(reader->GetPrevData(&p, kFrame, &size, &seconds), 0);
    EXPECT_EQ(Bytes(p, p + size), file.Frame(9));
    // The 100 bytes after the last whole frame come as a short frame.
    ASSERT_EQ(reader->GoToFieldOffset(20), 0);
    ASSERT_EQ(reader->GetNextData(&p, kFrame, &size, &seconds), 0);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(reader->GetNextData(&p, kFrame, &size, &seconds), CDataReader::kNoMoreData);
}

TEST(SdiDataReader, AudioRecords)
{
    SdiFile file(100);
    int32_t result = -9;
    auto reader = OpenReader<CSdiAudioDataReader>(file.path, &result, std::string());
    ASSERT_TRUE(reader) << result;
    Bytes buffer(CSdiAudioDataReader::kRecordSize);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&p, 23427, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 23428u);
    uint8_t* none = nullptr;
    EXPECT_EQ(reader->GetNextData(&none, 23428, &size, nullptr), CDataReader::kNoBuffer);
    // One record per whole frame; the short tail has none.
    const Walk forwards = WalkForwards(*reader, 23428);
    ASSERT_EQ(forwards.units.size(), 10u);
    for (uint32_t f = 0; f < 10; ++f)
        EXPECT_EQ(forwards.units[f], Record(file.Frame(f))) << f;
    EXPECT_EQ(forwards.units[3][0] | forwards.units[3][1] << 8, 301 + 302);
    const Walk backwards = WalkBackwards(*reader, 23428);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
}

}  // namespace
