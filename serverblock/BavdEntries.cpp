#include <cstring>

#include "common/ByteOrder.h"
#include "serverblock/Bavd.h"
#include "serverblock/ServerBlock.h"

namespace
{

constexpr uint8_t kMagic[4] = {'B', 'A', 'V', 'D'};
constexpr uint8_t kVideoFormat64Nibble = 15;

// Versions 257..511 are read, each with the newest layout known for it.
int CheckReadVersion(uint16_t version)
{
    if (version < kBavdVersion257)
        return kBavdEntryVersionLow;
    if (version >= 512)
        return kBavdEntryVersionHigh;
    return kBavdEntryOk;
}

int CheckWriteVersion(uint16_t version, uint16_t newest)
{
    if (version < kBavdVersion257)
        return kBavdEntryVersionLow;
    if (version > newest)
        return kBavdEntryVersionHigh;
    return kBavdEntryOk;
}

void ReadTimecode(const uint8_t* p, BavdTimecode& tc)
{
    tc._nField = ReadBigEndian32(p);
    tc._nByte = p[4];
    tc._nFlags = p[5];
    tc._nUserBits = ReadBigEndian32(p + 6);
}

void WriteTimecode(uint8_t* p, const BavdTimecode& tc)
{
    WriteBigEndian32(p, tc._nField);
    p[4] = tc._nByte;
    p[5] = tc._nFlags;
    WriteBigEndian32(p + 6, tc._nUserBits);
}

}  // namespace

int32_t GetBavdBootstrapSize(uint32_t version)
{
    return version == kBavdVersion257 ? 65 : -1;
}

int32_t GetBavdMediaHeaderSize(uint32_t version)
{
    return version == kBavdVersion257 ? 14 : version == kBavdVersion258 ? 15 : -1;
}

int32_t GetBavdElemFieldSize(uint32_t version)
{
    return version == kBavdVersion257 ? 35 : version == kBavdVersion258 ? 39 : -1;
}

int32_t GetBavdElemRecordSize(uint32_t version)
{
    return version == kBavdVersion257 ? 12 : -1;
}

int BavdHeader::LoadFromBuffer(const uint8_t* bytes, uint64_t length)
{
    if (length < kBodyOffset)
        return kBavdEntryTooShort;
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return kBavdEntryBad;
    const uint16_t version = ReadBigEndian16(bytes + 4);
    if (const int rc = CheckReadVersion(version); rc != kBavdEntryOk)
        return rc;
    if (const int rc = LoadBody(bytes + kBodyOffset, length - kBodyOffset, version); rc != kBavdEntryOk)
        return rc;
    _nBootStrapVersion = version;
    return kBavdEntryOk;
}

int BavdHeader::LoadBody(const uint8_t* b, uint64_t length, uint16_t version)
{
    if (const int rc = CheckReadVersion(version); rc != kBavdEntryOk)
        return rc;
    if (length < kBodySize)
        return kBavdEntryTooShort;
    _nBlockSize = ReadBigEndian32(b + 0);
    _nHeaderVersion = ReadBigEndian16(b + 4);
    _nMediaHeaderOffset = ReadBigEndian32(b + 6);
    _nElemFieldVersion = ReadBigEndian16(b + 10);
    _nElemFieldSize = ReadBigEndian16(b + 12);
    _nElemFieldOffset = ReadBigEndian32(b + 14);
    _nElemFieldCnt = ReadBigEndian16(b + 18);
    _nElemRecordVersion = ReadBigEndian16(b + 20);
    _nElemRecordSize = ReadBigEndian16(b + 22);
    _nElemRecordOffset = ReadBigEndian32(b + 24);
    _nElemRecordCnt = ReadBigEndian16(b + 28);
    _nTablesEnd[0] = ReadBigEndian32(b + 32);
    _nTablesEnd[1] = ReadBigEndian32(b + 40);
    _nTablesEnd[2] = ReadBigEndian32(b + 48);
    _nHeaderAreaSize = ReadBigEndian32(b + 52);
    _nLayoutAV = b[56];
    return kBavdEntryOk;
}

