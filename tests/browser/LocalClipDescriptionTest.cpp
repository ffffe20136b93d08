// Local clip files described for ingest: the system's own clip files written by the project's clip writer from
// ffmpeg pictures, and foreign MXF files made by ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "browser/CValdrinViewCore.h"
#include "common/TcDate.h"
#include "platform/File.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/reading/ParvexClipKit.h"

using namespace browsertest;
namespace fs = std::filesystem;

namespace
{

platform::LocalTime FixedNow()
{
    return platform::LocalTime{.year = 2025, .month = 3, .day = 4, .hour = 5, .minute = 6, .second = 7};
}

constexpr parvexclip::ClipSpec kImx50{"Imx50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 10,
                                      false};

// What the Part's tables make of the clip written by DescribeGoal below; {DIR} is the clip folder.
constexpr const char* kGoldenGoal =
    "<?xml>\n"
    "<ingestdrag><printname>Goal & &lt;Save&gt;</printname><lookupname>goal.mxf</lookupname>"
    "<hostname>Mirel</hostname><directory>{DIR}</directory><dllname>KorvoSetup</dllname><dllversion>2.1"
    "</dllversion><markin>01:00:20:00</markin><markout>01:00:20:10</markout><private><KorvoFps>25"
    "</KorvoFps><KorvoTCIn>181000</KorvoTCIn><KorvoTCOut>181020</KorvoTCOut><KorvonAudios>8"
    "</KorvonAudios><KorvoRate>50</KorvoRate><KorvoClipIn>4</KorvoClipIn><KorvoClipOut>15</KorvoClipOut>"
    "<KorvoRixFstFld>181000</KorvoRixFstFld><KorvoBlockSizeMB>8</KorvoBlockSizeMB><KorvonAudioBits>16"
    "</KorvonAudioBits><KorvonVideoChannels>1</KorvonVideoChannels><TrimClip>0</TrimClip><Tardix>1"
    "</Tardix><KorvoFileType>Korvo</KorvoFileType><KorvoDataType>IMX</KorvoDataType><Korvo_Metadatas>"
    "<General_Infos><Parvex_File_Infos><Rix_Device_Src>Korvo Rix</Rix_Device_Src>"
    "<Rix_Processing_Device>Korvo Mirel Browser 01.09.00 (file)</Rix_Processing_Device>"
    "<Rix_Material_ID>!5r#+(51</Rix_Material_ID><Rix_Offset_TC>0</Rix_Offset_TC><Rix_IN>181000</Rix_IN>"
    "<Rix_IN_TC_str>01:00:20.00</Rix_IN_TC_str><Rix_OUT>181020</Rix_OUT><Rix_OUT_TC_str>01:00:20.10"
    "</Rix_OUT_TC_str><Rix_Duration>20</Rix_Duration><Rix_Duration_str>00:00:00.10</Rix_Duration_str>"
    "<Rix_TC_System>3</Rix_TC_System><Rix_TC_System_str>sys_25 (PAL)</Rix_TC_System_str>"
    "<Rix_Video_Codec>4</Rix_Video_Codec><Rix_Video_Codec_str>IMX 50</Rix_Video_Codec_str>"
    "<Rix_Video_Std>1</Rix_Video_Std><Rix_Video_Std_str>SD_625</Rix_Video_Std_str><Rix_Video_System>3"
    "</Rix_Video_System><Rix_Video_System_str>sys_25 (PAL)</Rix_Video_System_str><Rix_Video_Interlaced>1"
    "</Rix_Video_Interlaced><Rix_Video_Aspect_Ratio>3</Rix_Video_Aspect_Ratio>"
    "<Rix_Video_Aspect_Ratio_str>16/9</Rix_Video_Aspect_Ratio_str><Rix_Video_Bitrate>50"
    "</Rix_Video_Bitrate><Rix_Audio_Codec>0</Rix_Audio_Codec><Rix_Audio_Codec_str>PCM"
    "</Rix_Audio_Codec_str><Rix_Nb_Audio_Monos>8</Rix_Nb_Audio_Monos><Rix_Nb_Videos>1</Rix_Nb_Videos>"
    "<Rix_Creation_Time>1862304000</Rix_Creation_Time><Rix_Creation_Time_str>2029/01/05 10:40:00"
    "</Rix_Creation_Time_str><Rix_Creation_Time_GMT_str>2029/01/05 10:40:00</Rix_Creation_Time_GMT_str>"
    "<Parvex_Backup_Time_str>2025/03/04 05:06:07</Parvex_Backup_Time_str></Parvex_File_Infos>"
    "</General_Infos><Clips_Infos><Clip><Parvex_Clip_Infos><Rix_UmID>!5r#+(51</Rix_UmID><Rix_VarID>VAR"
    "</Rix_VarID><Rix_NumClip>042</Rix_NumClip><Rix_Camera>C</Rix_Camera><Rix_Camera_Pref>2"
    "</Rix_Camera_Pref><Rix_Camera_Label>Cam B</Rix_Camera_Label><Rix_Rating>3</Rix_Rating>"
    "<Rix_TC_System>3</Rix_TC_System><Rix_TC_System_str>sys_25 (PAL)</Rix_TC_System_str><Rix_Offset_TC>0"
    "</Rix_Offset_TC><Rix_Short_IN>181004</Rix_Short_IN><Rix_Short_IN_TC_str>01:00:20.02"
    "</Rix_Short_IN_TC_str><Rix_Short_REF>181006</Rix_Short_REF><Rix_Short_REF_TC_str>01:00:20.03"
    "</Rix_Short_REF_TC_str><Rix_Short_OUT>181015</Rix_Short_OUT><Rix_Short_OUT_TC_str>01:00:20.07"
    "</Rix_Short_OUT_TC_str><Rix_Clip_Duration>11</Rix_Clip_Duration><Rix_Clip_Duration_str>00:00:00.05"
    "</Rix_Clip_Duration_str><Rix_ClipName>Goal & &lt;Save&gt;</Rix_ClipName><Rix_Keyword_1>first"
    "</Rix_Keyword_1><Rix_Keyword_2></Rix_Keyword_2><Rix_Keyword_3>\xC3\xA9t\xC3\xA9</Rix_Keyword_3>"
    "<Rix_Keyword_4></Rix_Keyword_4><Rix_Keyword_5></Rix_Keyword_5><Rix_ClipIdSrc>SRC01</Rix_ClipIdSrc>"
    "<Rix_FillAndKey_Type>1</Rix_FillAndKey_Type><Rix_FillAndKey>042D</Rix_FillAndKey>"
    "</Parvex_Clip_Infos></Clip></Clips_Infos></Korvo_Metadatas></private></ingestdrag>"
    "\n";

std::string WithDir(std::string text, const std::string& dir)
{
    const size_t at = text.find("{DIR}");
    return text.replace(at, 5, dir);
}

bool Has(const std::string& job, const std::string& part)
{
    return job.find(part) != std::string::npos;
}

class LocalClipTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        folder = testsupport::TestRoot() / "clips";
        fs::create_directories(folder);
        view.SetClock(FixedNow);
        view.Settings()._szCurrentFolder = folder.string() + "/";
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }

    // Writes a clip of the system's own format into the folder.
    void WriteClip(const std::string& name, const std::function<void(KorvoMXFInfo&, KorvoMXFClip&)>& describe,
                   const parvexclip::ClipSpec& clipSpec = kImx50)
    {
        parvexclip::ClipWriter writer(clipSpec);
        writer._describe = describe;
        ASSERT_TRUE(writer.WriteAll((folder / name).string()));
    }

    // Copies an ffmpeg-made MXF file into the folder.
    void CopyMedia(const std::string& media, const std::string& name)
    {
        fs::copy_file(mxftest::Media(media), folder / name, fs::copy_options::overwrite_existing);
    }

    fs::path folder;
    CapturingSink sink;
    CValdrinViewCore view{sink};
};

