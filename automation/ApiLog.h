#pragma once

#include <cstdarg>
#include <ctime>
#include <mutex>
#include <string>

namespace MirelQla
{

// The library's own diagnostic log: each line opens the file, appends and closes it again.
// Windows paths go through the drive mapping; a line whose file cannot be opened is dropped.
class ApiLog
{
public:
    ApiLog();

    static ApiLog& Instance();

    void SetLevel(int level);
    int Level() const;
    void SetFileName(const std::string& name);
    std::string FileName() const;
    // name + "_" + the UTC date as MMDDYYYY + ".log"
    void AppendDate();
    void Write(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
    mutable std::mutex _mutex;
    int _nLevel = 1;
    std::string _strFileName = ".\\Log.log";
    std::time_t _tCreated;
};

}  // namespace MirelQla
