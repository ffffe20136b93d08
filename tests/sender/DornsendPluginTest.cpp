// libDornsend.so as the transfer service meets it: its exports, and whole playouts through tessan's playout
// transfer from a media folder, read back with the project's readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "outside/qo/Playback/Sender.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "platform/SharedLibrary.h"
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
};

class DornsendParvexPlayout : public ::testing::TestWithParam<ParvexPlayout>
{
};

TEST_P(DornsendParvexPlayout, TessanPlaysTheCompositionToAParvexFile)
{
    const ParvexPlayout& c = GetParam();
    const fs::path dir = testsupport::FreshDir(std::string("dornsend-playout-") + c.name);
    const auto frames = ImxFrames(50, true, 12);
    CompositionSpec spec;
    spec.duration = static_cast<int32_t>(frames.size());
    spec.compressors = {c.compressor};
    spec.soundWidth = c.bits;
    spec.tracks = {0};
    for (int t = 1; t <= c.tracks; ++t)
        spec.tracks.push_back(t);
    spec.targets = {{"TGT-Address", (dir / "share").string()},
                    {"TGT-Name", "Sequence"},
                    {"TGT-Serial", "4711"},
                    {"TGT-8MBBlocks", c.blocks8MB ? "1" : "0"}};
    fs::create_directories(dir / "share");
    const std::string composition = (dir / "composition.xml").string();
    WriteComposition(composition, spec);
    WriteMediaFolder(dir / "media", c.dataType, frames, spec, 1920);

    tessan::CPlayoutTransfer playout(composition, (dir / "media").string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    tessan::TransferResult result = playout.Run();
    ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    EXPECT_EQ(result.frames, spec.duration);
    ExpectParvexClip((dir / "share" / "Sequence 1.mxf").string(), frames, c.tracks, c.bits,
                     c.blocks8MB ? 0x800000u : 0x200000u);
}

const ParvexPlayout kParvexPlayouts[] = {
    {"Imx50_4x24_2MB", "Mirel::MPEG2::50", "IMX", 4, 24, false},
    {"Imx50_8x16_8MB", "Mirel::MPEG2::50", "IMX", 8, 16, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, DornsendParvexPlayout, ::testing::ValuesIn(kParvexPlayouts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DornsendProgram, TessanPlaysOutThroughThePluginOrSaysWhyNot)
{
    const fs::path dir = testsupport::FreshDir("dornsend-program");
    const auto frames = ImxFrames(50, true, 12);
    CompositionSpec spec;
    spec.duration = static_cast<int32_t>(frames.size());
    spec.targets = {{"TGT-Address", (dir / "share").string()}, {"TGT-Serial", "4711"}};
    fs::create_directories(dir / "share");
    WriteMediaFolder(dir / "media", "IMX", frames, spec, 1920);
    const std::string composition = (dir / "composition.xml").string();
    const std::string command = std::string(KORVO_TESSAN_PROGRAM) + " playout '" + composition + "' --media '" +
                                (dir / "media").string() + "' --plugin " KORVO_DORNSEND_LIBRARY " 2>&1; echo exit=$?";

    WriteComposition(composition, spec);
    std::string out = writertest::Shell(command);
    EXPECT_NE(out.find("tessan: playout complete: 12 of 12 frames, code 0"), std::string::npos) << out;
    EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
    ExpectParvexClip((dir / "share" / "TAPE01.mxf").string(), frames, 2, 24, 0x200000);

    spec.targets.erase("TGT-Serial");
    WriteComposition(composition, spec);
    out = writertest::Shell(command);
    EXPECT_NE(out.find("plug-in: Dornsend, no serial number found in composition"), std::string::npos) << out;
    EXPECT_EQ(out.find("exit=0"), std::string::npos) << out;
}

}  // namespace
