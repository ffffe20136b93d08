#include "outside/tessan/CBlockFileReader.h"

#include <algorithm>
#include <cstring>

namespace tessan
{

bool CBlockFileReader::Open(const std::string& path)
{
    Close();
    if (_nBlockSize == 0 || _nBlockSize % platform::kPageSize != 0)
        return false;
    if (!_buffer)
        _buffer = platform::MakePageBuffer(_nBlockSize);
    if (!_buffer || !_file.Open(path, platform::File::Access::Read, platform::File::Disposition::OpenExisting))
        return false;
    auto size = _file.Size();
    if (!size) {
        _file.Close();
        return false;
    }
    _nSize = *size;
    return true;
}

void CBlockFileReader::Close()
{
    _file.Close();
    _nSize = 0;
    _nHeldPos = 0;
    _nHeld = 0;
}

bool CBlockFileReader::Read(uint64_t offset, uint8_t* data, size_t size)
{
    if (!_file.IsOpen() || offset > _nSize || size > _nSize - offset)
        return false;
    while (size > 0) {
        if (offset >= _nHeldPos && offset - _nHeldPos < _nHeld) {
            const auto at = static_cast<size_t>(offset - _nHeldPos);
            const size_t n = std::min<size_t>(size, _nHeld - at);
            std::memcpy(data, _buffer.get() + at, n);
            offset += n;
            data += n;
            size -= n;
            continue;
        }
        if (offset % _nBlockSize == 0 && size >= _nBlockSize) {
            const size_t whole = size - size % _nBlockSize;
            if (_file.ReadAt(data, whole, offset) != static_cast<int64_t>(whole))
                return false;
            offset += whole;
            data += whole;
            size -= whole;
            continue;
        }
        _nHeld = 0;
        _nHeldPos = offset - offset % _nBlockSize;
        const int64_t got = _file.ReadAt(_buffer.get(), _nBlockSize, _nHeldPos);
        if (got <= 0 || _nHeldPos + static_cast<uint64_t>(got) <= offset)
            return false;
        _nHeld = static_cast<uint32_t>(got);
    }
    return true;
}

bool CBlockFileReader::ReadAll(std::vector<uint8_t>& bytes, uint64_t limit)
{
    bytes.clear();
    if (!_file.IsOpen() || _nSize > limit)
        return false;
    bytes.resize(static_cast<size_t>(_nSize));
    return Read(0, bytes.data(), bytes.size());
}

}  // namespace tessan
