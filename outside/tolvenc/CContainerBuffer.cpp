#include "outside/tolvenc/CContainerBuffer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tolvenc
{

namespace
{
constexpr uintmax_t kMaxContainerFile = 64u << 20;
}

CContainerBuffer::CContainerBuffer(const void* data, uint32_t size)
{
    SetData(static_cast<const uint8_t*>(data), size);
}

bool CContainerBuffer::SetData(const uint8_t* data, uint32_t size)
{
    if (!data && size != 0)
        return false;
    _bytes.assign(data, data + size);
    return true;
}

bool CContainerBuffer::WriteToFile(const char* path)
{
    if (!path || !*path)
        return false;
    // Written beside and renamed, so a reader never sees half a container.
    std::string temp = std::string(path) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(_bytes.data()), static_cast<std::streamsize>(_bytes.size()));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool CContainerBuffer::ReadFile(const char* path)
{
    if (!path)
        return false;
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxContainerFile)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    _bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace tolvenc
