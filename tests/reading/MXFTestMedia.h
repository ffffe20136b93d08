#pragma once
// The ffmpeg-made MXF media of the reader tests, what ffprobe says about them, and walks over a reader.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "reading/framework/CDataReader.h"
#include "reading/framework/SourceReaderFactory.h"

namespace mxftest
{

namespace fs = std::filesystem;

// The media folder, made once per build tree by tools/make-mxf-media.
inline const fs::path& MediaDir()
{
    static const fs::path dir = [] {
        const fs::path d = fs::path(KORVO_TEST_DATA_DIR) / "mxf";
        const std::string command =
            "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-mxf-media").string() + " " + d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir;
}

inline std::string Media(const std::string& name)
{
    return (MediaDir() / (name + ".mxf")).string();
}

inline std::string Run(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            out += line;
        pclose(pipe);
    }
    return out;
}

// Packet sizes of one stream as ffprobe reads them.
inline std::vector<uint32_t> ProbePacketSizes(const std::string& path, int stream)
{
    const std::string out = Run("ffprobe -v error -select_streams " + std::to_string(stream) +
                                " -show_entries packet=size -of csv=p=0 " + path);
    std::vector<uint32_t> sizes;
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        if (!line.empty())
            sizes.push_back(static_cast<uint32_t>(std::stoul(line)));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return sizes;
}

inline std::string ProbeTimecode(const std::string& path)
{
    std::string out = Run("ffprobe -v error -show_entries format_tags=timecode -of default=nw=1:nk=1 " + path);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

template <typename Reader>
std::unique_ptr<Reader> OpenReader(const std::string& path, int32_t* result)
{
    auto reader = std::make_unique<Reader>("");
    auto source = CreateSourceReader(path.c_str(), 0, 0, "");
    EXPECT_TRUE(source) << path;
    *result = reader->AttachSourceReader(std::move(source), 0);
    return reader;
}

struct Unit {
    std::vector<uint8_t> bytes;
    double dSeconds = 0;
    bool operator==(const Unit& other) const { return bytes == other.bytes; }
};

// Every unit from the reader's position to the end (forwards) or the start (backwards), read into a buffer of
// the given size; the last result is kept.
inline std::vector<Unit> ReadAll(CDataReader& reader, bool forwards, uint32_t room, int32_t* last,
                                 size_t limit = 100000)
{
    std::vector<Unit> units;
    std::vector<uint8_t> buffer(room);
    for (size_t i = 0; i < limit; ++i) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = -1;
        *last =
            forwards ? reader.GetNextData(&p, room, &size, &seconds) : reader.GetPrevData(&p, room, &size, &seconds);
        if (*last != 0)
            break;
        units.push_back({std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), seconds});
    }
    return units;
}

// A copy of a medium that keeps only its first bytes (keep > 0) or loses its last -keep bytes, as a transfer cut
// short leaves it; named after the medium in the test root.
inline std::string CutCopy(const std::string& name, int64_t keep, const fs::path& root)
{
    const fs::path from = Media(name);
    const int64_t size = static_cast<int64_t>(fs::file_size(from));
    const fs::path to = root / (name + "_cut.mxf");
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::resize_file(to, static_cast<uintmax_t>(keep > 0 ? keep : size + keep));
    return to.string();
}

// HH:MM:SS:FF of a frame count at a whole frame rate (non-drop).
inline std::string FramesToText(int64_t frames, int64_t rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", static_cast<long long>(frames / (3600 * rate)),
                  static_cast<long long>(frames / (60 * rate) % 60), static_cast<long long>(frames / rate % 60),
                  static_cast<long long>(frames % rate));
    return text;
}

}  // namespace mxftest
