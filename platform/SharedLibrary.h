#pragma once

#include <string>

namespace platform
{

// A library loaded at run time. A bare name ("Plumet") is looked up as lib<name>.so in LibraryDir();
// a name with a slash is used as it stands. Closed when the object goes.
class SharedLibrary
{
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;

    bool Open(const std::string& name);
    void Close();
    bool IsOpen() const { return _handle != nullptr; }
    void* Symbol(const std::string& name) const;
    // The loader's message of the last failure.
    const std::string& LastError() const { return _error; }

    static std::string ResolveName(const std::string& name);

private:
    void* _handle = nullptr;
    std::string _error;
};

}  // namespace platform
