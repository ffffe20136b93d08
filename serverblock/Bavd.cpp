#include "serverblock/Bavd.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/ByteOrder.h"
#include "common/CTcConverter.h"
#include "serverblock/ServerBlock.h"

namespace
{

// Places inside the 2kTable block's table.

constexpr uint8_t kFlagSdNarrow = 0x10;
constexpr uint8_t kFlagLines = 0x08;
constexpr uint8_t kFlagLines256 = 0x04;

uint32_t LinesFrom2kEntry(uint32_t standard, uint8_t flags, uint8_t headerByte)
{
    switch (standard) {
        case 1:
            return (flags & kFlagLines) ? ((flags & kFlagLines256) ? 256 : 240) : 248;
        case 2:
            return (flags & kFlagLines) ? 304 : (headerByte ? 296 : 288);
        case 3:
            return 720;
        case 4:
            return 544;
        default:
            return 0;
    }
}

uint32_t WidthFrom2kEntry(uint32_t standard, uint32_t videoFormat, uint8_t widthByte, uint8_t flags)
{
    const uint32_t n = widthByte & 0x7F;
    if (IsHDStandard(standard))
        return n == 23 && (videoFormat == 7 || videoFormat == 8 || videoFormat == 9) ? 1440 : n * 64;
    if (!(flags & kFlagSdNarrow))
        return 720;
    return n * 32 - ((n == 12 || n == 13 || n == 23) ? 16 : 0);
}

}  // namespace

bool Bavd::AllocateElements()
{
    if (_pFields && _pRecords)
        return true;
    _pFields.reset(new (std::nothrow) BavdElemField[kBavdMaxElements]);
    _pRecords.reset(new (std::nothrow) BavdElemRecord[kBavdMaxElements]);
    if (!_pFields || !_pRecords) {
        _pFields.reset();
        _pRecords.reset();
        return false;
    }
    for (uint32_t i = 0; i < kBavdMaxElements; ++i)
        _pRecords[i]._pOwner = this;
    return true;
}

bool Bavd::IsWritableBavd() const
{
    return _header._nBootStrapVersion == kBavdVersion257 &&
           (_header._nBlockSize == kBlockSize2MB || _header._nBlockSize == kBlockSize8MB);
}

void Bavd::Reset()
{
    _header = BavdHeader();
    _media = BavdMediaHeader();
}

int Bavd::SetBlockType(uint32_t type)
{
    Reset();
    if (!AllocateElements())
        return 1;
    switch (type) {
        case 1:
            _header._nBlockSize = kBlockSize2MB;
            _header._nBootStrapVersion = 0;
            return 0;
        case 2:
            _header._nBlockSize = kBlockSize2MB;
            _header._nLayoutAV = 2;
            return 0;
        case 3:
            _header._nBlockSize = kBlockSize8MB;
            _header._nLayoutAV = 2;
            return 0;
        default:
            return 2;
    }
}

int Bavd::SetBootStrapVersion(uint16_t version)
{
    if (!IsWritableBavd())
        return 1;
    _header._nBootStrapVersion = version;
    return 0;
}

int Bavd::SetHeaderVersion(uint16_t version)
{
    if (!IsWritableBavd())
        return 1;
    _header._nHeaderVersion = version;
    return 0;
}

int Bavd::SetElemFieldVersion(uint16_t version)
{
    if (!IsWritableBavd())
        return 1;
    _header._nElemFieldVersion = version;
    return 0;
}

int Bavd::SetElemRecordVersion(uint16_t version)
{
    if (!IsWritableBavd())
        return 1;
    _header._nElemRecordVersion = version;
    return 0;
}

uint32_t Bavd::GetDataAreaSize() const
{
    if (_header._nBootStrapVersion == 0)
        return _header._nBlockSize - k2kTableSize;
    return _header._nBlockSize - std::min(_header._nBlockSize, _header._nHeaderAreaSize);
}

uint32_t Bavd::GetMaxElements() const
{
    return IsWritableBavd() ? kBavdMaxElements : 0;
}

uint32_t Bavd::ComputeHeaderSize(uint32_t elemFields, uint32_t elemRecords) const
{
    const int64_t bootstrap = GetBavdBootstrapSize(_header._nBootStrapVersion);
    const int64_t media = GetBavdMediaHeaderSize(_header._nHeaderVersion);
    const int64_t field = GetBavdElemFieldSize(_header._nElemFieldVersion);
    const int64_t record = GetBavdElemRecordSize(_header._nElemRecordVersion);
    if (bootstrap < 0 || media < 0 || field < 0 || record < 0)
        return 0xFFFFFFFF;  // no layout: never fits
    const int64_t size = bootstrap + media + field * elemFields + record * elemRecords;
    return size > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(size);
}

