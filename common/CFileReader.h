#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"
#include "platform/PageBuffer.h"

class CLogFile;

// Reads a file at any position and length with platform reads that are always whole sectors at
// sector-aligned positions, so that files on local disks are read unbuffered (O_DIRECT). Requests
// are served from a page-aligned buffer, or straight into the caller's memory when that memory and
// the request are aligned; when the memory lies against the sectors as the file position does, the
// aligned middle of a request of a minimum read or more goes straight in and only its edges are copied.
class CFileReader
{
public:
    explicit CFileReader(std::string logName);
    virtual ~CFileReader();
    CFileReader(const CFileReader&) = delete;
    CFileReader& operator=(const CFileReader&) = delete;

    // Open results.
    enum : uint32_t {
        kOpenOk = 0,
        kOpenFailed = 1,
        kOpenNoSectorSize = 2,
        kOpenNoBuffer = 3,
        kOpenFreeFailed = 4,
        kOpenNoFullPath = 6,
        kOpenNoDrive = 7,
        kOpenCompareFailed = 8,
    };

    // Read sizes for the next Open; 0 means one sector.
    uint32_t SetMinMaxRd(uint32_t minRead, uint32_t maxRead);

    virtual uint32_t Open(const std::string& path);
    // 0, or 1 when closing the handle failed.
    virtual uint32_t Close();
    // Called after every timed read; the base accepts it.
    virtual int OnReadComplete(const std::string& fileName, uint32_t bytesRead, double seconds);

    // 0, or 1 when the position cannot be reached.
    uint32_t Seek(uint64_t position);
    // 0 also for a short read at the end of the file (compare *delivered with count); 1 or 2 when a
    // direct or buffered platform read failed; 3 when the position cannot be reached.
    uint32_t ReadData(void* destination, uint32_t count, uint32_t* delivered);

    // The timed platform read of count bytes at offset: 0 when it failed, else OnReadComplete's answer.
    int ReadFileT(platform::File& file, void* memory, uint32_t count, uint64_t offset, uint32_t* bytesRead);
    // The same for one read whose first count bytes go to memory and whose next tailCount bytes go to tail.
    int ReadFileT(platform::File& file, void* memory, uint32_t count, void* tail, uint32_t tailCount, uint64_t offset,
                  uint32_t* bytesRead);

    uint32_t AllocBuffer(uint32_t size);
    uint32_t FreeBuffer();
    void DiscardBuffer() { _dwBufferedBytes = 0; }
    bool FindInBuffer(uint64_t position, uint32_t* offset, uint32_t* available) const;

    // Slow-call limits: open and close (0.1 s), reads (1.0 s).
    void SetSlowLimits(double openCloseSeconds, double readSeconds);
    // A log that also receives the slow-call and read-failure messages; none by default.
    void SetSecondLog(CLogFile* log) { _pSecondLog = log; }
    void SetLogTag(std::string tag) { _szLogTag = std::move(tag); }

    bool IsOpen() const { return _file.IsOpen(); }
    uint32_t GetSectorSize() const { return _dwSectorSize; }
    uint32_t GetMinRead() const { return _dwMinRd; }
    uint32_t GetMaxRead() const { return _dwMaxRd; }
    uint64_t GetReadPosition() const { return _qwReadPos; }
    const std::string& GetFileName() const { return _szFileName; }

protected:
    void LogSlow(const char* format, ...);

    std::string _szLogName;
    CLogFile* _pSecondLog = nullptr;
    uint32_t _dwReqMinRd = 0;
    uint32_t _dwReqMaxRd = 0;
    uint32_t _dwMinRd = 0;
    uint32_t _dwMaxRd = 0;
    uint32_t _dwSectorSize = 0;
    platform::File _file;
    std::string _szFileName;
    uint64_t _qwFilePointer = 0;  // always a multiple of the sector size
    uint64_t _qwReadPos = 0;
    bool _bDistantNoBuffering = false;
    bool _bLastReadDirect = false;
    uint32_t _dwBufferSize = 0;
    platform::PageBuffer _pBuffer;
    uint64_t _qwBufferPos = 0;
    uint32_t _dwBufferedBytes = 0;
    std::string _szLogTag = "CFileReader";
    double _dSlowOpenClose = 0.1;
    double _dSlowRead = 1.0;
};
