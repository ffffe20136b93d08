#include "automation/PlumetConnection.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/Paths.h"

namespace MirelQla
{

namespace
{
constexpr int kTranslationRoom = 1024;
const char kCacheOffCommand[] = "<OpenFileCache=0>";

std::unique_ptr<PlumetConnection>& TheConnection()
{
    static std::unique_ptr<PlumetConnection> connection;
    return connection;
}

// What GetFileAttributes answers for a path of the local file system.
uint32_t LocalFileAttributes(const std::string& path)
{
    std::string local = platform::ToLocalPath(path);
    struct stat st;
    if (local.empty() || stat(local.c_str(), &st) != 0)
        return kInvalidFileAttributes;
    uint32_t attributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : 0;
    if (access(local.c_str(), W_OK) != 0)
        attributes |= kFileAttributeReadOnly;
    return attributes ? attributes : kFileAttributeNormal;
}

// The server of a network path: the text after the two backslashes up to the next one.
std::string ServerOf(const std::string& path)
{
    size_t end = path.find('\\', 2);
    return path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}
}  // namespace

PlumetConnection::PlumetConnection()
{
    if (!_library.Open("Plumet.dll"))
        return;
    auto mainOf = reinterpret_cast<GetSharedLibraryMainObjectFn>(_library.Symbol("GetSharedLibraryMainObject"));
    auto versionOf = reinterpret_cast<GetSharedLibraryVersionFn>(_library.Symbol("GetSharedLibraryVersion"));
    try {
        _pMain = mainOf ? mainOf() : nullptr;
        if (versionOf)
            versionOf(&_nFirstVersion, &_nSecondVersion);
    } catch (...) {
        _pMain = nullptr;
    }
    // Kept for the service's entry list; nothing waits on it yet. Only made when the service is there.
    _pListMutex = std::make_unique<platform::NamedMutex>("ListMutexPlumet");
    if ((_nSecondVersion > 1 || _nFirstVersion > 2) && _pMain) {
        try {
            for (int index = _pMain->EntryCount() - 1; index >= 0; --index) {
                char reply[80] = {};
                _pMain->EntryCommand(index, kCacheOffCommand, static_cast<int>(sizeof kCacheOffCommand - 1), reply,
                                     static_cast<int>(sizeof reply));
            }
        } catch (...) {
        }
    }
}

PlumetConnection::~PlumetConnection() = default;

PlumetConnection& PlumetConnection::Instance()
{
    auto& connection = TheConnection();
    if (!connection)
        connection = std::make_unique<PlumetConnection>();
    return *connection;
}

void PlumetConnection::Reset()
{
    TheConnection().reset();
}

std::optional<std::string> PlumetConnection::Translate(const std::string& path)
{
    if (!_pMain)
        return std::nullopt;
    try {
        std::vector<char> out(kTranslationRoom, 0);
        if (!_pMain->TranslatePath(path.c_str(), out.data(), kTranslationRoom))
            return std::nullopt;
        return std::string(out.data(), strnlen(out.data(), out.size()));
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> PlumetConnection::TranslateForEntry(const std::string& path)
{
    if (!_pMain || path.size() < 2 || path[0] != '\\' || path[1] != '\\')
        return std::nullopt;
    std::string server = ServerOf(path);
    try {
        for (int index = _pMain->EntryCount() - 1; index >= 0; --index) {
            PlumetEntryRecord entry{};
            if (!_pMain->Entry(&entry, index))
                continue;
            std::string name(entry.name, strnlen(entry.name, sizeof entry.name));
            if (strcasecmp(name.c_str(), server.c_str()) == 0)
                return Translate(path);
        }
    } catch (...) {
    }
    return std::nullopt;
}

PlumetMainObject* PlumetMainObjectOf()
{
    return PlumetConnection::Instance().MainObject();
}

uint32_t FileAttributes(const std::string& path)
{
    PlumetMainObject* main = PlumetMainObjectOf();
    if (main) {
        try {
            PlumetFileRecord record{};
            if (main->SelectPath(path.c_str()) && main->FileRecord(&record))
                return record.attributes;
        } catch (...) {
        }
    }
    return LocalFileAttributes(path);
}

bool FileExists(const std::string& path)
{
    return FileAttributes(path) != kInvalidFileAttributes;
}

}  // namespace MirelQla
