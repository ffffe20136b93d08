// libDornsend.so as the transfer service meets it: its exports, and whole playouts through tessan's playout
// transfer from a media folder, read back with the project's readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "outside/qo/Playback/Sender.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "platform/SharedLibrary.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"

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

// A media folder as an ingest leaves it: the pictures back to back, a WAV per audio track, the manifest.
void WriteMediaFolder(const fs::path& folder, const std::string& dataType, const std::vector<std::string>& frames,
                      const CompositionSpec& spec, uint32_t samplesPerFrame)
{
    tessan::CMediaWriter media;
    ASSERT_TRUE(media.Open(folder.string(), dataType)) << media.Error();
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(media.Add(0, reinterpret_cast<const uint8_t*>(frames[i].data()),
                              static_cast<uint32_t>(frames[i].size()), 1));
        media.Record({0, static_cast<uint32_t>(frames[i].size()), 1, 0});
        for (int32_t track : spec.tracks) {
            if (track == 0)
                continue;
            const Bytes audio =
                RampBytes(static_cast<uint32_t>(i) * samplesPerFrame, samplesPerFrame, track - 1, spec.soundWidth);
            ASSERT_TRUE(media.Add(track, audio.data(), static_cast<uint32_t>(audio.size()), samplesPerFrame));
            media.Record({track, static_cast<uint32_t>(audio.size()), samplesPerFrame, 0});
        }
    }
    ASSERT_TRUE(media.Close(0, true, static_cast<int64_t>(frames.size()), ""));
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

}  // namespace
