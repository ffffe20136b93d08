#include "reading/source/CFtpFileReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
constexpr int64_t kBadArgument = -100;
}

CFtpFileReader::CFtpFileReader(const std::string& logName, uint32_t bufferSize)
    : CSourceReader(logName), CKorvoFtpClient(logName)
{
    if (bufferSize > 0) {
        _pBuffer = platform::MakePageBuffer(bufferSize);
        _nBufferSize = _pBuffer ? bufferSize : 0;
    }
    _pCursor = _pBuffer.get();
}

CFtpFileReader::~CFtpFileReader()
{
    FtpCloseFile(true);
    _nTransferPos = -1;
}

void CFtpFileReader::EmptyBuffer(uint64_t position)
{
    _nFill = 0;
    _nBytesLeft = 0;
    _nBufferPos = position;
    _pCursor = _pBuffer.get();
}

int32_t CFtpFileReader::Open(const char* url, uint32_t low, uint32_t high)
{
    if (!url)
        return kBadArgument;
    const uint64_t start = uint64_t{high} << 32 | low;
    if (start > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return kBadArgument;
    _szUrl = url;
    // The caller's text stays as it is; the copy is split.
    std::string text = _szUrl;
    std::replace(text.begin(), text.end(), '\\', '/');
    if (StartsWithNoCase(text.c_str(), "ftp://"))
        text.erase(0, 6);
    const size_t slash = text.find('/');
    const std::string host = text.substr(0, slash);
    const std::string path = slash == std::string::npos ? std::string() : text.substr(slash);
    if (!host.empty()) {
        const int result = AddFtpServer(host, true);
        if (result != 0)
            return result;
    }
    if (!path.empty()) {
        int64_t size = 0;
        int result = GetFileSize(path, &size);
        if (result != 0)
            return result;
        _nFileSize = size;
        result = OpenFile(path, kRetrieve, static_cast<int64_t>(start), _nSeekMode);
        if (result != 0)
            return result;
        _nTransferPos = static_cast<int64_t>(start);
    }
    EmptyBuffer(start);
    _nChunkSize = -1;
    _bOpen = true;
    return 0;
}

void CFtpFileReader::Close()
{
    FtpCloseFile(true);
    _nTransferPos = -1;
    _bOpen = false;
}

bool CFtpFileReader::IsOpen()
{
    return IsConnected();
}

bool CFtpFileReader::IsAtEnd()
{
    // With read-ahead the transfer runs ahead of the reader: the bytes still buffered are not at the end.
    const int64_t position = _pBuffer ? static_cast<int64_t>(_nBufferPos + _nFill - _nBytesLeft) : _nTransferPos;
    return position >= _nFileSize;
}

int CFtpFileReader::DirectRead(uint8_t* destination, uint32_t size, uint32_t* count)
{
    if (_nChunkSize < 0) {
        const int bytes = _dataSocket.ReceiveBufferSize();
        _nChunkSize = bytes > 0 ? bytes : static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX));
        if (_nChunkSize < 1)
            _nChunkSize = 8192;
    }
    *count = 0;
    uint32_t wanted = size;
    while (wanted > 0) {
        const uint32_t ask = std::min(static_cast<uint32_t>(_nChunkSize), wanted);
        int64_t got = 0;
        const int result = FtpReadFile(destination, ask, &got);
        if (result != 0)
            return result;
        if (got < 0 || static_cast<uint64_t>(got) > ask)
            return -1;
        *count += static_cast<uint32_t>(got);
        if (static_cast<uint32_t>(got) < ask)
            break;
        destination += got;
        wanted -= static_cast<uint32_t>(got);
    }
    return 0;
}

