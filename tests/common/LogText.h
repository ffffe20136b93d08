#pragma once

// Reading back what the logs wrote.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestEnv.h"

namespace logtest
{

inline const std::string kStars(43, '*');

inline std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// An empty folder of the test's own.
inline std::filesystem::path FreshDir(const std::string& name)
{
    std::filesystem::path dir = testsupport::TestRoot() / "logs" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// "Wed Jan 02 02:03:55.123 ": weekday, month, zero-padded day, time with milliseconds, one space.
inline bool IsStamp(const std::string& s)
{
    static const std::string kDays = "SunMonTueWedThuFriSat", kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const std::string kShape = "aaa aaa 99 99:99:99.999 ";
    if (s.size() != kShape.size())
        return false;
    for (size_t i = 0; i < kShape.size(); ++i) {
        bool ok = kShape[i] == '9' ? std::isdigit(static_cast<unsigned char>(s[i])) != 0
                                   : kShape[i] == 'a' || kShape[i] == s[i];
        if (!ok)
            return false;
    }
    auto in = [](const std::string& names, const std::string& name) {
        size_t at = names.find(name);
        return at != std::string::npos && at % 3 == 0;
    };
    return in(kDays, s.substr(0, 3)) && in(kMonths, s.substr(4, 3));
}

// The lines of a log text without their CR LF; a last line without CR LF comes back as "<cut>" + text.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back("<cut>" + text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// The message of a stamped line, or "<no stamp>".
inline std::string Message(const std::string& line)
{
    return line.size() >= 24 && IsStamp(line.substr(0, 24)) ? line.substr(24) : "<no stamp>";
}

}  // namespace logtest
