#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "receiver/CKorvoBlockFileReader.h"
#include "receiver/CKorvoBlockRixFTPReader.h"
#include "receiver/CKorvoBlockTCPReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/FakeBlockReader.h"
#include "serverblock/ServerBlock.h"

namespace
{

using framereadertest::ChannelUnit;
using framereadertest::FakeBlockReader;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kUnit625 = 2944;
constexpr uint32_t kUnit525 = 2432;

// A field's audio unit of several channels, each from ChannelUnit.
Bytes FieldUnit(uint32_t unitBytes, uint32_t channels, uint32_t count, uint32_t first, uint32_t written)
{
    Bytes all;
    for (uint32_t c = 0; c < channels; ++c) {
        const Bytes one = ChannelUnit(unitBytes, count, first + c * 0x10000, written);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

// 24-bit little-endian samples of a frame.
uint32_t SampleAt(KorvoFrame* frame, uint32_t s)
{
    const uint8_t* p = frame->GetData() + 3 * s;
    return p[0] | p[1] << 8 | p[2] << 16;
}

struct Fixture {
    FakeBlockReader* fake = nullptr;
    std::unique_ptr<CReceiverFReader> reader;
};

// An IMX reader over a fake block reader whose blocks the caller fills before Open.
template <class Reader>
Fixture MakeFake(bool highFrameRate = false)
{
    auto blocks = std::make_unique<FakeBlockReader>();
    Fixture f;
    f.fake = blocks.get();
    f.reader = std::make_unique<Reader>(std::move(blocks), highFrameRate, 1);
    return f;
}

Bytes Picture(uint32_t size, uint8_t fill)
{
    return Bytes(size, fill);
}

// A filler unit of the given length field, then a picture.
Bytes WithFiller(uint16_t units, uint32_t total)
{
    Bytes b(total, 0x33);
    const uint8_t mark[4] = {0xFF, 0xFE, 0xFD, 0xFC};
    std::memcpy(b.data(), mark, 4);
    b[6] = static_cast<uint8_t>(units >> 8);
    b[7] = static_cast<uint8_t>(units);
    return b;
}

KorvoFrame* Take(CReceiverFReader& reader, int32_t track)
{
    return track == 0 ? reader.GetVideoFrame() : reader.GetTrackFrame(track);
}

TEST(FrameReaderFaults, FillerUnitsAreSkippedAndDamagedOnesEndTheFrame)
{
    struct Case {
        Bytes element;
        bool bOk;
        uint32_t nPictureBytes;
    };
    const Case cases[] = {
        {WithFiller(2, 1000), true, 1000 - 256},  // one filler of 256 bytes
        {WithFiller(0, 1000), false, 0},          // a zero length would never end
        {WithFiller(8, 1000), false, 0},          // 1024 bytes past the element's 1000
        {WithFiller(0xFFFF, 1000), false, 0},
        {Bytes{0xFF, 0xFE, 0xFD, 0xFC, 0, 0}, false, 0},  // too short for a length
    };
    for (const Case& c : cases) {
        Fixture f = MakeFake<CReceiverKorvoIMXReader>();
        f.fake->_blocks.push_back({{c.element, c.element}, {}, 1, 0});
        ASSERT_EQ(f.reader->Open("x", 3, 1, 0, 24), 0);
        ASSERT_EQ(f.reader->ReadNextFrame(), c.bOk);
        if (!c.bOk)
            continue;
        KorvoFrame* video = Take(*f.reader, 0);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->GetSize(), 5000u);  // padded to 1 Mb/s x 5000
        EXPECT_EQ(video->GetData()[0], 0x33);
        EXPECT_EQ(video->GetData()[c.nPictureBytes], 0);
        video->Release();
    }
}

// Audio at 29.97 Hz: fields of 809 samples (all a 2432-byte unit holds) announcing 1000 are cut, and the carried
// samples never outgrow the track buffer however long the clip.
TEST(FrameReaderFaults, CarriedSamplesStayInsideTheTrackBuffer)
{
    Fixture f = MakeFake<CReceiverKorvoIMXReader>();
    const Bytes audio = FieldUnit(kUnit525, 2, 1000, 1, 1000);
    for (int b = 0; b < 300; ++b)
        f.fake->_blocks.push_back({{Picture(64, 1), Picture(64, 1)}, {audio, audio}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 4, 1, 2, 16), 0);
    const uint32_t cadence[5] = {1600, 1602, 1602, 1602, 1602};
    for (int k = 0; k < 300; ++k) {
        ASSERT_TRUE(f.reader->ReadNextFrame()) << k;
        Take(*f.reader, 0)->Release();
        for (int32_t t = 1; t <= 2; ++t) {
            KorvoFrame* frame = Take(*f.reader, t);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(frame->GetNumSamples(), cadence[k % 5]);
            EXPECT_EQ(frame->GetSize(), 2 * cadence[k % 5]);
            frame->Release();
        }
    }
    EXPECT_FALSE(f.reader->ReadNextFrame());
}

TEST(FrameReaderFaults, MoreTracksThanTheBlockHoldsReadNothingPastTheUnit)
{
    Fixture f = MakeFake<CReceiverKorvoIMXReader>();
    const Bytes audio = FieldUnit(kUnit625, 4, 960, 100, 960);
    f.fake->_blocks.push_back({{Picture(64, 1), Picture(64, 1)}, {audio, audio}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 3, 1, 8, 24), 0);
    ASSERT_TRUE(f.reader->ReadNextFrame());
    Take(*f.reader, 0)->Release();
    for (int32_t t = 1; t <= 8; ++t) {
        KorvoFrame* frame = Take(*f.reader, t);
        ASSERT_NE(frame, nullptr);
        ASSERT_EQ(frame->GetNumSamples(), 1920u);
        // Tracks the block lacks are silent.
        const uint32_t first = t <= 4 ? 100 + (t - 1) * 0x10000u : 0;
        EXPECT_EQ(SampleAt(frame, 0), first);
        EXPECT_EQ(SampleAt(frame, 1919), t <= 4 ? first + 959 : 0);
        frame->Release();
    }
}

TEST(FrameReaderFaults, AShortFieldPairRepeatsTheFirstSampleAtTheFront)
{
    Fixture f = MakeFake<CReceiverKorvoIMXReader>();
    const Bytes first = FieldUnit(kUnit525, 1, 799, 50, 799);
    const Bytes second = FieldUnit(kUnit525, 1, 799, 50 + 799, 799);
    f.fake->_blocks.push_back({{Picture(64, 1), Picture(64, 1)}, {first, second}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 4, 1, 1, 24), 0);
    ASSERT_TRUE(f.reader->ReadNextFrame());
    Take(*f.reader, 0)->Release();
    KorvoFrame* frame = Take(*f.reader, 1);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->GetNumSamples(), 1600u);
    EXPECT_EQ(SampleAt(frame, 0), 50u);
    EXPECT_EQ(SampleAt(frame, 1), 50u);
    EXPECT_EQ(SampleAt(frame, 2), 50u);
    EXPECT_EQ(SampleAt(frame, 3), 51u);
    EXPECT_EQ(SampleAt(frame, 1599), 50u + 1597);
    frame->Release();
}

TEST(FrameReaderFaults, HighFrameRateSetsHoldOnlyTheVideo)
{
    Fixture f = MakeFake<CReceiverKorvoIMXReader>(true);
    const Bytes audio = FieldUnit(kUnit625, 2, 960, 1, 960);
    f.fake->_blocks.push_back({{Picture(64, 1), Picture(64, 2), Picture(64, 3), Picture(64, 4)}, {audio, audio}, 2, 0});
    ASSERT_EQ(f.reader->Open("x", 3, 1, 2, 24), 0);
    for (uint8_t expected : {1, 3}) {
        ASSERT_TRUE(f.reader->ReadNextFrame());
        KorvoFrame* video = Take(*f.reader, 0);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->GetData()[0], expected);
        video->Release();
        EXPECT_EQ(Take(*f.reader, 1), nullptr);
    }
    EXPECT_FALSE(f.reader->ReadNextFrame());
}

