#include "automation/FileContents.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Socket.h"

namespace MirelQla
{

namespace
{
constexpr size_t kPiece = 0x40000;
const char kTcpipKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file and gives its size; the size must fit a request's 32-bit size field.
FilePtr OpenSized(const std::string& fileName, size_t& size)
{
    FilePtr file(std::fopen(platform::ToLocalPath(fileName).c_str(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return nullptr;
    long end = std::ftell(file.get());
    if (end < 0 || end > std::numeric_limits<int32_t>::max() || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    size = static_cast<size_t>(end);
    return file;
}
}  // namespace

StatusCode ReadFileContents(const std::string& fileName, std::vector<char>& contents)
{
    if (fileName.empty())
        return kQlaErrorUninitializedParameter;
    return ReadWholeFile(fileName, contents) ? kSuccess : kQlaErrorFileNotFound;
}

bool ReadWholeFile(const std::string& fileName, std::vector<char>& contents)
{
    size_t size = 0;
    FilePtr file = OpenSized(fileName, size);
    if (!file)
        return false;
    try {
        contents.assign(size, 0);
    } catch (...) {
        return false;
    }
    for (size_t done = 0; done < size;) {
        size_t piece = std::min(kPiece, size - done);
        if (std::fread(contents.data() + done, 1, piece, file.get()) != piece) {
            contents.clear();
            return false;
        }
        done += piece;
    }
    return true;
}

StatusCode GetLocalHostName(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return kQlaErrorUninitializedParameter;
    std::memset(buffer, 0, static_cast<size_t>(size));
    std::string name =
        platform::Registry::GetString(platform::RegHive::LocalMachine, kTcpipKey, "Hostname").value_or("");
    if (name.empty())
        name = platform::HostName();
    std::strncpy(buffer, name.c_str(), static_cast<size_t>(size) - 1);
    return kSuccess;
}

}  // namespace MirelQla
