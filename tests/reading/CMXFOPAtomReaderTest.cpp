#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "reading/mxf/CMXFOPAtomReader.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace
{

using namespace mxftest;

// Sound files are the ones with an A track name; detection proper lives elsewhere.
FileType ByName(const char* name)
{
    return std::strstr(name, "_A") ? OPAtomAudio_File : OPAtom_File;
}

TEST(OPAtomReader, PictureFileMatchesFfprobe)
{
    const std::string path = Media("clip_V01");
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
    int32_t result = 0;
    auto reader = OpenReader<CMXFOPAtomVideoReader>(path, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetDuration(), static_cast<int64_t>(probed.size()));
    std::vector<Unit> forwards = ReadAll(*reader, true, 1 << 20, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(forwards.size(), probed.size());
    for (size_t i = 0; i < forwards.size(); ++i) {
        EXPECT_EQ(forwards[i].bytes.size(), probed[i]);
        EXPECT_NEAR(forwards[i].dSeconds, i / 25.0, 1e-9);
    }
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    std::vector<Unit> backwards = ReadAll(*reader, false, 1 << 20, &result);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == forwards);

    int32_t in = -1, out = 0, system = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(FramesToText(in / 2, 25), ProbeTimecode(path));
    EXPECT_EQ(out - in, 50);

    // Seeks land on whole frames.
    double seconds = 0.5;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    std::vector<uint8_t> frame(1 << 20);
    uint8_t* p = frame.data();
    uint32_t size = 0;
    ASSERT_EQ(reader->GetNextData(&p, 1 << 20, &size, &seconds), 0);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + size), forwards[12].bytes);
    EXPECT_EQ(reader->GoToFieldOffset(52), CMXFOPAtomReaderBase::kBeyondEnd);
}

TEST(OPAtomReader, SoundFileMatchesFfprobe)
{
    const std::string path = Media("clip_A01");
    const std::vector<uint32_t> probed = ProbePacketSizes(path, 0);
    uint64_t probedBytes = 0;
    for (uint32_t s : probed)
        probedBytes += s;
    auto reader = std::make_unique<CMXFOPAtomAudioReader>("", ByName);
    ASSERT_EQ(reader->AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 0), 0);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 1);
    EXPECT_EQ(reader->GetDuration(), 25);
    EXPECT_DOUBLE_EQ(reader->GetDurationSeconds(), 1.0);
    int32_t result = 0;
    std::vector<Unit> samples = ReadAll(*reader, true, 3, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    // One sample per call, as many as ffprobe's packets hold.
    EXPECT_EQ(samples.size() * 3, probedBytes);
    uint32_t first = 0, bits = 0;
    ASSERT_EQ(reader->GetCurrentFieldInfo(&first, &bits, nullptr), 0);
    EXPECT_EQ(bits, 24u);
    double half = 0.5;
    ASSERT_EQ(reader->GoToTime(&half), 0);
    uint8_t sample[3];
    uint8_t* p = sample;
    uint32_t size = 0;
    double at = 0;
    ASSERT_EQ(reader->GetNextData(&p, 3, &size, &at), 0);
    EXPECT_DOUBLE_EQ(at, 0.5);
    EXPECT_EQ(std::vector<uint8_t>(sample, sample + 3), samples[24000].bytes);
}

TEST(OPAtomReader, PictureFileFindsItsSoundFiles)
{
    const std::string picture = Media("clip_V01");
    auto reader = std::make_unique<CMXFOPAtomAudioReader>("", ByName);
    ASSERT_EQ(reader->AttachSourceReader(CreateSourceReader(picture.c_str(), 0, 0, ""), 0), 0);
    ASSERT_EQ(reader->GetAudioChannels(nullptr, 0), 2);
    EXPECT_EQ(reader->GetSoundFiles()[1], Media("clip_A02"));

    // Each call gives one field of each file, the files one after the other, in file order both ways.
    int32_t result = 0;
    std::vector<Unit> fields = ReadAll(*reader, true, 960 * 3 * 2, &result);
    EXPECT_EQ(result, CDataReader::kNoMoreData);
    ASSERT_EQ(fields.size(), 50u);
    EXPECT_EQ(fields[0].bytes.size(), 960u * 3 * 2);
    auto single = std::make_unique<CMXFOPAtomAudioReader>("", ByName);
    ASSERT_EQ(single->AttachSourceReader(CreateSourceReader(Media("clip_A02").c_str(), 0, 0, ""), 0), 0);
    std::vector<Unit> second = ReadAll(*single, true, 3, &result);
    ASSERT_EQ(second.size(), 48000u);
    for (int s = 0; s < 960; ++s)
        ASSERT_TRUE(std::equal(second[960 + s].bytes.begin(), second[960 + s].bytes.end(),
                               fields[1].bytes.begin() + 960 * 3 + s * 3));
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    std::vector<Unit> backwards = ReadAll(*reader, false, 960 * 3 * 2, &result);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_TRUE(backwards == fields);
}

TEST(OPAtomReader, TrackNamesStopAtTheFirstMissingFile)
{
    namespace fs = std::filesystem;
    const fs::path dir = testsupport::TestRoot() / "atomnames";
    fs::create_directories(dir);
    for (const char* name : {"take_V01.mxf", "take_A01.mxf", "take_A02.mxf", "take_A04.mxf"})
        fs::copy_file(Media(std::strstr(name, "_V") ? "clip_V01" : "clip_A01"), dir / name,
                      fs::copy_options::overwrite_existing);
    auto reader = std::make_unique<CMXFOPAtomAudioReader>("", ByName);
    ASSERT_EQ(reader->AttachSourceReader(CreateSourceReader((dir / "take_V01.mxf").c_str(), 0, 0, ""), 0), 0);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 2);

    fs::copy_file(Media("clip_V01"), dir / "lonely_V01.mxf", fs::copy_options::overwrite_existing);
    reader = std::make_unique<CMXFOPAtomAudioReader>("", ByName);
    EXPECT_EQ(reader->AttachSourceReader(CreateSourceReader((dir / "lonely_V01.mxf").c_str(), 0, 0, ""), 0),
              CMXFOPAtomReaderBase::kNoSoundFile);
}

}  // namespace
