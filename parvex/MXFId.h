#pragma once

#include <cstdint>

// Material identifiers: 8 characters packing the producing machine's serial number (divided by 10), the creation
// time in seconds since an epoch and a counter of ids made in the same second.

// The older kind: 48 bits in eight base-64 digits. Serial in bits 34-47, seconds since 2002-01-01 in bits 5-33,
// counter in bits 0-4.
class MXFIdType1
{
public:
    static constexpr int64_t kEpoch = 1009843200;
    static constexpr uint32_t kMaxSerial = 0x3FFF;
    static constexpr uint32_t kMaxSeconds = 0x1FFFFFFF;
    static constexpr uint32_t kMaxCounter = 31;

    void SetSerial(uint32_t n);
    void SetSeconds(uint32_t n);
    void SetCounter(uint32_t n);
    uint32_t GetSerial() const;
    uint32_t GetSeconds() const;
    uint32_t GetCounter() const;
    // Writes the 8-character text and a terminator into a buffer of at least 9; a value of 0 gives "".
    char* Format(char* buffer) const;
    // From an 8-character text; any other length gives 0. A character outside the alphabet counts 0.
    void Parse(const char* text);

    uint64_t _qwValue = 0;
};

// The newer kind: 48 bits in a mixed-radix form of 79 symbols whose first character is one of 15 punctuation
// symbols. Serial in bits 32-47, seconds since 2010-01-01 in bits 2-31, counter in bits 0-1.
class MXFIdType2
{
public:
    static constexpr int64_t kEpoch = 1262304000;
    static constexpr uint32_t kMaxSerial = 0xFFFF;
    static constexpr uint32_t kMaxSeconds = 0x3FFFFFFF;
    static constexpr uint32_t kMaxCounter = 3;

    void SetSerial(uint32_t n);
    void SetSeconds(uint32_t n);
    void SetCounter(uint32_t n);
    uint32_t GetSerial() const;
    uint32_t GetSeconds() const;
    uint32_t GetCounter() const;
    char* Format(char* buffer) const;
    // Defined for kind-2 texts only (those CheckMXFId calls kind 2).
    void Parse(const char* text);

    uint64_t _qwValue = 0;
};

// 1 when the text is a valid id, else 0; the kind is 1, 2 or 0 (valid, of neither kind).
int CheckMXFId(const char* text, int* kind = nullptr);
// The creation time an id carries, seconds since 1970 (local wall-clock time counted as if UTC); 0 for an
// invalid text or one of neither kind.
int64_t MXFIdToTime(const char* text);
