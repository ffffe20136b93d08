#include "automation/ApiLog.h"

#include <cstdio>

#include "platform/Paths.h"

namespace MirelQla
{

namespace
{
constexpr size_t kFileNameLimit = 256;
}

ApiLog::ApiLog() : _tCreated(std::time(nullptr)) {}

ApiLog& ApiLog::Instance()
{
    static ApiLog log;
    return log;
}

void ApiLog::SetLevel(int level)
{
    std::lock_guard lock(_mutex);
    _nLevel = level;
}

int ApiLog::Level() const
{
    std::lock_guard lock(_mutex);
    return _nLevel;
}

void ApiLog::SetFileName(const std::string& name)
{
    std::lock_guard lock(_mutex);
    _strFileName = name.substr(0, kFileNameLimit - 1);
}

std::string ApiLog::FileName() const
{
    std::lock_guard lock(_mutex);
    return _strFileName;
}

void ApiLog::AppendDate()
{
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[32];
    std::snprintf(date, sizeof date, "%02d%02d%4d", utc.tm_mon + 1, utc.tm_mday, utc.tm_year + 1900);
    std::lock_guard lock(_mutex);
    _strFileName = (_strFileName + "_" + date + ".log").substr(0, kFileNameLimit - 1);
}

void ApiLog::Write(int level, const char* format, ...)
{
    std::lock_guard lock(_mutex);
    if (_nLevel < level)
        return;
    std::FILE* file = std::fopen(platform::ToLocalPath(_strFileName).c_str(), "a+");
    if (!file)
        return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::fprintf(file, "[%02d/%02d/%4d %02d:%02d:%02d %lld] ", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900,
                 local.tm_hour, local.tm_min, local.tm_sec, static_cast<long long>(_tCreated));
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputs("\n", file);
    std::fclose(file);
}

}  // namespace MirelQla
