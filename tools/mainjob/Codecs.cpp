#include "tools/mainjob/Codecs.h"

#include <cstdio>

#include "parvex/MXFId.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace mainjob
{

namespace fs = std::filesystem;

namespace
{

constexpr const char* kImx = "-c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1";

// Frames since midnight of a timecode; 29.97 counts drop-frame labels.
uint32_t FrameCount(const Codec& codec, const uint16_t tc[4])
{
    const uint32_t fps = codec.Ntsc() ? 30 : 25;
    uint32_t frames = ((tc[0] * 60u + tc[1]) * 60u + tc[2]) * fps + tc[3];
    if (codec.Ntsc()) {
        const uint32_t minutes = tc[0] * 60u + tc[1];
        frames -= 2 * (minutes - minutes / 10);
    }
    return frames;
}

}  // namespace

// name, key, ffmpeg, demuxer, data type, compressor, unit bytes, units per frame, frames, video system, standard,
// video format, bit rate, audio groups, packed, aspect, sound bits, start, media type and extension, clip table
const std::vector<Codec> kCodecs = {
    {"IMX 50",
     "imx50",
     "-f lavfi -i testsrc2=s=720x608:r=25 -aspect 4:3 %IMX% -b:v 50M -minrate 50M -maxrate 50M -bufsize 2000000 "
     "-rc_init_occupancy 2000000 -f mpeg2video",
     "mpegvideo",
     "IMX",
     "Mirel::MPEG2::50",
     250000,
     1,
     25,
     2,
     3,
     4,
     50,
     1,
     false,
     2,
     24,
     {10, 0, 0, 0},
     "MXF_OP1A",
     ".mxf",
     3,
     1,
     3},
    {"IMX 30",
     "imx30",
     "-f lavfi -i testsrc2=s=720x512:r=30000/1001 -aspect 4:3 %IMX% -b:v 30M -minrate 30M -maxrate 30M "
     "-bufsize 1200000 -rc_init_occupancy 1200000 -f mpeg2video",
     "mpegvideo",
     "IMX",
     "Mirel::MPEG2::30",
     125125,
     1,
     30,
     1,
     4,
     4,
     30,
     2,
     false,
     2,
     16,
     {1, 9, 59, 28},
     "MXF_OP1A",
     ".mxf",
     3,
     4,
     4},
    {"DVCPRO 50", "dvcpro50", "-f lavfi -i testsrc2=s=720x576:r=25 -aspect 16:9 -pix_fmt yuv422p -c:v dvvideo -f dv",
     "dv",        "DVCPro",   "Mirel::DVCPRO::50",
     288000,      1,          25,
     2,           3,          9,
     50,          1,          true,
     3,           24,         {11, 22, 33, 12},
     nullptr,     nullptr,    7,
     1,           3},
    {"DVCPRO HD", "dvcprohd", "-f lavfi -i testsrc2=s=1440x1080:r=25 -pix_fmt yuv422p -c:v dvvideo -f dv",
     "dv",        "DVCPro",   "Mirel::DVCPRO::100",
     576000,      1,          25,
     4,           3,          9,
     100,         2,          true,
     3,           24,         {12, 0, 0, 0},
     nullptr,     nullptr,    7,
     0x21,        4},
    {"VC-3",
     "vc3",
     "-f lavfi -i testsrc2=s=1920x1080:r=25 -pix_fmt yuv422p -c:v dnxhd -b:v 120M -flags +ildct -f dnxhd",
     "dnxhd",
     "Hydrel",
     "Mirel::HD1080i::Hydrel",
     0x4A000,
     2,
     25,
     4,
     3,
     5,
     120,
     2,
     false,
     3,
     24,
     {13, 0, 0, 0},
     nullptr,
     nullptr,
     4,
     0x21,
     4},
};

uint32_t Codec::FirstField() const
{
    return 2 * FrameCount(*this, start);
}

uint32_t SourceSample(uint32_t field, uint32_t track, uint32_t index)
{
    return (field * 40503u + track * 2654435761u + index * 7919u) & 0xFFFFFF;
}

uint32_t FieldSamples(const Codec& codec, uint32_t field)
{
    // 8008 samples every 5 frames at 29.97 Hz.
    static const uint32_t kNtsc[10] = {801, 801, 801, 800, 801, 800, 801, 801, 801, 801};
    return codec.Ntsc() ? kNtsc[field % 10] : 960;
}

std::string TimecodeAt(const Codec& codec, uint32_t frame)
{
    uint32_t n = FrameCount(codec, codec.start) + frame;
    const uint32_t fps = codec.Ntsc() ? 30 : 25;
    if (codec.Ntsc()) {
        const uint32_t d = n / 17982, m = n % 17982;
        n += 18 * d + (m < 2 ? 0 : 2 * ((m - 2) / 1798));
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", n / (fps * 3600), n / (fps * 60) % 60, n / fps % 60,
                  codec.Ntsc() ? ';' : ':', n % fps);
    return text;
}

std::string Digits(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9')
            digits += c;
    return digits;
}

std::vector<std::string> FrameMd5(const std::string& inputOptions, const fs::path& file)
{
    const std::string text = Shell("ffmpeg -nostdin -v error " + inputOptions + " -i '" + file.string() +
                                   "' -map 0:v:0 -f framemd5 - 2>/dev/null | grep -v '^#' | awk -F, '{print $6}'");
    std::vector<std::string> hashes;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos)
            hashes.push_back(line.substr(first));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return hashes;
}

