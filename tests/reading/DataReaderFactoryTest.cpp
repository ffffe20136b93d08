// The reader factory's choices and messages, the XML files detection knows (P2 clip descriptions, link files and
// the other documents), and server clip names, with a clip served by the video server simulator.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "outside/rix/CRixClipTable.h"
#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "reading/formats/CAviFileDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CSdiDataReader.h"
#include "reading/formats/CWavDataReader.h"
#include "reading/rix/CRixAudioDataReader.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "reading/rix/CRixHydrelVideoDataReader.h"
#include "reading/rix/CRixVideoDataReader.h"
#include "tests/reading/FormatMedia.h"
#include "tests/reading/RixPictureBlocks.h"
#include "tests/rixclient/RixTestHelpers.h"
#include "tests/support/FileTestKit.h"

namespace
{

namespace fs = std::filesystem;
using testsupport::FreshDir;
using testsupport::LogCapture;
using testsupport::WriteWholeFile;

const char kUnknown[] = "KorvoDataReader - FAILED to create DataReader - UNKNOWN FileType";
const char kUnsupported[] = "KorvoDataReader - FAILED to create DataReader - UNSUPORTED FileType";
const char kNoAllocation[] = "KorvoDataReader - FAILED to Allocate DataReader";

// ---- XML files ----

std::string WriteXml(const std::string& name, const std::string& body, bool bom = false)
{
    const fs::path path = FreshDir("detect-xml") / (name + ".xml");
    WriteWholeFile(path,
                   std::string(bom ? "\xEF\xBB\xBF" : "") + "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + body);
    return path.string();
}

struct XmlCase {
    const char* pszName;
    std::string body;
    bool bBom;
    FileType nFile;
    int32_t nVideo;
};

std::string P2(const std::string& codecElement, const std::string& codec, const std::string& ns = "")
{
    const std::string xmlns = ns.empty() ? "" : " xmlns=\"" + ns + "\"";
    return "<P2Main" + xmlns + "><ClipContent><EssenceList><Video><" + codecElement + ">" + codec + "</" +
           codecElement + "></Video></EssenceList></ClipContent></P2Main>";
}

const char kLinkBody[] =
    "<RixLink><UmID>060A2B340101010501010D4313000000</UmID><IPAddress>10.1.2.3:5000</IPAddress>"
    "<RixNumber>2</RixNumber><ClipNumber>17</ClipNumber><CameraId>B</CameraId><InTC>100</InTC><OutTC>600</OutTC>"
    "<ShortInTC>150</ShortInTC><ShortOutTC>550</ShortOutTC><VideoCodec>%d</VideoCodec>"
    "<NbVideoChannels>1</NbVideoChannels><VideoFormat>%d</VideoFormat><AudioCodec>1</AudioCodec>"
    "<NbAudioChannels>8</NbAudioChannels><GrowingMode>0</GrowingMode></RixLink>";

std::string Link(int codec, int format)
{
    char text[sizeof kLinkBody + 32];
    std::snprintf(text, sizeof text, kLinkBody, codec, format);
    return text;
}

TEST(DetectXml, ClipDescriptionsLinksAndOtherDocuments)
{
    const std::string ns = "urn:schemas-Professional-Plug-in:P2:ClipMetadata:v3.1";
    const XmlCase cases[] = {
        {"p2-dv25", P2("Codec", "DV25_420"), false, P2_File, DV25_Video},
        {"p2-dvcpro", P2("Codec", "DV25_411"), false, P2_File, DVCPro25_Video},
        {"p2-dv50", P2("Codec", "DV50_422"), false, P2_File, DVCPro50_Video},
        {"p2-dv100-720", P2("Codec", "DV100_720p"), false, P2_File, DVCPro720P_Video},
        {"p2-dv100", P2("Codec", "DV100_1080/59.94i"), false, P2_File, DVCPro100_Video},
        {"p2-avc-720", P2("CodecType", "AVC-I_720/50p"), false, P2_File, AVC_I_720P_Video},
        {"p2-avc", P2("CodecType", "AVC-I_1080/50i"), false, P2_File, AVC_I_1080i_Video},
        {"p2-other", P2("Codec", "MPEG"), false, P2_File, Unknown_Video},
        // A default namespace is found through the prefix; a byte-order mark is no obstacle.
        {"p2-namespace", P2("Codec", "DV50_422", ns), true, P2_File, DVCPro50_Video},
        {"link-imx", Link(3, 0), false, Rix_XmlLink, IMX40_Video},
        {"link-mjpeg-progressive", Link(1, 1 << 22), false, Rix_XmlLink, MjpegFrame_Video},
        {"link-mpeg-hd", Link(16, 0), false, Rix_XmlLink, Unknown_Video},
        {"ftp-clip", "<RixFtpClip><Url>ftp://a/b</Url></RixFtpClip>", false, Rix_FtpLink, Unknown_Video},
        {"multistream", "<KorvoMultiStream><Stream/></KorvoMultiStream>", false, Korvo_MultiStream, Unknown_Video},
        {"other", "<Playlist><Item/></Playlist>", false, Unknown_File, Unknown_Video},
        {"broken", "<RixLink><UmID>", false, Unknown_File, Unknown_Video},
    };
    for (const XmlCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        const std::string path = WriteXml(c.pszName, c.body, c.bBom);
        int32_t video = -1;
        EXPECT_EQ(GetFileTypeFromSource(path.c_str(), &video), c.nFile);
        EXPECT_EQ(video, c.nVideo);
    }
    // "<?xml" must be followed by a space.
    const fs::path notXml = FreshDir("detect-xml") / "not.xml";
    WriteWholeFile(notXml, "<?xml-stylesheet href=\"a\"?><RixLink/>");
    EXPECT_EQ(GetFileTypeFromSource(notXml.c_str(), nullptr), Unknown_File);
}

// ---- Factory choices ----

TEST(DataReaderFactory, KindsTheTableServesAndMessages)
{
    LogCapture log("factory");
    const std::string wav = formatmedia::Media("wav_s16.wav").string();
    // A WAV file asked for video: no reader, and the allocation message.
    EXPECT_EQ(CreateDataReader(wav.c_str(), Unknown_File, Video_Data, "factory"), nullptr);
    EXPECT_TRUE(log.Has(kNoAllocation));
    auto audio = CreateDataReader(wav.c_str(), Unknown_File, Audio_Data, "factory");
    ASSERT_NE(audio, nullptr);
    EXPECT_NE(dynamic_cast<CWavDataReader*>(audio.get()), nullptr);

    // AVI and QuickTime files get a reader for every kind; the reader's Open decides.
    for (DataKind kind : {Video_Data, Audio_Data}) {
        auto avi = CreateDataReader(formatmedia::Media("avi_dv25.avi").c_str(), Unknown_File, kind);
        EXPECT_NE(dynamic_cast<CAviFileDataReader*>(avi.get()), nullptr);
        auto qt = CreateDataReader(formatmedia::Media("qt_dv5p.mov").c_str(), Unknown_File, kind);
        EXPECT_NE(dynamic_cast<CQTDataReader*>(qt.get()), nullptr);
    }

    // A type given by the caller is trusted: a DV file read as SDI frames.
    auto sdi = CreateDataReader(formatmedia::Media("dv_pal.dv").c_str(), SDI_File, Video_Data);
    EXPECT_NE(dynamic_cast<CSdiVideoDataReader*>(sdi.get()), nullptr);
    // A QuickTime file given as a clip file or as a WAV file does not open.
    EXPECT_EQ(CreateDataReader(formatmedia::Media("qt_dv5p.mov").c_str(), MJPEG_File, Video_Data), nullptr);
    EXPECT_EQ(CreateDataReader(formatmedia::Media("qt_dv5p.mov").c_str(), WAVE_File, Audio_Data), nullptr);

    // Types without a row, and unknown files.
    for (FileType type : {AVIUnknown_File, QTUnknown_File, Rix_FtpLink, AAF_File, Korvo_MultiStream, QTREFDV_File,
                          static_cast<FileType>(57), static_cast<FileType>(-3)}) {
        LogCapture rowLog("factory-row");
        EXPECT_EQ(CreateDataReader(wav.c_str(), type, Audio_Data, "factory-row"), nullptr) << type;
        EXPECT_TRUE(rowLog.Has(kUnsupported)) << type;
    }
    const fs::path junk = FreshDir("factory-junk") / "junk.bin";
    WriteWholeFile(junk, std::string(4096, 'j'));
    EXPECT_EQ(CreateDataReader(junk.c_str(), Unknown_File, Video_Data, "factory"), nullptr);
    EXPECT_TRUE(log.Has(kUnknown));
    EXPECT_EQ(CreateDataReader(nullptr, Unknown_File, Video_Data, "factory"), nullptr);
    EXPECT_EQ(CreateDataReader((FreshDir("factory-none") / "none.dv").c_str(), RawDV_File, Video_Data), nullptr);
}

// ---- Server clip names ----

TEST(DetectServerNames, ByTheirForm)
{
    struct NameCase {
        const char* pszName;
        FileType nFile;
    };
    const NameCase cases[] = {
        {"Rix:\\\\10.1.2.3\\000110A", Rix_Link},
        {"RIX:\\\\10.1.2.3:5000\\clip", Rix_Link},
        {"rix:\\\\host", Rix_Link},
        {"ftp://10.1.2.3/clips/000110B", Rix_Ftp},
        {"FTP://user:pw@host:2121/a/b/123456H_news.CLP", Rix_Ftp},
        {"Rix:\\", Unknown_File},  // the prefix cut short: a file name that does not exist
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        int32_t video = 42;
        EXPECT_EQ(GetFileTypeFromSource(c.pszName, &video), c.nFile);
        EXPECT_EQ(video, c.nFile == Rix_Link ? Mjpeg_Video : c.nFile == Rix_Ftp ? 42 : Unknown_Video);
    }
}

class FactoryServerThreads : public rixtest::SimTest
{
protected:
    void Configure(rixsim::RixSimConfig& config) override
    {
        config._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::Block2);
    }
};

// A source that only carries the clip's URL, as the server reader over FTP wants it.
class UrlSource : public CSourceReader
{
public:
    explicit UrlSource(std::string url) : CSourceReader(""), _szUrl(std::move(url)) {}
    void GetName(std::string& name) override { name = _szUrl; }

private:
    std::string _szUrl;
};

TEST_F(FactoryServerThreads, ServedClipsByNameAndFilesByContent)
{
    const std::string clip = "/clips/000110A_news.CLP";
    _server->Store().AddClip(clip, rixtest::PictureBlocks(100, 2, 10), 0x200000,
                             rixsim::CRixClipTable::ForClip("000110A_news.CLP", 100, 120).Set("VIDEOFORMAT", 1).ToXml(),
                             false);
    const std::string url = Url(clip);
    EXPECT_EQ(GetFileTypeFromSource(url.c_str(), nullptr), Rix_Ftp);

    // The server reader over FTP comes unopened; its caller gives it the URL and starts it.
    LogCapture log("factory-ftp");
    EXPECT_EQ(CreateDataReader(url.c_str(), Unknown_File, Audio_Data, "factory-ftp"), nullptr);
    EXPECT_EQ(log.Text().find("KorvoDataReader"), std::string::npos);
    std::unique_ptr<CDataReader> reader = CreateDataReader(url.c_str(), Unknown_File, Video_Data);
    auto* ftp = dynamic_cast<CRixFTPDataReader*>(reader.get());
    ASSERT_NE(ftp, nullptr);
    EXPECT_FALSE(ftp->IsOpen());
    Prepare(*ftp);
    ftp->AttachSourceReader(std::make_unique<UrlSource>(url), 0);
    ASSERT_EQ(ftp->Initialize(""), 0);
    std::vector<uint8_t> buffer(4096);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    ASSERT_EQ(ftp->GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr), 0);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), rixtest::Picture(100, 0));
    reader.reset();

    // A plain file on the same server is read through the FTP source and detected by its bytes.
    const std::string wav = "/files/sound.wav";
    const std::vector<uint8_t> bytes = formatmedia::ReadBytes(formatmedia::Media("wav_s16.wav"));
    _server->Store().AddFile(wav, bytes);
    int32_t video = -1;
    EXPECT_EQ(GetFileTypeFromSource(Url(wav).c_str(), &video), WAVE_File);
    EXPECT_EQ(video, Unknown_Video);
}