TEST(FrameReaderFaults, StartFrameCountsFieldsAndSkipsNothingBelowOne)
{
    Fixture f = MakeFake<CReceiverKorvoIMXReader>();
    f.fake->_blocks.push_back({std::vector<Bytes>(8, Picture(64, 1)), {}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 3, 1, 0, 24), 0);
    f.reader->SetStartFrame(0);
    EXPECT_EQ(f.fake->_nStartFields, -1);
    f.reader->SetStartFrame(3);
    EXPECT_EQ(f.fake->_nStartFields, 6);
    EXPECT_EQ(static_cast<CReceiverKorvoIMXReader&>(*f.reader).GetPosition(), 6);
}

TEST(FrameReaderFaults, TheSourceKindPicksTheBlockReaderExactly)
{
    EXPECT_NE(
        dynamic_cast<CKorvoBlockTCPReader*>(CReceiverKorvoIMXReader("TCP", 0x800000, false, 1, 0).GetBlockReader()),
        nullptr);
    EXPECT_NE(
        dynamic_cast<CKorvoBlockFileReader*>(CReceiverKorvoIMXReader("tcp", 0x800000, false, 1, 0).GetBlockReader()),
        nullptr);
    EXPECT_NE(dynamic_cast<CKorvoBlockRixFTPReader*>(
                  CReceiverKorvoVC3Reader("RixFTP", 0x800000, false, 1, 0).GetBlockReader()),
              nullptr);
    EXPECT_NE(dynamic_cast<CKorvoBlockFileReader*>(CReceiverKorvoIMXReader("File", 0, false, 1, 0).GetBlockReader()),
              nullptr);
}

