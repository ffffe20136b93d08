#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "reading/mxf/CMXFEssenceReader.h"
#include "reading/mxf/CMXFOP1aReader.h"
#include "tests/reading/MXFBuilder.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/support/TestEnv.h"

namespace
{

using namespace mxfbuild;
namespace fs = std::filesystem;

constexpr uint32_t kFrameBytes = 100;
constexpr uint32_t kUnitBytes = 16 + 4 + kFrameBytes;
const Bytes kImx50 = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x04, 0x01, 0x02, 0x02, 0x01, 0x02, 0x01, 0x01};

// A frame-wrapped clip of n picture elements whose bytes tell the frame number.
File PictureClip(uint32_t frames)
{
    File f;
    f.clip.nDuration = frames;
    f.clip.nStartTimecode = 90000;  // 01:00:00:00 at 25
    f.clip.descriptor = PictureDescriptor(kImx50, 720, 304, 4, 3);
    f.index.nEditUnitBytes = kUnitBytes;
    for (uint32_t i = 0; i < frames; ++i)
        Append(f.essence, Klv(ElementKey(0x05), Bytes(kFrameBytes, static_cast<uint8_t>(i))));
    return f;
}

fs::path Write(const std::string& name, const Bytes& bytes)
{
    const fs::path path = testsupport::TestRoot() / (name + ".mxf");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Seeds for the fuzzer, written on request into the source tree.
    if (const char* seeds = std::getenv("KORVO_WRITE_MXF_SEEDS"); seeds && bytes.size() < 4096)
        std::ofstream(fs::path(seeds) / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

std::unique_ptr<CMXFOP1aPictureReader> OpenBuilt(const std::string& name, const Bytes& bytes, int32_t* result)
{
    return mxftest::OpenReader<CMXFOP1aPictureReader>(Write(name, bytes).string(), result);
}

void ExpectFrames(CMXFOP1aPictureReader& reader, uint32_t frames)
{
    int32_t last = 0;
    const auto units = mxftest::ReadAll(reader, true, kFrameBytes, &last);
    EXPECT_EQ(last, CDataReader::kNoMoreData);
    ASSERT_EQ(units.size(), frames);
    for (uint32_t i = 0; i < frames; ++i)
        EXPECT_EQ(units[i].bytes, Bytes(kFrameBytes, static_cast<uint8_t>(i)));
}

TEST(MXFEssenceReader, BuiltClipOpens)
{
    int32_t result = 0;
    auto reader = OpenBuilt("plain", Build(PictureClip(5)), &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetDuration(), 5);
    EXPECT_EQ(reader->GetStart(), 90000);
    EXPECT_EQ(reader->GetTcSystem(), 3);
    EXPECT_EQ(reader->GetEditUnitSize(), kUnitBytes);
    EXPECT_EQ(reader->GetPartitions().size(), 2u);
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, IMX50_Video);
    EXPECT_EQ(info.nAspect, 2);
    EXPECT_EQ(info.nHeight, 608u);
    int32_t in = 0, out = 0, system = 0;
    EXPECT_EQ(reader->GetInOut(&in, &out, nullptr), 1);
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 180000);
    EXPECT_EQ(out, 180010);
    ExpectFrames(*reader, 5);
}

TEST(MXFEssenceReader, RunInShiftsEveryPosition)
{
    File f = PictureClip(3);
    f.nRunIn = 300;
    int32_t result = 0;
    auto reader = OpenBuilt("runin", Build(f), &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetRunIn(), 300u);
    const auto& partitions = reader->GetPartitions();
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions[0]->nThis, 300u);
    EXPECT_EQ(partitions[0]->nFooter, partitions[1]->nPosition);
    EXPECT_EQ(partitions[1]->nThis, partitions[1]->nPosition);
    ExpectFrames(*reader, 3);
}

