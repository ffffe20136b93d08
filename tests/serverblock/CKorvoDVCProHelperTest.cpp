#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serverblock/CKorvoDVCProHelper.h"
#include "support/TestEnv.h"

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSeq = 12000;
constexpr uint32_t kBlock = 80;

fs::path FrameDir()
{
    static const fs::path dir = [] {
        const char* data = std::getenv("KORVO_TEST_DATA");
        const fs::path d = fs::path(data ? data : testsupport::TestRoot().string()) / "dvcpro";
        const fs::path tools = fs::path(KORVO_SOURCE_DIR) / "tools";
        const std::string command = "bash " + (tools / "make-dvcpro-frames").string() + " " + d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir;
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const uint8_t* data, size_t size)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The picture ffmpeg decodes from a raw DIF frame, as an MD5 line. (The rebuilt frame's blank subcode and silent
// audio make ffmpeg warn on stderr; only the picture counts.)
std::string DecodedPicture(const fs::path& path)
{
    const std::string command = "ffmpeg -nostdin -v error -f dv -i " + path.string() + " -map 0:v -f md5 - 2>/dev/null";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            out += line;
        pclose(pipe);
    }
    return out;
}

// Sequence s of channel c of a frame with the given sequences per channel.
const uint8_t* Sequence(const uint8_t* frame, uint32_t sequences, uint32_t c, uint32_t s)
{
    return frame + (c * sequences + s) * kSeq;
}

bool IsVideoBlock(uint32_t block)
{
    return block >= 6 && (block - 6) % 16 != 0;
}

struct FrameCase {
    const char* pszName;
    uint32_t nStreamKind;
    uint32_t nSystem;
    uint32_t nSequences;
    uint32_t nChannels;  // in the frame given
    uint32_t nKept[4];
    uint32_t nPackedSize;
};

class DVCProFrames : public testing::TestWithParam<FrameCase>
{
};

TEST_P(DVCProFrames, PackUnpackKeepsVideoAndPicture)
{
    const FrameCase& fc = GetParam();
    const fs::path source = FrameDir() / (std::string(fc.pszName) + ".dif");
    const Bytes frame = ReadFile(source);
    ASSERT_EQ(frame.size(), fc.nChannels * fc.nSequences * kSeq);

    CKorvoDVCProHelper packer;
    ASSERT_TRUE(packer.InitFromDVCProFrame(frame.data(), static_cast<uint32_t>(frame.size())));
    EXPECT_EQ(packer.GetStreamKind(), fc.nStreamKind);
    EXPECT_EQ(packer.GetSystemCode(), fc.nSystem);
    ASSERT_TRUE(packer.ConvertFromDVCPro(frame.data(), static_cast<uint32_t>(frame.size())));
    uint32_t packedSize = 0;
    const uint8_t* packed = packer.GetPackedFrame(&packedSize);
    ASSERT_EQ(packedSize, fc.nPackedSize);

    CKorvoDVCProHelper unpacker(static_cast<int32_t>(fc.nSystem), static_cast<int32_t>(packer.GetAspectCode()));
    ASSERT_TRUE(unpacker.InitFromPackedFrame(packed, packedSize));
    ASSERT_TRUE(unpacker.ConvertToDVCPro(packed, packedSize));
    uint32_t difSize = 0;
    const uint8_t* dif = unpacker.GetDVCProFrame(&difSize);
    ASSERT_EQ(difSize, frame.size());

    // Kept sequences carry the original video blocks; the others blank ones.
    for (uint32_t c = 0; c < fc.nChannels; ++c) {
        for (uint32_t s = 0; s < fc.nSequences; ++s) {
            const uint8_t* in = Sequence(frame.data(), fc.nSequences, c, s);
            const uint8_t* out = Sequence(dif, fc.nSequences, c, s);
            for (uint32_t b = 0; b < kSeq / kBlock; ++b) {
                if (!IsVideoBlock(b))
                    continue;
                if (s < fc.nKept[c])
                    ASSERT_EQ(0, memcmp(in + b * kBlock, out + b * kBlock, kBlock)) << c << " " << s << " " << b;
                else
                    ASSERT_EQ(out[b * kBlock], 0x9F) << c << " " << s << " " << b;
            }
        }
    }

    // Packing the unpacked frame gives the packed bytes back.
    CKorvoDVCProHelper again;
    Bytes repacked(packedSize);
    uint32_t repackedSize = 0;
    ASSERT_TRUE(again.PackFrame(dif, difSize, repacked.data(), &repackedSize));
    ASSERT_EQ(repackedSize, packedSize);
    EXPECT_EQ(0, memcmp(repacked.data(), packed, packedSize));

    // An unpack into a caller's buffer gives the same frame.
    Bytes outside(difSize);
    uint32_t outsideSize = 0;
    ASSERT_TRUE(unpacker.UnpackFrame(packed, packedSize, outside.data(), &outsideSize));
    EXPECT_EQ(outsideSize, difSize);
    EXPECT_EQ(0, memcmp(outside.data(), dif, difSize));

    const fs::path unpackedPath = testsupport::TestRoot() / (std::string(fc.pszName) + ".unpacked.dif");
    WriteFile(unpackedPath, dif, difSize);
    const std::string original = DecodedPicture(source);
    EXPECT_EQ(original.rfind("MD5=", 0), 0u) << original;
    EXPECT_EQ(DecodedPicture(unpackedPath), original);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, DVCProFrames,
                         testing::Values(FrameCase{"dvcpro50_625", 3, 3, 12, 2, {12, 12}, 259200},
                                         FrameCase{"dvcpro50_525", 3, 4, 10, 2, {10, 10}, 216000},
                                         FrameCase{"dvcprohd_1080i50", 4, 3, 12, 4, {12, 11, 11, 11}, 486000},
                                         FrameCase{"dvcprohd_1080i60", 5, 4, 10, 4, {10, 10, 10, 10}, 432000},
                                         FrameCase{"dvcprohd_720p50", 6, 6, 12, 2, {10, 10}, 216000},
                                         FrameCase{"dvcprohd_720p60", 6, 7, 10, 2, {10, 10}, 216000}),
                         [](const testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.pszName); });

