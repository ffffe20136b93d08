#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/CLogFile.h"
#include "tests/support/TestEnv.h"

namespace fs = std::filesystem;

namespace
{

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

fs::path FreshDir(const std::string& name)
{
    fs::path dir = testsupport::TestRoot() / "logs" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

const std::string kStars(43, '*');
// "Wed Jan 02 02:03:55.123 ": weekday, month, zero-padded day, time with milliseconds, one space.
bool IsStamp(const std::string& s)
{
    static const std::string kDays = "SunMonTueWedThuFriSat", kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (s.size() != 24)
        return false;
    auto in = [](const std::string& names, const std::string& name) {
        size_t at = names.find(name);
        return at != std::string::npos && at % 3 == 0;
    };
    const std::string shape = "aaa aaa 99 99:99:99.999 ";
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '9' ? !std::isdigit(static_cast<unsigned char>(s[i])) : shape[i] != 'a' && shape[i] != s[i])
            return false;
    return in(kDays, s.substr(0, 3)) && in(kMonths, s.substr(4, 3));
}

// The lines of a log text, each with its CR LF removed; a missing CR LF at the end leaves "<cut>".
std::vector<std::string> Lines(const std::string& text)
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
std::string Message(const std::string& line)
{
    return line.size() >= 24 && IsStamp(line.substr(0, 24)) ? line.substr(24) : "<no stamp>";
}

}  // namespace

TEST(CLogFile, BannerAndStampedLines)
{
    fs::path path = FreshDir("banner") / "Recv.log";
    {
        CLogFile log;
        ASSERT_EQ(log.Open(path.string(), 1 << 20), 1);
        EXPECT_EQ(log.GetFileName(), path.string());
        EXPECT_TRUE(log.IsOpen());
        EXPECT_EQ(log.Log("value=%d text=%s", 42, "abc"), 1);
        EXPECT_EQ(log.Close(), 1);
        EXPECT_EQ(log.Close(), 0);
    }
    auto lines = Lines(ReadAll(path));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], kStars);
    EXPECT_EQ(Message(lines[2]), "* LOG FILE OPENED *");
    EXPECT_EQ(lines[3], kStars);
    EXPECT_EQ(Message(lines[4]), "value=42 text=abc");
    EXPECT_EQ(Message(lines[5]), "* LOG FILE CLOSED *");
}
