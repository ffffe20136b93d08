#include "common/CLogManager.h"

#include <utility>

namespace
{
constexpr const char* kDefaultName = "default";

std::string LogName(std::string name)
{
    return name.empty() ? kDefaultName : name;
}

// Holds the read lock for one scope.
class ReadHold
{
public:
    explicit ReadHold(CReadWriteLock& lock) : _lock(lock) { _lock.ReadLock(); }
    ~ReadHold() { _lock.ReadUnlock(); }
    ReadHold(const ReadHold&) = delete;
    ReadHold& operator=(const ReadHold&) = delete;

private:
    CReadWriteLock& _lock;
};

// Holds the write lock for one scope, waiting for it as long as it takes.
class WriteHold
{
public:
    explicit WriteHold(CReadWriteLock& lock) : _lock(lock) { _lock.WriteLock(platform::kInfinite); }
    ~WriteHold() { _lock.WriteUnlock(); }
    WriteHold(const WriteHold&) = delete;
    WriteHold& operator=(const WriteHold&) = delete;

private:
    CReadWriteLock& _lock;
};
}  // namespace

// Built before the module's other globals and destroyed after them, so they may log from their
// constructors and destructors.
CLogManager theLogManager __attribute__((init_priority(200)));

CLogManager::CLogManager() : _pLock(std::make_unique<CReadWriteLock>()) {}

CLogManager::~CLogManager()
{
    {
        WriteHold hold(*_pLock);
        for (auto& [name, log] : _mapLogs) {
            log->Close();
            log.reset();
        }
        _mapLogs.clear();
    }
    _pLock.reset();
}

template <typename Op>
auto CLogManager::WithLog(std::string name, Op op) -> decltype(op(std::declval<CLogFile&>()))
{
    ReadHold hold(*_pLock);
    auto it = _mapLogs.find(LogName(std::move(name)));
    if (it == _mapLogs.end())
        return {};
    return op(*it->second);
}

int CLogManager::OpenLog(std::string path, uint32_t maxSize, std::string name)
{
    WriteHold hold(*_pLock);
    auto [it, added] = _mapLogs.try_emplace(LogName(std::move(name)));
    if (!added)
        return 1;
    it->second = std::make_unique<CLogFile>();
    return it->second->Open(path, maxSize);
}

int CLogManager::CloseLog(std::string name)
{
    WriteHold hold(*_pLock);
    auto it = _mapLogs.find(LogName(std::move(name)));
    if (it == _mapLogs.end())
        return 0;
    int result = it->second->Close();
    _mapLogs.erase(it);
    return result;
}

int CLogManager::Reset(std::string name)
{
    return WithLog(std::move(name), [](CLogFile& log) { return log.Reset(); });
}

bool CLogManager::IsOpen(std::string name)
{
    return WithLog(std::move(name), [](CLogFile& log) { return log.IsOpen(); });
}

int CLogManager::LogTo(const std::string& name, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = WithLog(name, [&](CLogFile& log) { return log.LogV(format, args); });
    va_end(args);
    return result;
}

int CLogManager::NewLine(std::string name)
{
    return WithLog(std::move(name), [](CLogFile& log) { return log.NewLine(); });
}

int CLogManager::Write(const char* text, std::string name)
{
    return WithLog(std::move(name), [&](CLogFile& log) { return log.Write(text); });
}

int CLogManager::Open(const std::string& path, uint32_t maxSize)
{
    return OpenLog(path, maxSize, kDefaultName);
}

int CLogManager::Close()
{
    return CloseLog(kDefaultName);
}

int CLogManager::Reset()
{
    return Reset(kDefaultName);
}

bool CLogManager::IsOpen()
{
    return IsOpen(kDefaultName);
}

int CLogManager::Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = WithLog(kDefaultName, [&](CLogFile& log) { return log.LogV(format, args); });
    va_end(args);
    return result;
}

int CLogManager::NewLine()
{
    return NewLine(kDefaultName);
}

int CLogManager::Write(const char* text)
{
    return Write(text, kDefaultName);
}
