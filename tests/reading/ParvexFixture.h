#pragma once
// Parvex clip files written byte by byte from the layout tables, for the reader's tests and the fuzzer's seeds.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace parvextest
{

using Bytes = std::vector<uint8_t>;

inline const Bytes kHeaderKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00};
inline const Bytes kFooterKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x02, 0x01, 0x01, 0x04, 0x02, 0x00};
inline const Bytes kFillKey = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x01,
                               0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00};
inline const Bytes kPrimerKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                 0x0D, 0x01, 0x02, 0x01, 0x01, 0x05, 0x01, 0x00};
inline const Bytes kSetKey = {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01,
                              0x0D, 0x01, 0x04, 0x01, 0x01, 0x01, 0x02, 0x00};

inline void Append(Bytes& to, const Bytes& what)
{
    to.insert(to.end(), what.begin(), what.end());
}

inline Bytes Be(uint64_t v, int width)
{
    Bytes b;
    for (int i = width - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

inline Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Key, BER length (short form when lengthBytes is 0, else 0x80 + lengthBytes and that many bytes), value.
inline Bytes Klv(const Bytes& key, const Bytes& value, int lengthBytes)
{
    Bytes klv = key;
    if (lengthBytes == 0) {
        klv.push_back(static_cast<uint8_t>(value.size()));
    } else {
        klv.push_back(static_cast<uint8_t>(0x80 + lengthBytes));
        Append(klv, Be(value.size(), lengthBytes));
    }
    Append(klv, value);
    return klv;
}

// A partition pack value: versions 1.2, KAG 1, the given partitions, one essence container label.
inline Bytes PartitionValue(uint64_t thisPartition, uint64_t footer)
{
    Bytes v;
    Append(v, Be(1, 2));
    Append(v, Be(2, 2));
    Append(v, Be(1, 4));
    Append(v, Be(thisPartition, 8));
    Append(v, Be(0, 8));
    Append(v, Be(footer, 8));
    Append(v, Be(0x1FFF6A, 8));
    Append(v, Be(0, 8));
    Append(v, Be(0, 4));
    Append(v, Be(0x1FFFE7, 8));
    Append(v, Be(1, 4));
    Append(v, Bytes(16, 0x0D));
    Append(v, Be(1, 4));
    Append(v, Be(16, 4));
    Append(v, Bytes(16, 0x0E));
    return v;
}

// A primer pack value with entries for the given tags.
inline Bytes PrimerValue(std::initializer_list<uint16_t> tags)
{
    Bytes v = Be(tags.size(), 4);
    Append(v, Be(18, 4));
    for (uint16_t tag : tags) {
        Append(v, Be(tag, 2));
        const Bytes ul = {0x06,
                          0x0E,
                          0x2B,
                          0x34,
                          0x01,
                          0x01,
                          0x01,
                          0x01,
                          0x0F,
                          0x01,
                          0x01,
                          0x01,
                          0x01,
                          0x01,
                          static_cast<uint8_t>((tag >> 8) - 0x7F),
                          static_cast<uint8_t>(tag)};
        Append(v, ul);
    }
    return v;
}

// One item of the metadata set: tag, 2-byte length, value.
inline void Item(Bytes& set, uint16_t tag, const Bytes& value)
{
    Append(set, Be(tag, 2));
    Append(set, Be(value.size(), 2));
    Append(set, value);
}

inline Bytes Pack(std::initializer_list<std::string> entries)
{
    Bytes v;
    for (const std::string& e : entries) {
        Append(v, Be(e.size(), 2));
        Append(v, Text(e));
    }
    return v;
}

inline void Signature(Bytes& set)
{
    Item(set, 0x8001, Text("Kvo Parvx"));
}

// A big-block index item: its field range and (first field, file position) descriptors of the given length.
inline Bytes BigBlock(uint32_t in, uint32_t out, const std::vector<std::pair<uint32_t, uint64_t>>& blocks,
                      uint16_t descriptorLength = 12)
{
    Bytes v = Be(in, 4);
    Append(v, Be(out, 4));
    Append(v, Be(blocks.size(), 2));
    Append(v, Be(descriptorLength, 2));
    for (const auto& [field, pos] : blocks) {
        Append(v, Be(field, 4));
        Append(v, Be(pos, 8));
        Append(v, Bytes(descriptorLength - 12u, 0xEE));
    }
    return v;
}

}  // namespace parvextest
