#include "serverblock/C2kBlockData.h"

#include <algorithm>

#include "common/ByteOrder.h"
#include "common/CLogManager.h"
#include "serverblock/ServerBlock.h"

namespace
{
constexpr uint32_t kMaxFieldsSeen = 200;
}  // namespace

C2kBlockData::C2kBlockData() : CBlockData(k2kTableOffset, k2kTableSize, 1) {}

bool C2kBlockData::IsValid(const uint8_t* t) const
{
    const uint32_t first = ReadLittleEndian32(t + k2kTableFirstField);
    const uint32_t end = ReadLittleEndian32(t + k2kTableEndField);
    return end != first && end - first <= kMaxFieldsSeen;
}

bool C2kBlockData::HasUsableFieldRange(const uint8_t* t)
{
    const uint32_t first = ReadLittleEndian32(t + k2kTableFirstField);
    const uint32_t end = ReadLittleEndian32(t + k2kTableEndField);
    return end > first && end - first <= k2kMaxEntries;
}

int C2kBlockData::SetBlock(const uint8_t* block)
{
    _pBlock = nullptr;
    _pTable = nullptr;
    if (!block || !HasUsableFieldRange(block + k2kTableOffset)) {
        theLogManager.Log("(C2kBlockData::SetBlock) Block refused: no usable field range");
        return -1;
    }
    _pBlock = block;
    _pTable = block + k2kTableOffset;
    return 0;
}

int C2kBlockData::SetTable(const uint8_t* bytes)
{
    _pBlock = nullptr;
    _pTable = bytes;
    return bytes && HasUsableFieldRange(bytes) ? 0 : -1;
}

const uint8_t* C2kBlockData::GetFieldData(uint32_t index, uint32_t* size) const
{
    if (!_pBlock)
        return nullptr;
    // Only entries that the field range and channel count put in the table are read.
    const uint64_t fields = GetEndField() - GetFirstField();
    const uint64_t entries = std::min<uint64_t>(fields * std::max<uint32_t>(GetVideoChannels(), 1), k2kMaxEntries);
    if (index >= entries)
        return nullptr;
    const uint8_t* entry = _pTable + k2kEntryOffset + index * k2kEntrySize;
    const bool largeUnits = _pTable[k2kTableVersion] >= 5 && (entry[k2kEntryFlags] & k2kFlagLargeSize);
    const uint64_t bytes = uint64_t{ReadBigEndian16(entry + k2kEntrySizeWord)} * (largeUnits ? 64 : 8);
    const uint64_t offset = uint64_t{ReadLittleEndian32(entry + k2kEntryPicture)} * k2kPictureAlign;
    // A picture lies below the table.
    if (offset > k2kTableOffset || bytes > k2kTableOffset - offset)
        return nullptr;
    if (size)
        *size = static_cast<uint32_t>(bytes);
    return _pBlock + offset;
}

uint32_t C2kBlockData::GetAudioBase() const
{
    return k2kTableOffset;
}

bool C2kBlockData::IsProgressive() const
{
    return _pTable && (_pTable[k2kTableAspect] & 0x40);
}

uint32_t C2kBlockData::GetVideoFormat() const
{
    if (!_pTable)
        return 0;
    return VideoFormatFromCodecNibble(_pTable[k2kTableCodec] & 0x0F,
                                      IsHDStandard((_pTable[k2kTableStandard] >> 4) + 1u));
}

uint32_t C2kBlockData::GetFirstField() const
{
    return _pTable ? ReadLittleEndian32(_pTable + k2kTableFirstField) : 0;
}

uint32_t C2kBlockData::GetEndField() const
{
    return _pTable ? ReadLittleEndian32(_pTable + k2kTableEndField) : 0;
}

uint32_t C2kBlockData::GetVideoChannels() const
{
    return _pTable ? _pTable[k2kTableChannels] & 0x07 : 0;
}

uint32_t C2kBlockData::GetFieldsPerPicture() const
{
    return _pTable && (_pTable[k2kTableChannels] & 0x08) ? 2 : 1;
}

uint32_t C2kBlockData::GetRateStandard() const
{
    return _pTable ? _pTable[k2kTableStandard] & 0x0F : 0;
}

uint32_t C2kBlockData::GetAspectCode() const
{
    return _pTable ? _pTable[k2kTableAspect] & 0x0F : 0;
}

uint32_t C2kBlockData::GetAudioGroups() const
{
    return _pTable ? _pTable[k2kTableChannels] >> 4 : 0u;
}
