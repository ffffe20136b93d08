#pragma once
// A small KLV writer for MXF files built byte by byte: partition packs, index segments, random index packs,
// header metadata sets and essence elements, and a one-track clip assembled from them.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mxfbuild
{

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes Key(std::initializer_list<uint8_t> bytes)
{
    return Bytes(bytes);
}
inline Bytes SetKey(uint8_t type)
{
    return {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, type, 0x00};
}
inline Bytes ElementKey(uint8_t itemType, uint8_t element = 0x01)
{
    return {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, itemType, 0x01, element, 0x00};
}

// Key, a four-byte BER length, value.
inline Bytes Klv(const Bytes& key, const Bytes& value)
{
    Bytes b = key;
    b.push_back(0x83);
    Put(b, value.size(), 3);
    Append(b, value);
    return b;
}

// A fill item of exactly total bytes (at least 20).
inline Bytes Fill(size_t total)
{
    return Klv({0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02, 0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00},
               Bytes(total - 20, 0));
}

inline Bytes Uid(uint8_t n)
{
    Bytes b(16, 0xAA);
    b[15] = n;
    return b;
}

// Local tags of a set value.
class Tags
{
public:
    Tags& Raw(uint16_t tag, const Bytes& value)
    {
        Put(_b, tag, 2);
        Put(_b, value.size(), 2);
        Append(_b, value);
        return *this;
    }
    Tags& Num(uint16_t tag, uint64_t value, int bytes)
    {
        Bytes v;
        Put(v, value, bytes);
        return Raw(tag, v);
    }
    Tags& Batch(uint16_t tag, const std::vector<Bytes>& items, uint32_t count = ~0u)
    {
        Bytes v;
        Put(v, count == ~0u ? items.size() : count, 4);
        Put(v, items.empty() ? 16 : items[0].size(), 4);
        for (const Bytes& item : items)
            Append(v, item);
        return Raw(tag, v);
    }
    const Bytes& Get() const { return _b; }

private:
    Bytes _b;
};

inline Bytes Set(uint8_t type, const Tags& tags)
{
    return Klv(SetKey(type), tags.Get());
}

struct Pack {
    uint8_t nKind = 2;  // 2 header, 3 body, 4 footer
    uint8_t nStatus = 4;
    uint64_t nThis = 0, nPrevious = 0, nFooter = 0, nHeaderBytes = 0, nIndexBytes = 0;
    uint32_t nIndexSID = 0, nBodySID = 0;
    uint16_t nOp = 0x0101;      // byte 12 low
    std::vector<Bytes> labels;  // the essence container batch
};

constexpr size_t kPackSize = 16 + 4 + 88;

inline Bytes PartitionPack(const Pack& p)
{
    Bytes v;
    Put(v, 1, 2);
    Put(v, 3, 2);
    Put(v, 1, 4);
    Put(v, p.nThis, 8);
    Put(v, p.nPrevious, 8);
    Put(v, p.nFooter, 8);
    Put(v, p.nHeaderBytes, 8);
    Put(v, p.nIndexBytes, 8);
    Put(v, p.nIndexSID, 4);
    Put(v, 0, 8);
    Put(v, p.nBodySID, 4);
    Append(v, {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, static_cast<uint8_t>(p.nOp),
               static_cast<uint8_t>(p.nOp >> 8), 0x00, 0x00});
    Put(v, p.labels.size(), 4);
    Put(v, 16, 4);
    for (const Bytes& label : p.labels)
        Append(v, label);
    return Klv({0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, p.nKind, p.nStatus, 0x00},
               v);
}

struct IndexEntry {
    int8_t nTemporal = 0;
    int8_t nKeyFrame = 0;
    uint8_t nFlags = 0xC0;
    uint64_t nOffset = 0;
    std::vector<uint32_t> slices;
};

struct Index {
    uint32_t nEditUnitBytes = 0;
    std::vector<uint32_t> deltas;  // element deltas (slice 0)
    std::vector<IndexEntry> entries;
    uint8_t nSliceCount = 0;
    bool bSliceCountLast = false;  // the slice count tag after the entry array
    uint64_t nStart = 0, nDuration = 0;
};

inline Bytes IndexSegment(const Index& x)
{
    Tags t;
    t.Raw(0x3C0A, Uid(0x77)).Num(0x3F05, x.nEditUnitBytes, 4).Num(0x3F0C, x.nStart, 8).Num(0x3F0D, x.nDuration, 8);
    if (!x.bSliceCountLast)
        t.Num(0x3F08, x.nSliceCount, 1);
    if (!x.deltas.empty()) {
        Bytes v;
        Put(v, x.deltas.size(), 4);
        Put(v, 6, 4);
        for (uint32_t d : x.deltas) {
            Put(v, 0, 2);
            Put(v, d, 4);
        }
        t.Raw(0x3F09, v);
    }
    if (!x.entries.empty()) {
        Bytes v;
        Put(v, x.entries.size(), 4);
        Put(v, 11 + 4 * x.nSliceCount, 4);
        for (const IndexEntry& e : x.entries) {
            v.push_back(static_cast<uint8_t>(e.nTemporal));
            v.push_back(static_cast<uint8_t>(e.nKeyFrame));
            v.push_back(e.nFlags);
            Put(v, e.nOffset, 8);
            for (uint8_t s = 0; s < x.nSliceCount; ++s)
                Put(v, s < e.slices.size() ? e.slices[s] : 0, 4);
        }
        t.Raw(0x3F0A, v);
    }
    if (x.bSliceCountLast)
        t.Num(0x3F08, x.nSliceCount, 1);
    return Klv({0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x10, 0x01, 0x00},
               t.Get());
}

inline Bytes RandomIndexPack(const std::vector<uint64_t>& positions, int64_t lengthOverride = -1)
{
    Bytes v;
    for (uint64_t p : positions) {
        Put(v, 0, 4);
        Put(v, p, 8);
    }
    Put(v, 16 + 4 + v.size() + 4, 4);
    Bytes b = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x11, 0x01, 0x00};
    b.push_back(0x83);
    Put(b, lengthOverride >= 0 ? static_cast<uint64_t>(lengthOverride) : v.size(), 3);
    Append(b, v);
    return b;
}

