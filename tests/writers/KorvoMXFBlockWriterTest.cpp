#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/ByteOrder.h"
#include "common/CLogManager.h"
#include "common/CTcConverter.h"
#include "serverblock/C2kBlockData.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/ServerBlock.h"
#include "support/ByteWriter.h"
#include "support/TestEnv.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"

namespace
{

using Bytes = std::vector<uint8_t>;
using testsupport::ByteWriter;

constexpr uint32_t k2MB = 0x200000;
constexpr uint32_t kTable = 0x1FF800;

// SD 625 at 25 Hz, video format 1, one channel, the given audio groups.
void ConfigureSd(KorvoMXFBlockWriter& writer, uint32_t audioGroups, bool twoFields)
{
    writer.SetStandard(3);
    writer.SetVideoSystem(2);
    writer.SetAspectRatio(2);
    writer.SetProgressive(false);
    writer.SetFormatFlag(false);
    writer.SetDualLink(false);
    writer.SetSimultaneousMode(false);
    writer.SetVideoFormat(1);
    writer.SetAudioFormat(1);
    writer.SetTableHeaderByte(0);
    writer.SetVideoChannelCount(1);
    writer.SetAudioGroupCount(audioGroups);
    writer.SetTwoFields(twoFields);
}

struct Picture {
    Bytes video;
    KorvoMXFVideoInfo info;
    Bytes audio;
    std::vector<KorvoMXFAudioInfo> audioInfo;
};

Picture MakePicture(uint32_t size, uint32_t width, uint32_t lines, uint32_t audioChunks, uint32_t audioBytes,
                    uint8_t seed)
{
    Picture p;
    p.video.resize(size);
    ByteWriter(p.video).Pattern(0, size, seed);
    p.info._nVideoFormat = 1;
    p.info._nSize = size;
    p.info._nWidth = width;
    p.info._nLines = lines;
    p.audio.resize(size_t{audioChunks} * audioBytes);
    ByteWriter(p.audio).Pattern(0, p.audio.size(), static_cast<uint8_t>(seed + 100));
    p.audioInfo.assign(audioChunks, KorvoMXFAudioInfo{1, audioBytes, 4 * audioBytes / 0x2E00});
    return p;
}

KorvoMXFResult Add(KorvoMXFBlockWriter& writer, const Picture& p)
{
    return writer.AddPicture(1, &p.info, p.video.data(), static_cast<uint32_t>(p.audioInfo.size()), p.audioInfo.data(),
                             p.audio.data(), 0, nullptr, nullptr);
}

// A fixed picture set written into a BAVD 2 MB block equals the block written byte by byte from the layout.
TEST(KorvoMXFBlockWriter, BavdBlockEqualsGoldenBytes)
{
    KorvoMXFBlockWriter writer;
    ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_BAVD_2MB), KORVOMXF_OK);
    ConfigureSd(writer, 1, false);
    ASSERT_EQ(writer.SetFirstField(1000), KORVOMXF_OK);
    Bytes block(k2MB);
    ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
    const Picture p0 = MakePicture(300, 720, 288, 1, 0x2E00, 1);
    const Picture p1 = MakePicture(200, 704, 288, 1, 0x2E00, 2);
    ASSERT_EQ(Add(writer, p0), KORVOMXF_OK);
    ASSERT_EQ(Add(writer, p1), KORVOMXF_OK);
    EXPECT_EQ(writer.GetBlockFieldCount(), 2u);

    Bytes golden(k2MB);
    ByteWriter w(golden);
    const uint8_t bootstrap[65] = {'B', 'A',  'V',  'D', 0x01, 0x01, 0, 0, 0x00, 0x20, 0x00, 0x00, 0x01, 0x02, 0,  0, 0,
                                   65,  0x01, 0x02, 0,   39,   0,    0, 0, 80,   0,    2,    0x01, 0x01, 0,    12, 0, 0,
                                   0,   158,  0,    2,   0,    0,    0, 0, 1,    0,    0,    0,    0,    0,    0,  0, 1,
                                   0,   0,    0,    0,   0,    0,    0, 1, 0,    0,    0,    0x80, 0,    2};
    std::memcpy(golden.data(), bootstrap, sizeof bootstrap);
    const uint8_t media[15] = {0, 0, 0x03, 0xE8, 0x11, 0x23, 0x02, 1, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(golden.data() + 65, media, sizeof media);
    // Field entries: generated timecodes 0 and 1; timecodes 2 and 3 carry the even field.
    w.Be32(80 + 39, 1);
    w.Be32(80 + 39 + 5, 1);
    // Picture entries: pictures downward from the block end, offsets from the end of the header area.
    const uint32_t top0 = k2MB - 384, top1 = top0 - 256;
    w.Be32(158, top0 - 0x8000);
    w.Be32(162, 304);
    w.U8(166, 23);
    w.Be32(170, top1 - 0x8000);
    w.Be32(174, 200);
    w.U8(178, 22);
    std::memcpy(golden.data() + top0, p0.video.data(), 300);
    std::memcpy(golden.data() + top1, p1.video.data(), 200);
    std::memcpy(golden.data() + 0x8000, p0.audio.data(), 0x2E00);
    std::memcpy(golden.data() + 0x8000 + 0x2E00, p1.audio.data(), 0x2E00);
    for (size_t i = 0; i < k2MB; ++i)
        ASSERT_EQ(block[i], golden[i]) << "byte " << i;
}

