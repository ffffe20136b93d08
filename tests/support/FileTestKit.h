#pragma once
// Helpers for the tests of the aligned file reader and writer: file contents, a known byte
// pattern, a captured log and a forced sector size.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/CLogManager.h"
#include "platform/File.h"
#include "tests/support/TestEnv.h"

namespace testsupport
{

inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A byte that depends on its offset, also above 4 GiB, so that misplaced bytes show.
inline char PatternByte(uint64_t offset)
{
    return static_cast<char>((offset * 131 + (offset >> 12) * 7 + (offset >> 32)) & 0xFF);
}

inline std::string Pattern(uint64_t offset, size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = PatternByte(offset + i);
    return bytes;
}

// A fresh folder under the test root.
inline std::filesystem::path FreshDir(const std::string& name)
{
    std::filesystem::path dir = TestRoot() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Opens a log in theLogManager under a name for the life of the object; Text() gives what it holds.
class LogCapture
{
public:
    explicit LogCapture(std::string name) : _name(std::move(name))
    {
        static int serial = 0;
        _path = TestRoot() / ("capture-" + std::to_string(++serial) + ".log");
        // A log of that name already open (a plug-in object's own) gives way to the capture.
        theLogManager.CloseLog(_name);
        theLogManager.OpenLog(_path.string(), 64u << 20, _name);
    }
    ~LogCapture() { theLogManager.CloseLog(_name); }
    std::string Text() const { return ReadWholeFile(_path); }
    bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }
    const std::filesystem::path& Path() const { return _path; }

private:
    std::string _name;
    std::filesystem::path _path;
};

// Runs a test at a given sector size; 0 leaves the device's.
class ForcedSectorSize
{
public:
    explicit ForcedSectorSize(uint32_t bytes) { platform::File::ForceSectorSize(bytes); }
    ~ForcedSectorSize() { platform::File::ForceSectorSize(0); }
};

}  // namespace testsupport