TEST(MXFEssenceReader, FooterFoundByTheBackwardsScanWithinOneMebibyte)
{
    File f = PictureClip(3);
    f.bFooterInHeaderPack = false;
    f.bRip = false;
    int32_t result = 0;
    auto reader = OpenBuilt("scanned", Build(f), &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetPartitions().size(), 2u);
    ExpectFrames(*reader, 3);

    // Beyond the last MiB it is not seen: the header partition then reaches to the file's end.
    Bytes far = Build(f);
    Append(far, Fill(CMXFEssenceReader::kMaxFooterScan + 100));
    reader = OpenBuilt("far", far, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(reader->GetPartitions().size(), 1u);
}

TEST(MXFEssenceReader, ShortRandomIndexPackHasNoEntries)
{
    File f = PictureClip(2);
    f.bRip = false;
    f.bFooterInHeaderPack = false;
    for (int64_t length : {0, 2, 3}) {
        Bytes bytes = Build(f);
        Append(bytes, RandomIndexPack({}, length));
        int32_t result = 0;
        auto reader = OpenBuilt("shortrip", bytes, &result);
        ASSERT_EQ(result, 0) << length;
        EXPECT_EQ(reader->GetPartitions().size(), 2u);
    }
}

TEST(MXFEssenceReader, OpAtomWithoutFooter)
{
    File f = PictureClip(4);
    f.nOp = 0x0310;
    f.bBody = true;
    f.bFooter = false;
    f.bRip = false;
    int32_t result = 0;
    auto reader = OpenBuilt("atom_nofooter", Build(f), &result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(reader->GetPartitions().size(), 2u);
    ASSERT_EQ(reader->GetSegments().size(), 1u);
    EXPECT_EQ(reader->GetSegments()[0].pPartition, reader->GetPartitions()[1].get());
    EXPECT_EQ(reader->GetPartitions()[1]->nEnd, fs::file_size(testsupport::TestRoot() / "atom_nofooter.mxf"));

    // Without the body partition pack where the essence should start.
    f.bBody = false;
    reader = OpenBuilt("atom_nobody", Build(f), &result);
    EXPECT_EQ(result, CMXFEssenceReader::kNoBodyPartition);
}

TEST(MXFEssenceReader, OpTwoAWithoutFooterIsRefused)
{
    File f = PictureClip(2);
    f.nOp = 0x0102;
    f.bFooter = false;
    f.bRip = false;
    int32_t result = 0;
    auto reader = OpenBuilt("op2a", Build(f), &result);
    EXPECT_EQ(result, CMXFEssenceReader::kNoPackage);
}

// The footer's previous-partition position is patched; every chain must end.
TEST(MXFEssenceReader, BrokenPreviousPartitionChainEnds)
{
    File f = PictureClip(3);
    f.bBody = true;
    f.bRip = false;
    const Bytes good = Build(f);
    const uint64_t footer = good.size() - kPackSize;
    for (uint64_t previous : {footer, footer + 1000, uint64_t{7}, ~uint64_t{0}}) {
        Bytes bytes = good;
        for (int i = 0; i < 8; ++i)
            bytes[footer + 20 + 16 + i] = static_cast<uint8_t>(previous >> (56 - 8 * i));
        int32_t result = 0;
        auto reader = OpenBuilt("chain", bytes, &result);
        EXPECT_TRUE(result == 0 || result == CMXFEssenceReader::kKeyUnreadable ||
                    result == CMXFEssenceReader::kNoSegment)
            << previous << " gave " << result;
    }
}

TEST(MXFEssenceReader, CountsFromTheFileAreBounded)
{
    File f = PictureClip(2);
    f.clip.nTrackCountOverride = 0xFFFFFFFF;
    f.clip.nComponentCountOverride = 0x7FFFFFFF;
    int32_t result = 0;
    auto reader = OpenBuilt("counts", Build(f), &result);
    ASSERT_EQ(result, 0);
    ExpectFrames(*reader, 2);
}

TEST(MXFEssenceReader, HeaderByteCountBeyondTheFileIsRefused)
{
    Bytes bytes = Build(PictureClip(2));
    for (int i = 0; i < 8; ++i)
        bytes[20 + 32 + i] = i < 2 ? 0xFF : 0x00;
    int32_t result = 0;
    auto reader = OpenBuilt("hbc", bytes, &result);
    EXPECT_EQ(result, CMXFEssenceReader::kDoesNotFit);
}

TEST(MXFEssenceReader, NotMxf)
{
    int32_t result = 0;
    auto reader = OpenBuilt("tiny", Bytes(10, 0x06), &result);
    EXPECT_EQ(result, CMXFEssenceReader::kTooShort);
    reader = OpenBuilt("noise", Bytes(5000, 0x34), &result);
    EXPECT_EQ(result, CMXFEssenceReader::kNoHeaderPartition);
    Bytes bad = Build(PictureClip(2));
    bad[15] = 0x01;
    reader = OpenBuilt("byte15", bad, &result);
    EXPECT_EQ(result, CMXFEssenceReader::kBadHeaderKey);
}

TEST(MXFEssenceReader, RatesMapToSystems)
{
    const struct {
        uint32_t nNum, nDen;
        uint8_t nSystem;
        uint32_t nFields;
        double dRate;
    } cases[] = {{24000, 1001, 1, 2, 23.97}, {24, 1, 2, 2, 24.0}, {25, 1, 3, 2, 25.0},
                 {30000, 1001, 4, 2, 29.97}, {30, 1, 5, 2, 30.0}, {50, 1, 6, 1, 50.0},
                 {60000, 1001, 7, 1, 59.94}, {60, 1, 8, 1, 60.0}, {15, 1, 0, 2, 15.0},
                 {25, 0, 3, 2, 25.0}};
    for (const auto& c : cases) {
        File f = PictureClip(2);
        f.clip.nRateNum = c.nNum;
        f.clip.nRateDen = c.nDen;
        int32_t result = 0;
        auto reader = OpenBuilt("rate", Build(f), &result);
        ASSERT_EQ(result, 0);
        EXPECT_EQ(reader->GetTcSystem(), c.nSystem) << c.nNum << "/" << c.nDen;
        EXPECT_EQ(reader->GetFieldsPerEditUnit(), c.nFields);
        EXPECT_NEAR(reader->GetEditRate(), c.dRate, 1e-9);
    }
}

TEST(MXFPartition, IndexSegments)
{
    // A slice count after the entry array gives entries without slice offsets.
    Index x;
    x.nSliceCount = 1;
    x.bSliceCountLast = true;
    x.entries = {{0, 0, 0xC0, 0, {5}}, {1, -1, 0x22, 1000, {7}}};
    x.deltas = {0, 24};
    Bytes segment = IndexSegment(x);
    CMXFPartition p;
    p.ParseIndexSegment(segment.data() + 20, segment.size() - 20);
    ASSERT_EQ(p.entries.size(), 2u);
    EXPECT_TRUE(p.entries[1].sliceOffsets.empty());
    EXPECT_EQ(p.entries[1].nStreamOffset, 1000u);
    EXPECT_EQ(p.entries[1].nKeyFrameOffset, -1);
    ASSERT_EQ(p.deltas.size(), 2u);
    EXPECT_EQ(p.deltas[1].nElementDelta, 24u);

    x.bSliceCountLast = false;
    segment = IndexSegment(x);
    p.ParseIndexSegment(segment.data() + 20, segment.size() - 20);
    ASSERT_EQ(p.entries[1].sliceOffsets.size(), 1u);
    EXPECT_EQ(p.entries[1].sliceOffsets[0], 7u);

    // The next segment replaces the one before it.
    Index y;
    y.nEditUnitBytes = 4096;
    segment = IndexSegment(y);
    p.ParseIndexSegment(segment.data() + 20, segment.size() - 20);
    EXPECT_TRUE(p.entries.empty());
    EXPECT_TRUE(p.deltas.empty());
    EXPECT_EQ(p.nEditUnitByteCount, 4096u);

    // Counts larger than the value are cut to what it holds.
    Bytes hostile = IndexSegment(x);
    for (size_t i = 20; i + 4 < hostile.size(); ++i)
        if (hostile[i] == 0x3F && hostile[i + 1] == 0x0A) {
            hostile[i + 4] = 0xFF;
            hostile[i + 5] = 0xFF;
            break;
        }
    p.ParseIndexSegment(hostile.data() + 20, hostile.size() - 20);
    EXPECT_EQ(p.entries.size(), 2u);
}

}  // namespace