// Data definitions: picture, sound, timecode.
inline Bytes DataDef(uint8_t kind)
{
    if (kind == 1)
        return {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x01, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00};
    return {0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x01, 0x03, 0x02, 0x02, static_cast<uint8_t>(kind - 1),
            0x00, 0x00, 0x00};
}

// A clip of one essence track and a timecode track.
struct Clip {
    uint32_t nRateNum = 25, nRateDen = 1;
    uint64_t nDuration = 0;
    uint64_t nStartTimecode = 0;
    uint8_t nKind = 2;  // 2 picture, 3 sound
    uint32_t nBodySID = 1;
    Bytes descriptor;  // a whole set (or sets), or empty
    uint32_t nTrackCountOverride = ~0u;
    uint32_t nComponentCountOverride = ~0u;
};

inline Bytes HeaderMetadata(const Clip& c)
{
    Bytes umid(32, 0x55);
    Bytes b;
    Append(b, Set(0x36, Tags().Raw(0x3C0A, Uid(1)).Batch(0x4403, {Uid(10), Uid(20)}, c.nTrackCountOverride)));
    Append(
        b,
        Set(0x3B,
            Tags().Raw(0x3C0A, Uid(10)).Raw(0x4803, Uid(11)).Num(0x4B01, uint64_t{c.nRateNum} << 32 | c.nRateDen, 8)));
    Append(b, Set(0x0F, Tags().Raw(0x3C0A, Uid(11)).Batch(0x1001, {Uid(12)})));
    Append(b, Set(0x14, Tags()
                            .Raw(0x3C0A, Uid(12))
                            .Raw(0x0201, DataDef(1))
                            .Num(0x0202, c.nDuration, 8)
                            .Num(0x1501, c.nStartTimecode, 8)));
    Append(
        b,
        Set(0x3B,
            Tags().Raw(0x3C0A, Uid(20)).Raw(0x4803, Uid(21)).Num(0x4B01, uint64_t{c.nRateNum} << 32 | c.nRateDen, 8)));
    Append(b, Set(0x0F, Tags().Raw(0x3C0A, Uid(21)).Batch(0x1001, {Uid(22)}, c.nComponentCountOverride)));
    Append(b, Set(0x11, Tags()
                            .Raw(0x3C0A, Uid(22))
                            .Raw(0x0201, DataDef(c.nKind))
                            .Num(0x0202, c.nDuration, 8)
                            .Num(0x1201, 0, 8)
                            .Raw(0x1101, umid)));
    Append(b, c.descriptor);
    Append(b, Set(0x23, Tags().Raw(0x3C0A, Uid(30)).Raw(0x2701, umid).Num(0x3F07, c.nBodySID, 4)));
    return b;
}

