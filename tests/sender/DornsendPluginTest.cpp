// libDornsend.so as the transfer service meets it: its exports, and whole playouts through tessan's playout
// transfer from a media folder, read back with the project's readers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "common/CLogFile.h"
#include "outside/qo/Playback/Sender.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "sender/DornCodecFrames.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"
#include "tests/writers/WriterTestMedia.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

TEST(DornsendPlugin, ExportsExactlyCreateAndGetDornVersion)
{
    std::istringstream table(writertest::Shell("nm -D --defined-only '" KORVO_DORNSEND_LIBRARY "'"));
    std::set<std::string> names;
    for (std::string line; std::getline(table, line);)
        if (size_t space = line.rfind(' '); space != std::string::npos)
            names.insert(line.substr(space + 1));
    EXPECT_EQ(names, (std::set<std::string>{"Create", "GetDornVersion"}));
}

TEST(DornsendPlugin, CreatesSendersAndReportsItsVersion)
{
    platform::SharedLibrary library;
    ASSERT_TRUE(library.Open(KORVO_DORNSEND_LIBRARY));
    auto create = reinterpret_cast<Qo::Playback::CreateSenderFn>(library.Symbol("Create"));
    auto version = reinterpret_cast<Qo::Playback::GetDornVersionFn>(library.Symbol("GetDornVersion"));
    ASSERT_TRUE(create && version);
    int32_t number = 0;
    EXPECT_EQ(version(&number), &number);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(version(nullptr), nullptr);
    Qo::Playback::Sender_1* first = create();
    Qo::Playback::Sender_1* second = create();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Runstate(), 0);
    EXPECT_EQ(first->Open(nullptr), 5);
    EXPECT_EQ(first->GetErrorText(), "Dornsend, no composition in Open");
    first->Delete();
    second->Delete();
}

struct ParvexPlayout {
    const char* name;
    const char* compressor;
    const char* dataType;
    int tracks;
    int bits;
    bool blocks8MB;
    const char* encoding;  // ffmpeg input and encoding of fixed-size frames; none for IMX 50
    uint32_t frameBytes;
};

std::vector<std::string> PlayoutFrames(const ParvexPlayout& c, int count)
{
    if (!c.encoding)
        return ImxFrames(50, true, count);
    const std::string stream = testsupport::ReadWholeFile(writertest::Cached(
        std::string("dornsend-") + c.name + ".bin", std::string(c.encoding) + " -frames:v " + std::to_string(count) +
                                                        (c.frameBytes == 2 * 0x4A000 ? " -f rawvideo" : " -f dv")));
    std::vector<std::string> frames;
    for (size_t at = 0; at + c.frameBytes <= stream.size(); at += c.frameBytes)
        frames.push_back(stream.substr(at, c.frameBytes));
    return frames;
}

// What the server format keeps of a picture: IMX as it is, DVCPRO packed, VC-3 as its two prepared field units.
std::vector<std::string> ServerPictures(const std::string& dataType, const std::vector<std::string>& frames)
{
    std::vector<std::string> pictures;
    for (const std::string& frame : frames) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
        const auto size = static_cast<uint32_t>(frame.size());
        if (dataType == "DVCPro") {
            CKorvoDVCProHelper helper;
            EXPECT_TRUE(helper.InitFromDVCProFrame(bytes, size) && helper.ConvertFromDVCPro(bytes, size));
            uint32_t packedSize = 0;
            const uint8_t* packed = helper.GetPackedFrame(&packedSize);
            pictures.emplace_back(reinterpret_cast<const char*>(packed), packedSize);
        } else if (dataType == "Hydrel") {
            for (uint32_t u = 0; u < 2; ++u) {
                std::string unit = frame.substr(u * 0x4A000, 0x4A000);
                const uint32_t used = dorncodec::PrepareHydrelUnit(reinterpret_cast<uint8_t*>(unit.data()), 0x4A000);
                pictures.push_back(unit.substr(0, used));
            }
        } else {
            pictures.push_back(frame.substr(0, dorncodec::TrimmedLength(bytes, size)));
        }
    }
    return pictures;
}

class DornsendParvexPlayout : public ::testing::TestWithParam<ParvexPlayout>
{
};

