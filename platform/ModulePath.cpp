#include "platform/ModulePath.h"

#include <dlfcn.h>

namespace platform
{

std::filesystem::path ModuleFileOf(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    std::error_code ec;
    std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::filesystem::path(info.dli_fname) : file;
}

}  // namespace platform
