#pragma once

// The codec families the main job carries along every road: one short clip of each, made once by ffmpeg and the
// project's clip writer, and what the roads check the media they give back against.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mainjob/Road.h"

namespace mainjob
{

struct Codec {
    const char* name;        // as the road lines name it
    const char* key;         // its folder under the work folder
    const char* ffmpeg;      // ffmpeg's input and encoder arguments
    const char* format;      // ffmpeg's demuxer of the elementary stream
    const char* dataType;    // the job's KorvoDataType
    const char* compressor;  // the composition's compressor name for a playout
    uint32_t unitBytes;      // one stored unit: a frame, or a field for VC-3
    uint32_t unitsPerFrame;
    uint32_t frames;
    int videoSystem;  // 1 525, 2 625, 4 1080
    int standard;     // 3 25 Hz, 4 29.97 Hz
    int videoFormat;  // 4 IMX, 5 VC-3, 9 DV
    int bitrate;
    uint8_t audioGroups;    // 4 tracks each
    bool pack;              // DVCPRO pictures go in packed, as the servers keep them
    int aspect;             // 2 4:3, 3 16:9
    int bits;               // the sound width the operator asks for
    uint16_t start[4];      // start timecode
    const char* mediaType;  // a playout to a media file: its TGT-Type, or null for none
    const char* mediaExtension;
    // The server's clip table.
    int tableCodec;
    int tableFormat;
    int tableAudioMode;

    uint32_t Tracks() const { return 4u * audioGroups; }
    uint32_t FieldsPerUnit() const { return unitsPerFrame == 1 ? 2 : 1; }
    bool Ntsc() const { return standard == 4; }
    uint32_t FirstField() const;
};

extern const std::vector<Codec> kCodecs;

// One codec's source: the stream ffmpeg made, the clip file written from it, the samples of every track.
struct Source {
    const Codec* codec = nullptr;
    std::filesystem::path dir;
    std::filesystem::path stream;           // the elementary stream
    std::filesystem::path clip;             // the Parvex clip file (8 MB blocks)
    std::vector<Bytes> frames;              // each frame as ffmpeg made it
    std::vector<std::string> md5;           // ffmpeg's framemd5 of each frame
    std::string aspect;                     // ffprobe's display aspect ratio
    uint32_t trimFirst = 0, trimCount = 0;  // the clip's short points, in frames
    bool made = false;
};

// The sample (24-bit) of a track (0-based) at a field and position, as the clip file holds it.
uint32_t SourceSample(uint32_t field, uint32_t track, uint32_t index);
// Samples of one field and track.
uint32_t FieldSamples(const Codec& codec, uint32_t field);
// ffmpeg's stream of a codec in its folder under the work folder; ffmpeg's exit code.
int EncodeStream(const Codec& codec, const std::filesystem::path& work);
// Makes the source of a codec from its stream (encoded with the exit code given); checks go to the road.
void MakeSource(Road& road, Source& source, const std::filesystem::path& work, int encoded);

// ffmpeg's framemd5 of each picture of a file, with ffmpeg's input options (a demuxer, or none for a container).
std::vector<std::string> FrameMd5(const std::string& inputOptions, const std::filesystem::path& file);
// ffprobe's display aspect ratio of the first video stream.
std::string DisplayAspect(const std::string& inputOptions, const std::filesystem::path& file);
// The little-endian PCM of a track's samples for frames [first, first + count), at the width.
Bytes TrackPcm(const Source& source, uint32_t track, uint32_t first, uint32_t count, int bits);
// "hh:mm:ss:ff" of a frame of the clip, with the separators ffmpeg and the jobs use (";" before frames when drop).
std::string TimecodeAt(const Codec& codec, uint32_t frame);
// Digits only: the separators differ between tools.
std::string Digits(const std::string& text);

}  // namespace mainjob
