// Ingests through the transfer service with libRecalo.so: clip files written by the project's clip writer, the
// pictures checked by ffmpeg's framemd5 against the source and every track's PCM against the sound written.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "receiver/FrameReaderMedia.h"
#include "tests/outside/TessanTestKit.h"

namespace
{

using namespace framereadertest;
using tessan::CIngestJob;
using tessan::CIngestTransfer;
using tessan::TransferResult;

enum class Kind { IMX, DVCPro, VC3 };

struct IngestCase {
    ClipSpec clip;
    Kind kind;
    const char* dataType;  // the job's KorvoDataType
    int32_t nRate;
    int32_t nTracks;
    int32_t nBits;
    const char* pszFormat;  // ffmpeg's name of the pictures' format
};

constexpr uint32_t kTable2 = KORVOMXF_FORMAT_TBL2K_2MB;
constexpr uint32_t kBavd8 = KORVOMXF_FORMAT_BAVD_8MB;

// name, block layout, video system, standard, video format, bit rate, groups, media, frame bytes, pictures, packed
const IngestCase kCases[] = {
    {{"IMX50_Table2MB_8x24", kTable2, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 12, false},
     Kind::IMX,
     "IMX",
     50,
     8,
     24,
     "mpegvideo"},
    {{"IMX50_Bavd8MB_4x16", kBavd8, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 12, false},
     Kind::IMX,
     "IMX",
     50,
     4,
     16,
     "mpegvideo"},
    {{"DVCPro50_Bavd8MB_4x24", kBavd8, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 12, true},
     Kind::DVCPro,
     "DVCPro",
     50,
     4,
     24,
     "dv"},
    {{"DVCProHD_Bavd8MB_8x24", kBavd8, 4, 3, 9, 100, 2, "dvcprohd1080i50.dif", 576000, 8, true},
     Kind::DVCPro,
     "DVCPro",
     100,
     8,
     24,
     "dv"},
    {{"VC3_Table2MB_8x16", kTable2, 4, 3, 5, 120, 2, "../receiver/vc3_1080i50.dnxhd", 0x4A000, 8, false},
     Kind::VC3,
     "Hydrel",
     120,
     8,
     16,
     "dnxhd"},
};

// A clip file on a share and the media folder an ingest of it fills.
class RecaloIngest : public ::testing::TestWithParam<IngestCase>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        const ClipSpec& spec = GetParam().clip;
        _dir = testsupport::FreshDir(std::string("recalo-ingest-") + spec.pszName);
        _writer = std::make_unique<parvexclip::ClipWriter>(spec);
        _writer->_fieldAudio = [spec](uint32_t field) { return RampFieldAudio(spec, field); };
        _writer->_bInOrder = GetParam().kind == Kind::VC3;
        ASSERT_TRUE(_writer->WriteAll((_dir / "CLIP.MXF").string()));
    }

    uint32_t Frames() const
    {
        return GetParam().kind == Kind::VC3 ? GetParam().clip.nPictures / 2 : GetParam().clip.nPictures;
    }

    tessantest::Values Job() const
    {
        const IngestCase& c = GetParam();
        char markout[16];
        std::snprintf(markout, sizeof markout, "00:00:00:%02u", Frames() - 1);
        return {{"directory", _dir.string()},
                {"lookupname", "CLIP.MXF"},
                {"markin", "00:00:00:00"},
                {"markout", markout},
                {"KorvoFileType", "Korvo"},
                {"KorvoDataType", c.dataType},
                {"KorvoRate", std::to_string(c.nRate)},
                {"KorvonAudios", std::to_string(c.nTracks)},
                {"KorvonAudioBits", std::to_string(c.nBits)},
                {"KorvoBlockSizeMB", c.clip.nBlockFormat == kBavd8 ? "8" : "2"},
                {"Tardix", "0"}};
    }

    TransferResult Ingest(const tessantest::Values& job)
    {
        CIngestJob parsed;
        EXPECT_TRUE(parsed.Parse(tessantest::JobText(job))) << parsed.Error();
        CIngestTransfer transfer(std::move(parsed), (_dir / "out").string());
        transfer.SetPlugin(KORVO_RECALO_LIBRARY);
        return transfer.Run();
    }

    // The ingested media equal the clip's pictures and sound.
    void ExpectMedia()
    {
        const IngestCase& c = GetParam();
        Bytes source;
        for (uint32_t i = 0; i < c.clip.nPictures; ++i) {
            const Bytes& picture = _writer->MediaPicture(i);
            source.insert(source.end(), picture.begin(), picture.end());
        }
        parvexclip::WriteFile(_dir / "source", source.data(), source.size());
        const auto expected = FrameMd5(_dir / "source", c.pszFormat);
        EXPECT_EQ(expected.size(), Frames());
        const std::string picture = std::string("video") + tessan::PictureExtension(c.dataType);
        EXPECT_EQ(FrameMd5(_dir / "out" / picture, c.pszFormat), expected);

        for (int32_t t = 1; t <= c.nTracks; ++t) {
            tessan::CWavReader wav;
            ASSERT_TRUE(wav.Load((_dir / "out" / tessan::AudioName(t)).string())) << wav.Error();
            EXPECT_EQ(wav.Bits(), c.nBits);
            Bytes want;
            for (uint32_t k = 0; k < Frames(); ++k) {
                const Bytes pcm = ExpectedTrackPcm(c.clip.nStandard, k, static_cast<uint32_t>(t), c.nBits);
                want.insert(want.end(), pcm.begin(), pcm.end());
            }
            Bytes got;
            ASSERT_EQ(wav.Samples(), want.size() / (c.nBits / 8)) << "track " << t;
            ASSERT_TRUE(wav.Take(0, static_cast<uint32_t>(wav.Samples()), got));
            EXPECT_TRUE(got == want) << "track " << t;
        }
    }

    fs::path _dir;
    std::unique_ptr<parvexclip::ClipWriter> _writer;
};

TEST_P(RecaloIngest, AClipFileIngestsFrameForFrame)
{
    const TransferResult result = Ingest(Job());
    EXPECT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    EXPECT_EQ(result.code, 14);
    EXPECT_EQ(result.frames, Frames());
    EXPECT_EQ(result.pluginText, "KorvoReceiver: End Of Data");
    ExpectMedia();
}

INSTANTIATE_TEST_SUITE_P(Clips, RecaloIngest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.clip.pszName); });

}  // namespace
