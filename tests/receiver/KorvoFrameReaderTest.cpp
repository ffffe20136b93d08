#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "receiver/CReceiverKorvoDVCProReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/FrameReaderMedia.h"

namespace
{

using namespace framereadertest;

enum class Kind { IMX, DVCPro, VC3 };

struct FrameCase {
    ClipSpec clip;
    Kind kind;
    int32_t nReaderSystem;  // 3 or 4
    int32_t nRate;
    int32_t nTracks;
    int32_t nBits;
    const char* pszFormat;  // ffmpeg's name of the media's format
};

constexpr uint32_t kTable2 = KORVOMXF_FORMAT_TBL2K_2MB;
constexpr uint32_t kBavd2 = KORVOMXF_FORMAT_BAVD_2MB;
constexpr uint32_t kBavd8 = KORVOMXF_FORMAT_BAVD_8MB;

// name, block layout, video system, standard, video format, bit rate, groups, media, frame bytes, pictures, packed
const FrameCase kCases[] = {
    {{"IMX50_625_Table2MB_8x24", kTable2, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 12, false},
     Kind::IMX,
     3,
     50,
     8,
     24,
     "mpegvideo"},
    {{"IMX40_625_Bavd8MB_4x16", kBavd8, 2, 3, 4, 40, 1, "imx40.m2v", 200000, 12, false},
     Kind::IMX,
     3,
     40,
     4,
     16,
     "mpegvideo"},
    {{"IMX30_625_Bavd2MB_2x24", kBavd2, 2, 3, 4, 30, 1, "imx30.m2v", 150000, 12, false},
     Kind::IMX,
     3,
     30,
     2,
     24,
     "mpegvideo"},
    {{"IMX50_525_Bavd8MB_8x24", kBavd8, 1, 4, 4, 50, 2, "../receiver/imx50n.m2v", 208541, 12, false},
     Kind::IMX,
     4,
     50,
     8,
     24,
     "mpegvideo"},
    {{"IMX40_525_Table2MB_4x24", kTable2, 1, 4, 4, 40, 1, "../receiver/imx40n.m2v", 166833, 12, false},
     Kind::IMX,
     4,
     40,
     4,
     24,
     "mpegvideo"},
    {{"IMX30_525_Bavd2MB_2x16", kBavd2, 1, 4, 4, 30, 1, "../receiver/imx30n.m2v", 125125, 12, false},
     Kind::IMX,
     4,
     30,
     2,
     16,
     "mpegvideo"},
    {{"DVCPro50_625_Bavd8MB_4x24", kBavd8, 2, 3, 9, 50, 1, "dvcpro50.dif", 288000, 12, true},
     Kind::DVCPro,
     3,
     50,
     4,
     24,
     "dv"},
    {{"DV25_625_Table2MB_2x16", kTable2, 2, 3, 9, 25, 1, "dv25.dif", 144000, 12, false},
     Kind::DVCPro,
     3,
     25,
     2,
     16,
     "dv"},
    {{"DVCPro25_525_Bavd2MB_4x24", kBavd2, 1, 4, 9, 25, 1, "../receiver/dvcpro25n.dif", 120000, 12, false},
     Kind::DVCPro,
     4,
     25,
     4,
     24,
     "dv"},
    {{"DVCProHD_1080i50_Bavd8MB_8x24", kBavd8, 4, 3, 9, 100, 2, "dvcprohd1080i50.dif", 576000, 8, true},
     Kind::DVCPro,
     3,
     100,
     8,
     24,
     "dv"},
    {{"DVCProHD_1080i60_Table2MB_2x16", kTable2, 4, 4, 9, 100, 1, "../receiver/dvcprohd1080i60.dif", 480000, 8, true},
     Kind::DVCPro,
     4,
     100,
     2,
     16,
     "dv"},
    {{"VC3_1080i50_Bavd8MB_4x24", kBavd8, 4, 3, 5, 120, 1, "../receiver/vc3_1080i50.dnxhd", 0x4A000, 8, false},
     Kind::VC3,
     3,
     120,
     4,
     24,
     "dnxhd"},
    {{"VC3_1080i60_Table2MB_8x16", kTable2, 4, 4, 5, 145, 2, "../receiver/vc3_1080i60.dnxhd", 0x4A000, 12, false},
     Kind::VC3,
     4,
     145,
     8,
     16,
     "dnxhd"},
};

std::string CaseName(const ::testing::TestParamInfo<FrameCase>& info)
{
    return info.param.clip.pszName;
}

std::unique_ptr<CReceiverFReader> MakeReader(Kind kind, uint32_t blockSize)
{
    switch (kind) {
        case Kind::IMX:
            return std::make_unique<CReceiverKorvoIMXReader>("File", blockSize, false, 1, 0);
        case Kind::DVCPro:
            return std::make_unique<CReceiverKorvoDVCProReader>("File", blockSize, false, 1, 0);
        case Kind::VC3:
            return std::make_unique<CReceiverKorvoVC3Reader>("File", blockSize, false, 1, 0);
    }
    return nullptr;
}

class KorvoFrameReader : public ::testing::TestWithParam<FrameCase>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ReceiverMediaDir().empty());
        const ClipSpec& clipSpec = GetParam().clip;
        _dir = testsupport::FreshDir(std::string("receiver-frames-") + clipSpec.pszName);
        _path = (_dir / "clip.mxf").string();
        _writer = std::make_unique<parvexclip::ClipWriter>(clipSpec);
        _writer->_fieldAudio = [clipSpec](uint32_t field) { return RampFieldAudio(clipSpec, field); };
        _writer->_bInOrder = GetParam().kind == Kind::VC3;
        ASSERT_TRUE(_writer->WriteAll(_path));
    }

    uint32_t BlockSize() const { return GetParam().clip.nBlockFormat == kBavd8 ? 0x800000 : 0x200000; }
    uint32_t Frames() const
    {
        return GetParam().kind == Kind::VC3 ? GetParam().clip.nPictures / 2 : GetParam().clip.nPictures;
    }
    // The source pictures of the clip, back to back, in the order written.
    Bytes SourcePictures() const
    {
        Bytes all;
        for (uint32_t i = 0; i < GetParam().clip.nPictures; ++i) {
            const Bytes& picture = _writer->MediaPicture(i);
            all.insert(all.end(), picture.begin(), picture.end());
        }
        return all;
    }

    fs::path _dir;
    std::string _path;
    std::unique_ptr<parvexclip::ClipWriter> _writer;
};

