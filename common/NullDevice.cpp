#include "common/NullDevice.h"

#include <algorithm>
#include <cctype>

bool IsNullDevicePath(const std::string& path)
{
    static const std::string kNul = "\\\\.\\nul";
    return path == "/dev/null" || std::equal(path.begin(), path.end(), kNul.begin(), kNul.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}
