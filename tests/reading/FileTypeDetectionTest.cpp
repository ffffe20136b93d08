// File-type detection and the reader factory over every kind of test file: ffmpeg-made media, byte-built
// files, clip files written by the project's writer in each block layout and codec, link files and server clip
// names; and files that are nothing at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <typeindex>
#include <vector>

#include "reading/formats/CAviFileDataReader.h"
#include "reading/formats/CDVDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CQTMpeg4DataReader.h"
#include "reading/formats/CWavDataReader.h"
#include "reading/framework/CLocalFileReader.h"
#include "reading/framework/DataReaderFactory.h"
#include "reading/framework/FileTypeDetection.h"
#include "reading/mxf/CMXFIMXProxyReader.h"
#include "reading/mxf/CMXFMPEGAudioESReader.h"
#include "reading/mxf/CMXFOP1aReader.h"
#include "reading/mxf/CMXFOPAtomReader.h"
#include "reading/mxf/CMXFP2Reader.h"
#include "reading/mxf/CMXFXDCAMHDReader.h"
#include "tests/reading/FormatMedia.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/FileTestKit.h"
#include "writers/KorvoMXFWriter.h"

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::FreshDir;
using testsupport::WriteWholeFile;

const std::type_index kNone = typeid(void);

struct Detected {
    FileType nFile;
    int32_t nVideo;
};

Detected Detect(const std::string& path)
{
    int32_t video = -7;
    const FileType file = GetFileTypeFromSource(path.c_str(), &video);
    return {file, video};
}

// The factory builds the reader class expected for the kind, and the reader delivers a first unit.
void ExpectReader(const std::string& path, DataKind kind, std::type_index expected)
{
    SCOPED_TRACE(kind == Audio_Data ? "audio" : "video");
    std::unique_ptr<CDataReader> reader = CreateDataReader(path.c_str(), Unknown_File, kind);
    if (expected == kNone) {
        EXPECT_EQ(reader, nullptr);
        return;
    }
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(std::type_index(typeid(*reader)), expected);
    std::vector<uint8_t> room(8 << 20);
    uint8_t* p = room.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&p, static_cast<uint32_t>(room.size()), &size, nullptr), CDataReader::kDataOk);
    EXPECT_GT(size, 0u);
}

struct MediaCase {
    const char* pszName;
    FileType nFile;
    int32_t nVideo;
    std::type_index video;
    std::type_index audio;
};

void PrintTo(const MediaCase& c, std::ostream* os)
{
    *os << c.pszName;
}

void CheckMedia(const std::string& path, const MediaCase& c)
{
    const Detected d = Detect(path);
    EXPECT_EQ(d.nFile, c.nFile) << FileTypeName(d.nFile);
    EXPECT_EQ(d.nVideo, c.nVideo) << VideoTypeName(d.nVideo);
    ExpectReader(path, Video_Data, c.video);
    ExpectReader(path, Audio_Data, c.audio);
}

// ---- ffmpeg-made MXF files ----

class DetectMxfMedia : public ::testing::TestWithParam<MediaCase>
{
};

TEST_P(DetectMxfMedia, TypesAndReaders)
{
    CheckMedia(mxftest::Media(GetParam().pszName), GetParam());
}

const std::type_index kOP1aPicture = typeid(CMXFOP1aPictureReader);
const std::type_index kOP1aSound = typeid(CMXFOP1aSoundReader);

INSTANTIATE_TEST_SUITE_P(
    Media, DetectMxfMedia,
    ::testing::Values(MediaCase{"imx50_625", IMX_File, IMX50_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"imx40_625", IMX_File, IMX40_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"imx30_625", IMX_File, IMX30_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"imx50_525", IMX_File, IMX50_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"imx40_525", IMX_File, IMX40_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"imx30_525", IMX_File, IMX30_Video, kOP1aPicture, kOP1aSound},
                      // IEC DV and DV-based 25 and 50 Mb/s, frame-wrapped.
                      MediaCase{"dv25_625", SonyDV_File, DV25_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dvcpro25_625", MXFDVFrame_File, DVCPro25_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dv25_525", MXFDVFrame_File, DVCPro25_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dvcpro50_625", MXFDVFrame_File, DVCPro50_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dvcprohd_720p50", OP1ADVCPHD_File, DVCPro720P_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"xdcamhd", HDXDCAM_File, HDV_Video, typeid(CMXFXDCAMHDVideoReader),
                                typeid(CMXFXDCAMHDAudioReader)},
                      MediaCase{"clip_A01", OPAtomAudio_File, Unknown_Video, kNone, typeid(CMXFOPAtomAudioReader)}),
    [](const auto& info) { return std::string(info.param.pszName); });