// In 2 MB blocks with a table the audio is stored in byte-reversed 32-bit words: the sample bytes of each 12-byte
// group lie at the places of this table (slot 0 of the first group is the header).
TEST(FrameReaderFaults, SwappedAudioIsReadAtTheTablesPlaces)
{
    Bytes unit(24, 0);
    // Count 5 as a little-endian value at bytes 1-2.
    unit[1] = 5;
    const uint8_t places[4][3] = {{1, 2, 3}, {6, 7, 0}, {11, 4, 5}, {8, 9, 10}};  // LSB, middle, MSB
    for (uint32_t s = 0; s < 5; ++s) {
        const uint32_t slot = s + 1;
        const uint32_t group = slot / 4 * 12;
        for (int b = 0; b < 3; ++b)
            unit[group + places[slot % 4][b]] = static_cast<uint8_t>(0x10 * (s + 1) + b);
    }
    CReceiverAudioTrack track;
    ASSERT_TRUE(track.Allocate(6072, 3));
    EXPECT_EQ(track.AppendUnit(unit.data(), static_cast<uint32_t>(unit.size()), true, 960), 5u);
    KorvoFrame* frame = track.TakeFrame(5, 1);
    ASSERT_NE(frame, nullptr);
    for (uint32_t s = 0; s < 5; ++s)
        EXPECT_EQ(SampleAt(frame, s), (0x10u * (s + 1) + 2) << 16 | (0x10u * (s + 1) + 1) << 8 | 0x10u * (s + 1)) << s;
    frame->Release();

    // The same samples the other way round read as the plain layout.
    Bytes plain(unit);
    ByteSwap32Buffer(plain.data(), plain.size());
    EXPECT_EQ(track.AppendUnit(plain.data(), static_cast<uint32_t>(plain.size()), false, 960), 5u);
    frame = track.TakeFrame(5, 1);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(SampleAt(frame, 4), 0x525150u);
    frame->Release();
}

// ---- VC-3 ----

constexpr uint32_t kVC3Unit = 0x4A000;

// A VC-3 unit of compression 1242 (two 0x4A000 units a frame) with the given row count.
Bytes VC3Unit(uint32_t size, uint8_t rows, uint8_t fill)
{
    Bytes unit(size, fill);
    const uint8_t prefix[5] = {0x00, 0x00, 0x02, 0x80, 0x01};
    std::memcpy(unit.data(), prefix, 5);
    unit[6] = 0xFF;
    WriteBigEndian32(unit.data() + 0x28, 1242);
    unit[0x16D] = rows;
    return unit;
}

TEST(FrameReaderFaults, VC3UnitsAreCheckedAgainstTheirSlot)
{
    struct Case {
        const char* pszName;
        Bytes first;
        bool bOk;
    };
    Bytes notVC3 = VC3Unit(4096, 34, 7);
    notVC3[3] = 0x81;
    const Case cases[] = {
        {"good", VC3Unit(4096, 34, 7), true},
        {"row table past the unit", VC3Unit(1000, 255, 7), false},
        {"larger than its slot", VC3Unit(kVC3Unit + 4, 34, 7), false},
        {"not a VC-3 unit", notVC3, false},
    };
    for (const Case& c : cases) {
        Fixture f = MakeFake<CReceiverKorvoVC3Reader>();
        f.fake->_blocks.push_back({{c.first, VC3Unit(4096, 34, 9)}, {}, 1, 0});
        ASSERT_EQ(f.reader->Open("x", 3, 120, 0, 24), 0);
        ASSERT_EQ(f.reader->ReadNextFrame(), c.bOk) << c.pszName;
        if (!c.bOk)
            continue;
        KorvoFrame* video = Take(*f.reader, 0);
        ASSERT_NE(video, nullptr);
        ASSERT_EQ(video->GetSize(), 0x94000u);
        const uint8_t* d = video->GetData();
        EXPECT_EQ(d[6], 0xEF);  // bit 4 cleared
        EXPECT_EQ(d[0x170 + 4 * 34], 0);
        EXPECT_EQ(d[0x170 + 4 * 34 - 1], 7);
        EXPECT_EQ(d[kVC3Unit], 0x00);
        EXPECT_EQ(d[kVC3Unit + 100], 9);
        const uint8_t end[4] = {0x60, 0x0D, 0xC0, 0xDE};
        EXPECT_EQ(std::memcmp(d + kVC3Unit - 4, end, 4), 0);
        EXPECT_EQ(std::memcmp(d + 2 * kVC3Unit - 4, end, 4), 0);
        video->Release();
    }
}

