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

#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "reading/formats/CAviFileDataReader.h"
#include "reading/formats/CDVDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CQTMpeg4DataReader.h"
#include "reading/formats/CWavDataReader.h"
#include "reading/mxf/CMXFIMXProxyReader.h"
#include "reading/mxf/CMXFMPEGAudioESReader.h"
#include "reading/mxf/CMXFOP1aReader.h"
#include "reading/mxf/CMXFOPAtomReader.h"
#include "reading/mxf/CMXFP2Reader.h"
#include "reading/mxf/CMXFXDCAMHDReader.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "reading/parvex/CParvexDVCProVideoDataReader.h"
#include "reading/parvex/CParvexHydrelVideoDataReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "reading/source/CLocalFileReader.h"
#include "tests/reading/FormatMedia.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/support/FileTestKit.h"
#include "writers/parvex/KorvoMXFWriter.h"

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
void ExpectReader(const std::string& path, DataKind kind, std::type_index expected, bool readUnit = true)
{
    SCOPED_TRACE("kind " + std::to_string(kind));
    std::unique_ptr<CDataReader> reader = CreateDataReader(path.c_str(), Unknown_File, kind);
    if (expected == kNone) {
        EXPECT_EQ(reader, nullptr);
        return;
    }
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(std::type_index(typeid(*reader)), expected);
    if (!readUnit)
        return;
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
                      // Every DVCPRO HD raster has the 720p50 file's type.
                      MediaCase{"dvcprohd_720p60", OP1ADVCPHD_File, DVCPro720P_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dvcprohd_1080i50", OP1ADVCPHD_File, DVCPro720P_Video, kOP1aPicture, kOP1aSound},
                      MediaCase{"dvcprohd_1080i60", OP1ADVCPHD_File, DVCPro720P_Video, kOP1aPicture, kOP1aSound},
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
                      MediaCase{"avi_imx40.avi", AVIIMX_File, IMX40_Video, kAvi, kAvi},
                      MediaCase{"avi_imx30.avi", AVIIMX_File, IMX30_Video, kAvi, kAvi},
                      MediaCase{"wav_s24.wav", WAVE_File, Unknown_Video, kNone, typeid(CWavDataReader)},
                      MediaCase{"wav_6ch.wav", WAVE_File, Unknown_Video, kNone, typeid(CWavDataReader)},
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
    const std::string command =
        "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-dvcpro-frames").string() + " " + dir.string();
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
    info._nAudioFormat = 1;
    info._nAudioGroups = 1;
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
        const uint8_t header[12] = {0,
                                    0,
                                    1,
                                    0xB3,
                                    0x2D,
                                    0x02,
                                    0x60,
                                    0x33,
                                    static_cast<uint8_t>(c.nRateWord),
                                    static_cast<uint8_t>(c.nRateWord >> 8),
                                    static_cast<uint8_t>(c.nRateWord >> 16),
                                    0};
        std::copy(std::begin(header), std::end(header), data.begin());
        // One field's audio of the group for each field of the picture.
        parvexclip::ClipSpec clipSpec{};
        clipSpec.nStandard = info._nStandard;
        clipSpec.nAudioGroups = 1;
        std::vector<KorvoMXFAudioInfo> audio;
        Bytes samples;
        for (uint32_t f = 0; f < fieldsPerPicture; ++f) {
            const Bytes field = parvexclip::FieldAudio(clipSpec, i * fieldsPerPicture + f);
            audio.push_back(KorvoMXFAudioInfo{1, static_cast<uint32_t>(field.size()), 4});
            samples.insert(samples.end(), field.begin(), field.end());
        }
        EXPECT_EQ(writer.AddPicture(1, &video, data.data(), fieldsPerPicture, audio.data(), samples.data(), 0, nullptr,
                                    nullptr),
                  KORVOMXF_OK);
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
    const bool known = c.nFile != Unknown_File;
    ExpectReader(path, Video_Data, known ? typeid(CParvexVideoDataReader) : kNone);
    ExpectReader(path, Audio_Data, known ? typeid(CMXF_Parvex_AudioDataReader) : kNone);
    if (c.nFile == KorvoHydrel_File)
        ExpectReader(path, HydrelPadded_Data, typeid(CParvexHydrelVideoDataReader));
}

