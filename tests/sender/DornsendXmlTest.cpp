// The side-car metadata file and the playback job file: where they go, what they hold, checked with xmllint.
#include <gtest/gtest.h>

#include <filesystem>

#include "sender/CPlaybackJobXml.h"
#include "sender/CSideCarXml.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
namespace fs = std::filesystem;

// xmllint's verdict (empty when well formed) and a value by XPath.
std::string XmlLintErrors(const fs::path& file)
{
    return writertest::Shell("xmllint --noout '" + file.string() + "' 2>&1");
}

std::string XPath(const fs::path& file, const std::string& xpath)
{
    std::string out = writertest::Shell("xmllint --xpath '" + xpath + "' '" + file.string() + "' 2>/dev/null");
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

TEST(SideCarXml, GoesBesideTheClipOrWhereTheTargetSays)
{
    struct Case {
        const char* explicitPath;
        const char* expected;
    };
    const Case cases[] = {
        {"", "C:\\clips\\A001.korvo.xml"},
        {"D:\\meta", "D:\\meta\\A001.korvo.xml"},
        {"D:\\meta\\", "D:\\meta\\A001.korvo.xml"},
        {"D:\\meta\\x.xml", "D:\\meta\\x.xml"},
        {"D:\\meta\\x.jsonx", "D:\\meta\\x.jsonx\\A001.korvo.xml"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SideCarPath(c.explicitPath, "C:\\clips\\A001.mxf"), c.expected) << c.explicitPath;
}

TEST(SideCarXml, HoldsTheClipsIdsAndPassesXmllint)
{
    const fs::path dir = testsupport::FreshDir("sidecar");
    const std::string target = (dir / "A001.mxf").string();
    EXPECT_EQ(CreateKorvo_METADATAS(false, "", target, "T1", "joe", "ABCDEFGH", "v", "A001"), "");
    EXPECT_FALSE(fs::exists(dir / "A001.korvo.xml"));

    const std::string varId40(40, 'V');
    const std::string path = CreateKorvo_METADATAS(true, "", target, "TAPE 1", "joe & co", "ABCDEFGH", varId40, "A001");
    ASSERT_EQ(path, (dir / "A001.korvo.xml").string());
    EXPECT_EQ(XmlLintErrors(path), "");
    const std::string text = testsupport::ReadWholeFile(path);
    EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\"")) << text;
    EXPECT_EQ(XPath(path, "string(/Korvo_Metadatas/General_Infos/Parvex_File_Infos/Rix_Device_Src)"),
              "Korvo Mirel PlayBack Server [v.1.9.0]");
    const std::string clip = "/Korvo_Metadatas/Clips_Infos/Clip/";
    EXPECT_EQ(XPath(path, "string(" + clip + "Parvex_Clip_Infos/Rix_UmID)"), "ABCDEFGH");
    EXPECT_EQ(XPath(path, "string(" + clip + "Parvex_Clip_Infos/Rix_VarID)"), std::string(32, 'V'));
    EXPECT_EQ(XPath(path, "string(" + clip + "Parvex_Clip_Infos/Rix_Camera_Label)"), "From_Mirel");
    EXPECT_EQ(XPath(path, "string(" + clip + "Parvex_Clip_Infos/Rix_ClipName)"), "A001");
    EXPECT_EQ(XPath(path, "string(" + clip + "Strovane_Clip_Infos/TapeID)"), "TAPE 1");
    EXPECT_EQ(XPath(path, "string(" + clip + "Strovane_Clip_Infos/Owner)"), "joe & co");
    // Elements in the order the readers expect.
    EXPECT_EQ(XPath(path, "name(" + clip + "Parvex_Clip_Infos/*[1])"), "Rix_UmID");
    EXPECT_EQ(XPath(path, "name(" + clip + "*[2])"), "Strovane_Clip_Infos");

    // Empty values leave their elements out.
    fs::create_directories(dir / "meta");
    const std::string bare = CreateKorvo_METADATAS(true, (dir / "meta").string(), target, "", "", "", "", "");
    ASSERT_EQ(bare, (dir / "meta").string() + "\\A001.korvo.xml");
    EXPECT_EQ(XPath((dir / "meta" / "A001.korvo.xml"), "count(" + clip + "Parvex_Clip_Infos/*)"), "1");
    EXPECT_EQ(XPath((dir / "meta" / "A001.korvo.xml"), "count(" + clip + "Strovane_Clip_Infos/*)"), "0");
}

TEST(SideCarXml, GivesNoPathWhenTheFileCannotBeWritten)
{
    const fs::path dir = testsupport::FreshDir("sidecar-unwritable");
    EXPECT_EQ(CreateKorvo_METADATAS(true, (dir / "missing" / "x.xml").string(), (dir / "A.mxf").string(), "T", "", "",
                                    "", "A"),
              "");
}