int32_t CFtpFileReader::Read(uint8_t* buffer, uint32_t size, uint32_t* read)
{
    uint32_t dummy = 0;
    if (!read)
        read = &dummy;
    *read = 0;
    if (!buffer && size > 0)
        return -1;
    if (!_pBuffer)
        return DirectRead(buffer, size, read);
    int result = 0;
    if (size > _nBytesLeft) {
        std::memmove(_pBuffer.get(), _pCursor, _nBytesLeft);
        _nBufferPos += _nFill - _nBytesLeft;
        _nFill = _nBytesLeft;
        _pCursor = _pBuffer.get();
        uint32_t got = 0;
        result = DirectRead(_pBuffer.get() + _nFill, _nBufferSize - _nFill, &got);
        _nFill += got;
        _nBytesLeft += got;
    }
    const uint32_t count = std::min(size, _nBytesLeft);
    if (count == 0)
        return result;
    std::memcpy(buffer, _pCursor, count);
    _pCursor += count;
    _nBytesLeft -= count;
    *read = count;
    return 0;
}

int32_t CFtpFileReader::Seek(uint64_t* position)
{
    if (!position || *position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return kBadArgument;
    const uint64_t target = *position;
    if (_nSeekMode == kFieldSeek) {
        const int64_t transferPos = _nTransferPos;
        FtpCloseFile(true);
        const int result = FtpOpenFile(kRetrieve, static_cast<int64_t>(target), kFieldSeek);
        _nTransferPos = transferPos;
        EmptyBuffer(target);
        return result;
    }
    if (_pBuffer) {
        if (target >= _nBufferPos && target - _nBufferPos < _nFill) {
            _pCursor = _pBuffer.get() + (target - _nBufferPos);
            _nBytesLeft = static_cast<uint32_t>(_nFill - (target - _nBufferPos));
            return 0;
        }
    } else if (static_cast<int64_t>(target) == _nTransferPos) {
        return 0;
    }
    FtpCloseFile(true);
    const int result = FtpOpenFile(kRetrieve, static_cast<int64_t>(target), kByteSeek);
    _nTransferPos = result == 0 ? static_cast<int64_t>(target) : -1;
    EmptyBuffer(target);
    return result;
}

int32_t CFtpFileReader::Move(int64_t delta)
{
    const int64_t current = _pBuffer ? static_cast<int64_t>(_nBufferPos + _nFill - _nBytesLeft) : _nTransferPos;
    // Checked before adding, so that no target wraps.
    if ((delta < 0 && current < std::numeric_limits<int64_t>::min() - delta) ||
        (delta > 0 && current > std::numeric_limits<int64_t>::max() - delta) || current + delta < 0)
        return kBadArgument;
    uint64_t target = static_cast<uint64_t>(current + delta);
    return Seek(&target);
}

int32_t CFtpFileReader::GetPath(char* buffer, uint32_t capacity)
{
    if (!buffer || capacity == 0)
        return 0;
    const size_t length = std::min<size_t>(_szUrl.size(), capacity - 1);
    std::memcpy(buffer, _szUrl.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

int32_t CFtpFileReader::SetOption(const char* name, const char* value)
{
    if (!name)
        return 0;
    if (std::strlen(name) != 8 || !StartsWithNoCase(name, "SeekMode"))
        return 1;
    if (value && StartsWithNoCase(value, "FieldSeek")) {
        _nSeekMode = kFieldSeek;
        return 0;
    }
    _nSeekMode = kByteSeek;
    return value ? 1 : 0;
}

int32_t CFtpFileReader::GetInfo(const char* name, char* buffer, uint32_t capacity)
{
    if (!name || std::strlen(name) != 8 || !StartsWithNoCase(name, "FTPREPLY"))
        return -1;
    const std::string& reply = GetLastReply();
    if (buffer && capacity > 0) {
        // At most capacity bytes, terminated when there is room.
        const size_t length = std::min<size_t>(reply.size(), capacity);
        std::memcpy(buffer, reply.data(), length);
        if (length < capacity)
            buffer[length] = '\0';
    }
    return static_cast<int32_t>(reply.size());
}
