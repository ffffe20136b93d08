// Server clips described from their clip tables, served by the video server simulator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "browser/CServerClipTable.h"
#include "browser/CValdrinViewCore.h"
#include "browser/IngestJobXml.h"
#include "common/TcDate.h"
#include "outside/rix/CRixSimServer.h"
#include "parvex/MXFId.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/browser/ServerClipGolden.h"
#include "xml/CXmlDocument.h"

using namespace browsertest;

namespace
{

constexpr const char* kFolder = "/CLIPS/";

bool Has(const std::string& job, const std::string& part)
{
    return job.find(part) != std::string::npos;
}

class ServerClipTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = StartSimulatorInUtc();
        ASSERT_TRUE(server);
        view.SetClock(FixedNow);
        ValdrinTimings timings;
        timings.nTableRetryMs = 1;
        timings.nFtpControlMs = 2000;
        view.SetTimings(timings);
        CValdrinSettings& s = view.Settings();
        s._szCurrentFolder = kFolder;
        s._szRixAddress = "127.0.0.1";
        s._szRixPort = std::to_string(server->FtpPort());
        s._bUseRix = true;
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }

    int Describe(const std::string& clipName, const std::string& table, std::string& job)
    {
        server->Store().AddFile(std::string(kFolder) + clipName + ".XML",
                                rixsim::RixSimBytes(table.begin(), table.end()));
        return view.GetFTPInfos(clipName, job);
    }

    std::unique_ptr<rixsim::CRixSimServer> server;
    CapturingSink sink;
    CValdrinViewCore view{sink};
};

TEST_F(ServerClipTest, PlainClipGivesTheGoldenJob)
{
    std::string job;
    ASSERT_EQ(Describe("110B_plain", PlainTable(), job), 0);
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(job, WithPort(kGoldenPlain, server->FtpPort()));
}

TEST_F(ServerClipTest, OptionsChangeOnlyTheirElements)
{
    CValdrinSettings& s = view.Settings();
    s._bTrimClip = true;
    s._nTrimGuardBand = -3;
    s._b24BitsAudio = true;
    s._bTardix = false;
    s._bTcpTransfer = true;  // no meaning for a server clip
    std::string job;
    ASSERT_EQ(Describe("110B_plain", PlainTable(), job), 0);
    EXPECT_TRUE(Has(job, "<KorvoRixFstFld>1100</KorvoRixFstFld><KorvonAudioBits>24</KorvonAudioBits>"));
    EXPECT_TRUE(Has(job,
                    "<TrimClip>1</TrimClip><Tardix>0</Tardix><TrimGuardBand>4294967293</TrimGuardBand>"
                    "<KorvoFileType>RixFTP</KorvoFileType>"));
    EXPECT_TRUE(Has(job, "<Rix_IN>1100</Rix_IN><Rix_IN_TC_str>00:30:22:00</Rix_IN_TC_str><Rix_OUT>1301</Rix_OUT>"));
    EXPECT_FALSE(Has(job, "KorvoTCPPort"));
    EXPECT_FALSE(Has(job, "KorvoBlockSizeMB"));
    // Marks come from the short points whatever the option.
    EXPECT_TRUE(Has(job, "<markin>00:30:22:00</markin><markout>00:30:26:00</markout>"));

    s._nTrimGuardBand = 0;
    ASSERT_EQ(Describe("110B_plain", PlainTable(), job), 0);
    EXPECT_FALSE(Has(job, "TrimGuardBand"));
    s._bTrimClip = false;
    s._nTrimGuardBand = 8;
    ASSERT_EQ(Describe("110B_plain", PlainTable(), job), 0);
    EXPECT_FALSE(Has(job, "TrimGuardBand"));
}

