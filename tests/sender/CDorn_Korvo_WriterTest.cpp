// The writer family base: the field cadence of the audio blocks, the 16-bit to 24-bit conversion, the checks on
// audio, the flush at close and the clip ids.
#include <gtest/gtest.h>

#include <vector>

#include "sender/CDorn_KorvoFile_Writer.h"
#include "sender/CDorn_Korvo_Writer.h"
#include "sender/DornCodecFrames.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"

namespace
{
using namespace sendertest;

// Records, for every picture written, its first byte and the sample counts of its audio blocks.
class RecordingWriter : public CDorn_Korvo_Writer
{
public:
    RecordingWriter(const char* louthMain = "MAINID01", const char* varMain = "VAR1", const char* louthBackup = "",
                    const char* varBackup = "")
        : CDorn_Korvo_Writer("clip", louthMain, varMain, louthBackup, varBackup, 12340, false)
    {
        SetIdSpacing(0);
    }
    ~RecordingWriter() override { CloseCommon(true); }

    int Open(const char*, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int, CTimeCode start,
             int64_t duration) override
    {
        return OpenCommon(pictureCode, bitrate, channels, sampleBits, start, duration);
    }
    int Close(bool cancelled) override { return CloseCommon(cancelled); }
    int WriteFrame() override
    {
        if (_pictures.empty())
            return -1;
        int result = PutElement(KorvoMXFVideoInfo{}, _pictures.front().pData.get(), _bFieldPairs ? 2 : 1, AudioInfos(),
                                AudioBlock());
        DropOldestPicture();
        return result;
    }
    int PutElement(const KorvoMXFVideoInfo&, const uint8_t* data, uint32_t audioCount, const KorvoMXFAudioInfo*,
                   const uint8_t* audio) override
    {
        firstBytes.push_back(data[0]);
        std::vector<uint32_t> counts;
        for (uint32_t f = 0; f < audioCount && audio; ++f) {
            const uint8_t* block = audio + size_t{AudioFieldBytes()} * f;
            counts.push_back(uint32_t{block[1]} << 8 | block[2]);
        }
        fieldSamples.push_back(counts);
        if (audio)
            lastAudio.assign(audio, audio + AudioFieldBytes() * audioCount);
        return failAt == static_cast<int>(firstBytes.size()) ? 7 : 0;
    }

