#include "common/CFileReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "common/CLogFile.h"
#include "common/CLogManager.h"
#include "common/FormatText.h"
#include "common/NullDevice.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace
{

constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kFlagNoBuffering = 0x20000000;
constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

uint64_t AlignDown(uint64_t value, uint64_t sector)
{
    return value - value % sector;
}

// A UNC path names a file only with a share and a backslash after it ("\\srv\share\...").
bool HasDrive(const std::string& path)
{
    if (path.rfind("\\\\", 0) != 0)
        return true;
    size_t afterServer = path.find('\\', 2);
    if (afterServer == std::string::npos || afterServer == 2)
        return false;
    size_t afterShare = path.find('\\', afterServer + 1);
    return afterShare != std::string::npos && afterShare > afterServer + 1;
}

}  // namespace

CFileReader::CFileReader(std::string logName) : _szLogName(std::move(logName))
{
    auto noBuffering = platform::Registry::GetDword(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                                    "FileReader NoBuffering");
    _bDistantNoBuffering = noBuffering && *noBuffering != 0;
    if (_bDistantNoBuffering)
        theLogManager.LogTo(_szLogName, "%s: NO_BUFFERING enabled !", _szLogTag.c_str());
}

CFileReader::~CFileReader()
{
    if (_file.IsOpen())
        CFileReader::Close();
    FreeBuffer();
}

void CFileReader::LogSlow(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    theLogManager.LogTo(_szLogName, "%s", text.c_str());
    if (_pSecondLog)
        _pSecondLog->Log("%s", text.c_str());
}

void CFileReader::SetSlowLimits(double openCloseSeconds, double readSeconds)
{
    _dSlowOpenClose = openCloseSeconds;
    _dSlowRead = readSeconds;
}

uint32_t CFileReader::SetMinMaxRd(uint32_t minRead, uint32_t maxRead)
{
    _dwReqMinRd = minRead;
    _dwReqMaxRd = maxRead;
    theLogManager.LogTo(_szLogName, "%s (CFileReader::SetMinMaxRd) 0x%X - 0x%X", _szLogTag.c_str(), minRead, maxRead);
    return 0;
}

uint32_t CFileReader::Open(const std::string& path)
{
    if (_file.IsOpen())
        Close();

    uint32_t result = kOpenOk;
    std::error_code ec;
    bool nullDevice = IsNullDevicePath(path);
    std::filesystem::path fullPath =
        nullDevice ? std::filesystem::path("/dev/null") : std::filesystem::absolute(platform::ToLocalPath(path), ec);
    if (ec || fullPath.empty()) {
        result = kOpenNoFullPath;
    } else if (!nullDevice && !HasDrive(path)) {
        result = kOpenNoDrive;
    } else {
        bool unbuffered = _bDistantNoBuffering && !nullDevice;  // the null device refuses O_DIRECT
        if (!nullDevice && platform::File::IsLocalDisk(fullPath)) {
            unbuffered = true;  // local disks are always read without the page cache
        } else {
            uint32_t flags = kAttributeNormal | (_bDistantNoBuffering ? kFlagNoBuffering : 0);
            theLogManager.LogTo(_szLogName, "NOT reading from fixed drive !!! --> using DistantReadFlags = 0x%X (%s)",
                                flags, _bDistantNoBuffering ? "NO Buffering" : "Buffering");
        }
        double start = platform::PerfSeconds();
        bool opened =
            _file.Open(fullPath, platform::File::Access::Read, platform::File::Disposition::OpenExisting, unbuffered);
        double elapsed = platform::PerfSeconds() - start;
        if (elapsed > _dSlowOpenClose)
            LogSlow("%s (CFileReader::Open)  CreateFile  SLOW (%f sec)  filename=%s", _szLogTag.c_str(), elapsed,
                    path.c_str());
        if (!opened) {
            result = kOpenFailed;
        } else {
            _qwFilePointer = 0;
            _qwReadPos = 0;
            _szFileName = path;
            auto sector = platform::File::SectorSize(fullPath);
            if (!sector || *sector == 0) {
                result = kOpenNoSectorSize;
            } else {
                _dwSectorSize = *sector;
                uint64_t s = _dwSectorSize;
                uint64_t largest = AlignDown(UINT32_MAX, s);
                uint64_t minRd = std::max<uint64_t>(_dwReqMinRd, s);
                minRd = std::min(AlignDown(minRd + s - 1, s), largest);
                uint64_t maxRd = std::max(AlignDown(_dwReqMaxRd, s), minRd);
                _dwMinRd = static_cast<uint32_t>(minRd);
                _dwMaxRd = static_cast<uint32_t>(maxRd);
                if (!_pBuffer || _dwBufferSize != _dwMaxRd) {
                    if (FreeBuffer() != 0)
                        result = kOpenFreeFailed;
                    else if (AllocBuffer(_dwMaxRd) != 0)
                        result = kOpenNoBuffer;
                }
                DiscardBuffer();
                _bLastReadDirect = true;
            }
        }
    }
    if (result != kOpenOk && _file.IsOpen())
        Close();
    theLogManager.LogTo(_szLogName, "%s (CFileReader::Open) file=%s minrd=0x%x maxrd=0x%x result=%u", _szLogTag.c_str(),
                        path.c_str(), _dwMinRd, _dwMaxRd, result);
    return result;
}