void DescribeGoal(KorvoMXFInfo&, KorvoMXFClip& clip)
{
    clip.SetName("Goal & <Save>");
    clip._nClipNumber = 42;
    clip._cCamera = 'C';
    clip._cCameraPref = 2;
    clip._nQuality = 3;
    clip._nShortIn = parvexclip::kFirstField + 4;
    clip._nShortOut = parvexclip::kFirstField + 15;
    clip._nShortRef = parvexclip::kFirstField + 6;
    clip.SetKeyword(0, "first");
    const char16_t wide[] = u"\u00e9t\u00e9";
    clip.SetWideKeyword(2, wide);
    clip.SetClipNameSource("Cam B");
    clip.SetClipIdSource("SRC01");
    clip.SetFillAndKey("042D");
    clip._nFillAndKeyType = 1;
    const uint8_t varId[] = {'V', 'A', 'R'};
    clip.SetVarId(varId, 3, false);
}

TEST_F(LocalClipTest, OwnClipFileGivesTheGoldenJob)
{
    WriteClip("goal.mxf", DescribeGoal);
    std::string job;
    ASSERT_EQ(view.GetFileInfos("goal.mxf", job, nullptr), 0);
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(job, WithDir(kGoldenGoal, view.Settings()._szCurrentFolder));
}

