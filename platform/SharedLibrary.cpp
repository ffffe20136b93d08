#include "platform/SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "platform/Paths.h"

namespace platform
{

SharedLibrary::~SharedLibrary()
{
    Close();
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : _handle(std::exchange(other._handle, nullptr)), _error(std::move(other._error))
{
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept
{
    if (this != &other) {
        Close();
        _handle = std::exchange(other._handle, nullptr);
        _error = std::move(other._error);
    }
    return *this;
}

std::string SharedLibrary::ResolveName(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    std::string base = name;
    if (base.size() > 4 && (base.ends_with(".dll") || base.ends_with(".DLL")))
        base.resize(base.size() - 4);
    if (!base.ends_with(".so"))
        base = "lib" + base + ".so";
    return (LibraryDir() / base).string();
}

bool SharedLibrary::Open(const std::string& name)
{
    Close();
    std::string path = ResolveName(name);
    _handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!_handle) {
        const char* err = dlerror();
        _error = err ? err : "cannot load " + path;
        return false;
    }
    _error.clear();
    return true;
}

void SharedLibrary::Close()
{
    if (_handle)
        dlclose(_handle);
    _handle = nullptr;
}

void* SharedLibrary::Symbol(const std::string& name) const
{
    return _handle ? dlsym(_handle, name.c_str()) : nullptr;
}

}  // namespace platform
