#include <gtest/gtest.h>

#include <string>

#include "reading/framework/FileTypes.h"

TEST(FileTypes, NameTablesAreIndexedById)
{
    for (int32_t id = 0; id < kFileTypeCount; ++id)
        EXPECT_EQ(theFileTypeNames[id].nId, id);
    for (int32_t id = 0; id < kVideoTypeCount; ++id)
        EXPECT_EQ(theVideoTypeNames[id].nId, id);
    EXPECT_STREQ(FileTypeName(KorvoIMX_File), "KorvoIMX_File");
    EXPECT_STREQ(FileTypeName(38), "Rix_XmlLink");
    EXPECT_STREQ(FileTypeName(56), "QTREFProRes_File");
    EXPECT_STREQ(FileTypeName(57), "?");
    EXPECT_STREQ(FileTypeName(-1), "?");
    EXPECT_STREQ(VideoTypeName(0), "Unknown_Video");
    EXPECT_STREQ(VideoTypeName(24), "MPEG1_Video");
    EXPECT_STREQ(VideoTypeName(25), "?");
    EXPECT_EQ(IMX_File, 12);
    EXPECT_EQ(KorvoIMX_File, 31);
}

TEST(FileTypes, ServerCodecCodes)
{
    constexpr uint32_t kProgressive = 1u << 22;
    struct Case {
        int32_t codec;
        uint32_t format;
        bool known;
        FileType file;
        VideoType clipVideo;
        VideoType linkVideo;
    };
    const Case cases[] = {
        {1, 0, true, MJPEG_File, Mjpeg_Video, Mjpeg_Video},
        {6, kProgressive, true, MJPEG_File, MjpegFrame_Video, MjpegFrame_Video},
        {7, 0, true, MJPEG_File, MjpegLowRes_Video, Mjpeg_Video},
        {7, kProgressive, true, MJPEG_File, MjpegLowRes_Video, MjpegFrame_Video},
        {2, 0, true, KorvoIMX_File, IMX30_Video, IMX30_Video},
        {3, 0, true, KorvoIMX_File, IMX40_Video, IMX40_Video},
        {4, kProgressive, true, KorvoIMX_File, IMX50_Video, IMX50_Video},
        {5, 0, true, MJPEG_File, Mjpeg4_Video, Mjpeg4_Video},
        {13, 0, true, MJPEG_File, Mjpeg4_Video, Mjpeg4_Video},
        {8, 0, true, KorvoHydrel_File, Hydrel_Video, Hydrel_Video},
        {9, 0, true, KorvoHydrel_File, HydrelHigh_Video, HydrelHigh_Video},
        {10, 0, true, KorvoHydrel_File, HydrelHigh_Video, HydrelHigh_Video},
        {11, 0, true, KorvoMPEGfield_File, MPEGField_Video, MPEGField_Video},
        {12, 0, true, KorvoMPEGfield_File, MPEGField_Video, MPEGField_Video},
        {14, 0, true, KorvoProRes_File, ProRes_Video, ProRes_Video},
        {15, 0, true, KorvoProRes_File, ProResHigh_Video, ProResHigh_Video},
        {16, 0, true, KorvoMPEGHD_File, MPEGFrame_Video, Unknown_Video},
        {22, 0, true, KorvoDVCPRO_File, DVCPro50_Video, DVCPro50_Video},
        {23, 0, true, KorvoDVCPRO_File, DVCPro100_Video, DVCPro100_Video},
        {23, kProgressive, true, KorvoDVCPRO_File, DVCPro720P_Video, DVCPro100_Video},
        {0, 0, false, Unknown_File, Unknown_Video, Unknown_Video},
        {17, 0, false, Unknown_File, Unknown_Video, Unknown_Video},
        {21, 0, false, Unknown_File, Unknown_Video, Unknown_Video},
        {24, 0, false, Unknown_File, Unknown_Video, Unknown_Video},
        {-1, 0, false, Unknown_File, Unknown_Video, Unknown_Video},
    };
    for (const Case& c : cases) {
        FileType file = Unknown_File;
        VideoType video = Unknown_Video;
        EXPECT_EQ(ClipCodecToTypes(c.codec, c.format, &file, &video), c.known) << c.codec;
        EXPECT_EQ(file, c.file) << c.codec;
        EXPECT_EQ(video, c.clipVideo) << c.codec;
        EXPECT_EQ(LinkCodecToVideoType(c.codec, c.format), c.linkVideo) << c.codec;
    }
}
