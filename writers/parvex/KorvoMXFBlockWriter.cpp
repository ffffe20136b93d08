#include "writers/parvex/KorvoMXFBlockWriter.h"

#include <cstring>
#include <new>

#include "common/ByteOrder.h"
#include "common/CTcConverter.h"
#include "serverblock/ServerBlock.h"

namespace
{

constexpr uint32_t kBitStandard = 0x1;
constexpr uint32_t kBitVideoSystem = 0x2;
constexpr uint32_t kBitAspectRatio = 0x4;
constexpr uint32_t kBitProgressive = 0x8;
constexpr uint32_t kBitFormatFlag = 0x10;
constexpr uint32_t kBitDualLink = 0x20;
constexpr uint32_t kBitSimultaneous = 0x40;
constexpr uint32_t kBitVideoFormat = 0x80;
constexpr uint32_t kBitAudioFormat = 0x100;
constexpr uint32_t kBitTableHeaderByte = 0x200;
constexpr uint32_t kBitVideoChannels = 0x400;
constexpr uint32_t kBitAudioGroups = 0x800;
constexpr uint32_t kBitTwoFields = 0x1000;
constexpr uint32_t kMask2k = 0x1FFF;
constexpr uint32_t kMaskBavd = kMask2k & ~kBitTableHeaderByte;

constexpr uint32_t kMinFieldNumber = 1000;
constexpr uint32_t kMaxPictureSize = 0x3FFFC0;
constexpr uint32_t kMetadataMarker = 0xFCFDFEFF;  // the bytes FF FE FD FC read little-endian
constexpr uint8_t kMarkerBytes[4] = {0xFF, 0xFE, 0xFD, 0xFC};

// Data block places (see the header).
constexpr uint32_t kDbFlags = 4;
constexpr uint32_t kDbChannelBytes = 12;
constexpr uint32_t kDbTcTail = 14;
constexpr uint32_t kDbFieldEntry = 16;

uint32_t Pad128(uint32_t size)
{
    return (size + 127) & ~127u;
}

bool ValidVideoFormat(uint32_t format)
{
    return (format >= 1 && format <= 9) || format == 64;
}

// Copies a video element of format 2: leading metadata chunks as they are, the rest word-reversed.
bool CopyFormat2Element(const uint8_t* source, uint32_t size, uint8_t* destination)
{
    static_assert(kMetadataMarker == (0xFCu << 24 | 0xFDu << 16 | 0xFEu << 8 | 0xFFu));
    uint32_t pos = 0;
    while (size - pos >= 8 && std::memcmp(source + pos, kMarkerBytes, 4) == 0) {
        const uint32_t length = 128 * (256 * uint32_t{source[pos + 6]} + source[pos + 7]);
        // A chunk of no length or longer than the element would run away: the element is refused.
        if (length == 0 || length > size - pos)
            return false;
        std::memcpy(destination + pos, source + pos, length);
        pos += length;
    }
    ByteSwap32Copy(source + pos, destination + pos, size - pos);
    const uint32_t tail = (size - pos) % 4;
    std::memcpy(destination + size - tail, source + size - tail, tail);
    return true;
}

}  // namespace

KorvoMXFResult KorvoMXFBlockWriter::SetBlockType(uint32_t type)
{
    _nBlockType = type;
    switch (type) {
        case KORVOMXF_BLOCK_TBL2K_2MB:
            _nBlockSize = kBlockSize2MB;
            _pBavd.reset();
            return KORVOMXF_OK;
        case KORVOMXF_BLOCK_BAVD_2MB:
        case KORVOMXF_BLOCK_BAVD_8MB: {
            _nBlockSize = type == KORVOMXF_BLOCK_BAVD_2MB ? kBlockSize2MB : kBlockSize8MB;
            if (!_pBavd)
                _pBavd.reset(new (std::nothrow) Bavd);
            if (!_pBavd) {
                Log("(KorvoMXFBlockWriter::SetBlockType) Failed to allocate BAVD object");
                return KORVOMXF_ERR_OUT_OF_MEMORY;
            }
            if (const int rc = _pBavd->SetBlockType(type); rc != 0) {
                Log("(KorvoMXFBlockWriter::SetBlockType) Bavd::SetBlockType failed (%d)", rc);
                return KORVOMXF_ERR_UNSUCCESSFUL;
            }
            return KORVOMXF_OK;
        }
        default:
            _nBlockSize = 0;
            Log("(KorvoMXFBlockWriter::SetBlockType) Block type not supported");
            return KORVOMXF_ERR_UNSUCCESSFUL;
    }
}

