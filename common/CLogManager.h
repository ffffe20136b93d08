#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "common/CLogFile.h"
#include "common/CReadWriteLock.h"

// The module's set of named logs. Any thread may log to any of them by name; an empty name stands for
// "default", and so do the inherited operations (Log, Write, NewLine, Close, Reset, IsOpen).
// Logging to a name that is not open does nothing and returns 0.
// The named printf-style form is LogTo(name, format, ...).
class CLogManager : public CLogFile
{
public:
    CLogManager();
    ~CLogManager() override;

    // Opens the default log: what Log and the other inherited operations write goes there.
    int Open(const std::string& path, uint32_t maxSize) override;
    int Close() override;
    int Reset() override;
    bool IsOpen() override;
    __attribute__((format(printf, 2, 3))) int Log(const char* format, ...) override;
    int NewLine() override;
    int Write(const char* text) override;

    // Opens a log under a new name (kept in the table even when Open fails); 1 when the name exists already.
    int OpenLog(std::string path, uint32_t maxSize, std::string name);
    int CloseLog(std::string name);
    int Reset(std::string name);
    bool IsOpen(std::string name);
    __attribute__((format(printf, 3, 4))) int LogTo(const std::string& name, const char* format, ...);
    int NewLine(std::string name);
    int Write(const char* text, std::string name);

private:
    // Runs op on the named log under the read lock; 0 when there is no such log.
    template <typename Op>
    auto WithLog(std::string name, Op op) -> decltype(op(std::declval<CLogFile&>()));

    std::map<std::string, std::unique_ptr<CLogFile>> _mapLogs;
    std::unique_ptr<CReadWriteLock> _pLock;
};

extern CLogManager theLogManager;