uint32_t CFileReader::Close()
{
    uint32_t result = 0;
    double start = platform::PerfSeconds();
    DiscardBuffer();
    if (_file.IsOpen())
        _file.Close();
    double elapsed = platform::PerfSeconds() - start;
    if (elapsed > _dSlowOpenClose)
        LogSlow("%s (CFileReader::Close) CloseHandle SLOW (%f sec)  filename=%s", _szLogTag.c_str(), elapsed,
                _szFileName.c_str());
    theLogManager.LogTo(_szLogName, "%s (CFileReader::Close) result=%u  filename=%s", _szLogTag.c_str(), result,
                        _szFileName.c_str());
    _szFileName.clear();
    return result;
}

int CFileReader::OnReadComplete(const std::string&, uint32_t, double)
{
    return 1;
}

uint32_t CFileReader::Seek(uint64_t position)
{
    uint32_t offset = 0;
    uint32_t available = 0;
    if (FindInBuffer(position, &offset, &available)) {
        _qwReadPos = position;
        return 0;
    }
    if (!_file.IsOpen() || position > kMaxFileOffset)
        return 1;
    _qwFilePointer = AlignDown(position, _dwSectorSize);
    _qwReadPos = position;
    return 0;
}

bool CFileReader::FindInBuffer(uint64_t position, uint32_t* offset, uint32_t* available) const
{
    if (_dwBufferedBytes == 0 || position < _qwBufferPos || position - _qwBufferPos >= _dwBufferedBytes)
        return false;
    *offset = static_cast<uint32_t>(position - _qwBufferPos);
    *available = _dwBufferedBytes - *offset;
    return true;
}

uint32_t CFileReader::AllocBuffer(uint32_t size)
{
    FreeBuffer();
    _pBuffer = platform::MakePageBuffer(size);
    if (!_pBuffer) {
        theLogManager.LogTo(_szLogName, "%s (CFileReader::AllocBuffer) VirtualAlloc failed", _szLogTag.c_str());
        return 2;
    }
    _dwBufferSize = size;
    return 0;
}

uint32_t CFileReader::FreeBuffer()
{
    _pBuffer.reset();
    _dwBufferSize = 0;
    _dwBufferedBytes = 0;
    _qwBufferPos = 0;
    return 0;
}

int CFileReader::ReadFileT(platform::File& file, void* memory, uint32_t count, uint64_t offset, uint32_t* bytesRead)
{
    return ReadFileT(file, memory, count, nullptr, 0, offset, bytesRead);
}

int CFileReader::ReadFileT(platform::File& file, void* memory, uint32_t count, void* tail, uint32_t tailCount,
                           uint64_t offset, uint32_t* bytesRead)
{
    double start = platform::PerfSeconds();
    int64_t n =
        tailCount ? file.ReadAtSplit(memory, count, tail, tailCount, offset) : file.ReadAt(memory, count, offset);
    count += tailCount;
    double elapsed = platform::PerfSeconds() - start;
    *bytesRead = n > 0 ? static_cast<uint32_t>(n) : 0;
    int result = OnReadComplete(_szFileName, *bytesRead, elapsed);
    if (n < 0)
        result = 0;
    if (elapsed > _dSlowRead)
        LogSlow(
            "%s (CFileReader::ReadFileT) ReadFile SLOW (%f sec) (filename=%s)\r\n%24s| %u (0x%x) bytes to read - "
            "%u (0x%x) bytes read",
            _szLogTag.c_str(), elapsed, _szFileName.c_str(), "", count, count, *bytesRead, *bytesRead);
    return result;
}

