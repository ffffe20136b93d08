// The clip-file reader on files written byte by byte from the layout tables, whole and damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/MXFId.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "support/FileTestKit.h"
#include "tests/reading/ParvexGolden.h"

namespace
{

using namespace parvextest;
namespace fs = std::filesystem;

std::string WriteFile(const std::string& name, const Bytes& bytes)
{
    const fs::path path = testsupport::TestRoot() / (name + ".mxf");
    testsupport::WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path.string();
}

struct ReadResult {
    int32_t nResult = -100;
    int nFooterFound = -1;
};

ReadResult Read(const std::string& path, CMXF_Parvex_ClipInfo& info, uint32_t readFooter = 1)
{
    CMXF_Parvex_FileReader reader("");
    ReadResult r;
    if (reader.Open(path) != 0)
        return r;
    r.nResult = reader.GetHeaderData(&info, readFooter, &r.nFooterFound);
    reader.Close();
    return r;
}

TEST(CMXF_Parvex_FileReader, GoldenFileReadsBackItsClipInfoIndexAndThumbnails)
{
    const GoldenFile g = MakeGoldenFile();
    const std::string path = WriteFile("golden", g.bytes);
    CMXF_Parvex_ClipInfo info;
    const ReadResult r = Read(path, info);
    ASSERT_EQ(r.nResult, 0);
    EXPECT_EQ(r.nFooterFound, 1);

    EXPECT_EQ(info._qwFooterOffset, kGoldenFooter);
    EXPECT_EQ(info._szMaterialId, "0123ABCD");
    EXPECT_EQ(info._szClipId, "0123ABCD");
    EXPECT_EQ(info._nIn, 2000u);
    EXPECT_EQ(info._nOut, 2300u);
    EXPECT_EQ(info._nAudioGroups, 2u);
    EXPECT_EQ(info._nVideoFormat, 0x13033100u);
    EXPECT_EQ(info._nStandardAndSystem, 0x13);
    EXPECT_EQ(info.GetStandardString(), "SD_625 sys_25 (PAL)");
    EXPECT_EQ(info._nSystem, 3u);
    EXPECT_EQ(info._n2KTableVersion, 7u);
    EXPECT_EQ(info._nBitrate, 50u);
    EXPECT_EQ(info._nVideos, 1u);
    EXPECT_EQ(info._nAudioType, 3u);  // from the status word, as the file gave none
    EXPECT_EQ(info._qwCreationTimeGMT, 1700000000);
    EXPECT_EQ(info._nTimeZone, -2);
    EXPECT_EQ(info._qwLocalCreationTime, 1700000000 - 7200);
    EXPECT_EQ(info._nBlockSize, kGoldenBlock);
    EXPECT_EQ(info._nBlockType, 3u);
    EXPECT_EQ(info._nVideoCodec, 4u);
    EXPECT_EQ(info.GetVideoCodecString(), "IMX 50");
    EXPECT_EQ(info._nSimultaneous, 1u);
    EXPECT_EQ(info._qwSessionDate, 1600000000);
    EXPECT_EQ(info._szSessionDate, "1 May 2020");
    EXPECT_EQ(info._szSessionName, "sess");
    EXPECT_EQ(info._szSessionSport, "sport");
    EXPECT_EQ(info._szSessionTeamA, "team A");
    EXPECT_EQ(info._szSessionTeamB, "session team B");  // not in the file: the default label stays
    EXPECT_EQ(info._qwBackupCompletionTime, 1650000000);
    EXPECT_EQ(info._nSessionKeywords, 4u);
    EXPECT_EQ(info._szSessionKeywords[3], "s4");

    // The file's own clip, also copied into the info.
    ASSERT_EQ(info.GetClipCount(), 2u);
    const CMXF_Parvex_ClipDescriptor& head = *info.GetFirstClip();
    EXPECT_EQ(head._szClipId, "0123ABCD");
    EXPECT_EQ(head._szClipName, "First clip");
    EXPECT_EQ(info._szClipName, "First clip");
    EXPECT_EQ(head._nNumClip, 0x2345);
    EXPECT_EQ(head._cCamera, 'C');
    EXPECT_EQ(head._nNumMachine, 5);
    EXPECT_EQ(head._cCameraPref, 'D');
    EXPECT_EQ(head._nShortIn, 2010u);
    EXPECT_EQ(head._nShortOut, 2290u);
    EXPECT_EQ(head._nShortRef, 2150u);  // the middle, as the file gives none
    EXPECT_EQ(head._nOffsetTC, 90000u);
    EXPECT_EQ(head._szServerName, "server");
    EXPECT_EQ(head._nStatus, 0x2C05);
    EXPECT_EQ(head._nQuality, 1);
    EXPECT_EQ(head.GetRating(), 1);
    EXPECT_EQ(head._nFileStatus, 2);
    EXPECT_EQ(head._nSession, 0x0001811Eu);
    EXPECT_EQ(head._nUnicodeFlag, 1u);
    EXPECT_EQ(head._nFillAndKeyType, 2u);
    EXPECT_EQ(head._szFillAndKey, "FKpart");
    EXPECT_EQ(head._szClipIdSrc, "SRCID001");
    EXPECT_EQ(head._szClipNameSrc, "src name");
    EXPECT_EQ(head._aUserBits[7], 8);
    EXPECT_TRUE(head._bWideClipName);
    EXPECT_EQ(0, std::memcmp(head._aWideClipName, kWideName.data(), kWideName.size()));
    EXPECT_EQ(head._aWideClipName[kWideName.size()], 0);
    EXPECT_EQ(head._szVarId, "VAR");
    EXPECT_EQ(head._nSerTCVersion, 0);
    EXPECT_TRUE(head.HasUserTimecode());
    EXPECT_EQ(0, std::memcmp(head._aSerTCUsr, kUserTc.data(), 8));
    EXPECT_EQ(head._nTCSystem, 3u);  // the file's, as the clip gives none
    MXFIdType1 id;
    id.Parse("0123ABCD");
    EXPECT_EQ(head._nMchSerialNb, static_cast<uint16_t>(id.GetSerial() * 10));
    const char* keywords[] = {"k1", "k2", "k3", "k4", "k5"};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(head._szKeywords[k], keywords[k]);
    EXPECT_FALSE(head._bKeywordWide[0]);  // an empty wide entry leaves the keyword as it is
    EXPECT_TRUE(head._bKeywordWide[1]);
    EXPECT_EQ(head._aKeywordWide[1][0], 'w');
    const CMXF_Parvex_ClipDescriptor& sub = *head._pNext;
    EXPECT_EQ(sub._szClipId, "SUB00002");
    EXPECT_EQ(sub._szClipName, "second");
    EXPECT_EQ(sub._nShortIn, 3000u);
    EXPECT_EQ(sub._nListNumber, 1u);
    EXPECT_EQ(info._nShortIn, 2010u);

    // The index: three blocks of one big block; the bytes beyond 12 of each descriptor are skipped.
    EXPECT_EQ(info._nBlocks, 3u);
    EXPECT_EQ(info._nFileFieldIn, 2000u);
    EXPECT_EQ(info._nFileFieldOutExcluded, 2300u);
    const struct {
        uint32_t nField;
        int32_t nBlock;
        uint32_t nFirst;
        uint64_t qwPos;
    } fields[] = {{1999, -1, 0, 0},          {2000, 0, 2000, 0x200000}, {2099, 0, 2000, 0x200000},
                  {2100, 1, 2100, 0x201000}, {2250, 2, 2200, 0x202000}, {2299, 2, 2200, 0x202000},
                  {2300, -1, 0, 0}};
    for (const auto& f : fields) {
        int32_t block = -2;
        uint32_t first = 1;
        uint64_t pos = 1;
        EXPECT_EQ(info.GetBlockFromField(f.nField, &block, &first, &pos), f.nBlock) << f.nField;
        EXPECT_EQ(block, f.nBlock);
        EXPECT_EQ(first, f.nFirst);
        EXPECT_EQ(pos, f.qwPos);
    }

    // Thumbnails: sizes and fields from the footer, pixels read from where the footer keeps them.
    const CMXF_Parvex_Thumbnail& in = info._aThumbnails[CMXF_Parvex_ClipInfo::kThumbIn];
    EXPECT_EQ(in._nCx, 2);
    EXPECT_EQ(in._nCy, 1);
    EXPECT_EQ(in._nField, 2010u);
    EXPECT_EQ(info._aThumbnails[CMXF_Parvex_ClipInfo::kThumbRef]._qwFilePos, 0u);
    ASSERT_EQ(info.Load_Thumbnails(path), 0);
    EXPECT_EQ(in._pPixels, kThumbInPixels);
    EXPECT_EQ(info._aThumbnails[CMXF_Parvex_ClipInfo::kThumbOut]._pPixels, (Bytes{9, 8, 7}));
}

TEST(CMXF_Parvex_FileReader, FooterAloneAndIndexLoadedOnDemand)
{
    const std::string path = WriteFile("golden-footer", MakeGoldenFile().bytes);
    CMXF_Parvex_FileReader reader("");
    ASSERT_EQ(reader.Open(path), 0u);
    CMXF_Parvex_ClipInfo footerOnly;
    EXPECT_EQ(reader.GetFooterData(&footerOnly), 0);
    EXPECT_EQ(footerOnly.GetBlockCount(), 3u);
    EXPECT_TRUE(footerOnly._szMaterialId.empty());
    uint64_t essence = 0, footer = 0;
    EXPECT_EQ(reader.GetFileInfo(&essence, &footer), 2u);  // this file has no essence item
    reader.Close();

    // Header only: the index is loaded from the named file when a field is asked for.
    CMXF_Parvex_ClipInfo info;
    EXPECT_EQ(Read(path, info, 0).nResult, 0);
    EXPECT_EQ(info.GetBlockCount(), 0u);
    info._szFileNames[1] = path;
    EXPECT_EQ(info.GetBlockFromField(2150), 1);
}

// Files changed from the golden one, each with the result it must give.
struct Damage {
    const char* pszName;
    std::function<void(GoldenFile&)> change;
    int32_t nResult;
    int nFooterFound;
};

void Put(Bytes& b, size_t at, const Bytes& v)
{
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

class CMXF_Parvex_FileReaderDamage : public ::testing::TestWithParam<Damage>
{
};

TEST_P(CMXF_Parvex_FileReaderDamage, RefusedWithAClearResult)
{
    GoldenFile g = MakeGoldenFile();
    GetParam().change(g);
    const std::string path = WriteFile(std::string("damage-") + GetParam().pszName, g.bytes);
    CMXF_Parvex_ClipInfo info;
    const ReadResult r = Read(path, info);
    EXPECT_EQ(r.nResult, GetParam().nResult);
    EXPECT_EQ(r.nFooterFound, GetParam().nFooterFound);
    // Whatever index is left answers without reading past it.
    for (uint32_t f = 1990; f < 2310; f += 7)
        info.GetBlockFromField(f);
    if (r.nFooterFound != 1)
        EXPECT_EQ(info.GetBlockCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CMXF_Parvex_FileReaderDamage,
    ::testing::Values(
        Damage{"Truncated64k", [](GoldenFile& g) { g.bytes.resize(0xFFFF); }, 1, 0},
        Damage{"BodyPartitionFirst", [](GoldenFile& g) { g.bytes[13] = 0x03; }, 2, 0},
        Damage{"PartitionLengthPastBuffer",
               [](GoldenFile& g) {
                   Put(g.bytes, 16, {0x84, 0x7F, 0, 0, 0});
               },
               6, 0},
        Damage{"FillLengthIntoPrimer", [](GoldenFile& g) { Put(g.bytes, g.nFill + 16, {0x7F}); }, 5, 1},
        Damage{"FillLengthHuge",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nFill + 16, {0x84, 0xFF, 0xFF, 0xFF, 0xF0});
               },
               6, 0},
        Damage{"FillKeyEighthByte02",
               [](GoldenFile& g) { g.bytes[g.nFill + 7] = 0x02; },  // not a fill: no primer found, no clip id
               5, 1},
        Damage{"PrimerLengthHuge",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nPrimer + 16, {0x82, 0xFF, 0xFF});
               },
               3, 1},
        Damage{"PrimerLengthPastHeaderArea",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nPrimer + 16, {0x84, 0x00, 0x20, 0x00, 0x00});
               },
               6, 0},
        Damage{"BerLengthOfFiveBytes", [](GoldenFile& g) { g.bytes[g.nPrimer + 16] = 0x85; }, 6, 0},
        Damage{"SetLengthPastHeaderArea",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nSet + 16, {0x83, 0x20, 0x00, 0x00});
               },
               6, 0},
        Damage{"NoPrimer", [](GoldenFile& g) { g.bytes[g.nPrimer + 13] = 0x06; }, 5, 1},
        Damage{"NoSetAfterPrimer", [](GoldenFile& g) { g.bytes[g.nSet + 13] = 0x06; }, 3, 1},
        Damage{"SignatureOneCharacterOff", [](GoldenFile& g) { g.bytes[g.nSignature + 4 + 8] = 'y'; }, 4, 1},
        Damage{"SignatureLength8",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nSignature + 2, {0, 8});
               },
               4, 1},
        Damage{"SignatureLength10",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nSignature + 2, {0, 10});
               },
               4, 1},
        Damage{"FooterCutBeforeItsSet", [](GoldenFile& g) { g.bytes.resize(g.nFooter + 600); }, 0, 0},
        Damage{"FooterCutInTheIndex", [](GoldenFile& g) { g.bytes.resize(g.nBigBlock + 30); }, 6, 0},
        Damage{"FooterPrimerLengthHuge",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nFooterPrimer + 16, {0x83, 0x7F, 0, 0});
               },
               6, 0},
        Damage{"FooterSetLengthHuge",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nFooterSet + 16, {0x84, 0xFF, 0xFF, 0xFF, 0xFF});
               },
               6, 0},
        Damage{"IndexCount257",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nBigBlock + 4 + 8, {0x01, 0x01});
               },
               6, 0},
        Damage{"IndexDescriptorLength11",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nBigBlock + 4 + 10, {0, 11});
               },
               6, 0},
        Damage{"IndexDescriptorsPastItem",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nBigBlock + 4 + 10, {0, 17});
               },
               6, 0},
        Damage{"IndexItemShorterThanItsHead",
               [](GoldenFile& g) {
                   Put(g.bytes, g.nBigBlock + 2, {0, 8});
               },
               6, 0},
        Damage{"IndexWithoutSpan",
               [](GoldenFile& g) {
                   // Three blocks in one field: the mean block span is below one field.
                   Put(g.bytes, g.nBigBlock + 4, {0, 0, 0x07, 0xD0, 0, 0, 0x07, 0xD1});
                   for (int d = 0; d < 3; ++d)
                       Put(g.bytes, g.nBigBlock + 16 + 16 * d, {0, 0, 0x07, 0xD0});
               },
               0, 1},
        Damage{"FooterOffsetPastTheFile",
               [](GoldenFile& g) {
                   Put(g.bytes, 21 + 24, {0, 0, 0, 1, 0, 0, 0, 0});
               },
               0, 0}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.pszName; });

