// The Parvex clip-file writers driven as the sender drives them, read back by the project's readers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "sender/CDorn_KorvoFile_Writer.h"
#include "sender/DornCodecFrames.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

struct ImxCase {
    const char* pszName;
    int nMbps;
    bool b8MB;
    int nChannels;
    int nBits;
    bool bBitrateGiven;  // else measured on the first frame
};

constexpr ImxCase kImxCases[] = {
    {"Imx50_2MB_2ch24", 50, false, 2, 24, true},  {"Imx50_8MB_4ch16", 50, true, 4, 16, false},
    {"Imx40_8MB_8ch24", 40, true, 8, 24, true},   {"Imx30_2MB_6ch16", 30, false, 6, 16, true},
    {"Imx50_2MB_silent", 50, false, 0, 24, true},
};

// What the video reader gives: the picture written and the zeros that round it up.
void ExpectPicture(const uint8_t* data, uint32_t size, const std::string& frame)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
    const uint32_t used = dorncodec::TrimmedLength(bytes, static_cast<uint32_t>(frame.size()));
    ASSERT_GE(size, used);
    EXPECT_EQ(0, std::memcmp(data, bytes, used));
    for (uint32_t i = used; i < size; ++i)
        ASSERT_EQ(data[i], 0) << i;
}

class ImxFileWriter : public ::testing::TestWithParam<ImxCase>
{
};

