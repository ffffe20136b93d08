#include "serverblock/CBlockData.h"

#include "serverblock/C2kBlockData.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/ServerBlock.h"

bool CBlockData::IsValid(const uint8_t*) const
{
    return false;
}

const uint8_t* CBlockData::GetFieldData(uint32_t, uint32_t*) const
{
    return nullptr;
}

std::unique_ptr<CBlockData> CreateBlockData(uint32_t blockKind, uint32_t blockSize)
{
    if (blockKind == 1)
        return std::make_unique<C2kBlockData>();
    if (blockKind == 2 && (blockSize == kBlockSize2MB || blockSize == kBlockSize8MB))
        return std::make_unique<CBavdBlockData>(blockSize);
    return nullptr;
}