struct RoundTripCase {
    const char* pszName;
    uint32_t nBlockType;
    bool bDataBlocks;
};

class BlockRoundTrip : public testing::TestWithParam<RoundTripCase>
{
};

// Pictures written until the block is full parse back to the same pictures, timecodes and audio.
TEST_P(BlockRoundTrip, ParsesBackToWhatWasPut)
{
    const RoundTripCase& c = GetParam();
    KorvoMXFBlockWriter writer;
    ASSERT_EQ(writer.SetBlockType(c.nBlockType), KORVOMXF_OK);
    ConfigureSd(writer, 2, false);
    ASSERT_EQ(writer.SetFirstField(0x10000), KORVOMXF_OK);
    Bytes block(writer.GetBlockSize());
    ASSERT_EQ(writer.SetBlockBuffer(block.data(), static_cast<uint32_t>(block.size())), KORVOMXF_OK);

    std::vector<Picture> pictures;
    std::vector<Bytes> dataBlocks;
    for (uint32_t n = 0;; ++n) {
        Picture p = MakePicture(20000 + 333 * n, 720, 304, 1, 2 * 0x2E00, static_cast<uint8_t>(n));
        Bytes db(kKorvoMXFDataBlockSize);
        ByteWriter d(db);
        d.Le32(4, n % 2);
        d.U8(12, static_cast<uint8_t>(0x60 + n));
        d.U8(14, 0xAB);
        d.U8(15, 0xCD);
        d.Be32(16, 2 * (90000 + n));  // field identifier / first timecode
        d.U8(20, static_cast<uint8_t>(n));
        d.Be32(21, 2 * (90000 + n));
        d.Be32(27, 0x12345600 + n);
        d.Be32(31, 2 * (90000 + n));
        d.Be16(53, static_cast<uint16_t>(n));
        const uint32_t size = kKorvoMXFDataBlockSize;
        const KorvoMXFResult rc = c.bDataBlocks ? writer.AddPicture(1, &p.info, p.video.data(), 1, p.audioInfo.data(),
                                                                    p.audio.data(), 1, &size, db.data())
                                                : Add(writer, p);
        if (rc == KORVOMXF_ERR_INSUFFICIENT_BUFFER)
            break;
        ASSERT_EQ(rc, KORVOMXF_OK) << n;
        pictures.push_back(std::move(p));
        dataBlocks.push_back(std::move(db));
    }
    ASSERT_GT(pictures.size(), 1u);
    const uint32_t count = static_cast<uint32_t>(pictures.size());

    auto data = CreateBlockData(c.nBlockType == KORVOMXF_BLOCK_TBL2K_2MB ? 1 : 2, writer.GetBlockSize());
    ASSERT_EQ(data->SetBlock(block.data()), 0);
    EXPECT_EQ(data->GetFirstField(), 0x10000u);
    EXPECT_EQ(data->GetEndField(), 0x10000u + count);
    EXPECT_EQ(data->GetVideoFormat(), 1u);
    for (uint32_t n = 0; n < count; ++n) {
        uint32_t size = 0;
        const uint8_t* picture = data->GetFieldData(n, &size);
        ASSERT_NE(picture, nullptr);
        EXPECT_GE(size, pictures[n].video.size());
        EXPECT_EQ(0, memcmp(picture, pictures[n].video.data(), pictures[n].video.size())) << n;
    }
    EXPECT_EQ(data->GetFieldData(count, nullptr), nullptr);

    Bavd bavd;
    const bool is2k = c.nBlockType == KORVOMXF_BLOCK_TBL2K_2MB;
    ASSERT_EQ(is2k ? bavd.LoadFrom2kTable(block.data() + kTable, 2048) : bavd.LoadFromBuffer(block.data(), 0x8000), 0);
    const uint32_t unit = 2 * 0x2E00;
    CTcConverter tc;
    tc.SetMode(false, false);
    for (uint32_t n = 0; n < count; ++n) {
        const BavdElemField* f = bavd.GetElemField(n);
        const uint32_t t = c.bDataBlocks ? 2 * (90000 + n) : n;
        EXPECT_EQ(f->_nFieldId, t);
        EXPECT_EQ(f->_tc[0]._nField, t);
        EXPECT_EQ(f->_tc[1]._nField, t & ~1u);
        const BavdElemRecord* r = bavd.GetElemRecord(n);
        EXPECT_EQ(r->_nWidth, 23);
        EXPECT_EQ(r->_nLineVariant, 2);
        EXPECT_EQ(r->_nChannelFlag, c.bDataBlocks ? n % 2 : 0);
        EXPECT_EQ(r->_nChannelByte, c.bDataBlocks ? 0x60 + n : 0);
        if (c.bDataBlocks) {
            EXPECT_EQ(f->_tc[0]._nUserBits, 0x12345600 + n);
        }
        // Audio: 2kTable downward from the table as big-endian words, BAVD upward from the header area.
        Bytes audio(unit);
        if (is2k) {
            ByteSwap32Copy(block.data() + kTable - (n + 1) * unit, audio.data(), unit);
        } else {
            std::memcpy(audio.data(), block.data() + 0x8000 + n * unit, unit);
            EXPECT_EQ(f->_nExtra[1], c.bDataBlocks ? n : 0);
        }
        EXPECT_EQ(audio, pictures[n].audio) << n;
    }
    if (is2k) {
        // Timecode records end with two bytes of the data block.
        EXPECT_EQ(block[kTable + 844 + 26], c.bDataBlocks ? 0xAB : 0xFF);
        EXPECT_EQ(block[kTable + 844 + 27], c.bDataBlocks ? 0xCD : 0xFF);
        EXPECT_EQ(count, 41u);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockRoundTrip,
                         testing::Values(RoundTripCase{"Table2k", KORVOMXF_BLOCK_TBL2K_2MB, false},
                                         RoundTripCase{"Table2kWithDataBlocks", KORVOMXF_BLOCK_TBL2K_2MB, true},
                                         RoundTripCase{"Bavd2MB", KORVOMXF_BLOCK_BAVD_2MB, false},
                                         RoundTripCase{"Bavd8MBWithDataBlocks", KORVOMXF_BLOCK_BAVD_8MB, true}),
                         [](const testing::TestParamInfo<RoundTripCase>& info) {
                             return std::string(info.param.pszName);
                         });

TEST(KorvoMXFBlockWriter, Table2kEntryLimits)
{
    for (bool twoFields : {false, true}) {
        KorvoMXFBlockWriter writer;
        ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_TBL2K_2MB), KORVOMXF_OK);
        ConfigureSd(writer, 0, twoFields);
        Bytes block(k2MB);
        ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
        const Picture p = MakePicture(128, 720, 288, 0, 0, 1);
        uint32_t entries = 0;
        while (Add(writer, p) == KORVOMXF_OK)
            entries += twoFields ? 2 : 1;
        EXPECT_EQ(entries, twoFields ? 100u : 41u);
        EXPECT_EQ(block[kTable + 21], twoFields ? 1 : 2);
        EXPECT_EQ(block[kTable + 23], twoFields ? 0x09 : 0x01);
    }
}

