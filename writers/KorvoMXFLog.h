#pragma once

#include <string>

// Base of the clip-file writers: the log their messages go to. Every message begins with the class and
// operation in parentheses.
class KorvoMXFLog
{
public:
    KorvoMXFLog() = default;
    virtual ~KorvoMXFLog() = default;
    KorvoMXFLog(const KorvoMXFLog&) = delete;
    KorvoMXFLog& operator=(const KorvoMXFLog&) = delete;

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The text of the last message, for the owner's error reports.
    const std::string& GetLastMessage() const { return _szLastMessage; }

private:
    std::string _szLastMessage;
};