BavdElemField* Bavd::GetElemField(uint32_t n)
{
    return n < kBavdMaxElements && AllocateElements() ? &_pFields[n] : nullptr;
}

BavdElemRecord* Bavd::GetElemRecord(uint32_t n)
{
    return n < kBavdMaxElements && AllocateElements() ? &_pRecords[n] : nullptr;
}

const BavdElemField* Bavd::GetElemField(uint32_t n) const
{
    return n < kBavdMaxElements && _pFields ? &_pFields[n] : nullptr;
}

const BavdElemRecord* Bavd::GetElemRecord(uint32_t n) const
{
    return n < kBavdMaxElements && _pRecords ? &_pRecords[n] : nullptr;
}

uint32_t Bavd::GetRecordsPerField() const
{
    uint32_t records = _header._nElemRecordCnt;
    const uint32_t fields = _header._nElemFieldCnt;
    if (IsTwoFieldVideoFormat(_media._nVideoFormat))
        records *= 2;
    if (records == 0 || fields == 0)
        return 0;
    return std::max<uint32_t>(1, records / fields);
}

uint32_t Bavd::GetFieldsPerRecord() const
{
    uint32_t records = _header._nElemRecordCnt;
    if (IsTwoFieldVideoFormat(_media._nVideoFormat))
        records *= 2;
    if (records == 0)
        return 1;
    return std::max<uint32_t>(1, _header._nElemFieldCnt / records);
}

int Bavd::LoadFromBuffer(const uint8_t* buffer, uint64_t length)
{
    Reset();
    if (!AllocateElements())
        return kBavdNoMemory;
    if (!buffer || length < BavdHeader::kBodyOffset)
        return kBavdTooShort;
    const int rc = _header.LoadFromBuffer(buffer, length);
    if (rc == kBavdEntryBad)
        return LoadFrom2kTable(buffer, length);
    if (rc != kBavdEntryOk)
        return -rc;
    return LoadElements(buffer, length);
}

int Bavd::LoadElements(const uint8_t* buffer, uint64_t length)
{
    // Every offset and size comes from the block: checked in 64 bits against the bytes given.
    const uint64_t mediaOffset = _header._nMediaHeaderOffset;
    const uint64_t fieldOffset = _header._nElemFieldOffset;
    if (fieldOffset < mediaOffset || fieldOffset > length)
        return kBavdTooShort;
    if (int rc = _media.LoadFromBuffer(buffer + mediaOffset, fieldOffset - mediaOffset, _header._nHeaderVersion))
        return -rc;

    const uint64_t fieldStride = _header._nElemFieldSize;
    if (uint64_t{_header._nElemFieldCnt} * fieldStride > length - fieldOffset)
        return kBavdTooShort;
    if (_header._nElemFieldCnt > kBavdMaxElements)
        return kBavdTooManyFields;
    for (uint32_t i = 0; i < _header._nElemFieldCnt; ++i) {
        const uint8_t* p = buffer + fieldOffset + i * fieldStride;
        if (int rc = _pFields[i].LoadFromBuffer(p, fieldStride, _header._nElemFieldVersion))
            return -rc;
    }

    const uint64_t recordOffset = _header._nElemRecordOffset;
    const uint64_t recordStride = _header._nElemRecordSize;
    if (recordOffset > length || uint64_t{_header._nElemRecordCnt} * recordStride > length - recordOffset)
        return kBavdTooShort;
    if (_header._nElemRecordCnt > kBavdMaxElements)
        return kBavdTooManyRecords;
    for (uint32_t i = 0; i < _header._nElemRecordCnt; ++i) {
        const uint8_t* p = buffer + recordOffset + i * recordStride;
        if (int rc = _pRecords[i].LoadFromBuffer(p, recordStride, _header._nElemRecordVersion))
            return -rc;
    }
    return kBavdOk;
}

