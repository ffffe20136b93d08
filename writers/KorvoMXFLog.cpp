#include "writers/KorvoMXFLog.h"

#include <cstdarg>
#include <cstdio>

#include "common/CLogManager.h"

KorvoMXFLog::KorvoMXFLog() : _pLog(&theLogManager) {}

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
