#include "receiver/CKorvoBlockData.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"
#include "serverblock/ServerBlock.h"

namespace
{
constexpr uint32_t kAudioSlotsPerGroup = 4;

// Audio bytes of one field for the rate standard (3 to 8) and group count; 0 for any other standard.
uint32_t AudioBytesPerField(uint32_t standard, uint32_t groups)
{
    if (standard < 3 || standard > 8)
        return 0;
    return GetAudioUnit(standard) * groups;
}
}  // namespace

bool IsBavdBlock(const uint8_t* block, uint32_t size)
{
    return block && size >= 4 && std::memcmp(block, "BAVD", 4) == 0;
}

void CKorvoBlockData::Clear()
{
    _pBlock = nullptr;
    _nElementCount = 0;
    _nDataEnd = 0;
    _nFirstField = 0;
    _nEndField = 0;
    _nAspectCode = 0;
    _nAudioTrackSlots = 0;
}

const uint8_t* CKorvoBlockData::GetVideo(int32_t, int32_t* size) const
{
    if (size)
        *size = 0;
    return nullptr;
}

const uint8_t* CKorvoBlockData::GetAudio(int32_t, int32_t* size) const
{
    if (size)
        *size = 0;
    return nullptr;
}

int CKorvo2kBlockData::SetBlockData(const uint8_t* address, uint32_t size)
{
    Clear();
    _nElementsPerField = 1;
    _nAudioUnitSize = 0;
    _nBlockSize = size;
    if (!address || size != kBlockSize2MB || _blockData.SetBlock(address) != 0) {
        theLogManager.Log("CKorvo2kBlockData::SetBlockData - refused block [ Sz: %u ]", size);
        return kBlockDataDamaged;
    }
    const uint64_t fields = uint64_t{_blockData.GetEndField()} - _blockData.GetFirstField();
    const uint32_t perField = std::max<uint32_t>(_blockData.GetVideoChannels(), 1);
    const uint64_t elements = fields * perField;
    const uint32_t groups = _blockData.GetAudioGroups();
    const uint64_t audio = uint64_t{AudioBytesPerField(_blockData.GetRateStandard(), groups)};
    // The table has room for 101 entries; the audio of every field lies below it.
    if (elements > k2kMaxEntries || audio * fields > k2kTableOffset) {
        theLogManager.Log("CKorvo2kBlockData::SetBlockData - damaged table [ %llu elements, %llu audio bytes ]",
                          static_cast<unsigned long long>(elements), static_cast<unsigned long long>(audio * fields));
        return kBlockDataDamaged;
    }
    _pBlock = address;
    _nFirstField = _blockData.GetFirstField();
    _nEndField = _blockData.GetEndField();
    _nElementsPerField = perField;
    _nElementCount = static_cast<int32_t>(elements);
    _nDataEnd = k2kTableOffset;
    _nAudioUnitSize = static_cast<uint32_t>(audio);
    _nAspectCode = _blockData.GetAspectCode();
    _nAudioTrackSlots = static_cast<int32_t>(groups * kAudioSlotsPerGroup);
    return kBlockDataOk;
}

const uint8_t* CKorvo2kBlockData::GetVideo(int32_t element, int32_t* size) const
{
    if (size)
        *size = 0;
    if (!_pBlock || !HasElement(element))
        return nullptr;
    uint32_t bytes = 0;
    const uint8_t* p = _blockData.GetFieldData(static_cast<uint32_t>(element), &bytes);
    if (p && size)
        *size = static_cast<int32_t>(bytes);
    return p;
}

const uint8_t* CKorvo2kBlockData::GetAudio(int32_t fieldIndex, int32_t* size) const
{
    if (size)
        *size = 0;
    const int64_t fields = int64_t{_nElementCount} / _nElementsPerField;
    if (!_pBlock || _nAudioUnitSize == 0 || fieldIndex < 0 || fieldIndex >= fields)
        return nullptr;
    // Checked against the table by SetBlockData: every field's unit lies below it.
    const uint64_t offset = k2kTableOffset - (uint64_t{static_cast<uint32_t>(fieldIndex)} + 1) * _nAudioUnitSize;
    if (size)
        *size = static_cast<int32_t>(_nAudioUnitSize);
    return _pBlock + offset;
}

