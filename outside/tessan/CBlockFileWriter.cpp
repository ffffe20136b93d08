#include "outside/tessan/CBlockFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessan
{

CBlockFileWriter::~CBlockFileWriter()
{
    Close();
}

bool CBlockFileWriter::Open(const std::string& path)
{
    Close();
    _nError = 0;
    _nBlockPos = 0;
    _nFill = 0;
    if (_nBlockSize == 0 || _nBlockSize % platform::kPageSize != 0) {
        _nError = EINVAL;
        return false;
    }
    if (!_buffer)
        _buffer = platform::MakePageBuffer(_nBlockSize);
    if (!_buffer) {
        _nError = ENOMEM;
        return false;
    }
    if (!_file.Open(path, platform::File::Access::Write, platform::File::Disposition::CreateAlways)) {
        _nError = _file.LastError();
        return false;
    }
    return true;
}

bool CBlockFileWriter::Write(const uint8_t* data, size_t size, uint64_t offset)
{
    if (_nError != 0)
        return false;
    if (_file.WriteAt(data, size, offset) != static_cast<int64_t>(size)) {
        _nError = _file.LastError() != 0 ? _file.LastError() : ENOSPC;
        return false;
    }
    // The disk writes while the transfer goes on: the sync at the close then finds little left.
    _file.StartWriteBack(offset, size);
    return true;
}

bool CBlockFileWriter::Append(const uint8_t* data, size_t size)
{
    if (!_file.IsOpen() || _nError != 0)
        return false;
    while (size > 0) {
        if (_nFill == 0 && size >= _nBlockSize) {
            // Whole blocks go out from the caller's memory.
            const size_t whole = size - size % _nBlockSize;
            if (!Write(data, whole, _nBlockPos))
                return false;
            _nBlockPos += whole;
            data += whole;
            size -= whole;
            continue;
        }
        const auto n = static_cast<uint32_t>(std::min<size_t>(size, _nBlockSize - _nFill));
        std::memcpy(_buffer.get() + _nFill, data, n);
        _nFill += n;
        data += n;
        size -= n;
        if (_nFill == _nBlockSize) {
            if (!Write(_buffer.get(), _nBlockSize, _nBlockPos))
                return false;
            _nBlockPos += _nBlockSize;
            _nFill = 0;
        }
    }
    return true;
}

bool CBlockFileWriter::Overwrite(uint64_t offset, const uint8_t* data, size_t size)
{
    if (!_file.IsOpen() || _nError != 0 || offset > Size() || size > Size() - offset)
        return false;
    if (offset < _nBlockPos) {
        const auto written = static_cast<size_t>(std::min<uint64_t>(size, _nBlockPos - offset));
        if (!Write(data, written, offset))
            return false;
        offset += written;
        data += written;
        size -= written;
    }
    if (size > 0)
        std::memcpy(_buffer.get() + (offset - _nBlockPos), data, size);
    return true;
}

bool CBlockFileWriter::Close()
{
    if (!_file.IsOpen())
        return _nError == 0;
    if (_nFill > 0 && Write(_buffer.get(), _nFill, _nBlockPos)) {
        _nBlockPos += _nFill;
        _nFill = 0;
    }
    if (_nError == 0 && !_file.Sync())
        _nError = _file.LastError();
    _file.Close();
    return _nError == 0;
}

std::string CBlockFileWriter::ErrorText() const
{
    return platform::ErrorText(_nError);
}

}  // namespace tessan
