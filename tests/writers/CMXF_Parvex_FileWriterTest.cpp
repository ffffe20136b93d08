// The clip file's bytes as the writer lays them out, compared with the layout table, and write failures reported.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "support/FileTestKit.h"
#include "writers/parvex/CMXF_Parvex_FileWriter.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace
{

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes Slice(const std::string& file, size_t at, size_t n)
{
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + n));
}

uint64_t Be64(const std::string& file, size_t at)
{
    const auto* p = reinterpret_cast<const uint8_t*>(file.data() + at);
    return uint64_t{ReadBigEndian32(p)} << 32 | ReadBigEndian32(p + 4);
}

KorvoMXFInfo SdInfo()
{
    KorvoMXFInfo info;
    info._nStandard = 3;
    info._nVideoSystem = 2;
    info._nAudioGroups = 0;
    info._nFirstField = 1000;
    info._nOutField = 1000;
    info.SetMaterialId("0123ABCD");
    KorvoMXFClip clip;
    clip.SetUmId("0123ABCD");
    info.AddClip(clip);
    return info;
}

// The header partition pack, written from the layout table.
Bytes GoldenPartition(uint64_t footer)
{
    Bytes b = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01,
               0x00, 0x84, 0x00, 0x00, 0x00, 0x68, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01};
    b.resize(125, 0);
    for (int i = 0; i < 8; ++i)
        b[45 + i] = static_cast<uint8_t>(footer >> (56 - 8 * i));
    const uint8_t tail[] = {0x00, 0x1F, 0xFF, 0x6A};  // header byte count 0x1FFF6A
    std::memcpy(&b[57], tail, 4);
    const uint8_t body[] = {0x00, 0x1F, 0xFF, 0xE7, 0x00, 0x00, 0x00, 0x01};  // body offset, body SID 1
    std::memcpy(&b[77], body, 8);
    const uint8_t op[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                          0x0D, 0x01, 0x02, 0x01, 0x01, 0x01, 0x01, 0x00};
    std::memcpy(&b[85], op, 16);
    const uint8_t batch[] = {0, 0, 0, 1, 0, 0, 0, 16};
    std::memcpy(&b[101], batch, 8);
    const uint8_t essence[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                               0x0D, 0x01, 0x03, 0x01, 0x18, 0x01, 0x02, 0x01};
    std::memcpy(&b[109], essence, 16);
    return b;
}