TEST_P(KorvoFrameReader, HandsOutThePicturesAndTheSoundOfEveryTrack)
{
    const FrameCase& c = GetParam();
    auto reader = MakeReader(c.kind, BlockSize());
    ASSERT_EQ(reader->Open(_path, c.nReaderSystem, c.nRate, c.nTracks, c.nBits), 0);
    Bytes video;
    for (uint32_t k = 0; k < Frames(); ++k) {
        ASSERT_TRUE(reader->ReadNextFrame()) << "frame " << k;
        // A set not yet taken stays.
        ASSERT_TRUE(reader->ReadNextFrame());
        AppendAndRelease(reader->GetVideoFrame(), &video);
        for (int32_t t = 1; t <= c.nTracks; ++t) {
            KorvoFrame* frame = reader->GetTrackFrame(t);
            ASSERT_NE(frame, nullptr) << "frame " << k << " track " << t;
            EXPECT_EQ(frame->GetTypeCode(), t);
            EXPECT_EQ(frame->GetNumSamples(), CadenceOf(c.clip.nStandard, k)) << "frame " << k;
            const Bytes expected = ExpectedTrackPcm(c.clip.nStandard, k, static_cast<uint32_t>(t), c.nBits);
            ASSERT_EQ(frame->GetSize(), expected.size());
            EXPECT_EQ(Bytes(frame->GetData(), frame->GetData() + frame->GetSize()), expected)
                << "frame " << k << " track " << t;
            frame->Release();
        }
        EXPECT_EQ(reader->GetTrackFrame(c.nTracks + 1), nullptr);
    }
    EXPECT_FALSE(reader->ReadNextFrame());
    EXPECT_EQ(reader->GetVideoFrame(), nullptr);
    reader->Close();

    const fs::path handed = _dir / "handed";
    const fs::path source = _dir / "source";
    const Bytes sourcePictures = SourcePictures();
    parvexclip::WriteFile(handed, video.data(), video.size());
    parvexclip::WriteFile(source, sourcePictures.data(), sourcePictures.size());
    const auto expected = FrameMd5(source, c.pszFormat);
    EXPECT_EQ(expected.size(), Frames());
    EXPECT_EQ(FrameMd5(handed, c.pszFormat), expected);
}

INSTANTIATE_TEST_SUITE_P(Clips, KorvoFrameReader, ::testing::ValuesIn(kCases), CaseName);

}  // namespace

namespace
{

// Starting three frames in, by frame count or by the server field, gives the fourth picture and its sound.
TEST_P(KorvoFrameReader, StartsAtAGivenFrameOrField)
{
    const FrameCase& c = GetParam();
    const uint32_t units = c.kind == Kind::VC3 ? 2 : 1;
    for (const bool byField : {false, true}) {
        auto reader = MakeReader(c.kind, BlockSize());
        ASSERT_EQ(reader->Open(_path, c.nReaderSystem, c.nRate, c.nTracks, c.nBits), 0);
        if (byField)
            reader->SetFirstField(kFirstField + 6);
        else
            reader->SetStartFrame(3);
        ASSERT_TRUE(reader->ReadNextFrame());
        KorvoFrame* video = reader->GetVideoFrame();
        ASSERT_NE(video, nullptr);
        const Bytes& picture = _writer->MediaPicture(3 * units);
        // DIF frames are compared by their first video blocks, others from past their headers.
        const size_t at = c.kind == Kind::DVCPro ? 7 * 80 : 0x200;
        const size_t bytes = c.kind == Kind::DVCPro ? 15 * 80 : 0x1000;
        ASSERT_GE(video->GetSize(), at + bytes);
        EXPECT_EQ(0, std::memcmp(video->GetData() + at, picture.data() + at, bytes)) << "by field " << byField;
        video->Release();
        // At 25 Hz every frame has the same count, so the sound is that of frame 3.
        KorvoFrame* sound = reader->GetTrackFrame(1);
        ASSERT_NE(sound, nullptr);
        if (c.clip.nStandard == 3)
            EXPECT_EQ(Bytes(sound->GetData(), sound->GetData() + sound->GetSize()), ExpectedTrackPcm(3, 3, 1, c.nBits));
        sound->Release();
        reader->Close();
    }
}

}  // namespace
