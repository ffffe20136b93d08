#include "platform/Paths.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace platform
{

namespace
{

std::filesystem::path StateHome()
{
    if (const char* xdg = getenv("XDG_STATE_HOME"); xdg && *xdg)
        return xdg;
    if (const char* home = getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local/state";
    return "/var/tmp";
}

std::filesystem::path FromEnv(const char* name, const std::filesystem::path& fallback)
{
    std::filesystem::path p = fallback;
    if (const char* v = getenv(name); v && *v)
        p = v;
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
    return p;
}

}  // namespace

std::filesystem::path RegistryRoot()
{
    return FromEnv("KORVO_REGISTRY_ROOT", StateHome() / "korvo/registry");
}

std::filesystem::path DriveRoot()
{
    return FromEnv("KORVO_DRIVE_ROOT", StateHome() / "korvo/drives");
}

std::filesystem::path RuntimeDir()
{
    std::filesystem::path fallback;
    if (const char* xdg = getenv("XDG_RUNTIME_DIR"); xdg && *xdg)
        fallback = std::filesystem::path(xdg) / "korvo";
    else
        fallback = "/tmp/korvo-" + std::to_string(getuid());
    return FromEnv("KORVO_RUNTIME_DIR", fallback);
}

std::filesystem::path LibraryDir()
{
    if (const char* v = getenv("KORVO_LIBRARY_DIR"); v && *v)
        return v;
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

std::string ToLocalPath(const std::string& windowsPath)
{
    std::string p = windowsPath;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        std::string rest = p.substr(2);
        while (!rest.empty() && rest.front() == '/')
            rest.erase(rest.begin());
        std::string drive(1, static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))));
        return rest.empty() ? (DriveRoot() / drive).string() : (DriveRoot() / drive / rest).string();
    }
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/' && windowsPath[0] == '\\')
        return (DriveRoot() / "UNC" / p.substr(2)).string();
    return p;
}

uint32_t ProcessId()
{
    return static_cast<uint32_t>(getpid());
}

std::string ProgramName()
{
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

}  // namespace platform
