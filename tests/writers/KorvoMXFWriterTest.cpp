// Clips written by the clip-file writer read back by the clip-file reader with every field equal, and the block
// index finds the right block for every field.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "common/TcDate.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/MXFId.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "support/FileTestKit.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace
{

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

struct WriteCase {
    const char* pszName;
    uint32_t nBlockFormat;
    int nVideoSystem;  // 1 525, 2 625, 3 720, 4 1080
    int nStandard;
    int nVideoFormat;
    int nBitrate;
    uint8_t nAudioGroups;
    int bTwoFields;
    uint32_t nPictures;
    uint32_t nPictureSize;
    uint32_t nClips;
    uint32_t nExpectedCodec;
};

// A material id of kind 2 for a known creation time.
std::string MaterialId(uint32_t serial, uint32_t seconds, uint32_t counter)
{
    MXFIdType2 id;
    id.SetSerial(serial);
    id.SetSeconds(seconds);
    id.SetCounter(counter);
    char text[9];
    return id.Format(text);
}

uint32_t FieldsPerPicture(const WriteCase& c)
{
    return (c.nVideoFormat == 4 || c.nVideoFormat == 8 || c.nVideoFormat == 9 || c.bTwoFields) ? 2 : 1;
}

KorvoMXFClip MakeClip(uint32_t n, const std::string& umid, uint32_t first, uint32_t out)
{
    KorvoMXFClip clip;
    clip.SetUmId(umid.c_str());
    clip._nClipNumber = static_cast<uint16_t>(100 + n);
    clip._cCamera = static_cast<uint8_t>('A' + n % 6);
    clip._nMachineNumber = static_cast<uint16_t>(n + 1);
    clip._cCameraPref = static_cast<uint8_t>('B');
    clip._nShortIn = first + n;
    clip._nShortOut = out - n;
    clip._nShortRef = n % 2 ? first + 2 * n : 0;
    clip._nOffset = 90000 + n;
    clip._nTCSystem = 3;
    clip._nQuality = static_cast<uint16_t>(n % 4);
    clip._nSession = 7 + n;
    clip._nFillAndKeyType = static_cast<uint8_t>(n % 3);
    clip._nUserTCType = 1;
    clip.SetName(("clip name " + std::to_string(n)).c_str());
    clip.SetServerName("rix-server-01");
    clip.SetClipIdSource("SRC00001");
    clip.SetClipNameSource("camera label");
    clip.SetFillAndKey("FK000001");
    for (uint32_t k = 0; k < KorvoMXFClip::kKeywords; ++k)
        clip.SetKeyword(k, ("kw" + std::to_string(n) + "-" + std::to_string(k)).c_str());
    for (uint8_t i = 0; i < 8; ++i)
        clip._aUserBits[i] = static_cast<uint8_t>(0x10 * n + i);
    if (n % 2 == 0) {
        const uint8_t varId[5] = {'V', 'A', 'R', '0', static_cast<uint8_t>('0' + n % 10)};
        clip.SetVarId(varId, 5, false);
    } else {
        uint8_t varId[KorvoMXFClip::kVarIdSize];
        for (uint8_t i = 0; i < sizeof varId; ++i)
            varId[i] = static_cast<uint8_t>(0xF0 ^ i);
        clip.SetVarId(varId, 20, true);
    }
    return clip;
}

// A picture of the case's format: video elements of known bytes, silent-looking but distinct audio.
struct Picture {
    KorvoMXFVideoInfo video;
    Bytes videoData;
    std::vector<KorvoMXFAudioInfo> audio;
    Bytes audioData;
};

Picture MakePicture(const WriteCase& c, uint32_t index)
{
    Picture p;
    p.video._nVideoFormat = static_cast<uint32_t>(c.nVideoFormat);
    p.video._nSize = c.nPictureSize - (index % 7) * 8;
    p.video._nWidth = c.nVideoSystem >= 3 ? 1920 : 720;
    p.video._nLines = c.nVideoSystem == 1 ? 480 : c.nVideoSystem == 2 ? 576 : c.nVideoSystem == 3 ? 720 : 1080;
    p.videoData.resize(p.video._nSize);
    for (size_t i = 0; i < p.videoData.size(); ++i)
        p.videoData[i] = static_cast<uint8_t>(index * 31 + i);
    if (c.nAudioGroups) {
        const uint32_t perGroup = (c.nStandard == 3 || c.nStandard == 6) ? 0x2E00 : 0x2600;
        const uint32_t chunk = perGroup * c.nAudioGroups;
        p.audio.assign(FieldsPerPicture(c), KorvoMXFAudioInfo{1, chunk, 4u * c.nAudioGroups});
        p.audioData.assign(size_t{chunk} * p.audio.size(), static_cast<uint8_t>(index));
    }
    return p;
}

void CheckRoundTrip(const WriteCase& c, const std::string& folder)
{
    const fs::path dir = testsupport::FreshDir(folder + c.pszName);
    const std::string path = (dir / "clip.mxf").string();
    const uint32_t first = 1000 + 25 * 3600 * 2;
    const uint32_t fields = c.nPictures * FieldsPerPicture(c);
    const std::string material = MaterialId(1234, 500000000, 1);

    KorvoMXFInfo info;
    info._nStandard = c.nStandard;
    info._nVideoSystem = c.nVideoSystem;
    info._nAspectRatio = 3;
    info._nVideoFormat = c.nVideoFormat;
    info._nAudioFormat = 1;
    info._nAudioGroups = c.nAudioGroups;
    info._nAudioType = 2;
    info._bTwoFields = c.bTwoFields;
    info._nBitrate = c.nBitrate;
    info._nFirstField = first;
    info._nOutField = first + fields;
    info._nSessionDate = 1700000000;
    info.SetMaterialId(material.c_str());
    const char* texts[] = {"12 March 2024", "final", "football", "cup", "quarter", "stadium", "home", "away"};
    for (int i = 0; i < KorvoMXFInfo::kSessionTextCount; ++i)
        info._szSessionTexts[i] = texts[i];
    info.AddKeyword("goal");
    info.AddKeyword("replay");
    std::vector<KorvoMXFClip> clips;
    for (uint32_t n = 0; n < c.nClips; ++n) {
        // The first clip is the material's own; the others are sub-clips with ids of their own.
        const std::string umid = n == 0 ? material : MaterialId(77, 1000 + n, n % 4);
        clips.push_back(MakeClip(n, umid, first, first + fields));
    }
    clips[0].SetWideName(u"\u00C7lip \u00FCnic\u00F6de");
    clips[0].SetWideKeyword(1, u"\u00E9t\u00E9");
    clips[0]._nPrimaryTC = 1;
    TcDate user(0, 2024, 3, 12, 10, 11, 12, 13, 1);
    uint8_t packed[8];
    ASSERT_EQ(user.Pack(false, packed), TcDate::kPackedSize);
    clips[0].SetTime(KorvoMXFClip::kTimeUser, packed);
    if (c.nClips > 1)
        clips[1].SetWideClipNameSource(u"source \u00E0");
    for (const KorvoMXFClip& clip : clips)
        ASSERT_EQ(info.AddClip(clip), KORVOMXF_OK);

    {
        KorvoMXFWriter writer;
        ASSERT_EQ(writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, c.nBlockFormat), KORVOMXF_OK);
        ASSERT_EQ(writer.SetInfo(info), KORVOMXF_OK);
        ASSERT_EQ(writer.SetFirstField(first), KORVOMXF_OK);
        for (uint32_t i = 0; i < c.nPictures; ++i) {
            const Picture p = MakePicture(c, i);
            ASSERT_EQ(writer.AddPicture(1, &p.video, p.videoData.data(), static_cast<uint32_t>(p.audio.size()),
                                        p.audio.data(), p.audioData.data(), 0, nullptr, nullptr),
                      KORVOMXF_OK)
                << "picture " << i;
        }
        // The sender sets the info again before it closes.
        ASSERT_EQ(writer.SetInfo(info), KORVOMXF_OK);
        ASSERT_EQ(writer.Close(), KORVOMXF_OK);
    }

    CMXF_Parvex_FileReader reader("");
    ASSERT_EQ(reader.Open(path), 0u);
    CMXF_Parvex_ClipInfo read;
    int indexed = 0;
    ASSERT_EQ(reader.GetHeaderData(&read, 1, &indexed), 0);
    EXPECT_EQ(indexed, 1);
    uint64_t essence = 0, footer = 0;
    ASSERT_EQ(reader.GetFileInfo(&essence, &footer), 0u);
    reader.Close();

    const uint32_t blockSize =
        c.nBlockFormat == KORVOMXF_FORMAT_TBL2K_2MB || c.nBlockFormat == KORVOMXF_FORMAT_BAVD_2MB ? 0x200000 : 0x800000;
    const uint32_t blockType = c.nBlockFormat == KORVOMXF_FORMAT_TBL2K_2MB  ? 1
                               : c.nBlockFormat == KORVOMXF_FORMAT_BAVD_2MB ? 2
                                                                            : 3;
    EXPECT_EQ(read._szMaterialId, material);
    EXPECT_EQ(read._szClipId, material);
    EXPECT_EQ(read._nIn, first);
    EXPECT_EQ(read._nOut, first + fields);
    EXPECT_EQ(read._nAudioGroups, c.nAudioGroups);
    EXPECT_EQ(read._nAudioType, 2u);
    EXPECT_EQ(read._nVideos, 1u);
    EXPECT_EQ(read._nBitrate, static_cast<uint32_t>(c.nBitrate));
    EXPECT_EQ(read._nSystem, static_cast<uint32_t>(c.nStandard));
    EXPECT_EQ(read._nVideoCodec, c.nExpectedCodec);
    EXPECT_EQ(read._nVideoFormat >> 24, static_cast<uint32_t>((c.nVideoSystem - 1) << 4 | c.nStandard));
    EXPECT_EQ((read._nVideoFormat >> 16) & 0xF, 3u);
    EXPECT_EQ(read._nStandardAndSystem, read._nVideoFormat >> 24);
    EXPECT_EQ(read._n2KTableVersion, 0u);
    EXPECT_EQ(read._nBlockSize, blockSize);
    EXPECT_EQ(read._nBlockType, blockType);
    EXPECT_EQ(read._qwLocalCreationTime, MXFIdToTime(material.c_str()));
    EXPECT_EQ(read._qwLocalCreationTime, read._qwCreationTimeGMT + int64_t{read._nTimeZone} * 3600);
    EXPECT_EQ(read._qwSessionDate, 1700000000);
    EXPECT_EQ(read._szSessionDate, texts[0]);
    EXPECT_EQ(read._szSessionName, texts[1]);
    EXPECT_EQ(read._szSessionSport, texts[2]);
    EXPECT_EQ(read._szSessionCompetition, texts[3]);
    EXPECT_EQ(read._szSessionCompetitionLevel, texts[4]);
    EXPECT_EQ(read._szSessionLocation, texts[5]);
    EXPECT_EQ(read._szSessionTeamA, texts[6]);
    EXPECT_EQ(read._szSessionTeamB, texts[7]);
    EXPECT_EQ(read._nSessionKeywords, 4u);
    EXPECT_EQ(read._szSessionKeywords[0], "goal");
    EXPECT_EQ(read._szSessionKeywords[1], "replay");
    EXPECT_EQ(read._szSessionKeywords[2], "");

    // Clips, in the order written, each with every field it was given.
    ASSERT_EQ(read.GetClipCount(), c.nClips);
    uint32_t n = 0;
    for (const CMXF_Parvex_ClipDescriptor* d = read.GetFirstClip(); d; d = d->_pNext, ++n) {
        SCOPED_TRACE("clip " + std::to_string(n));
        ASSERT_LT(n, c.nClips);
        const KorvoMXFClip& k = clips[n];
        EXPECT_EQ(d->_szClipId, std::string(k._szUmId));
        EXPECT_EQ(d->_szClipName, k._szName);
        EXPECT_EQ(d->_nNumClip, k._nClipNumber);
        EXPECT_EQ(d->_cCamera, k._cCamera);
        EXPECT_EQ(d->_nNumMachine, k._nMachineNumber);
        EXPECT_EQ(d->_cCameraPref, k._cCameraPref);
        EXPECT_EQ(d->_nShortIn, k._nShortIn);
        EXPECT_EQ(d->_nShortOut, k._nShortOut);
        // The head clip without a reference point gets the middle of its range.
        EXPECT_EQ(d->_nShortRef, n == 0 ? k._nShortIn + (k._nShortOut - k._nShortIn) / 2 : k._nShortRef);
        EXPECT_EQ(d->_nOffsetTC, k._nOffset);
        EXPECT_EQ(d->_nTCSystem, k._nTCSystem);
        EXPECT_EQ(d->_nQuality, k._nQuality);
        EXPECT_EQ(d->_nStatus, ((k._nQuality & 3u) << 2 | 2u) << 10);
        EXPECT_EQ(d->_nSession, k._nSession);
        EXPECT_EQ(d->_nFillAndKeyType, k._nFillAndKeyType);
        EXPECT_EQ(d->_szServerName, k._szServerName);
        EXPECT_EQ(d->_szClipIdSrc, "SRC00001");
        EXPECT_EQ(d->_szClipNameSrc, "camera label");
        EXPECT_EQ(d->GetCameraLabel(), "camera label");
        EXPECT_EQ(d->_szFillAndKey, "FK000001");
        EXPECT_EQ(d->_nFileIn, first);
        EXPECT_EQ(d->_nFileOut, first + fields);
        EXPECT_EQ(0, std::memcmp(d->_aUserBits, k._aUserBits, 8));
        for (uint32_t w = 0; w < KorvoMXFClip::kKeywords; ++w) {
            EXPECT_EQ(d->_szKeywords[w], k._szKeywords[w]);
            EXPECT_EQ(d->_bKeywordWide[w], k._bWideKeyword[w]);
        }
        if (k._bVarIdBinary) {
            EXPECT_EQ(d->_szVarId, "<BINARY>");
            EXPECT_TRUE(d->_bWideVarId);
            EXPECT_EQ(d->_nWideVarIdSize, k._nVarIdLength);
            EXPECT_EQ(0, std::memcmp(d->_aWideVarId, k._aVarId, 32));
        } else {
            EXPECT_EQ(d->_szVarId, std::string(reinterpret_cast<const char*>(k._aVarId), k._nVarIdLength));
            EXPECT_FALSE(d->_bWideVarId);
        }
        EXPECT_EQ(d->_bWideClipName, k._bWideName);
        EXPECT_EQ(d->_bWideClipNameSrc, k._bWideNameSource);
        EXPECT_EQ(d->_nSerTCVersion, 0u);
        EXPECT_EQ(d->_nTypeTCTod, k._nUserTCType);
        EXPECT_EQ(d->_nPrimaryTC, k._nPrimaryTC);
        // The recording machine's serial number comes from the material id.
        MXFIdType1 asKind1;
        asKind1.Parse(material.c_str());
        EXPECT_EQ(d->_nMchSerialNb, static_cast<uint16_t>(asKind1.GetSerial() * 10));
    }
    const CMXF_Parvex_ClipDescriptor& head = *read.GetFirstClip();
    const uint8_t wideName[24] = {0xC7, 0, 'l', 0, 'i', 0, 'p',  0, ' ', 0, 0xFC, 0,
                                  'n',  0, 'i', 0, 'c', 0, 0xF6, 0, 'd', 0, 'e',  0};
    EXPECT_EQ(0, std::memcmp(head._aWideClipName, wideName, 24));
    const uint8_t wideKeyword[12] = {0xE9, 0, 't', 0, 0xE9, 0};
    EXPECT_EQ(0, std::memcmp(head._aKeywordWide[1], wideKeyword, 12));
    EXPECT_TRUE(head.HasUserTimecode());
    EXPECT_EQ(0, std::memcmp(head._aSerTCUsr, packed, 8));
    EXPECT_EQ(head._nTypeTCUser, user.GetFlags() & 3);
    // The info carries the head clip's values.
    EXPECT_EQ(read._szClipName, "clip name 0");
    EXPECT_EQ(read._nShortIn, head._nShortIn);

    // The index: every field in the block that holds it, each block where the index says, starting with its field.
    const uint32_t blocks = read.GetBlockCount();
    EXPECT_EQ(read._nBlocks, blocks);
    if (c.nPictureSize >= 0x100000) {
        // One picture a block: 257 blocks fill big block 0 and put one into big block 1.
        EXPECT_EQ(blocks, c.nPictures);
        ASSERT_NE(read.GetBigBlock(1), nullptr);
        EXPECT_EQ(read.GetBigBlock(0)->BlockCount(), 256u);
        EXPECT_EQ(read.GetBigBlock(1)->BlockCount(), 1u);
    }
    EXPECT_EQ(essence, uint64_t{blocks} * blockSize);
    EXPECT_EQ(footer, 0x200000 + uint64_t{blocks} * blockSize);
    EXPECT_EQ(fs::file_size(path) > footer, true);
    EXPECT_EQ(read.GetFirstIndexedField(), first);
    EXPECT_EQ(read._nFileFieldOutExcluded, first + fields);
    std::vector<uint32_t> starts;
    for (uint32_t b = 0; b < blocks; ++b) {
        uint32_t blockFirst = 0;
        uint64_t pos = 0;
        ASSERT_EQ(read.GetBlockInfo(b, &blockFirst, &pos), 0);
        EXPECT_EQ(pos, 0x200000 + uint64_t{b} * blockSize);
        starts.push_back(blockFirst);
    }
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), first);
    for (uint32_t f = first; f < first + fields; ++f) {
        int32_t block = -1;
        uint32_t blockFirst = 0;
        uint64_t pos = 0;
        ASSERT_GE(read.GetBlockFromField(f, &block, &blockFirst, &pos), 0) << f;
        const auto b = static_cast<uint32_t>(block);
        ASSERT_LT(b, blocks);
        EXPECT_EQ(blockFirst, starts[b]);
        EXPECT_LE(starts[b], f);
        if (b + 1 < blocks)
            EXPECT_LT(f, starts[b + 1]) << f;
    }
    EXPECT_EQ(read.GetBlockFromField(first - 1), -1);
    EXPECT_EQ(read.GetBlockFromField(first + fields), -1);

    // Each block carries its own first field: in the 2k table at its end, or in the BAVD media header.
    platform::File file;
    ASSERT_TRUE(file.Open(path, platform::File::Access::Read, platform::File::Disposition::OpenExisting, false));
    for (uint32_t b = 0; b < blocks; b += std::max(1u, blocks / 8)) {
        uint8_t head4[80];
        const uint64_t pos = 0x200000 + uint64_t{b} * blockSize;
        if (blockType == 1) {
            ASSERT_EQ(file.ReadAt(head4, 4, pos + blockSize - 2048), 4);
            EXPECT_EQ(uint32_t{head4[0]} | head4[1] << 8 | head4[2] << 16 | uint32_t{head4[3]} << 24, starts[b]);
        } else {
            ASSERT_EQ(file.ReadAt(head4, 80, pos), 80);
            EXPECT_EQ(0, std::memcmp(head4, "BAVD", 4));
            EXPECT_EQ(ReadBigEndian32(head4 + 65), starts[b]);
        }
    }
    file.Close();
    fs::remove_all(dir);
}

