#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/tessan/CIngestJob.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/support/FileTestKit.h"

using tessan::CIngestJob;
using tessantest::JobText;

namespace
{

std::vector<std::string> Lines(const std::vector<Qo::Generic::Attribute>& attributes)
{
    std::vector<std::string> lines;
    for (const auto& a : attributes)
        lines.push_back(a.category + " " + a.name + "=" + a.value);
    return lines;
}

TEST(TessanIngestJob, EveryValueBecomesItsReceiverAttribute)
{
    CIngestJob job;
    ASSERT_TRUE(job.Parse(JobText({{"KorvoRixServer", "user:p&w@10.0.0.9:21"}, {"KorvoPrimaryTC", "1800000"}})))
        << job.Error();
    EXPECT_EQ(Lines(job.Attributes()), (std::vector<std::string>{
                                           "_USER QO_KORVO_CLIPNAME=NEWS & WEATHER.CLP",
                                           "_USER QO_KORVO_DIRNAME=/media/clips",
                                           "_USER QO_KORVO_FPS=25",
                                           "_USER QO_KORVO_TCIN=1800000",
                                           "_USER QO_KORVO_TCOUT=1800200",
                                           "_USER QO_KORVO_NAUDIOS=2",
                                           "_USER QO_KORVO_RATE=50",
                                           "_USER QO_KORVO_CLIPIN=-1",
                                           "_USER QO_KORVO_CLIPOUT=-1",
                                           "_USER QO_KORVO_RIXFSTFLD=0",
                                           "_USER QO_KORVO_BLOCKSIZE=8",
                                           "_USER QO_KORVO_NAUDIOBITS=24",
                                           "_USER QO_KORVO_NVIDEOCHANNELS=1",
                                           "_EXPORT TRIM_SUBCLIP=0",
                                           "_USER QO_KORVO_TARDIX=1",
                                           "_USER QO_KORVO_TCPPORT=192.168.1.2:1666",
                                           "_USER QO_KORVO_FILETYPE=TCP",
                                           "_USER QO_KORVO_DATATYPE=IMX",
                                           "_USER QO_KORVO_RIXSERVER=user:p&w@10.0.0.9:21",
                                           "_USER QO_KORVO_PRIMARYTC=1800000",
                                       }));
    EXPECT_EQ(job.Value("printname"), "News & Weather");
    EXPECT_FALSE(job.IsLive());
    EXPECT_EQ(job.Duration(), 100);
    EXPECT_EQ(job.VideoStandard(), Qo::Generic::kVideoStandard25Hz);
    EXPECT_EQ(job.Tracks(), (std::vector<int32_t>{0, 1, 2}));
}

TEST(TessanIngestJob, ARecordingTrainOrLiveFlagMarksTheClipAsRecording)
{
    CIngestJob job;
    ASSERT_TRUE(job.Parse(JobText({{"lookupname", "MATCH.trn"}})));
    EXPECT_TRUE(job.IsLive());
    EXPECT_EQ(Lines(job.Attributes()).back(), "_USER QO_KORVO_RECORDING=1");
    ASSERT_TRUE(job.Parse(JobText({})));
    job.SetLive(true);
    EXPECT_EQ(Lines(job.Attributes()).back(), "_USER QO_KORVO_RECORDING=1");
}

TEST(TessanIngestJob, MarkPointsAndTrimGiveTheDurationAndTrimPoints)
{
    struct Case {
        const char* fps;
        const char* system;  // the metadata's timecode system, "" for none
        const char* markin;
        const char* markout;
        const char* trim;
        const char* clipIn;
        const char* clipOut;
        int32_t duration, in, out, standard;
    };
    const Case cases[] = {
        // Out points lie one past the last frame taken.
        {"25", "3", "10:00:00:00", "10:00:04:00", "0", "-1", "-1", 100, 0, 100, 1},
        {"25", "3", "10:00:00:00", "10:00:00:01", "0", "-1", "-1", 1, 0, 1, 1},
        // Trim Clip: the clip points in fields; pictures 4-9 are in 4, out 10.
        {"25", "3", "00:00:00:04", "00:00:00:10", "1", "8", "20", 6, 4, 10, 1},
        {"25", "3", "00:00:00:05", "00:00:04:05", "1", "10", "210", 100, 5, 105, 1},
        // An out field in the middle of a frame takes that frame whole.
        {"25", "3", "00:00:00:05", "00:00:04:05", "1", "11", "209", 100, 5, 105, 1},
        // Trim Clip without clip information keeps the mark points.
        {"25", "3", "10:00:00:00", "10:00:00:10", "1", "-1", "-1", 10, 0, 10, 1},
        // 29.97 drop-frame: 00:01:00:00 and :01 do not exist.
        {"30", "4", "00:00:59:28", "00:01:00:03", "0", "-1", "-1", 3, 0, 3, 2},
        {"30", "5", "00:00:59:28", "00:01:00:03", "0", "-1", "-1", 5, 0, 5, 2},
        {"30", "", "00:09:59:29", "00:10:00:01", "0", "-1", "-1", 2, 0, 2, 2},
        // 50 and 59.94: one field a frame.
        {"50", "", "00:00:00:00", "00:00:02:00", "1", "0", "100", 100, 0, 100, 1},
        {"60", "", "00:00:00:00", "00:00:01:00", "0", "-1", "-1", 60, 0, 60, 2},
    };
    for (const Case& c : cases) {
        CIngestJob job;
        ASSERT_TRUE(job.Parse(JobText({{"KorvoFps", c.fps},
                                       {"Rix_TC_System", c.system},
                                       {"markin", c.markin},
                                       {"markout", c.markout},
                                       {"TrimClip", c.trim},
                                       {"KorvoClipIn", c.clipIn},
                                       {"KorvoClipOut", c.clipOut}})))
            << job.Error();
        SCOPED_TRACE(std::string(c.fps) + " " + c.markin + "-" + c.markout);
        EXPECT_EQ(job.Duration(), c.duration);
        EXPECT_EQ(job.TrimIn(), c.in);
        EXPECT_EQ(job.TrimOut(), c.out);
        EXPECT_EQ(job.VideoStandard(), c.standard);
    }
}

TEST(TessanIngestJob, TheStartIsTheClipsOwnTimecodeOfItsFirstFrame)
{
    struct Case {
        const char* fps;
        const char* system;
        const char* tcIn;  // empty: the job has none
        const char* markin;
        const char* trim;
        const char* clipIn;
        Qo::Generic::TimeCode start;
    };
    const Case cases[] = {
        // Trimmed: the media's first field plus the clip in point, whatever the marks (a local clip's count from 0).
        {"25", "3", "1800000", "00:00:01:15", "1", "80", {25, false, 10, 0, 1, 15}},
        {"25", "3", "1800000", "00:00:01:15", "1", "81", {25, false, 10, 0, 1, 15}},
        // 01:00:59;28 is frame 109690 in drop-frame counting; three frames on, the labels ;00 and ;01 are skipped.
        {"30", "4", "219380", "00:00:00:03", "1", "6", {30, true, 1, 1, 0, 3}},
        {"30", "4", "219380", "00:00:00:01", "1", "2", {30, true, 1, 0, 59, 29}},
        // A tenth minute keeps its first labels; non-drop counting keeps them all.
        {"30", "4", "35962", "00:00:00:01", "1", "2", {30, true, 0, 10, 0, 0}},
        {"30", "5", "3596", "00:00:00:03", "1", "6", {30, false, 0, 1, 0, 1}},
        // One field a frame at 59.94 drop-frame: four labels dropped.
        {"60", "", "3596", "00:00:00:04", "1", "4", {60, true, 0, 1, 0, 4}},
        // Past midnight the day starts again.
        {"25", "3", "4319990", "00:00:00:10", "1", "20", {25, false, 0, 0, 0, 5}},
        // Untrimmed, or without the media's timecode: the mark in.
        {"25", "3", "1800000", "10:00:00:00", "0", "-1", {25, false, 10, 0, 0, 0}},
        {"25", "3", "", "00:00:01:15", "1", "80", {25, false, 0, 0, 1, 15}},
    };
    for (const Case& c : cases) {
        CIngestJob job;
        tessantest::Values values = {{"KorvoFps", c.fps},        {"Rix_TC_System", c.system}, {"markin", c.markin},
                                     {"markout", "23:59:59:00"}, {"TrimClip", c.trim},        {"KorvoClipIn", c.clipIn},
                                     {"KorvoClipOut", "400"}};
        if (*c.tcIn)
            values.push_back({"KorvoTCIn", c.tcIn});
        std::string text = JobText(values);
        if (!*c.tcIn) {
            const size_t at = text.find("<KorvoTCIn>");
            text.erase(at, text.find("</KorvoTCIn>") + 12 - at);
        }
        ASSERT_TRUE(job.Parse(text)) << job.Error();
        SCOPED_TRACE(std::string(c.fps) + " " + c.tcIn + " + " + c.clipIn);
        Qo::Generic::TimeCode start = job.StartTimeCode();
        EXPECT_EQ(start, c.start) << start.hours << ":" << start.minutes << ":" << start.seconds << ":" << start.frames
                                  << (start.drop ? " drop" : "");
    }
}

TEST(TessanIngestJob, ABadValueOrDocumentGivesAClearError)
{
    struct Case {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {JobText({{"KorvonAudios", "9"}}), "KorvonAudios \"9\" is not a number from 0 to 8"},
        {JobText({{"KorvoRate", "fifty"}}), "KorvoRate \"fifty\" is not a number"},
        {JobText({{"KorvonAudioBits", "20x"}}), "KorvonAudioBits \"20x\""},
        {JobText({{"TrimClip", "yes"}}), "TrimClip \"yes\""},
        {JobText({{"KorvoFps", "24"}}), "KorvoFps 24 is not 25, 30, 50 or 60"},
        {JobText({{"KorvoFps", ""}}), "KorvoFps \"\""},
        {JobText({{"markin", "25:00:00:00"}}), "markin \"25:00:00:00\" is not a timecode at 25 frames/s"},
        {JobText({{"markout", "10:00:00:25"}}), "markout \"10:00:00:25\" is not a timecode"},
        {JobText({{"markout", "09:59:59:24"}}), "markout 09:59:59:24 does not lie after markin 10:00:00:00"},
        {JobText({{"markout", "10:00:00:00"}}), "markout 10:00:00:00 does not lie after markin 10:00:00:00"},
        {JobText({{"TrimClip", "1"}, {"KorvoClipIn", "20"}, {"KorvoClipOut", "10"}}),
         "KorvoClipOut 10 does not lie after"},
        {JobText({{"TrimClip", "1"}, {"KorvoClipIn", "20"}, {"KorvoClipOut", "20"}}),
         "KorvoClipOut 20 does not lie after"},
        {JobText({{"lookupname", ""}}), "no <lookupname>"},
        {"<?xml><ingestdrag><lookupname>A</lookupname>", "not XML"},
        {"<?xml><transfer/>", "the root element is not <ingestdrag>"},
        {"", "not XML"},
    };
    for (const Case& c : cases) {
        CIngestJob job;
        EXPECT_FALSE(job.Parse(c.text)) << c.text;
        EXPECT_NE(job.Error().find(c.error), std::string::npos) << job.Error() << "\nexpected: " << c.error;
        EXPECT_EQ(job.Error().rfind("ingest job: ", 0), 0u);
    }
    CIngestJob job;
    EXPECT_FALSE(job.Load((testsupport::TestRoot() / "no-such-job.xml").string()));
    EXPECT_NE(job.Error().find("cannot read"), std::string::npos);
}

TEST(TessanIngestJob, TheCompositionCarriesTheMasterMobTheReceiverReads)
{
    CIngestJob job;
    ASSERT_TRUE(job.Parse(JobText({{"TrimClip", "1"}, {"KorvoClipIn", "20"}, {"KorvoClipOut", "59"}})));
    std::string composition = job.MakeComposition();
    ASSERT_FALSE(composition.empty()) << job.Error();

    Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF);
    Qo::Generic::ContainerBuffer* buffer =
        helper->BufferFromMemory(composition.data(), static_cast<uint32_t>(composition.size()), 0);
    Qo::Generic::ContainerIF* container = helper->OpenContainer(buffer, Qo::Generic::kOpenRead);
    ASSERT_NE(container, nullptr);
    std::vector<Qo::Generic::MobID> masters = container->GetMasterMobIDs();
    ASSERT_EQ(masters.size(), 1u);
    auto* master = dynamic_cast<Qo::Generic::MasterMobIF*>(container->OpenMob(masters[0]));
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->GetDuration(), 20);
    EXPECT_EQ(master->GetInPoint(), 10);
    EXPECT_EQ(master->GetOutPoint(), 30);
    EXPECT_EQ(master->GetVideoStandard(), Qo::Generic::kVideoStandard25Hz);
    std::string value;
    EXPECT_TRUE(master->GetAttribute("_EXPORT", "TRIM_SUBCLIP", value));
    EXPECT_EQ(value, "1");
    EXPECT_TRUE(master->GetAttribute("_USER", "QO_KORVO_BLOCKSIZE", value));
    EXPECT_EQ(value, "8");
    EXPECT_FALSE(master->GetAttribute("_USER", "TRIM_SUBCLIP", value));
    EXPECT_EQ(master->GetAttributeList().size(), job.Attributes().size());
    Qo::Generic::Filelist* list = master->GetFilelist();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetTrackList(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(list->GetRate(), 25);
    EXPECT_EQ(list->GetVideoCompression(), "Mirel::MPEG2::50");
    master->ReleaseFilelist(list);
    Qo::Generic::TimeCode start;
    master->GetStartTimeCode(start);
    // The media's first field is 10:00:00:00; the clip in point 20 fields later is its tenth frame.
    EXPECT_EQ(start, Qo::Generic::TimeCode(25, false, 10, 0, 0, 10));
    container->ReleaseMob(master);
    helper->ReturnContainer(container);
    Qo::Generic::DeleteHelper(helper);
}

}  // namespace