TEST_P(ImxFileWriter, ReadsBackFrameForFrameAndSampleForSample)
{
    const ImxCase& c = GetParam();
    const auto frames = ImxFrames(c.nMbps, true, 30);
    ASSERT_EQ(frames.size(), 30u);
    const fs::path dir = testsupport::FreshDir(std::string("dorn-file-") + c.pszName);
    const std::string path = (dir / "clip.mxf").string();

    {
        CDorn_KorvoIMX_Writer writer("Goal A.1", "", "", "", "", 12340, c.b8MB);
        writer.SetIdSpacing(0);
        // 00:00:10:00 lies below field 1000: the file starts at 1000 and records the offset.
        ASSERT_EQ(writer.Open(path.c_str(), 3, c.bBitrateGiven ? c.nMbps * 1000000 : 0, c.nChannels, c.nBits, 1,
                              CTimeCode(0, 0, 10, 0, false, 3), static_cast<int64_t>(frames.size())),
                  0);
        EXPECT_EQ(writer.GetFirstField(), 1000u);
        EXPECT_EQ(writer.GetFieldOffset(), 500);
        for (size_t i = 0; i < frames.size(); ++i) {
            const DornFrame picture{reinterpret_cast<const uint8_t*>(frames[i].data()),
                                    static_cast<uint32_t>(frames[i].size())};
            ASSERT_EQ(writer.AddPicture(&picture), 0) << i;
            for (int ch = 0; ch < c.nChannels; ++ch) {
                const Bytes audio = RampBytes(static_cast<uint32_t>(i) * 1920, 1920, ch, c.nBits);
                const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
                ASSERT_EQ(writer.AddAudio(ch, &sound), 0) << i << " " << ch;
            }
        }
        EXPECT_EQ(writer.GetQueuedPictures(), 0u);
        EXPECT_EQ(writer.Close(false), 0);
    }

    CMXF_Parvex_FileReader file("");
    ASSERT_EQ(file.Open(path), 0u);
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    ASSERT_EQ(file.GetHeaderData(&info, 1, &indexed), 0);
    file.Close();
    EXPECT_EQ(info._nIn, 1000u);
    EXPECT_EQ(info._nOut, 1000u + 2 * frames.size());
    EXPECT_EQ(info._nBitrate, static_cast<uint32_t>(c.nMbps));
    EXPECT_EQ(info._nBlockSize, c.b8MB ? 0x800000u : 0x200000u);
    const int serverChannels = c.nChannels == 0 ? 0 : c.nChannels <= 4 ? 4 : 8;
    EXPECT_EQ(info._nAudioGroups, static_cast<uint32_t>(serverChannels / 4));
    ASSERT_EQ(info.GetClipCount(), 1u);
    const CMXF_Parvex_ClipDescriptor* clip = info.GetFirstClip();
    EXPECT_EQ(clip->_szClipName, "Goal A.1");
    EXPECT_EQ(clip->_nShortIn, 1000u);
    EXPECT_EQ(clip->_nShortOut, 1000u + 2 * frames.size());
    EXPECT_EQ(clip->_nOffsetTC, static_cast<uint32_t>(-500));
    EXPECT_EQ(clip->_szClipId, std::string(info._szMaterialId));

    CParvexVideoDataReader video("", true, true);
    ASSERT_EQ(video.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        uint8_t* data = nullptr;
        uint32_t size = 0;
        ASSERT_EQ(video.GetNextData(&data, 0, &size, nullptr), 0);
        ExpectPicture(data, size, frames[i]);
    }
    uint8_t* none = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(video.GetNextData(&none, 0, &size, nullptr), 100);

    if (serverChannels == 0)
        return;
    CMXF_Parvex_AudioDataReader audio("");
    ASSERT_EQ(audio.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    Bytes buffer(0x800000), samples;
    uint8_t* data = buffer.data();
    while (audio.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr) == 0)
        samples.insert(samples.end(), data, data + size);
    const Bytes expected =
        ServerSamples(static_cast<uint32_t>(frames.size()) * 1920, c.nChannels, serverChannels, c.nBits);
    ASSERT_EQ(samples.size(), expected.size());
    EXPECT_TRUE(samples == expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImxFileWriter, ::testing::ValuesIn(kImxCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace

namespace
{

struct CodecCase {
    const char* pszName;
    int nCodec;  // 9 DVCPRO, 5 VC-3
    int64_t nBitrate;
    bool b8MB;
    int nChannels;
    const char* pszArgs;  // ffmpeg input and encoding
    const char* pszFormat;
    uint32_t nFrameBytes;
};

constexpr CodecCase kCodecCases[] = {
    {"DVCPro50_2MB_2ch", 9, 50000000, false, 2, "-f lavfi -i testsrc2=s=720x576:r=25 -pix_fmt yuv422p -c:v dvvideo",
     "dv", 288000},
    {"DVCProHD_8MB_8ch", 9, 100000000, true, 8, "-f lavfi -i testsrc2=s=1440x1080:r=25 -pix_fmt yuv422p -c:v dvvideo",
     "dv", 576000},
    {"VC3_8MB_4ch", 5, 120000000, true, 4,
     "-f lavfi -i testsrc2=s=1920x1080:r=25 -pix_fmt yuv422p -c:v dnxhd -b:v 120M -flags +ildct", "rawvideo",
     2 * 0x4A000},
};

class CodecFileWriter : public ::testing::TestWithParam<CodecCase>
{
};

// The pictures a raw clip reader gives, in order.
std::vector<std::string> ReadPictures(const std::string& path)
{
    std::vector<std::string> pictures;
    CParvexVideoDataReader video("", true, true);
    EXPECT_EQ(video.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    uint8_t* data = nullptr;
    uint32_t size = 0;
    while (video.GetNextData(&data, 0, &size, nullptr) == 0) {
        pictures.emplace_back(reinterpret_cast<const char*>(data), size);
        data = nullptr;
    }
    return pictures;
}

std::string WithoutTrailingZeros(std::string bytes)
{
    bytes.resize(
        dorncodec::TrimmedLength(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())));
    return bytes;
}

TEST_P(CodecFileWriter, ReadsBackFrameForFrame)
{
    const CodecCase& c = GetParam();
    constexpr int kCodecFrames = 12;
    const fs::path media =
        writertest::Cached(std::string(c.pszName) + ".bin", std::string(c.pszArgs) + " -frames:v " +
                                                                std::to_string(kCodecFrames) + " -f " + c.pszFormat);
    const std::string stream = testsupport::ReadWholeFile(media);
    ASSERT_EQ(stream.size(), size_t{c.nFrameBytes} * kCodecFrames);
    const fs::path dir = testsupport::FreshDir(std::string("dorn-codec-") + c.pszName);
    const std::string path = (dir / "clip.mxf").string();

    std::unique_ptr<CDorn_KorvoFile_Writer> writer;
    if (c.nCodec == 9)
        writer = std::make_unique<CDorn_KorvoDVCPro_Writer>("codec", "MAINID01", "VAR", "BACKID02", "", 12340, c.b8MB);
    else
        writer = std::make_unique<CDorn_KorvoHydrel_Writer>("codec", "MAINID01", "VAR", "BACKID02", "", 12340, c.b8MB);
    ASSERT_EQ(
        writer->Open(path.c_str(), 3, c.nBitrate, c.nChannels, 24, 1, CTimeCode(10, 0, 0, 0, false, 3), kCodecFrames),
        0);
    for (int i = 0; i < kCodecFrames; ++i) {
        const DornFrame picture{reinterpret_cast<const uint8_t*>(stream.data()) + size_t{c.nFrameBytes} * i,
                                c.nFrameBytes};
        ASSERT_EQ(writer->AddPicture(&picture), 0) << i;
        for (int ch = 0; ch < c.nChannels; ++ch) {
            const Bytes audio = RampBytes(static_cast<uint32_t>(i) * 1920, 1920, ch, 24);
            const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
            ASSERT_EQ(writer->AddAudio(ch, &sound), 0);
        }
    }
    EXPECT_EQ(writer->Close(false), 0);
    writer.reset();

    // What the server keeps of each frame: DVCPRO packed by the converter, VC-3 as its field units.
    std::vector<std::string> expected;
    for (int i = 0; i < kCodecFrames; ++i) {
        const auto* frame = reinterpret_cast<const uint8_t*>(stream.data()) + size_t{c.nFrameBytes} * i;
        if (c.nCodec == 9) {
            expected.push_back(PackedDVCPro(frame, c.nFrameBytes));
            ASSERT_FALSE(expected.back().empty());
        } else {
            // The unit's padding ends with the end marker, which stays behind with the padding.
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(frame) + 0x4A000 - 4, 4),
                      std::string("\x60\x0D\xC0\xDE", 4));
            for (const std::string& unit : Vc3Units(frame))
                expected.push_back(unit);
        }
    }
    const auto pictures = ReadPictures(path);
    ASSERT_EQ(pictures.size(), expected.size());
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_TRUE(WithoutTrailingZeros(pictures[i]) == WithoutTrailingZeros(expected[i])) << i;

    CMXF_Parvex_AudioDataReader audio("");
    ASSERT_EQ(audio.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    Bytes buffer(0x800000), samples;
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    while (audio.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr) == 0)
        samples.insert(samples.end(), data, data + size);
    const int serverChannels = c.nChannels <= 4 ? 4 : 8;
    EXPECT_TRUE(samples == ServerSamples(kCodecFrames * 1920, c.nChannels, serverChannels, 24));
}

INSTANTIATE_TEST_SUITE_P(Cases, CodecFileWriter, ::testing::ValuesIn(kCodecCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

}  // namespace
