#include "common/CFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <filesystem>

#include "common/CLogFile.h"
#include "common/CLogManager.h"
#include "common/FileUtils.h"
#include "common/FormatText.h"
#include "common/NullDevice.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace
{

constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

uint64_t AlignDown(uint64_t value, uint64_t sector)
{
    return value - value % sector;
}

uint64_t AlignUp(uint64_t value, uint64_t sector)
{
    return AlignDown(value + sector - 1, sector);
}

bool IsWindowsPath(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || path.rfind("\\\\", 0) == 0;
}

// Drive types as the messages number them.
enum DriveType : int { kDriveUnknown = 0, kDriveFixed = 3, kDriveRemote = 4 };

const char* DriveTypeName(int type)
{
    static const char* const kNames[] = {"DRIVE_UNKNOWN", "DRIVE_NO_ROOT_DIR", "DRIVE_REMOVABLE", "DRIVE_FIXED",
                                         "DRIVE_REMOTE",  "DRIVE_CDROM",       "DRIVE_RAMDISK"};
    return type >= 0 && type < 7 ? kNames[type] : kNames[0];
}

}  // namespace

CFileWriter::CFileWriter()
{
    const char* key = "Software\\Brennhall\\Common";
    auto mode = platform::Registry::GetDword(platform::RegHive::LocalMachine, key, "FileWriter Mode");
    _dwRegistryMode = mode && *mode == 1 ? kModeWriteOnly : kModeDefault;
    auto noBuffering = platform::Registry::GetDword(platform::RegHive::LocalMachine, key, "FileWriter NoBuffering");
    _bNoBuffering = noBuffering && *noBuffering == 1;
}

CFileWriter::~CFileWriter()
{
    CFileWriter::Close(true);
    FreeBuffer();
}

void CFileWriter::LogAlso(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    theLogManager.Log("%s", text.c_str());
    if (_pExtraLog)
        _pExtraLog->Log("%s", text.c_str());
}

void CFileWriter::SetSlowLimits(double openCloseSeconds, double readWriteSeconds)
{
    _dSlowOpenClose = openCloseSeconds;
    _dSlowReadWrite = readWriteSeconds;
}

uint32_t CFileWriter::SetMinMaxWr(uint32_t minWrite, uint32_t maxWrite)
{
    _dwReqMinWr = minWrite;
    _dwReqMaxWr = maxWrite;
    theLogManager.Log("%s (CFileWriter::SetMinMaxWr) 0x%X - 0x%X", _szLogPrefix.c_str(), minWrite, maxWrite);
    return 0;
}