// The clip of the gateway: field f holds 50 + f % 5 bytes of f.
rixsim::RixSimGbeClip GbeClip(uint32_t codec, uint32_t clipNumber)
{
    rixsim::RixSimGbeClip clip;
    clip._szUmId = "UMID-" + std::to_string(clipNumber);
    clip._nRixNumber = 3;
    clip._nClipNumber = clipNumber;
    clip._cCamera = 'B';
    clip._nIn = 100;
    clip._nOut = 120;
    clip._nShortIn = 101;
    clip._nShortOut = 119;
    clip._nVideoCodec = codec;
    clip._nVideoFormat = 1u << 28 | 3u << 24 | 2u << 16;
    clip._nSamplesPerField = 5;
    for (uint32_t f = clip._nIn; f < clip._nOut; ++f)
        clip._vFields.emplace_back(50 + f % 5, static_cast<uint8_t>(f));
    return clip;
}

std::vector<uint8_t> FirstUnit(CDataReader& reader)
{
    std::vector<uint8_t> buffer(65536);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    if (reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr) != 0)
        return {};
    return std::vector<uint8_t>(data, data + size);
}

TEST_F(FactoryServerThreads, GatewayClipsByNameAndByLinkFile)
{
    _server->Store().AddGbeClip(GbeClip(1, 12));
    _server->Store().AddGbeClip(GbeClip(3, 13));
    const std::string gateway = "127.0.0.1:" + std::to_string(_server->GbePort());
    const std::string name = "Rix:\\\\" + gateway + "\\3\\12\\B";
    int32_t video = -1;
    EXPECT_EQ(GetFileTypeFromSource(name.c_str(), &video), Rix_Link);
    EXPECT_EQ(video, Mjpeg_Video);

    auto reader = CreateDataReader(name.c_str(), Unknown_File, Video_Data);
    ASSERT_NE(dynamic_cast<CRixVideoDataReader*>(reader.get()), nullptr);
    EXPECT_EQ(FirstUnit(*reader), std::vector<uint8_t>(50, 100));
    auto audio = CreateDataReader(name.c_str(), Unknown_File, Audio_Data);
    ASSERT_NE(dynamic_cast<CRixAudioDataReader*>(audio.get()), nullptr);
    EXPECT_FALSE(FirstUnit(*audio).empty());
    // M-JPEG fields are no DVCPRO frames: the framing reader refuses the first one.
    EXPECT_EQ(CreateDataReader(name.c_str(), Unknown_File, DVCProFrame_Data), nullptr);
    auto padded = CreateDataReader(name.c_str(), Unknown_File, HydrelPadded_Data);
    EXPECT_NE(dynamic_cast<CRixHydrelVideoDataReader*>(padded.get()), nullptr);
    EXPECT_EQ(CreateDataReader(("Rix:\\\\" + gateway + "\\3\\99\\B").c_str(), Unknown_File, Video_Data), nullptr);

    // A complete link file is classified from what it says, without asking the server.
    const auto gbeRequests = [this] {
        size_t n = 0;
        for (const auto& entry : _server->Journal())
            n += entry._szChannel == "GBE";
        return n;
    };
    const fs::path dir = FreshDir("factory-links");
    const std::string complete = (dir / "complete.xml").string();
    WriteWholeFile(complete, "<?xml version=\"1.0\"?>\n<RixLink><UmID>UMID-12</UmID><IPAddress>" + gateway +
                                 "</IPAddress><RixNumber>3</RixNumber><ClipNumber>12</ClipNumber>"
                                 "<CameraId>B</CameraId><InTC>100</InTC><OutTC>120</OutTC><ShortInTC>101</ShortInTC>"
                                 "<ShortOutTC>119</ShortOutTC><VideoCodec>1</VideoCodec>"
                                 "<NbVideoChannels>1</NbVideoChannels><VideoFormat>0</VideoFormat>"
                                 "<AudioCodec>1</AudioCodec><NbAudioChannels>4</NbAudioChannels>"
                                 "<GrowingMode>0</GrowingMode></RixLink>\n");
    const size_t before = gbeRequests();
    EXPECT_EQ(GetFileTypeFromSource(complete.c_str(), &video), Rix_XmlLink);
    EXPECT_EQ(video, Mjpeg_Video);
    EXPECT_EQ(gbeRequests(), before);
    auto linked = CreateDataReader(complete.c_str(), Unknown_File, Video_Data);
    ASSERT_NE(dynamic_cast<CRixVideoDataReader*>(linked.get()), nullptr);
    EXPECT_EQ(FirstUnit(*linked), std::vector<uint8_t>(50, 100));

    // An incomplete one takes the coding the server reports: an IMX 40 clip.
    const std::string incomplete = (dir / "incomplete.xml").string();
    WriteWholeFile(incomplete, "<?xml version=\"1.0\"?>\n<RixLink><IPAddress>" + gateway +
                                   "</IPAddress><RixNumber>3</RixNumber><ClipNumber>13</ClipNumber>"
                                   "<CameraId>B</CameraId><VideoCodec>1</VideoCodec></RixLink>\n");
    EXPECT_EQ(GetFileTypeFromSource(incomplete.c_str(), &video), Rix_XmlLink);
    EXPECT_EQ(video, IMX40_Video);
    EXPECT_GT(gbeRequests(), before);
}

}  // namespace
