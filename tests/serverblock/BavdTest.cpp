#include <gtest/gtest.h>

#include <vector>

#include "common/ByteOrder.h"
#include "serverblock/Bavd.h"
#include "support/ByteWriter.h"

namespace
{

using Bytes = std::vector<uint8_t>;

Bavd& BuildTwoFieldsOneRecord(Bavd& bavd)
{
    EXPECT_EQ(bavd.SetBlockType(2), 0);
    bavd.SetElemFieldCnt(2);
    bavd.SetElemRecordCnt(1);
    bavd.SetFirstField(4000);
    bavd.SetVideoStandard(2);
    bavd.SetRateSystem(3);
    bavd.SetVideoFormat(64);
    bavd.SetAudioFormat(2);
    bavd.SetAspectRatio(3);
    bavd.SetProgressive(true);
    bavd.SetAudioGroupCount(4);
    bavd.SetSimultaneousMode(true);
    bavd.GetElemField(1)->_nFieldId = 0x01020304;
    bavd.GetElemField(1)->_tc[2]._nUserBits = 0xCAFEF00D;
    bavd.GetElemField(1)->_nExtra[1] = 0xBEEF;
    BavdElemRecord* r = bavd.GetElemRecord(0);
    r->_nDataOffset = 0x1000;
    r->_nDataSize = 0x208;
    r->SetWidth(1920);
    r->SetLineVariant(288);
    r->SetChannelFlag(true);
    r->_nChannelByte = 9;
    return bavd;
}

TEST(BavdSave, DefaultsWithoutEntries)
{
    Bavd bavd;
    ASSERT_EQ(bavd.SetBlockType(3), 0);
    Bytes area(0x8000, 0xEE);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    const uint8_t expected[65] = {'B', 'A',  'V',  'D', 0x01, 0x01, 0, 0, 0x00, 0x80, 0x00, 0x00, 0x01, 0x02, 0,  0, 0,
                                  65,  0x01, 0x02, 0,   39,   0,    0, 0, 80,   0,    0,    0x01, 0x01, 0,    12, 0, 0,
                                  0,   80,   0,    0,   0,    0,    0, 0, 0,    128,  0,    0,    0,    0,    0,  0, 0,
                                  128, 0,    0,    0,   0,    0,    0, 0, 128,  0,    0,    0x80, 0,    2};
    EXPECT_EQ(Bytes(area.begin(), area.begin() + 65), Bytes(expected, expected + 65));
    // The media header (first field -1) and zeros up to the tables end.
    EXPECT_EQ(ReadBigEndian32(area.data() + 65), 0xFFFFFFFFu);
    for (size_t i = 69; i < 128; ++i)
        EXPECT_EQ(area[i], 0) << i;
    EXPECT_EQ(area[128], 0xEE);
}

TEST(BavdSave, Version257WithTwoFieldsAndOneRecord)
{
    Bavd bavd;
    BuildTwoFieldsOneRecord(bavd);
    for (auto setter :
         {&Bavd::SetBootStrapVersion, &Bavd::SetHeaderVersion, &Bavd::SetElemFieldVersion, &Bavd::SetElemRecordVersion})
        ASSERT_EQ((bavd.*setter)(257), 0);
    EXPECT_EQ(bavd.ComputeHeaderSize(2, 1), 65u + 14 + 70 + 12);
    Bytes area(0x8000);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    EXPECT_EQ(ReadBigEndian32(area.data() + 22), 79u);
    EXPECT_EQ(ReadBigEndian32(area.data() + 32), 149u);
    for (size_t at : {40, 48, 56})
        EXPECT_EQ(ReadBigEndian32(area.data() + at), 256u);
    // Media header: video format 64 as nibble 15, no simultaneous byte in version 257.
    const uint8_t media[14] = {0, 0, 0x0F, 0xA0, 0x2F, 0x23, 0x43, 4, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(area.begin() + 65, area.begin() + 79), Bytes(media, media + 14));
    EXPECT_EQ(ReadBigEndian32(area.data() + 79 + 35), 0x01020304u);
    EXPECT_EQ(ReadBigEndian32(area.data() + 79 + 35 + 31), 0xCAFEF00Du);
    const uint8_t record[12] = {0, 0, 0x10, 0, 0, 0, 0x02, 0x08, 60, 0, 1, 9};
    EXPECT_EQ(Bytes(area.begin() + 149, area.begin() + 161), Bytes(record, record + 12));

    Bavd back;
    ASSERT_EQ(back.LoadFromBuffer(area.data(), area.size()), 0);
    EXPECT_EQ(back.GetMediaHeader()._nVideoFormat, 64);
    EXPECT_FALSE(back.GetMediaHeader()._bSimultaneous);
    EXPECT_EQ(back.GetElemField(1)->_tc[2]._nUserBits, 0xCAFEF00Du);
    EXPECT_EQ(back.GetElemField(1)->_nExtra[1], 0);
}

TEST(BavdSave, RoundTripAtDefaultVersions)
{
    Bavd bavd;
    BuildTwoFieldsOneRecord(bavd);
    Bytes area(0x8000);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    Bavd back;
    ASSERT_EQ(back.LoadFromBuffer(area.data(), area.size()), 0);
    const BavdMediaHeader& m = back.GetMediaHeader();
    EXPECT_EQ(m._nFirstField, 4000u);
    EXPECT_EQ(m._nVideoStandard, 2);
    EXPECT_EQ(m._nRateSystem, 3);
    EXPECT_EQ(m._nAudioFormat, 2);
    EXPECT_EQ(m._nAspectRatio, 3);
    EXPECT_TRUE(m._bProgressive);
    EXPECT_FALSE(m._bFormatFlag);
    EXPECT_TRUE(m._bSimultaneous);
    EXPECT_EQ(m._nAudioGroupCount, 4);
    EXPECT_EQ(back.GetFieldOutExcluded(), 4002u);
    EXPECT_EQ(back.GetElemField(1)->_nExtra[1], 0xBEEF);
    const BavdElemRecord* r = back.GetElemRecord(0);
    EXPECT_EQ(r->_nDataOffset, 0x1000u);
    EXPECT_EQ(r->_nDataSize, 0x208u);
    EXPECT_EQ(r->_nWidth, 60);
    EXPECT_EQ(r->_nLineVariant, 0);
    EXPECT_EQ(r->_nChannelFlag, 1);
    EXPECT_EQ(back.GetRecordsPerField(), 1u);  // video format 64: one record, two fields
    EXPECT_EQ(back.GetFieldsPerRecord(), 2u);
}

TEST(BavdSave, VersionsAndTypes)
{
    Bavd bavd;
    ASSERT_EQ(bavd.SetBlockType(1), 0);
    EXPECT_EQ(bavd.SetHeaderVersion(257), 1);
    EXPECT_EQ(bavd.GetHeader()._nHeaderVersion, 258);
    Bytes area(0x8000);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 8);
    EXPECT_EQ(bavd.GetDataAreaSize(), 0x200000u - 2048);
    EXPECT_EQ(bavd.GetMaxElements(), 0u);