uint32_t CFileWriter::Open(const std::string& fileName)
{
    _dRateDeadline = 0.0;  // the first write does not wait
    if (_file.IsOpen())
        Close(true);

    uint32_t result = kOpenOk;
    std::error_code ec;
    bool nullDevice = IsNullDevicePath(fileName);
    std::string fullPath =
        nullDevice || IsWindowsPath(fileName) ? fileName : std::filesystem::absolute(fileName, ec).string();
    std::string root;
    if (!nullDevice && !ec)
        SplitPath(fullPath, &root, nullptr, nullptr, nullptr);
    if (ec || fullPath.empty()) {
        result = kOpenNoFullPath;
    } else if (!nullDevice && root.empty()) {
        result = kOpenNoRoot;
    } else {
        std::string localPath = nullDevice ? "/dev/null" : platform::ToLocalPath(fullPath);
        int driveType = nullDevice                               ? kDriveUnknown
                        : platform::File::IsLocalDisk(localPath) ? kDriveFixed
                                                                 : kDriveRemote;
        theLogManager.Log("GetDriveType --> %d", driveType);
        theLogManager.Log("GetDriveType --> %s", DriveTypeName(driveType));

        auto access = platform::File::Access::ReadWrite;
        bool unbuffered = !nullDevice;  // the null device refuses O_DIRECT and has nothing to align
        _dwOpenMode = kModeDefault;
        if (driveType == kDriveFixed) {
            theLogManager.Log("writing on FIXED drive !!! --> no buffering");
        } else {
            theLogManager.Log("NOT writing on fixed drive !!! --> buffering");
            if (_dwRegistryMode == kModeWriteOnly) {
                theLogManager.Log("SEACHANGE Mode [%i], Write Only + NO BUFFERING", _dwRegistryMode);
                access = platform::File::Access::Write;
                _dwOpenMode = kModeWriteOnly;
            } else {
                theLogManager.Log(_bNoBuffering ? "Default Mode [%i], Read/Write + NO BUFFERING flag activated"
                                                : "Default Mode [%i], Read/Write + Buffering",
                                  _dwRegistryMode);
                unbuffered = _bNoBuffering && !nullDevice;
            }
        }
        double start = platform::PerfSeconds();
        // The write lock stands in for the share mode that keeps a second writer out.
        bool opened = _file.Open(localPath, access, platform::File::Disposition::OpenAlways, unbuffered) &&
                      (nullDevice || _file.LockForWriting());
        double elapsed = platform::PerfSeconds() - start;
        if (elapsed > _dSlowOpenClose)
            LogAlso("%s (CFileWriter::Open)  CreateFile  SLOW (%f sec)  filename=%s", _szLogPrefix.c_str(), elapsed,
                    fileName.c_str());
        _bNullDevice = nullDevice;
        _qwBufferPos = _qwCurrentPos = _qwHighWater = 0;
        _dwBufferLen = 0;
        uint32_t sector = 0;
        if (!opened) {
            result = kOpenFailed;
        } else if (!nullDevice && GetFileSize64(_file, &_qwSizeAtOpen) != 0) {
            result = kOpenNoFileSize;
        } else if (::GetSectorSize(nullDevice ? "\\\\.\\nul" : fullPath, &sector) != 0 || sector == 0) {
            result = kOpenNoSectorSize;
        } else {
            _szFileName = fullPath;
            _dwSectorSize = sector;
            uint64_t s = sector;
            uint64_t largest = AlignDown(UINT32_MAX, s);
            uint64_t minWr = std::min(AlignUp(std::max<uint64_t>(_dwReqMinWr, s), s), largest);
            uint64_t maxWr = std::max(AlignDown(_dwReqMaxWr, s), minWr);
            _dwMinWr = static_cast<uint32_t>(minWr);
            _dwMaxWr = static_cast<uint32_t>(maxWr);
            if (!_pBuffer || _dwBufferSize != _dwMaxWr) {
                if (FreeBuffer() != 0)
                    result = kOpenFreeFailed;
                else if (AllocBuffer(_dwMaxWr) != 0)
                    result = kOpenNoBuffer;
            }
        }
    }
    // A failed open must not cut an existing file to the (empty) high-water mark.
    if (result != kOpenOk) {
        CloseHandles();
        _szFileName.clear();
    }
    theLogManager.Log("%s (CFileWriter::Open) file=%s minwr=0x%x maxwr=0x%x result=%u", _szLogPrefix.c_str(),
                      fileName.c_str(), _dwMinWr, _dwMaxWr, result);
    return result;
}

void CFileWriter::CloseHandles()
{
    _readFile.Close();
    _file.Close();
}

uint32_t CFileWriter::Close(bool flush)
{
    if (!_file.IsOpen())
        return 0;
    uint32_t result = 0;
    if (flush && FlushBuffer() != 0)
        result = 2;

    double start = platform::PerfSeconds();
    CloseHandles();
    double elapsed = platform::PerfSeconds() - start;
    if (elapsed > _dSlowOpenClose)
        LogAlso("%s (CFileWriter::Close) CloseHandle SLOW (%f sec)  filename=%s", _szLogPrefix.c_str(), elapsed,
                _szFileName.c_str());

    // The null device has no size to fix.
    uint64_t size = 0;
    if (_bNullDevice) {
    } else if (GetFileSizeByName(_szFileName, &size) != 0) {
        result = result ? result : 3;
    } else if (size == _qwHighWater) {
        theLogManager.Log("%s (CFileWriter::Close) file=%s - Size=0x%" PRIx64 " bytes", _szLogPrefix.c_str(),
                          _szFileName.c_str(), size);
    } else {
        errno = 0;
        if (SetFileSizeByName(_szFileName, _qwHighWater) != 0) {
            LogAlso("%s (CFileWriter::Close) SetFileSize failed: %s", _szLogPrefix.c_str(),
                    platform::ErrorText(errno).c_str());
            result = result ? result : 4;
        } else {
            theLogManager.Log("%s (CFileWriter::Close) file=%s - Setting size to 0x%" PRIx64 " bytes",
                              _szLogPrefix.c_str(), _szFileName.c_str(), _qwHighWater);
        }
    }
    _dwBufferLen = 0;
    _szFileName.clear();
    return result;
}

int CFileWriter::OnWriteDone(uint32_t, double)
{
    return 1;
}

void CFileWriter::OnWriteFailed(const std::string&, uint32_t, uint32_t) {}