TEST_F(LocalClipTest, OptionsTcpTrimAndAudioBits)
{
    WriteClip("goal.mxf", [](KorvoMXFInfo& info, KorvoMXFClip& clip) {
        DescribeGoal(info, clip);
        clip._nShortIn = parvexclip::kFirstField + 5;  // an odd field of a two-field system
    });
    CValdrinSettings& s = view.Settings();
    s._bTcpTransfer = true;
    s._bTrimClip = true;
    s._nTrimGuardBand = 12;
    s._b24BitsAudio = true;
    s._bTardix = false;
    std::string job;
    ASSERT_EQ(view.GetFileInfos("goal.mxf", job, "10.0.0.5:5123"), 0);
    EXPECT_TRUE(Has(job, "<markin>00:00:00:02</markin><markout>00:00:00:07</markout>"));
    EXPECT_TRUE(Has(job,
                    "<KorvoClipIn>5</KorvoClipIn><KorvoClipOut>15</KorvoClipOut>"
                    "<KorvoRixFstFld>181006</KorvoRixFstFld>"));
    EXPECT_TRUE(Has(job,
                    "<KorvonAudioBits>24</KorvonAudioBits><KorvonVideoChannels>1</KorvonVideoChannels>"
                    "<TrimClip>1</TrimClip><Tardix>0</Tardix><TrimGuardBand>12</TrimGuardBand>"
                    "<KorvoTCPPort>10.0.0.5:5123</KorvoTCPPort><KorvoFileType>TCP</KorvoFileType>"
                    "<KorvoDataType>IMX</KorvoDataType><Korvo_Metadatas>"));
    // A drag passes no address: no TCP transfer whatever the option.
    ASSERT_EQ(view.GetFileInfos("goal.mxf", job, nullptr), 0);
    EXPECT_FALSE(Has(job, "KorvoTCPPort"));
    EXPECT_TRUE(Has(job, "<KorvoFileType>Korvo</KorvoFileType>"));
}

