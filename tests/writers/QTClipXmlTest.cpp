// The clip XML the QuickTime writer leaves beside a movie, read back with xmllint.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"
#include "writers/quicktime/CQTDVWriter.h"

namespace
{
namespace fs = std::filesystem;
using writertest::Shell;
using writertest::Trim;

const char kMetadata[] = R"(<?xml version="1.0"?>
<Korvo_Metadatas>
  <General_Infos><Parvex_File_Infos><Rix_IN>2157840</Rix_IN><Rix_Offset_TC>0</Rix_Offset_TC>
    <Rix_Video_System>4</Rix_Video_System><Rix_Video_Interlaced>1</Rix_Video_Interlaced></Parvex_File_Infos></General_Infos>
  <Clips_Infos><Clip>
    <Parvex_Clip_Infos><Rix_NumClip>7</Rix_NumClip><Rix_Camera>A</Rix_Camera><Rix_ClipName>goal</Rix_ClipName>
      <Rix_Keyword_1>k1</Rix_Keyword_1><Rix_Keyword_2>k2</Rix_Keyword_2><Rix_Rating>3</Rix_Rating></Parvex_Clip_Infos>
    <Other_Clip_Infos>
      <Keywords><Keyword Type="Participant">p</Keyword><Keyword Type="Keyword">other1</Keyword></Keywords>
      <Logs><Log><TC>10:00:01;00</TC><Description>kick</Description><InterestLevel>5</InterestLevel>
        <Keywords><Keyword Type="Keyword">ball</Keyword><Keyword Type="KEYWORD">net</Keyword>
          <Keyword Type="PARTICIPANT">Ann</Keyword><Keyword Type="Participant">Bob</Keyword></Keywords></Log></Logs>
    </Other_Clip_Infos>
    <Strovane_Clip_Infos><Logs><Log><TC>10:00:00;10</TC><Description>start</Description></Log></Logs></Strovane_Clip_Infos>
  </Clip></Clips_Infos>
</Korvo_Metadatas>
)";

fs::path WriteMovie(const fs::path& dir, const char* parameters, const char* metadata)
{
    const std::string frame = testsupport::ReadWholeFile(writertest::Cached(
        "dv525_xml.dif",
        "-f lavfi -i testsrc2=s=720x480:r=30000/1001 -frames:v 1 -c:v dvvideo -pix_fmt yuv411p -f rawvideo"));
    CQTDVWriter writer(0, true, true);
    writer.SetParameters(parameters, metadata);
    const fs::path movie = dir / "clip.mov";
    EXPECT_EQ(writer.Open(movie.c_str()), 0);
    MediaWriterClipInfo info;
    info.standardCode = 4;
    info.audioChannels = 4;
    info.stereoPairs = true;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 4);
    EXPECT_EQ(writer.Begin(info), 0);
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(writer.AddFrame(reinterpret_cast<const uint8_t*>(frame.data()), 120000, nullptr, 0, 0), 0);
    EXPECT_EQ(writer.Close(), 0);
    return dir / "clip.xml";
}

std::string Path(const fs::path& xml, const std::string& xpath)
{
    return Trim(Shell("xmllint --xpath '" + xpath + "' " + xml.string() + " 2>/dev/null"));
}

TEST(QTClipXml, DescribesTheMovieWithTheMetadata)
{
    const fs::path dir = testsupport::FreshDir("qt-xml");
    testsupport::WriteWholeFile(dir / "clip.korvo.xml", kMetadata);
    const fs::path xml = WriteMovie(dir,
                                    "<CreateXml>1</CreateXml><ExternalPath>D:\\Media Files</ExternalPath>"
                                    "<ClipName>My Clip</ClipName><LoggingInfo>s1;t2;note</LoggingInfo>",
                                    (dir / "clip.korvo.xml").c_str());
    ASSERT_TRUE(fs::exists(xml));
    EXPECT_EQ(Shell("xmllint --noout " + xml.string() + " 2>&1"), "");
    EXPECT_EQ(Path(xml, "string(/xmeml/@version)"), "2");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/@id)"), "MyClip");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/name)"), "7A_goal");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/duration)"), "3");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/rate/ntsc)"), "TRUE");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/rate/timebase)"), "30");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/logginginfo/shottake)"), "t2");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/logginginfo/lognote)"), "note");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/comments/mastercomment1)"), "other1");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/comments/mastercomment2)"), "k2");
    EXPECT_EQ(Path(xml, "count(/xmeml/clip/comments/mastercomment3)"), "0");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/comments/mastercomment4)"), "3");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/comments/clipcommenta)"), "007");
    const std::string file = "/xmeml/clip/media/video/track/clipitem/file/";
    EXPECT_EQ(Path(xml, "string(" + file + "pathurl)"), "file:D:/Media%20Files/clip.mov");
    EXPECT_EQ(Path(xml, "string(" + file + "timecode/displayformat)"), "DF");
    EXPECT_EQ(Path(xml, "string(" + file + "timecode/string)"), "10:00:00:00");
    EXPECT_EQ(Path(xml, "count(" + file + "media/audio)"), "2");
    EXPECT_EQ(Path(xml, "string(" + file + "media/audio/samplecharacteristics/depth)"), "24");
    EXPECT_EQ(Path(xml, "count(/xmeml/clip/media/video/track/clipitem/link)"), "5");
    EXPECT_EQ(Path(xml, "count(/xmeml/clip/media/audio/track)"), "2");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/media/audio/track[2]/clipitem/sourcetrack/trackindex)"), "2");
    // Markers: the Other log, then the production-control one, placed from the clip's first frame.
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/marker[1]/in)"), "30");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/marker[1]/comment)"),
              "Rating 5 - Keywords (ball, net) - Participants (Ann, Bob)");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/marker[2]/name)"), "start");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/marker[2]/in)"), "10");
}

TEST(QTClipXml, WithoutMetadataTheNameComesFromTheParameters)
{
    const fs::path dir = testsupport::FreshDir("qt-xml-bare");
    const fs::path xml = WriteMovie(dir, "<CreateXml>1</CreateXml><ClipName>Bare\\Clip</ClipName>", nullptr);
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/name)"), "Bare\\Clip");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/@id)"), "BareClip");
    EXPECT_EQ(Path(xml, "count(/xmeml/clip/comments)"), "0");
    EXPECT_EQ(Path(xml, "count(/xmeml/clip/marker)"), "0");
    EXPECT_EQ(Path(xml, "string(/xmeml/clip/media/video/track/clipitem/file/pathurl)"), "file:/clip.mov");
}

TEST(QTClipXml, NoXmlUnlessAsked)
{
    const fs::path dir = testsupport::FreshDir("qt-xml-off");
    EXPECT_FALSE(fs::exists(WriteMovie(dir, "<ClipName>x</ClipName>", nullptr)));
}

}  // namespace
