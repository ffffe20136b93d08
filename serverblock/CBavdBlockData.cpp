#include "serverblock/CBavdBlockData.h"

#include <cstring>

#include "common/CLogManager.h"
#include "serverblock/ServerBlock.h"

CBavdBlockData::CBavdBlockData(uint32_t blockSize)
    : CBlockData(0, kBavdHeaderAreaSize, blockSize == kBlockSize8MB ? 3 : 2), _nBlockSize(blockSize)
{
}

bool CBavdBlockData::IsValid(const uint8_t* bytes) const
{
    return std::memcmp(bytes, "BAVD", 4) == 0;
}

int CBavdBlockData::Load(const uint8_t* bytes, uint64_t length)
{
    if (!bytes)
        return kBavdTooShort;
    if (!IsValid(bytes))
        return kBavdNotABlock;  // not read as a 2kTable: this object serves BAVD blocks only
    if (const int rc = _bavd.LoadFromBuffer(bytes, length); rc != kBavdOk)
        return rc;
    // The tables lie inside the header area, the header area and every picture inside the block.
    const BavdHeader& h = _bavd.GetHeader();
    const uint64_t headerArea = h._nHeaderAreaSize;
    const uint64_t fieldsEnd = uint64_t{h._nElemFieldOffset} + uint64_t{h._nElemFieldSize} * h._nElemFieldCnt;
    const uint64_t recordsEnd = uint64_t{h._nElemRecordOffset} + uint64_t{h._nElemRecordSize} * h._nElemRecordCnt;
    if (headerArea > _nBlockSize || headerArea < h._nTablesEnd[0] || fieldsEnd > headerArea || recordsEnd > headerArea)
        return kBavdNotABlock;
    for (uint32_t i = 0; i < _bavd.GetElemRecordCnt(); ++i) {
        const BavdElemRecord* record = _bavd.GetElemRecord(i);
        const uint64_t room = _nBlockSize - headerArea;
        if (record->_nDataOffset > room || record->_nDataSize > room - record->_nDataOffset)
            return kBavdNotABlock;
    }
    return kBavdOk;
}

int CBavdBlockData::SetBlock(const uint8_t* block)
{
    _pBlock = nullptr;
    const int rc = Load(block, _nBlockSize);
    if (rc == kBavdOk)
        _pBlock = block;
    else
        theLogManager.Log("(CBavdBlockData::SetBlock) Block refused: result %d", rc);
    return rc;
}

int CBavdBlockData::SetTable(const uint8_t* bytes)
{
    _pBlock = nullptr;
    return Load(bytes, kBavdHeaderAreaSize);
}

const uint8_t* CBavdBlockData::GetFieldData(uint32_t index, uint32_t* size) const
{
    if (!_pBlock)
        return nullptr;
    // Two-field formats store one picture element for both fields.
    const uint32_t j = IsTwoFieldVideoFormat(_bavd.GetVideoFormat()) ? index / 2 : index;
    const uint32_t n = j / _bavd.GetFieldsPerRecord();
    if (n >= _bavd.GetElemRecordCnt())
        return nullptr;
    const BavdElemRecord* record = _bavd.GetElemRecord(n);
    if (size)
        *size = record->_nDataSize;
    return _pBlock + _bavd.GetHeaderAreaSize() + record->_nDataOffset;
}

uint32_t CBavdBlockData::GetAudioBase() const
{
    return _bavd.GetHeaderAreaSize();
}

bool CBavdBlockData::IsProgressive() const
{
    return _bavd.IsProgressive();
}

uint32_t CBavdBlockData::GetVideoFormat() const
{
    return _bavd.GetVideoFormat();
}

uint32_t CBavdBlockData::GetFirstField() const
{
    return _bavd.GetFirstField();
}

uint32_t CBavdBlockData::GetEndField() const
{
    return _bavd.GetFieldOutExcluded();
}

uint32_t CBavdBlockData::GetVideoChannels() const
{
    return _bavd.GetRecordsPerField();
}

uint32_t CBavdBlockData::GetFieldsPerPicture() const
{
    return _bavd.GetFieldsPerRecord();
}