KorvoMXFResult KorvoMXFBlockWriter::SetBlockBuffer(uint8_t* buffer, uint32_t size)
{
    if (_nBlockSize == 0) {
        Log("(KorvoMXFBlockWriter::SetBlockBuffer) Block type not specified");
        return KORVOMXF_ERR_UNSUCCESSFUL;
    }
    if (!buffer || size < _nBlockSize) {
        Log("(KorvoMXFBlockWriter::SetBlockBuffer) Buffer size (0x%X) should be at least 0x%X", buffer ? size : 0,
            _nBlockSize);
        return KORVOMXF_ERR_INSUFFICIENT_BUFFER;
    }
    if (_nBlockType == KORVOMXF_BLOCK_TBL2K_2MB) {
        _n2kEntries = 0;
        _n2kVideoEnd = 0;
        _n2kAudioStart = _nBlockSize - k2kTableSize;
    } else {
        if (!_pBavd) {
            Log("(KorvoMXFBlockWriter::SetBlockBuffer) No BAVD object");
            return KORVOMXF_ERR_OUT_OF_MEMORY;
        }
        _pBavd->SetElemFieldCnt(0);
        _pBavd->SetElemRecordCnt(0);
        if (_pBavd->GetLayoutAV() != 2) {
            Log("(KorvoMXFBlockWriter::SetBlockBuffer) LayoutAV not implemented");
            return KORVOMXF_ERR_NOT_IMPLEMENTED;
        }
        _nBavdAudioPos = _pBavd->GetHeaderAreaSize();
        _nBavdVideoTop = _nBlockSize;
    }
    _pBlock = buffer;
    _nBlockFirstField = _nCurrentField;
    _bFirstPicture = true;
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFBlockWriter::SetFirstField(uint32_t field)
{
    _nBlockFirstField = _nCurrentField = field;
    if (_bFieldCheck && (field < kMinFieldNumber || field == 0xFFFFFFFF)) {
        Log("(KorvoMXFBlockWriter::SetFirstField) Invalid field number (%u)", field);
        return KORVOMXF_ERR_INVALID_FIELD_NUMBER;
    }
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFBlockWriter::SetBavdVersion(const char* where, int (Bavd::*setter)(uint16_t), uint16_t version)
{
    if (_nBlockType != KORVOMXF_BLOCK_BAVD_2MB && _nBlockType != KORVOMXF_BLOCK_BAVD_8MB) {
        Log("(KorvoMXFBlockWriter::%s) Block type not supported", where);
        return KORVOMXF_ERR_UNSUCCESSFUL;
    }
    if (!_pBavd) {
        Log("(KorvoMXFBlockWriter::%s) No BAVD object", where);
        return KORVOMXF_ERR_OUT_OF_MEMORY;
    }
    return ((*_pBavd).*setter)(version) == 0 ? KORVOMXF_OK : KORVOMXF_ERR_UNSUCCESSFUL;
}

KorvoMXFResult KorvoMXFBlockWriter::SetBavdBootStrapVersion(uint16_t version)
{
    return SetBavdVersion("SetBavdBootStrapVersion", &Bavd::SetBootStrapVersion, version);
}

KorvoMXFResult KorvoMXFBlockWriter::SetBavdHeaderVersion(uint16_t version)
{
    return SetBavdVersion("SetBavdHeaderVersion", &Bavd::SetHeaderVersion, version);
}

KorvoMXFResult KorvoMXFBlockWriter::SetBavdElemFieldVersion(uint16_t version)
{
    return SetBavdVersion("SetBavdElemFieldVersion", &Bavd::SetElemFieldVersion, version);
}

KorvoMXFResult KorvoMXFBlockWriter::SetBavdElemRecordVersion(uint16_t version)
{
    return SetBavdVersion("SetBavdElemRecordVersion", &Bavd::SetElemRecordVersion, version);
}

void KorvoMXFBlockWriter::SetStandard(uint32_t standard)
{
    _nStandard = standard;
    Set(kBitStandard);
    if (_nRateClass == 0) {
        if (standard == 3 || standard == 6)
            _nRateClass = 3;
        else if (standard == 4 || standard == 7)
            _nRateClass = 4;
        else if (standard == 5 || standard == 8)
            _nRateClass = 5;
    }
}

void KorvoMXFBlockWriter::SetVideoSystem(uint32_t system)
{
    _nVideoSystem = system;
    Set(kBitVideoSystem);
}

void KorvoMXFBlockWriter::SetAspectRatio(uint32_t code)
{
    _nAspectRatio = code;
    Set(kBitAspectRatio);
}

void KorvoMXFBlockWriter::SetProgressive(bool on)
{
    _bProgressive = on;
    Set(kBitProgressive);
}

void KorvoMXFBlockWriter::SetFormatFlag(bool on)
{
    _bFormatFlag = on;
    Set(kBitFormatFlag);
}

void KorvoMXFBlockWriter::SetDualLink(bool on)
{
    _bDualLink = on;
    Set(kBitDualLink);
}

void KorvoMXFBlockWriter::SetSimultaneousMode(bool on)
{
    _bSimultaneous = on;
    Set(kBitSimultaneous);
}

void KorvoMXFBlockWriter::SetVideoFormat(uint32_t format)
{
    _nVideoFormat = format;
    Set(kBitVideoFormat);
}

void KorvoMXFBlockWriter::SetAudioFormat(uint32_t format)
{
    _nAudioFormat = format;
    Set(kBitAudioFormat);
}

void KorvoMXFBlockWriter::SetTableHeaderByte(uint8_t value)
{
    _nTableHeaderByte = value;
    Set(kBitTableHeaderByte);
}

void KorvoMXFBlockWriter::SetVideoChannelCount(uint32_t count)
{
    _nVideoChannels = count;
    Set(kBitVideoChannels);
}

void KorvoMXFBlockWriter::SetAudioGroupCount(uint32_t count)
{
    _nAudioGroups = count;
    Set(kBitAudioGroups);
}

void KorvoMXFBlockWriter::SetTwoFields(bool on)
{
    _bTwoFields = on;
    Set(kBitTwoFields);
}

uint32_t KorvoMXFBlockWriter::FieldsPerPicture() const
{
    return IsTwoFieldVideoFormat(_nVideoFormat) || _bTwoFields ? 2 : 1;
}

uint32_t KorvoMXFBlockWriter::AudioBytesPerField() const
{
    return GetAudioUnit(_nStandard) * _nAudioGroups;
}

uint32_t KorvoMXFBlockWriter::GeneratedTimecode(uint32_t k) const
{
    const uint32_t perDay = GetFieldsPerDay(_nRateClass);
    const uint32_t t = perDay ? k % perDay : k;
    return _nRateClass == 5 ? t | CTcConverter::kNonDropMark : t;
}

uint32_t KorvoMXFBlockWriter::FieldTimecode(const Picture& picture, uint32_t field) const
{
    if (field < picture.nDataBlockCount)
        return ReadBigEndian32(picture.pDataBlocks + field * kKorvoMXFDataBlockSize + kDbFieldEntry);
    return GeneratedTimecode(_nFieldsWritten + field);
}

uint8_t KorvoMXFBlockWriter::GetCodecByte() const
{
    const bool hd = IsHD();
    uint8_t codec;
    switch (_nVideoFormat) {
        case 1:
            codec = hd ? 1 : 0;
            break;
        case 2:
            codec = hd ? 0 : 15;
            break;
        case 3:
            codec = 2;
            break;
        case 4:
            codec = 3;
            break;
        case 5:
        case 6:
        case 7:
        case 8:
            codec = hd ? static_cast<uint8_t>(_nVideoFormat - 1) : 15;
            break;
        case 9:
            codec = hd ? 15 : 8;
            break;
        default:
            codec = 15;
    }
    if (_nAudioFormat == 2)
        codec |= 0x10;
    else if (_nAudioFormat != 1)
        codec |= 0xF0;
    return codec;
}

uint32_t KorvoMXFBlockWriter::GetVideoFormatWord() const
{
    return uint32_t{GetCodecByte()} << 8 | (_nAspectRatio & 0xF) << 16 | (_bProgressive ? 1u << 22 : 0) |
           (_bFormatFlag ? 1u << 23 : 0) | (_nStandard & 0xF) << 24 | ((_nVideoSystem - 1) & 0xF) << 28;
}

KorvoMXFResult KorvoMXFBlockWriter::AddPicture(uint32_t videoCount, const KorvoMXFVideoInfo* videoInfo,
                                               const uint8_t* videoData, uint32_t audioCount,
                                               const KorvoMXFAudioInfo* audioInfo, const uint8_t* audioData,
                                               uint32_t dataBlockCount, const uint32_t* dataBlockSizes,
                                               const uint8_t* dataBlocks)
{
    const char* where = _nBlockType == KORVOMXF_BLOCK_TBL2K_2MB ? "AddPictureTBL2K_2MB" : "AddPictureAccessor";
    for (uint32_t i = 0; i < dataBlockCount; ++i) {
        if (!dataBlockSizes || !dataBlocks || dataBlockSizes[i] != kKorvoMXFDataBlockSize) {
            Log("(KorvoMXFBlockWriter::%s) Invalid data size", where);
            return KORVOMXF_ERR_INVALID_PARAMETER;
        }
    }
    const Picture picture{videoCount, videoInfo, videoData,      audioCount,
                          audioInfo,  audioData, dataBlockCount, dataBlocks};
    switch (_nBlockType) {
        case KORVOMXF_BLOCK_TBL2K_2MB:
            return AddPictureTBL2K_2MB(picture);
        case KORVOMXF_BLOCK_BAVD_2MB:
        case KORVOMXF_BLOCK_BAVD_8MB:
            return AddPictureAccessor(picture);
        default:
            Log("(KorvoMXFBlockWriter::AddPicture) Block type not implemented");
            return KORVOMXF_ERR_NOT_IMPLEMENTED;
    }
}

KorvoMXFResult KorvoMXFBlockWriter::CheckPicture(const char* where, const Picture& p, uint32_t requiredMask)
{
    if ((_nConfigured & requiredMask) != requiredMask) {
        Log("(KorvoMXFBlockWriter::%s) Incomplete configuration (0x%X)", where, _nConfigured);
        return KORVOMXF_ERR_INCOMPLETE_CONFIG;
    }
    if (!_pBlock) {
        Log("(KorvoMXFBlockWriter::%s) No block buffer", where);
        return KORVOMXF_ERR_INVALID_BUFFER;
    }
    if (_bFieldCheck && (_nCurrentField < kMinFieldNumber || _nCurrentField == 0xFFFFFFFF)) {
        Log("(KorvoMXFBlockWriter::%s) Invalid field number (%u)", where, _nCurrentField);
        return KORVOMXF_ERR_INVALID_FIELD_NUMBER;
    }
    if (!ValidVideoFormat(_nVideoFormat)) {
        Log("(KorvoMXFBlockWriter::%s) Video format not supported", where);
        return KORVOMXF_ERR_NOT_SUPPORTED;
    }
    if (_nAudioGroups && _nAudioFormat != 1 && _nAudioFormat != 2) {
        Log("(KorvoMXFBlockWriter::%s) Audio format not supported", where);
        return KORVOMXF_ERR_NOT_SUPPORTED;
    }
    if (_nVideoSystem == 4 && _bProgressive) {
        if (!_bDualLink || !_bSimultaneous) {
            Log("(KorvoMXFBlockWriter::%s) 1080p supported in dual link simultaneous mode only", where);
            return KORVOMXF_ERR_NOT_SUPPORTED;
        }
        if (_nVideoChannels != 2) {
            Log("(KorvoMXFBlockWriter::%s) Simultaneous mode should use 2 video channels", where);
            return KORVOMXF_ERR_NOT_SUPPORTED;
        }
    } else if (_bDualLink) {
        Log("(KorvoMXFBlockWriter::%s) Dual link should be used in 1080p only", where);
        return KORVOMXF_ERR_NOT_SUPPORTED;
    } else if (_bSimultaneous && _nVideoChannels != 2) {
        Log("(KorvoMXFBlockWriter::%s) Simultaneous mode should use 2 video channels", where);
        return KORVOMXF_ERR_NOT_SUPPORTED;
    }
    if (_nStandard < 3 || _nStandard > 8) {
        Log("(KorvoMXFBlockWriter::%s) Standard not supported", where);
        return KORVOMXF_ERR_UNSUCCESSFUL;
    }
    // Channels 1..7 fit the 2kTable's three bits; the data block carries flags for two elements.
    if (p.nVideoCount != _nVideoChannels || p.nVideoCount == 0 || p.nVideoCount > 2 || !p.pVideoInfo || !p.pVideoData) {
        Log("(KorvoMXFBlockWriter::%s) Invalid video count", where);
        return KORVOMXF_ERR_INVALID_PARAMETER;
    }
    for (uint32_t i = 0; i < p.nVideoCount; ++i) {
        if (p.pVideoInfo[i]._nVideoFormat != _nVideoFormat) {
            Log("(KorvoMXFBlockWriter::%s) Invalid video format", where);
            return KORVOMXF_ERR_INVALID_PARAMETER;
        }
        if (p.pVideoInfo[i]._nSize > kMaxPictureSize) {
            Log("(KorvoMXFBlockWriter::%s) Maximum picture size exceeded: pVideoInfo[%u] = %u bytes > %u (max)", where,
                i, p.pVideoInfo[i]._nSize, kMaxPictureSize);
            return KORVOMXF_ERR_PICTURE_TOO_LARGE;
        }
    }
    const uint32_t fields = FieldsPerPicture();
    if (p.nDataBlockCount != 0 && p.nDataBlockCount != fields) {
        Log("(KorvoMXFBlockWriter::%s) Invalid data block count", where);
        return KORVOMXF_ERR_INVALID_PARAMETER;
    }
    if (p.nAudioCount != (_nAudioGroups ? fields : 0) || (p.nAudioCount && (!p.pAudioInfo || !p.pAudioData))) {
        Log("(KorvoMXFBlockWriter::%s) Invalid audio count", where);
        return KORVOMXF_ERR_INVALID_PARAMETER;
    }
    for (uint32_t i = 0; i < p.nAudioCount; ++i) {
        const KorvoMXFAudioInfo& a = p.pAudioInfo[i];
        if (a._nAudioFormat != _nAudioFormat) {
            Log("(KorvoMXFBlockWriter::%s) Invalid audio format", where);
            return KORVOMXF_ERR_INVALID_PARAMETER;
        }
        if (a._nSize != AudioBytesPerField()) {
            Log("(KorvoMXFBlockWriter::%s) Invalid audio data size", where);
            return KORVOMXF_ERR_INVALID_PARAMETER;
        }
        if (a._nChannels != 4 * _nAudioGroups) {
            Log("(KorvoMXFBlockWriter::%s) Invalid audio channel count", where);
            return KORVOMXF_ERR_INVALID_PARAMETER;
        }
    }
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFBlockWriter::AddPictureTBL2K_2MB(const Picture& p)
{
    if (KorvoMXFResult rc = CheckPicture("AddPictureTBL2K_2MB", p, kMask2k))
        return rc;
    const uint32_t fields = FieldsPerPicture();
    const uint32_t audioBytes = AudioBytesPerField();
    uint64_t videoBytes = 0;
    for (uint32_t i = 0; i < p.nVideoCount; ++i)
        videoBytes += Pad128(p.pVideoInfo[i]._nSize);
    const uint32_t maxEntries = _bTwoFields ? k2kMaxEntries : k2kMaxEntriesWithTc;
    if (_n2kEntries + fields * p.nVideoCount > maxEntries ||
        uint64_t{_n2kAudioStart} < uint64_t{_n2kVideoEnd} + videoBytes + uint64_t{audioBytes} * fields)
        return KORVOMXF_ERR_INSUFFICIENT_BUFFER;

    // Video, each element padded to 128 bytes.
    uint8_t* table = _pBlock + k2kTableOffset;
    uint32_t videoOffset[2] = {};
    for (uint32_t i = 0, at = _n2kVideoEnd; i < p.nVideoCount; ++i) {
        const uint32_t size = p.pVideoInfo[i]._nSize;
        const uint8_t* source = p.pVideoData;
        for (uint32_t e = 0; e < i; ++e)
            source += p.pVideoInfo[e]._nSize;
        if (_nVideoFormat == 2) {
            if (!CopyFormat2Element(source, size, _pBlock + at)) {
                Log("(KorvoMXFBlockWriter::AddPictureTBL2K_2MB) Invalid metadata chunk");
                return KORVOMXF_ERR_INVALID_DATA;
            }
        } else {
            std::memcpy(_pBlock + at, source, size);
        }
        std::memset(_pBlock + at + size, 0, Pad128(size) - size);
        videoOffset[i] = at;
        at += Pad128(size);
    }

    CTcConverter converter;
    converter.SetMode(_nRateClass != 3, _nRateClass == 4);
    const bool hd = IsHD();
    for (uint32_t j = 0; j < fields; ++j) {
        const uint8_t* db = j < p.nDataBlockCount ? p.pDataBlocks + j * kKorvoMXFDataBlockSize : nullptr;
        const uint32_t timecode = FieldTimecode(p, j);
        for (uint32_t i = 0; i < p.nVideoCount; ++i) {
            const uint32_t n = _n2kEntries + j * p.nVideoCount + i;
            const KorvoMXFVideoInfo& v = p.pVideoInfo[i];
            uint8_t* e = table + k2kEntryOffset + n * k2kEntrySize;
            std::memset(e, 0, k2kEntrySize);
            WriteLittleEndian32(e + k2kEntryPicture, videoOffset[i] / k2kPictureAlign);
            e[k2kEntryChannelByte] = db ? db[kDbChannelBytes + i] : 0;
            const uint32_t width = hd ? (v._nWidth + 63) / 64 : (v._nWidth + 31) / 32;
            e[k2kEntryWidth] =
                static_cast<uint8_t>((width & 0x7F) | (db && ReadLittleEndian32(db + kDbFlags + 4 * i) ? 0x80 : 0));
            uint8_t flags = 0;
            if (v._nSize <= k2kLargePicture) {
                WriteBigEndian16(e + k2kEntrySizeWord, static_cast<uint16_t>((v._nSize + 31) / 32 * 32 / 8));
            } else {
                WriteBigEndian16(e + k2kEntrySizeWord, static_cast<uint16_t>((v._nSize + 63) / 64));
                flags |= k2kFlagLargeSize;
            }
            WriteBigEndian32(e + k2kEntryFieldId, timecode);
            e[k2kEntryExtra] = db ? db[kDbFieldEntry + 4] : 0;
            if (_nVideoFormat == 3 || _nVideoFormat == 7)
                e[k2kEntryFormat] = 0x80;
            if (_nVideoFormat == 3 || _nVideoFormat == 4 || _nVideoFormat == 7 || _nVideoFormat == 8 ||
                _nVideoFormat == 9)
                flags |= 0x80;
            if (!hd && v._nWidth != 720)
                flags |= 0x10;
            const uint32_t linesPerField = IsTwoFieldVideoFormat(_nVideoFormat) ? v._nLines / 2 : v._nLines;
            if (_nVideoSystem == 1 && linesPerField == 240)
                flags |= 0x08;
            else if (_nVideoSystem == 1 && linesPerField == 256)
                flags |= 0x0C;
            else if (_nVideoSystem == 2 && linesPerField == 304)
                flags |= 0x08;
            if (hd && _nVideoFormat == 1)
                flags |= 0x01;
            e[k2kEntryFlags] = flags;

            if (_bTwoFields)
                continue;
            uint8_t* r = table + k2kTcRecordOffset + n * k2kTcRecordSize;
            std::memset(r, 0, k2kTcRecordSize);
            const uint32_t words[3] = {timecode, timecode & ~1u, timecode & ~1u};
            for (int w = 0; w < 3; ++w) {
                const uint8_t* tc = db ? db + kDbFieldEntry + 5 + 10 * w : nullptr;
                const uint32_t tcFlags = tc ? tc[5] : 0;
                WriteLittleEndian32(r + 8 * w, converter.FieldToBcdTcWithFlags(words[w], tcFlags));
                WriteLittleEndian32(r + 8 * w + 4, tc ? ReadBigEndian32(tc + 6) : 0);
            }
            r[26] = db ? db[kDbTcTail] : 0xFF;
            r[27] = db ? db[kDbTcTail + 1] : 0xFF;
        }
    }

    // Audio downward from the table, stored as big-endian 32-bit words.
    for (uint32_t j = 0; j < p.nAudioCount; ++j) {
        _n2kAudioStart -= audioBytes;
        ByteSwap32Copy(p.pAudioData + uint64_t{j} * audioBytes, _pBlock + _n2kAudioStart, audioBytes);
    }

    if (_bFirstPicture) {
        std::memset(table, 0, k2kEntryOffset);
        WriteLittleEndian32(table + k2kTableFirstField, _nBlockFirstField);
        table[k2kTableStandard] = static_cast<uint8_t>((_nStandard & 0xF) | ((_nVideoSystem - 1) & 0xF) << 4);
        table[k2kTableAspect] =
            static_cast<uint8_t>((_nAspectRatio & 0xF) | (_bProgressive ? 0x40 : 0) | (_bFormatFlag ? 0x80 : 0));
        table[k2kTableCodec] = GetCodecByte();
        table[k2kTableVersion] = _bDualLink || _bSimultaneous ? 6 : 5;
        if (table[k2kTableVersion] == 6)
            table[k2kTableLinkFlags] = static_cast<uint8_t>((_bDualLink ? 2 : 0) | (_bSimultaneous ? 1 : 0));
        table[k2kTableEntryMode] = _bTwoFields ? 1 : 2;
        table[k2kTableHeaderByte] = _nTableHeaderByte;
        table[k2kTableChannels] = static_cast<uint8_t>(_nVideoChannels + 16 * _nAudioGroups + (_bTwoFields ? 8 : 0));
        _bFirstPicture = false;
    }
    _n2kEntries += fields * p.nVideoCount;
    _n2kVideoEnd += static_cast<uint32_t>(videoBytes);
    WriteLittleEndian32(table + k2kTableEndField, _nBlockFirstField + _n2kEntries / p.nVideoCount);
    _nCurrentField += fields;
    _nFieldsWritten += fields;
    return KORVOMXF_OK;
}

KorvoMXFResult KorvoMXFBlockWriter::AddPictureAccessor(const Picture& p)
{
    if (KorvoMXFResult rc = CheckPicture("AddPictureAccessor", p, kMaskBavd))
        return rc;
    Bavd& bavd = *_pBavd;
    const uint32_t fields = FieldsPerPicture();
    const uint32_t audioBytes = AudioBytesPerField();
    const uint32_t fieldCount = bavd.GetElemFieldCnt();
    const uint32_t recordCount = bavd.GetElemRecordCnt();
    uint64_t videoBytes = 0;
    for (uint32_t i = 0; i < p.nVideoCount; ++i)
        videoBytes += Pad128(p.pVideoInfo[i]._nSize);
    if (fieldCount + fields > bavd.GetMaxElements() || recordCount + p.nVideoCount > bavd.GetMaxElements() ||
        bavd.ComputeHeaderSize(fieldCount + fields, recordCount + p.nVideoCount) > bavd.GetHeaderAreaSize() ||
        uint64_t{_nBavdVideoTop} < uint64_t{_nBavdAudioPos} + videoBytes + uint64_t{audioBytes} * fields)
        return KORVOMXF_ERR_INSUFFICIENT_BUFFER;

    if (_bFirstPicture) {
        bavd.SetFirstField(_nBlockFirstField);
        bavd.SetVideoStandard(static_cast<uint8_t>(_nVideoSystem));
        bavd.SetRateSystem(static_cast<uint8_t>(_nStandard));
        bavd.SetProgressive(_bProgressive);
        bavd.SetAspectRatio(static_cast<uint8_t>(_nAspectRatio));
        bavd.SetFormatFlag(_bFormatFlag);
        bavd.SetVideoFormat(static_cast<uint8_t>(_nVideoFormat));
        bavd.SetAudioFormat(static_cast<uint8_t>(_nAudioFormat));
        bavd.SetAudioGroupCount(static_cast<uint8_t>(_nAudioGroups));
        bavd.SetSimultaneousMode(_bSimultaneous);
    }

    const uint8_t* db0 = p.nDataBlockCount ? p.pDataBlocks : nullptr;
    const uint8_t* source = p.pVideoData;
    const uint32_t headerArea = bavd.GetHeaderAreaSize();
    for (uint32_t i = 0; i < p.nVideoCount; ++i) {
        const KorvoMXFVideoInfo& v = p.pVideoInfo[i];
        _nBavdVideoTop -= Pad128(v._nSize);
        std::memcpy(_pBlock + _nBavdVideoTop, source, v._nSize);
        std::memset(_pBlock + _nBavdVideoTop + v._nSize, 0, Pad128(v._nSize) - v._nSize);
        source += v._nSize;
        BavdElemRecord* record = bavd.GetElemRecord(recordCount + i);
        record->Clear();
        record->_nDataOffset = _nBavdVideoTop - headerArea;
        record->_nDataSize = (v._nSize + 7) & ~7u;
        record->SetWidth(v._nWidth);
        record->SetLineVariant(v._nLines);
        record->SetChannelFlag(db0 && ReadLittleEndian32(db0 + kDbFlags + 4 * i) != 0);
        record->_nChannelByte = db0 ? db0[kDbChannelBytes + i] : 0;
    }
    for (uint32_t j = 0; j < fields; ++j) {
        BavdElemField* field = bavd.GetElemField(fieldCount + j);
        if (j < p.nDataBlockCount) {
            // The data block holds the entry as stored.
            field->LoadFromBuffer(p.pDataBlocks + j * kKorvoMXFDataBlockSize + kDbFieldEntry, 39, kBavdVersion258);
            continue;
        }
        const uint32_t t = FieldTimecode(p, j);
        field->Clear();
        field->_nFieldId = t;
        field->_tc[0]._nField = t;
        field->_tc[1]._nField = t & ~1u;
        field->_tc[2]._nField = t & ~1u;
    }
    const uint32_t audioPos = _nBavdAudioPos;
    for (uint32_t j = 0; j < p.nAudioCount; ++j)
        std::memcpy(_pBlock + audioPos + uint64_t{j} * audioBytes, p.pAudioData + uint64_t{j} * audioBytes, audioBytes);
    bavd.AddElemFieldCnt(static_cast<uint16_t>(fields));
    bavd.AddElemRecordCnt(static_cast<uint16_t>(p.nVideoCount));
    if (const int rc = bavd.SaveToBuffer(_pBlock, headerArea); rc != 0) {
        Log("(KorvoMXFBlockWriter::AddPictureAccessor) Bavd::SaveToBuffer failed (%d)", rc);
        // The refused picture does not count: the next block holds it.
        bavd.SetElemFieldCnt(static_cast<uint16_t>(fieldCount));
        bavd.SetElemRecordCnt(static_cast<uint16_t>(recordCount));
        _nBavdVideoTop += static_cast<uint32_t>(videoBytes);
        return KORVOMXF_ERR_WRITE_BLOCK_INDEX;
    }
    _nBavdAudioPos += audioBytes * p.nAudioCount;
    _bFirstPicture = false;
    _nCurrentField += fields;
    _nFieldsWritten += fields;
    return KORVOMXF_OK;
}