TEST_F(LocalClipTest, UserTimecodeShiftsTheTimecodesButNotTheClipPoints)
{
    WriteClip("user.mxf", [](KorvoMXFInfo& info, KorvoMXFClip& clip) {
        DescribeGoal(info, clip);
        TcDate date(0, 2024, 5, 6, 10, 0, 0, 0);  // 10:00:00:00, 1800000 fields
        uint8_t packed[8];
        date.Pack(false, packed);
        clip.SetTime(KorvoMXFClip::kTimeUser, packed);
        clip._nPrimaryTC = 1;
    });
    std::string job;
    ASSERT_EQ(view.GetFileInfos("user.mxf", job, nullptr), 0);
    // The user timecode stands for the clip's in point: every timecode moves by 1800000 - 181000.
    EXPECT_TRUE(Has(job, "<KorvoTCIn>1800000</KorvoTCIn><KorvoTCOut>1800020</KorvoTCOut>"));
    EXPECT_TRUE(Has(job, "<KorvoClipIn>4</KorvoClipIn><KorvoClipOut>15</KorvoClipOut>"));
    EXPECT_TRUE(Has(job, "<markin>10:00:00:00</markin><markout>10:00:00:10</markout>"));
    EXPECT_TRUE(Has(job,
                    "<Rix_Offset_TC>1619000</Rix_Offset_TC><Rix_IN>181000</Rix_IN>"
                    "<Rix_IN_TC_str>10:00:00.00</Rix_IN_TC_str>"));
    EXPECT_TRUE(Has(job, "<Rix_Duration>20</Rix_Duration><Rix_Duration_str>00:00:00.10</Rix_Duration_str>"));
    // The clip's own offset stays; its point texts use the new one.
    EXPECT_TRUE(Has(job,
                    "<Rix_Offset_TC>0</Rix_Offset_TC><Rix_Short_IN>181004</Rix_Short_IN>"
                    "<Rix_Short_IN_TC_str>10:00:00.02</Rix_Short_IN_TC_str>"));
}

TEST_F(LocalClipTest, UnicodeNameAndFourAudioGroups)
{
    parvexclip::ClipSpec clipSpec = kImx50;
    clipSpec.nAudioGroups = 4;
    WriteClip(
        "wide.mxf",
        [](KorvoMXFInfo&, KorvoMXFClip& clip) {
            const char16_t name[] = u"No\u00ebl";
            clip.SetWideName(name);
        },
        clipSpec);
    std::string job;
    ASSERT_EQ(view.GetFileInfos("wide.mxf", job, nullptr), 0);
    EXPECT_TRUE(Has(job, "<printname>UNICODE</printname>"));
    EXPECT_TRUE(Has(job, "<Rix_ClipName>No\xC3\xABl</Rix_ClipName>"));
    EXPECT_TRUE(Has(job, "<KorvonAudios>8</KorvonAudios>"));
}

TEST_F(LocalClipTest, ForeignImxFile)
{
    CopyMedia("imx50_625", "news & sport.mxf");
    std::string job;
    ASSERT_EQ(view.GetFileInfos("news & sport.mxf", job, nullptr), 0);
    // ffmpeg's timecode 10:00:00:00, 25 frames; eight channels; no clip information, so no metadata tree.
    EXPECT_EQ(job, WithDir("<?xml>\n<ingestdrag><printname>news & sport</printname><lookupname>news & sport.mxf"
                           "</lookupname><hostname>Mirel</hostname><directory>{DIR}</directory><dllname>KorvoSetup"
                           "</dllname><dllversion>2.1</dllversion><markin>10:00:00:00</markin><markout>10:00:01:00"
                           "</markout><private><KorvoFps>25</KorvoFps><KorvoTCIn>1800000</KorvoTCIn><KorvoTCOut>"
                           "1800050</KorvoTCOut><KorvonAudios>8</KorvonAudios><KorvoRate>50</KorvoRate><KorvoClipIn>"
                           "-1</KorvoClipIn><KorvoClipOut>-1</KorvoClipOut><KorvoRixFstFld>0</KorvoRixFstFld>"
                           "<KorvoBlockSizeMB>2</KorvoBlockSizeMB><KorvonAudioBits>16</KorvonAudioBits>"
                           "<KorvonVideoChannels>1</KorvonVideoChannels><TrimClip>0</TrimClip><Tardix>1</Tardix>"
                           "<KorvoFileType>MXF</KorvoFileType><KorvoDataType>IMX</KorvoDataType></private>"
                           "</ingestdrag>\n",
                           view.Settings()._szCurrentFolder));

    // Trim Clip changes nothing without clip information; a TCP transfer is refused.
    view.Settings()._bTrimClip = true;
    ASSERT_EQ(view.GetFileInfos("news & sport.mxf", job, nullptr), 0);
    EXPECT_TRUE(Has(job, "<markin>10:00:00:00</markin>"));
    view.Settings()._bTcpTransfer = true;
    job = "untouched";
    EXPECT_EQ(view.GetFileInfos("news & sport.mxf", job, "127.0.0.1:4000"), 1);
    EXPECT_EQ(job, "untouched");
    EXPECT_TRUE(sink.Messages().empty());
}