int Bavd::LoadFrom2kTable(const uint8_t* t, uint64_t length)
{
    Reset();
    if (!AllocateElements())
        return kBavdNoMemory;
    if (!t || length < k2kTableSize)
        return kBavdTooShort;

    const uint32_t firstField = ReadLittleEndian32(t + k2kTableFirstField);
    const uint32_t endField = ReadLittleEndian32(t + k2kTableEndField);
    const uint32_t fieldCount = static_cast<uint16_t>((endField & 0xFFFF) - (firstField & 0xFFFF));
    const uint32_t channels = t[k2kTableChannels] & 0x07;
    const uint32_t standardNibble = t[k2kTableStandard] >> 4;
    const uint32_t standard = standardNibble + 1;
    const uint32_t videoFormat = VideoFormatFromCodecNibble(t[k2kTableCodec] & 0x0F, IsHDStandard(standard));
    const uint32_t perPicture = IsTwoFieldVideoFormat(videoFormat) || (t[k2kTableChannels] & 0x08) ? 2 : 1;
    if (perPicture == 2 && fieldCount % 2)
        return kBavdNotABlock;
    const uint32_t entries = fieldCount / perPicture * channels;

    const uint8_t version = t[k2kTableVersion];
    uint32_t mode = version < 2 ? 1 : 2;
    if (version >= 5) {
        mode = t[k2kTableEntryMode];
        if (mode != 1 && mode != 2)
            return kBavdNotABlock;
    }
    const uint32_t maxEntries = mode == 1 ? k2kMaxEntries : k2kMaxEntriesWithTc;
    if (std::max(fieldCount, entries) > maxEntries)
        return kBavdNotABlock;
    // Field i reads entry i x channels, picture k the first field element of its picture: both stay in the table.
    if (fieldCount > 0 && uint64_t{fieldCount - 1} * std::max<uint32_t>(channels, 1) >= maxEntries)
        return kBavdNotABlock;
    if (entries > 0 && uint64_t{(entries - 1) / channels} * perPicture * channels + channels > maxEntries)
        return kBavdNotABlock;

    _header._nBootStrapVersion = 0;
    _header._nBlockSize = kBlockSize2MB;
    _header._nHeaderVersion = 0;
    _header._nElemFieldVersion = 0;
    _header._nElemRecordVersion = 0;
    _header._nHeaderAreaSize = 0;
    _header._nLayoutAV = 1;
    _header._nElemFieldCnt = static_cast<uint16_t>(fieldCount);
    _header._nElemRecordCnt = static_cast<uint16_t>(entries);

    if (standardNibble > 3 || videoFormat == 0)
        return kBavdNotABlock;
    const uint32_t audioNibble = t[k2kTableCodec] >> 4;
    if (audioNibble > 1)
        return kBavdNotABlock;
    _media._nVideoStandard = static_cast<uint8_t>(standard);
    _media._nVideoFormat = static_cast<uint8_t>(videoFormat);
    _media._nAudioFormat = static_cast<uint8_t>(audioNibble + 1);
    _media._nFirstField = firstField;
    _media._nRateSystem = t[k2kTableStandard] & 0x0F;
    _media._nAspectRatio = t[k2kTableAspect] & 0x0F;
    _media._bProgressive = (t[k2kTableAspect] & 0x40) != 0;
    _media._bFormatFlag = (t[k2kTableAspect] & 0x80) != 0;
    _media._nAudioGroupCount = t[k2kTableChannels] >> 4;
    _media._bSimultaneous = version >= 6 && (t[k2kTableLinkFlags] & 0x01);

    CTcConverter converter;
    if (mode == 2) {
        const uint32_t rate = _media._nRateSystem;
        if (rate < 3 || rate > 8)
            return kBavdNotABlock;
        converter.SetMode(!(rate == 3 || rate == 6), true);
    }
    for (uint32_t i = 0; i < fieldCount; ++i) {
        const uint32_t index = i * channels;
        const uint8_t* entry = t + k2kEntryOffset + index * k2kEntrySize;
        BavdElemField& field = _pFields[i];
        field.Clear();
        field._nFieldId = ReadBigEndian32(entry + k2kEntryFieldId);
        if (mode != 2)
            continue;
        const uint8_t* record = t + k2kTcRecordOffset + index * k2kTcRecordSize;
        for (int n = 0; n < 3; ++n) {
            const uint32_t word = ReadLittleEndian32(record + 8 * n);
            field._tc[n]._nField = converter.BcdTcToField(word, n == 0);
            field._tc[n]._nFlags = static_cast<uint8_t>(converter.GetBcdTcFlags(word));
            field._tc[n]._nUserBits = ReadLittleEndian32(record + 8 * n + 4);
        }
    }

    const bool largeUnits = version >= 5;
    for (uint32_t k = 0; k < entries; ++k) {
        const uint32_t index = k / channels * perPicture * channels + k % channels;
        const uint8_t* entry = t + k2kEntryOffset + index * k2kEntrySize;
        const uint8_t flags = entry[k2kEntryFlags];
        const uint64_t offset = uint64_t{ReadLittleEndian32(entry + k2kEntryPicture)} * k2kPictureAlign;
        const uint64_t size =
            uint64_t{ReadBigEndian16(entry + k2kEntrySizeWord)} * (largeUnits && (flags & k2kFlagLargeSize) ? 64 : 8);
        // Pictures lie below the table.
        if (offset > k2kTableOffset || size > k2kTableOffset - offset)
            return kBavdNotABlock;
        BavdElemRecord& record = _pRecords[k];
        record.Clear();
        record._nDataOffset = static_cast<uint32_t>(offset);
        record._nDataSize = static_cast<uint32_t>(size);
        record.SetWidth(WidthFrom2kEntry(standard, videoFormat, entry[k2kEntryWidth], flags));
        uint32_t lines = LinesFrom2kEntry(standard, flags, t[k2kTableHeaderByte]);
        if (IsTwoFieldVideoFormat(videoFormat))
            lines *= 2;
        record.SetLineVariant(lines);
        record._nChannelFlag = entry[k2kEntryWidth] >> 7;
        record._nChannelByte = entry[k2kEntryChannelByte];
    }
    return kBavdOk;
}

