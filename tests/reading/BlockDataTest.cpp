#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "serverblock/Bavd.h"
#include "serverblock/C2kBlockData.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/ServerBlock.h"
#include "support/ByteWriter.h"

namespace
{

using Bytes = std::vector<uint8_t>;
using testsupport::ByteWriter;

constexpr uint32_t k2MB = 0x200000;
constexpr uint32_t k8MB = 0x800000;
constexpr uint32_t kTable = 0x1FF800;

// A BAVD block written from the layout tables: versions 257/258/258/257, 4 element fields, 2 element records
// (one picture for every two fields), video format 3, 625 lines at 25 Hz, pictures downward from the block end.
struct GoldenBavd {
    static constexpr uint32_t kFirstField = 5000;
    static constexpr uint32_t kFields = 4;
    static constexpr uint32_t kRecords = 2;
    static constexpr uint32_t kPictureSize[kRecords] = {200, 1000};
    static constexpr uint32_t kFieldOffset = 65 + 15;
    static constexpr uint32_t kRecordOffset = kFieldOffset + kFields * 39;  // 236
    static constexpr uint32_t kTablesEnd = 384;                             // 236 + 24 rounded up to 128

    explicit GoldenBavd(uint32_t blockSize) : nBlockSize(blockSize), block(blockSize)
    {
        ByteWriter w(block);
        w.Text(0, "BAVD");
        w.Be16(4, 257);
        w.Be32(8, blockSize);
        w.Be16(12, 258);
        w.Be32(14, 65);
        w.Be16(18, 258);
        w.Be16(20, 39);
        w.Be32(22, kFieldOffset);
        w.Be16(26, kFields);
        w.Be16(28, 257);
        w.Be16(30, 12);
        w.Be32(32, kRecordOffset);
        w.Be16(36, kRecords);
        w.Be32(40, kTablesEnd);
        w.Be32(48, kTablesEnd);
        w.Be32(56, kTablesEnd);
        w.Be32(60, 0x8000);
        w.U8(64, 2);
        // Media header: first field, audio format 1 | video format 3, standard 2 | rate 3, format flag | aspect 3,
        // two audio groups.
        w.Be32(65, kFirstField);
        w.U8(69, 0x13);
        w.U8(70, 0x23);
        w.U8(71, 0x83);
        w.U8(72, 2);
        w.U8(79, 1);  // simultaneous
        for (uint32_t i = 0; i < kFields; ++i) {
            const uint32_t at = kFieldOffset + i * 39;
            w.Be32(at, 0x100 + i);
            w.U8(at + 4, static_cast<uint8_t>(0x40 + i));
            for (uint32_t t = 0; t < 3; ++t) {
                w.Be32(at + 5 + 10 * t, 1000 * (t + 1) + i);
                w.U8(at + 9 + 10 * t, static_cast<uint8_t>(t));
                w.U8(at + 10 + 10 * t, static_cast<uint8_t>(0x10 + t));
                w.Be32(at + 11 + 10 * t, 0xA0B0C000 + t);
            }
            w.Be16(at + 35, static_cast<uint16_t>(0x1111 * i));
            w.Be16(at + 37, 0x7777);
        }
        uint32_t top = blockSize;
        for (uint32_t r = 0; r < kRecords; ++r) {
            top -= (kPictureSize[r] + 127) / 128 * 128;
            nPictureAt[r] = top;
            w.Pattern(top, kPictureSize[r], static_cast<uint8_t>(r + 1));
            const uint32_t at = kRecordOffset + r * 12;
            w.Be32(at, top - 0x8000);
            w.Be32(at + 4, kPictureSize[r]);
            w.U8(at + 8, 23);
            w.U8(at + 9, 2);
            w.U8(at + 10, static_cast<uint8_t>(r));
            w.U8(at + 11, static_cast<uint8_t>(0x30 + r));
        }
    }

