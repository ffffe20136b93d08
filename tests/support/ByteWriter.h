#pragma once

#include <cstdint>
#include <vector>

namespace testsupport
{

// Puts numbers into a byte buffer at given places, for fixtures written byte by byte from a format's tables.
class ByteWriter
{
public:
    explicit ByteWriter(std::vector<uint8_t>& bytes) : _bytes(bytes) {}

    void Be16(size_t at, uint16_t v)
    {
        _bytes.at(at) = static_cast<uint8_t>(v >> 8);
        _bytes.at(at + 1) = static_cast<uint8_t>(v);
    }
    void Be32(size_t at, uint32_t v)
    {
        Be16(at, static_cast<uint16_t>(v >> 16));
        Be16(at + 2, static_cast<uint16_t>(v));
    }
    void Le32(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            _bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    void U8(size_t at, uint8_t v) { _bytes.at(at) = v; }
    void Text(size_t at, const char* text)
    {
        for (size_t i = 0; text[i]; ++i)
            _bytes.at(at + i) = static_cast<uint8_t>(text[i]);
    }
    // A recognisable pattern of n bytes.
    void Pattern(size_t at, size_t n, uint8_t seed)
    {
        for (size_t i = 0; i < n; ++i)
            _bytes.at(at + i) = static_cast<uint8_t>(seed + i * 7);
    }

private:
    std::vector<uint8_t>& _bytes;
};

}  // namespace testsupport
