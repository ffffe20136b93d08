#include <gtest/gtest.h>

#include <fstream>

#include "reading/mxf/CMXFMPEGAudioESReader.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace
{

using namespace mxfbuild;

constexpr uint32_t kValue = 300;
constexpr uint32_t kElements = 60;

// Compressed audio frames as elements; the index gives no edit-unit size.
std::string MpegAudioClip()
{
    File f;
    f.clip.nKind = 3;
    f.clip.nDuration = kElements;
    f.clip.descriptor = SoundDescriptor(0x42, 0, 2);
    for (uint32_t i = 0; i < kElements; ++i)
        Append(f.essence, Klv(ElementKey(0x16), Bytes(kValue, static_cast<uint8_t>(i))));
    const Bytes bytes = Build(f);
    const auto path = testsupport::TestRoot() / "mpegaudio.mxf";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path.string();
}

TEST(MPEGAudioESReader, ElementsForwardsBackwardsAndByTime)
{
    int32_t result = 0;
    auto reader = mxftest::OpenReader<CMXFMPEGAudioESReader>(MpegAudioClip(), &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetElementSize(), 16 + 4 + kValue);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 2);

    const auto forwards = mxftest::ReadAll(*reader, true, kValue, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), kElements);
    EXPECT_DOUBLE_EQ(forwards[10].dSeconds, 0.24);
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    auto backwards = mxftest::ReadAll(*reader, false, kValue, &result);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == forwards);

    double seconds = 1.0;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 41 * 0.024);
    std::vector<uint8_t> value(kValue);
    uint8_t* p = value.data();
    uint32_t size = 0;
    ASSERT_EQ(reader->GetNextData(&p, kValue, &size, nullptr), 0);
    EXPECT_EQ(value[0], 41);
    ASSERT_EQ(reader->GoToFieldOffset(50), 0);
    ASSERT_EQ(reader->GetNextData(&p, kValue, &size, nullptr), 0);
    EXPECT_EQ(value[0], 41);

    uint8_t* none = nullptr;
    EXPECT_EQ(reader->GetNextData(&none, kValue, &size, nullptr), CDataReader::kNoBuffer);
    EXPECT_EQ(reader->GetNextData(&p, 10, &size, nullptr), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, kValue);
}

}  // namespace
