#pragma once

#include <cstdint>

class CLogFile;

// Base of the clip-file writers: the log their messages go to (the module's log manager, acting as its
// "default" log, until another sink is given). Every message begins with the class and operation in parentheses.
class KorvoMXFLog
{
public:
    KorvoMXFLog();
    virtual ~KorvoMXFLog();
    KorvoMXFLog(const KorvoMXFLog&) = delete;
    KorvoMXFLog& operator=(const KorvoMXFLog&) = delete;

    // A null path turns logging off, an empty one logs to the log manager, any other opens a private log file.
    // 1, or 0 when the file cannot be opened (logging is then off).
    virtual int SetLog(const char* path, uint32_t maxSize);
    // Logs to the other object's sink without owning it; the other must outlive this one's logging.
    void ShareLog(const KorvoMXFLog* other);

    // One line in the sink; nothing without a sink.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

protected:
    void DropOwnedLog();

    CLogFile* _pLog;
    bool _bOwned = false;  // _pLog is a CLogFile this object created
};