TEST(DVCProHelper, SecondPairUnpacksIntoSecondHalf)
{
    Bytes frame = ReadFile(FrameDir() / "dvcprohd_720p50.dif");
    ASSERT_EQ(frame.size(), 288000u);
    for (size_t b = 0; b < frame.size(); b += kBlock)
        frame[b + 1] &= ~0x04;  // the second channel pair

    CKorvoDVCProHelper packer;
    ASSERT_TRUE(packer.ConvertFromDVCPro(frame.data(), static_cast<uint32_t>(frame.size())));
    EXPECT_TRUE(packer.IsSecondPair());
    uint32_t packedSize = 0;
    const uint8_t* packed = packer.GetPackedFrame(&packedSize);

    CKorvoDVCProHelper unpacker(6, 3);
    ASSERT_TRUE(unpacker.ConvertToDVCPro(packed, packedSize));
    EXPECT_TRUE(unpacker.IsSecondPair());
    uint32_t difSize = 0;
    const uint8_t* dif = unpacker.GetDVCProFrame(&difSize);
    ASSERT_EQ(difSize, 288000u);
    // Template blocks of channels 2 and 3 carry their pair in the ID byte.
    EXPECT_EQ(dif[0], 0x1F);
    EXPECT_EQ(dif[1], 0x03);
    EXPECT_EQ(dif[12 * kSeq + 1], 0x0B);
    EXPECT_EQ(0, memcmp(dif + 7 * kBlock, frame.data() + 7 * kBlock, 15 * kBlock));
}