TEST(CMXF_Parvex_FileReader, ClipIdRules)
{
    auto build = [](const Bytes& items) {
        Bytes set;
        Signature(set);
        Append(set, items);
        Bytes b = Klv(kHeaderKey, PartitionValue(0, 0), 3);
        Append(b, Klv(kPrimerKey, PrimerValue({0x8001}), 2));
        Append(b, Klv(kSetKey, set, 3));
        b.resize(0x20000, 0);
        return b;
    };
    const struct {
        const char* pszName;
        Bytes items;
        int32_t nResult;
        const char* pszMaterial;
    } cases[] = {
        {"id-only", Bytes{0x81, 0x01, 0, 8, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, 0, "ABCDEFGH"},
        {"blank-id", Bytes{0x81, 0x01, 0, 4, ' ', ' ', ' ', ' '}, 5, ""},
        {"no-id", Bytes{0x81, 0x06, 0, 4, 0, 0, 0, 1}, 0, "no UmID found in file"},
    };
    for (const auto& c : cases) {
        CMXF_Parvex_ClipInfo info;
        EXPECT_EQ(Read(WriteFile(std::string("ids-") + c.pszName, build(c.items)), info, 0).nResult, c.nResult)
            << c.pszName;
        EXPECT_EQ(info._szMaterialId, c.pszMaterial) << c.pszName;
    }
    // A header-only file has no footer to read.
    CMXF_Parvex_FileReader reader("");
    ASSERT_EQ(reader.Open(WriteFile("ids-footer", build(cases[0].items))), 0u);
    CMXF_Parvex_ClipInfo info;
    EXPECT_EQ(reader.GetFooterData(&info), 5);
}

}  // namespace