int Bavd::SaveToBuffer(uint8_t* buffer, uint64_t length)
{
    if (_header._nBootStrapVersion == 0)
        return kBavdNotABlock;
    _header.ClampVersions();
    struct VersionLimit {
        uint16_t nVersion;
        uint16_t nNewest;
    };
    const VersionLimit limits[] = {{_header._nBootStrapVersion, kBavdVersion257},
                                   {_header._nHeaderVersion, kBavdVersion258},
                                   {_header._nElemFieldVersion, kBavdVersion258},
                                   {_header._nElemRecordVersion, kBavdVersion257}};
    for (const VersionLimit& v : limits) {
        if (v.nVersion < kBavdVersion257)
            return kBavdVersionLow;
        if (v.nVersion > v.nNewest)
            return kBavdVersionHigh;
    }
    if (_header._nElemFieldCnt > kBavdMaxElements)
        return kBavdTooManyFields;
    if (_header._nElemRecordCnt > kBavdMaxElements)
        return kBavdTooManyRecords;
    if (!AllocateElements())
        return kBavdNoMemory;
    if (!buffer)
        return kBavdTooShort;
    _header.ComputeLayout();

    if (int rc = _header.SaveToBuffer(buffer, length))
        return -rc;
    const uint64_t mediaOffset = _header._nMediaHeaderOffset;
    const uint64_t fieldOffset = _header._nElemFieldOffset;
    if (fieldOffset > length)
        return kBavdTooShort;
    if (int rc = _media.SaveToBuffer(buffer + mediaOffset, fieldOffset - mediaOffset, _header._nHeaderVersion))
        return -rc;

    const uint64_t fieldSize = _header._nElemFieldSize;
    if (uint64_t{_header._nElemFieldCnt} * fieldSize > length - fieldOffset)
        return kBavdTooShort;
    for (uint32_t i = 0; i < _header._nElemFieldCnt; ++i) {
        if (int rc =
                _pFields[i].SaveToBuffer(buffer + fieldOffset + i * fieldSize, fieldSize, _header._nElemFieldVersion))
            return -rc;
    }
    const uint64_t recordOffset = _header._nElemRecordOffset;
    const uint64_t recordSize = _header._nElemRecordSize;
    const uint64_t recordsEnd = recordOffset + uint64_t{_header._nElemRecordCnt} * recordSize;
    if (recordsEnd > length)
        return kBavdTooShort;
    for (uint32_t i = 0; i < _header._nElemRecordCnt; ++i) {
        if (int rc = _pRecords[i].SaveToBuffer(buffer + recordOffset + i * recordSize, recordSize,
                                               _header._nElemRecordVersion))
            return -rc;
    }
    // The rest of the tables area is zero, so a block's bytes depend only on what was put in.
    const uint64_t tablesEnd = std::min<uint64_t>(_header._nTablesEnd[0], length);
    if (tablesEnd > recordsEnd)
        std::memset(buffer + recordsEnd, 0, tablesEnd - recordsEnd);
    return kBavdOk;
}