    uint32_t nBlockSize;
    Bytes block;
    uint32_t nPictureAt[kRecords] = {};
};

class GoldenBavdBlock : public testing::TestWithParam<uint32_t>
{
};

TEST_P(GoldenBavdBlock, ParsesToFieldsPicturesAndAudio)
{
    GoldenBavd golden(GetParam());
    auto data = CreateBlockData(2, golden.nBlockSize);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->GetBlockType(), golden.nBlockSize == k8MB ? 3u : 2u);
    EXPECT_TRUE(data->IsValid(golden.block.data()));
    ASSERT_EQ(data->SetBlock(golden.block.data()), 0);
    EXPECT_EQ(data->GetFirstField(), 5000u);
    EXPECT_EQ(data->GetEndField(), 5004u);
    EXPECT_EQ(data->GetVideoFormat(), 3u);
    EXPECT_FALSE(data->IsProgressive());
    EXPECT_EQ(data->GetAudioBase(), 0x8000u);
    EXPECT_EQ(data->GetFieldsPerPicture(), 2u);
    EXPECT_EQ(data->GetVideoChannels(), 1u);
    for (uint32_t field = 0; field < 4; ++field) {
        uint32_t size = 0;
        const uint8_t* picture = data->GetFieldData(field, &size);
        EXPECT_EQ(picture, golden.block.data() + golden.nPictureAt[field / 2]) << field;
        EXPECT_EQ(size, GoldenBavd::kPictureSize[field / 2]);
    }
    EXPECT_EQ(data->GetFieldData(4, nullptr), nullptr);

    const Bavd& bavd = static_cast<CBavdBlockData&>(*data).GetBavd();
    const BavdMediaHeader& media = bavd.GetMediaHeader();
    EXPECT_EQ(media._nVideoStandard, 2);
    EXPECT_EQ(media._nRateSystem, 3);
    EXPECT_EQ(media._nAudioFormat, 1);
    EXPECT_EQ(media._nAspectRatio, 3);
    EXPECT_TRUE(media._bFormatFlag);
    EXPECT_TRUE(media._bSimultaneous);
    EXPECT_EQ(bavd.GetAudioGroupCount(), 2u);
    // The audio of element j starts j audio units of both groups above the header area.
    EXPECT_EQ(GetAudioUnit(media._nRateSystem) * bavd.GetAudioGroupCount(), 2 * 0x2E00u);
    const BavdElemField* f2 = bavd.GetElemField(2);
    EXPECT_EQ(f2->_nFieldId, 0x102u);
    EXPECT_EQ(f2->_nPictureByte, 0x42);
    EXPECT_EQ(f2->_tc[1]._nField, 2002u);
    EXPECT_EQ(f2->_tc[1]._nByte, 1);
    EXPECT_EQ(f2->_tc[1]._nFlags, 0x11);
    EXPECT_EQ(f2->_tc[2]._nUserBits, 0xA0B0C002u);
    EXPECT_EQ(f2->_nExtra[0], 0x2222);
    EXPECT_EQ(f2->_nExtra[1], 0x7777);
    const BavdElemRecord* r1 = bavd.GetElemRecord(1);
    EXPECT_EQ(r1->_nWidth, 23);
    EXPECT_EQ(r1->_nLineVariant, 2);
    EXPECT_EQ(r1->_nChannelFlag, 1);
    EXPECT_EQ(r1->_nChannelByte, 0x31);

