// The media writer roads: the IMX pictures written as an OP1a (D-10) file with four sound channels, and
// a DV25 clip written as a QuickTime movie; each file read back by ffprobe/ffmpeg and by the project's
// data readers, every picture and sample compared.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "tools/mainjob/Road.h"
#include "writers/op1a/CIMXMXFWriter.h"
#include "writers/quicktime/CQTDVWriter.h"

namespace mainjob
{
namespace
{

namespace fs = std::filesystem;
constexpr int kChannels = 4;
constexpr int kSamplesPerFrame = 1920;  // 48 kHz at 25 frames per second

// Each channel its own tone.
float SampleAt(int channel, size_t index)
{
    return 0.8f * std::sin(static_cast<float>(index) * (0.02f + 0.005f * static_cast<float>(channel)));
}

// One frame of sound for every channel, and the pointers a writer takes.
struct FrameSound {
    std::vector<std::vector<float>> samples;
    std::vector<const float*> pointers;
    explicit FrameSound(uint32_t frame) : samples(kChannels, std::vector<float>(kSamplesPerFrame))
    {
        for (int ch = 0; ch < kChannels; ++ch) {
            for (int i = 0; i < kSamplesPerFrame; ++i)
                samples[ch][i] = SampleAt(ch, static_cast<size_t>(frame) * kSamplesPerFrame + i);
            pointers.push_back(samples[ch].data());
        }
    }
};

// The sound as ffmpeg copies it out: little-endian words of 16 or 24 bits, of one track or (track -1)
// of every channel interleaved.
std::string ExpectedPcm(int bits, int track)
{
    std::string pcm;
    const int first = track < 0 ? 0 : track;
    const int end = track < 0 ? kChannels : track + 1;
    for (size_t index = 0; index < size_t{kFrames} * kSamplesPerFrame; ++index)
        for (int ch = first; ch < end; ++ch) {
            // The writers round to the nearest integer of the width.
            const auto v =
                static_cast<int32_t>(std::nearbyint(SampleAt(ch, index) * (bits == 16 ? 32767.0 : 8388607.0)));
            for (int b = 0; b < bits / 8; ++b)
                pcm.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
        }
    return pcm;
}

using PictureOf = std::function<std::pair<const uint8_t*, uint32_t>(uint32_t)>;

// Writes every frame with its sound through the writer, timed.
bool WriteMedia(Road& road, CMediaFileWriter& writer, const std::string& path, const MediaWriterClipInfo& info,
                const PictureOf& picture, const std::string& what)
{
    road.StartClock();
    bool ok = writer.Open(path.c_str()) == 0 && writer.Begin(info) == 0;
    for (uint32_t f = 0; ok && f < kFrames; ++f) {
        FrameSound sound(f);
        const auto [data, size] = picture(f);
        ok = writer.AddFrame(data, size, sound.pointers.data(), kSamplesPerFrame, kChannels) == 0;
    }
    ok = writer.Close() == 0 && ok;
    road.StopClock();
    road.Moved(kFrames, fs::exists(path) ? fs::file_size(path) : 0);
    return road.Check(ok, what + " writes " + path);
}

// ffprobe's values of the first video stream, comma-separated, on one line.
std::string ProbeVideo(const std::string& path, const std::string& entries)
{
    const std::string probe =
        Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + entries + " -of csv=p=0 '" +
              path + "' 2>&1");
    std::string line = probe.substr(0, probe.find('\n'));
    // Some containers add empty fields.
    while (!line.empty() && line.back() == ',')
        line.pop_back();
    return line;
}

// Detects the file's type and reads its video units forwards; how many of the kFrames the comparison finds equal.
uint32_t EqualUnits(Road& road, const std::string& path, FileType expected, size_t bufferSize,
                    const std::function<bool(uint32_t, const uint8_t*, uint32_t)>& equal)
{
    int32_t videoType = 0;
    FileType type = GetFileTypeFromSource(path.c_str(), &videoType);
    road.Check(type == expected, std::string("detected as ") + FileTypeName(type) + ", " + VideoTypeName(videoType));
    std::unique_ptr<CDataReader> reader = CreateDataReader(path.c_str(), type, Video_Data);
    Bytes buffer(bufferSize);
    uint32_t same = 0;
    for (uint32_t f = 0; reader && f < kFrames; ++f) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = 0;
        if (reader->GetNextData(&p, static_cast<uint32_t>(buffer.size()), &size, &seconds) != 0)
            break;
        same += equal(f, p, size) ? 1 : 0;
    }
    return same;
}

}  // namespace

