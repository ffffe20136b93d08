#pragma once
// Parvex clips written by the project's clip writer from ffmpeg video and known PCM audio, for the data readers'
// tests and benchmark: the pictures, the audio of every field and the interleaved samples a reader must give.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "parvex/MXFId.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace parvexclip
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct ClipSpec {
    const char* pszName;
    uint32_t nBlockFormat;  // KORVOMXF_FORMAT_*
    int nVideoSystem;       // 1 525, 2 625, 4 1080
    int nStandard;          // rate system 3 (25 Hz) or 4 (29.97 Hz)
    int nVideoFormat;       // 1 M-JPEG field, 4 IMX, 9 DV / DVCPRO
    int nBitrate;
    uint8_t nAudioGroups;
    const char* pszMedia;  // in the parvex media folder
    uint32_t nFrameBytes;  // 0: a stream of JPEG fields
    uint32_t nPictures;    // written in a fixed shuffle of the media's pictures
    bool bPackDVCPro;      // pictures go in packed as the servers keep DVCPRO
};

constexpr uint32_t kFirstField = 1000 + 50 * 3600;  // 01:00:00:00 at 25 Hz

inline fs::path MediaDir()
{
    static const fs::path dir = [] {
        const fs::path root = KORVO_TEST_DATA_DIR;
        const std::string command =
            "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-parvex-media").string() + " " + root.string();
        if (std::system(command.c_str()) != 0)
            return fs::path();
        return root / "parvex";
    }();
    return dir;
}

inline Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const fs::path& path, const uint8_t* data, size_t size)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The media's pictures: fixed-size frames, or JPEGs cut at each start-of-image marker.
inline std::vector<Bytes> LoadMedia(const ClipSpec& clipSpec)
{
    const Bytes all = ReadFile(MediaDir() / clipSpec.pszMedia);
    std::vector<Bytes> pictures;
    if (clipSpec.nFrameBytes) {
        for (size_t at = 0; at + clipSpec.nFrameBytes <= all.size(); at += clipSpec.nFrameBytes)
            pictures.emplace_back(all.begin() + at, all.begin() + at + clipSpec.nFrameBytes);
        return pictures;
    }
    size_t start = 0;
    for (size_t i = 1; i + 2 < all.size(); ++i) {
        if (all[i] == 0xFF && all[i + 1] == 0xD8 && all[i + 2] == 0xFF) {
            pictures.emplace_back(all.begin() + start, all.begin() + i);
            start = i;
        }
    }
    if (!all.empty())
        pictures.emplace_back(all.begin() + start, all.end());
    return pictures;
}

inline uint32_t FieldsPerPicture(const ClipSpec& clipSpec)
{
    return clipSpec.nVideoFormat == 4 || clipSpec.nVideoFormat == 8 || clipSpec.nVideoFormat == 9 ? 2 : 1;
}

inline uint32_t BytesPerChannelField(const ClipSpec& clipSpec)
{
    return clipSpec.nStandard == 3 || clipSpec.nStandard == 6 ? 2944 : 2432;
}

// Samples of a field and channel: 960 at 25 Hz, 800 or 801 at 29.97 Hz.
inline uint32_t SampleCount(const ClipSpec& clipSpec, uint32_t field)
{
    return clipSpec.nStandard == 3 || clipSpec.nStandard == 6 ? 960 : 800 + field % 2;
}

inline void Sample(uint32_t field, uint32_t channel, uint32_t s, uint8_t* out)
{
    const uint32_t v = field * 40503u + channel * 2654435761u + s * 7919u;
    out[0] = static_cast<uint8_t>(v >> 16);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v);
}

// One field's audio as the writer takes it: a chunk per channel of a byte, the count and the samples.
inline Bytes FieldAudio(const ClipSpec& clipSpec, uint32_t field)
{
    const uint32_t channels = 4u * clipSpec.nAudioGroups;
    const uint32_t chunk = BytesPerChannelField(clipSpec);
    Bytes audio(size_t{channels} * chunk, 0);
    const uint32_t count = SampleCount(clipSpec, field);
    for (uint32_t c = 0; c < channels; ++c) {
        uint8_t* p = audio.data() + size_t{c} * chunk;
        p[0] = static_cast<uint8_t>(0xA0 + c);
        p[1] = static_cast<uint8_t>(count >> 8);
        p[2] = static_cast<uint8_t>(count);
        for (uint32_t s = 0; s < count; ++s)
            Sample(field, c, s, p + 3 + 3 * s);
    }
    return audio;
}

// The interleaved samples a reader gives for one field.
inline Bytes FieldSamples(const ClipSpec& clipSpec, uint32_t field)
{
    const uint32_t channels = 4u * clipSpec.nAudioGroups;
    const uint32_t count = SampleCount(clipSpec, field);
    Bytes out(size_t{count} * channels * 3);
    for (uint32_t s = 0; s < count; ++s)
        for (uint32_t c = 0; c < channels; ++c)
            Sample(field, c, s, out.data() + (size_t{s} * channels + c) * 3);
    return out;
}

