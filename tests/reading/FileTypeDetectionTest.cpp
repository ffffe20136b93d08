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

// ---- Clip files written by the project's writer ----

// The bytes 8 to 10 of an MPEG-2 sequence header for a bit rate in units of 400 bit/s.
uint32_t RateWord(uint32_t units)
{
    return (units >> 10 & 0xFF) | (units >> 2 & 0xFF) << 8 | (units & 3) << 22;
}

struct ClipCase {
    const char* pszName;
    uint32_t nBlockFormat;
    int nVideoSystem;  // 1 525, 2 625, 3 720, 4 1080
    int nVideoFormat;
    int nBitrate;  // 0 leaves the codec code 0 for IMX
    int nQuality;  // Hydrel or ProRes quality
    bool bProgressive;
    uint32_t nRateWord;  // of the pictures' sequence headers
    FileType nFile;
    int32_t nVideo;
};

void PrintTo(const ClipCase& c, std::ostream* os)
{
    *os << c.pszName;
}

std::string WriteClip(const ClipCase& c)
{
    const fs::path path = FreshDir(std::string("detect-") + c.pszName) / "clip.mxf";
    KorvoMXFInfo info;
    info._nStandard = c.nVideoSystem == 1 ? 4 : 3;
    info._nVideoSystem = c.nVideoSystem;
    info._nAspectRatio = 3;
    info._bProgressive = c.bProgressive;
    info._nVideoFormat = c.nVideoFormat;
    info._nAudioGroups = 0;
    info._nBitrate = c.nBitrate;
    info._nHydrelQuality = c.nQuality;
    info._nProResQuality = c.nQuality;
    const uint32_t first = 90000;
    const uint32_t fieldsPerPicture = c.nVideoFormat == 4 || c.nVideoFormat == 8 || c.nVideoFormat == 9 ? 2 : 1;
    const uint32_t pictures = 6;
    info._nFirstField = first;
    info._nOutField = first + pictures * fieldsPerPicture;
    info.SetMaterialId("A1B2C3D4");
    KorvoMXFClip clip;
    clip.SetUmId("A1B2C3D4");
    clip.SetName("detected");
    EXPECT_EQ(info.AddClip(clip), KORVOMXF_OK);

    KorvoMXFWriter writer;
    EXPECT_EQ(writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, c.nBlockFormat), KORVOMXF_OK);
    EXPECT_EQ(writer.SetInfo(info), KORVOMXF_OK);
    EXPECT_EQ(writer.SetFirstField(first), KORVOMXF_OK);
    for (uint32_t i = 0; i < pictures; ++i) {
        KorvoMXFVideoInfo video;
        video._nVideoFormat = static_cast<uint32_t>(c.nVideoFormat);
        video._nSize = 20000;
        video._nWidth = c.nVideoSystem >= 3 ? 1920 : 720;
        video._nLines = c.nVideoSystem == 1 ? 480 : c.nVideoSystem == 2 ? 576 : c.nVideoSystem == 3 ? 720 : 1080;
        Bytes data(video._nSize, static_cast<uint8_t>(i));
        const uint8_t header[12] = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x60, 0x33, static_cast<uint8_t>(c.nRateWord),
                                    static_cast<uint8_t>(c.nRateWord >> 8), static_cast<uint8_t>(c.nRateWord >> 16),
                                    0};
        std::copy(std::begin(header), std::end(header), data.begin());
        EXPECT_EQ(writer.AddPicture(1, &video, data.data(), 0, nullptr, nullptr, 0, nullptr, nullptr), KORVOMXF_OK);
    }
    EXPECT_EQ(writer.Close(), KORVOMXF_OK);
    return path.string();
}

class DetectWrittenClips : public ::testing::TestWithParam<ClipCase>
{
};

TEST_P(DetectWrittenClips, TypesFromTheClipInformationOrTheFirstBlock)
{
    const ClipCase& c = GetParam();
    const std::string path = WriteClip(c);
    const Detected d = Detect(path);
    EXPECT_EQ(d.nFile, c.nFile) << FileTypeName(d.nFile);
    EXPECT_EQ(d.nVideo, c.nVideo) << VideoTypeName(d.nVideo);
    // Without the video type asked for, the file type is the same.
    EXPECT_EQ(GetFileTypeFromSource(path.c_str(), nullptr), c.nFile);
}

constexpr uint32_t k50 = 125000, k40 = 100000, k30 = 75000, k18 = 45000;  // 400 bit/s units
constexpr uint32_t kTbl2k = KORVOMXF_FORMAT_TBL2K_2MB, kBavd2 = KORVOMXF_FORMAT_BAVD_2MB,
                   kBavd8 = KORVOMXF_FORMAT_BAVD_8MB, kBavd8v257 = KORVOMXF_FORMAT_BAVD_8MB_V257;

