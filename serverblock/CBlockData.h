#pragma once

#include <cstdint>
#include <memory>

// The readers' view of one server block, whatever its layout: the field range it holds, where each field's
// picture lies, where its audio is anchored and a few format values. Load it with a whole block (SetBlock, a
// buffer of the block size) or with only the bytes that identify a block (SetTable, a buffer of GetTableSize
// bytes); a nonzero result means the block is unusable and its values are not to be used.
class CBlockData
{
public:
    CBlockData(uint32_t tableOffset, uint32_t tableSize, uint32_t blockType)
        : _nTableOffset(tableOffset), _nTableSize(tableSize), _nBlockType(blockType)
    {
    }
    virtual ~CBlockData() = default;
    CBlockData(const CBlockData&) = delete;
    CBlockData& operator=(const CBlockData&) = delete;

    // Do these table or header bytes describe a block?
    virtual bool IsValid(const uint8_t* bytes) const;
    virtual int SetBlock(const uint8_t* block) = 0;
    virtual int SetTable(const uint8_t* bytes) = 0;
    // The picture of the field with this index in the block and its size; nullptr without a block or when the
    // block does not hold it.
    virtual const uint8_t* GetFieldData(uint32_t index, uint32_t* size) const;
    // Block offset at which the audio area is anchored.
    virtual uint32_t GetAudioBase() const = 0;
    virtual bool IsProgressive() const { return false; }
    // Video format code of the block, 0 when invalid.
    virtual uint32_t GetVideoFormat() const { return 0; }
    virtual uint32_t GetFirstField() const = 0;
    // The first field after the block.
    virtual uint32_t GetEndField() const = 0;
    virtual const uint8_t* GetTable() const { return _pBlock ? _pBlock + _nTableOffset : nullptr; }
    virtual uint32_t GetVideoChannels() const { return 1; }
    virtual uint32_t GetFieldsPerPicture() const { return 1; }

    uint32_t GetTableOffset() const { return _nTableOffset; }
    uint32_t GetTableSize() const { return _nTableSize; }
    uint32_t GetBlockType() const { return _nBlockType; }

protected:
    const uint8_t* _pBlock = nullptr;  // not owned
    uint32_t _nTableOffset;
    uint32_t _nTableSize;
    uint32_t _nBlockType;
};

// Block kind 1: 2kTable block; kind 2: BAVD block of the given size (2 MB or 8 MB). nullptr for anything else.
std::unique_ptr<CBlockData> CreateBlockData(uint32_t blockKind, uint32_t blockSize);