int CKorvo8MBlockData::SetBlockData(const uint8_t* address, uint32_t size)
{
    Clear();
    _nElementsPerField = 1;
    _nAudioUnitSize = 0;
    _nBlockSize = size;
    if (size != kBlockSize2MB && size != kBlockSize8MB) {
        theLogManager.Log(">>>>> CKorvo8MBBlockData::SetBlockData - block size not supported [ Block Sz: %u ] !!!",
                          size);
        return kBlockDataDamaged;
    }
    if (!_pData || _pData->GetBlockSize() != size)
        _pData = std::make_unique<CBavdBlockData>(size);
    if (const int rc = _pData->SetBlock(address); rc != 0) {
        theLogManager.Log(
            ">>>>> CKorvo8MBBlockData::SetBlockData - Bavd::LoadFromBuffer FAILED [ Block Sz: %u, %d ] !!!", size, rc);
        return kBlockDataDamaged;
    }
    const Bavd& bavd = _pData->GetBavd();
    const uint64_t fields = bavd.GetElemFieldCnt();
    const uint32_t perField = std::max<uint32_t>(bavd.GetRecordsPerField(), 1);
    const uint64_t elements = fields * perField;
    const uint32_t audio = AudioBytesPerField(bavd.GetMediaHeader()._nRateSystem, bavd.GetAudioGroupCount());
    // Every field's audio unit must lie in the data area, whichever way the layout stacks it.
    const uint64_t dataArea = uint64_t{size} - bavd.GetHeaderAreaSize();
    const uint8_t layout = bavd.GetLayoutAV();
    if (uint64_t{bavd.GetFirstField()} + fields > UINT32_MAX || uint64_t{audio} * fields > dataArea ||
        (audio && layout != 1 && layout != 2)) {
        theLogManager.Log(">>>>> CKorvo8MBBlockData::SetBlockData - damaged block [ %llu fields, audio %u, layout %u ]",
                          static_cast<unsigned long long>(fields), audio, layout);
        return kBlockDataDamaged;
    }
    _pBlock = address;
    _nFirstField = bavd.GetFirstField();
    _nEndField = static_cast<uint32_t>(_nFirstField + fields);
    _nElementsPerField = perField;
    _nElementCount = static_cast<int32_t>(elements);
    _nDataEnd = size;
    _nAudioUnitSize = audio;
    _nAspectCode = bavd.GetMediaHeader()._nAspectRatio;
    _nAudioTrackSlots = static_cast<int32_t>(bavd.GetAudioGroupCount() * kAudioSlotsPerGroup);
    return kBlockDataOk;
}

const uint8_t* CKorvo8MBlockData::GetVideo(int32_t element, int32_t* size) const
{
    if (size)
        *size = 0;
    if (!_pBlock || !HasElement(element))
        return nullptr;
    uint32_t bytes = 0;
    const uint8_t* p = _pData->GetFieldData(static_cast<uint32_t>(element), &bytes);
    if (p && size)
        *size = static_cast<int32_t>(bytes);
    return p;
}

const uint8_t* CKorvo8MBlockData::GetAudio(int32_t fieldIndex, int32_t* size) const
{
    if (size)
        *size = 0;
    if (!_pBlock || _nAudioUnitSize == 0 || fieldIndex < 0 ||
        static_cast<uint32_t>(fieldIndex) >= _pData->GetBavd().GetElemFieldCnt())
        return nullptr;
    const Bavd& bavd = _pData->GetBavd();
    const uint64_t unit = _nAudioUnitSize;
    const uint64_t i = static_cast<uint32_t>(fieldIndex);
    // Layout 2 stacks the audio upwards from the data area's start, layout 1 downwards from the block's end;
    // SetBlockData proved that all units fit the data area.
    const uint64_t offset =
        bavd.GetLayoutAV() == 2 ? bavd.GetHeaderAreaSize() + unit * i : _nBlockSize - unit * (i + 1);
    if (size)
        *size = static_cast<int32_t>(unit);
    return _pBlock + offset;
}

const uint8_t* CKorvo8MBlockData::DataEnd() const
{
    return _pBlock && _pData->GetBavd().GetElemFieldCnt() > 0 ? _pBlock + _nBlockSize : nullptr;
}