std::string DisplayAspect(const std::string& inputOptions, const fs::path& file)
{
    const std::string text = Shell("ffprobe -v error " + inputOptions +
                                   " -select_streams v:0 -show_entries "
                                   "stream=display_aspect_ratio -of csv=p=0 '" +
                                   file.string() + "' 2>/dev/null");
    return text.substr(0, text.find_first_of(",\n"));
}

Bytes TrackPcm(const Source& source, uint32_t track, uint32_t first, uint32_t count, int bits)
{
    const Codec& codec = *source.codec;
    Bytes pcm;
    for (uint32_t field = codec.FirstField() + 2 * first; field < codec.FirstField() + 2 * (first + count); ++field)
        for (uint32_t i = 0; i < FieldSamples(codec, field); ++i) {
            const uint32_t v = SourceSample(field, track, i);
            if (bits == 24)
                pcm.push_back(static_cast<uint8_t>(v));
            pcm.push_back(static_cast<uint8_t>(v >> 8));
            pcm.push_back(static_cast<uint8_t>(v >> 16));
        }
    return pcm;
}

namespace
{

// Writes the clip file: every unit with the sound of its fields, the short points on the trimmed range.
bool WriteClip(const Source& source)
{
    const Codec& codec = *source.codec;
    KorvoMXFInfo info;
    info._nStandard = codec.standard;
    info._nVideoSystem = codec.videoSystem;
    info._nAspectRatio = codec.aspect;
    info._nVideoFormat = codec.videoFormat;
    info._nAudioFormat = 1;
    info._nAudioGroups = codec.audioGroups;
    info._nAudioType = 2;
    info._nBitrate = codec.bitrate;
    info._nFirstField = codec.FirstField();
    info._nOutField = codec.FirstField() + 2 * codec.frames;
    MXFIdType2 id;
    id.SetSerial(4242);
    id.SetSeconds(600000000);
    id.SetCounter(static_cast<uint32_t>(&codec - kCodecs.data()) + 1);
    char material[9];
    info.SetMaterialId(id.Format(material));
    KorvoMXFClip clip;
    clip.SetUmId(material);
    clip.SetName(codec.key);
    clip._nShortIn = codec.FirstField() + 2 * source.trimFirst;
    clip._nShortOut = codec.FirstField() + 2 * (source.trimFirst + source.trimCount);
    clip._nTCSystem = static_cast<uint32_t>(codec.standard);
    if (info.AddClip(clip) != KORVOMXF_OK)
        return false;
    KorvoMXFWriter writer;
    if (writer.Open(source.clip.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_BAVD_8MB) != KORVOMXF_OK ||
        writer.SetInfo(info) != KORVOMXF_OK || writer.SetFirstField(codec.FirstField()) != KORVOMXF_OK)
        return false;
    CKorvoDVCProHelper helper;
    const uint32_t chunk = codec.Ntsc() ? 2432 : 2944;
    for (uint32_t f = 0; f < codec.frames; ++f)
        for (uint32_t u = 0; u < codec.unitsPerFrame; ++u) {
            Bytes stored(source.frames[f].begin() + u * codec.unitBytes,
                         source.frames[f].begin() + (u + 1) * codec.unitBytes);
            if (codec.pack) {
                uint32_t packed = 0;
                Bytes out(stored.size(), 0);
                if (!helper.PackFrame(stored.data(), static_cast<uint32_t>(stored.size()), out.data(), &packed))
                    return false;
                out.resize(packed);
                stored = std::move(out);
            }
            KorvoMXFVideoInfo video;
            video._nVideoFormat = static_cast<uint32_t>(codec.videoFormat);
            video._nSize = static_cast<uint32_t>(stored.size());
            video._nWidth = codec.videoSystem == 4 ? 1920 : 720;
            video._nLines = codec.videoSystem == 1 ? 512 : codec.videoSystem == 2 ? 608 : 1080;
            const uint32_t fields = codec.FieldsPerUnit();
            const uint32_t firstField = codec.FirstField() + 2 * f + u;
            std::vector<KorvoMXFAudioInfo> audioInfo;
            Bytes audio;
            for (uint32_t k = 0; k < fields; ++k) {
                const uint32_t field = firstField + k;
                Bytes a(size_t{codec.Tracks()} * chunk, 0);
                const uint32_t count = FieldSamples(codec, field);
                for (uint32_t c = 0; c < codec.Tracks(); ++c) {
                    uint8_t* p = a.data() + size_t{c} * chunk;
                    p[0] = static_cast<uint8_t>(0xA0 + c);
                    p[1] = static_cast<uint8_t>(count >> 8);
                    p[2] = static_cast<uint8_t>(count);
                    for (uint32_t s = 0; s < count; ++s) {
                        const uint32_t v = SourceSample(field, c, s);
                        p[3 + 3 * s] = static_cast<uint8_t>(v >> 16);
                        p[4 + 3 * s] = static_cast<uint8_t>(v >> 8);
                        p[5 + 3 * s] = static_cast<uint8_t>(v);
                    }
                }
                audioInfo.push_back(KorvoMXFAudioInfo{1, static_cast<uint32_t>(a.size()), codec.Tracks()});
                audio.insert(audio.end(), a.begin(), a.end());
            }
            if (writer.AddPicture(1, &video, stored.data(), static_cast<uint32_t>(audioInfo.size()), audioInfo.data(),
                                  audio.data(), 0, nullptr, nullptr) != KORVOMXF_OK)
                return false;
        }
    return writer.Close() == KORVOMXF_OK;
}

}  // namespace

