#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parvex/CSdiFrameTimecode.h"
#include "tests/reading/VitcLineGenerator.h"
#include "tests/support/FileTestKit.h"

using vitctest::Timecode;
using vitctest::VitcBits;
using vitctest::VitcLine;

namespace
{

const Timecode kTimecodes[] = {
    {23, 59, 59, 24, true}, {0, 0, 0, 0, false},     {10, 11, 12, 13, false},
    {1, 2, 3, 4, true},     {19, 48, 37, 29, false}, {9, 9, 9, 9, true},
};

uint32_t Packed(const Timecode& tc)
{
    return tc.hours << 24 | tc.minutes << 16 | tc.seconds << 8 | tc.frames;
}

std::string Text(const Timecode& tc)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", tc.hours, tc.minutes, tc.seconds, tc.frames);
    return text;
}

}  // namespace

TEST(SdiFrameTimecode, DecodesGeneratedLines)
{
    CSdiFrameTimecode decoder;
    for (const Timecode& tc : kTimecodes)
        for (double start : {0.0, 12.0, 24.0, 36.5})
            for (bool soft : {false, true}) {
                const auto line = VitcLine(tc, start, soft);
                EXPECT_EQ(decoder.DecodeLine(line.data(), line.size()), Packed(tc))
                    << Text(tc) << " start " << start << " soft " << soft;
                EXPECT_EQ(decoder.IsOddField(), tc.oddField) << Text(tc);
            }
    const auto line = VitcLine({23, 59, 59, 24, true});
    EXPECT_EQ(decoder.DecodeLine(line.data(), line.size()), 0x173B3B18u);
    EXPECT_TRUE(decoder.IsOddField());
}

TEST(SdiFrameTimecode, RefusesBrokenLines)
{
    CSdiFrameTimecode decoder;
    const Timecode tc{10, 11, 12, 13, false};
    const std::vector<uint8_t> black = VitcLine(std::array<uint8_t, 90>{}, 24, false);
    EXPECT_EQ(decoder.DecodeLine(black.data(), black.size()), CSdiFrameTimecode::kNoTimecode);

    // No white sample among the first 200.
    const auto late = VitcLine(VitcBits(tc), 201, false);
    EXPECT_EQ(decoder.DecodeLine(late.data(), late.size()), CSdiFrameTimecode::kNoTimecode);

    // The first bit cell black: the sync pair reversed.
    auto bits = VitcBits(tc);
    std::swap(bits[0], bits[1]);
    auto line = VitcLine(bits, 24, false);
    EXPECT_EQ(decoder.DecodeLine(line.data(), line.size()), CSdiFrameTimecode::kNoTimecode);

    // One data bit flipped after the check bits were made.
    for (int flipped : {3, 44, 75, 88}) {
        bits = VitcBits(tc);
        bits[flipped] ^= 1;
        line = VitcLine(bits, 24, false);
        EXPECT_EQ(decoder.DecodeLine(line.data(), line.size()), CSdiFrameTimecode::kNoTimecode) << flipped;
    }

    // A line cut short is never read past its end.
    line = VitcLine(tc);
    std::vector<uint8_t> cut(line.begin(), line.begin() + 600);
    EXPECT_EQ(decoder.DecodeLine(cut.data(), cut.size()), CSdiFrameTimecode::kNoTimecode);
    EXPECT_EQ(decoder.DecodeLine(nullptr, 1440), CSdiFrameTimecode::kNoTimecode);
    EXPECT_EQ(decoder.DecodeLine(line.data(), line.size()), Packed(tc));
}

// ffmpeg's readvitc filter reads the same lines to the same timecodes.
TEST(SdiFrameTimecode, FfmpegReadsTheSameTimecodes)
{
    constexpr int kWidth = 720, kHeight = 8, kVitcRow = 3;
    const auto dir = testsupport::FreshDir("vitc-ffmpeg");
    const auto raw = dir / "frames.uyvy";
    const auto meta = dir / "meta.txt";
    std::vector<std::string> expected;
    {
        std::ofstream out(raw, std::ios::binary);
        for (const Timecode& tc : kTimecodes)
            for (bool soft : {false, true}) {
                std::vector<uint8_t> frame = VitcLine(std::array<uint8_t, 90>{}, 0, false);
                std::vector<uint8_t> image;
                for (int row = 0; row < kHeight; ++row) {
                    const auto line = row == kVitcRow ? VitcLine(tc, 24, soft) : frame;
                    image.insert(image.end(), line.begin(), line.end());
                }
                out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
                expected.push_back(Text(tc));
                CSdiFrameTimecode decoder;
                EXPECT_EQ(decoder.DecodeLine(image.data() + kVitcRow * 2 * kWidth, 2 * kWidth), Packed(tc));
            }
    }
    const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt uyvy422 -s " +
                                std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -r 25 -i '" + raw.string() +
                                "' -vf 'readvitc,metadata=mode=print:file=" + meta.string() + "' -f null -";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(meta);
    std::vector<std::string> found;
    std::string row;
    while (std::getline(in, row)) {
        const std::string key = "lavfi.readvitc.tc_str=";
        if (row.rfind(key, 0) == 0)
            found.push_back(row.substr(key.size()));
    }
    EXPECT_EQ(found, expected);
}
