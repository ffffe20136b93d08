#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ftp/CKorvoFtpClient.h"
#include "tests/support/TestEnv.h"

namespace ftptest
{

// A folder of the test's own under the test root.
inline std::filesystem::path TestFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    auto path = testsupport::TestRoot() / "ftp" / name;
    std::filesystem::create_directories(path);
    return path;
}

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size; i += 4) {
        uint32_t v = rng();
        for (size_t k = 0; k < 4 && i + k < size; ++k)
            bytes[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Short waits, so failing cases end quickly.
inline FtpTimeouts ShortTimeouts()
{
    FtpTimeouts t;
    t.nPingMs = 250;
    t.nControlMs = 2000;
    t.nAcceptMs = 2000;
    t.nDataMs = 3000;
    t.nDataSendMs = 3000;
    return t;
}

// Reads the open transfer to its end.
inline std::vector<uint8_t> ReadAll(CKorvoFtpClient& client, uint32_t chunk = 65536)
{
    std::vector<uint8_t> got;
    std::vector<uint8_t> buf(chunk);
    for (;;) {
        int64_t count = 0;
        if (client.FtpReadFile(buf.data(), chunk, &count) != 0)
            break;
        got.insert(got.end(), buf.begin(), buf.begin() + count);
        if (count < chunk)
            break;
    }
    return got;
}

}  // namespace ftptest