    EXPECT_EQ(bavd.SetBlockType(4), 2);
    EXPECT_EQ(bavd.GetBlockSize(), 0u);

    ASSERT_EQ(bavd.SetBlockType(2), 0);
    EXPECT_EQ(bavd.GetMaxElements(), 200u);
    EXPECT_EQ(bavd.GetDataAreaSize(), 0x200000u - 0x8000);
    ASSERT_EQ(bavd.SetHeaderVersion(300), 0);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    EXPECT_EQ(ReadBigEndian16(area.data() + 12), 258);
    ASSERT_EQ(bavd.SetHeaderVersion(600), 0);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 12);
    ASSERT_EQ(bavd.SetHeaderVersion(256), 0);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 11);
    ASSERT_EQ(bavd.SetHeaderVersion(258), 0);

    bavd.SetElemFieldCnt(201);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 17);
    bavd.SetElemFieldCnt(0);
    bavd.SetElemRecordCnt(201);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 18);
    bavd.SetElemRecordCnt(0);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), 7), 5);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), 70), 5);
    bavd.SetElemFieldCnt(200);
    EXPECT_EQ(bavd.SaveToBuffer(area.data(), 0x1000), 5);  // 200 fields need more than 4 KiB
    EXPECT_EQ(bavd.GetElemField(200), nullptr);
    EXPECT_NE(bavd.GetElemField(199), nullptr);
}

// Versions and areas of a saved header changed byte by byte, parsed again.
struct LoadCase {
    const char* pszName;
    size_t nAt;
    uint16_t nValue;  // written big-endian at nAt
    int nResult;
};

class BavdLoad : public testing::TestWithParam<LoadCase>
{
};

TEST_P(BavdLoad, Result)
{
    Bavd bavd;
    ASSERT_EQ(bavd.SetBlockType(2), 0);
    bavd.SetElemFieldCnt(200);
    bavd.SetElemRecordCnt(1);
    Bytes area(0x8000);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    const LoadCase& c = GetParam();
    testsupport::ByteWriter(area).Be16(c.nAt, c.nValue);
    Bavd back;
    EXPECT_EQ(back.LoadFromBuffer(area.data(), area.size()), c.nResult);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BavdLoad,
    testing::Values(LoadCase{"Saved", 0, 0x4241, 0}, LoadCase{"BootstrapVersion256", 4, 256, 11},
                    LoadCase{"BootstrapVersion512", 4, 512, 12}, LoadCase{"BootstrapVersion300", 4, 300, 0},
                    LoadCase{"MediaHeader14BytesAtVersion258", 24, 79, 5}, LoadCase{"HeaderVersion257", 12, 257, 0},
                    LoadCase{"FieldCount201", 26, 201, 17}, LoadCase{"RecordCount0", 36, 0, 0},
                    LoadCase{"RecordCount201", 36, 201, 18}, LoadCase{"FieldVersion300", 18, 300, 0},
                    LoadCase{"FieldVersion257", 18, 257, 0}, LoadCase{"RecordVersion255", 28, 255, 11}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.pszName); });

TEST(BavdLoad, ShortBuffers)
{
    Bavd bavd;
    ASSERT_EQ(bavd.SetBlockType(2), 0);
    bavd.SetElemFieldCnt(2);
    Bytes area(0x8000);
    ASSERT_EQ(bavd.SaveToBuffer(area.data(), area.size()), 0);
    for (size_t length : {0, 7, 8, 64, 79, 80, 157})
        EXPECT_EQ(Bavd().LoadFromBuffer(Bytes(area.begin(), area.begin() + length).data(), length), 5) << length;
    EXPECT_EQ(Bavd().LoadFromBuffer(area.data(), 158), 0);
}

}  // namespace