// A clip without short points, -1 or no elements at all, is described whole whatever Trim Clip says.
TEST_F(ServerClipTest, ClipWithoutShortPointsIsDescribedWhole)
{
    struct Case {
        const char* shortIn;  // null: no element
        const char* shortOut;
        bool trim;
    };
    const Case cases[] = {
        {"-1", "-1", false},      {"-1", "-1", true},   {nullptr, nullptr, false},
        {nullptr, nullptr, true}, {"1100", "-1", true}, {"1100", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.shortIn ? c.shortIn : "none") + " " + (c.shortOut ? c.shortOut : "none") +
                     (c.trim ? " trimmed" : ""));
        std::vector<std::pair<std::string, std::string>> elements = {{"VIDEOCOMPRESSIONTYPE", "3"},
                                                                     {"VIDEOFORMAT", "1"},
                                                                     {"IN", "1000"},
                                                                     {"OUT", "1500"},
                                                                     {"OFFSETTC", "90000"}};
        if (c.shortIn)
            elements.push_back({"SHORTIN", c.shortIn});
        if (c.shortOut)
            elements.push_back({"SHORTOUT", c.shortOut});
        view.Settings()._bTrimClip = c.trim;
        std::string job;
        ASSERT_EQ(Describe("111A", Table(elements), job), 0);
        EXPECT_TRUE(Has(job, "<markin>00:30:20:00</markin><markout>00:30:30:00</markout>"));
        EXPECT_TRUE(Has(job,
                        "<KorvoTCIn>91000</KorvoTCIn><KorvoTCOut>91500</KorvoTCOut><KorvonAudios>0</KorvonAudios>"
                        "<KorvoRate>0</KorvoRate><KorvoClipIn>-1</KorvoClipIn><KorvoClipOut>-1</KorvoClipOut>"
                        "<KorvoRixFstFld>1000</KorvoRixFstFld>"));
        EXPECT_TRUE(Has(job, "<Rix_IN>1000</Rix_IN><Rix_IN_TC_str>00:30:20:00</Rix_IN_TC_str><Rix_OUT>1500</Rix_OUT>"));
    }
}

TEST_F(ServerClipTest, FixedCopyOfAJobWithoutAmpersandIsWellFormed)
{
    std::string job;
    ASSERT_EQ(Describe("111A", Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"OUT", "100"}}), job), 0);
    EXPECT_EQ(job.rfind("<?xml>\n<ingestdrag><printname>111A</printname><lookupname>111A.CLP</lookupname>", 0), 0u);
    const auto path = testsupport::TestRoot() / "copy.xml";
    ASSERT_TRUE(ingestjob::WriteFixedCopy(job, path.string()));
    const std::string copy = ReadText(path);
    EXPECT_EQ(copy.rfind("<?xml version=\"1.0\"?>\n<ingestdrag>", 0), 0u);
    EXPECT_EQ(std::system(("xmllint --noout " + path.string()).c_str()), 0);
}

TEST_F(ServerClipTest, TimeOfDayStampGivesThePrimaryTimecode)
{
    TcDate date(0, 2024, 1, 2, 10, 0, 0, 0);  // 10:00:00:00 at 25 frames
    uint8_t packed[8];
    date.Pack(false, packed);
    std::string hex;
    for (uint8_t b : packed) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);  // lower case reads as upper case
        hex += pair;
    }
    auto table = Table({{"VIDEOCOMPRESSIONTYPE", "7"},
                        {"VIDEOCOMPRESSIONRATE", "100"},
                        {"VIDEOFORMAT", "33"},
                        {"IN", "400"},
                        {"OUT", "600"},
                        {"SHORTIN", "450"},
                        {"SHORTOUT", "550"},
                        {"OFFSETTC", "5"},
                        {"TC_TOD_CURRENT", hex}});
    std::string job;
    ASSERT_EQ(Describe("111A", table, job), 0);
    EXPECT_TRUE(Has(job, "<KorvoTCIn>1800000</KorvoTCIn><KorvoTCOut>1800200</KorvoTCOut>"));
    EXPECT_TRUE(Has(job, "<KorvoPrimaryTC>1800000</KorvoPrimaryTC>"));
    EXPECT_TRUE(Has(job, "<markin>10:00:01:00</markin><markout>10:00:03:00</markout>"));
    EXPECT_TRUE(Has(job, "<KorvoDataType>DVCPro</KorvoDataType>"));
    EXPECT_TRUE(Has(job,
                    "<Rix_Video_Codec_str>DVCPRO HD</Rix_Video_Codec_str><Rix_Video_Std>3</Rix_Video_Std>"
                    "<Rix_Video_Std_str>HD_1080</Rix_Video_Std_str>"));
    // With Trim Clip the primary timecode moves to the short in point.
    view.Settings()._bTrimClip = true;
    ASSERT_EQ(Describe("111A", table, job), 0);
    EXPECT_TRUE(Has(job, "<KorvoPrimaryTC>1800050</KorvoPrimaryTC>"));
    // The user timecode is read when it is the primary one (only the selector's low 8 bits count); missing, the
    // table's offset stays.
    auto userTable = [&](const char* selector) {
        return Table({{"VIDEOCOMPRESSIONTYPE", "3"},
                      {"IN", "400"},
                      {"OUT", "600"},
                      {"OFFSETTC", "5"},
                      {"CURRENT_PRIMARY_TC", selector},
                      {"TC_USR_CURRENT", hex}});
    };
    view.Settings()._bTrimClip = false;
    ASSERT_EQ(Describe("111A", userTable("1"), job), 0);
    EXPECT_TRUE(Has(job, "<KorvoPrimaryTC>1800000</KorvoPrimaryTC>"));
    ASSERT_EQ(Describe("111A", userTable("256"), job), 0);
    EXPECT_FALSE(Has(job, "<KorvoPrimaryTC>"));
    EXPECT_TRUE(Has(job, "<KorvoTCIn>405</KorvoTCIn>"));
}