// DVCPRO frames from ffmpeg, packed as the servers keep them, come back as frames through the factory.
TEST(DetectWrittenDvcpro, FramedKindOnRealFrames)
{
    const parvexclip::ClipSpec clipSpec{
        "DVCPro50_Bavd2MB", KORVOMXF_FORMAT_BAVD_2MB, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 4, true};
    const std::string path = (FreshDir("detect-dvcpro") / "clip.mxf").string();
    parvexclip::ClipWriter writer(clipSpec);
    ASSERT_TRUE(writer.WriteAll(path));
    const Detected d = Detect(path);
    EXPECT_EQ(d.nFile, KorvoDVCPRO_File);
    EXPECT_EQ(d.nVideo, DVCPro50_Video);
    ExpectReader(path, DVCProFrame_Data, typeid(CParvexDVCProVideoDataReader));
    ExpectReader(path, Video_Data, typeid(CParvexVideoDataReader));
    ExpectReader(path, Audio_Data, typeid(CMXF_Parvex_AudioDataReader));
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

// ---- ffmpeg-made MPEG streams: detected, but no reader serves them ----

fs::path StreamMedia(const std::string& name)
{
    static const fs::path dir = [] {
        const fs::path d = fs::path(KORVO_TEST_DATA_DIR) / "streams";
        const std::string command =
            "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-stream-media").string() + " " + d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir / name;
}

class DetectStreamMedia : public ::testing::TestWithParam<MediaCase>
{
};

TEST_P(DetectStreamMedia, TypesAndNoReader)
{
    CheckMedia(StreamMedia(GetParam().pszName).string(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Media, DetectStreamMedia,
                         ::testing::Values(MediaCase{"ts.ts", TS_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"ps1.mpg", PSMPEG1_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"ps2.vob", PSMPEG2_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"es.m2v", ESVideo_File, Unknown_Video, kNone, kNone},
                                           // The next start code follows both 64-byte matrices.
                                           MediaCase{"es_matrices.m2v", ESVideo_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"layer2.mp2", ESAudio_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"layer2_44k.mp2", ESAudio_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"layer3.mp3", ESAudio_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"audio.ac3", ESAC3_File, Unknown_Video, kNone, kNone},
                                           MediaCase{"audio_44k.ac3", ESAC3_File, Unknown_Video, kNone, kNone}),
                         [](const auto& info) {
                             std::string name = info.param.pszName;
                             name[name.find('.')] = '_';
                             return name;
                         });

// ---- Byte-built files ----

std::string WriteBytes(const std::string& name, const Bytes& bytes)
{
    const fs::path path = FreshDir("detect-bytes") / name;
    WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path.string();
}

Bytes WithStart(std::initializer_list<uint8_t> start, size_t size)
{
    Bytes b(size, 0);
    std::copy(start.begin(), start.end(), b.begin());
    return b;
}

struct BytesCase {
    const char* pszName;
    Bytes bytes;
    FileType nFile;
};

TEST(DetectByteBuilt, StartsAndScans)
{
    Bytes ts204(204 * 12, 0);
    for (size_t at = 0; at < ts204.size(); at += 204)
        ts204[at] = 0x47;
    Bytes ts188Late(5000, 0);  // the sync bytes start after some junk
    for (size_t at = 300; at < ts188Late.size(); at += 188)
        ts188Late[at] = 0x47;
    Bytes gop = WithStart({0, 0, 1, 0xB8, 0x08, 0x00, 0x40, 0x00, 0, 0, 1, 0x00}, 2048);
    Bytes badGop = WithStart({0, 0, 1, 0xB8, 0x08, 0x00, 0x40, 0x00, 0, 1, 1, 0x00}, 2048);
    Bytes psLate(4096, 0);
    std::copy_n(Bytes{0, 0, 1, 0xBA, 0x44}.begin(), 5, psLate.begin() + 100);
    Bytes freeFormat(4096, 0);  // MPEG audio headers without a bit rate
    for (size_t at = 0; at + 4 <= freeFormat.size(); at += 4)
        std::copy_n(Bytes{0xFF, 0xFD, 0x04, 0x00}.begin(), 4, freeFormat.begin() + at);
    Bytes aaf(2048, 0);
    std::copy_n("AAF", 3, aaf.begin() + 8);
    const BytesCase cases[] = {
        {"ts204", ts204, TS204_File},
        {"ts188-late", ts188Late, TS_File},
        {"pes-video", WithStart({0, 0, 1, 0xE0, 0x07, 0xEC}, 2048), PESVideo_File},
        {"pes-audio", WithStart({0, 0, 1, 0xC0, 0x07, 0xEC}, 2048), PESAudio_File},
        {"gop", gop, ESVideo_File},
        {"gop-no-next", badGop, Unknown_File},
        {"ps2-late", psLate, PSMPEG2_File},
        {"ps-neither", WithStart({0, 0, 1, 0xBA, 0x04}, 2048), Unknown_File},
        {"mpa-free-format", freeFormat, Unknown_File},
        {"aaf", aaf, AAF_File},
        {"riff-other", WithStart({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'B', 'C', 'D'}, 4096), Unknown_File},
        {"avi-no-streams", WithStart({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, 4096), AVIUnknown_File},
        {"qt-unreadable", WithStart({0, 0, 0, 8, 'm', 'd', 'a', 't'}, 4096), QTUnknown_File},
        {"mp4-brand", WithStart({0, 0, 0, 16, 'f', 't', 'y', 'p', 'm', 'p', '4', '2'}, 4096), P2Proxy_File},
        {"short-ts", Bytes(1023, 0x47), Unknown_File},
        {"empty", Bytes(), Unknown_File},
    };
    for (const BytesCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string path = WriteBytes(c.pszName, c.bytes);
        const Detected d = Detect(path);
        EXPECT_EQ(d.nFile, c.nFile) << FileTypeName(d.nFile);
        EXPECT_EQ(d.nVideo, c.nFile == P2Proxy_File ? MP4ART_Video : Unknown_Video);
    }
}

TEST(DetectByteBuilt, JunkIsUnknownAndOpensNoReader)
{
    std::mt19937 random(16);
    for (size_t size : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{1881}, size_t{70000}}) {
        for (int round = 0; round < 3; ++round) {
            Bytes bytes(size);
            for (uint8_t& b : bytes)
                b = static_cast<uint8_t>(random() & 0x3F);  // never a DV, TS or sync pattern
            const std::string path = WriteBytes("junk", bytes);
            EXPECT_EQ(Detect(path).nFile, Unknown_File) << size;
            EXPECT_EQ(CreateDataReader(path.c_str(), Unknown_File, Video_Data), nullptr);
        }
    }
    const std::string missing = (FreshDir("detect-missing") / "none.mxf").string();
    const Detected d = Detect(missing);
    EXPECT_EQ(d.nFile, Unknown_File);
    EXPECT_EQ(d.nVideo, Unknown_Video);
    EXPECT_EQ(GetFileTypeFromSource(nullptr, nullptr), Unknown_File);
}

// Truncated copies of real files: whatever the first bytes say, detection stays within the bytes and the
// source ends at position 0.
TEST(DetectByteBuilt, TruncatedFilesNeverCrash)
{
    const std::string sources[] = {mxftest::Media("imx50_625"),
                                   mxftest::Media("xdcamhd"),
                                   formatmedia::Media("qt_dvcp.mov").string(),
                                   formatmedia::Media("avi_mmes.avi").string(),
                                   formatmedia::Media("dv_pal.dv").string(),
                                   StreamMedia("audio.ac3").string()};
    for (const std::string& source : sources) {
        const Bytes whole = formatmedia::ReadBytes(source);
        for (size_t size : {size_t{1024}, size_t{1900}, size_t{5000}, size_t{20000}, size_t{65536}}) {
            SCOPED_TRACE(source + " cut at " + std::to_string(size));
            const std::string path =
                WriteBytes("cut" + fs::path(source).extension().string(),
                           Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(std::min(size, whole.size()))));
            CLocalFileReader reader;
            ASSERT_EQ(reader.Open(path.c_str(), 0, 0), 0);
            int32_t video = -1;
            DetectFileType(&reader, &video);
            EXPECT_EQ(reader.GetPosition(), 0u);
            CreateDataReader(path.c_str(), Unknown_File, Video_Data);
            CreateDataReader(path.c_str(), Unknown_File, Audio_Data);
        }
    }
}

// ---- Byte-built MXF files: the essence container labels of the header partition ----

using mxfbuild::ElementKey;
using mxfbuild::Klv;

Bytes Label(std::initializer_list<uint8_t> tail)
{
    Bytes label{0x06, 0x0E, 0x2B, 0x34};
    label.insert(label.end(), tail.begin(), tail.end());
    return label;
}

const Bytes kP2Dvcpro = Label({0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x02, 0x41, 0x02});
const Bytes kP2Sound = Label({0x01, 0x02, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x06, 0x04, 0x00});
const Bytes kProxy = Label({0x04, 0x01, 0x01, 0x02, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x04, 0x61, 0x07});
const Bytes kMpegAudio = Label({0x04, 0x01, 0x01, 0x02, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x04, 0x40, 0x01});
const Bytes kMpegVideo = Label({0x04, 0x01, 0x01, 0x02, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x04, 0xE0, 0x01});
const Bytes kIecDv = Label({0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x02, 0x02, 0x01});
const Bytes kD10 = Label({0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x01, 0x01, 0x01});
const Bytes kParvex = Label({0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x18, 0x01, 0x02, 0x01});
const Bytes kUnknownLabel = Label({0x04, 0x01, 0x01, 0x0A, 0x0D, 0x01, 0x03, 0x01, 0x02, 0x11, 0x01, 0x00});

mxfbuild::File PictureFile(std::vector<Bytes> labels)
{
    mxfbuild::File f;
    f.labels = std::move(labels);
    f.clip.nDuration = 6;
    f.clip.descriptor = mxfbuild::PictureDescriptor(Bytes(16, 0x01), 720, 576, 4, 3);
    f.index.nEditUnitBytes = 2000;
    f.bBody = true;
    f.nOp = 0x0310;
    Bytes value(6 * 2000, 0x20);
    f.essence = Klv(ElementKey(0x15), value);
    return f;
}

mxfbuild::File SoundFile(std::vector<Bytes> labels)
{
    mxfbuild::File f;
    f.labels = std::move(labels);
    f.clip.nKind = 3;
    f.clip.nDuration = 25;
    f.clip.descriptor = mxfbuild::SoundDescriptor(0x48, 16, 1);
    f.bBody = true;
    f.nOp = 0x0310;
    f.essence = Klv(ElementKey(0x16), Bytes(96000, 0x11));
    return f;
}

mxfbuild::File ProxyFile()
{
    mxfbuild::File f;
    f.labels = {kProxy};
    f.clip.nDuration = 10;
    f.clip.descriptor =
        mxfbuild::PictureDescriptor(Bytes(16, 0x02), 352, 288, 16, 9, mxfbuild::Tags().Raw(0x8201, Bytes(18, 0xA0)));
    const uint32_t lead = 9216, frame = 76800;
    f.index.nEditUnitBytes = 16 + 4 + lead + 5 * frame;
    Bytes value(lead + 5 * frame, 0);
    for (int k = 0; k < 5; ++k)
        std::copy_n(Bytes{0, 0, 1, 0xB3, 7, 7, 7}.begin(), 7, value.begin() + lead + k * frame);
    f.essence = Klv(ElementKey(0x05), value);
    return f;
}

mxfbuild::File MpegAudioFile()
{
    mxfbuild::File f;
    f.labels = {kMpegAudio};
    f.clip.nKind = 3;
    f.clip.nDuration = 20;
    f.clip.descriptor = mxfbuild::SoundDescriptor(0x42, 0, 2);
    for (uint32_t i = 0; i < 20; ++i)
        mxfbuild::Append(f.essence, Klv(ElementKey(0x16), Bytes(300, static_cast<uint8_t>(i))));
    return f;
}

// A P2 picture file whose primer pack names the atom label is an OP-Atom file.
Bytes AtomByPrimer()
{
    Bytes b = mxfbuild::Build(PictureFile({kP2Dvcpro}));
    const Bytes primer{0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00,
                       0x83, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x12, 0x3C, 0x0A, 0x06, 0x0E,
                       0x2B, 0x34, 0x01, 0x01, 0x01, 0x02, 0x03, 0x02, 0x01, 0x02, 0x0C, 0x00, 0x00, 0x00};
    const size_t pack = 16 + 4 + 88 + 16;
    b.insert(b.begin() + pack, primer.begin(), primer.end());
    return b;
}

struct MxfCase {
    const char* pszName;
    Bytes bytes;
    FileType nFile;
    int32_t nVideo;
    std::type_index video;
    std::type_index audio;
    bool bReadUnit = true;  // false: the file is only good enough for the reader to open
};

TEST(DetectByteBuilt, MxfEssenceLabels)
{
    const std::type_index p2Video = typeid(CMXFP2VideoReader);
    const MxfCase cases[] = {
        {"p2-dvcpro", mxfbuild::Build(PictureFile({kP2Dvcpro})), P2Video_File, DVCPro25_Video, p2Video, kNone},
        {"p2-sound", mxfbuild::Build(SoundFile({kP2Sound})), P2Audio_File, Unknown_Video, kNone,
         typeid(CMXFP2AudioReader)},
        // The proxy sound reader opens on a picture file too: it is built for the audio kind all the same.
        {"proxy", mxfbuild::Build(ProxyFile()), IMXProxy_File, MP4ART_Video, typeid(CMXFIMXProxyVideoReader),
         typeid(CMXFIMXProxyAudioReader), false},
        {"mpeg-audio", mxfbuild::Build(MpegAudioFile()), MXFMPEGAudioES_File, MPEG2_Video, kNone,
         typeid(CMXFMPEGAudioESReader)},
        {"mpeg-video", mxfbuild::Build(PictureFile({kMpegVideo})), MXFMPEGES_File, MPEG2_Video, kOP1aPicture, kNone,
         false},
        {"atom-by-primer", AtomByPrimer(), OPAtom_File, DVCPro25_Video, kNone, kNone},
        // The batch order, not the table order, decides; a label no row knows is passed over.
        {"two-labels", mxfbuild::Build(PictureFile({kUnknownLabel, kIecDv, kD10})), SonyDV_File, DV25_Video,
         kOP1aPicture, kNone, false},
        {"no-known-label", mxfbuild::Build(PictureFile({kUnknownLabel})), Unknown_File, Unknown_Video, kNone, kNone},
        // The maker's label on a file its clip reader cannot open.
        {"not-a-clip", mxfbuild::Build(PictureFile({kParvex})), MJPEG_File, Mjpeg_Video, kNone, kNone},
    };
    for (const MxfCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string path = WriteBytes(std::string(c.pszName) + ".mxf", c.bytes);
        const Detected d = Detect(path);
        EXPECT_EQ(d.nFile, c.nFile) << FileTypeName(d.nFile);
        EXPECT_EQ(d.nVideo, c.nVideo) << VideoTypeName(d.nVideo);
        if (c.video != kNone || c.audio != kNone) {
            ExpectReader(path, Video_Data, c.video, c.bReadUnit);
            ExpectReader(path, Audio_Data, c.audio, c.bReadUnit);
        }
    }
}

}  // namespace