int BavdHeader::SaveToBuffer(uint8_t* bytes, uint64_t length) const
{
    if (length < kBodyOffset)
        return kBavdEntryTooShort;
    std::memcpy(bytes, kMagic, sizeof kMagic);
    WriteBigEndian16(bytes + 4, _nBootStrapVersion);
    WriteBigEndian16(bytes + 6, 0);
    return SaveBody(bytes + kBodyOffset, length - kBodyOffset, _nBootStrapVersion);
}

int BavdHeader::SaveBody(uint8_t* b, uint64_t length, uint16_t version) const
{
    if (const int rc = CheckWriteVersion(version, kBavdVersion257); rc != kBavdEntryOk)
        return rc;
    if (length < kBodySize)
        return kBavdEntryTooShort;
    const int32_t mediaSize = GetBavdMediaHeaderSize(_nHeaderVersion);
    const int32_t fieldSize = GetBavdElemFieldSize(_nElemFieldVersion);
    const int32_t recordSize = GetBavdElemRecordSize(_nElemRecordVersion);
    const uint32_t end = ComputeTablesEnd();
    const uint64_t recordOffset = uint64_t{_nElemFieldOffset} + uint64_t{_nElemFieldSize} * _nElemFieldCnt;
    const bool agrees = _nBlockSize != 0 && mediaSize > 0 && fieldSize > 0 && recordSize > 0 &&
                        _nMediaHeaderOffset == static_cast<uint32_t>(GetBavdBootstrapSize(version)) &&
                        _nElemFieldOffset == _nMediaHeaderOffset + static_cast<uint32_t>(mediaSize) &&
                        _nElemFieldSize == fieldSize && _nElemRecordSize == recordSize &&
                        _nElemRecordOffset == recordOffset && _nTablesEnd[0] == end && _nTablesEnd[1] == end &&
                        _nTablesEnd[2] == end && _nHeaderAreaSize >= end;
    if (!agrees)
        return kBavdEntryBad;
    std::memset(b, 0, kBodySize);
    WriteBigEndian32(b + 0, _nBlockSize);
    WriteBigEndian16(b + 4, _nHeaderVersion);
    WriteBigEndian32(b + 6, _nMediaHeaderOffset);
    WriteBigEndian16(b + 10, _nElemFieldVersion);
    WriteBigEndian16(b + 12, _nElemFieldSize);
    WriteBigEndian32(b + 14, _nElemFieldOffset);
    WriteBigEndian16(b + 18, _nElemFieldCnt);
    WriteBigEndian16(b + 20, _nElemRecordVersion);
    WriteBigEndian16(b + 22, _nElemRecordSize);
    WriteBigEndian32(b + 24, _nElemRecordOffset);
    WriteBigEndian16(b + 28, _nElemRecordCnt);
    WriteBigEndian32(b + 32, _nTablesEnd[0]);
    WriteBigEndian32(b + 40, _nTablesEnd[1]);
    WriteBigEndian32(b + 48, _nTablesEnd[2]);
    WriteBigEndian32(b + 52, _nHeaderAreaSize);
    b[56] = _nLayoutAV;
    return kBavdEntryOk;
}

void BavdHeader::ClampVersions()
{
    if (_nBootStrapVersion >= 258 && _nBootStrapVersion < 512)
        _nBootStrapVersion = kBavdVersion257;
    if (_nHeaderVersion >= 259 && _nHeaderVersion < 512)
        _nHeaderVersion = kBavdVersion258;
    if (_nElemFieldVersion >= 259 && _nElemFieldVersion < 512)
        _nElemFieldVersion = kBavdVersion258;
    if (_nElemRecordVersion >= 258 && _nElemRecordVersion < 512)
        _nElemRecordVersion = kBavdVersion257;
}