TEST_F(ServerClipTest, RecordingTrainAsksTheSideChannel)
{
    auto table = Table({{"VIDEOCOMPRESSIONTYPE", "3"},
                        {"NUMCLIPLenmark", "16384"},
                        {"OUT", "200000"},
                        {"CAMERA", "C"},
                        {"OFFSETTC", "7"}});
    std::string job;
    ASSERT_EQ(Describe("000020C_rec", table, job), 0);
    EXPECT_TRUE(Has(job, "<lookupname>000020C_rec.TRN</lookupname>"));
    // A window from one minute before OUT, ten minutes long.
    EXPECT_TRUE(Has(job, "<KorvoRixFstFld>197000</KorvoRixFstFld>"));
    EXPECT_TRUE(Has(job, "<KorvoClipIn>0</KorvoClipIn><KorvoClipOut>30000</KorvoClipOut>"));
    EXPECT_TRUE(Has(job, "<KorvoPrimaryTC>197000</KorvoPrimaryTC>"));
    bool asked = false;
    for (const auto& entry : server->Journal())
        asked = asked || (entry._szChannel == "RPC" && entry._szText.rfind("RPC 2 ", 0) == 0);
    EXPECT_TRUE(asked);

    // A side channel that gives no answer: the table's offset stays and no primary timecode is claimed.
    server->AddFault({"RPC 2", rixsim::RixSimFaultKind::ReturnCode, -1, 0, 1, 0, 3, 0});
    ASSERT_EQ(Describe("000020C_rec", table, job), 0);
    EXPECT_FALSE(Has(job, "KorvoPrimaryTC"));
    EXPECT_TRUE(Has(job, "<KorvoTCIn>197007</KorvoTCIn>"));
}

TEST_F(ServerClipTest, ClipTableLongerThanOneReceiveAndTooLong)
{
    std::vector<std::pair<std::string, std::string>> elements = {{"VIDEOCOMPRESSIONTYPE", "3"}, {"OUT", "100"}};
    elements.push_back({"PADDING", std::string(15000, 'p')});
    std::string job;
    EXPECT_EQ(Describe("111A", Table(elements), job), 0);
    elements.back().second.assign(17000, 'p');
    EXPECT_EQ(Describe("111A", Table(elements), job), -2);  // cut at 16384 bytes, no longer parses
    // Exactly 16384 bytes is read whole.
    std::string exact = Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"PADDING", ""}});
    exact.insert(exact.find("</PADDING>"), std::string(16384 - exact.size(), 'q'));
    ASSERT_EQ(exact.size(), 16384u);
    EXPECT_EQ(Describe("111A", exact, job), 0);
}

TEST_F(ServerClipTest, ServerFailures)
{
    std::string job = "untouched";
    // No clip table after three tries: 1, no message.
    EXPECT_EQ(view.GetFTPInfos("missing", job), 1);
    EXPECT_TRUE(sink.Messages().empty());
    size_t retrieves = 0;
    for (const auto& entry : server->Journal())
        retrieves += entry._szText == "RETR missing.XML";
    EXPECT_EQ(retrieves, 3u);
    // Not well-formed.
    EXPECT_EQ(Describe("bad", "<QVCLIPTABLE><IN>1</QVCLIPTABLE>", job), -2);
    // A data connection cut in the middle of the table: a clear failure, not half a table.
    server->AddFault({"RETR", rixsim::RixSimFaultKind::CutData, 1, 0, 1, 10, 450, 0});
    EXPECT_EQ(Describe("cut", Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"PADDING", std::string(9000, 'x')}}), job), 1);
    EXPECT_TRUE(sink.Messages().empty());
    // The login refused.
    view.Settings()._szRixPass = "wrong";
    EXPECT_EQ(Describe("111A", Table({{"VIDEOCOMPRESSIONTYPE", "3"}}), job), 1);
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0].text, "Failed to Connect to FTP Server !!\n127.0.0.1:" +
                                           std::to_string(server->FtpPort()) + " did not accept Korvo: 221 Goodbye");
    EXPECT_EQ(job, "untouched");
}

