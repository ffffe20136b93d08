#pragma once
// A block reader that serves blocks held in memory: video elements and field audio units given byte by byte,
// for the frame readers' tests and fuzzer.

#include <cstdint>
#include <string>
#include <vector>

#include "receiver/CKorvoBlockReader.h"

namespace framereadertest
{

class FakeBlockReader : public CKorvoBlockReader
{
public:
    struct Block {
        std::vector<std::vector<uint8_t>> elements;
        std::vector<std::vector<uint8_t>> audio;  // one unit per field
        uint32_t nElementsPerField = 1;
        uint32_t nFirstFieldParity = 0;
    };
    static constexpr int kEnd = 2;

    FakeBlockReader() : CKorvoBlockReader(0x800000) {}

    int Open(const std::string&) override { return 0; }
    int Close() override { return 0; }
    bool IsFieldInBlock(int32_t element) override
    {
        return _pCurrent && element >= 0 && static_cast<size_t>(element) < _pCurrent->elements.size();
    }
    int LoadNextBlock(uint32_t* elementsPerField) override
    {
        if (_nNext >= _blocks.size())
            return kEnd;
        _pCurrent = &_blocks[_nNext++];
        if (elementsPerField)
            *elementsPerField = _pCurrent->nElementsPerField;
        return 0;
    }
    const uint8_t* GetVideo(int32_t element, int32_t* size) override
    {
        return Serve(_pCurrent ? &_pCurrent->elements : nullptr, element, size);
    }
    const uint8_t* GetAudio(int32_t unit, int32_t* size) override
    {
        return Serve(_pCurrent ? &_pCurrent->audio : nullptr, unit, size);
    }
    int32_t StartFieldOffset(int32_t fields, uint32_t* elementsPerField) override
    {
        _nStartFields = fields;
        if (_pCurrent == nullptr && ReadNextBlock(elementsPerField) != 0)
            return 0;
        if (elementsPerField)
            *elementsPerField = _pCurrent->nElementsPerField;
        return fields * static_cast<int32_t>(_pCurrent->nElementsPerField);
    }
    int32_t SetFirstField(uint32_t serverField, uint32_t* elementsPerField) override
    {
        return StartFieldOffset(static_cast<int32_t>(serverField), elementsPerField);
    }
    int FieldParity(uint32_t field) override
    {
        return _pCurrent ? static_cast<int>((_pCurrent->nFirstFieldParity + field) & 1) : 0;
    }

    std::vector<Block> _blocks;
    int32_t _nStartFields = -1;

private:
    static const uint8_t* Serve(const std::vector<std::vector<uint8_t>>* list, int32_t index, int32_t* size)
    {
        if (size)
            *size = 0;
        if (!list || index < 0 || static_cast<size_t>(index) >= list->size() || (*list)[index].empty())
            return nullptr;
        if (size)
            *size = static_cast<int32_t>((*list)[index].size());
        return (*list)[index].data();
    }

    size_t _nNext = 0;
    const Block* _pCurrent = nullptr;
};

// An audio unit of one channel: a byte, the count, then count 24-bit big-endian samples valued first, first + 1...
inline std::vector<uint8_t> ChannelUnit(uint32_t unitBytes, uint32_t count, uint32_t first, uint32_t written)
{
    std::vector<uint8_t> unit(unitBytes, 0);
    unit[1] = static_cast<uint8_t>(count >> 8);
    unit[2] = static_cast<uint8_t>(count);
    for (uint32_t s = 0; s < written && 5 + 3 * s < unitBytes; ++s) {
        const uint32_t v = first + s;
        unit[3 + 3 * s] = static_cast<uint8_t>(v >> 16);
        unit[4 + 3 * s] = static_cast<uint8_t>(v >> 8);
        unit[5 + 3 * s] = static_cast<uint8_t>(v);
    }
    return unit;
}

}  // namespace framereadertest