// ---- ffmpeg-made QuickTime, MP4, AVI, WAV and DV files, and DVCPRO frames ----

class DetectFormatMedia : public ::testing::TestWithParam<MediaCase>
{
};

TEST_P(DetectFormatMedia, TypesAndReaders)
{
    CheckMedia(formatmedia::Media(GetParam().pszName).string(), GetParam());
}

const std::type_index kQT = typeid(CQTDataReader);
const std::type_index kAvi = typeid(CAviFileDataReader);
const std::type_index kDVVideo = typeid(CDVVideoDataReader);
const std::type_index kDVAudio = typeid(CDVAudioDataReader);

INSTANTIATE_TEST_SUITE_P(
    Media, DetectFormatMedia,
    ::testing::Values(MediaCase{"qt_dvcp.mov", QTDV_File, DV25_Video, kQT, kQT},
                      MediaCase{"qt_dvc.mov", QTDV_File, DV25_Video, kQT, kQT},
                      MediaCase{"qt_dvpp.mov", QTDV_File, DVCPro25_Video, kQT, kQT},
                      MediaCase{"qt_dv5p.mov", QTDV_File, DVCPro50_Video, kQT, kQT},
                      MediaCase{"qt_dvh5.mov", QTDVHD_File, DVCPro100_Video, kQT, kQT},
                      MediaCase{"qt_apch.mov", QTProRes_File, ProResHigh_Video, kQT, kQT},
                      MediaCase{"qt_apcn.mov", QTProRes_File, ProRes_Video, kQT, kQT},
                      MediaCase{"qt_mjpa.mov", QTJPG_File, Mjpeg_Video, kQT, kQT},
                      MediaCase{"qt_mx5p.mov", QTIMX_File, IMX50_Video, kQT, kQT},
                      // The MPEG-4 video reader refuses ffmpeg's four-byte descriptor lengths.
                      MediaCase{"mp4v.mp4", P2Proxy_File, MP4ART_Video, kNone, typeid(CQTMpeg4AudioDataReader)},
                      MediaCase{"avi_dvsd.avi", AVIDV_File, DV25_Video, kAvi, kAvi},
                      MediaCase{"avi_dv25.avi", AVIDV_File, DVCPro25_Video, kAvi, kAvi},
                      MediaCase{"avi_dv50.avi", AVIDV_File, DVCPro50_Video, kAvi, kAvi},
                      MediaCase{"avi_mmes.avi", AVIIMX_File, IMX50_Video, kAvi, kAvi},
                      MediaCase{"wav_s16.wav", WAVE_File, Unknown_Video, kNone, typeid(CWavDataReader)},
                      // Float samples are not for the WAV reader.
                      MediaCase{"wav_f32.wav", WAVE_File, Unknown_Video, kNone, kNone},
                      MediaCase{"dv_pal.dv", RawDV_File, DVCPro25_Video, kDVVideo, kDVAudio},
                      MediaCase{"dv_ntsc.dv", RawDV_File, DVCPro25_Video, kDVVideo, kDVAudio},
                      MediaCase{"dv_dv50.dv", RawDV_File, DVCPro50_Video, kDVVideo, kDVAudio},
                      MediaCase{"dv_1080i50.dv", RawDV_File, DVCPro100_Video, kDVVideo, kDVAudio},
                      MediaCase{"dv_720p50.dv", RawDV_File, DVCPro720P_Video, kDVVideo, kDVAudio}),
    [](const auto& info) {
        std::string name = info.param.pszName;
        name[name.find('.')] = '_';
        return name;
    });

struct DifCase {
    const char* pszName;
    int32_t nVideo;
};

TEST(DetectDvcproFrames, RawFramesOfEveryKind)
{
    const fs::path dir = fs::path(KORVO_TEST_DATA_DIR) / "dvcpro";
    const std::string command = "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-dvcpro-frames").string() +
                                " " + dir.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const DifCase cases[] = {{"dvcpro50_625", DVCPro50_Video},      {"dvcpro50_525", DVCPro50_Video},
                             {"dvcprohd_1080i50", DVCPro100_Video}, {"dvcprohd_1080i60", DVCPro100_Video},
                             {"dvcprohd_720p50", DVCPro720P_Video}, {"dvcprohd_720p60", DVCPro720P_Video}};
    for (const DifCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string path = (dir / (std::string(c.pszName) + ".dif")).string();
        const Detected d = Detect(path);
        EXPECT_EQ(d.nFile, RawDV_File);
        EXPECT_EQ(d.nVideo, c.nVideo);
        ExpectReader(path, Video_Data, kDVVideo);
    }
}

}  // namespace