uint32_t BavdHeader::ComputeTablesEnd() const
{
    const int64_t bootstrap = GetBavdBootstrapSize(_nBootStrapVersion);
    const int64_t media = GetBavdMediaHeaderSize(_nHeaderVersion);
    const int64_t field = GetBavdElemFieldSize(_nElemFieldVersion);
    const int64_t record = GetBavdElemRecordSize(_nElemRecordVersion);
    if (bootstrap < 0 || media < 0 || field < 0 || record < 0)
        return 0;
    const int64_t end = bootstrap + media + field * _nElemFieldCnt + record * _nElemRecordCnt;
    return static_cast<uint32_t>((end + 127) / 128 * 128);
}

void BavdHeader::ComputeLayout()
{
    const int32_t bootstrap = GetBavdBootstrapSize(_nBootStrapVersion);
    const int32_t media = GetBavdMediaHeaderSize(_nHeaderVersion);
    const int32_t field = GetBavdElemFieldSize(_nElemFieldVersion);
    const int32_t record = GetBavdElemRecordSize(_nElemRecordVersion);
    _nMediaHeaderOffset = static_cast<uint32_t>(bootstrap);
    _nElemFieldSize = static_cast<uint16_t>(field);
    _nElemFieldOffset = static_cast<uint32_t>(bootstrap + media);
    _nElemRecordSize = static_cast<uint16_t>(record);
    _nElemRecordOffset = _nElemFieldOffset + _nElemFieldSize * uint32_t{_nElemFieldCnt};
    _nTablesEnd[0] = _nTablesEnd[1] = _nTablesEnd[2] = ComputeTablesEnd();
}

int BavdMediaHeader::LoadFromBuffer(const uint8_t* b, uint64_t length, uint16_t version)
{
    if (const int rc = CheckReadVersion(version); rc != kBavdEntryOk)
        return rc;
    const uint64_t need = version == kBavdVersion257 ? 14 : 15;
    if (length < need)
        return kBavdEntryTooShort;
    _nFirstField = ReadBigEndian32(b);
    const uint8_t format = b[4] & 0x0F;
    _nVideoFormat = format == kVideoFormat64Nibble ? 64 : format;
    _nAudioFormat = b[4] >> 4;
    _nVideoStandard = b[5] >> 4;
    _nRateSystem = b[5] & 0x0F;
    _bFormatFlag = (b[6] & 0x80) != 0;
    _bProgressive = (b[6] & 0x40) != 0;
    _nAspectRatio = b[6] & 0x0F;
    _nAudioGroupCount = b[7];
    _bSimultaneous = version >= kBavdVersion258 && b[14] != 0;
    return kBavdEntryOk;
}

int BavdMediaHeader::SaveToBuffer(uint8_t* b, uint64_t length, uint16_t version) const
{
    if (const int rc = CheckWriteVersion(version, kBavdVersion258); rc != kBavdEntryOk)
        return rc;
    const uint64_t need = version == kBavdVersion257 ? 14 : 15;
    if (length < need)
        return kBavdEntryTooShort;
    std::memset(b, 0, need);
    WriteBigEndian32(b, _nFirstField);
    const uint8_t format = _nVideoFormat == 64 ? kVideoFormat64Nibble : (_nVideoFormat & 0x0F);
    b[4] = static_cast<uint8_t>(_nAudioFormat << 4 | format);
    b[5] = static_cast<uint8_t>(_nVideoStandard << 4 | (_nRateSystem & 0x0F));
    b[6] = static_cast<uint8_t>((_bFormatFlag ? 0x80 : 0) | (_bProgressive ? 0x40 : 0) | (_nAspectRatio & 0x0F));
    b[7] = _nAudioGroupCount;
    if (version == kBavdVersion258)
        b[14] = _bSimultaneous ? 1 : 0;
    return kBavdEntryOk;
}

