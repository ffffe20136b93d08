#include "common/FileUtils.h"

#include <cctype>
#include <filesystem>

#include "common/CLogManager.h"
#include "platform/Paths.h"

uint32_t SeekFile(platform::File& file, uint64_t position)
{
    return file.Seek(position) ? 0 : 1;
}

uint32_t GetFileSize64(platform::File& file, uint64_t* size)
{
    auto s = file.Size();
    if (!s)
        return 1;
    if (size)
        *size = *s;
    return 0;
}

uint32_t SetFileSize(platform::File& file, uint64_t size)
{
    if (!file.Seek(size)) {
        theLogManager.Log("SetFilePointer failed: %s", platform::ErrorText(file.LastError()).c_str());
        return 1;
    }
    if (!file.Truncate(size)) {
        theLogManager.Log("SetEndOfFile failed: %s", platform::ErrorText(file.LastError()).c_str());
        return 2;
    }
    file.Seek(0);
    return 0;
}

uint32_t GetFileSizeByName(const std::string& path, uint64_t* size)
{
    auto s = platform::File::SizeOf(platform::ToLocalPath(path));
    if (!s)
        return 1;
    if (size)
        *size = *s;
    return 0;
}

uint32_t SetFileSizeByName(const std::string& path, uint64_t size)
{
    platform::File file;
    if (!file.Open(platform::ToLocalPath(path), platform::File::Access::Write,
                   platform::File::Disposition::OpenExisting))
        return 3;
    return SetFileSize(file, size);
}

namespace
{

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The standard split of what follows the root: directory up to the last separator, then name and extension.
void SplitRest(const std::string& rest, std::string* directory, std::string* name, std::string* extension)
{
    size_t slash = rest.find_last_of("\\/");
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::string file = rest.substr(nameStart);
    size_t dot = file.rfind('.');
    if (directory)
        *directory = rest.substr(0, nameStart);
    if (name)
        *name = dot == std::string::npos ? file : file.substr(0, dot);
    if (extension)
        *extension = dot == std::string::npos ? std::string() : file.substr(dot);
}

}  // namespace

void SplitPath(const std::string& path, std::string* root, std::string* directory, std::string* name,
               std::string* extension)
{
    for (std::string* out : {root, directory, name, extension})
        if (out)
            out->clear();
    if (path.size() < 2)
        return;
    if (path[1] == ':') {
        if (root)
            *root = path.substr(0, 2);
        SplitRest(path.substr(2), directory, name, extension);
        return;
    }
    if (IsSeparator(path[0]) && IsSeparator(path[1]) && path[0] == '\\') {
        // \\server\share\rest: the root ends before the separator that follows the share name.
        size_t shareSep = path.find_first_of("\\/", 2);
        size_t rootEnd = shareSep == std::string::npos ? std::string::npos : path.find_first_of("\\/", shareSep + 1);
        if (shareSep == std::string::npos || rootEnd == std::string::npos) {
            // No separator after the share name: no root and no directory, name and extension as usual.
            SplitRest(path, nullptr, name, extension);
            return;
        }
        if (root)
            *root = path.substr(0, rootEnd);
        SplitRest(path.substr(rootEnd), directory, name, extension);
        return;
    }
    if (path[0] == '/') {
        if (root)
            *root = "/";
        SplitRest(path.substr(1), directory, name, extension);
    }
}

uint32_t GetSectorSize(const std::string& path, uint32_t* bytesPerSector)
{
    std::string full = path;
    if (full.empty())
        return 1;
    std::string lower;
    for (char c : full)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "\\\\.\\nul") {
        if (bytesPerSector)
            *bytesPerSector = 512;
        return 0;
    }
    bool rooted = (full.size() >= 2 && full[1] == ':') || full.rfind("\\\\", 0) == 0 || full[0] == '/';
    if (!rooted) {
        // A relative path is taken from the current folder.
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(platform::ToLocalPath(full), ec);
        if (ec)
            return 1;
        full = abs.string();
    }
    std::string root;
    SplitPath(full, &root, nullptr, nullptr, nullptr);
    if (root.empty())
        return 2;
    auto size = platform::File::SectorSize(platform::ToLocalPath(full));
    if (!size)
        return 3;
    if (bytesPerSector)
        *bytesPerSector = *size;
    return 0;
}