// Writes a clip picture by picture. Pictures() are the bytes stored (packed for DVCPRO), Frames() what the
// media held.
class ClipWriter
{
public:
    explicit ClipWriter(const ClipSpec& clipSpec) : _spec(clipSpec), _media(LoadMedia(clipSpec)) {}

    bool Open(const std::string& path, uint32_t totalPictures)
    {
        if (_media.empty())
            return false;
        KorvoMXFInfo info;
        info._nStandard = _spec.nStandard;
        info._nVideoSystem = _spec.nVideoSystem;
        info._nAspectRatio = 3;
        info._nVideoFormat = _spec.nVideoFormat;
        info._nAudioFormat = 1;
        info._nAudioGroups = _spec.nAudioGroups;
        info._nAudioType = 2;
        info._nBitrate = _spec.nBitrate;
        info._nFirstField = kFirstField;
        info._nOutField = kFirstField + totalPictures * FieldsPerPicture(_spec);
        MXFIdType2 id;
        id.SetSerial(321);
        id.SetSeconds(600000000);
        id.SetCounter(1);
        char text[9];
        info.SetMaterialId(id.Format(text));
        KorvoMXFClip clip;
        clip.SetUmId(text);
        clip._nShortIn = kFirstField;
        clip._nShortOut = info._nOutField;
        clip._nTCSystem = static_cast<uint32_t>(_spec.nStandard);
        clip.SetName("reader test");
        if (_describe)
            _describe(info, clip);
        info.AddClip(clip);
        return _writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, _spec.nBlockFormat) == KORVOMXF_OK &&
               _writer.SetInfo(info) == KORVOMXF_OK && _writer.SetFirstField(kFirstField) == KORVOMXF_OK;
    }

    // The media picture that goes at position i: a fixed shuffle, so neighbours differ.
    const Bytes& MediaPicture(uint32_t i) const
    {
        return _media[(_bInOrder ? i : i * 7 + i / _media.size()) % _media.size()];
    }

    bool Add(uint32_t i)
    {
        const Bytes& frame = MediaPicture(i);
        Bytes stored = frame;
        if (_spec.bPackDVCPro) {
            uint32_t packed = 0;
            stored.assign(frame.size(), 0);
            if (!_helper.PackFrame(frame.data(), static_cast<uint32_t>(frame.size()), stored.data(), &packed))
                return false;
            stored.resize(packed);
        }
        const uint32_t fields = FieldsPerPicture(_spec);
        KorvoMXFVideoInfo video;
        video._nVideoFormat = static_cast<uint32_t>(_spec.nVideoFormat);
        video._nSize = static_cast<uint32_t>(stored.size());
        video._nWidth = _spec.nVideoSystem >= 3 ? 1920 : 720;
        video._nLines = _spec.nVideoSystem == 1 ? 480 : _spec.nVideoSystem == 2 ? 576 : 1080;
        std::vector<KorvoMXFAudioInfo> audioInfo;
        Bytes audio;
        const uint32_t field = kFirstField + i * fields;
        if (_spec.nAudioGroups) {
            for (uint32_t f = 0; f < fields; ++f) {
                const Bytes a = _fieldAudio ? _fieldAudio(field + f) : FieldAudio(_spec, field + f);
                audioInfo.push_back(KorvoMXFAudioInfo{1, static_cast<uint32_t>(a.size()), 4u * _spec.nAudioGroups});
                audio.insert(audio.end(), a.begin(), a.end());
            }
        }
        _stored.push_back(std::move(stored));
        return _writer.AddPicture(1, &video, _stored.back().data(), static_cast<uint32_t>(audioInfo.size()),
                                  audioInfo.data(), audio.data(), 0, nullptr, nullptr) == KORVOMXF_OK;
    }

    bool Close() { return _writer.Close() == KORVOMXF_OK; }

    // Writes a whole clip of the clipSpec's picture count.
    bool WriteAll(const std::string& path)
    {
        if (!Open(path, _spec.nPictures))
            return false;
        for (uint32_t i = 0; i < _spec.nPictures; ++i)
            if (!Add(i))
                return false;
        return Close();
    }

    const std::vector<Bytes>& Stored() const { return _stored; }

    // Changes the clip's description before it is written (names, points, timecodes).
    std::function<void(KorvoMXFInfo&, KorvoMXFClip&)> _describe;
    // The audio of a field, in place of FieldAudio's.
    std::function<Bytes(uint32_t field)> _fieldAudio;
    // The media's pictures in their order, without the shuffle.
    bool _bInOrder = false;

private:
    ClipSpec _spec;
    std::vector<Bytes> _media;
    std::vector<Bytes> _stored;
    CKorvoDVCProHelper _helper;
    KorvoMXFWriter _writer;
};

}  // namespace parvexclip