int EncodeStream(const Codec& codec, const fs::path& work)
{
    const fs::path dir = work / codec.key;
    fs::create_directories(dir);
    std::string args = codec.ffmpeg;
    if (const size_t at = args.find("%IMX%"); at != std::string::npos)
        args.replace(at, 5, kImx);
    int rc = 0;
    Shell("ffmpeg -nostdin -v error -y -threads 2 " + args + " -frames:v " + std::to_string(codec.frames) + " '" +
              (dir / (std::string("source.") + codec.format)).string() + "' 2>&1",
          &rc);
    return rc;
}

void MakeSource(Road& road, Source& source, const fs::path& work, int encoded)
{
    const Codec& codec = *source.codec;
    source.dir = work / codec.key;
    source.stream = source.dir / (std::string("source.") + codec.format);
    source.clip = source.dir / "CLIP.MXF";
    road.StartClock();
    const Bytes all = ReadAll(source.stream);
    const size_t frameBytes = size_t{codec.unitBytes} * codec.unitsPerFrame;
    for (size_t at = 0; at + frameBytes <= all.size(); at += frameBytes)
        source.frames.emplace_back(all.begin() + static_cast<long>(at),
                                   all.begin() + static_cast<long>(at + frameBytes));
    if (!road.Check(encoded == 0 && source.frames.size() == codec.frames && all.size() == frameBytes * codec.frames,
                    "ffmpeg makes " + std::to_string(source.frames.size()) + " frames of " +
                        std::to_string(frameBytes) + " bytes"))
        return;
    source.md5 = FrameMd5(std::string("-f ") + codec.format, source.stream);
    source.aspect = DisplayAspect(std::string("-f ") + codec.format, source.stream);
    road.Check(source.md5.size() == codec.frames && !source.aspect.empty(),
               "ffmpeg decodes " + std::to_string(source.md5.size()) + " pictures, aspect " + source.aspect);
    source.trimFirst = 3;
    source.trimCount = codec.frames - 7;
    const bool written = WriteClip(source);
    road.StopClock();
    road.Moved(codec.frames, fs::exists(source.clip) ? fs::file_size(source.clip) : 0);
    source.made = road.Check(written, "the clip writer writes " + source.clip.string() + " (8 MB blocks, " +
                                          std::to_string(codec.Tracks()) + " tracks, starting " + TimecodeAt(codec, 0) +
                                          ", short points on frames " + std::to_string(source.trimFirst) + " to " +
                                          std::to_string(source.trimFirst + source.trimCount) + ")") &&
                  source.md5.size() == codec.frames;
}

}  // namespace mainjob