TEST_P(DornsendParvexPlayout, TessanPlaysTheCompositionToAParvexFile)
{
    const ParvexPlayout& c = GetParam();
    const fs::path dir = testsupport::FreshDir(std::string("dornsend-playout-") + c.name);
    const auto frames = PlayoutFrames(c, 12);
    ASSERT_EQ(frames.size(), 12u);
    CompositionSpec layout;
    layout.duration = static_cast<int32_t>(frames.size());
    layout.compressors = {c.compressor};
    layout.soundWidth = c.bits;
    layout.tracks = {0};
    for (int t = 1; t <= c.tracks; ++t)
        layout.tracks.push_back(t);
    layout.targets = {{"TGT-Address", (dir / "share").string()},
                      {"TGT-Name", "Sequence"},
                      {"TGT-Serial", "4711"},
                      {"TGT-8MBBlocks", c.blocks8MB ? "1" : "0"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, layout);
    WriteMediaFolder(dir / "media", c.dataType, frames, layout, 1920);

    tessan::CPlayoutTransfer playout(composition, (dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    tessan::TransferResult result = playout.Run();
    ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    EXPECT_EQ(result.frames, layout.duration);
    const std::string clip = (dir / "share" / "Sequence 1.mxf").string();
    if (!c.encoding) {
        ExpectParvexClip(clip, frames, c.tracks, c.bits, c.blocks8MB ? 0x800000u : 0x200000u);
        return;
    }
    const std::vector<std::string> expected = ServerPictures(c.dataType, frames);
    CParvexVideoDataReader video("", true, true);
    ASSERT_EQ(video.AttachSourceReader(CreateSourceReader(clip.c_str(), 0, 0, ""), 1), 0);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    size_t n = 0;
    for (; video.GetNextData(&data, 0, &size, nullptr) == 0; ++n, data = nullptr) {
        ASSERT_LT(n, expected.size());
        ASSERT_GE(size, expected[n].size());
        EXPECT_EQ(std::memcmp(data, expected[n].data(), expected[n].size()), 0) << n;
    }
    EXPECT_EQ(n, expected.size());
}

const ParvexPlayout kParvexPlayouts[] = {
    {"Imx50_4x24_2MB", "Mirel::MPEG2::50", "IMX", 4, 24, false, nullptr, 0},
    {"Imx50_8x16_8MB", "Mirel::MPEG2::50", "IMX", 8, 16, true, nullptr, 0},
    {"Dvcpro50_4x24_2MB", "Mirel::DVCPRO::50", "DVCPro", 4, 24, false,
     "-f lavfi -i testsrc2=s=720x576:r=25 -pix_fmt yuv422p -c:v dvvideo", 288000},
    {"DvcproHD_8x24_8MB", "Mirel::DVCPRO::100", "DVCPro", 8, 24, true,
     "-f lavfi -i testsrc2=s=1440x1080:r=25 -pix_fmt yuv422p -c:v dvvideo", 576000},
    {"VC3_4x24_8MB", "Mirel::HD1080i::Hydrel", "Hydrel", 4, 24, true,
     "-f lavfi -i testsrc2=s=1920x1080:r=25 -pix_fmt yuv422p -c:v dnxhd -b:v 120M -flags +ildct", 2 * 0x4A000},
};

INSTANTIATE_TEST_SUITE_P(Cases, DornsendParvexPlayout, ::testing::ValuesIn(kParvexPlayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// What the sender logs during a playout reaches its log file, as the transfer service loads it.
TEST(DornsendPlugin, ThePlayoutIsInTheSendersLog)
{
    const fs::path dir = testsupport::FreshDir("dornsend-log");
    // A name of this run alone: other tests log into the same file, which may roll over meanwhile.
    const std::string name = "Logged " + std::to_string(getpid());
    const auto frames = ImxFrames(50, true, 5);
    CompositionSpec layout;
    layout.duration = static_cast<int32_t>(frames.size());
    layout.tracks = {0};
    layout.targets = {{"TGT-Address", (dir / "share").string()}, {"TGT-Name", name}, {"TGT-Serial", "4711"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, layout);
    WriteMediaFolder(dir / "media", "IMX", frames, layout, 1920);
    tessan::CPlayoutTransfer playout(composition, (dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    const tessan::TransferResult result = playout.Run();
    ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    std::string log = platform::ToLocalPath(GetLogFilePath("KorvoMirel", "Dornsend.log"));
    std::string text = testsupport::ReadWholeFile(log);
    log.back() = '~';  // the file rolled over
    if (fs::exists(log))
        text = testsupport::ReadWholeFile(log) + text;
    const std::string target = (dir / "share").string() + "\\" + name + ".mxf";
    const size_t opened = text.find("CDornsend.Open(): _TargetPath = [" + target + "]");
    ASSERT_NE(opened, std::string::npos) << log;
    EXPECT_NE(text.find("Received 5 Frames", opened), std::string::npos);
}

TEST(DornsendControlThreads, TessanPausesResumesAndCancelsAPlayoutWithoutSideFiles)
{
    const fs::path dir = testsupport::FreshDir("dornsend-control");
    // Long enough that the frames after the resume outlast the test's steps on a busy machine.
    constexpr int kFrames = 250;
    const auto frames = ImxFrames(50, true, kFrames);
    CompositionSpec layout;
    layout.duration = static_cast<int32_t>(frames.size());
    layout.targets = {{"TGT-Address", (dir / "share").string()},
                      {"TGT-Serial", "4711"},
                      {"TGT-Xml", "Parvex"},
                      {"TGT-XmlPath", (dir / "share").string()},
                      {"TGT-GenerateKorvo_METADATAS", "1"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, layout);
    WriteMediaFolder(dir / "media", "IMX", frames, layout, 1920);

    tessan::CPlayoutTransfer playout(composition, (dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    playout.Pause();
    tessan::TransferResult result;
    std::thread runner([&] { result = playout.Run(); });
    auto waitFor = [&](auto condition) {
        for (int i = 0; i < 60000 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return condition();
    };
    // Paused before the first frame: the sender holds the service's first Send.
    EXPECT_TRUE(waitFor([&] { return playout.Runstate() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(playout.FramesDone(), 0);
    playout.Resume();
    EXPECT_TRUE(waitFor([&] { return playout.FramesDone() >= 5; }));
    // Paused again mid-clip (the frame under way may still finish), then cancelled while paused.
    playout.Pause();
    const int64_t paused = playout.FramesDone() + 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(playout.FramesDone(), paused);
    playout.Cancel();
    runner.join();
    EXPECT_FALSE(result.complete);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.code, 2);
    EXPECT_LE(result.frames, paused);
    EXPECT_FALSE(fs::exists(dir / "share" / "TAPE01.korvo.xml"));
    EXPECT_FALSE(fs::exists(dir / "share" / "StqP_TAPE01_main.xml"));
}

struct MediaPlayout {
    const char* name;
    const char* compressor;
    const char* type;
    int tracks;
    int bits;
    const char* extension;
    const char* videoProbe;
    const char* audioProbe;
};

class DornsendMediaPlayout : public ::testing::TestWithParam<MediaPlayout>
{
};

// The hash of every decoded picture of a file's first video stream.
std::string FrameHashes(const fs::path& path, const std::string& format)
{
    std::string hashes = writertest::Shell("ffmpeg -nostdin -v error " + format + " -i '" + path.string() +
                                           "' -map 0:v:0 -f framemd5 - | grep -v '^#' | cut -d, -f6");
    EXPECT_FALSE(hashes.empty());
    return hashes;
}

std::string Probe(const fs::path& path, const std::string& entries)
{
    return writertest::Trim(
        writertest::Shell("ffprobe -v error -count_frames " + entries + " -of default=nw=1 '" + path.string() + "'"));
}

TEST_P(DornsendMediaPlayout, TessanPlaysTheCompositionToAMediaFile)
{
    const MediaPlayout& c = GetParam();
    const fs::path dir = testsupport::FreshDir(std::string("dornsend-media-") + c.name);
    const bool dv = std::string(c.compressor) == "Mirel::DV";
    std::vector<std::string> frames;
    if (dv) {
        const std::string stream = testsupport::ReadWholeFile(writertest::Cached(
            "dv25p_12.dif", "-f lavfi -i testsrc2=s=720x576:r=25 -frames:v 12 -pix_fmt yuv420p -c:v dvvideo -f dv"));
        for (size_t at = 0; at + 144000 <= stream.size(); at += 144000)
            frames.push_back(stream.substr(at, 144000));
    } else {
        frames = ImxFrames(50, true, 12);
    }
    ASSERT_EQ(frames.size(), 12u);
    // The OP1a writer builds its file from the IMX sample files of the machine's samples folder.
    platform::Registry::SetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common", "MXF Samples Path",
                                  writertest::SampleDir().string() + "/");
    CompositionSpec layout;
    layout.duration = 12;
    layout.compressors = {c.compressor};
    layout.soundWidth = c.bits;
    layout.tracks = {0};
    for (int t = 1; t <= c.tracks; ++t)
        layout.tracks.push_back(t);
    layout.targets = {{"TGT-Address", (dir / "share").string()}, {"TGT-Type", c.type}, {"TGT-Name", "clip"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, layout);
    WriteMediaFolder(dir / "media", dv ? "DVCPro" : "IMX", frames, layout, 1920);

    tessan::CPlayoutTransfer playout(composition, (dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    tessan::TransferResult result = playout.Run();
    ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    const fs::path file = dir / "share" / (std::string("clip") + c.extension);
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(Probe(file, "-select_streams v:0 -show_entries stream=codec_name,width,height,nb_read_frames"),
              c.videoProbe);
    EXPECT_EQ(Probe(file, "-select_streams a -show_entries stream=channels"), c.audioProbe);
    // The pictures decode as the ones sent.
    const fs::path sent = dir / "sent.bin";
    std::string all;
    for (const std::string& frame : frames)
        all += frame;
    testsupport::WriteWholeFile(sent, all);
    EXPECT_EQ(FrameHashes(file, ""), FrameHashes(sent, dv ? "-f dv" : "-f mpegvideo"));
}

const MediaPlayout kMediaPlayouts[] = {
    {"Op1a_4x24", "Mirel::MPEG2::50", "MXF_OP1A", 4, 24, ".mxf",
     "codec_name=mpeg2video\nwidth=720\nheight=608\nnb_read_frames=12", "channels=4"},
    {"Op1a_8x16", "Mirel::MPEG2::50", "MXF_OP1A", 8, 16, ".mxf",
     "codec_name=mpeg2video\nwidth=720\nheight=608\nnb_read_frames=12", "channels=8"},
    {"Op1a_8x24", "Mirel::MPEG2::50", "MXF_OP1A", 8, 24, ".mxf",
     "codec_name=mpeg2video\nwidth=720\nheight=608\nnb_read_frames=12", "channels=8"},
    {"QuickTimeDV25", "Mirel::DV", "", 2, 16, ".mov", "codec_name=dvvideo\nwidth=720\nheight=576\nnb_read_frames=12",
     "channels=1\nchannels=1"},
};

INSTANTIATE_TEST_SUITE_P(Cases, DornsendMediaPlayout, ::testing::ValuesIn(kMediaPlayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DornsendProgram, TessanPlaysOutThroughThePluginOrSaysWhyNot)
{
    const fs::path dir = testsupport::FreshDir("dornsend-program");
    const auto frames = ImxFrames(50, true, 12);
    CompositionSpec layout;
    layout.duration = static_cast<int32_t>(frames.size());
    layout.targets = {{"TGT-Address", (dir / "share").string()}, {"TGT-Serial", "4711"}};
    fs::create_directories(dir / "share");
    WriteMediaFolder(dir / "media", "IMX", frames, layout, 1920);
    const std::string composition = (dir / "composition.xml").string();
    const std::string command = std::string(KORVO_TESSAN_PROGRAM) + " playout '" + composition + "' --media '" +
                                (dir / "media").string() + "' --plugin " KORVO_DORNSEND_LIBRARY " 2>&1; echo exit=$?";

    WriteComposition(composition, layout);
    std::string out = writertest::Shell(command);
    EXPECT_NE(out.find("tessan: playout complete: 12 of 12 frames, code 0"), std::string::npos) << out;
    EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
    ExpectParvexClip((dir / "share" / "TAPE01.mxf").string(), frames, 2, 24, 0x200000);

    layout.targets.erase("TGT-Serial");
    WriteComposition(composition, layout);
    out = writertest::Shell(command);
    EXPECT_NE(out.find("plug-in: Dornsend, no serial number found in composition"), std::string::npos) << out;
    EXPECT_EQ(out.find("exit=0"), std::string::npos) << out;
}

}  // namespace
