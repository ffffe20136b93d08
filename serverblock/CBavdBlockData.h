#pragma once

#include "serverblock/Bavd.h"
#include "serverblock/CBlockData.h"

// A BAVD block of 2 MB (block type 2) or 8 MB (block type 3).
class CBavdBlockData : public CBlockData
{
public:
    explicit CBavdBlockData(uint32_t blockSize);

    bool IsValid(const uint8_t* bytes) const override;
    int SetBlock(const uint8_t* block) override;
    int SetTable(const uint8_t* bytes) override;
    const uint8_t* GetFieldData(uint32_t index, uint32_t* size) const override;
    uint32_t GetAudioBase() const override;
    bool IsProgressive() const override;
    uint32_t GetVideoFormat() const override;
    uint32_t GetFirstField() const override;
    uint32_t GetEndField() const override;
    uint32_t GetVideoChannels() const override;
    uint32_t GetFieldsPerPicture() const override;

    uint32_t GetBlockSize() const { return _nBlockSize; }
    const Bavd& GetBavd() const { return _bavd; }

private:
    int Load(const uint8_t* bytes, uint64_t length);

    uint32_t _nBlockSize;
    Bavd _bavd;
};
