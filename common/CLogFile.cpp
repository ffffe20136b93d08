#include "common/CLogFile.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace
{

constexpr const char* kCommonKey = "SOFTWARE\\Brennhall\\Common";
constexpr const char* kOstrelKey = "SOFTWARE\\Brennhall\\Ostrel";
constexpr const char* kFallbackFolder = "C:\\";
constexpr uint32_t kDefaultMaxLogMb = 4;
// The cap is 32 bits wide: anything above 4095 MB is held at that.
constexpr uint64_t kLargestMaxLogMb = 4095;

constexpr size_t kLineSize = 1024;
constexpr size_t kStampLength = 24;
constexpr const char* kStars = "*******************************************\r\n";
constexpr const char* kRenameFailed = "(CLogFile) [reset/rename failed]\r\n";

std::atomic<uint32_t> g_nRollOverCheckMs{1000};

// Holds a named mutex for one scope.
class MutexHold
{
public:
    explicit MutexHold(platform::NamedMutex& mutex) : _mutex(mutex), _bOwned(mutex.Lock() == platform::kWaitObject0) {}
    ~MutexHold()
    {
        if (_bOwned)
            _mutex.Unlock();
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    bool Owned() const { return _bOwned; }

private:
    platform::NamedMutex& _mutex;
    bool _bOwned;
};

bool IsWindowsAbsolute(const std::string& path)
{
    bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                 (path[2] == '\\' || path[2] == '/');
    return drive || path.starts_with("\\\\");
}

std::string FullPath(const std::string& path)
{
    if (path.empty() || IsWindowsAbsolute(path) || path.front() == '/')
        return path;
    std::error_code ec;
    auto full = std::filesystem::absolute(path, ec);
    return ec ? std::string() : full.lexically_normal().string();
}

// "D:\logs\Recv.log" -> "Recv"
std::string BaseNameWithoutExtension(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    return dot == std::string::npos ? base : base.substr(0, dot);
}

}  // namespace

std::string GetLogFilePath(const std::string& subFolder, const std::string& fileName)
{
    using platform::RegHive;
    if (!platform::Registry::KeyExists(RegHive::LocalMachine, kCommonKey))
        return kFallbackFolder + fileName;
    auto logsPath = platform::Registry::GetString(RegHive::LocalMachine, kCommonKey, "Logs Path");
    if (!logsPath)
        return kFallbackFolder + fileName;
    // The stored folder is expected to end with a separator; the sub-folder is appended as it stands.
    std::string folder = *logsPath + subFolder;
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    std::error_code ec;
    std::filesystem::path local = platform::ToLocalPath(folder);
    if (!std::filesystem::is_directory(local, ec)) {
        std::filesystem::create_directories(local, ec);
        if (ec || !std::filesystem::is_directory(local, ec))
            return kFallbackFolder + fileName;
    }
    return folder + "\\" + fileName;
}

uint32_t GetMaxLogSize()
{
    using platform::RegHive;
    constexpr uint32_t kDefault = kDefaultMaxLogMb << 20;
    if (!platform::Registry::KeyExists(RegHive::LocalMachine, kOstrelKey))
        return kDefault;
    auto mb = platform::Registry::GetDword(RegHive::LocalMachine, kOstrelKey, "Max Log Size In Mb");
    if (!mb) {
        platform::Registry::SetDword(RegHive::LocalMachine, kOstrelKey, "Max Log Size In Mb", kDefaultMaxLogMb);
        return kDefault;
    }
    // A zero cap would roll the file over on every write once a second, keeping almost nothing.
    if (*mb == 0)
        return kDefault;
    uint64_t clamped = *mb < kLargestMaxLogMb ? *mb : kLargestMaxLogMb;
    return static_cast<uint32_t>(clamped << 20);
}

void FormatLogStamp(const platform::LocalTime& time, char (&out)[25])
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; };
    std::snprintf(out, sizeof out, "%s %s %02d %02d:%02d:%02d.%03d ", kDays[clamp(time.weekday, 0, 6)],
                  kMonths[clamp(time.month, 1, 12) - 1], clamp(time.day, 1, 31), clamp(time.hour, 0, 23),
                  clamp(time.minute, 0, 59), clamp(time.second, 0, 60), clamp(time.millisecond, 0, 999));
}

CLogFile::CLogFile() = default;

CLogFile::~CLogFile()
{
    if (_hFile.IsOpen() || _pMutex) {
        CLogFile::Log("* LOG FILE CLOSED *");
        Release();
    }
}

void CLogFile::SetRollOverCheckMs(uint32_t milliseconds)
{
    g_nRollOverCheckMs = milliseconds;
}

void CLogFile::Release()
{
    _pMutex.reset();
    _hFile.Close();
}

