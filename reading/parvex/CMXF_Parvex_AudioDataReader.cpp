#include "reading/parvex/CMXF_Parvex_AudioDataReader.h"

#include <cstring>

#include "common/CSlowCallWatch.h"
#include "serverblock/ServerBlock.h"

namespace
{
constexpr uint32_t kChunkHead = 3;  // a byte, then the 16-bit big-endian sample count
constexpr uint32_t kSampleBytes = 3;
}  // namespace

CMXF_Parvex_AudioDataReader::CMXF_Parvex_AudioDataReader(const std::string& logName) : CParvexDataReader(logName) {}

int32_t CMXF_Parvex_AudioDataReader::Open(uint32_t flag)
{
    if (const int32_t rc = CParvexDataReader::Open(flag); rc != 0)
        return rc;
    const CMXF_Parvex_ClipInfo& info = *_pClipInfo;
    _nCurrentBlock = 0;
    _nChannels = 4 * info._nAudioGroups;
    const uint32_t system = TcSystem();
    _nBytesPerChannelField = system == 4 || system == 5 || system == 7 || system == 8 ? 2432 : 2944;
    _nAudioBytesPerField = _nChannels * _nBytesPerChannelField;
    // 2kTable blocks store their audio area as 32-bit words with their bytes reversed.
    _bSwappedWords = _pBlockData->GetBlockType() == 1;
    // A block's audio can fill nearly all of an 8 MB block: the buffer holds the table and a whole block.
    if (ResizeBuffer(_pBlockData->GetTableSize() + info._nBlockSize) != 0) {
        Log("%s (CMXF_Parvex_AudioDataReader::Open) No read buffer for blocks of 0x%X bytes", kLogTag,
            info._nBlockSize);
        Close();
        return -1;
    }
    return 0;
}

int32_t CMXF_Parvex_AudioDataReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (!_bOpen)
        return -1;
    for (int32_t i = 0; channels && i < max && static_cast<uint32_t>(i) < _nChannels; ++i)
        channels[i] = 1;
    return static_cast<int32_t>(_nChannels);
}

int32_t CMXF_Parvex_AudioDataReader::GoToDataStart()
{
    if (!_bOpen)
        return -1;
    _nCurrentBlock = 0;
    return 0;
}

int32_t CMXF_Parvex_AudioDataReader::GoToDataEnd()
{
    if (!_bOpen)
        return -1;
    if (!_bIndexed)
        FindLastValidBlock();
    _nCurrentBlock = static_cast<int32_t>(GetBlockCount());
    return 0;
}

int32_t CMXF_Parvex_AudioDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (_nCurrentBlock >= 0 && static_cast<uint32_t>(_nCurrentBlock) >= GetBlockCount()) {
        if (_bIndexed)
            return kNoMoreData;
        FindLastValidBlock();
        if (static_cast<uint32_t>(_nCurrentBlock) >= GetBlockCount())
            return kNoMoreData;
    }
    const int32_t rc = GetCurData(*buffer, size, sizeOut, secondsOut);
    if (rc == kDataOk)
        ++_nCurrentBlock;
    return rc;
}

int32_t CMXF_Parvex_AudioDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (_nCurrentBlock <= 0)
        return kNoMoreData;
    --_nCurrentBlock;
    const int32_t rc = GetCurData(*buffer, size, sizeOut, secondsOut);
    // Nothing delivered, nothing consumed.
    if (rc != kDataOk)
        ++_nCurrentBlock;
    return rc;
}

