#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"
#include "platform/PageBuffer.h"

class CLogFile;

// Writes large files sequentially with sector-aligned writes, unbuffered (O_DIRECT) on local disks.
// Small writes are gathered in a page-aligned buffer; aligned caller data of at least the minimum
// size goes to disk without a copy. The highest byte ever written is tracked and the file is cut to
// it at close, so the padding of the last sector never stays in the file.
class CFileWriter
{
public:
    CFileWriter();
    virtual ~CFileWriter();
    CFileWriter(const CFileWriter&) = delete;
    CFileWriter& operator=(const CFileWriter&) = delete;

    // Open results.
    enum : uint32_t {
        kOpenOk = 0,
        kOpenFailed = 1,
        kOpenNoSectorSize = 2,
        kOpenNoBuffer = 3,
        kOpenFreeFailed = 4,
        kOpenNoFileSize = 5,
        kOpenNoFullPath = 6,
        kOpenNoRoot = 7,
        kOpenCompareFailed = 8,
    };
    // Modes from the registry.
    enum : uint32_t { kModeDefault = 0, kModeWriteOnly = 1 };

    // Write sizes for the next Open; 0 means one sector.
    uint32_t SetMinMaxWr(uint32_t minWrite, uint32_t maxWrite);

    virtual uint32_t Open(const std::string& fileName);
    // 0; 1 a handle cannot be closed; 2 the final flush failed; 3 the size cannot be read back;
    // 4 the size cannot be set.
    virtual uint32_t Close(bool flush = true);
    // Called after every timed write; the base accepts it.
    virtual int OnWriteDone(uint32_t bytesWritten, double seconds);
    virtual void OnWriteFailed(const std::string& fileName, uint32_t bytesToWrite, uint32_t bytesWritten);

    // 0; 1 a direct write failed; 2 writing the buffer failed. *taken counts the bytes accepted.
    uint32_t WriteData(const void* data, uint32_t length, uint32_t* taken);
    // Writes what the buffer holds; a partial last sector is completed from the file first.
    // 0; 1 no memory; 4 reading the partial sector failed; 5 writing failed.
    uint32_t FlushBuffer();
    // 0; 1 the position cannot be reached; 3 the read-back failed; a flush error plus 7.
    uint32_t SetFilePos(uint64_t position);
    // Cuts or extends the file; Close leaves it exactly this size unless more is written.
    // 0; a flush error plus 7; else SetFileSize's result.
    uint32_t SetSize(uint64_t size);

    // The timed platform calls every other operation goes through.
    bool WriteFileT(const void* data, uint32_t count, uint64_t offset, uint32_t* bytesWritten);
    bool ReadFileT(platform::File& file, void* data, uint32_t count, uint64_t offset, uint32_t* bytesRead);
    bool WriteBuffer();
    uint32_t AllocBuffer(uint32_t size);
    uint32_t FreeBuffer();

    uint64_t GetCurrentPos() const { return _qwCurrentPos; }
    bool IsHandleValid() const { return _file.IsOpen(); }
    uint32_t GetSectorSize() const { return _dwSectorSize; }
    uint32_t GetMinWrite() const { return _dwMinWr; }
    uint32_t GetMaxWrite() const { return _dwMaxWr; }
    uint32_t GetOpenMode() const { return _dwOpenMode; }
    uint64_t GetSizeAtOpen() const { return _qwSizeAtOpen; }

    // Seconds per byte to pace writes at, 0 for none.
    void SetRateLimit(double secondsPerByte) { _dSecondsPerByte = secondsPerByte; }
    // A log that also receives every SLOW and FAILED message; none by default.
    void SetExtraLog(CLogFile* log) { _pExtraLog = log; }
    void SetLogPrefix(std::string prefix) { _szLogPrefix = std::move(prefix); }
    // Slow-call limits: open and close (0.1 s), reads and writes (1.0 s).
    void SetSlowLimits(double openCloseSeconds, double readWriteSeconds);

protected:
    void LogAlso(const char* format, ...);
    platform::File* ReadHandle();
    void CloseHandles();

    std::string _szLogPrefix = "CFileWriter";
    CLogFile* _pExtraLog = nullptr;
    uint32_t _dwReqMinWr = 0;
    uint32_t _dwReqMaxWr = 0;
    uint32_t _dwMinWr = 0;
    uint32_t _dwMaxWr = 0;
    double _dSecondsPerByte = 0.0;
    double _dRateDeadline = 0.0;  // the next write waits until then
    platform::File _file;
    platform::File _readFile;  // the write-only mode reads back partial sectors through this one
    uint32_t _dwSectorSize = 0;
    std::string _szFileName;
    uint64_t _qwBufferPos = 0;
    uint64_t _qwCurrentPos = 0;
    uint64_t _qwHighWater = 0;
    uint64_t _qwSizeAtOpen = 0;
    platform::PageBuffer _pBuffer;
    uint32_t _dwBufferSize = 0;
    uint32_t _dwBufferLen = 0;
    bool _bLastWriteDirect = false;
    uint32_t _dwRegistryMode = kModeDefault;
    uint32_t _dwOpenMode = kModeDefault;
    bool _bNoBuffering = false;
    bool _bNullDevice = false;
    double _dSlowOpenClose = 0.1;
    double _dSlowReadWrite = 1.0;
};
