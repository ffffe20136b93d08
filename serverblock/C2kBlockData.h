#pragma once

#include "serverblock/CBlockData.h"

// A 2kTable block: 2 MB with its 2048-byte table in the last 2048 bytes.
class C2kBlockData : public CBlockData
{
public:
    C2kBlockData();

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
    // The rate standard (low nibble of the standard byte), the aspect code (2 4:3, 3 16:9) and the audio groups
    // of four tracks; 0 without a table.
    uint32_t GetRateStandard() const;
    uint32_t GetAspectCode() const;
    uint32_t GetAudioGroups() const;

private:
    static bool HasUsableFieldRange(const uint8_t* table);

    const uint8_t* _pTable = nullptr;  // inside the block, or the caller's copy of a table
};