TEST(KorvoMXFBlockWriter, Table2kWidthFlagAndSizeCodes)
{
    struct Case {
        uint32_t nWidth, nSize;
        uint8_t nFlags;
        uint16_t nSizeCode;
    };
    const Case cases[] = {
        {720, 1000, 0x00, 128}, {704, 1000, 0x10, 128}, {720, 0x7FFE0, 0x00, 0xFFFC}, {720, 0x7FFE1, 0x20, 0x2000}};
    for (const Case& c : cases) {
        KorvoMXFBlockWriter writer;
        ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_TBL2K_2MB), KORVOMXF_OK);
        ConfigureSd(writer, 0, false);
        Bytes block(k2MB);
        ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
        ASSERT_EQ(Add(writer, MakePicture(c.nSize, c.nWidth, 288, 0, 0, 1)), KORVOMXF_OK);
        EXPECT_EQ(block[kTable + 24 + 15], c.nFlags) << c.nWidth << " " << c.nSize;
        EXPECT_EQ(ReadBigEndian16(block.data() + kTable + 24 + 6), c.nSizeCode) << c.nSize;
    }
}

TEST(KorvoMXFBlockWriter, RefusedPictures)
{
    KorvoMXFBlockWriter writer;
    ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_BAVD_8MB), KORVOMXF_OK);
    Bytes block(0x800000);
    EXPECT_EQ(writer.SetBlockBuffer(block.data(), 0x7FFFFF), KORVOMXF_ERR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(writer.SetBlockBuffer(block.data(), 0x800000), KORVOMXF_OK);
    const Picture p = MakePicture(1000, 720, 288, 1, 0x2E00, 1);
    EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_INCOMPLETE_CONFIG);
    ConfigureSd(writer, 1, false);
    EXPECT_EQ(writer.SetFirstField(999), KORVOMXF_ERR_INVALID_FIELD_NUMBER);
    EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_INVALID_FIELD_NUMBER);
    ASSERT_EQ(writer.SetFirstField(1000), KORVOMXF_OK);
    EXPECT_EQ(writer.AddPicture(1, &p.info, p.video.data(), 0, nullptr, nullptr, 0, nullptr, nullptr),
              KORVOMXF_ERR_INVALID_PARAMETER);
    KorvoMXFAudioInfo wrongSize{1, 0x2600, 4};
    EXPECT_EQ(writer.AddPicture(1, &p.info, p.video.data(), 1, &wrongSize, p.audio.data(), 0, nullptr, nullptr),
              KORVOMXF_ERR_INVALID_PARAMETER);
    const uint32_t badSize = 67;
    Bytes db(68);
    EXPECT_EQ(
        writer.AddPicture(1, &p.info, p.video.data(), 1, p.audioInfo.data(), p.audio.data(), 1, &badSize, db.data()),
        KORVOMXF_ERR_INVALID_PARAMETER);
    Picture large = MakePicture(0x3FFFC1, 720, 288, 1, 0x2E00, 1);
    EXPECT_EQ(Add(writer, large), KORVOMXF_ERR_PICTURE_TOO_LARGE);
    writer.SetVideoSystem(4);
    writer.SetProgressive(true);
    EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_NOT_SUPPORTED);
    writer.SetVideoSystem(2);
    writer.SetProgressive(false);
    writer.SetDualLink(true);
    EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_NOT_SUPPORTED);
    writer.SetDualLink(false);
    writer.SetStandard(9);
    EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_UNSUCCESSFUL);
    writer.SetStandard(3);
    EXPECT_EQ(Add(writer, p), KORVOMXF_OK);
    EXPECT_EQ(writer.GetCurrentField(), 1001u);
    EXPECT_EQ(writer.SetBlockType(7), KORVOMXF_ERR_UNSUCCESSFUL);
    EXPECT_EQ(writer.SetBavdHeaderVersion(257), KORVOMXF_ERR_UNSUCCESSFUL);
}