TEST_F(ServerClipTest, UnsupportedCodecIsRefusedWithTheMessage)
{
    for (const char* type : {"0", "1", "2", "5", "9"}) {
        CapturingSink caseSink;
        CValdrinViewCore caseView{caseSink};
        caseView.Settings() = view.Settings();
        std::string job;
        server->Store().AddFile(std::string(kFolder) + "222B.XML", [&] {
            const std::string t = Table({{"VIDEOCOMPRESSIONTYPE", type}});
            return rixsim::RixSimBytes(t.begin(), t.end());
        }());
        EXPECT_EQ(caseView.GetFTPInfos("222B", job), -1) << type;
        EXPECT_EQ(
            caseSink.Messages(),
            (std::vector<Message>{{"------- File [ 222B ] is NOT a supported File !\n", "ERROR", MessageIcon::Stop}}))
            << type;
    }
}

// The clip-table reader on its own: defaults and derived values.
CServerClipTable ReadTable(const std::string& text, CXmlDocument& doc)
{
    EXPECT_TRUE(doc.LoadXml(text));
    CServerClipTable table;
    table.Read(doc);
    return table;
}

TEST(ServerClipTableTest, DefaultsAndDerivedValues)
{
    CXmlDocument doc;
    auto t = ReadTable(Table({{"VIDEOCOMPRESSIONTYPE", "3"}}), doc);
    EXPECT_EQ(t._nClipNumber, 111);
    EXPECT_EQ(t._szCamera, "A");
    EXPECT_EQ(t._nVideoChannels, 1);
    EXPECT_EQ(t._szCameraPref, "");
    EXPECT_FALSE(t.IsTrain());

    t = ReadTable(Table({{"VIDEOCOMPRESSIONTYPE", "3"},
                         {"NUMCLIPLenmark", ""},
                         {"CAMERA", ""},
                         {"NBCHANNELAV", ""},
                         {"CAMPREF", ""}}),
                  doc);
    EXPECT_EQ(t._nClipNumber, 111);
    EXPECT_EQ(t._szCamera, "A");
    EXPECT_EQ(t._nVideoChannels, 0);
    EXPECT_EQ(t._szCameraPref, "1");

    struct AudioCase {
        const char* mode;
        int32_t channels;
    };
    for (AudioCase c : {AudioCase{"0", 0}, {"1", 4}, {"3", 4}, {"4", 8}, {"-1", 8}}) {
        t = ReadTable(Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"AUDIOMODE", c.mode}}), doc);
        EXPECT_EQ(t._nAudios, c.channels) << c.mode;
    }

    struct FormatCase {
        int format;
        int32_t standard, tcSystem, videoSystem;
        bool hd720;
    };
    for (FormatCase c : {FormatCase{0x12, 2, 5, 7, true},
                         {0x21, 3, 3, 3, false},
                         {0x14, 2, 4, 7, true},
                         {0x08, 0, 3, 3, false},
                         {0x01, 1, 3, 3, false},
                         {0x04, 0, 4, 4, false}}) {
        t = ReadTable(
            Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"VIDEOFORMAT", std::to_string(c.format)}, {"ASPECTRATIO", "1"}}),
            doc);
        EXPECT_EQ(t._nStandard, c.standard) << c.format;
        EXPECT_EQ(t._nTcSystem, c.tcSystem) << c.format;
        EXPECT_EQ(t._nVideoSystem, c.videoSystem) << c.format;
        EXPECT_EQ(t._b720Lines, c.hd720) << c.format;
        EXPECT_EQ(t._nAspect, c.standard >= 2 ? 3 : 2) << c.format;
    }

    struct CodecCase {
        const char* type;
        const char* rate;
        int32_t codec;
    };
    for (CodecCase c : {CodecCase{"3", "30", 2},
                        {"3", "40", 3},
                        {"3", "45", 4},
                        {"4", "185", 9},
                        {"4", "220", 9},
                        {"4", "145", 8},
                        {"6", "50", 23},
                        {"7", "50", 22},
                        {"7", "51", 23},
                        {"8", "100", 22},
                        {"5", "50", -1}}) {
        t = ReadTable(Table({{"VIDEOCOMPRESSIONTYPE", c.type}, {"VIDEOCOMPRESSIONRATE", c.rate}}), doc);
        EXPECT_EQ(t._nCodec, c.codec) << c.type << "/" << c.rate;
    }
}

