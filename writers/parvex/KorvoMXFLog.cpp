#include "writers/parvex/KorvoMXFLog.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "common/CLogManager.h"

KorvoMXFLog::KorvoMXFLog() : _pLog(&theLogManager) {}

KorvoMXFLog::~KorvoMXFLog()
{
    DropOwnedLog();
}

void KorvoMXFLog::DropOwnedLog()
{
    if (_bOwned)
        delete _pLog;
    _pLog = nullptr;
    _bOwned = false;
}

int KorvoMXFLog::SetLog(const char* path, uint32_t maxSize)
{
    DropOwnedLog();
    if (!path)
        return 1;
    if (!*path) {
        _pLog = &theLogManager;
        return 1;
    }
    auto* log = new (std::nothrow) CLogFile;
    if (!log)
        return 0;
    if (log->Open(path, maxSize) != 1) {
        delete log;
        return 0;
    }
    _pLog = log;
    _bOwned = true;
    return 1;
}

void KorvoMXFLog::ShareLog(const KorvoMXFLog* other)
{
    DropOwnedLog();
    _pLog = other ? other->_pLog : nullptr;
}

void KorvoMXFLog::Log(const char* format, ...)
{
    if (!_pLog)
        return;
    // Formatted here so that the log manager's own Log picks the named log.
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    _pLog->Log("%s", text);
}