    // Only the header area: the same values, no pictures.
    ASSERT_EQ(data->SetTable(golden.block.data()), 0);
    EXPECT_EQ(data->GetEndField(), 5004u);
    EXPECT_EQ(data->GetFieldData(0, nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, GoldenBavdBlock, testing::Values(k2MB, k8MB));

TEST(GoldenBavdBlock, TwoFieldFormatMapsBothFieldsToOnePicture)
{
    GoldenBavd golden(k2MB);
    ByteWriter w(golden.block);
    w.U8(69, 0x14);  // video format 4
    w.Be16(36, 1);   // one record for the 4 fields... of which only the first two exist
    w.Be16(26, 2);
    w.Be32(32, GoldenBavd::kFieldOffset + 2 * 39);
    Bytes moved(golden.block.begin() + GoldenBavd::kRecordOffset,
                golden.block.begin() + GoldenBavd::kRecordOffset + 12);
    std::copy(moved.begin(), moved.end(), golden.block.begin() + GoldenBavd::kFieldOffset + 2 * 39);
    CBavdBlockData data(k2MB);
    ASSERT_EQ(data.SetBlock(golden.block.data()), 0);
    EXPECT_EQ(data.GetFieldData(0, nullptr), data.GetFieldData(1, nullptr));
    EXPECT_NE(data.GetFieldData(0, nullptr), nullptr);
    EXPECT_EQ(data.GetFieldData(2, nullptr), nullptr);
}

// A 2kTable block written from the table layout: 4 fields of one SD 625 channel at 25 Hz, timecode records,
// one audio group, pictures 0x1000 apart.
struct Golden2k {
    Golden2k() : block(k2MB)
    {
        ByteWriter w(block);
        w.Le32(kTable + 0, 2000);
        w.Le32(kTable + 4, 2004);
        w.U8(kTable + 8, 0x13);   // 625 lines, rate system 3
        w.U8(kTable + 9, 0x02);   // aspect 4:3
        w.U8(kTable + 10, 0x00);  // SD video format 1, audio format 1
        w.U8(kTable + 11, 5);
        w.U8(kTable + 21, 2);
        w.U8(kTable + 23, 0x11);  // one channel, one audio group
        for (uint32_t i = 0; i < 4; ++i) {
            const uint32_t e = kTable + 24 + 20 * i;
            w.Le32(e, i * 0x1000 / 128);
            w.U8(e + 4, static_cast<uint8_t>(0x50 + i));
            w.U8(e + 5, static_cast<uint8_t>(23 | (i == 1 ? 0x80 : 0)));
            w.Be16(e + 6, 1024 / 8);
            w.Be32(e + 8, 0x300 + i);
            w.U8(e + 12, static_cast<uint8_t>(i));
            w.U8(e + 15, 0x08);  // 304 lines
            w.Pattern(i * 0x1000, 1000, static_cast<uint8_t>(i));
            const uint32_t t = kTable + 844 + 28 * i;
            w.Le32(t + 0, 0x10000001 | (i % 2 ? 0x80000000u : 0));  // 10:00:00:01, field bit for odd i
            w.Le32(t + 4, 0x11111111);
            w.Le32(t + 8, 0x10000001);
            w.Le32(t + 12, 0x22222222);
            w.Le32(t + 16, 0x10000002);
            w.Le32(t + 20, 0x33333333);
        }
    }
    Bytes block;
};

TEST(Golden2kBlock, ParsesToFieldsPicturesAndAudio)
{
    Golden2k golden;
    auto data = CreateBlockData(1, k2MB);
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->IsValid(golden.block.data() + kTable));
    ASSERT_EQ(data->SetBlock(golden.block.data()), 0);
    EXPECT_EQ(data->GetFirstField(), 2000u);
    EXPECT_EQ(data->GetEndField(), 2004u);
    EXPECT_EQ(data->GetVideoFormat(), 1u);
    EXPECT_EQ(data->GetAudioBase(), kTable);
    EXPECT_EQ(data->GetVideoChannels(), 1u);
    EXPECT_EQ(data->GetFieldsPerPicture(), 1u);
    EXPECT_EQ(data->GetTable(), golden.block.data() + kTable);
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t size = 0;
        EXPECT_EQ(data->GetFieldData(i, &size), golden.block.data() + i * 0x1000);
        EXPECT_EQ(size, 1024u);
    }
    EXPECT_EQ(data->GetFieldData(4, nullptr), nullptr);