// A picture descriptor (CDCI) with the coding label, stored size and aspect ratio, plus extra tags.
inline Bytes PictureDescriptor(const Bytes& coding, uint32_t width, uint32_t height, uint32_t aspectNum,
                               uint32_t aspectDen, const Tags& extra = Tags())
{
    Tags t;
    t.Raw(0x3C0A, Uid(40)).Raw(0x3201, coding).Num(0x3209, width, 4).Num(0x3208, height, 4);
    t.Num(0x320E, uint64_t{aspectNum} << 32 | aspectDen, 8);
    Bytes v = t.Get();
    Append(v, extra.Get());
    return Klv(SetKey(0x28), v);
}

inline Bytes SoundDescriptor(uint8_t type, uint32_t bits, uint32_t channels)
{
    return Set(type, Tags().Raw(0x3C0A, Uid(41)).Num(0x3D01, bits, 4).Num(0x3D07, channels, 4));
}

// A whole file: [run-in][header partition: pack, metadata, index, essence unless in a body][body partition with
// the essence][footer with the index][random index pack].
struct File {
    size_t nRunIn = 0;
    uint16_t nOp = 0x0101;
    Clip clip;
    Index index;
    bool bIndexInFooter = false;
    Bytes essence;
    bool bBody = false;
    bool bFooter = true;
    bool bFooterInHeaderPack = true;
    bool bRip = true;
    size_t nFooterGap = 0;      // fill bytes between the essence and the footer
    std::vector<Bytes> labels;  // the header partition's essence container labels
};

inline Bytes Build(const File& f)
{
    const Bytes metadata = HeaderMetadata(f.clip);
    const Bytes index = IndexSegment(f.index);
    const uint64_t r = f.nRunIn;
    const bool indexInHeader = !f.bIndexInFooter;
    const uint64_t headerEnd = kPackSize + 16 * f.labels.size() + metadata.size() + (indexInHeader ? index.size() : 0) +
                               (f.bBody ? 0 : f.essence.size());
    const uint64_t body = headerEnd;
    const uint64_t essenceEnd = f.bBody ? body + kPackSize + f.essence.size() : headerEnd;
    const uint64_t footer = essenceEnd + f.nFooterGap;

    Bytes b(r, 0x11);
    Pack h;
    h.nOp = f.nOp;
    h.labels = f.labels;
    h.nHeaderBytes = metadata.size();
    h.nIndexBytes = indexInHeader ? index.size() : 0;
    h.nIndexSID = indexInHeader ? 2 : 0;
    h.nBodySID = f.bBody ? 0 : f.clip.nBodySID;
    h.nFooter = f.bFooter && f.bFooterInHeaderPack ? footer : 0;
    Append(b, PartitionPack(h));
    Append(b, metadata);
    if (indexInHeader)
        Append(b, index);
    if (!f.bBody)
        Append(b, f.essence);
    if (f.bBody) {
        Pack p;
        p.nKind = 3;
        p.nOp = f.nOp;
        p.nThis = body;
        p.nFooter = h.nFooter;
        p.nBodySID = f.clip.nBodySID;
        Append(b, PartitionPack(p));
        Append(b, f.essence);
    }
    if (f.nFooterGap)
        Append(b, Fill(f.nFooterGap));
    if (f.bFooter) {
        Pack p;
        p.nKind = 4;
        p.nOp = f.nOp;
        p.nThis = footer;
        p.nPrevious = f.bBody ? body : 0;
        p.nFooter = footer;
        p.nIndexBytes = f.bIndexInFooter ? index.size() : 0;
        p.nIndexSID = f.bIndexInFooter ? 2 : 0;
        Append(b, PartitionPack(p));
        if (f.bIndexInFooter)
            Append(b, index);
    }
    if (f.bRip) {
        std::vector<uint64_t> positions{0};
        if (f.bBody)
            positions.push_back(body);
        if (f.bFooter)
            positions.push_back(footer);
        Append(b, RandomIndexPack(positions));
    }
    return b;
}

}  // namespace mxfbuild
