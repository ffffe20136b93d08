// The IMX writer's handling of bad input and of its sample files, checked on the bytes it writes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/op1a/CIMXMXFWriter.h"

namespace
{
namespace fs = std::filesystem;
using testsupport::ReadWholeFile;

constexpr size_t kHeaderSize = 5632;  // the generated sample header: pack, metadata and index, each on the grid

uint64_t Be(const std::string& bytes, size_t at, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return v;
}

uint32_t Le32(const std::string& bytes, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(bytes.at(at + i));
    return v;
}

// A small MPEG-2 picture: sequence header, GOP header at 22, then a pattern.
std::vector<uint8_t> Picture(size_t size)
{
    std::vector<uint8_t> p(size, 0x5A);
    const uint8_t head[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x60, 0x23};
    std::memcpy(p.data(), head, sizeof head);
    const uint8_t gop[] = {0x00, 0x00, 0x01, 0xB8, 0x00, 0x00, 0x00, 0x00};
    std::memcpy(p.data() + 22, gop, sizeof gop);
    return p;
}

// Copies the generated samples to a folder of the test's own, so that one can be spoiled.
fs::path SampleCopy(const std::string& name)
{
    const fs::path dir = testsupport::FreshDir(name);
    for (const char* file : {"IMX_Header.MXF", "IMX_System.MXF", "IMX_Footer.MXF"})
        fs::copy_file(writertest::SampleDir() / file, dir / file);
    return dir;
}

MediaWriterClipInfo Info(bool is625, uint32_t mbps)
{
    MediaWriterClipInfo info;
    info.standardCode = is625 ? 3 : 4;
    info.videoBitRate = mbps * 1000000;
    return info;
}

struct Opened {
    fs::path file;
    std::unique_ptr<CIMXMXFWriter> writer;
};

Opened OpenWriter(const fs::path& samples, int bits = 24)
{
    Opened o;
    o.file = samples / "out.mxf";
    o.writer = std::make_unique<CIMXMXFWriter>(bits, (samples.string() + "/").c_str(), 0);
    EXPECT_EQ(o.writer->Open(o.file.c_str()), 0);
    return o;
}

TEST(CIMXMXFWriter, PaddingBlocksAreSkippedAndAZeroLengthOneEndsTheSkip)
{
    std::vector<uint8_t> buffer(256 + 16, 0);
    const uint8_t pad[] = {0xFF, 0xFE, 0xFD, 0xFC, 0, 0, 0, 2};  // 2 x 128 bytes
    std::memcpy(buffer.data(), pad, sizeof pad);
    const uint8_t zero[] = {0xFF, 0xFE, 0xFD, 0xFC, 0, 0, 0, 0};
    std::memcpy(buffer.data() + 256, zero, sizeof zero);
    uint32_t length = static_cast<uint32_t>(buffer.size());
    const uint8_t* rest = CMediaFileWriter::SkipPadding(buffer.data(), &length);
    EXPECT_EQ(rest, buffer.data() + 256);
    EXPECT_EQ(length, 16u);
    // A block longer than what remains is data.
    buffer[7] = 9;
    length = static_cast<uint32_t>(buffer.size());
    EXPECT_EQ(CMediaFileWriter::SkipPadding(buffer.data(), &length), buffer.data());
}

TEST(CIMXMXFWriter, SoundWordsAreMaskedAndClamped)
{
    // Beyond full scale a sample is clamped to the width; the most negative value of the width is kept.
    struct Case {
        float sample;
        uint32_t word16, word24;
    } cases[] = {
        {0.0f, 0x00000000, 0x00000000},
        {-1.0f / 32767.0f, 0x0FFFF000, 0x0FFFF000},  // V, U, C and P stay clear
        {1.0f, 0x07FFF000, 0x07FFFFF0},
        {2.5f, 0x07FFF000, 0x07FFFFF0},
        {-1.0f, 0x08001000, 0x08000010},
        {-3.0f, 0x08000000, 0x08000000},
        {static_cast<float>(-32768.0 / 32767), 0x08000000, 0x08000000},
        {static_cast<float>(-8388608.0 / 8388607), 0x08001000, 0x08000000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CIMXMXFWriter::Aes3Word16(c.sample, 5), c.word16 | 5) << c.sample;
        EXPECT_EQ(CIMXMXFWriter::Aes3Word24(c.sample, 2) & 0xFFFFFF00u, c.word24 & 0xFFFFFF00u) << c.sample;
        EXPECT_EQ(CIMXMXFWriter::Aes3Word24(c.sample, 2) & 0xFu, 2u);
    }
}

TEST(CIMXMXFWriter, ContentPackagesOnTheGridWithCadenceAndMissingSamples)
{
    const fs::path samples = SampleCopy("imx-cadence");
    Opened o = OpenWriter(samples, 16);
    ASSERT_EQ(o.writer->Begin(Info(false, 30)), 0);
    const std::vector<uint8_t> picture = Picture(1000);
    std::vector<float> left(1602, 0.5f), right(1602, -0.5f);
    const float* channels[] = {left.data(), right.data()};
    // Full frames, a short one (interpolated), one with no samples, one with fewer samples than missing.
    const int counts[] = {1602, 1601, 1580, 0, 3, 1602};
    for (int count : counts)
        ASSERT_EQ(o.writer->AddFrame(picture.data(), static_cast<uint32_t>(picture.size()), count ? channels : nullptr,
                                     count, count ? 2 : 0),
                  0);
    ASSERT_EQ(o.writer->Close(), 0);

    const std::string file = ReadWholeFile(o.file);
    const CIMXMXFWriter::SystemRow& row = CIMXMXFWriter::kSystems[3];
    ASSERT_EQ(file.size(), kHeaderSize + 6 * row.editUnit + 512);
    const int expected[] = {1602, 1601, 1602, 1601, 1602, 1602};
    for (int f = 0; f < 6; ++f) {
        const size_t unit = kHeaderSize + static_cast<size_t>(f) * row.editUnit;
        EXPECT_EQ(Be(file, unit + 25, 2), static_cast<uint64_t>(f));  // continuity count
        EXPECT_EQ(Be(file, unit + 528, 4), 0x83000000u | 125125u);
        // Picture copied and zero-padded; the aspect nibble and GOP time code are the writer's.
        EXPECT_EQ(file.substr(unit + 532 + 30, 970), std::string(970, '\x5A'));
        EXPECT_EQ(file[unit + 532 + 1000], '\0');
        const size_t sound = unit + row.soundOffset;
        EXPECT_EQ(static_cast<uint8_t>(file[sound + 20]), f % 5 + 1);
        const int count = static_cast<int>(Be(file, sound + 21, 1) | Be(file, sound + 22, 1) << 8);
        EXPECT_EQ(count, expected[f]) << f;
        EXPECT_EQ(static_cast<uint8_t>(file[sound + 23]), 0xFF);
        EXPECT_EQ(Be(file, sound + 16, 4), 0x83000000u | static_cast<uint32_t>(count * 32 + 4));
        for (int s = 0; s < count; s += 97) {
            const size_t row0 = sound + 24 + static_cast<size_t>(s) * 32;
            const uint32_t word0 = Le32(file, row0), word1 = Le32(file, row0 + 4), word7 = Le32(file, row0 + 28);
            EXPECT_EQ(word7, 7u);
            if (f == 3) {
                EXPECT_EQ(word0, 0u);  // silence: only the channel number
            } else if (f != 4 || s < 3) {
                EXPECT_EQ(word0, CIMXMXFWriter::Aes3Word16(0.5f, 0)) << f << " " << s;
                EXPECT_EQ(word1, CIMXMXFWriter::Aes3Word16(-0.5f, 1)) << f << " " << s;
            }
        }
    }
    // D-10 on the 512-byte grid: the header metadata (the primer pack first) starts at 512, HeaderByteCount
    // counts from there, and the index table segment's IndexByteCount leads to the first content package.
    EXPECT_EQ(file.substr(512, 16),
              std::string("\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x05\x01\x00", 16));
    EXPECT_EQ(512 + Be(file, 52, 8) + Be(file, 60, 8), kHeaderSize);
    EXPECT_EQ(file.substr(512 + Be(file, 52, 8), 14),
              std::string("\x06\x0E\x2B\x34\x02\x53\x01\x01\x0D\x01\x02\x01\x01\x10", 14));
    // The header names the duration and the footer.
    const uint64_t footer = kHeaderSize + 6ull * row.editUnit;
    EXPECT_EQ(Be(file, 44, 8), footer);
    EXPECT_EQ(Be(file, footer + 28, 8), footer);
    EXPECT_EQ(Be(file, footer + 44, 8), footer);
    const std::string duration("\x02\x02\x00\x08\x00\x00\x00\x00\x00\x00\x00\x06", 12);
    EXPECT_NE(file.find(duration), std::string::npos);
    EXPECT_EQ(file.substr(0, kHeaderSize).find(std::string("\x02\x02\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00", 12)),
              std::string::npos);
}

TEST(CIMXMXFWriter, InstanceIdentifiersAreFreshAndKeptAtClose)
{
    const fs::path samples = SampleCopy("imx-ids");
    Opened o = OpenWriter(samples);
    ASSERT_EQ(o.writer->Begin(Info(true, 50)), 0);
    const std::vector<TimeUUID> ids = o.writer->GetUIDs();
    ASSERT_GE(ids.size(), 21u);
    const std::vector<uint8_t> picture = Picture(300);
    ASSERT_EQ(o.writer->AddFrame(picture.data(), 300, nullptr, 0, 0), 0);
    ASSERT_EQ(o.writer->Close(), 0);
    const std::string file = ReadWholeFile(o.file);
    const std::string sample = ReadWholeFile(samples / "IMX_Header.MXF");
    for (const TimeUUID& id : ids)
        EXPECT_NE(file.find(std::string(reinterpret_cast<const char*>(id.bytes), 16)), std::string::npos);
    // No instance identifier of the sample is left in the metadata.
    const std::string placeholder("\x3C\x0A\x00\x10KORV", 8);
    EXPECT_NE(sample.find(placeholder), std::string::npos);
    EXPECT_EQ(file.substr(0, 5120).find(placeholder), std::string::npos);
}

TEST(CIMXMXFWriter, BadPicturesAndRatesAreRefused)
{
    const fs::path samples = SampleCopy("imx-refuse");
    Opened o = OpenWriter(samples);
    EXPECT_EQ(o.writer->Begin(Info(true, 45)), CIMXMXFWriter::kUnsupportedRate);
    EXPECT_EQ(o.writer->Begin(Info(false, 60)), CIMXMXFWriter::kUnsupportedRate);
    ASSERT_EQ(o.writer->Begin(Info(true, 30)), 0);
    std::vector<uint8_t> picture = Picture(64);
    EXPECT_EQ(o.writer->AddFrame(picture.data(), 4, nullptr, 0, 0), CIMXMXFWriter::kBadPicture);
    EXPECT_EQ(o.writer->AddFrame(nullptr, 0, nullptr, 0, 0), CIMXMXFWriter::kBadPicture);
    picture[3] = 0xB5;
    EXPECT_EQ(o.writer->AddFrame(picture.data(), 64, nullptr, 0, 0), CIMXMXFWriter::kBadPicture);
    std::vector<uint32_t> audio(4000 * 8);
    picture[3] = 0xB3;
    EXPECT_EQ(o.writer->WriteIMXFrame(picture.data(), 64, audio.data(), 4000), CIMXMXFWriter::kBadSound);
    EXPECT_EQ(o.writer->AddFrame(picture.data(), 64, nullptr, 0, 0), 0);
    EXPECT_EQ(o.writer->GetFramesWritten(), 1u);
    EXPECT_EQ(o.writer->Close(), 0);
}

TEST(CIMXMXFWriter, SpoiledSampleFilesAreRefused)
{
    struct Case {
        const char* name;
        size_t at;  // byte of IMX_Header.MXF to change, or the size to cut it to
        bool cut;
        uint8_t value;
        int result;
    } cases[] = {
        {"short", 400, true, 0, CIMXMXFWriter::kCorruptedHeader},
        {"no-pack", 5, false, 0x77, CIMXMXFWriter::kCorruptedHeader},
        {"header-bytes", 56, false, 0x7F, CIMXMXFWriter::kCorruptedHeader},
    };
    for (const Case& c : cases) {
        const fs::path samples = SampleCopy(std::string("imx-spoiled-") + c.name);
        std::string header = ReadWholeFile(samples / "IMX_Header.MXF");
        if (c.cut)
            header.resize(c.at);
        else
            header[c.at] = static_cast<char>(c.value);
        testsupport::WriteWholeFile(samples / "IMX_Header.MXF", header);
        Opened o = OpenWriter(samples);
        EXPECT_EQ(o.writer->Begin(Info(true, 50)), c.result) << c.name;
        EXPECT_EQ(o.writer->Close(), 0) << c.name;
    }

    // An item whose length differs from the value the writer puts there (StoredHeight as 2 bytes).
    const fs::path samples = SampleCopy("imx-spoiled-item");
    std::string header = ReadWholeFile(samples / "IMX_Header.MXF");
    const size_t item = header.find(std::string("\x32\x02\x00\x04", 4));
    ASSERT_NE(item, std::string::npos);
    header[item + 3] = 2;
    header[item + 6] = 0x32;  // the next item's tag follows after two bytes
    testsupport::WriteWholeFile(samples / "IMX_Header.MXF", header);
    Opened o = OpenWriter(samples);
    EXPECT_EQ(o.writer->Begin(Info(true, 50)), CIMXMXFWriter::kCorruptedHeader);

    // Missing sample files.
    const fs::path none = testsupport::FreshDir("imx-no-samples");
    Opened n = OpenWriter(none);
    EXPECT_EQ(n.writer->Begin(Info(true, 50)), CIMXMXFWriter::kHeaderSampleFailed);
    const fs::path noSystem = SampleCopy("imx-no-system");
    fs::remove(noSystem / "IMX_System.MXF");
    Opened s = OpenWriter(noSystem);
    EXPECT_EQ(s.writer->Begin(Info(true, 50)), CIMXMXFWriter::kSystemSampleFailed);
}

TEST(CIMXMXFWriter, WithoutAFooterSampleTheHeaderNamesNoFooterAndCloseFails)
{
    const fs::path samples = SampleCopy("imx-no-footer");
    fs::remove(samples / "IMX_Footer.MXF");
    Opened o = OpenWriter(samples);
    ASSERT_EQ(o.writer->Begin(Info(true, 30)), 0);
    const std::vector<uint8_t> picture = Picture(300);
    ASSERT_EQ(o.writer->AddFrame(picture.data(), 300, nullptr, 0, 0), 0);
    EXPECT_EQ(o.writer->Close(), CIMXMXFWriter::kFooterFailed);
    const std::string file = ReadWholeFile(o.file);
    EXPECT_EQ(file.size(), kHeaderSize + CIMXMXFWriter::kSystems[0].editUnit);
    EXPECT_EQ(Be(file, 44, 8), 0u);
}

}  // namespace

namespace
{
TEST(CIMXMXFWriter, PacingHoldsTheRate)
{
    const fs::path samples = SampleCopy("imx-pacing");
    Opened o = OpenWriter(samples);
    EXPECT_EQ(o.writer->SetPacingRate(1000), 0);  // 100 Mb/s: 17 ms per 30 Mb/s edit unit
    ASSERT_EQ(o.writer->Begin(Info(true, 30)), 0);
    const std::vector<uint8_t> picture = Picture(300);
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < 6; ++f)
        ASSERT_EQ(o.writer->AddFrame(picture.data(), 300, nullptr, 0, 0), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(80));
    EXPECT_EQ(o.writer->Close(), 0);
}
}  // namespace
