#pragma once

#include <cstdint>
#include <string>

namespace platform
{

constexpr uint32_t kCodePageAnsi = 0;  // the system's ANSI page: CP1252 here
constexpr uint32_t kCodePageOem = 1;   // the OEM page: CP437 here
constexpr uint32_t kCodePageUtf8 = 65001;

// Byte string in a code page to UTF-16; bytes that are not valid in the page become U+FFFD.
// false when the page is unknown.
bool ToUtf16(const std::string& in, uint32_t codePage, std::u16string& out);

// UTF-16 to a code page; characters the page cannot hold become '?'. false when the page is unknown.
bool FromUtf16(const std::u16string& in, uint32_t codePage, std::string& out);

}  // namespace platform