TEST(KorvoMXFBlockWriter, Format2MetadataChunksStayAsTheyAre)
{
    KorvoMXFBlockWriter writer;
    ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_TBL2K_2MB), KORVOMXF_OK);
    ConfigureSd(writer, 0, false);
    writer.SetVideoSystem(4);  // format 2 is an HD format
    writer.SetVideoFormat(2);
    Bytes block(k2MB);
    ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
    Picture p = MakePicture(512, 1920, 544, 0, 0, 1);
    p.info._nVideoFormat = 2;
    const uint8_t marker[8] = {0xFF, 0xFE, 0xFD, 0xFC, 0, 0, 0, 2};  // one chunk of 256 bytes
    std::memcpy(p.video.data(), marker, 8);
    ASSERT_EQ(Add(writer, p), KORVOMXF_OK);
    EXPECT_EQ(0, memcmp(block.data(), p.video.data(), 256));
    Bytes swapped(256);
    ByteSwap32Copy(p.video.data() + 256, swapped.data(), 256);
    EXPECT_EQ(0, memcmp(block.data() + 256, swapped.data(), 256));

    // A chunk of no length, or longer than its element, is refused.
    for (uint8_t length : {0, 5}) {
        p.video[7] = length;
        EXPECT_EQ(Add(writer, p), KORVOMXF_ERR_INVALID_DATA) << int(length);
    }
}