TEST(ServerClipTableTest, HexadecimalTexts)
{
    EXPECT_EQ(CServerClipTable::DecodeUnicodeHex("4100420043000000"), "ABC");
    // At most 30 bytes: a longer key is cut to 15 units.
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += "5A00";
    EXPECT_EQ(CServerClipTable::DecodeUnicodeHex(twenty), std::string(15, 'Z'));
    CXmlDocument doc;
    ReadTable(Table({{"VARID32", std::string(64, '4') + "42"}, {"VARID32_CURSIZE", "0"}}), doc);
    EXPECT_EQ(CServerClipTable::ReadVarId(doc), std::string(32, 'D'));
    ReadTable(Table({{"VARID32", std::string(64, '4')}, {"VARID32_CURSIZE", "3"}}), doc);
    EXPECT_EQ(CServerClipTable::ReadVarId(doc), "DDD");
    ReadTable(Table({{"VARID32", "41420043"}}), doc);
    EXPECT_EQ(CServerClipTable::ReadVarId(doc), "AB");
    ReadTable(Table({{"OUT", "1"}}), doc);
    EXPECT_EQ(CServerClipTable::ReadVarId(doc), std::nullopt);
}

TEST_F(ServerClipTest, UnicodeNamesAndKeywords)
{
    auto table = Table({{"VIDEOCOMPRESSIONTYPE", "3"},
                        {"UNICODEFLAG", "528"},  // 0x200 CLIPNAME, 0x10 INDEXKEY0
                        {"CLIPNAME", "4E006F00EB006C00"},
                        {"INDEXKEY0", "4100420043000000"},
                        {"INDEXKEY1", "4100420043000000"},
                        {"VARID32", "41"},
                        {"UNICODEFLAG", "0"}});
    std::string job;
    ASSERT_EQ(Describe("111A", table, job), 0);
    EXPECT_TRUE(Has(job, "<printname>UNICODE</printname>"));
    EXPECT_TRUE(Has(job,
                    "<Rix_ClipName>No\xC3\xABl</Rix_ClipName><Rix_Keyword_1>ABC</Rix_Keyword_1>"
                    "<Rix_Keyword_2>4100420043000000</Rix_Keyword_2>"));
    // Without a name the clip number and camera stand for it.
    ASSERT_EQ(
        Describe(
            "111A",
            Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"UNICODEFLAG", "8192"}, {"VARID32", "41"}, {"CLIPNAME", "   "}}),
            job),
        0);
    EXPECT_TRUE(Has(job, "<printname>111A</printname>"));
    EXPECT_TRUE(Has(job, "<Rix_VarID>UNICODE</Rix_VarID>"));
    EXPECT_TRUE(Has(job, "<Rix_ClipName></Rix_ClipName>") || Has(job, "<Rix_ClipName/>"));
}

TEST_F(ServerClipTest, EightBitNamesAreReadInTheServersPage)
{
    std::string job;
    ASSERT_EQ(Describe("111A", Table({{"VIDEOCOMPRESSIONTYPE", "3"}, {"CLIPNAME", "Caf\xE9"}}), job), 0);
    EXPECT_TRUE(Has(job, "<printname>Caf\xC3\xA9</printname>"));
}

TEST_F(ServerClipTest, EmptyMaterialIdLeavesOutTheCreationTimes)
{
    std::string job;
    ASSERT_EQ(Describe("111A", Table({{"VIDEOCOMPRESSIONTYPE", "3"}}), job), 0);
    EXPECT_FALSE(Has(job, "Rix_Creation_Time"));
    EXPECT_TRUE(Has(job, "<Rix_Nb_Videos>1</Rix_Nb_Videos><Parvex_Backup_Time_str>"));
}

}  // namespace