uint32_t CFileReader::ReadData(void* destination, uint32_t count, uint32_t* delivered)
{
    *delivered = 0;
    auto* dest = static_cast<uint8_t*>(destination);
    uint32_t remaining = count;

    uint32_t offset = 0;
    uint32_t available = 0;
    if (remaining > 0 && FindInBuffer(_qwReadPos, &offset, &available)) {
        uint32_t n = std::min(available, remaining);
        std::memcpy(dest, _pBuffer.get() + offset, n);
        _qwReadPos += n;
        dest += n;
        *delivered += n;
        remaining -= n;
    }
    if (remaining == 0)
        return 0;
    if (!_file.IsOpen()) {
        LogSlow("%s (CFileReader::ReadData) ReadFile failed: %s  filename=%s", _szLogTag.c_str(),
                platform::ErrorText(EBADF).c_str(), _szFileName.c_str());
        return 1;
    }

    const uint64_t s = _dwSectorSize;
    bool split = false;
    while (remaining > 0) {
        // Every platform read starts on the sector that holds the read position; a short read at
        // the end of the file must not leave the next one at an unaligned offset.
        if (_qwReadPos > kMaxFileOffset)
            return 3;
        _qwFilePointer = AlignDown(_qwReadPos, s);
        auto skip = static_cast<uint32_t>(_qwReadPos - _qwFilePointer);
        uint64_t chunk = std::max<uint64_t>(uint64_t{skip} + remaining, _dwMinRd);
        chunk = std::min(AlignDown(chunk + s - 1, s), uint64_t{_dwMaxRd});

        // When the caller's memory lies against the sectors as the file position does and the request spans a
        // minimum read, its aligned middle goes straight into that memory and only the edges pass the buffer,
        // one sector each: reading ahead would make the next request's middle a copy.
        const bool sameSkew = reinterpret_cast<uintptr_t>(dest) % s == skip;
        if (sameSkew) {
            const uint64_t head = skip == 0 ? 0 : s - skip;
            const uint64_t middle = remaining > head ? AlignDown(remaining - head, s) : 0;
            split = split || (middle > 0 && AlignDown(uint64_t{skip} + remaining + s - 1, s) >= _dwMinRd);
            if (split)
                chunk = middle == 0 || skip != 0 ? s : std::min<uint64_t>(middle, _dwMaxRd);
        }

        uint32_t got = 0;
        if (skip == 0 && sameSkew && chunk <= remaining) {
            DiscardBuffer();
            _bLastReadDirect = true;
            // A tail shorter than a sector comes in the same request, into the buffer: one request per call, and the
            // rest of its sector stays buffered for the next call's head.
            const uint64_t tail = remaining - chunk;
            const uint32_t tailSector = tail > 0 && tail < s && s <= _dwBufferSize ? static_cast<uint32_t>(s) : 0;
            if (!ReadFileT(_file, dest, static_cast<uint32_t>(chunk), _pBuffer.get(), tailSector, _qwFilePointer,
                           &got)) {
                LogSlow("%s (CFileReader::ReadData) ReadFile failed: %s  filename=%s", _szLogTag.c_str(),
                        platform::ErrorText(_file.LastError()).c_str(), _szFileName.c_str());
                return 1;
            }
            uint32_t intoBuffer = 0;
            if (got > chunk) {
                intoBuffer = got - static_cast<uint32_t>(chunk);
                got = static_cast<uint32_t>(chunk);
            }
            _qwFilePointer += got;
            _qwReadPos += got;
            dest += got;
            *delivered += got;
            remaining -= got;
            if (intoBuffer > 0) {
                _qwBufferPos = _qwFilePointer;
                _dwBufferedBytes = intoBuffer;
                _qwFilePointer += intoBuffer;
                _bLastReadDirect = false;
                const uint32_t n = std::min(intoBuffer, remaining);
                std::memcpy(dest, _pBuffer.get(), n);
                _qwReadPos += n;
                dest += n;
                *delivered += n;
                remaining -= n;
            }
            if (got < chunk || (tailSector && intoBuffer < tailSector))
                break;
            continue;
        }

        _bLastReadDirect = false;
        DiscardBuffer();
        if (!ReadFileT(_file, _pBuffer.get(), static_cast<uint32_t>(chunk), _qwFilePointer, &got)) {
            LogSlow("%s (CFileReader::ReadData) ReadFile failed: %s  filename=%s", _szLogTag.c_str(),
                    platform::ErrorText(_file.LastError()).c_str(), _szFileName.c_str());
            return 2;
        }
        _qwBufferPos = _qwFilePointer;
        _dwBufferedBytes = got;
        _qwFilePointer += got;
        uint32_t n = got > skip ? std::min(got - skip, remaining) : 0;
        if (n > 0)
            std::memcpy(dest, _pBuffer.get() + skip, n);
        _qwReadPos += n;
        dest += n;
        *delivered += n;
        remaining -= n;
        if (got < chunk) {
            theLogManager.LogTo(_szLogName,
                                "%s (CFileReader::ReadData) ReadFile: dwBytesRd(%u) != dwSize(%u)  filename=%s",
                                _szLogTag.c_str(), got, static_cast<uint32_t>(chunk), _szFileName.c_str());
            break;
        }
    }
    if (remaining > 0)
        theLogManager.LogTo(_szLogName,
                            "%s (CFileReader::ReadData) Incomplete read: *pdwNbBytesRead(%u), dwNbBytesToRead(%u) left",
                            _szLogTag.c_str(), *delivered, remaining);
    return 0;
}
