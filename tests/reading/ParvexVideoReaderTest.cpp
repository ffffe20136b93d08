// Clips written by the clip writer in every block layout, read back picture by picture forwards and backwards,
// sought by field and by time; DVCPRO pictures come back as DIF frames that ffmpeg decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/ByteOrder.h"
#include "common/CTimeCode.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CHydrelFramePadder.h"
#include "reading/parvex/CParvexDVCProVideoDataReader.h"
#include "reading/parvex/CParvexHydrelVideoDataReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/support/FileTestKit.h"

namespace
{

using namespace parvexclip;

constexpr ClipSpec kVideoClips[] = {
    // name, block format, system, standard, video format, bitrate, audio groups, media, frame bytes, pictures, pack
    {"MjpegFields_2kTable", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 120, false},
    {"MjpegFields525_Bavd2MB", KORVOMXF_FORMAT_BAVD_2MB, 1, 4, 1, 0, 1, "mjpeg_fields.mjpeg", 0, 100, false},
    {"Imx30_2kTable", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 4, 30, 1, "imx30.m2v", 150000, 30, false},
    {"Imx40_Bavd2MB", KORVOMXF_FORMAT_BAVD_2MB, 2, 3, 4, 40, 2, "imx40.m2v", 200000, 24, false},
    {"Imx50_Bavd8MB", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 72, false},
    {"Dv25_2kTable", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 9, 25, 0, "dv25.dif", 144000, 30, false},
    {"Dv25_Bavd8MBv257", KORVOMXF_FORMAT_BAVD_8MB_V257, 2, 3, 9, 25, 1, "dv25.dif", 144000, 60, false},
    {"DVCPro50_Bavd2MB", KORVOMXF_FORMAT_BAVD_2MB, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 24, true},
    {"DVCProHD_Bavd8MB", KORVOMXF_FORMAT_BAVD_8MB, 4, 3, 9, 100, 0, "dvcprohd1080i50.dif", 576000, 30, true},
};

std::unique_ptr<CSourceReader> Source(const std::string& path)
{
    return CreateSourceReader(path.c_str(), 0, 0, "");
}

double FieldSeconds(const ClipSpec& clipSpec)
{
    return CTimeCode::GetFieldDuration(static_cast<TcSystem>(clipSpec.nStandard));
}

// The blocks keep a picture's size in units of 8 (BAVD) or 32 bytes (2kTable): what comes back is the picture
// written and the zero bytes that round it up.
void ExpectPicture(const uint8_t* data, uint32_t size, const Bytes& stored)
{
    ASSERT_GE(size, stored.size());
    ASSERT_LT(size - stored.size(), 32u);
    EXPECT_EQ(0, std::memcmp(data, stored.data(), stored.size()));
    for (size_t i = stored.size(); i < size; ++i)
        ASSERT_EQ(data[i], 0) << i;
}

class ParvexVideoClip : public ::testing::TestWithParam<ClipSpec>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(MediaDir().empty());
        _dir = testsupport::FreshDir(std::string("parvex-video-") + GetParam().pszName);
        _path = (_dir / "clip.mxf").string();
        _writer = std::make_unique<ClipWriter>(GetParam());
        ASSERT_TRUE(_writer->WriteAll(_path));
    }
    void TearDown() override { fs::remove_all(_dir); }

    fs::path _dir;
    std::string _path;
    std::unique_ptr<ClipWriter> _writer;
};