TEST(CMXF_Parvex_FileWriter, EmptyClipHeaderAndFooterAsTheLayoutTable)
{
    const fs::path dir = testsupport::FreshDir("writer-golden");
    const std::string path = (dir / "empty.mxf").string();
    KorvoMXFWriter writer;
    ASSERT_EQ(writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, 0), KORVOMXF_OK);
    ASSERT_EQ(writer.SetInfo(SdInfo()), KORVOMXF_OK);
    ASSERT_EQ(writer.Close(), KORVOMXF_OK);

    const std::string file = testsupport::ReadWholeFile(path);
    const uint64_t footer = 0x200000;
    EXPECT_EQ(Slice(file, 0, 125), GoldenPartition(footer));
    // Primer pack: 81 entries of 18 bytes, the first and the last.
    const Bytes primerHead = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x05,
                              0x01, 0x00, 0x83, 0x00, 0x05, 0xBA, 0,    0,    0,    81,   0,    0,    0,    18};
    EXPECT_EQ(Slice(file, 125, 28), primerHead);
    const Bytes first = {0x80, 0x01, 0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01,
                         0x01, 0x0F, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
    EXPECT_EQ(Slice(file, 153, 18), first);
    const Bytes last = {0x86, 0x23, 0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01,
                        0x01, 0x0F, 0x01, 0x01, 0x01, 0x01, 0x01, 0x07, 0x23};
    EXPECT_EQ(Slice(file, 153 + 80 * 18, 18), last);
    // Metadata set at 1611: key, 3-byte length, the signature and the first numbers.
    const Bytes setKey = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                          0x0D, 0x01, 0x04, 0x01, 0x01, 0x01, 0x02, 0x00};
    EXPECT_EQ(Slice(file, 1611, 16), setKey);
    EXPECT_EQ(static_cast<uint8_t>(file[1627]), 0x83);
    const size_t n = uint8_t(file[1628]) << 16 | uint8_t(file[1629]) << 8 | uint8_t(file[1630]);
    const Bytes items = {0x80, 0x01, 0, 9, 'K', 'v',  'o',  ' ',  'P',  'a', 'r', 'v', 'x',  0x80, 0x02,
                         0,    4,    0, 0, 0,   1,    0x81, 0x06, 0,    4,   0,   0,   0x03, 0xE8, 0x81,
                         0x07, 0,    4, 0, 0,   0x03, 0xE8, 0x81, 0x0B, 0,   4,   0,   0,    0,    0};
    EXPECT_EQ(Slice(file, 1631, items.size()), items);
    // The fill up to the essence key, then the essence item with its 8-byte length.
    const size_t fill = 1631 + n;
    const Bytes fillKey = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x01,
                           0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(Slice(file, fill, 16), fillKey);
    EXPECT_EQ(static_cast<uint8_t>(file[fill + 16]), 0x84);
    EXPECT_EQ(ReadBigEndian32(file.data() + fill + 17), 0x1FFFD2 - (1631 + n));
    const Bytes essenceItem = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x18,
                               0x01, 0x02, 0x01, 0x88, 0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(Slice(file, 0x1FFFE7, 25), essenceItem);

    // Footer right after the header: the footer key, this and footer partition at its own place, no body.
    Bytes footerPack = GoldenPartition(footer);
    footerPack[13] = 0x04;
    footerPack[14] = 0x02;
    for (int i = 0; i < 8; ++i)
        footerPack[29 + i] = static_cast<uint8_t>(footer >> (56 - 8 * i));
    const size_t footerSet = 0x200000 + 1611;
    const uint64_t setLength = ReadBigEndian32(file.data() + footerSet + 17);
    const uint64_t headerBytes = 1486 + 21 + setLength;
    for (int i = 0; i < 8; ++i) {
        footerPack[53 + i] = static_cast<uint8_t>(headerBytes >> (56 - 8 * i));
        footerPack[73 + i] = 0;
    }
    footerPack[84] = 0;
    EXPECT_EQ(Slice(file, 0x200000, 125), footerPack);
    EXPECT_EQ(Slice(file, 0x200000 + 125, 1486), Slice(file, 125, 1486));
    EXPECT_EQ(Slice(file, footerSet, 16), setKey);
    EXPECT_EQ(static_cast<uint8_t>(file[footerSet + 16]), 0x84);
    // No blocks, no index: the set ends the file.
    EXPECT_EQ(file.size(), footerSet + 21 + setLength);
    EXPECT_EQ(Be64(file, 21 + 24), footer);
}

