#pragma once

#include <cstdint>
#include <cstring>

// The layout of the agent's shared block "Korvo_SNMP_SHM", which other processes read and write too:
// byte-exact, integers 32-bit little-endian, texts zero-terminated within their fields.
namespace snmpagent
{

constexpr uint32_t kCommonSnmpStructSize = 6408;
constexpr uint32_t kReservedSize = 2048;  // belongs to other processes

constexpr uint32_t kRowCount = 10;
constexpr uint32_t kTextFieldSize = 64;
constexpr uint32_t kCommunityFieldSize = 128;

// Product rows.
constexpr uint32_t kProductTableOffset = 2048;
constexpr uint32_t kProductRowSize = 216;
constexpr uint32_t kProductIndex = 0;
constexpr uint32_t kProductType = 4;
constexpr uint32_t kProductDescription = 8;
constexpr uint32_t kProductSerialNumber = 72;
constexpr uint32_t kProductVersion = 136;
constexpr uint32_t kProductState = 200;
constexpr uint32_t kProductTimeStamp = 208;

// Product row states.
constexpr uint32_t kStatePlaced = 1;
constexpr uint32_t kStateUp = 2;
constexpr uint32_t kStateHalted = 8;

// Agent scalars.
constexpr uint32_t kAgentVersionOffset = 4208;
constexpr uint32_t kAgentScalar22Offset = 4272;
constexpr uint32_t kTrapClientNextIndexOffset = 4276;

// Trap destination rows.
constexpr uint32_t kTrapTableOffset = 4280;
constexpr uint32_t kTrapRowSize = 140;
constexpr uint32_t kTrapIndex = 0;
constexpr uint32_t kTrapAddress = 4;
constexpr uint32_t kTrapCommunity = 8;
constexpr uint32_t kTrapCommand = 136;

// Trap destination commands and states.
constexpr uint32_t kTrapFree = 1;
constexpr uint32_t kTrapActive = 2;
constexpr uint32_t kTrapAdd = 4;
constexpr uint32_t kTrapRemove = 5;

// Table 3.1.1 and the scalars after it, served for other processes.
constexpr uint32_t kTable311Offset = 5680;
constexpr uint32_t kTable311RowSize = 72;
constexpr uint32_t kTable311Text = 8;
constexpr uint32_t kScalar32Offset = 6400;
constexpr uint32_t kScalar33Offset = 6404;

static_assert(kProductTableOffset + kRowCount * kProductRowSize == kAgentVersionOffset);
static_assert(kTrapTableOffset + kRowCount * kTrapRowSize == kTable311Offset);
static_assert(kTable311Offset + kRowCount * kTable311RowSize == kScalar32Offset);
static_assert(kScalar33Offset + 4 == kCommonSnmpStructSize);

// Offsets of row r (1..10).
constexpr uint32_t ProductRow(uint32_t r)
{
    return kProductTableOffset + kProductRowSize * (r - 1);
}
constexpr uint32_t TrapRow(uint32_t r)
{
    return kTrapTableOffset + kTrapRowSize * (r - 1);
}
constexpr uint32_t Table311Row(uint32_t r)
{
    return kTable311Offset + kTable311RowSize * (r - 1);
}

// The whole block as raw bytes; unaligned fields are reached through memcpy.
struct CommonSnmpStruct {
    uint8_t bytes[kCommonSnmpStructSize];

    uint32_t U32(uint32_t offset) const
    {
        uint32_t v;
        std::memcpy(&v, bytes + offset, sizeof v);
        return v;
    }
    void SetU32(uint32_t offset, uint32_t v) { std::memcpy(bytes + offset, &v, sizeof v); }
    int64_t I64(uint32_t offset) const
    {
        int64_t v;
        std::memcpy(&v, bytes + offset, sizeof v);
        return v;
    }
    void SetI64(uint32_t offset, int64_t v) { std::memcpy(bytes + offset, &v, sizeof v); }
    // Stores text cut to the field, always zero-terminated and zero-padded.
    void SetText(uint32_t offset, uint32_t fieldSize, const char* text)
    {
        size_t n = strnlen(text, fieldSize - 1);
        std::memset(bytes + offset, 0, fieldSize);
        std::memcpy(bytes + offset, text, n);
    }
};
static_assert(sizeof(CommonSnmpStruct) == kCommonSnmpStructSize);

}  // namespace snmpagent
