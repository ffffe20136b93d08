#pragma once
// Test media of the media writer tests: the IMX sample files from tools/make-imx-samples, MPEG-2 IMX and DV
// elementary streams from ffmpeg (cached in the build tree), and what the independent tools say.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FileTestKit.h"

namespace writertest
{

namespace fs = std::filesystem;

// What a command prints on its standard output, bytes as they come.
inline std::string Shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

inline fs::path MediaDir()
{
    fs::path dir = fs::path(KORVO_TEST_DATA_DIR) / "writers";
    fs::create_directories(dir);
    return dir;
}

// The folder of the three IMX sample files, made once per build tree.
inline const fs::path& SampleDir()
{
    static const fs::path dir = [] {
        const fs::path d = MediaDir() / "imx-samples";
        const std::string command = "/usr/bin/python3 " +
                                    (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-imx-samples").string() + " " +
                                    d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir;
}

// Makes a file with ffmpeg once (under a temporary name, then renamed).
inline fs::path Cached(const std::string& name, const std::string& arguments)
{
    const fs::path out = MediaDir() / name;
    if (!fs::exists(out)) {
        const fs::path tmp = MediaDir() / ("." + name + "." + std::to_string(::getpid()));
        const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " " + tmp.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        fs::rename(tmp, out);
    }
    return out;
}

// Intra 4:2:2 MPEG-2 frames as IMX carries them, at 30, 40 or 50 Mb/s, 625 (25) or 525 (29.97).
inline fs::path ImxEssence(int mbps, bool is625, int frames)
{
    const std::string rate = std::to_string(mbps) + "M";
    std::string minrate = rate;
    if (!is625 && mbps == 50)
        minrate = "49999850";
    if (!is625 && mbps == 40)
        minrate = "39999930";
    const std::string buffer = std::to_string(mbps * 40000);
    const std::string args = std::string("-f lavfi -i testsrc2=s=720x") + (is625 ? "608:r=25" : "512:r=30000/1001") +
                             " -frames:v " + std::to_string(frames) +
                             " -c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v " + rate +
                             " -minrate " + minrate + " -maxrate " + rate + " -bufsize " + buffer +
                             " -rc_init_occupancy " + buffer + " -f mpeg2video";
    return Cached("imx" + std::to_string(mbps) + (is625 ? "p" : "n") + "_" + std::to_string(frames) + ".m2v", args);
}

// Splits an MPEG-2 elementary stream into frames at its sequence headers.
inline std::vector<std::string> SplitFrames(const std::string& stream)
{
    std::vector<std::string> frames;
    const std::string start("\x00\x00\x01\xB3", 4);
    size_t at = stream.find(start);
    while (at != std::string::npos) {
        size_t next = stream.find(start, at + 4);
        frames.push_back(stream.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return frames;
}

inline std::string Trim(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace writertest
