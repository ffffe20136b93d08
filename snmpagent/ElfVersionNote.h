#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace snmpagent
{

// The maker's programs carry their product version in an ELF note, as Windows programs carry a
// version resource: note name "Brennhall", type 1, two 32-bit words (most and least significant
// halves, each major part in its high 16 bits).
constexpr char kVersionNoteName[] = "Brennhall";
constexpr uint32_t kVersionNoteType = 1;

struct ProductVersion {
    uint32_t mostSignificant = 0;
    uint32_t leastSignificant = 0;

    // "%u.%u.%u.%u"
    std::string Text() const;
};

// The version note of a 64-bit little-endian ELF file; nullopt when the file has none or is not one.
std::optional<ProductVersion> ReadElfVersionNote(const std::string& path);

}  // namespace snmpagent
