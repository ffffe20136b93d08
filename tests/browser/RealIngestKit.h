#pragma once
// The browser's requests carried out by the real pieces: the request library libAmbrel.so starts the transfer
// service tessan, which loads the receiver plug-in libRecalo.so. The clip is written by the project's clip writer;
// what the service wrote is checked against it: the pictures by ffmpeg's framemd5, every sound sample exactly.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "tests/reading/ParvexClipKit.h"

namespace realingest
{

namespace fs = std::filesystem;
using parvexclip::Bytes;

// IMX 50 at 25 Hz, 8 MB blocks, two audio groups (8 tracks), 40 pictures: more than one block of either size.
constexpr parvexclip::ClipSpec kClip{"Imx50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 40, false};

// Points the request library at the real service and receiver, its media under out.
inline void UseRealService(const fs::path& out)
{
    unsetenv("AMBREL_BACKEND");
    unsetenv("AMBREL_SCRIPT");
    setenv("AMBREL_TESSAN", KORVO_TESSAN_PROGRAM, 1);
    setenv("AMBREL_RECEIVER", KORVO_RECALO_LIBRARY, 1);
    setenv("AMBREL_OUT", out.c_str(), 1);
}

inline void ForgetRealService()
{
    for (const char* name : {"AMBREL_TESSAN", "AMBREL_RECEIVER", "AMBREL_OUT"})
        unsetenv(name);
}

// ffmpeg's framemd5 hashes of an MPEG-2 elementary stream, one per picture.
inline std::vector<std::string> FrameMd5(const fs::path& file)
{
    const std::string command =
        "ffmpeg -nostdin -v error -f mpegvideo -i '" + file.string() + "' -map 0:v -f framemd5 - 2>&1";
    std::vector<std::string> hashes;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return hashes;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string text(line);
        const size_t comma = text.rfind(',');
        if (!text.empty() && text[0] != '#' && comma != std::string::npos)
            hashes.push_back(text.substr(comma + 1, text.find_last_not_of(" \r\n") - comma));
    }
    pclose(pipe);
    return hashes;
}

// The media folder holds exactly pictures [first, first + count) of the clip.
inline void ExpectPictures(const parvexclip::ClipWriter& writer, const fs::path& media, uint32_t first, uint32_t count)
{
    Bytes source;
    for (uint32_t i = first; i < first + count; ++i)
        source.insert(source.end(), writer.MediaPicture(i).begin(), writer.MediaPicture(i).end());
    const fs::path sourceFile = media.parent_path() / (media.filename().string() + "-source.m2v");
    parvexclip::WriteFile(sourceFile, source.data(), source.size());
    const auto want = FrameMd5(sourceFile);
    ASSERT_EQ(want.size(), count);
    EXPECT_EQ(FrameMd5(media / "video.m2v"), want) << media;
}

// The media folder holds exactly pictures [first, first + count) of the clip and their sound, 24-bit.
inline void ExpectMedia(const parvexclip::ClipWriter& writer, const fs::path& media, uint32_t first, uint32_t count)
{
    ExpectPictures(writer, media, first, count);
    const uint32_t tracks = 4u * kClip.nAudioGroups;
    for (uint32_t t = 1; t <= tracks; ++t) {
        Bytes expected;
        for (uint32_t field = parvexclip::kFirstField + 2 * first;
             field < parvexclip::kFirstField + 2 * (first + count); ++field) {
            for (uint32_t s = 0; s < parvexclip::SampleCount(kClip, field); ++s) {
                uint8_t big[3];
                parvexclip::Sample(field, t - 1, s, big);
                expected.insert(expected.end(), {big[2], big[1], big[0]});
            }
        }
        tessan::CWavReader wav;
        ASSERT_TRUE(wav.Load((media / tessan::AudioName(static_cast<int32_t>(t))).string())) << wav.Error();
        ASSERT_EQ(wav.Bits(), 24);
        ASSERT_EQ(wav.Samples(), expected.size() / 3) << "track " << t;
        Bytes got;
        ASSERT_TRUE(wav.Take(0, static_cast<uint32_t>(wav.Samples()), got));
        EXPECT_TRUE(got == expected) << "track " << t;
    }
}

// What the manifest of a media folder records as the result.
inline std::string ManifestResult(const fs::path& media)
{
    std::ifstream in(media / "manifest.xml");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const size_t at = text.rfind("<result ");
    return at == std::string::npos ? std::string() : text.substr(at, text.find('>', at) - at + 1);
}

}  // namespace realingest