    Bavd bavd;
    ASSERT_EQ(bavd.LoadFromBuffer(golden.block.data() + kTable, 2048), 0);
    EXPECT_EQ(bavd.GetHeader()._nBootStrapVersion, 0);
    EXPECT_EQ(bavd.GetLayoutAV(), 1);
    EXPECT_EQ(bavd.GetFieldCount(), 4u);
    EXPECT_EQ(bavd.GetElemRecordCnt(), 4u);
    EXPECT_EQ(bavd.GetMediaHeader()._nVideoStandard, 2);
    EXPECT_EQ(bavd.GetMediaHeader()._nAspectRatio, 2);
    EXPECT_EQ(bavd.GetAudioGroupCount(), 1u);
    const uint32_t tc10h = (10 * 3600 * 25 + 1) * 2;
    for (uint32_t i = 0; i < 4; ++i) {
        const BavdElemField* f = bavd.GetElemField(i);
        EXPECT_EQ(f->_nFieldId, 0x300 + i);
        EXPECT_EQ(f->_tc[0]._nField, tc10h + i % 2);
        EXPECT_EQ(f->_tc[1]._nField, tc10h);  // the field bit counts for the first timecode only
        EXPECT_EQ(f->_tc[2]._nField, tc10h + 2);
        EXPECT_EQ(f->_tc[2]._nUserBits, 0x33333333u);
        const BavdElemRecord* r = bavd.GetElemRecord(i);
        EXPECT_EQ(r->_nDataOffset, i * 0x1000);
        EXPECT_EQ(r->_nDataSize, 1024u);
        EXPECT_EQ(r->_nWidth, 23);
        EXPECT_EQ(r->_nLineVariant, 2);
        EXPECT_EQ(r->_nChannelFlag, i == 1 ? 1 : 0);
        EXPECT_EQ(r->_nChannelByte, 0x50 + i);
    }
}

struct TableCase {
    const char* pszName;
    uint8_t nVersion;
    uint8_t nEntryMode;
    uint32_t nFields;
    uint8_t nStandardRate;
    uint8_t nCodec;
    uint8_t nHeaderByte;
    uint8_t nWidthByte;
    uint8_t nFlags;
    int nResult;
    uint32_t nWidth;  // in 32-pixel units as stored
    uint8_t nLineVariant;
};

class TableFallback : public testing::TestWithParam<TableCase>
{
};

TEST_P(TableFallback, Parses)
{
    const TableCase& c = GetParam();
    Bytes table(2048);
    ByteWriter w(table);
    w.Le32(0, 70000);
    w.Le32(4, 70000 + c.nFields);
    w.U8(8, c.nStandardRate);
    w.U8(10, c.nCodec);
    w.U8(11, c.nVersion);
    w.U8(21, c.nEntryMode);
    w.U8(22, c.nHeaderByte);
    w.U8(23, 1);
    for (uint32_t i = 0; i < 101; ++i) {
        w.U8(24 + 20 * i + 5, c.nWidthByte);
        w.U8(24 + 20 * i + 15, c.nFlags);
    }
    Bavd bavd;
    ASSERT_EQ(bavd.LoadFrom2kTable(table.data(), table.size()), c.nResult);
    if (c.nResult != 0)
        return;
    EXPECT_EQ(bavd.GetElemRecord(0)->_nWidth, c.nWidth);
    EXPECT_EQ(bavd.GetElemRecord(0)->_nLineVariant, c.nLineVariant);
}

INSTANTIATE_TEST_SUITE_P(Tables, TableFallback,
                         testing::Values(TableCase{"Version4With42Entries", 4, 0, 42, 0x13, 0x00, 0, 23, 0, 8, 0, 0},
                                         TableCase{"Version1With101Entries", 1, 0, 101, 0x13, 0x00, 0, 23, 0, 0, 23, 0},
                                         TableCase{"Pal296WithHeaderByte", 5, 1, 4, 0x13, 0x00, 1, 23, 0, 0, 23, 1},
                                         TableCase{"Pal288WithoutHeaderByte", 5, 1, 4, 0x13, 0x00, 0, 23, 0, 0, 23, 0},
                                         TableCase{"Ntsc256", 5, 1, 4, 0x04, 0x00, 0, 22, 0x1C, 0, 22, 2},
                                         TableCase{"Sd368", 5, 1, 4, 0x13, 0x00, 0, 12, 0x10, 0, 12, 0},
                                         TableCase{"Hd1440ForFormat7", 5, 1, 4, 0x33, 0x06, 0, 23, 0, 0, 45, 0},
                                         TableCase{"Hd1472ForFormat2", 5, 1, 4, 0x33, 0x00, 0, 23, 0, 0, 46, 0},
                                         TableCase{"EntryMode3", 5, 3, 4, 0x13, 0x00, 0, 23, 0, 8, 0, 0},
                                         TableCase{"TimecodesNeedARate", 5, 2, 4, 0x12, 0x00, 0, 23, 0, 8, 0, 0},
                                         TableCase{"StandardNibbleTooHigh", 5, 1, 4, 0x43, 0x00, 0, 23, 0, 8, 0, 0},
                                         TableCase{"OtherAudioFormat", 5, 1, 4, 0x13, 0x20, 0, 23, 0, 8, 0, 0},
                                         TableCase{"SdOnlyCodecOnHd", 5, 1, 4, 0x33, 0x08, 0, 23, 0, 8, 0, 0}),
                         [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.pszName); });

