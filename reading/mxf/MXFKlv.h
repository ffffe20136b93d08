#pragma once

#include <cstdint>
#include <cstring>

#include "media/MxfLabels.h"

// Small pieces of KLV coding shared by the readers of MXF files made by other systems. Every function works on
// a memory range [p, end) and never reads outside it.
namespace mxf
{

using Key = uint8_t[16];

// The labels themselves are in media/MxfLabels.h; IsFillKey takes the version-2 fill key too.
constexpr size_t kEssenceCheck = 11;  // the reads check this much of it

// Byte 14 of a structural metadata set key.
enum SetType : uint8_t {
    kMaterialPackage = 0x36,
    kEssenceContainerData = 0x23,
    kTrack = 0x3B,
    kSequence = 0x0F,
    kTimecodeComponent = 0x14,
    kSourceClip = 0x11,
    kCdciDescriptor = 0x28,
    kMpegVideoDescriptor = 0x51,
    kGenericSoundDescriptor = 0x42,
    kAes3Descriptor = 0x47,
    kWaveDescriptor = 0x48,
    kPrivateEditUnitSet = 0x4A,
};

inline bool Matches(const uint8_t* key, const uint8_t* prefix, size_t length)
{
    return std::memcmp(key, prefix, length) == 0;
}

bool IsFillKey(const uint8_t* key);
// A structural metadata set of the type.
bool IsSet(const uint8_t* key, uint8_t type);
bool IsPictureDescriptor(const uint8_t* key);
bool IsSoundDescriptor(const uint8_t* key);
// The item type of an essence element key checked over its first 11 bytes, or -1.
int32_t EssenceItemType(const uint8_t* key);

// A BER length at p: the value and the bytes it takes. False when the bytes run past end or the length needs
// more than 8 bytes.
bool ParseBerLength(const uint8_t* p, const uint8_t* end, uint64_t* length, uint32_t* size);

// One KLV at p whose value lies wholly before end.
struct Klv {
    const uint8_t* pKey = nullptr;
    const uint8_t* pValue = nullptr;
    uint64_t nLength = 0;
    uint64_t nTotal = 0;  // key, length field and value
};
bool ParseKlv(const uint8_t* p, const uint8_t* end, Klv* klv);

// The first KLV from p whose key begins with the prefix; the walk stops at a KLV that passes end.
bool FindKey(const uint8_t* p, const uint8_t* end, const uint8_t* prefix, size_t length, Klv* found);

// Walks the local tags of a set value (two-byte tag, two-byte length); calls op(tag, value, length) for each
// whole item and stops at the first that passes the end or when op returns false.
template <typename Op>
void ForEachLocalTag(const uint8_t* value, uint64_t length, Op op)
{
    const uint8_t* p = value;
    const uint8_t* end = value + length;
    while (end - p >= 4) {
        const uint16_t tag = static_cast<uint16_t>(p[0] << 8 | p[1]);
        const uint32_t size = static_cast<uint32_t>(p[2] << 8 | p[3]);
        if (size > static_cast<uint64_t>(end - p - 4))
            return;
        if (!op(tag, p + 4, size))
            return;
        p += 4 + size;
    }
}

inline uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t Be32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint64_t Be64(const uint8_t* p)
{
    return uint64_t{Be32(p)} << 32 | Be32(p + 4);
}

// A batch of UIDs in a local tag value (u32 count, u32 item size, items): calls op(uid) for each 16-byte UID
// that lies within the value. The count is trusted only as far as the value reaches.
template <typename Op>
void ForEachBatchItem(const uint8_t* value, uint32_t length, uint32_t minItem, Op op)
{
    if (length < 8)
        return;
    const uint64_t count = Be32(value);
    const uint64_t item = Be32(value + 4);
    if (item < minItem)
        return;
    const uint64_t fits = (length - 8) / item;
    for (uint64_t i = 0; i < count && i < fits; ++i)
        op(value + 8 + i * item);
}

}  // namespace mxf

namespace mxf
{

// Results of WalkElements, the codes the readers report.
constexpr int32_t kWalkOk = 0;
constexpr int32_t kWalkNoKey = 111;              // the first key is no essence element key
constexpr int32_t kWalkFirstUnreadable = 103;    // the first element's key or length
constexpr int32_t kWalkFurtherUnreadable = 102;  // a further element's key or length
constexpr int32_t kWalkTooLong = 104;            // an element passes the end

// Walks count essence elements from p, skipping one fill item after each, all within [p, end). Adds each
// value's length less trim (not below 0) to *total; with out, copies those bytes of each value there one after
// the other (the caller has checked the room with a walk without out).
int32_t WalkElements(const uint8_t* p, const uint8_t* end, int32_t count, uint64_t trim, uint8_t* out, uint64_t* total);

}  // namespace mxf