int32_t CMXF_Parvex_AudioDataReader::GetCurData(uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    CSlowCallWatch watch("ParvexAudioReader::GetNextData", 1000, _szLogName);
    if (_nCurrentBlock < 0) {
        GoToDataStart();
        return kRepositioned;
    }
    const auto n = static_cast<uint32_t>(_nCurrentBlock);
    if (n >= GetBlockCount()) {
        if (!_bIndexed)
            FindLastValidBlock();
        if (_bIndexed || n >= GetBlockCount()) {
            if (_bIndexed)
                _nCurrentBlock = static_cast<int32_t>(GetBlockCount());
            return kRepositioned;
        }
    }
    uint64_t position = 0;
    if (BlockPosition(n, &position) != 0) {
        Log("CMXF_Parvex_AudioDataReader::GetCurData - _mxfClipInfo.GetBlockInfo Failed.");
        return -1;
    }
    const uint32_t tableSize = _pBlockData->GetTableSize();
    uint8_t* table = _pBuffer.get();
    uint32_t read = 0;
    if (_mxfFileReader.Seek(position + _pBlockData->GetTableOffset()) != 0 ||
        _mxfFileReader.ReadData(table, tableSize, &read) != 0 || read != tableSize) {
        _bOpen = false;
        return -1;
    }
    if (_pBlockData->SetTable(table) != 0) {
        Log("%s (CMXF_Parvex_AudioDataReader::GetCurData) Block %u refused its table", kLogTag, n);
        return kDamagedBlock;
    }
    const uint32_t first = _pBlockData->GetFirstField();
    const uint32_t fields = _pBlockData->GetEndField() - first;
    if (!_bIndexed)
        NoteBlock(n, first, first + fields);
    if (_nChannels == 0) {
        if (sizeOut)
            *sizeOut = 0;
        if (secondsOut)
            *secondsOut = TimeOfField(first);
        return kDataOk;
    }

    // The audio lies above the header area of a BAVD block, below the table of a 2kTable block; either way it
    // must fit inside the block.
    const uint64_t audioBytes = uint64_t{fields} * _nAudioBytesPerField;
    const uint64_t base = _pBlockData->GetAudioBase();
    const uint64_t blockSize = _pClipInfo->_nBlockSize;
    if (_bSwappedWords ? audioBytes > base : base > blockSize || audioBytes > blockSize - base) {
        Log("%s (CMXF_Parvex_AudioDataReader::GetCurData) Block %u: %u fields of audio do not fit the block", kLogTag,
            n, fields);
        return kDamagedBlock;
    }
    if (audioBytes > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(audioBytes);
        Log("CMXF_Parvex_AudioDataReader::GetCurData - The provided buffer is too small.");
        return kBufferTooSmall;
    }
    uint8_t* audio = table + tableSize;
    const uint64_t audioPosition = position + base - (_bSwappedWords ? audioBytes : 0);
    if (_mxfFileReader.Seek(audioPosition) != 0 ||
        _mxfFileReader.ReadData(audio, static_cast<uint32_t>(audioBytes), &read) != 0 || read != audioBytes) {
        _bOpen = false;
        return -1;
    }
    if (_bSwappedWords)
        ByteSwap32Buffer(audio, audioBytes);

    uint8_t* out = buffer;
    uint64_t samples = 0;
    const uint32_t stride = _nChannels * kSampleBytes;
    const uint32_t maxCount = (_nBytesPerChannelField - kChunkHead) / kSampleBytes;
    for (uint32_t f = 0; f < fields; ++f) {
        // 2kTable fields lie downwards from the table, BAVD fields upwards from the header area.
        const uint8_t* field = audio + uint64_t{_bSwappedWords ? fields - 1 - f : f} * _nAudioBytesPerField;
        const uint32_t count = uint32_t{field[1]} << 8 | field[2];
        if (count > maxCount) {
            Log("%s (CMXF_Parvex_AudioDataReader::GetCurData) Block %u field %u: %u samples do not fit a chunk of "
                "%u bytes",
                kLogTag, n, f, count, _nBytesPerChannelField);
            return kDamagedBlock;
        }
        for (uint32_t c = 0; c < _nChannels; ++c) {
            const uint8_t* chunk = field + uint64_t{c} * _nBytesPerChannelField + kChunkHead;
            uint8_t* to = out + uint64_t{c} * kSampleBytes;
            for (uint32_t s = 0; s < count; ++s, chunk += kSampleBytes, to += stride)
                std::memcpy(to, chunk, kSampleBytes);
        }
        out += uint64_t{count} * stride;
        samples += count;
    }
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(samples * stride);
    if (secondsOut)
        *secondsOut = TimeOfField(first);
    return kDataOk;
}