void Op1aRoad(Road& road, Media& media)
{
    if (!HaveInput(road, media, media.imxPictures.size() == kFrames,
                   "no IMX pictures to write (the clip-file road failed)"))
        return;
    // The writer assembles its files from three sample files.
    fs::path samples = media.work / "imx-samples";
    int rc = 0;
    Shell("/usr/bin/python3 '" KORVO_SOURCE_DIR "/tools/make-imx-samples' '" + samples.string() + "' 2>&1", &rc);
    if (!road.Check(rc == 0, "the IMX sample files made in " + samples.string()))
        return;
    const std::string path = (media.work / "MAINJOB_OP1A.mxf").string();
    CIMXMXFWriter writer(24, (samples.string() + "/").c_str(), 0);
    MediaWriterClipInfo info;
    info.standardCode = 3;
    info.videoBitRate = 50000000;
    info.aspectCode = 2;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    auto picture = [&media](uint32_t f) {
        return std::make_pair(static_cast<const uint8_t*>(media.imxPictures[f].data()),
                              static_cast<uint32_t>(media.imxPictures[f].size()));
    };
    if (!WriteMedia(road, writer, path, info, picture, "the OP1a writer (IMX 50, 4 x 24-bit sound)"))
        return;

    if (HaveProgram("ffprobe")) {
        const std::string probe = ProbeVideo(path, "codec_name,nb_read_frames");
        road.Check(probe == "mpeg2video," + std::to_string(kFrames), "ffprobe reads " + probe);
        road.Check(
            Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -c:a copy -f s24le -") == ExpectedPcm(24, -1),
            "ffmpeg copies out the sound of the 4 channels unchanged");
    } else {
        std::printf("  note   ffprobe not installed: the file is checked by the project's readers only\n");
    }

    // The writer sets the sequence header's aspect ratio and the GOP time code; the rest is the picture.
    const uint32_t same =
        EqualUnits(road, path, IMX_File, 400000, [&media](uint32_t f, const uint8_t* p, uint32_t size) {
            const Bytes& given = media.imxPictures[f];
            return size >= given.size() && std::memcmp(p + 40, given.data() + 40, given.size() - 40) == 0;
        });
    road.Check(same == kFrames,
               "the OP1a video reader gives " + std::to_string(same) + " pictures equal to the source");
}

void QuickTimeRoad(Road& road, Media& media)
{
    if (!HaveProgram("ffmpeg")) {
        road.Skip("ffmpeg not installed: no DV25 source to write");
        return;
    }
    const fs::path dif = media.work / "source.dif";
    int rc = 0;
    Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=720x576:r=25 -frames:v " + std::to_string(kFrames) +
              " -c:v dvvideo -pix_fmt yuv420p -f rawvideo '" + dif.string() + "' 2>&1",
          &rc);
    const Bytes video = ReadAll(dif);
    if (!road.Check(rc == 0 && video.size() == kFrames * kDv25FrameSize,
                    "ffmpeg makes " + std::to_string(kFrames) + " frames of DV25 (625 lines, 4:2:0)"))
        return;

    const std::string path = (media.work / "MAINJOB_DV25.mov").string();
    CQTDVWriter writer(0, true, false);
    MediaWriterClipInfo info;
    info.standardCode = 3;
    info.dvKind = 0;
    info.audioChannels = kChannels;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    auto picture = [&video](uint32_t f) { return std::make_pair(video.data() + f * kDv25FrameSize, kDv25FrameSize); };
    if (!WriteMedia(road, writer, path, info, picture, "the QuickTime DV writer (DV25, 4 mono tracks)"))
        return;

    if (HaveProgram("ffprobe")) {
        const std::string probe = ProbeVideo(path, "codec_name,nb_read_frames");
        road.Check(probe == "dvvideo," + std::to_string(kFrames), "ffprobe reads " + probe);
    }
    road.Check(Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v -c copy -f rawvideo -") ==
                   std::string(video.begin(), video.end()),
               "ffmpeg copies out the DV frames unchanged");
    int sameTracks = 0;
    for (int t = 0; t < kChannels; ++t)
        sameTracks += Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:" + std::to_string(t) +
                            " -c copy -f s16le -") == ExpectedPcm(16, t);
    road.Check(sameTracks == kChannels, std::to_string(sameTracks) + " of 4 sound tracks copied out unchanged");

    const uint32_t same =
        EqualUnits(road, path, QTDV_File, 2 * kDv25FrameSize, [&video](uint32_t f, const uint8_t* p, uint32_t size) {
            return size == kDv25FrameSize && std::memcmp(p, video.data() + f * kDv25FrameSize, size) == 0;
        });
    road.Check(same == kFrames,
               "the QuickTime video reader gives " + std::to_string(same) + " DV frames equal to the source");
}

}  // namespace mainjob