int CLogFile::Open(const std::string& path, uint32_t maxSize)
{
    Close();
    std::string full = FullPath(path);
    if (full.empty() || full.size() >= sizeof _szFileName)
        return 0;
    std::memcpy(_szFileName, full.c_str(), full.size() + 1);
    _strLocalPath = platform::ToLocalPath(full);
    // The folder of a drive path (C:\ under the drive root) need not exist yet; any other folder must.
    const bool drivePath = full.size() > 2 && std::isalpha(static_cast<unsigned char>(full[0])) && full[1] == ':' &&
                           (full[2] == '\\' || full[2] == '/');
    if (drivePath) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(_strLocalPath).parent_path(), ec);
    }
    if (!_hFile.Open(_strLocalPath, platform::File::Access::ReadWrite, platform::File::Disposition::OpenAlways))
        return 0;
    _pMutex = std::make_unique<platform::NamedMutex>("LogMutex_qdz&@_" + BaseNameWithoutExtension(full));
    _nMaxSize = maxSize;
    if (!_pMutex->IsValid() || !RollOverIfFull()) {
        Release();
        return 0;
    }
    _nLastCheck = platform::TickCount();
    NewLine();
    Write(kStars);
    Log("* LOG FILE OPENED *");
    Write(kStars);
    return 1;
}

int CLogFile::Close()
{
    if (!_hFile.IsOpen() && !_pMutex)
        return 0;
    Log("* LOG FILE CLOSED *");
    Release();
    return 1;
}

// Another process may have rolled the file over since this one last wrote: the handle then points at
// the backup, and the path at a new file. Called under the mutex.
bool CLogFile::FollowRollOver()
{
    if (_hFile.IsSameFileAs(_strLocalPath))
        return true;
    platform::File current;
    if (!current.Open(_strLocalPath, platform::File::Access::ReadWrite, platform::File::Disposition::OpenAlways))
        return false;
    _hFile = std::move(current);
    return true;
}

// Several processes may open a full file at once: the size is read under the mutex, after following
// a roll-over another one made, so only the first rolls it over and the backup keeps the old lines.
bool CLogFile::RollOverIfFull()
{
    MutexHold hold(*_pMutex);
    if (!hold.Owned() || !FollowRollOver())
        return false;
    auto size = _hFile.Size();
    return size && (*size <= _nMaxSize || CLogFile::Reset());
}

int CLogFile::Reset()
{
    if (!_pMutex)
        return 0;
    MutexHold hold(*_pMutex);
    if (!hold.Owned() || !_hFile.IsOpen() || !FollowRollOver())
        return 0;
    auto size = _hFile.Size();
    if (!size)
        return 0;
    _hFile.Close();
    std::string backup = _strLocalPath;
    backup.back() = '~';
    std::error_code ec;
    std::filesystem::rename(_strLocalPath, backup, ec);
    if (!ec)
        return _hFile.Open(_strLocalPath, platform::File::Access::ReadWrite, platform::File::Disposition::CreateAlways)
                   ? 1
                   : 0;
    // The old file stays in use, but only up to a quarter beyond the cap.
    if (*size > uint64_t{_nMaxSize} + _nMaxSize / 4)
        return 0;
    if (!_hFile.Open(_strLocalPath, platform::File::Access::ReadWrite, platform::File::Disposition::OpenAlways))
        return 0;
    auto end = _hFile.Size();
    size_t len = std::strlen(kRenameFailed);
    return end && _hFile.WriteAt(kRenameFailed, len, *end) == static_cast<int64_t>(len) ? 1 : 0;
}

bool CLogFile::IsOpen()
{
    if (!_pMutex)
        return false;
    MutexHold hold(*_pMutex);
    return _hFile.IsOpen();
}

int CLogFile::Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = LogV(format, args);
    va_end(args);
    return result;
}

int CLogFile::LogV(const char* format, va_list args)
{
    char line[kLineSize];
    char stamp[kStampLength + 1];
    FormatLogStamp(platform::LocalNow(), stamp);
    std::memcpy(line, stamp, sizeof stamp);
    // The message gets the rest of the line less CR LF, so a long one is cut and CR LF still fits.
    if (std::vsnprintf(line + kStampLength, kLineSize - kStampLength - 2, format, args) < 0)
        line[kStampLength] = '\0';
    size_t len = std::strlen(line);
    std::memcpy(line + len, "\r\n", 3);
    return Write(line);
}

int CLogFile::NewLine()
{
    return Write("\r\n");
}

int CLogFile::Write(const char* text)
{
    if (!_pMutex)
        return 0;
    MutexHold hold(*_pMutex);
    if (!hold.Owned() || !_bEnabled)
        return 0;
    size_t len = std::strlen(text);
    if (_bEcho)
        std::fwrite(text, 1, len, stdout);
    if (!_hFile.IsOpen() || !FollowRollOver())
        return 0;
    auto size = _hFile.Size();
    if (!size)
        return 0;
    if (len > _nMaxSize || *size > _nMaxSize - len) {
        // Roll over at most once per check interval; in between the file may pass its cap.
        uint32_t now = platform::TickCount();
        if (now - _nLastCheck >= g_nRollOverCheckMs.load()) {
            _nLastCheck = now;
            if (!Reset())
                return 0;
            size = _hFile.Size();
            if (!size)
                return 0;
        }
    }
    return _hFile.WriteAt(text, len, *size) == static_cast<int64_t>(len) ? 1 : 0;
}

const char* CLogFile::GetFileName()
{
    return _szFileName;
}