INSTANTIATE_TEST_SUITE_P(
    Clips, DetectWrittenClips,
    ::testing::Values(
        // Codec codes the clip information names.
        ClipCase{"Tbl2k_SdMjpeg", kTbl2k, 2, 1, 0, 0, false, 0, MJPEG_File, Mjpeg_Video},
        ClipCase{"Tbl2k_HdMjpeg", kTbl2k, 4, 1, 0, 0, false, 0, MJPEG_File, Mjpeg_Video},
        ClipCase{"Tbl2k_Imx50", kTbl2k, 2, 4, 50, 0, false, RateWord(k50), KorvoIMX_File, IMX50_Video},
        ClipCase{"Bavd2_Imx30", kBavd2, 2, 4, 30, 0, false, RateWord(k30), KorvoIMX_File, IMX30_Video},
        ClipCase{"Bavd2_SdMpeg", kBavd2, 1, 3, 0, 0, false, 0, KorvoMPEGfield_File, MPEGField_Video},
        ClipCase{"Bavd8_HdMpeg", kBavd8, 4, 3, 0, 0, false, 0, KorvoMPEGfield_File, MPEGField_Video},
        ClipCase{"Bavd8_HdMpegFrame", kBavd8, 4, 4, 0, 0, false, 0, KorvoMPEGHD_File, MPEGFrame_Video},
        ClipCase{"Bavd8v257_Dvcpro50", kBavd8v257, 2, 9, 0, 0, false, 0, KorvoDVCPRO_File, DVCPro50_Video},
        ClipCase{"Bavd8_DvcproHd1080", kBavd8, 4, 8, 0, 0, false, 0, KorvoDVCPRO_File, DVCPro100_Video},
        ClipCase{"Bavd8_DvcproHd720p", kBavd8, 3, 7, 0, 0, true, 0, KorvoDVCPRO_File, DVCPro720P_Video},
        ClipCase{"Bavd8_Hydrel", kBavd8, 4, 5, 0, 1, false, 0, KorvoHydrel_File, Hydrel_Video},
        ClipCase{"Bavd8_HydrelHigh", kBavd8, 4, 5, 0, 2, false, 0, KorvoHydrel_File, HydrelHigh_Video},
        ClipCase{"Bavd8_ProRes", kBavd8, 4, 6, 0, 1, false, 0, KorvoProRes_File, ProRes_Video},
        ClipCase{"Bavd8_ProResHq", kBavd8, 4, 6, 0, 2, false, 0, KorvoProRes_File, ProResHigh_Video},
        // Codec code 0: the first block decides, from the 2k table at its end or the BAVD header at its start.
        ClipCase{"Tbl2k_HydrelNoCode", kTbl2k, 4, 5, 0, 0, false, 0, KorvoHydrel_File, Hydrel_Video},
        ClipCase{"Tbl2k_ImxNoCode50", kTbl2k, 2, 4, 0, 0, false, RateWord(k50), KorvoIMX_File, IMX50_Video},
        ClipCase{"Tbl2k_ImxNoCode30", kTbl2k, 2, 4, 0, 0, false, RateWord(k30), KorvoIMX_File, IMX30_Video},
        ClipCase{"Tbl2k_ImxNoCode40", kTbl2k, 2, 4, 0, 0, false, RateWord(k40), KorvoIMX_File, IMX40_Video},
        ClipCase{"Tbl2k_ImxNoCodeOther", kTbl2k, 2, 4, 0, 0, false, RateWord(k18), KorvoMPEGHD_File, MPEGFrame_Video},
        ClipCase{"Bavd2_ImxNoCode40", kBavd2, 2, 4, 0, 0, false, RateWord(k40), KorvoIMX_File, IMX40_Video},
        ClipCase{"Bavd8_ImxNoCode30", kBavd8, 1, 4, 0, 0, false, RateWord(k30), KorvoIMX_File, IMX30_Video},
        ClipCase{"Bavd8_HydrelNoCode", kBavd8, 4, 5, 0, 0, false, 0, KorvoHydrel_File, Hydrel_Video},
        ClipCase{"Bavd2_HydrelNoCode", kBavd2, 4, 5, 0, 0, false, 0, KorvoHydrel_File, Hydrel_Video},
        ClipCase{"Bavd2_SdMjpeg4NoCode", kBavd2, 2, 2, 0, 0, false, 0, MJPEG_File, Mjpeg4_Video},
        // A ProRes block without its quality names no type that detection knows.
        ClipCase{"Bavd8_ProResNoCode", kBavd8, 4, 6, 0, 0, false, 0, Unknown_File, Unknown_Video}),
    [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