TEST_P(ParvexVideoClip, EveryPictureForwardsAndBackwards)
{
    const ClipSpec& clipSpec = GetParam();
    const uint32_t fpp = FieldsPerPicture(clipSpec);
    CParvexVideoDataReader reader("", true, true);
    ASSERT_EQ(reader.AttachSourceReader(Source(_path), 1), 0);
    EXPECT_TRUE(reader.IsIndexed());
    EXPECT_EQ(reader.GetSourceReader(), nullptr);  // handed over
    const auto& stored = _writer->Stored();

    Bytes copy(1 << 20);
    for (uint32_t i = 0; i < clipSpec.nPictures; ++i) {
        SCOPED_TRACE(i);
        uint8_t* data = i % 2 ? copy.data() : nullptr;  // a pointer into the block, or a copy
        uint32_t size = 0;
        double seconds = -1;
        ASSERT_EQ(reader.GetNextData(&data, static_cast<uint32_t>(copy.size()), &size, &seconds), 0);
        ExpectPicture(data, size, stored[i]);
        EXPECT_NEAR(seconds, i * fpp * FieldSeconds(clipSpec), 1e-9);
    }
    uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(reader.GetNextData(&data, 0, &size, nullptr), 100);
    for (uint32_t i = clipSpec.nPictures; i-- > 0;) {
        SCOPED_TRACE(i);
        data = nullptr;
        double seconds = -1;
        ASSERT_EQ(reader.GetPrevData(&data, 0, &size, &seconds), 0);
        ExpectPicture(data, size, stored[i]);
        EXPECT_NEAR(seconds, i * fpp * FieldSeconds(clipSpec), 1e-9);
    }
    EXPECT_EQ(reader.GetPrevData(&data, 0, &size, nullptr), 100);

    // A buffer one byte short: the size needed, and the picture stays next.
    uint8_t* small = copy.data();
    EXPECT_EQ(reader.GetNextData(&small, static_cast<uint32_t>(stored[0].size() - 1), &size, nullptr), 101);
    EXPECT_GE(size, stored[0].size());
    EXPECT_EQ(reader.GetNextData(&small, size - 1, &size, nullptr), 101);
    ASSERT_EQ(reader.GetNextData(&small, static_cast<uint32_t>(copy.size()), &size, nullptr), 0);
    ExpectPicture(small, size, stored[0]);
    EXPECT_EQ(reader.SkipNextData(), 0);
    ASSERT_EQ(reader.GetNextData(&small, static_cast<uint32_t>(copy.size()), &size, nullptr), 0);
    ExpectPicture(small, size, stored[2]);
    EXPECT_EQ(reader.SkipPrevData(), 0);
    ASSERT_EQ(reader.GetPrevData(&small, static_cast<uint32_t>(copy.size()), &size, nullptr), 0);
    ExpectPicture(small, size, stored[1]);
}

TEST_P(ParvexVideoClip, SeeksByFieldAndTimeLandOnTheirPicture)
{
    const ClipSpec& clipSpec = GetParam();
    const uint32_t fpp = FieldsPerPicture(clipSpec);
    const uint32_t fields = clipSpec.nPictures * fpp;
    CParvexVideoDataReader reader("", true, true);
    ASSERT_EQ(reader.AttachSourceReader(Source(_path), 1), 0);
    const auto& stored = _writer->Stored();

    int32_t in = 0, out = 0, system = 0;
    ASSERT_EQ(reader.GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, static_cast<int32_t>(kFirstField));
    EXPECT_EQ(out, static_cast<int32_t>(kFirstField + fields));
    EXPECT_EQ(system, clipSpec.nStandard);

    auto expectPicture = [&](uint32_t picture) {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        double seconds = -1;
        ASSERT_EQ(reader.GetNextData(&data, 0, &size, &seconds), 0);
        ExpectPicture(data, size, stored[picture]);
        EXPECT_NEAR(seconds, picture * fpp * FieldSeconds(clipSpec), 1e-9);
    };
    // Forwards and backwards across blocks, to a field inside a picture, past the end (the last picture).
    const uint32_t targets[] = {fields / 2, 0, fields - 1, fields / 3 + 1, 5, fields + 40, fields - fpp};
    for (uint32_t field : targets) {
        SCOPED_TRACE(field);
        ASSERT_EQ(reader.GoToFieldOffset(field), 0);
        expectPicture(std::min(field, fields - 1) / fpp);
    }
    for (uint32_t picture : {clipSpec.nPictures - 1, 0u, clipSpec.nPictures / 2, 3u}) {
        SCOPED_TRACE(picture);
        // A little into the picture's first field.
        double seconds = (picture * fpp + 0.3) * FieldSeconds(clipSpec);
        ASSERT_EQ(reader.GoToTime(&seconds), 0);
        EXPECT_NEAR(seconds, picture * fpp * FieldSeconds(clipSpec), 1e-9);
        expectPicture(picture);
    }
    double negative = -3;
    ASSERT_EQ(reader.GoToTime(&negative), 0);
    expectPicture(0);
    ASSERT_EQ(reader.GoToDataEnd(), 0);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(reader.GetPrevData(&data, 0, &size, nullptr), 0);
    ExpectPicture(data, size, stored.back());
    ASSERT_EQ(reader.GoToDataStart(), 0);
    expectPicture(0);

    // The block's own position: Seek goes to the block that holds the byte.
    const uint32_t blockSize = reader.GetClipInfo()->_nBlockSize;
    EXPECT_EQ(reader.Seek(CParvexDataReader::kDataStart + blockSize + 17), 0);
    EXPECT_EQ(reader.GetCurrentBlock(), 1);
    EXPECT_EQ(reader.Seek(0), 0);
    EXPECT_EQ(reader.GetCurrentBlock(), 0);

    VideoInfo info;
    ASSERT_TRUE(reader.GetVideoInfo(&info));
    EXPECT_EQ(info.nStandard, static_cast<uint32_t>(clipSpec.nVideoSystem == 1   ? 1
                                                    : clipSpec.nVideoSystem == 2 ? 2
                                                                                 : 4));
    EXPECT_EQ(info.nAspect, 3);
    if (clipSpec.nVideoFormat == 4)
        EXPECT_EQ(info.nVideoType, IMX30_Video + (clipSpec.nBitrate - 30) / 10);
    if (clipSpec.nVideoFormat == 1)
        EXPECT_EQ(info.nVideoType, Mjpeg_Video);
    uint32_t channels = 0;
    uint8_t aspect = 0;
    EXPECT_EQ(reader.GetCurrentFieldInfo(&channels, nullptr, &aspect), static_cast<int32_t>(fpp));
    EXPECT_EQ(channels, 1u);
    uint8_t* format = nullptr;
    const uint32_t formatSize = reader.GetFormat(&format);
    EXPECT_EQ(formatSize, clipSpec.nBlockFormat == KORVOMXF_FORMAT_TBL2K_2MB ? 2048u : 32768u);
    delete[] format;
    char* xml = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(reader.GetDataDescriptor(&xml, &length));
    EXPECT_EQ(std::string(xml, length).find("<?xml version=\"1.0\"?><DataDescriptor><VideoResolution>"), 0u);
    delete[] xml;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ParvexVideoClip, ::testing::ValuesIn(kVideoClips),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---- DVCPRO frames ----

class ParvexDVCProClip : public ParvexVideoClip
{
};

std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            out += line;
        pclose(pipe);
    }
    return out;
}