bool CFileWriter::WriteFileT(const void* data, uint32_t count, uint64_t offset, uint32_t* bytesWritten)
{
    if (_dSecondsPerByte > 0.0) {
        double wait = _dRateDeadline - platform::PerfSeconds();
        if (wait > 0.0)
            platform::SleepMs(static_cast<uint32_t>(wait * 1000.0 + 0.5));
    }
    double start = platform::PerfSeconds();
    int64_t n = _file.WriteAt(data, count, offset);
    double elapsed = platform::PerfSeconds() - start;
    *bytesWritten = n > 0 ? static_cast<uint32_t>(n) : 0;
    if (_dSecondsPerByte > 0.0 && *bytesWritten > 0) {
        double due = _dSecondsPerByte * *bytesWritten;
        if (elapsed < due)
            _dRateDeadline = start + due;
    }
    int hook = OnWriteDone(*bytesWritten, elapsed);
    if (n < 0) {
        LogAlso(
            "%s (CFileWriter::WriteFileT) WriteFile FAILED %s (%f sec) (filename=%s)\r\n%24s| %u (0x%x) bytes to "
            "write - %u (0x%x) bytes written",
            _szLogPrefix.c_str(), platform::ErrorText(_file.LastError()).c_str(), elapsed, _szFileName.c_str(), "",
            count, count, *bytesWritten, *bytesWritten);
        OnWriteFailed(_szFileName, count, *bytesWritten);
    }
    if (elapsed > _dSlowReadWrite)
        LogAlso(
            "%s (CFileWriter::WriteFileT) WriteFile SLOW (%f sec) (filename=%s)\r\n%24s| %u (0x%x) bytes to write "
            "- %u (0x%x) bytes written",
            _szLogPrefix.c_str(), elapsed, _szFileName.c_str(), "", count, count, *bytesWritten, *bytesWritten);
    return n >= 0 && hook != 0;
}

bool CFileWriter::ReadFileT(platform::File& file, void* data, uint32_t count, uint64_t offset, uint32_t* bytesRead)
{
    double start = platform::PerfSeconds();
    int64_t n = file.ReadAt(data, count, offset);
    double elapsed = platform::PerfSeconds() - start;
    *bytesRead = n > 0 ? static_cast<uint32_t>(n) : 0;
    if (elapsed > _dSlowReadWrite)
        LogAlso(
            "%s (CFileWriter::ReadFileT) ReadFile SLOW (%f sec) (filename=%s)\r\n%24s| %u (0x%x) bytes to read - "
            "%u (0x%x) bytes read",
            _szLogPrefix.c_str(), elapsed, _szFileName.c_str(), "", count, count, *bytesRead, *bytesRead);
    return n >= 0;
}

bool CFileWriter::WriteBuffer()
{
    uint32_t written = 0;
    if (!WriteFileT(_pBuffer.get(), _dwBufferLen, _qwBufferPos, &written))
        return false;
    if (written != _dwBufferLen) {
        LogAlso("%s (CFileWriter::WriteBuffer) dwBytesWr (0x%x) != m_dwLen (0x%x)", _szLogPrefix.c_str(), written,
                _dwBufferLen);
        return false;
    }
    return true;
}

uint32_t CFileWriter::AllocBuffer(uint32_t size)
{
    FreeBuffer();
    _pBuffer = platform::MakePageBuffer(size);
    if (!_pBuffer) {
        LogAlso("%s (CFileWriter::AllocBuffer) VirtualAlloc failed", _szLogPrefix.c_str());
        return 3;
    }
    _dwBufferSize = size;
    return 0;
}

uint32_t CFileWriter::FreeBuffer()
{
    _pBuffer.reset();
    _dwBufferSize = 0;
    _dwBufferLen = 0;
    return 0;
}

platform::File* CFileWriter::ReadHandle()
{
    if (_dwOpenMode != kModeWriteOnly)
        return &_file;
    if (!_readFile.IsOpen()) {
        theLogManager.Log("SeaChange Mode - Creating Reader");
        if (!_readFile.Open(platform::ToLocalPath(_szFileName), platform::File::Access::Read,
                            platform::File::Disposition::OpenExisting, true))
            return nullptr;
    }
    return &_readFile;
}

