#pragma once
// Test media of the format readers: the files ffmpeg makes (tools/make-format-media, once per build tree), what
// ffprobe says of them, and readers opened on files.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "reading/framework/CDataReader.h"
#include "reading/framework/SourceReaderFactory.h"

namespace formatmedia
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline fs::path MediaDir()
{
    static const fs::path dir = [] {
        const fs::path d = fs::path(KORVO_TEST_DATA_DIR) / "formats";
        const std::string command =
            "bash " + (fs::path(KORVO_SOURCE_DIR) / "tools" / "make-format-media").string() + " " + d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir;
}

inline fs::path Media(const std::string& name)
{
    return MediaDir() / name;
}

inline Bytes ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Packet {
    uint32_t nSize;
    uint64_t nPos;
    bool bKey;
};

// The packets ffprobe lists for the first video ("v") or sound ("a") stream of a generated file.
inline std::vector<Packet> ProbedPackets(const std::string& name, const char* kind)
{
    std::ifstream in(Media(name).string() + "." + kind);
    std::vector<Packet> packets;
    Packet packet{};
    std::string flags;
    while (in >> packet.nSize >> packet.nPos >> flags) {
        packet.bKey = flags[0] == 'K';
        packets.push_back(packet);
    }
    return packets;
}

inline std::vector<uint32_t> ProbedSizes(const std::string& name, const char* kind)
{
    std::vector<uint32_t> sizes;
    for (const Packet& packet : ProbedPackets(name, kind))
        sizes.push_back(packet.nSize);
    return sizes;
}

// The start timecode ffprobe shows, "" when none.
inline std::string ProbedTimecode(const std::string& name)
{
    std::ifstream in(Media(name).string() + ".tc");
    std::string line;
    std::getline(in, line);
    return line;
}

// A test name made of a file name.
inline std::string ParamName(const std::string& file)
{
    std::string name = file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// A reader of the class on the file, opened as the factory opens it; null when Open fails (result in *result).
template <typename Reader, typename... Args>
std::unique_ptr<Reader> OpenReader(const fs::path& path, int32_t* result, Args... args)
{
    auto reader = std::make_unique<Reader>(args...);
    auto source = CreateSourceReader(path.string().c_str(), 0, 0, "");
    EXPECT_TRUE(source) << path;
    *result = reader->AttachSourceReader(std::move(source), 1);
    return *result == 0 ? std::move(reader) : nullptr;
}

// Every unit forwards from where the reader stands, then every unit backwards from the end.
struct Walk {
    std::vector<Bytes> units;
    std::vector<double> seconds;
};

inline Walk WalkForwards(CDataReader& reader, uint32_t capacity)
{
    Walk walk;
    Bytes buffer(capacity);
    for (;;) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = -1;
        const int32_t result = reader.GetNextData(&p, capacity, &size, &seconds);
        if (result != 0) {
            EXPECT_EQ(result, CDataReader::kNoMoreData);
            break;
        }
        walk.units.emplace_back(buffer.begin(), buffer.begin() + size);
        walk.seconds.push_back(seconds);
    }
    return walk;
}

// Walks backwards from the data end; the units come back in file order.
inline Walk WalkBackwards(CDataReader& reader, uint32_t capacity)
{
    Walk walk;
    EXPECT_EQ(reader.GoToDataEnd(), 0);
    Bytes buffer(capacity);
    for (;;) {
        uint8_t* p = buffer.data();
        uint32_t size = 0;
        double seconds = -1;
        const int32_t result = reader.GetPrevData(&p, capacity, &size, &seconds);
        if (result != 0) {
            EXPECT_EQ(result, CDataReader::kNoMoreData);
            break;
        }
        walk.units.emplace(walk.units.begin(), buffer.begin(), buffer.begin() + size);
        walk.seconds.insert(walk.seconds.begin(), seconds);
    }
    return walk;
}

inline std::vector<uint32_t> SizesOf(const Walk& walk)
{
    std::vector<uint32_t> sizes;
    for (const Bytes& unit : walk.units)
        sizes.push_back(static_cast<uint32_t>(unit.size()));
    return sizes;
}

inline Bytes Joined(const Walk& walk)
{
    Bytes all;
    for (const Bytes& unit : walk.units)
        all.insert(all.end(), unit.begin(), unit.end());
    return all;
}

// The units of a forward walk are the packets ffprobe lists, byte for byte; a backward walk gives them again.
inline void ExpectPackets(CDataReader& reader, const std::string& name, const char* kind, uint32_t capacity)
{
    const std::vector<Packet> packets = ProbedPackets(name, kind);
    ASSERT_FALSE(packets.empty());
    const Bytes file = ReadBytes(Media(name));
    const Walk forwards = WalkForwards(reader, capacity);
    ASSERT_EQ(forwards.units.size(), packets.size()) << name << " " << kind;
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(forwards.units[i].size(), packets[i].nSize) << name << " " << kind << " " << i;
        EXPECT_TRUE(std::equal(forwards.units[i].begin(), forwards.units[i].end(), file.begin() + packets[i].nPos))
            << name << " " << kind << " " << i;
    }
    const Walk backwards = WalkBackwards(reader, capacity);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
}

}  // namespace formatmedia