// Each track counts its own samples: a track that receives fewer than a frame needs hands out only what it
// received (the gap filled with its first sample), never samples left in its buffer from before.
TEST(FrameReaderFaults, VC3TracksCountTheirOwnSamples)
{
    Fixture f = MakeFake<CReceiverKorvoVC3Reader>();
    Bytes full = FieldUnit(kUnit625, 2, 960, 1000, 960);
    Bytes shortTrack = full;
    // Track 2 of the second frame's fields: 900 samples from 5000.
    const Bytes fewer = ChannelUnit(kUnit625, 900, 5000, 900);
    std::copy(fewer.begin(), fewer.end(), shortTrack.begin() + kUnit625);
    const Bytes unit = VC3Unit(4096, 34, 7);
    f.fake->_blocks.push_back({{unit, unit, unit, unit}, {full, full, shortTrack, shortTrack}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 3, 120, 2, 24), 0);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(f.reader->ReadNextFrame());
        Take(*f.reader, 0)->Release();
        KorvoFrame* one = Take(*f.reader, 1);
        KorvoFrame* two = Take(*f.reader, 2);
        ASSERT_NE(one, nullptr);
        ASSERT_NE(two, nullptr);
        EXPECT_EQ(one->GetNumSamples(), 1920u);
        EXPECT_EQ(two->GetNumSamples(), 1920u);
        EXPECT_EQ(SampleAt(one, 0), 1000u);
        EXPECT_EQ(SampleAt(one, 1919), 1000u + 959);
        if (k == 1) {
            // 1800 received: 120 copies of the first, then the samples as they came.
            EXPECT_EQ(SampleAt(two, 0), 5000u);
            EXPECT_EQ(SampleAt(two, 119), 5000u);
            EXPECT_EQ(SampleAt(two, 120), 5000u);
            EXPECT_EQ(SampleAt(two, 121), 5001u);
            EXPECT_EQ(SampleAt(two, 1919), 5000u + 899);
        }
        one->Release();
        two->Release();
    }
}

// Tracks the blocks carry no sound for are silent in VC-3 as in IMX: the frame set stays whole.
TEST(FrameReaderFaults, VC3TracksTheBlockLacksAreSilent)
{
    Fixture f = MakeFake<CReceiverKorvoVC3Reader>();
    const Bytes audio = FieldUnit(kUnit625, 4, 960, 100, 960);
    const Bytes unit = VC3Unit(4096, 34, 7);
    f.fake->_blocks.push_back({{unit, unit}, {audio, audio}, 1, 0});
    ASSERT_EQ(f.reader->Open("x", 3, 120, 8, 24), 0);
    ASSERT_TRUE(f.reader->ReadNextFrame());
    Take(*f.reader, 0)->Release();
    for (int32_t t = 1; t <= 8; ++t) {
        KorvoFrame* frame = Take(*f.reader, t);
        ASSERT_NE(frame, nullptr) << t;
        ASSERT_EQ(frame->GetNumSamples(), 1920u);
        const uint32_t first = t <= 4 ? 100 + (t - 1) * 0x10000u : 0;
        EXPECT_EQ(SampleAt(frame, 0), first);
        EXPECT_EQ(SampleAt(frame, 1919), t <= 4 ? first + 959 : 0);
        frame->Release();
    }
}

TEST(FrameReaderFaults, VC3StartsOnAFieldOfEvenParity)
{
    Fixture f = MakeFake<CReceiverKorvoVC3Reader>();
    f.fake->_blocks.push_back({{VC3Unit(4096, 34, 1), VC3Unit(4096, 34, 2), VC3Unit(4096, 34, 3)}, {}, 1, 1});
    ASSERT_EQ(f.reader->Open("x", 3, 120, 0, 24), 0);
    ASSERT_TRUE(f.reader->ReadNextFrame());
    KorvoFrame* video = Take(*f.reader, 0);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->GetData()[100], 2);
    EXPECT_EQ(video->GetData()[kVC3Unit + 100], 3);
    video->Release();
}

}  // namespace