    std::vector<uint8_t> firstBytes;
    std::vector<std::vector<uint32_t>> fieldSamples;
    std::vector<uint8_t> lastAudio;
    int failAt = -1;
};

DornFrame Picture(const std::vector<uint8_t>& bytes)
{
    return DornFrame{bytes.data(), static_cast<uint32_t>(bytes.size())};
}

TEST(DornKorvoWriter, NtscAudioFollowsTheFieldCadenceTwoFieldsAtATime)
{
    RecordingWriter writer;
    ASSERT_EQ(writer.Open("", 4, 0, 1, 16, 1, CTimeCode(), 10), 0);
    EXPECT_EQ(writer.GetServerChannels(), 4);
    const std::vector<uint8_t> picture(100, 1);
    for (int frame = 0; frame < 5; ++frame) {
        const DornFrame p = Picture(picture);
        ASSERT_EQ(writer.AddPicture(&p), 0);
        ASSERT_EQ(writer.AddNULLAudioFrame(0, frame), 0);
    }
    const std::vector<std::vector<uint32_t>> expected = {{801, 801}, {801, 801}, {800, 801}, {801, 801}, {801, 800}};
    EXPECT_EQ(writer.fieldSamples, expected);
}

TEST(DornKorvoWriter, SixteenBitSamplesTakeTheTopSixteenOfTwentyFourBits)
{
    EXPECT_EQ(CDorn_Korvo_Writer::Sample16To24(0), 0);
    EXPECT_EQ(CDorn_Korvo_Writer::Sample16To24(32767), 0x7FFF00);
    EXPECT_EQ(CDorn_Korvo_Writer::Sample16To24(-32768), -0x800000);
    EXPECT_EQ(CDorn_Korvo_Writer::Sample16To24(-129), -0x8100);
    // Every value comes back from the top two bytes of its 24 bits.
    for (int32_t v = -32768; v <= 32767; ++v) {
        const int32_t wide = CDorn_Korvo_Writer::Sample16To24(static_cast<int16_t>(v));
        ASSERT_EQ(static_cast<int16_t>(static_cast<uint16_t>((wide >> 8) & 0xFFFF)), v);
        ASSERT_EQ(wide & 0xFF, 0) << v;
    }

    RecordingWriter writer;
    ASSERT_EQ(writer.Open("", 3, 0, 3, 16, 1, CTimeCode(), 10), 0);
    const std::vector<uint8_t> picture(100, 1);
    const DornFrame p = Picture(picture);
    ASSERT_EQ(writer.AddPicture(&p), 0);
    for (int ch = 0; ch < 3; ++ch) {
        std::vector<uint8_t> audio(1920 * 2, 0);
        audio[0] = 0x00;
        audio[1] = 0x80;  // -32768 first
        const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
        ASSERT_EQ(writer.AddAudio(ch, &sound), 0);
    }
    ASSERT_EQ(writer.firstBytes.size(), 1u);
    // Three source channels fill four server channels: the fourth stays silent.
    const auto& audio = writer.lastAudio;
    EXPECT_EQ(audio[3], 0x80);
    EXPECT_EQ(audio[4], 0x00);
    EXPECT_EQ(audio[5], 0x00);
    EXPECT_EQ(audio[3 * 2944 + 3], 0);
}

TEST(DornKorvoWriter, TheLastPictureKeepsTheSamplesTheHostSent)
{
    // 29.97 frames/s: the host's cadence 1602, 1601, ... against the fields' 801 + 801, 801 + 801, 800 + 801: the
    // second picture's fields ask one sample more than the host sent for it.
    RecordingWriter writer;
    ASSERT_EQ(writer.Open("", 4, 0, 2, 16, 1, CTimeCode(), 2), 0);
    const std::vector<uint8_t> picture(10, 1);
    const DornFrame p = Picture(picture);
    for (uint32_t samples : {1602u, 1601u}) {
        ASSERT_EQ(writer.AddPicture(&p), 0);
        const std::vector<uint8_t> audio(samples * 2, 0x11);
        const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_EQ(writer.AddAudio(ch, &sound), 0);
    }
    ASSERT_EQ(writer.Close(false), 0);
    const std::vector<std::vector<uint32_t>> expected = {{801, 801}, {801, 800}};
    EXPECT_EQ(writer.fieldSamples, expected);

    // A picture whose sound never came is filled with silence.
    RecordingWriter silent;
    ASSERT_EQ(silent.Open("", 4, 0, 2, 16, 1, CTimeCode(), 1), 0);
    ASSERT_EQ(silent.AddPicture(&p), 0);
    ASSERT_EQ(silent.Close(false), 0);
    EXPECT_EQ(silent.fieldSamples, (std::vector<std::vector<uint32_t>>{{801, 801}}));
}

TEST(DornKorvoWriter, AudioBeyondItsChannelsOrRoomFails)
{
    RecordingWriter writer;
    ASSERT_EQ(writer.Open("", 3, 0, 2, 24, 1, CTimeCode(), 10), 0);
    std::vector<uint8_t> audio(6000, 0);
    const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
    EXPECT_EQ(writer.AddAudio(2, &sound), 1);
    EXPECT_EQ(writer.AddAudio(-1, &sound), 1);
    EXPECT_EQ(writer.AddAudio(0, &sound), 0);
    EXPECT_EQ(writer.AddAudio(0, &sound), 0);
    testsupport::LogCapture log("");
    EXPECT_EQ(writer.AddAudio(0, &sound), 1);  // 18000 > 17280 bytes pending
    EXPECT_TRUE(log.Has("CDorn_Korvo_Writer::AddAudioFrame - EXCESSIVE Audio Bytes !! [6000 / 17280]"));
}

TEST(DornKorvoWriter, CloseWritesEveryQueuedPictureAndReportsAFailure)
{
    RecordingWriter writer;
    ASSERT_EQ(writer.Open("", 3, 0, 2, 24, 1, CTimeCode(), 10), 0);
    for (uint8_t n = 1; n <= 4; ++n) {
        const std::vector<uint8_t> picture(10, n);
        const DornFrame p = Picture(picture);
        ASSERT_EQ(writer.AddPicture(&p), 0);
    }
    writer.failAt = 2;
    EXPECT_EQ(writer.Close(false), 7);
    EXPECT_EQ(writer.firstBytes, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(writer.GetQueuedPictures(), 0u);

    RecordingWriter cancelled;
    ASSERT_EQ(cancelled.Open("", 3, 0, 2, 24, 1, CTimeCode(), 10), 0);
    const std::vector<uint8_t> picture(10, 9);
    const DornFrame p = Picture(picture);
    ASSERT_EQ(cancelled.AddPicture(&p), 0);
    EXPECT_EQ(cancelled.Close(true), 0);
    EXPECT_TRUE(cancelled.firstBytes.empty());
}

TEST(DornKorvoWriter, MissingClipIdsAreGenerated)
{
    RecordingWriter none("", "", "", "");
    ASSERT_EQ(none.Open("", 3, 0, 0, 24, 1, CTimeCode(), 10), 0);
    std::string louthMain, varMain, louthBackup, varBackup;
    none.GetLouthIdMain(louthMain);
    none.GetVarIdMain(varMain);
    none.GetLouthIdBackup(louthBackup);
    none.GetVarIdBackup(varBackup);
    EXPECT_EQ(louthMain.size(), 8u);
    EXPECT_EQ(varMain, louthMain);
    EXPECT_EQ(varBackup, louthBackup);

    // Only the Louth ids are filled when other ids were given; VarIDs stay, cut to 32.
    RecordingWriter some("", std::string(40, 'v').c_str(), "", "VB");
    ASSERT_EQ(some.Open("", 3, 0, 0, 24, 1, CTimeCode(), 10), 0);
    some.GetLouthIdMain(louthMain);
    some.GetVarIdMain(varMain);
    some.GetVarIdBackup(varBackup);
    EXPECT_EQ(louthMain.size(), 8u);
    EXPECT_EQ(varMain, std::string(32, 'v'));
    EXPECT_EQ(varBackup, "VB");

    RecordingWriter padded("AB", "", "", "");
    ASSERT_EQ(padded.Open("", 3, 0, 0, 24, 1, CTimeCode(), 10), 0);
    padded.GetLouthIdMain(louthMain);
    EXPECT_EQ(louthMain, "AB      ");
}

TEST(DornKorvoWriter, ImxOnlyAtThirtyFortyOrFiftyMegabits)
{
    const auto dir = testsupport::FreshDir("dorn-imx-rate");
    CDorn_KorvoIMX_Writer writer("clip", "MAINID01", "V", "BACKID02", "", 12340, false);
    EXPECT_NE(writer.Open((dir / "a.mxf").c_str(), 3, 45000000, 0, 24, 1, CTimeCode(), 10), 0);
    CDorn_KorvoIMX_Writer measured("clip", "MAINID01", "V", "BACKID02", "", 12340, false);
    ASSERT_EQ(measured.Open((dir / "b.mxf").c_str(), 3, 0, 0, 24, 1, CTimeCode(), 10), 0);
    // A sequence header saying 45 Mb/s (bit_rate_value 112500) is refused.
    std::vector<uint8_t> frame(1000, 0);
    const uint8_t header[] = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x60, 0x33, 0x1B, 0x77, 0x00};
    std::copy(std::begin(header), std::end(header), frame.begin());
    frame[8] = static_cast<uint8_t>(112500 >> 10);
    frame[9] = static_cast<uint8_t>(112500 >> 2);
    frame[10] = static_cast<uint8_t>((112500 & 3) << 6);
    const DornFrame p = Picture(frame);
    EXPECT_EQ(measured.AddPicture(&p), -1);
    EXPECT_EQ(measured.Close(false), 0);
}

}  // namespace

TEST(DornKorvoWriter, TrimmedLengthDropsOnlyTheTrailingZeros)
{
    // Every place of the last nonzero byte around the 32-byte steps, from aligned and odd starts.
    for (size_t start : {0u, 1u, 7u})
        for (uint32_t length = 0; length <= 100; ++length)
            for (uint32_t last = 0; last <= length; ++last) {  // last == 0: all zeros
                std::vector<uint8_t> bytes(start + length, 0);
                if (last > 0)
                    bytes[start + last - 1] = static_cast<uint8_t>(last % 2 ? 0x01 : 0x80);
                ASSERT_EQ(dorncodec::TrimmedLength(bytes.data() + start, length), last)
                    << "start " << start << " length " << length;
            }
}
