#include "reading/formats/CFormatDataReader.h"

#include <algorithm>
#include <cstring>

bool CFormatDataReader::Have(uint32_t count)
{
    if (_nBytesLeft < count)
        FillBuffer();
    return _nBytesLeft >= count;
}

int32_t CFormatDataReader::SeekTo(uint64_t position)
{
    return position == Position() && _pSource ? 0 : Seek(position);
}

int32_t CFormatDataReader::CopyAt(uint64_t position, uint8_t* dest, uint64_t count)
{
    if (SeekTo(position) != 0)
        return kNoMoreData;
    while (count > 0) {
        if (_nBytesLeft == 0 && (FillBuffer() != 0 || _nBytesLeft == 0))
            return kNoMoreData;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, _nBytesLeft));
        std::memcpy(dest, _pCursor, n);
        dest += n;
        count -= n;
        Skip(n);
    }
    return kDataOk;
}

bool CFormatDataReader::LoadEndingAt(uint64_t position, uint64_t lowest)
{
    if (position < lowest)
        return false;
    const uint64_t start = position - lowest > _nBufferSize ? position - _nBufferSize : lowest;
    if (Seek(start) == 0) {
        FillBuffer();
        const uint64_t back = position - start;
        if (back <= _nBytesLeft && Skip(static_cast<uint32_t>(back)) == 0)
            return true;
    }
    Seek(position);
    return false;
}

bool CFormatDataReader::StepBack(uint32_t count, uint64_t lowest)
{
    const uint64_t position = Position();
    if (position < lowest || position - lowest < count)
        return false;
    if (_nFill - _nBytesLeft < count && (!LoadEndingAt(position, lowest) || _nFill - _nBytesLeft < count))
        return false;
    _pCursor -= count;
    _nBytesLeft += count;
    return true;
}

void CFormatDataReader::DropBuffer()
{
    _nBufferPos = 0;
    _nFill = 0;
    _nBytesLeft = 0;
    _pCursor = _pBuffer.get();
}

uint64_t CFormatDataReader::SourceSize()
{
    const int64_t size = _pSource ? _pSource->GetSize() : -1;
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}
