#pragma once

#include <cstdint>

#include "parvex/ParvexLayout.h"

// 256 consecutive blocks of the block index: their first fields and file positions.
class CMXF_Parvex_BigBlock
{
public:
    CMXF_Parvex_BigBlock()
    {
        for (uint32_t& field : _aFieldIn)
            field = 0xFFFFFFFF;
    }

    bool InUse(uint32_t entry) const { return static_cast<int32_t>(entry) <= _nLastBlockInUse; }
    uint32_t BlockCount() const { return static_cast<uint32_t>(_nLastBlockInUse + 1); }

    uint32_t _nUserValue = 0;
    uint32_t _nFieldIn = 0;
    uint32_t _nFieldOutExcluded = 0xFFFFFFFF;
    int32_t _nLastBlockInUse = -1;
    uint64_t _aFilePos[parvex::kBlocksPerBigBlock] = {};
    uint32_t _aFieldIn[parvex::kBlocksPerBigBlock];
};
