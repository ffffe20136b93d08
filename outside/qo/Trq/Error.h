#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace Qo::Trq
{

// What the editing system's process classes throw: the message, two further texts, a code and a
// reserved word, copied by value.
struct Error {
    Error() = default;
    Error(std::string message, int32_t errorCode) : text(std::move(message)), code(errorCode) {}

    std::string text;
    std::string source;
    std::string detail;
    int32_t code = 0;
    int32_t reserved = 0;
};

}  // namespace Qo::Trq
