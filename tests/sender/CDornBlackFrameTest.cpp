// Black frames of every codec from libBlackFrames.so decode as black with ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sender/CDornBlackFrame.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
namespace fs = std::filesystem;

struct BlackCase {
    int nCodec;
    int nFormat;
    int64_t nBitrate;
    uint8_t nPictureCode;
    bool bProgressive;
    const char* pszName;
    const char* pszDemuxer;
    uint32_t nSize;  // of the prepared frame
};

constexpr BlackCase kCases[] = {
    {4, 2, 50000000, 3, false, "FRAME_IMX_50_625", "mpegvideo", 250000},
    {4, 1, 50, 4, false, "FRAME_IMX_50_525", "mpegvideo", 208541},
    {3, 2, 40000, 3, false, "FRAME_IMX_40_625", "mpegvideo", 200000},
    {4, 2, 30000000, 3, false, "FRAME_IMX_30_625", "mpegvideo", 150000},
    {9, 2, 50000000, 3, false, "FRAME_DVCPRO_50_625", "dv", 288000},
    {9, 1, 50000000, 4, false, "FRAME_DVCPRO_50_525", "dv", 240000},
    {8, 4, 100000000, 3, false, "FRAME_DVCPRO_HD_1080I50", "dv", 576000},
    {8, 4, 100000000, 4, false, "FRAME_DVCPRO_HD_1080I60", "dv", 480000},
    {5, 4, 120000000, 3, false, "FRAME_Hydrel_LO_1080I50", "dnxhd", 2 * 0x4A000},
    {5, 4, 145000000, 4, false, "FRAME_Hydrel_LO_1080I60", "dnxhd", 2 * 0x4A000},
    {5, 4, 185000000, 3, false, "FRAME_Hydrel_HI_1080I50", "dnxhd", 2 * 0x70000},
};

// Mean luma of the first picture ffmpeg decodes from the file.
double MeanLuma(const fs::path& file, const char* demuxer)
{
    const std::string gray =
        writertest::Shell(std::string("ffmpeg -nostdin -v error -f ") + demuxer + " -i " + file.string() +
                          " -frames:v 1 -vf extractplanes=y -f rawvideo -pix_fmt gray - 2>/dev/null");
    if (gray.empty())
        return -1;
    double sum = 0;
    for (unsigned char c : gray)
        sum += c;
    return sum / static_cast<double>(gray.size());
}

TEST(DornBlackFrame, EveryCodecDecodesAsBlack)
{
    const fs::path dir = testsupport::FreshDir("dorn-black");
    for (const BlackCase& c : kCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(CDornBlackFrame::ResourceName(c.nCodec, c.nFormat, c.nBitrate, c.bProgressive, 0, c.nPictureCode),
                  c.pszName);
        CDornBlackFrame frame;
        frame.SetLibrary(KORVO_BLACKFRAMES_LIBRARY);
        ASSERT_EQ(frame.LoadBlackFrame(c.nCodec, c.nFormat, c.nBitrate, c.bProgressive, 0, c.nPictureCode), c.nSize);
        const fs::path file = dir / c.pszName;
        testsupport::WriteWholeFile(file, std::string(reinterpret_cast<const char*>(frame.GetData()), frame.GetSize()));
        const double luma = MeanLuma(file, c.pszDemuxer);
        EXPECT_NEAR(luma, 16.0, 1.0);
    }
}

TEST(DornBlackFrame, UnknownCombinationsAndAMissingLibraryFail)
{
    testsupport::LogCapture log("");
    CDornBlackFrame frame;
    frame.SetLibrary(KORVO_BLACKFRAMES_LIBRARY);
    EXPECT_EQ(frame.LoadBlackFrame(4, 2, 45000000, false, 0, 3), 0u);  // 45 Mb/s IMX does not exist
    EXPECT_EQ(frame.LoadBlackFrame(0, 0, 0, false, 0, 3), 0u);
    EXPECT_TRUE(log.Has("CDornsend::LoadBlackFrame() : *** ERROR : Unsupported codec [0]!"));
    EXPECT_EQ(frame.LoadBlackFrame(4, 2, 50000000, true, 0, 3), 0u);  // 625 is interlaced only
    EXPECT_EQ(frame.LoadBlackFrame(5, 4, 0, false, 0, 3), 0u);
    EXPECT_EQ(frame.GetSize(), 0u);
    EXPECT_EQ(CDornBlackFrame::ResourceName(5, 4, 150, false, 0, 4), "FRAME_Hydrel_LO_1080I60");
    EXPECT_EQ(CDornBlackFrame::ResourceName(5, 4, 200000, false, 0, 3), "FRAME_Hydrel_HI_1080I50");
    EXPECT_EQ(CDornBlackFrame::ResourceName(8, 3, 100, true, 2, 7), "FIELD2_DVCPRO_HD_720P60");

    frame.SetLibrary((testsupport::TestRoot() / "no-such-library.so").string());
    EXPECT_EQ(frame.LoadBlackFrame(4, 2, 50000000, false, 0, 3), 0u);
    EXPECT_TRUE(log.Has("CDornsend::LoadBlackFrame() : *** Black frames DLL not found [BlackFrames.dll]"));
}

}  // namespace
