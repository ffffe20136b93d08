#include "writers/op1a/CMxfHeaderPatcher.h"

#include <cstring>

#include "media/MxfLabels.h"

namespace
{
constexpr size_t kHeaderByteCountOffset = 32;  // in the partition pack's value

bool IsFill(const uint8_t* key)
{
    return std::memcmp(key, mxf::kFillKey, 7) == 0 && std::memcmp(key + 8, mxf::kFillKey + 8, 8) == 0 &&
           (key[7] == 0x01 || key[7] == 0x02);
}

uint64_t Be64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}
}  // namespace

bool CMxfHeaderPatcher::ParseKlv(const uint8_t* buffer, size_t size, size_t position, size_t* valueStart,
                                 uint64_t* valueLength)
{
    if (position > size || size - position <= kKeySize)
        return false;
    const uint8_t* key = buffer + position;
    if (key[0] != 0x06 || key[1] != 0x0E || key[2] != 0x2B || key[3] != 0x34)
        return false;
    size_t at = position + kKeySize;
    uint64_t length = buffer[at++];
    if (length & 0x80) {
        const size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 8 || size - at < bytes)
            return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i)
            length = (length << 8) | buffer[at++];
    }
    if (length > size - at)
        return false;
    *valueStart = at;
    *valueLength = length;
    return true;
}

uint8_t* CMxfHeaderPatcher::FindItem(uint8_t* value, size_t length, uint16_t tag, size_t* itemLength)
{
    size_t at = 0;
    while (length - at >= 4) {
        const uint16_t itemTag = static_cast<uint16_t>(value[at] << 8 | value[at + 1]);
        const size_t itemSize = static_cast<size_t>(value[at + 2] << 8 | value[at + 3]);
        at += 4;
        if (itemSize > length - at)
            return nullptr;
        if (itemTag == tag) {
            *itemLength = itemSize;
            return value + at;
        }
        at += itemSize;
    }
    return nullptr;
}

bool CMxfHeaderPatcher::Walk(uint8_t* buffer, size_t size, size_t* end)
{
    size_t value = 0;
    uint64_t length = 0;
    if (size < sizeof mxf::kPartitionPrefix ||
        std::memcmp(buffer, mxf::kPartitionPrefix, sizeof mxf::kPartitionPrefix) != 0 ||
        !ParseKlv(buffer, size, 0, &value, &length))
        return Fail("no partition pack");
    if (length < kHeaderByteCountOffset + 8)
        return Fail("partition pack too short");
    const uint64_t headerBytes = Be64(buffer + value + kHeaderByteCountOffset);
    size_t position = value + static_cast<size_t>(length);
    size_t fillValue = 0;
    uint64_t fillLength = 0;
    if (ParseKlv(buffer, size, position, &fillValue, &fillLength) && IsFill(buffer + position))
        position = fillValue + static_cast<size_t>(fillLength);
    if (headerBytes > size - position)
        return Fail("header byte count beyond the file");
    const size_t metadataEnd = position + static_cast<size_t>(headerBytes);

    while (metadataEnd - position > kKeySize) {
        if (!ParseKlv(buffer, metadataEnd, position, &value, &length))
            return Fail("broken KLV in the header metadata");
        const uint8_t* key = buffer + position;
        uint8_t* set = buffer + value;
        const size_t setLength = static_cast<size_t>(length);
        if (std::memcmp(key, mxf::kSetPrefix, sizeof mxf::kSetPrefix) == 0) {
            if (!OnLocalSet(key, set, setLength))
                return false;
            size_t at = 0;
            while (setLength - at >= 4) {
                const uint16_t tag = static_cast<uint16_t>(set[at] << 8 | set[at + 1]);
                const size_t itemSize = static_cast<size_t>(set[at + 2] << 8 | set[at + 3]);
                at += 4;
                if (itemSize > setLength - at)
                    return Fail("item beyond its set");
                auto patch = _patches.find(tag);
                if (patch != _patches.end()) {
                    if (patch->second.size() != itemSize)
                        return Fail("item length differs from the value to write");
                    std::memcpy(set + at, patch->second.data(), itemSize);
                }
                at += itemSize;
            }
            if (at != setLength)
                return Fail("set ends inside an item");
        }
        position = value + setLength;
    }
    *end = metadataEnd;
    return true;
}