TEST(KorvoMXFBlockWriter, GeneratedTimecodesWrapAtTheDay)
{
    struct Case {
        uint32_t nStandard, nPerDay, nMark;
    };
    for (const Case& c : {Case{3, 4320000, 0}, Case{5, 5184000, 0x80000000}}) {
        // Two-field pictures in 2kTable blocks: the cheapest way through a day of fields.
        KorvoMXFBlockWriter writer;
        ASSERT_EQ(writer.SetBlockType(KORVOMXF_BLOCK_TBL2K_2MB), KORVOMXF_OK);
        writer.SetStandard(c.nStandard);  // the first standard set fixes the rate class
        ConfigureSd(writer, 0, true);
        writer.SetStandard(c.nStandard);
        Bytes block(k2MB);
        const Picture p = MakePicture(8, 720, 288, 0, 0, 1);
        ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
        uint32_t written = 0;
        while (written < c.nPerDay + 2) {
            const KorvoMXFResult rc = Add(writer, p);
            if (rc == KORVOMXF_ERR_INSUFFICIENT_BUFFER) {
                ASSERT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_OK);
                continue;
            }
            ASSERT_EQ(rc, KORVOMXF_OK);
            written += 2;
        }
        const uint32_t fields =
            ReadLittleEndian32(block.data() + kTable + 4) - ReadLittleEndian32(block.data() + kTable);
        EXPECT_EQ(ReadBigEndian32(block.data() + kTable + 24 + 20 * (fields - 1) + 8), 1u | c.nMark);
    }
}

TEST(KorvoMXFBlockWriter, MessagesGoToTheDefaultLog)
{
    const std::filesystem::path path = testsupport::TestRoot() / "blockwriter.log";
    ASSERT_EQ(theLogManager.OpenLog(path.string(), 1 << 20, ""), 1);
    KorvoMXFBlockWriter writer;
    EXPECT_EQ(writer.SetBlockType(9), KORVOMXF_ERR_UNSUCCESSFUL);
    Bytes block(k2MB);
    EXPECT_EQ(writer.SetBlockBuffer(block.data(), k2MB), KORVOMXF_ERR_UNSUCCESSFUL);
    ASSERT_EQ(theLogManager.CloseLog(""), 1);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_NE(text.str().find("(KorvoMXFBlockWriter::SetBlockType) Block type not supported"), std::string::npos);
    EXPECT_NE(text.str().find("(KorvoMXFBlockWriter::SetBlockBuffer) Block type not specified"), std::string::npos);
}

TEST(KorvoMXFErrorText, Texts)
{
    EXPECT_STREQ(KorvoMXFErrorText(0), "Successful");
    EXPECT_STREQ(KorvoMXFErrorText(0x8400001A), "TcDate error");
    EXPECT_STREQ(KorvoMXFErrorText(KORVOMXF_ERR_INSUFFICIENT_BUFFER), "Insufficient buffer size");
    for (KorvoMXFResult unknown : {0x8400001Bu, 0x8400001Eu, 0x84000000u, 0x85000001u})
        EXPECT_STREQ(KorvoMXFErrorText(unknown), "Unknown KorvoMXF error");
}

}  // namespace
