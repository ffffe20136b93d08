// Clips whose blocks do not follow one another, as a damaged copy or a repeating source delivers them: the
// project's clip writer writes the clip, and its second block is made a copy of the first (repeated), a copy of
// the third (skipped) or swapped with the third. The ingest through the transfer service and libRecalo.so ends
// with an error naming both fields, never complete, whether the blocks come from the clip file, from the
// browser's TCP block sender or from the video server simulator, for every codec family.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestTransfer.h"
#include "receiver/CKorvoBlockData.h"
#include "receiver/FrameReaderMedia.h"
#include "receiver/ReceiverClips.h"
#include "tests/browser/BrowserTestKit.h"
#include "tests/outside/TessanTestKit.h"

namespace
{

using namespace framereadertest;
using tessan::TransferResult;

constexpr uint32_t kBlock = 0x800000;  // the servers keep 8 MB blocks: every road gets the same ones

struct Codec {
    ClipSpec clip;
    const char* dataType;
    int32_t nRate;
    int32_t nBits;
    uint32_t nPicturesPerFrame;  // VC-3 stores a frame as two field units
};

// Each long enough for three whole blocks.
const Codec kCodecs[] = {
    {{"IMX50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 100, false}, "IMX", 50, 16, 1},
    {{"DVCPro50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 100, true}, "DVCPro", 50, 24, 1},
    {{"VC3", KORVOMXF_FORMAT_BAVD_8MB, 4, 3, 5, 120, 1, "../receiver/vc3_1080i50.dnxhd", 0x4A000, 100, false},
     "Hydrel",
     120,
     16,
     2},
};

enum class Road { File, Tcp, Server };
enum class Damage { Repeated, Skipped, Swapped };

// The fields of block n of a clip file.
std::pair<uint32_t, uint32_t> BlockFields(const parvexclip::Bytes& file, uint32_t n)
{
    CKorvo8MBlockData data;
    EXPECT_EQ(data.SetBlockData(file.data() + receivertest::kHeaderArea + uint64_t{n} * kBlock, kBlock), kBlockDataOk);
    return {data.GetFirstField(), data.GetEndField()};
}

using Case = std::tuple<Codec, Road>;

// One codec's clip, written once for its road; each damage is made on a copy of it. The threaded roads are also
// in the Threads suites with whole clips: these long clips stay out of the ThreadSanitizer run.
class RecaloDamagedBlocks : public ::testing::TestWithParam<Case>
{
public:
    static const Codec& CodecOf(const Case& c) { return std::get<0>(c); }

protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        const Codec& codec = CodecOf(GetParam());
        _root = testsupport::FreshDir(std::string("recalo-damaged-") + codec.clip.pszName + "-" +
                                      std::to_string(static_cast<int>(std::get<1>(GetParam()))));
        parvexclip::ClipWriter writer(codec.clip);
        writer._fieldAudio = [clip = codec.clip](uint32_t field) { return RampFieldAudio(clip, field); };
        writer._bInOrder = codec.nPicturesPerFrame == 2;
        ASSERT_TRUE(writer.WriteAll((_root / "CLIP.MXF").string()));
        _clean = parvexclip::ReadFile(_root / "CLIP.MXF");
        ASSERT_GE(_clean.size(), receivertest::kHeaderArea + 3 * kBlock);
    }

    // A copy of the clip whose second block is damaged, in its own folder; the first field of that block.
    uint32_t Damaged(Damage damage, const fs::path& dir)
    {
        _damaged = _clean;
        uint8_t* second = _damaged.data() + receivertest::kHeaderArea + kBlock;
        const uint8_t* clean = _clean.data() + receivertest::kHeaderArea;
        uint32_t start = BlockFields(_clean, 2).first;
        switch (damage) {
            case Damage::Repeated:
                std::copy(clean, clean + kBlock, second);
                start = BlockFields(_clean, 0).first;
                break;
            case Damage::Skipped:
                std::copy(clean + 2 * kBlock, clean + 3 * kBlock, second);
                break;
            case Damage::Swapped:
                std::swap_ranges(second, second + kBlock, second + kBlock);
                break;
        }
        fs::create_directories(dir);
        parvexclip::WriteFile(dir / "CLIP.MXF", _damaged.data(), _damaged.size());
        return start;
    }

    uint32_t Frames() const { return CodecOf(GetParam()).clip.nPictures / CodecOf(GetParam()).nPicturesPerFrame; }

    // The job of the clip file in a folder, with values replaced or added.
    std::string Job(const fs::path& dir, const tessantest::Values& changes) const
    {
        const Codec& codec = CodecOf(GetParam());
        char markout[32];
        std::snprintf(markout, sizeof markout, "00:00:%02u:%02u", Frames() / 25, Frames() % 25);
        tessantest::Values job = {{"directory", dir.string()},
                                  {"lookupname", "CLIP.MXF"},
                                  {"markin", "00:00:00:00"},
                                  {"markout", markout},
                                  {"KorvoFileType", "Korvo"},
                                  {"KorvoDataType", codec.dataType},
                                  {"KorvoRate", std::to_string(codec.nRate)},
                                  {"KorvonAudios", std::to_string(4 * codec.clip.nAudioGroups)},
                                  {"KorvonAudioBits", std::to_string(codec.nBits)},
                                  {"KorvoBlockSizeMB", "8"},
                                  {"Tardix", "0"}};
        job.insert(job.end(), changes.begin(), changes.end());
        return tessantest::JobText(job);
    }

    static TransferResult Run(const std::string& job, const fs::path& out)
    {
        tessan::CIngestJob parsed;
        EXPECT_TRUE(parsed.Parse(job)) << parsed.Error();
        tessan::CIngestTransfer transfer(std::move(parsed), out.string());
        transfer.SetPlugin(KORVO_RECALO_LIBRARY);
        return transfer.Run();
    }

    // The damaged clip of the folder ingested along a road into dir/out.
    TransferResult Ingest(Road road, const fs::path& dir)
    {
        switch (road) {
            case Road::File:
                return Run(Job(dir, {}), dir / "out");
            case Road::Tcp: {
                TCPBlockSender sender;
                EXPECT_EQ(sender.Listen(), 0);
                std::string address;
                EXPECT_EQ(sender.GetPublishedAddress("127.0.0.1", &address), 0);
                const fs::path clip = dir / "CLIP.MXF";
                // The receiver stops reading at the damage: the sender's own end is not the point here.
                std::future<int> sending = std::async(std::launch::async, [&sender, clip] {
                    const int rc = sender.WaitForConnection(10000);
                    return rc != 0 ? rc : sender.StartSending(clip.string());
                });
                const TransferResult result =
                    Run(Job(dir, {{"KorvoFileType", "TCP"}, {"KorvoTCPPort", address}}), dir / "out");
                sending.get();
                sender.Stop();
                return result;
            }
            case Road::Server: {
                std::vector<rixsim::RixSimBytes> blocks;
                for (uint64_t at = receivertest::kHeaderArea; at + kBlock <= _damaged.size(); at += kBlock)
                    blocks.emplace_back(_damaged.begin() + static_cast<ptrdiff_t>(at),
                                        _damaged.begin() + static_cast<ptrdiff_t>(at + kBlock));
                rixsim::CRixSimServer server{rixsim::RixSimConfig()};
                server.Store().AddClip("/clips/004512A_damaged.CLP", blocks, kBlock);
                EXPECT_TRUE(server.Start());
                return Run(Job(dir, {{"KorvoFileType", "RixFTP"},
                                     {"KorvoRixServer", "127.0.0.1:" + std::to_string(server.FtpPort())},
                                     {"directory", "/clips/"},
                                     {"lookupname", "004512A_damaged.CLP"},
                                     {"KorvoRixFstFld", std::to_string(kFirstField)}}),
                           dir / "out");
            }
        }
        return {};
    }

    fs::path _root;
    parvexclip::Bytes _clean;
    parvexclip::Bytes _damaged;
};

TEST_P(RecaloDamagedBlocks, ABlockThatDoesNotFollowEndsTheIngestWithAnErrorNamingBothFields)
{
    const uint32_t previousEnd = BlockFields(_clean, 0).second;
    const std::pair<Damage, const char*> damages[] = {
        {Damage::Repeated, "repeated"}, {Damage::Skipped, "skipped"}, {Damage::Swapped, "swapped"}};
    for (const auto& [damage, damageName] : damages) {
        SCOPED_TRACE(std::string(damageName) + " block");
        const fs::path dir = _root / damageName;
        const uint32_t start = Damaged(damage, dir);
        const TransferResult result = Ingest(std::get<1>(GetParam()), dir);
        EXPECT_FALSE(result.complete);
        EXPECT_EQ(result.code, 6);
        EXPECT_EQ(result.pluginText, "KorvoReceiver: End Of Data - a block out of order: it starts at field " +
                                         std::to_string(start) + ", the previous block ended at field " +
                                         std::to_string(previousEnd));
        // Only the frames of the first block came in.
        EXPECT_LE(result.frames, (previousEnd - kFirstField) / 2);
        const std::string manifest = browsertest::ReadText(dir / "out" / "manifest.xml");
        EXPECT_NE(manifest.find("complete=\"0\""), std::string::npos) << manifest;
    }
}

void PrintTo(const Codec& codec, std::ostream* out)
{
    *out << codec.clip.pszName;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    static const char* const kRoads[] = {"File", "Tcp", "Server"};
    return std::string(RecaloDamagedBlocks::CodecOf(info.param).clip.pszName) + "_" +
           kRoads[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Blocks, RecaloDamagedBlocks,
                         ::testing::Combine(::testing::ValuesIn(kCodecs),
                                            ::testing::Values(Road::File, Road::Tcp, Road::Server)),
                         CaseName);

}  // namespace
