#include "outside/tessan/DurableFile.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/File.h"

namespace tessan
{

bool SyncFile(const std::string& path, std::string& error)
{
    platform::File file;
    if (!file.Open(path, platform::File::Access::Read, platform::File::Disposition::OpenExisting) || !file.Sync()) {
        error = "cannot sync " + path + ": " + platform::ErrorText(file.LastError());
        return false;
    }
    return true;
}

bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& error)
{
    const std::string temporary = path + ".part";
    bool ok = false;
    {
        platform::File file;
        ok = file.Open(temporary, platform::File::Access::Write, platform::File::Disposition::CreateAlways) &&
             file.Write(bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size()) && file.Sync();
        // A short write sets no error: the disk is full.
        if (!ok)
            error = "cannot write " + path + ": " + platform::ErrorText(file.LastError() ? file.LastError() : ENOSPC);
    }
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temporary, path, ec);
        if (ec)
            error = "cannot write " + path + ": " + ec.message();
        ok = !ec;
    }
    if (!ok) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    // The rename itself lasts only once the folder is synced.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!platform::File::SyncFolder(folder.empty() ? "." : folder)) {
        error = "cannot sync the folder of " + path + ": " + platform::ErrorText(errno);
        return false;
    }
    return true;
}

}  // namespace tessan