// A clip file cut short, as a copy that broke off leaves it: no footer and no writer holding it, fewer pictures
// than its header declares. It is refused with both counts; the same bytes still being written (the writer's lock
// seen) are described up to what can be read, as a recording is followed.
TEST_F(LocalClipTest, ATruncatedClipFileIsRefusedAGrowingOneIsDescribed)
{
    parvexclip::ClipSpec clipSpec = kImx50;
    clipSpec.nBlockFormat = KORVOMXF_FORMAT_BAVD_2MB;
    clipSpec.nPictures = 40;
    WriteClip("cut.mxf", nullptr, clipSpec);
    const fs::path path = folder / "cut.mxf";
    // Two and a half blocks after the header area.
    fs::resize_file(path, 0x200000 + 5 * 0x100000);

    platform::File writer;
    ASSERT_TRUE(
        writer.Open(path.string(), platform::File::Access::ReadWrite, platform::File::Disposition::OpenExisting));
    ASSERT_TRUE(writer.LockForWriting());
    std::string job;
    ASSERT_EQ(view.GetFileInfos("cut.mxf", job, nullptr), 0);
    EXPECT_TRUE(sink.Messages().empty());
    const size_t in = job.find("<KorvoTCIn>"), out = job.find("<KorvoTCOut>");
    ASSERT_NE(in, std::string::npos);
    ASSERT_NE(out, std::string::npos);
    const int readable = (std::atoi(job.c_str() + out + 12) - std::atoi(job.c_str() + in + 11)) / 2;
    EXPECT_GT(readable, 0);
    EXPECT_LT(readable, 40);
    writer.Close();

    job = "untouched";
    EXPECT_NE(view.GetFileInfos("cut.mxf", job, nullptr), 0);
    EXPECT_EQ(job, "untouched");
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{{"------- File [ cut.mxf ] is truncated: its header declares 40 frames, " +
                                         std::to_string(readable) + " can be read !\n",
                                     "ERROR", MessageIcon::Error}}));
}

TEST_F(LocalClipTest, OtherFilesAreRefused)
{
    CopyMedia("dvcpro50_625", "dvcpro.mxf");
    CopyMedia("dv25_625", "dv.mxf");
    std::ofstream(folder / "notes.txt") << "not a clip";
    for (const char* name : {"dvcpro.mxf", "dv.mxf", "notes.txt", "missing.mxf"}) {
        CapturingSink caseSink;
        CValdrinViewCore caseView{caseSink};
        caseView.Settings()._szCurrentFolder = view.Settings()._szCurrentFolder;
        std::string job;
        EXPECT_EQ(caseView.GetFileInfos(name, job, nullptr), -1) << name;
        EXPECT_EQ(caseSink.Messages(),
                  (std::vector<Message>{{std::string("------- File [ ") + name + " ] is NOT a supported File !\n",
                                         "ERROR", MessageIcon::Error}}));
    }
}

}  // namespace