TEST(CMXF_Parvex_FileWriter, IndexItemsOfTwoBigBlocksAndThumbnails)
{
    CMXF_Parvex_ClipInfo info;
    for (uint32_t b = 0; b < 257; ++b)
        ASSERT_EQ(info.AddBlock(1000 + 2 * b, 1002 + 2 * b, 0x200000 + uint64_t{b} * 0x200000), int32_t(b));
    CMXF_Parvex_Thumbnail& in = info._aThumbnails[CMXF_Parvex_ClipInfo::kThumbIn];
    in._nCx = 4;
    in._nCy = 2;
    in._nField = 1001;
    in._pPixels.assign(24, 0x5A);
    // 200 x 200 x 3 bytes do not fit a 16-bit item length: the pixels are left out.
    CMXF_Parvex_Thumbnail& out = info._aThumbnails[CMXF_Parvex_ClipInfo::kThumbOut];
    out._nCx = 200;
    out._nCy = 200;
    out._pPixels.assign(120000, 1);
    CMXF_Parvex_ClipDescriptor* clip = info.CreateClipInfo();
    clip->_szClipId = info._szMaterialId = "ABCDEFGH";

    const fs::path dir = testsupport::FreshDir("writer-index");
    const std::string path = (dir / "index.mxf").string();
    {
        CMXF_Parvex_FileWriter writer;
        ASSERT_EQ(writer.Open(path), 0u);
        ASSERT_EQ(writer.SetHeaderData(&info, 0, 0x200000), 0);
        ASSERT_EQ(writer.WriteHeader(), 0);
        ASSERT_EQ(writer.SetFilePos(0x200000), 0u);
        bool ok = false;
        EXPECT_EQ(writer.WriteFooter(&info, true, &ok), 0x200000u);
        EXPECT_TRUE(ok);
        EXPECT_EQ(out._qwFilePos, 0u);
        EXPECT_GT(in._qwFilePos, 0x200000u);
        ASSERT_EQ(writer.Close(), 0u);
    }
    const std::string file = testsupport::ReadWholeFile(path);
    // Two index items at the end: n = 256 and n = 1.
    const size_t second = file.size() - (4 + 12 + 12);
    const size_t first = second - (4 + 12 + 256 * 12);
    const Bytes item1 = {0x85, 0x01, 0x0C, 0x0C, 0, 0, 0x03, 0xE8, 0, 0, 0x05, 0xE8, 0x01, 0x00, 0, 12};
    EXPECT_EQ(Slice(file, first, 16), item1);
    const Bytes item2 = {0x85, 0x01, 0, 24, 0, 0,    0x05, 0xE8, 0, 0, 0x05, 0xEA, 0, 1,
                         0,    12,   0, 0,  5, 0xE8, 0,    0,    0, 0, 0x20, 0x20, 0, 0};
    EXPECT_EQ(Slice(file, second, 28), item2);
    EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(in._qwFilePos),
                    file.begin() + static_cast<std::ptrdiff_t>(in._qwFilePos + 24)),
              Bytes(24, 0x5A));

    CMXF_Parvex_FileReader reader("");
    ASSERT_EQ(reader.Open(path), 0u);
    CMXF_Parvex_ClipInfo back;
    int indexed = 0;
    EXPECT_EQ(reader.GetHeaderData(&back, 1, &indexed), 0);
    EXPECT_EQ(indexed, 1);
    reader.Close();
    EXPECT_EQ(back.GetBlockCount(), 257u);
    EXPECT_EQ(back.GetBlockFromField(1513), 256);
    EXPECT_EQ(back.Load_Thumbnails(path), 0);
    EXPECT_EQ(back._aThumbnails[CMXF_Parvex_ClipInfo::kThumbIn]._pPixels, Bytes(24, 0x5A));
    EXPECT_EQ(back._aThumbnails[CMXF_Parvex_ClipInfo::kThumbOut]._qwFilePos, 0u);
}

TEST(KorvoMXFWriter, UnknownBlockFormatLeavesItClosed)
{
    const fs::path dir = testsupport::FreshDir("writer-format");
    KorvoMXFWriter writer;
    EXPECT_EQ(writer.Open((dir / "x.mxf").string().c_str(), KORVOMXF_OPEN_CREATE, 5), KORVOMXF_ERR_UNSUCCESSFUL);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Close(), KORVOMXF_OK);
}

// A file that cannot grow: the block write fails, and Close reports it instead of success.
TEST(KorvoMXFWriter, FailedWritesAreReported)
{
    const fs::path dir = testsupport::FreshDir("writer-full");
    const std::string path = (dir / "full.mxf").string();
    KorvoMXFWriter writer;
    ASSERT_EQ(writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_TBL2K_2MB), KORVOMXF_OK);
    KorvoMXFInfo info = SdInfo();
    info._nVideoFormat = 1;
    ASSERT_EQ(writer.SetInfo(info), KORVOMXF_OK);
    ASSERT_EQ(writer.SetFirstField(1000), KORVOMXF_OK);

    struct rlimit old {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 0x200000 + 0x1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    KorvoMXFVideoInfo video{1, 0x100000, 720, 576, {}};
    Bytes data(video._nSize, 0x42);
    const KorvoMXFResult added = writer.AddPicture(1, &video, data.data(), 0, nullptr, nullptr, 0, nullptr, nullptr);
    const KorvoMXFResult second = writer.AddPicture(1, &video, data.data(), 0, nullptr, nullptr, 0, nullptr, nullptr);
    const KorvoMXFResult closed = writer.Close();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(added, KORVOMXF_OK);
    EXPECT_EQ(second, KORVOMXF_ERR_MXF_WRITE);
    EXPECT_NE(closed, KORVOMXF_OK);
}