class KorvoMXFWriterRoundTrip : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(KorvoMXFWriterRoundTrip, ReadsBackEveryFieldAndFindsEveryBlock)
{
    CheckRoundTrip(GetParam(), "writer-");
}

// Each full block is written in the background while the next one fills: clips of many blocks under the thread
// checker.
class KorvoMXFWriterThreads : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(KorvoMXFWriterThreads, BlocksWrittenBesideTheFillingReadBack)
{
    CheckRoundTrip(GetParam(), "writer-threads-");
}

INSTANTIATE_TEST_SUITE_P(
    Clips, KorvoMXFWriterThreads,
    ::testing::Values(WriteCase{"Tbl2k2MB_Imx50", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 4, 50, 1, 0, 60, 250000, 1, 4},
                      WriteCase{"Bavd8MB_HdMpeg2", KORVOMXF_FORMAT_BAVD_8MB, 4, 3, 3, 0, 2, 0, 90, 200000, 4, 12}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.pszName; });

INSTANTIATE_TEST_SUITE_P(
    Clips, KorvoMXFWriterRoundTrip,
    ::testing::Values(
        // name, format, system, standard, video format, bitrate, audio groups, two fields, pictures, size, clips, codec
        WriteCase{"Tbl2k2MB_SdMjpeg", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 1, 0, 2, 0, 100, 9000, 3, 1},
        WriteCase{"Tbl2k2MB_Imx50", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 4, 50, 1, 0, 60, 250000, 1, 4},
        WriteCase{"Bavd2MB_SdMpeg2", KORVOMXF_FORMAT_BAVD_2MB, 1, 4, 3, 0, 1, 0, 120, 20000, 20, 11},
        WriteCase{"Bavd8MB_HdMpeg2", KORVOMXF_FORMAT_BAVD_8MB, 4, 3, 3, 0, 2, 0, 90, 200000, 4, 12},
        WriteCase{"Bavd8MBv257_Dvcpro", KORVOMXF_FORMAT_BAVD_8MB_V257, 2, 3, 9, 0, 0, 0, 40, 144000, 2, 22},
        // 257 blocks of one picture each: the index spans two big blocks.
        WriteCase{"Tbl2k2MB_257Blocks", KORVOMXF_FORMAT_TBL2K_2MB, 2, 3, 1, 0, 0, 0, 257, 0x100000, 2, 1}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.pszName; });

}  // namespace