TEST(TableFallback, FieldIndexTimesChannelsStaysInTheTable)
{
    // 40 fields of two field elements each in 2 channels: 40 entries, but field 39 would read entry 78.
    Bytes table(2048);
    ByteWriter w(table);
    w.Le32(4, 40);
    w.U8(8, 0x13);
    w.U8(11, 5);
    w.U8(21, 2);
    w.U8(23, 0x02 | 0x08);
    Bavd bavd;
    EXPECT_EQ(bavd.LoadFrom2kTable(table.data(), table.size()), 8);
    EXPECT_EQ(bavd.LoadFrom2kTable(table.data(), 2047), 5);
}

TEST(C2kBlockData, FieldRangeRules)
{
    struct Case {
        uint32_t nFirst, nEnd;
        bool bValid;
        int nSetTable;
    };
    const Case cases[] = {{10, 10, false, -1}, {10, 210, true, -1}, {10, 211, false, -1},
                          {10, 5, false, -1},  {10, 112, true, -1}, {10, 111, true, 0}};
    for (const Case& c : cases) {
        Bytes table(2048);
        ByteWriter w(table);
        w.Le32(0, c.nFirst);
        w.Le32(4, c.nEnd);
        C2kBlockData data;
        EXPECT_EQ(data.IsValid(table.data()), c.bValid) << c.nFirst << " " << c.nEnd;
        EXPECT_EQ(data.SetTable(table.data()), c.nSetTable) << c.nFirst << " " << c.nEnd;
    }
}

TEST(CreateBlockData, Kinds)
{
    EXPECT_EQ(CreateBlockData(3, k2MB), nullptr);
    EXPECT_EQ(CreateBlockData(0, k2MB), nullptr);
    EXPECT_EQ(CreateBlockData(2, 0x400000), nullptr);
    EXPECT_EQ(CreateBlockData(2, k8MB)->GetBlockType(), 3u);
    EXPECT_EQ(CreateBlockData(2, k2MB)->GetBlockType(), 2u);
    EXPECT_EQ(CreateBlockData(1, k2MB)->GetBlockType(), 1u);
}

// Each count, offset and size of a golden block pushed out of range: the block is refused. The block is held in
// a buffer of exactly its size, so AddressSanitizer reports any read outside it.
struct Corruption {
    const char* pszName;
    void (*fnApply)(ByteWriter&);
};

class CorruptBavdBlock : public testing::TestWithParam<Corruption>
{
};

