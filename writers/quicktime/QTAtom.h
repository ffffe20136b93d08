#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A QuickTime atom built in memory: type, payload and owned children, written as 32-bit big-endian size,
// type, payload, then the children in the order they were added.
class QTAtom
{
public:
    explicit QTAtom(const char* type) : _type(type) {}

    QTAtom& Add(const char* type)
    {
        _children.push_back(std::make_unique<QTAtom>(type));
        return *_children.back();
    }
    QTAtom& U8(uint32_t v) { return Put(v, 1); }
    QTAtom& U16(uint32_t v) { return Put(v, 2); }
    QTAtom& U32(uint64_t v) { return Put(v, 4); }
    QTAtom& U64(uint64_t v) { return Put(v, 8); }
    QTAtom& Zero(size_t n)
    {
        _payload.insert(_payload.end(), n, 0);
        return *this;
    }
    QTAtom& Text(const std::string& text)
    {
        _payload.insert(_payload.end(), text.begin(), text.end());
        return *this;
    }
    QTAtom& Bytes(const std::vector<uint8_t>& bytes)
    {
        _payload.insert(_payload.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // A Pascal string in a field of the given size (0: as long as the text and its length byte).
    QTAtom& Pascal(const std::string& text, size_t field = 0)
    {
        const size_t n = std::min<size_t>(text.size(), field ? field - 1 : 255);
        U8(static_cast<uint32_t>(n));
        _payload.insert(_payload.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        if (field)
            Zero(field - 1 - n);
        return *this;
    }
    // The identity matrix of track and movie headers.
    QTAtom& Matrix()
    {
        const uint32_t m[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
        for (uint32_t v : m)
            U32(v);
        return *this;
    }

    uint64_t Size() const
    {
        uint64_t size = 8 + _payload.size();
        for (const auto& child : _children)
            size += child->Size();
        return size;
    }
    void Write(std::vector<uint8_t>* out) const
    {
        const uint64_t size = Size();
        for (int i = 3; i >= 0; --i)
            out->push_back(static_cast<uint8_t>(size >> (8 * i)));
        out->insert(out->end(), _type.begin(), _type.end());
        out->insert(out->end(), _payload.begin(), _payload.end());
        for (const auto& child : _children)
            child->Write(out);
    }

private:
    QTAtom& Put(uint64_t v, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            _payload.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }

    std::string _type;
    std::vector<uint8_t> _payload;
    std::vector<std::unique_ptr<QTAtom>> _children;
};