TEST(PlaybackJobXml, ReferencingPathFollowsTheJobFile)
{
    EXPECT_EQ(JobReferencingPath("D:\\ref\\", "C:\\jobs\\J1.xml"), "D:\\ref\\J1_ref.xml");
    EXPECT_EQ(JobReferencingPath("D:\\ref\\r.xml", "C:\\jobs\\J1.xml"), "D:\\ref\\r.xml");
    EXPECT_EQ(JobReferencingPath("", "C:\\jobs\\J1.xml"), "");
}

TEST(PlaybackJobXml, OnlyTheSourceFileGivesTheShortestJob)
{
    const fs::path dir = testsupport::FreshDir("jobxml-short");
    PlaybackJob job;
    job.szJobPath = (dir / "J1.xml").string();
    job.szSrcFile = "C:\\clips\\A001.mxf";
    ASSERT_TRUE(CreateXMLJobFile(job));
    EXPECT_EQ(XmlLintErrors(job.szJobPath), "");
    const std::string entry = "/Korvo_Parvex_Job_List/Korvo_Parvex_Job";
    EXPECT_EQ(XPath(job.szJobPath, "count(" + entry + "/*)"), "4");
    EXPECT_EQ(XPath(job.szJobPath, "string(" + entry + "/Job_Src_File)"), "C:\\clips\\A001.mxf");
    EXPECT_EQ(XPath(job.szJobPath, "string(" + entry + "/Job_Type)"), "2");
    EXPECT_EQ(XPath(job.szJobPath, "string(" + entry + "/Job_Id = " + entry + "/Job_Creation_Time)"), "true");
    const int64_t id = std::stoll(XPath(job.szJobPath, "string(" + entry + "/Job_Id)"));
    EXPECT_LE(std::abs(id - static_cast<int64_t>(std::time(nullptr))), 5);
}

TEST(PlaybackJobXml, EveryValueInItsElementInOrder)
{
    const fs::path dir = testsupport::FreshDir("jobxml-full");
    PlaybackJob job{(dir / "StqP_A001_main.xml").string(),
                    "C:\\clips\\A001.mxf",
                    "C:\\clips\\A001.korvo.xml",
                    "D:\\ref\\",
                    "4",
                    "ABCDEFGH",
                    "VAR 1",
                    "3",
                    "123",
                    "B",
                    "10.0.0.1",
                    "21",
                    "user",
                    "pw<>",
                    "TAPE",
                    "joe"};
    ASSERT_TRUE(CreateXMLJobFile(job));
    EXPECT_EQ(XmlLintErrors(job.szJobPath), "");
    const char* names[] = {"Job_Id",
                           "Job_Creation_Time",
                           "Job_Type",
                           "Job_Src_File",
                           "Job_Src_XML_Metadata_Path",
                           "Job_Dest_XML_Referencing_Path",
                           "Job_Dest_User_Nb",
                           "Job_Dest_Id",
                           "Job_Dest_VarId",
                           "Job_Dest_Page",
                           "Job_Dest_Clip_Nb",
                           "Job_Dest_Cam",
                           "Job_Dest_Rix_IP_Address1",
                           "Job_Dest_Rix_Port1",
                           "Job_Dest_Rix_FTP_Login",
                           "Job_Dest_Rix_FTP_Password",
                           "Korvo_Metadatas"};
    const std::string entry = "/Korvo_Parvex_Job_List/Korvo_Parvex_Job";
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(XPath(job.szJobPath, "name(" + entry + "/*[" + std::to_string(i + 1) + "])"), names[i]);
    const char* values[][2] = {{"Job_Src_XML_Metadata_Path", "C:\\clips\\A001.korvo.xml"},
                               {"Job_Dest_XML_Referencing_Path", "D:\\ref\\StqP_A001_main_ref.xml"},
                               {"Job_Dest_User_Nb", "4"},
                               {"Job_Dest_Id", "ABCDEFGH"},
                               {"Job_Dest_VarId", "VAR 1"},
                               {"Job_Dest_Page", "3"},
                               {"Job_Dest_Clip_Nb", "123"},
                               {"Job_Dest_Cam", "B"},
                               {"Job_Dest_Rix_IP_Address1", "10.0.0.1"},
                               {"Job_Dest_Rix_Port1", "21"},
                               {"Job_Dest_Rix_FTP_Login", "user"},
                               {"Job_Dest_Rix_FTP_Password", "pw<>"},
                               {"Korvo_Metadatas/Clips_Infos/Clip/Strovane_Clip_Infos/TapeID", "TAPE"},
                               {"Korvo_Metadatas/Clips_Infos/Clip/Strovane_Clip_Infos/Owner", "joe"}};
    for (const auto& v : values)
        EXPECT_EQ(XPath(job.szJobPath, "string(" + entry + "/" + v[0] + ")"), v[1]) << v[0];
}

TEST(PlaybackJobXml, AFailedSaveIsReported)
{
    PlaybackJob job;
    job.szJobPath = (testsupport::FreshDir("jobxml-fail") / "missing" / "J.xml").string();
    EXPECT_FALSE(CreateXMLJobFile(job));
}

}  // namespace