TEST_P(ParvexDVCProClip, FramesComeBackInTheStandardLayoutAndDecode)
{
    const ClipSpec& clipSpec = GetParam();
    CParvexDVCProVideoDataReader reader("", false, true);
    ASSERT_EQ(reader.AttachSourceReader(Source(_path), 1), 0);
    const fs::path frames = _dir / "frames.dif";
    std::FILE* file = std::fopen(frames.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    Bytes frame(clipSpec.nFrameBytes);
    for (uint32_t i = 0; i < clipSpec.nPictures; ++i) {
        SCOPED_TRACE(i);
        uint8_t* data = frame.data();
        uint32_t size = 0;
        ASSERT_EQ(reader.GetNextData(&data, clipSpec.nFrameBytes, &size, nullptr), 0);
        ASSERT_EQ(size, clipSpec.nFrameBytes);
        // The standard layout: packing it again gives exactly the picture stored, so every video block is the
        // media's own.
        CKorvoDVCProHelper again;
        Bytes packed(size);
        uint32_t packedSize = 0;
        ASSERT_TRUE(again.PackFrame(data, size, packed.data(), &packedSize));
        packed.resize(packedSize);
        EXPECT_EQ(packed, _writer->Stored()[i]);
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);
    uint8_t* small = frame.data();
    uint32_t size = 0;
    EXPECT_EQ(reader.GetPrevData(&small, clipSpec.nFrameBytes - 1, &size, nullptr), 101);
    EXPECT_EQ(size, clipSpec.nFrameBytes);
    uint8_t* pointer = nullptr;
    ASSERT_EQ(reader.GetPrevData(&pointer, 0, &size, nullptr), 0);
    EXPECT_EQ(Bytes(pointer, pointer + size), Bytes(frame.begin(), frame.end()));

    const std::string count = Output(
        "ffprobe -v error -f dv -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
        "csv=p=0 " +
        frames.string() + " 2>/dev/null");
    EXPECT_EQ(std::stoul(count.empty() ? "0" : count), clipSpec.nPictures);
    const std::string errors =
        Output("ffmpeg -nostdin -v error -f dv -i " + frames.string() + " -map 0:v -f null - 2>&1 | grep -ci video");
    EXPECT_EQ(errors, "0\n");
}

INSTANTIATE_TEST_SUITE_P(Packed, ParvexDVCProClip, ::testing::Values(kVideoClips[7], kVideoClips[8]),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---- Metadata chunks in front of a picture ----

struct ChunkCase {
    const char* pszName;
    Bytes picture;
    bool bAccepted;
    uint32_t nSkipped;
};

Bytes Chunk(uint16_t units, size_t total)
{
    Bytes b(total, 0x11);
    const uint8_t head[8] = {
        0xFF, 0xFE, 0xFD, 0xFC, 0, 0, static_cast<uint8_t>(units >> 8), static_cast<uint8_t>(units)};
    std::memcpy(b.data(), head, std::min<size_t>(8, total));
    return b;
}

TEST(ParvexMetadataChunks, StopAtTheirEndAndNeverReadPastThePicture)
{
    Bytes twoChunks = Chunk(1, 128);
    const Bytes second = Chunk(2, 256 + 10);
    twoChunks.insert(twoChunks.end(), second.begin(), second.end());
    const ChunkCase cases[] = {
        {"three bytes", {0xFF, 0xFE, 0xFD}, true, 0},      {"no marker", Bytes(300, 0xAB), true, 0},
        {"two chunks then picture", twoChunks, true, 384}, {"chunk is the whole picture", Chunk(2, 256), true, 256},
        {"zero length", Chunk(0, 300), false, 0},          {"marker with 4 bytes", Chunk(1, 4), false, 0},
        {"marker with 7 bytes", Chunk(1, 7), false, 0},    {"chunk longer than the picture", Chunk(3, 300), false, 0},
    };
    for (const ChunkCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        const uint8_t* p = c.picture.data();
        uint32_t size = static_cast<uint32_t>(c.picture.size());
        EXPECT_EQ(CParvexVideoDataReader::StripMetadataChunks(&p, &size), c.bAccepted);
        if (c.bAccepted) {
            EXPECT_EQ(p, c.picture.data() + c.nSkipped);
            EXPECT_EQ(size, c.picture.size() - c.nSkipped);
        }
    }
}

// ---- Hydrel frame padding ----

TEST(HydrelFramePadder, PadsToTheCompressionsFrameSizeWithinTheBuffer)
{
    Bytes frame(0x94000, 0x55);
    const uint8_t id1237[4] = {0, 0, 0x04, 0xD5};
    std::memcpy(frame.data() + 40, id1237, 4);
    frame[365] = 2;
    const uint8_t coded[4] = {0, 0, 0x10, 0x00};  // 4096 coded bytes: 4736 with the header
    std::memcpy(frame.data() + 368 + 8, coded, 4);

    CHydrelFramePadder padder;
    EXPECT_EQ(padder.PadFrame(nullptr, 5000, 0x94000), 0u);
    // Too small a buffer: nothing is written, the size needed is known.
    const Bytes before = frame;
    EXPECT_EQ(padder.PadFrame(frame.data(), 6000, 0x94000 - 1), 0u);
    EXPECT_EQ(padder.GetFrameSize(), 0x94000);
    EXPECT_EQ(frame, before);
    ASSERT_EQ(padder.PadFrame(frame.data(), 6000, 0x94000), 0x94000u);
    EXPECT_EQ(ReadBigEndian32(frame.data() + 376), 0u);  // the coded length word is cleared
    EXPECT_EQ(frame[4735], 0x55);
    EXPECT_EQ(frame[4736], 0);
    const uint8_t marker[4] = {0x60, 0x0D, 0xC0, 0xDE};
    EXPECT_EQ(0, std::memcmp(frame.data() + 0x94000 - 4, marker, 4));
    // A length word outside the bytes given is not read; the size stays that of the first frame.
    Bytes shortFrame(400, 0x22);
    shortFrame[365] = 200;
    EXPECT_EQ(padder.PadFrame(shortFrame.data(), 400, 400), 0u);
    EXPECT_EQ(CHydrelFramePadder::FrameSizeOfCompression(1235), 0xE0000u);
    EXPECT_EQ(CHydrelFramePadder::FrameSizeOfCompression(1251), 0x70000u);
    EXPECT_EQ(CHydrelFramePadder::FrameSizeOfCompression(7), 0x4A000u);
}

}  // namespace
