#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/File.h"

namespace platform
{
class NamedMutex;
}

// The full path of a log file: the machine's "Logs Path" with the sub-folder (created when missing)
// and the file name; "C:\" + file name when the folder is unknown or cannot be made.
std::string GetLogFilePath(const std::string& subFolder, const std::string& fileName);

// The size cap of log files in bytes, from the machine's "Max Log Size In Mb" (4 MB when missing).
uint32_t GetMaxLogSize();

// The 24-character stamp that starts every log line, as in "Wed Jan 02 02:03:55.123 ";
// writes it with its terminating zero into out.
void FormatLogStamp(const platform::LocalTime& time, char (&out)[25]);

// One text log file with a size cap, roll-over to a single "~" backup and stamped lines. Several
// processes may append to the same file: each write runs under a mutex named after the file's base name.
class CLogFile
{
public:
    CLogFile();
    virtual ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    virtual int Open(const std::string& path, uint32_t maxSize);
    virtual int Close();
    virtual int Reset();
    virtual bool IsOpen();
    __attribute__((format(printf, 2, 3))) virtual int Log(const char* format, ...);
    __attribute__((format(printf, 2, 0))) virtual int LogV(const char* format, va_list args);
    virtual int NewLine();
    virtual int Write(const char* text);
    virtual const char* GetFileName();

    // How long a file may pass its cap before the next roll-over attempt (1000 ms); tests shorten it.
    static void SetRollOverCheckMs(uint32_t milliseconds);

protected:
    bool _bEcho = false;
    bool _bEnabled = true;

private:
    bool FollowRollOver();
    bool RollOverIfFull();
    void Release();

    uint32_t _nLastCheck = 0;
    platform::File _hFile;
    std::unique_ptr<platform::NamedMutex> _pMutex;
    uint32_t _nMaxSize = 0;
    char _szFileName[260] = {};
    std::string _strLocalPath;  // _szFileName mapped to the local file system
};
