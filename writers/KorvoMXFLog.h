#pragma once

class CLogFile;

// Base of the clip-file writers: the log their messages go to (the module's log manager, acting as its
// "default" log, until another sink is given). Every message begins with the class and operation in parentheses.
class KorvoMXFLog
{
public:
    KorvoMXFLog();
    virtual ~KorvoMXFLog() = default;
    KorvoMXFLog(const KorvoMXFLog&) = delete;
    KorvoMXFLog& operator=(const KorvoMXFLog&) = delete;

    // One line in the sink; nothing without a sink.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

protected:
    CLogFile* _pLog;  // not owned
};