int BavdElemField::LoadFromBuffer(const uint8_t* b, uint64_t length, uint16_t version)
{
    if (const int rc = CheckReadVersion(version); rc != kBavdEntryOk)
        return rc;
    const uint64_t need = version == kBavdVersion257 ? 35 : 39;
    if (length < need)
        return kBavdEntryTooShort;
    _nFieldId = ReadBigEndian32(b);
    _nPictureByte = b[4];
    for (int i = 0; i < 3; ++i)
        ReadTimecode(b + 5 + 10 * i, _tc[i]);
    _nExtra[0] = version >= kBavdVersion258 ? ReadBigEndian16(b + 35) : 0;
    _nExtra[1] = version >= kBavdVersion258 ? ReadBigEndian16(b + 37) : 0;
    return kBavdEntryOk;
}

int BavdElemField::SaveToBuffer(uint8_t* b, uint64_t length, uint16_t version) const
{
    if (const int rc = CheckWriteVersion(version, kBavdVersion258); rc != kBavdEntryOk)
        return rc;
    const uint64_t need = version == kBavdVersion257 ? 35 : 39;
    if (length < need)
        return kBavdEntryTooShort;
    WriteBigEndian32(b, _nFieldId);
    b[4] = _nPictureByte;
    for (int i = 0; i < 3; ++i)
        WriteTimecode(b + 5 + 10 * i, _tc[i]);
    if (version == kBavdVersion258) {
        WriteBigEndian16(b + 35, _nExtra[0]);
        WriteBigEndian16(b + 37, _nExtra[1]);
    }
    return kBavdEntryOk;
}

void BavdElemRecord::Clear()
{
    const Bavd* owner = _pOwner;
    *this = BavdElemRecord();
    _pOwner = owner;
}

void BavdElemRecord::SetLineVariant(uint32_t lines)
{
    _nLineVariant = kUnknownLines;
    if (!_pOwner)
        return;
    const BavdMediaHeader& media = _pOwner->GetMediaHeader();
    if (IsTwoFieldVideoFormat(media._nVideoFormat))
        lines /= 2;
    struct Variant {
        uint8_t nStandard;
        uint32_t nLines;
        uint8_t nVariant;
    };
    static constexpr Variant kVariants[] = {{1, 240, 0}, {1, 248, 1}, {1, 256, 2}, {2, 288, 0},
                                            {2, 296, 1}, {2, 304, 2}, {3, 720, 0}, {4, 544, 0}};
    for (const Variant& v : kVariants) {
        if (v.nStandard == media._nVideoStandard && v.nLines == lines)
            _nLineVariant = v.nVariant;
    }
}

int BavdElemRecord::LoadFromBuffer(const uint8_t* b, uint64_t length, uint16_t version)
{
    if (const int rc = CheckReadVersion(version); rc != kBavdEntryOk)
        return rc;
    if (length < 12)
        return kBavdEntryTooShort;
    _nDataOffset = ReadBigEndian32(b);
    _nDataSize = ReadBigEndian32(b + 4);
    _nWidth = b[8];
    _nLineVariant = b[9];
    _nChannelFlag = b[10] ? 1 : 0;
    _nChannelByte = b[11];
    return kBavdEntryOk;
}

int BavdElemRecord::SaveToBuffer(uint8_t* b, uint64_t length, uint16_t version) const
{
    if (const int rc = CheckWriteVersion(version, kBavdVersion257); rc != kBavdEntryOk)
        return rc;
    if (length < 12)
        return kBavdEntryTooShort;
    WriteBigEndian32(b, _nDataOffset);
    WriteBigEndian32(b + 4, _nDataSize);
    b[8] = _nWidth;
    b[9] = _nLineVariant;
    b[10] = _nChannelFlag ? 1 : 0;
    b[11] = _nChannelByte;
    return kBavdEntryOk;
}