// A block whose write fails in the background, once: the failure is kept, every later call returns it, and Close
// writes no footer or header that would index the lost block.
TEST(KorvoMXFWriter, ABlockLostInTheBackgroundFailsEveryLaterCallAndClose)
{
    const fs::path dir = testsupport::FreshDir("writer-lost-block");
    const std::string path = (dir / "lost.mxf").string();
    KorvoMXFWriter writer;
    ASSERT_EQ(writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_TBL2K_2MB), KORVOMXF_OK);
    KorvoMXFInfo info = SdInfo();
    info._nVideoFormat = 1;
    ASSERT_EQ(writer.SetInfo(info), KORVOMXF_OK);
    ASSERT_EQ(writer.SetFirstField(1000), KORVOMXF_OK);
    // The file already reaches past its blocks, so their space is reserved; the size limit then stops the write
    // of the second block (at 0x400000) and of nothing before it.
    ASSERT_EQ(truncate(path.c_str(), 0x1000000), 0);
    struct rlimit old {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 0x400000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    // One picture per block: each picture after the first starts the write of the block before it.
    KorvoMXFVideoInfo video{1, 0x100000, 720, 576, {}};
    Bytes data(video._nSize, 0x42);
    auto add = [&] { return writer.AddPicture(1, &video, data.data(), 0, nullptr, nullptr, 0, nullptr, nullptr); };
    std::vector<KorvoMXFResult> results;
    for (int i = 0; i < 4; ++i)
        results.push_back(add());
    // The disk is fine again: what was lost stays lost.
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    results.push_back(add());
    results.push_back(writer.SetInfo(info));
    results.push_back(writer.WriteCurrentBlock());
    const KorvoMXFResult closed = writer.Close();
    // The third picture starts the failing write and goes on; the fourth learns of the failure.
    EXPECT_EQ(results,
              (std::vector<KorvoMXFResult>{KORVOMXF_OK, KORVOMXF_OK, KORVOMXF_OK, KORVOMXF_ERR_MXF_WRITE,
                                           KORVOMXF_ERR_MXF_WRITE, KORVOMXF_ERR_MXF_WRITE, KORVOMXF_ERR_MXF_WRITE}));
    EXPECT_EQ(closed, KORVOMXF_ERR_MXF_WRITE);
    // The header still has no footer: no reader takes the file for a whole clip.
    CMXF_Parvex_FileReader reader("");
    ASSERT_EQ(reader.Open(path), 0u);
    CMXF_Parvex_ClipInfo read;
    int indexed = 1;
    reader.GetHeaderData(&read, 1, &indexed);
    EXPECT_EQ(indexed, 0);
    reader.Close();
}

// The space of a block is taken from the disk before the block is written, not only promised by the file's size.
TEST(CMXF_Parvex_FileWriter, ReservesTheDiskSpaceOfABlock)
{
    const fs::path dir = testsupport::FreshDir("writer-reserve");
    const std::string path = (dir / "reserved.mxf").string();
    CMXF_Parvex_FileWriter writer;
    ASSERT_EQ(writer.Open(path), 0u);
    ASSERT_TRUE(writer.Reserve(0x200000, 0x800000));
    struct stat st {
    };
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_GE(st.st_size, 0xA00000);
    EXPECT_GE(static_cast<uint64_t>(st.st_blocks) * 512, 0x800000u);
    writer.Close();
}

}  // namespace
