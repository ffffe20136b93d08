#include <gtest/gtest.h>

#include <memory>

#include "receiver/CKorvoBlockFileReader.h"
#include "receiver/CKorvoBlockRixFTPReader.h"
#include "receiver/CReceiverKorvoDVCProReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/FrameReaderMedia.h"
#include "rixclient/RixTestHelpers.h"

namespace
{

using namespace framereadertest;

constexpr const char* kClip = "/clips/004600A_frames.CLP";
constexpr uint32_t kBlock = 0x800000;

struct ServerCase {
    ClipSpec clip;
    int nKind;  // 0 IMX, 1 DVCPRO, 2 VC-3
    int32_t nTracks;
    int32_t nBits;
};

// 8 MB BAVD blocks as the servers keep them, more than one per clip.
const ServerCase kServerCases[] = {
    {{"IMX50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 40, false}, 0, 4, 24},
    {{"DVCPro50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 9, 50, 2, "dvcpro50.dif", 288000, 40, true}, 1, 8, 16},
    {{"VC3", KORVOMXF_FORMAT_BAVD_8MB, 4, 3, 5, 120, 1, "../receiver/vc3_1080i50.dnxhd", 0x4A000, 40, false}, 2, 2, 24},
};

// Reads a clip from the video server simulator, whose store holds the blocks of a clip file the clip writer made.
class ServerFrameReaderThreads : public rixtest::SimTest, public ::testing::WithParamInterface<ServerCase>
{
protected:
    void Fill(rixsim::CRixSimStore& store) override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        const ClipSpec& clipSpec = GetParam().clip;
        const fs::path dir = testsupport::FreshDir(std::string("server-frames-") + clipSpec.pszName);
        _writer = std::make_unique<parvexclip::ClipWriter>(clipSpec);
        _writer->_fieldAudio = [clipSpec](uint32_t field) { return RampFieldAudio(clipSpec, field); };
        _writer->_bInOrder = GetParam().nKind == 2;
        ASSERT_TRUE(_writer->WriteAll((dir / "clip.mxf").string()));
        CKorvoBlockFileReader file;
        ASSERT_EQ(file.Open((dir / "clip.mxf").string()), 0);
        std::vector<rixsim::RixSimBytes> blocks;
        uint32_t perField = 0;
        while (file.ReadNextBlock(&perField) == 0)
            blocks.emplace_back(file.GetBlockBuffer(), file.GetBlockBuffer() + kBlock);
        ASSERT_GT(blocks.size(), 1u);
        store.AddClip(kClip, blocks, kBlock);
    }

    std::unique_ptr<CReceiverFReader> MakeReader()
    {
        auto blocks = std::make_unique<CKorvoBlockRixFTPReader>(1, kFirstField);
        Prepare(*blocks);
        RixBlockReaderWaits waits;
        waits.nConnectRetryMs = 10;
        waits.nConnectRetries = 2;
        waits.nBlockMs = 8000;
        blocks->SetWaits(waits);
        switch (GetParam().nKind) {
            case 0:
                return std::make_unique<CReceiverKorvoIMXReader>(std::move(blocks), false, 1);
            case 1:
                return std::make_unique<CReceiverKorvoDVCProReader>(std::move(blocks), false, 1);
            default:
                return std::make_unique<CReceiverKorvoVC3Reader>(std::move(blocks), false, 1);
        }
    }

    std::unique_ptr<parvexclip::ClipWriter> _writer;
};

TEST_P(ServerFrameReaderThreads, HandsOutTheClipsPicturesAndSound)
{
    const ServerCase& c = GetParam();
    auto reader = MakeReader();
    ASSERT_EQ(reader->Open(Url(kClip), 3, c.clip.nBitrate, c.nTracks, c.nBits), 0);
    const uint32_t unitsPerFrame = c.nKind == 2 ? 2 : 1;
    const uint32_t frames = c.clip.nPictures / unitsPerFrame;
    for (uint32_t k = 0; k < frames; ++k) {
        ASSERT_TRUE(reader->ReadNextFrame()) << "frame " << k;
        KorvoFrame* video = reader->GetVideoFrame();
        ASSERT_NE(video, nullptr);
        // The picture as the media held it; a DVCPRO frame is checked by its video blocks, the first DIF sequence's.
        const parvexclip::Bytes& first = _writer->MediaPicture(k * unitsPerFrame);
        if (c.nKind == 1) {
            ASSERT_EQ(video->GetSize(), first.size());
            EXPECT_EQ(0, std::memcmp(video->GetData() + 7 * 80, first.data() + 7 * 80, 15 * 80)) << "frame " << k;
        } else {
            ASSERT_GE(video->GetSize(), first.size());
            EXPECT_EQ(0, std::memcmp(video->GetData() + 0x200, first.data() + 0x200, 0x1000)) << "frame " << k;
        }
        video->Release();
        for (int32_t t = 1; t <= c.nTracks; ++t) {
            KorvoFrame* frame = reader->GetTrackFrame(t);
            ASSERT_NE(frame, nullptr);
            const Bytes expected = ExpectedTrackPcm(3, k, static_cast<uint32_t>(t), c.nBits);
            EXPECT_EQ(Bytes(frame->GetData(), frame->GetData() + frame->GetSize()), expected)
                << "frame " << k << " track " << t;
            frame->Release();
        }
    }
    EXPECT_FALSE(reader->ReadNextFrame());
    reader->Close();
}

INSTANTIATE_TEST_SUITE_P(Rix, ServerFrameReaderThreads, ::testing::ValuesIn(kServerCases),
                         [](const auto& info) { return std::string(info.param.clip.pszName); });

}  // namespace