TEST(DVCProHelper, BlankTemplateOfEachKind)
{
    CKorvoDVCProHelper helper(3, 2);
    Bytes packed(259200);
    ASSERT_TRUE(helper.InitFromPackedFrame(packed.data(), 259200));
    uint32_t size = 0;
    const uint8_t* dif = helper.GetDVCProFrame(&size);
    ASSERT_EQ(size, 288000u);
    const uint8_t header[8] = {0x1F, 0x07, 0x00, 0xBF, 0xF9, 0xF9, 0x79, 0xF9};
    EXPECT_EQ(0, memcmp(dif, header, 8));
    // Even sequence: video pack at byte 48 of the third VAUX block; audio packs in audio blocks 3 and 4.
    const uint8_t videoPack[10] = {0x60, 0xFF, 0xFF, 0xE4, 0x7F, 0x61, 0x3F, 0xC8, 0xFC, 0xFF};
    EXPECT_EQ(0, memcmp(dif + 5 * kBlock + 48, videoPack, 10));
    const uint8_t audioSource[5] = {0x50, 0x58, 0x1F, 0xE2, 0xC0};
    const uint8_t audioControl[5] = {0x51, 0x3C, 0xCF, 0xF8, 0xFF};
    EXPECT_EQ(0, memcmp(dif + (6 + 3 * 16) * kBlock + 3, audioSource, 5));
    EXPECT_EQ(0, memcmp(dif + (6 + 4 * 16) * kBlock + 3, audioControl, 5));
    const uint8_t audioBlock[3] = {0x7F, 0x07, 0x02};
    EXPECT_EQ(0, memcmp(dif + (6 + 2 * 16) * kBlock, audioBlock, 3));
    EXPECT_EQ(dif[(6 + 2 * 16) * kBlock + 8], 0);
    // Odd sequence of the second channel: video pack at byte 3 of the first VAUX block.
    const uint8_t* odd = dif + 13 * kSeq;
    EXPECT_EQ(odd[1], 0x1F);
    EXPECT_EQ(0, memcmp(odd + 3 * kBlock + 3, videoPack, 10));
    EXPECT_EQ(0, memcmp(odd + 6 * kBlock + 3, audioSource, 5));
}

TEST(DVCProHelper, RefusesShortOrInconsistentInput)
{
    CKorvoDVCProHelper small(3, 2);
    Bytes packed(259199);
    EXPECT_FALSE(small.InitFromPackedFrame(packed.data(), 259199));

    Bytes frame = ReadFile(FrameDir() / "dvcprohd_1080i50.dif");
    ASSERT_EQ(frame.size(), 576000u);
    CKorvoDVCProHelper shortFrame;
    EXPECT_FALSE(shortFrame.InitFromDVCProFrame(frame.data(), 575999));
    EXPECT_FALSE(shortFrame.InitFromDVCProFrame(frame.data(), 100));
    Bytes dest(486144);
    EXPECT_FALSE(shortFrame.PackFrame(frame.data(), 400000, dest.data(), nullptr));

    frame[3 * kSeq + 20 * kBlock + 1] ^= 0x10;  // one block of a kept sequence with another ID
    CKorvoDVCProHelper bad;
    EXPECT_FALSE(bad.InitFromDVCProFrame(frame.data(), 576000));
    EXPECT_EQ(bad.GetStreamKind(), 0u);

    // The 2-channel kind is checked against its size too.
    Bytes dv50 = ReadFile(FrameDir() / "dvcpro50_625.dif");
    CKorvoDVCProHelper shortDv50;
    EXPECT_FALSE(shortDv50.PackFrame(dv50.data(), 287999, dest.data(), nullptr));

    // An unpack checks the packed size given.
    CKorvoDVCProHelper unpacker(3, 2);
    Bytes goodPacked(259200);
    ASSERT_TRUE(unpacker.InitFromPackedFrame(goodPacked.data(), 259200));
    Bytes out(288000);
    EXPECT_FALSE(unpacker.UnpackFrame(goodPacked.data(), 259000, out.data(), nullptr));
}

}  // namespace