uint32_t CFileWriter::WriteData(const void* data, uint32_t length, uint32_t* taken)
{
    *taken = 0;
    if (!_file.IsOpen() || !_pBuffer)
        return length == 0 ? 0 : 1;
    auto* src = static_cast<const uint8_t*>(data);
    uint32_t remaining = length;
    const uint32_t s = _dwSectorSize;

    auto copyIn = [&](uint32_t n) {
        std::memcpy(_pBuffer.get() + _dwBufferLen, src, n);
        _dwBufferLen += n;
        src += n;
        remaining -= n;
        *taken += n;
        _qwCurrentPos += n;
        _qwHighWater = std::max(_qwHighWater, _qwCurrentPos);
    };
    auto writeOut = [&]() {
        if (!WriteBuffer())
            return false;
        _qwBufferPos += _dwBufferLen;
        _dwBufferLen = 0;
        return true;
    };

    if (_dwBufferLen > 0 && remaining > 0) {
        uint32_t n = remaining;
        if (uint64_t{_dwBufferLen} + remaining >= _dwMinWr) {
            n = std::min(remaining, _dwMaxWr - _dwBufferLen);
            n = static_cast<uint32_t>(AlignDown(uint64_t{_dwBufferLen} + n, s) - _dwBufferLen);
        }
        copyIn(n);
        _bLastWriteDirect = false;
        if (_dwBufferLen >= _dwMinWr && !writeOut())
            return 2;
    }

    while (_dwBufferLen == 0 && remaining > 0) {
        uint32_t n = std::min(remaining, _dwMaxWr);
        if (reinterpret_cast<uintptr_t>(src) % s != 0 || n < _dwMinWr) {
            if (n >= _dwMinWr)
                n = static_cast<uint32_t>(AlignDown(n, s));
            copyIn(n);
            _bLastWriteDirect = false;
            if (_dwBufferLen >= _dwMinWr && !writeOut())
                return 2;
            continue;
        }
        n = static_cast<uint32_t>(AlignDown(n, s));
        uint32_t written = 0;
        _bLastWriteDirect = true;
        if (!WriteFileT(src, n, _qwBufferPos, &written))
            return 1;
        src += written;
        remaining -= written;
        *taken += written;
        _qwBufferPos += written;
        _qwCurrentPos += written;
        _qwHighWater = std::max(_qwHighWater, _qwCurrentPos);
        if (written < n)
            break;
    }
    return 0;
}

uint32_t CFileWriter::FlushBuffer()
{
    if (_dwBufferLen == 0)
        return 0;
    const uint32_t s = _dwSectorSize;
    uint32_t tail = _dwBufferLen % s;
    if (tail != 0) {
        // Complete the last sector with what the file already holds after the buffered bytes.
        platform::PageBuffer sector = platform::MakePageBuffer(s);
        if (!sector)
            return 1;
        platform::File* reader = ReadHandle();
        uint64_t sectorPos = _qwBufferPos + (_dwBufferLen - tail);
        uint32_t got = 0;
        if (!reader || !ReadFileT(*reader, sector.get(), s, sectorPos, &got)) {
            LogAlso("%s (CFileWriter::FlushBuffer) ReadFile failed: %s", _szLogPrefix.c_str(),
                    platform::ErrorText(reader ? reader->LastError() : _readFile.LastError()).c_str());
            return 4;
        }
        uint8_t* end = _pBuffer.get() + _dwBufferLen;
        uint32_t kept = got > tail ? got - tail : 0;
        std::memcpy(end, sector.get() + tail, kept);
        std::memset(end + kept, 0, s - tail - kept);
        _dwBufferLen += s - tail;
    }
    _bLastWriteDirect = false;
    if (!WriteBuffer())
        return 5;
    _qwBufferPos += _dwBufferLen;
    _dwBufferLen = 0;
    return 0;
}

uint32_t CFileWriter::SetFilePos(uint64_t position)
{
    if (!_file.IsOpen())
        return 1;
    if (uint32_t flushed = FlushBuffer())
        return flushed + 7;
    if (position > kMaxFileOffset)
        return 1;
    const uint32_t s = _dwSectorSize;
    _qwBufferPos = AlignDown(position, s);
    auto head = static_cast<uint32_t>(position - _qwBufferPos);
    if (head != 0) {
        // Keep the sector's bytes before the position, so later writes do not lose them.
        platform::File* reader = ReadHandle();
        uint32_t got = 0;
        if (!reader || !ReadFileT(*reader, _pBuffer.get(), s, _qwBufferPos, &got)) {
            LogAlso("%s (CFileWriter::SetFilePos) ReadFile failed: %s", _szLogPrefix.c_str(),
                    platform::ErrorText(reader ? reader->LastError() : _readFile.LastError()).c_str());
            return 3;
        }
        if (got < head)
            std::memset(_pBuffer.get() + got, 0, head - got);
        _dwBufferLen = head;
    }
    _qwCurrentPos = position;
    _qwHighWater = std::max(_qwHighWater, position);
    return 0;
}

uint32_t CFileWriter::SetSize(uint64_t size)
{
    if (!_file.IsOpen())
        return 1;
    if (uint32_t flushed = FlushBuffer())
        return flushed + 7;
    if (size > kMaxFileOffset - _dwSectorSize)
        return 1;
    // Cut at the size itself first: the rest of its sector then reads as zeros, as after an ordinary
    // cut, instead of bringing the old bytes back when the file grows again.
    if (uint32_t result = SetFileSize(_file, size))
        return result;
    if (uint32_t result = SetFileSize(_file, AlignUp(size, _dwSectorSize)))
        return result;
    _qwBufferPos = 0;
    _qwCurrentPos = 0;
    _qwHighWater = size;
    return 0;
}