TEST_P(CorruptBavdBlock, IsRefused)
{
    GoldenBavd golden(k2MB);
    ByteWriter w(golden.block);
    GetParam().fnApply(w);
    CBavdBlockData data(k2MB);
    EXPECT_NE(data.SetBlock(golden.block.data()), 0);
    EXPECT_EQ(data.GetFieldData(0, nullptr), nullptr);
    Bytes header(golden.block.begin(), golden.block.begin() + 0x8000);
    EXPECT_NE(data.SetTable(header.data()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CorruptBavdBlock,
    testing::Values(Corruption{"Magic", [](ByteWriter& w) { w.U8(3, 'X'); }},
                    Corruption{"BootstrapVersionLow", [](ByteWriter& w) { w.Be16(4, 256); }},
                    Corruption{"BootstrapVersionHigh", [](ByteWriter& w) { w.Be16(4, 512); }},
                    Corruption{"MediaHeaderOffsetPastBlock", [](ByteWriter& w) { w.Be32(14, 0xFFFFFFF0); }},
                    Corruption{"MediaHeaderAfterFields", [](ByteWriter& w) { w.Be32(14, 200); }},
                    Corruption{"MediaHeaderShort", [](ByteWriter& w) { w.Be32(22, 79); }},
                    Corruption{"HeaderVersionLow", [](ByteWriter& w) { w.Be16(12, 1); }},
                    Corruption{"FieldOffsetPastBlock", [](ByteWriter& w) { w.Be32(22, 0x7FFFFFFF); }},
                    Corruption{"FieldCountPastBlock", [](ByteWriter& w) { w.Be16(26, 0xFFFF); }},
                    Corruption{"FieldCount201", [](ByteWriter& w) { w.Be16(26, 201); }},
                    Corruption{"FieldSizeTooSmall", [](ByteWriter& w) { w.Be16(20, 38); }},
                    Corruption{"FieldSizeHuge", [](ByteWriter& w) { w.Be16(20, 0xFFFF); }},
                    Corruption{"FieldVersionHigh", [](ByteWriter& w) { w.Be16(18, 600); }},
                    Corruption{"RecordOffsetPastBlock", [](ByteWriter& w) { w.Be32(32, 0xFFFFFFFF); }},
                    Corruption{"RecordCountPastBlock", [](ByteWriter& w) { w.Be16(36, 0xFFFF); }},
                    Corruption{"RecordCount201", [](ByteWriter& w) { w.Be16(36, 201); }},
                    Corruption{"RecordSizeZero", [](ByteWriter& w) { w.Be16(30, 0); }},
                    Corruption{"HeaderAreaPastBlock", [](ByteWriter& w) { w.Be32(60, 0x200001); }},
                    Corruption{"HeaderAreaBelowTables", [](ByteWriter& w) { w.Be32(60, 256); }},
                    Corruption{"PictureOffsetPastBlock",
                               [](ByteWriter& w) { w.Be32(GoldenBavd::kRecordOffset, 0x200000 - 0x8000); }},
                    Corruption{"PictureSizePastBlock",
                               [](ByteWriter& w) { w.Be32(GoldenBavd::kRecordOffset + 4, 0x1000); }},
                    Corruption{"PictureOffsetWraps",
                               [](ByteWriter& w) {
                                   w.Be32(GoldenBavd::kRecordOffset, 0xFFFFFF00);
                                   w.Be32(GoldenBavd::kRecordOffset + 4, 0x200);
                               }}),
    [](const testing::TestParamInfo<Corruption>& info) { return std::string(info.param.pszName); });

class Corrupt2kBlock : public testing::TestWithParam<Corruption>
{
};

TEST_P(Corrupt2kBlock, PictureIsRefused)
{
    Golden2k golden;
    ByteWriter w(golden.block);
    GetParam().fnApply(w);
    C2kBlockData data;
    if (data.SetBlock(golden.block.data()) == 0) {
        for (uint32_t i = 0; i < 200; ++i) {
            uint32_t size = 0;
            if (const uint8_t* p = data.GetFieldData(i, &size)) {
                ASSERT_LE(p + size, golden.block.data() + kTable);
                ASSERT_LT(i, 4u);
            }
        }
        uint32_t size = 0;
        EXPECT_EQ(data.GetFieldData(0, &size), nullptr);
    }
    Bavd bavd;
    EXPECT_NE(bavd.LoadFrom2kTable(golden.block.data() + kTable, 2048), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Corrupt2kBlock,
    testing::Values(Corruption{"PictureOffsetPastTable", [](ByteWriter& w) { w.Le32(kTable + 24, kTable / 128); }},
                    Corruption{"PictureOffsetHuge", [](ByteWriter& w) { w.Le32(kTable + 24, 0x02000001); }},
                    Corruption{"PictureSizePastTable",
                               [](ByteWriter& w) {
                                   w.Le32(kTable + 24, (kTable - 0x1000) / 128);
                                   w.Be16(kTable + 30, 0x1001 / 8 + 1);
                               }},
                    Corruption{"LargeSizeUnit",
                               [](ByteWriter& w) {
                                   w.Be16(kTable + 30, 0xFFFF);
                                   w.U8(kTable + 39, 0x20);
                               }},
                    Corruption{"EndBeforeFirst", [](ByteWriter& w) { w.Le32(kTable + 4, 1999); }},
                    Corruption{"TooManyFields", [](ByteWriter& w) { w.Le32(kTable + 4, 2000 + 102); }}),
    [](const testing::TestParamInfo<Corruption>& info) { return std::string(info.param.pszName); });

}  // namespace
