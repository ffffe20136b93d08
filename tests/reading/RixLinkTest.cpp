#include <gtest/gtest.h>

#include <string>

#include "reading/framework/CRixLink.h"
#include "tests/support/FileTestKit.h"

using testsupport::FreshDir;
using testsupport::WriteWholeFile;

namespace
{

const char* kCompleteBody =
    "<UmID>060A2B340101010501010D4313000000</UmID><IPAddress>10.1.2.3:5000</IPAddress><RixNumber>2</RixNumber>"
    "<ClipNumber>17</ClipNumber><CameraId>B</CameraId><InTC>100</InTC><OutTC>600</OutTC><ShortInTC>150</ShortInTC>"
    "<ShortOutTC>550</ShortOutTC><VideoCodec>4</VideoCodec><NbVideoChannels>1</NbVideoChannels>"
    "<VideoFormat>4194304</VideoFormat><AudioCodec>1</AudioCodec><NbAudioChannels>8</NbAudioChannels>"
    "<GrowingMode>0</GrowingMode><VarID32>Tor</VarID32>";

std::string WriteLink(const std::string& name, const std::string& body)
{
    const auto path = FreshDir("links") / (name + ".xml");
    WriteWholeFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RixLink>" + body + "</RixLink>\n");
    return path.string();
}

}  // namespace

TEST(RixLink, ParsesEveryElement)
{
    CRixLink link;
    ASSERT_EQ(link.Parse(WriteLink("full", kCompleteBody).c_str()), 0);
    EXPECT_EQ(link._szUmID, "060A2B340101010501010D4313000000");
    EXPECT_EQ(link._szAddress, "10.1.2.3:5000");
    EXPECT_EQ(link._szHost, "10.1.2.3");
    EXPECT_EQ(link._nPort, 5000);
    EXPECT_EQ(link._nRixNumber, 2);
    EXPECT_EQ(link._nClipNumber, 17);
    EXPECT_EQ(link._cCamera, 'B');
    EXPECT_EQ(link._nIn, 100);
    EXPECT_EQ(link._nOut, 600);
    EXPECT_EQ(link._nShortIn, 150);
    EXPECT_EQ(link._nShortOut, 550);
    EXPECT_EQ(link._nVideoCodec, 4);
    EXPECT_EQ(link._nVideoChannels, 1);
    EXPECT_EQ(link._nVideoFormat, 1 << 22);
    EXPECT_EQ(link._nAudioCodec, 1);
    EXPECT_EQ(link._nAudioChannels, 8);
    EXPECT_EQ(link._nGrowingMode, 0);
    EXPECT_EQ(link._szVarID32, "Tor");
    EXPECT_TRUE(link.IsComplete());
}

TEST(RixLink, AddressForms)
{
    struct Case {
        const char* text;
        const char* address;
        const char* host;
        int32_t port;
    };
    const Case cases[] = {
        {" 192.168.0.7:2100", "192.168.0.7:2100", "192.168.0.7", 2100},
        {"Jupiter", "upiter", "upiter", -1},  // the capital J is not an accepted first character
        {"jupiter:21", "jupiter:21", "jupiter", 21},
        {"--::", "", "", -1},
        {"gw:99999999999", "gw:99999999999", "gw", 2147483647},
    };
    for (const Case& c : cases) {
        CRixLink link;
        ASSERT_EQ(link.Parse(WriteLink("address", std::string("<IPAddress>") + c.text + "</IPAddress>").c_str()), 0);
        EXPECT_EQ(link._szAddress, c.address) << c.text;
        EXPECT_EQ(link._szHost, c.host) << c.text;
        EXPECT_EQ(link._nPort, c.port) << c.text;
    }
}

TEST(RixLink, CompletenessAndEmptyElements)
{
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        bool complete;
    };
    const std::string body = kCompleteBody;
    const Case cases[] = {
        {"lower-case camera", "<CameraId>B</CameraId>", "<CameraId>b</CameraId>", false},
        {"growing", "<GrowingMode>0</GrowingMode>", "<GrowingMode>1</GrowingMode>", false},
        {"empty codec", "<VideoCodec>4</VideoCodec>", "<VideoCodec></VideoCodec>", false},
        {"missing codec", "<VideoCodec>4</VideoCodec>", "", false},
        {"missing umid", "<UmID>060A2B340101010501010D4313000000</UmID>", "", false},
        {"missing audio codec", "<AudioCodec>1</AudioCodec>", "", true},
        {"empty channels", "<NbVideoChannels>1</NbVideoChannels>", "<NbVideoChannels/>", true},
    };
    for (const Case& c : cases) {
        std::string text = body;
        text.replace(text.find(c.from), c.from.size(), c.to);
        CRixLink link;
        ASSERT_EQ(link.Parse(WriteLink("case", text).c_str()), 0) << c.name;
        EXPECT_EQ(link.IsComplete(), c.complete) << c.name;
    }
    CRixLink link;
    ASSERT_EQ(
        link.Parse(WriteLink("empties", "<VideoCodec/><NbVideoChannels/><RixNumber/><CameraId/><GrowingMode/><UmID/>")
                       .c_str()),
        0);
    EXPECT_EQ(link._nVideoCodec, -1);
    EXPECT_EQ(link._nVideoChannels, 1);
    EXPECT_EQ(link._nRixNumber, 0);
    EXPECT_EQ(link._cCamera, 0);
    EXPECT_EQ(link._nGrowingMode, 0);
    EXPECT_EQ(link._nClipNumber, -1);  // missing
}

TEST(RixLink, VarIdInUtf8BecomesTheLocalPage)
{
    CRixLink link;
    ASSERT_EQ(link.Parse(WriteLink("varid", "<VarID32>Caf\xC3\xA9</VarID32>").c_str()), 0);
    EXPECT_EQ(link._szVarID32, "Caf\xE9");
}

TEST(RixLink, FileThatDoesNotLoadChangesNothing)
{
    CRixLink link;
    link._nClipNumber = 5;
    EXPECT_EQ(link.Parse((FreshDir("links-missing") / "none.xml").c_str()), -1);
    const auto bad = FreshDir("links-bad") / "bad.xml";
    WriteWholeFile(bad, "<RixLink><UmID>x</Um");
    EXPECT_EQ(link.Parse(bad.c_str()), -1);
    EXPECT_EQ(link.Parse(nullptr), -1);
    EXPECT_EQ(link._nClipNumber, 5);
    EXPECT_EQ(link._szUmID, "");
}
