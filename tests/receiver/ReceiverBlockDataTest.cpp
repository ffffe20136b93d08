#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "receiver/CKorvoBlockData.h"
#include "receiver/ReceiverBlocks.h"
#include "serverblock/Bavd.h"
#include "support/ByteWriter.h"

namespace
{

using receivertest::Bytes;
using testsupport::ByteWriter;

constexpr uint32_t kTable = 0x1FF800;

// A 2 MB block with a table: fields [100, 110), rate standard 3, one element per field, two audio groups, and
// entries whose pictures lie back to back from offset 0x800.
Bytes TableBlock()
{
    Bytes block(0x200000, 0);
    uint8_t* t = block.data() + kTable;
    const uint32_t first = 100, end = 110;
    std::memcpy(t, &first, 4);
    std::memcpy(t + 4, &end, 4);
    t[8] = 0x13;
    t[23] = 0x21;
    for (uint32_t i = 0; i < 10; ++i) {
        const uint32_t offset = 0x10 + i * 0x10;  // units of 128 bytes
        std::memcpy(t + 24 + 20 * i, &offset, 4);
        t[24 + 20 * i + 6] = 0x01;  // 256 x 8 = 2048 bytes, big-endian
        t[24 + 20 * i + 7] = 0x00;
    }
    return block;
}

TEST(ReceiverBlockData, TableBlockFromGoldenBytes)
{
    const Bytes block = TableBlock();
    CKorvo2kBlockData data;
    ASSERT_EQ(data.SetBlockData(block.data(), 0x200000), kBlockDataOk);
    EXPECT_TRUE(data.IsValid());
    EXPECT_EQ(data.GetFirstField(), 100u);
    EXPECT_EQ(data.GetEndField(), 110u);
    EXPECT_EQ(data.ElementsPerField(), 1u);
    EXPECT_EQ(data.GetElementCount(), 10);
    int32_t size = 0;
    EXPECT_EQ(data.GetVideo(0, &size), block.data() + 0x800);
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(data.GetVideo(9, &size), block.data() + 0x800 + 9 * 0x800);
    // 2944 bytes for each of the 8 track slots, stacked down from the table.
    EXPECT_EQ(data.GetAudio(0, &size), block.data() + kTable - 2944 * 8);
    EXPECT_EQ(size, 2944 * 8);
    EXPECT_EQ(data.GetAudio(9, &size), block.data() + kTable - 10 * 2944 * 8);
    EXPECT_EQ(data.GetAudio(10, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(data.DataEnd(), block.data() + kTable);
}

TEST(ReceiverBlockData, TableAudioUnitFollowsTheRateStandard)
{
    Bytes block = TableBlock();
    const struct {
        uint8_t byte8;
        int32_t unit;
    } cases[] = {{0x13, 2944}, {0x16, 2944}, {0x14, 2432}, {0x17, 2432}, {0x18, 2432}};
    for (const auto& c : cases) {
        block[kTable + 8] = c.byte8;
        CKorvo2kBlockData data;
        ASSERT_EQ(data.SetBlockData(block.data(), 0x200000), kBlockDataOk);
        int32_t size = 0;
        EXPECT_NE(data.GetAudio(0, &size), nullptr);
        EXPECT_EQ(size, c.unit * 8) << int{c.byte8};
    }
}

// Each corruption of the table is refused, or reads as no element: never a read outside the block.
TEST(ReceiverBlockData, DamagedTableBlocks)
{
    struct Corruption {
        const char* name;
        uint32_t offset;  // in the table
        Bytes bytes;
        bool refused;
    };
    const Corruption cases[] = {
        {"end before first", 4, {50, 0, 0, 0}, true},
        {"no fields", 4, {100, 0, 0, 0}, true},
        {"102 fields", 4, {202, 0, 0, 0}, true},
        {"huge field range", 4, {0xFF, 0xFF, 0xFF, 0x7F}, true},
        {"60 fields of 2 elements", 4, {160, 0, 0, 0, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x22}, true},
        {"audio of 15 groups for 20 fields",
         4,
         {120, 0, 0, 0, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF1},
         true},
        {"entry past the table", 24, {0xFF, 0xFF, 0xFF, 0xFF}, false},
        {"entry running into the table", 24, {0xF0, 0x3F, 0, 0, 0, 0, 0xFF, 0xFF}, false},
    };
    for (const Corruption& c : cases) {
        Bytes block = TableBlock();
        std::memcpy(block.data() + kTable + c.offset, c.bytes.data(), c.bytes.size());
        CKorvo2kBlockData data;
        const int rc = data.SetBlockData(block.data(), static_cast<uint32_t>(block.size()));
        EXPECT_EQ(rc, c.refused ? kBlockDataDamaged : kBlockDataOk) << c.name;
        int32_t size = 7;
        if (c.refused) {
            EXPECT_FALSE(data.IsValid()) << c.name;
            EXPECT_EQ(data.GetVideo(0, &size), nullptr) << c.name;
            EXPECT_EQ(data.GetAudio(0, &size), nullptr) << c.name;
            EXPECT_EQ(data.DataEnd(), nullptr) << c.name;
        } else {
            EXPECT_EQ(data.GetVideo(0, &size), nullptr) << c.name;
            EXPECT_EQ(size, 0) << c.name;
        }
        EXPECT_GE(data.ElementsPerField(), 1u) << c.name;
    }
}

TEST(ReceiverBlockData, NegativeAndPastTheEndElementsGiveNothing)
{
    const Bytes block = TableBlock();
    CKorvo2kBlockData data;
    ASSERT_EQ(data.SetBlockData(block.data(), 0x200000), kBlockDataOk);
    for (int32_t element : {-1, -100, INT32_MIN, 10, 101, INT32_MAX}) {
        int32_t size = 7;
        EXPECT_EQ(data.GetVideo(element, &size), nullptr) << element;
        EXPECT_EQ(size, 0);
        EXPECT_EQ(data.GetAudio(element, &size), nullptr) << element;
        EXPECT_FALSE(data.HasElement(element));
    }
}

TEST(ReceiverBlockData, BlockSizesOtherThanTheSystemsAreRefused)
{
    Bytes block = TableBlock();
    CKorvo2kBlockData table;
    EXPECT_EQ(table.SetBlockData(block.data(), 0x100000), kBlockDataDamaged);
    CKorvo8MBlockData bavd;
    EXPECT_EQ(bavd.SetBlockData(block.data(), 0x400000), kBlockDataDamaged);
    EXPECT_EQ(bavd.SetBlockData(block.data(), 0x200000), kBlockDataDamaged);  // no BAVD marker
    EXPECT_EQ(bavd.SetBlockData(nullptr, 0x200000), kBlockDataDamaged);
}

// A BAVD block whose header counts or places records beyond the block, or whose audio cannot fit.
TEST(ReceiverBlockData, DamagedBavdBlocks)
{
    const receivertest::BlockSpec clipSpec{"", KORVOMXF_BLOCK_BAVD_2MB, 3, 1};
    const receivertest::WrittenBlock written = receivertest::WriteBlock(clipSpec, 5000, 1);
    const uint32_t records = 32 + 0;  // bootstrap offset of the record table
    struct Corruption {
        const char* name;
        uint32_t offset;
        Bytes bytes;
    };
    const Corruption cases[] = {
        {"record table past the header area", records, {0x00, 0x01, 0x00, 0x00}},
        {"record count 0xFFFF", 36, {0xFF, 0xFF}},
        {"header area past the block", 60, {0x00, 0x80, 0x00, 0x00}},
        {"audio groups 0xFF", 65 + 7, {0xFF}},
    };
    for (const Corruption& c : cases) {
        Bytes block = written.block;
        std::memcpy(block.data() + c.offset, c.bytes.data(), c.bytes.size());
        CKorvo8MBlockData data;
        EXPECT_EQ(data.SetBlockData(block.data(), 0x200000), kBlockDataDamaged) << c.name;
        int32_t size = 7;
        EXPECT_EQ(data.GetVideo(0, &size), nullptr) << c.name;
        EXPECT_EQ(data.GetAudio(0, &size), nullptr) << c.name;
        EXPECT_FALSE(data.IsValid()) << c.name;
    }
    // A record whose data runs past the block.
    Bytes block = written.block;
    Bavd bavd;
    ASSERT_EQ(bavd.LoadFromBuffer(block.data(), block.size()), kBavdOk);
    const uint32_t recordAt = bavd.GetHeader()._nElemRecordOffset;
    ByteWriter(block).Be32(recordAt, 0x1FFF00);
    CKorvo8MBlockData data;
    EXPECT_EQ(data.SetBlockData(block.data(), 0x200000), kBlockDataDamaged);
}

TEST(ReceiverBlockData, ElementsPerFieldIsNeverZero)
{
    const receivertest::BlockSpec clipSpec{"", KORVOMXF_BLOCK_BAVD_2MB, 3, 0};
    receivertest::WrittenBlock written = receivertest::WriteBlock(clipSpec, 5000, 2);
    ByteWriter(written.block).Be16(36, 0);  // no records
    CKorvo8MBlockData data;
    data.SetBlockData(written.block.data(), 0x200000);
    EXPECT_EQ(data.ElementsPerField(), 1u);
    EXPECT_FALSE(data.IsValid());
}

class ReceiverWrittenBlock : public ::testing::TestWithParam<receivertest::BlockSpec>
{
};

// Every picture and every field's audio of a block from the block writer comes back.
TEST_P(ReceiverWrittenBlock, GivesWhatTheWriterPutIn)
{
    const receivertest::BlockSpec& clipSpec = GetParam();
    const receivertest::WrittenBlock written = receivertest::WriteBlock(clipSpec, 90000, 3);
    ASSERT_GT(written.pictures.size(), 2u);
    std::unique_ptr<CKorvoBlockData> data;
    if (clipSpec.eType == KORVOMXF_BLOCK_TBL2K_2MB)
        data = std::make_unique<CKorvo2kBlockData>();
    else
        data = std::make_unique<CKorvo8MBlockData>();
    EXPECT_EQ(IsBavdBlock(written.block.data(), 4), clipSpec.eType != KORVOMXF_BLOCK_TBL2K_2MB);
    ASSERT_EQ(data->SetBlockData(written.block.data(), static_cast<uint32_t>(written.block.size())), kBlockDataOk);
    ASSERT_TRUE(data->IsValid());
    const int32_t fields = static_cast<int32_t>(written.pictures.size());
    EXPECT_EQ(data->GetFirstField(), 90000u);
    EXPECT_EQ(data->GetEndField(), 90000u + fields);
    EXPECT_EQ(data->GetElementCount(), fields);
    for (int32_t i = 0; i < fields; ++i) {
        int32_t size = 0;
        const uint8_t* video = data->GetVideo(i, &size);
        const Bytes& expected = written.pictures[i];
        ASSERT_NE(video, nullptr) << i;
        ASSERT_GE(size, static_cast<int32_t>(expected.size()));
        EXPECT_EQ(0, std::memcmp(video, expected.data(), expected.size())) << i;
        const uint8_t* audio = data->GetAudio(i, &size);
        if (clipSpec.nAudioGroups == 0) {
            EXPECT_EQ(audio, nullptr);
            continue;
        }
        ASSERT_NE(audio, nullptr) << i;
        ASSERT_EQ(size, static_cast<int32_t>(receivertest::AudioBytes(clipSpec)));
        const Bytes got = clipSpec.eType == KORVOMXF_BLOCK_TBL2K_2MB ? receivertest::Unswapped(audio, size)
                                                                     : Bytes(audio, audio + size);
        EXPECT_EQ(got, written.audio[i]) << i;
    }
    int32_t size = 7;
    EXPECT_EQ(data->GetVideo(fields, &size), nullptr);
    EXPECT_EQ(data->GetAudio(fields, &size), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReceiverWrittenBlock, ::testing::ValuesIn(receivertest::kBlockSpecs),
                         receivertest::SpecName);

}  // namespace
