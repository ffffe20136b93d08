#pragma once

// The automation library's stand-ins as tests meet them: each is placed in the test's library folder
// under the name the system loads, held open by the test (so its journal outlives the system's own
// handle), and steered through its control entry.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/TestEnv.h"

namespace automationtest
{

using ControlFn = int (*)(const char* key, const char* value, char* reply, int replySize);

class StandIn
{
public:
    // builtPath: the built library; loadName: the file name the system looks for ("libPlumet.so"), placed in
    // the test's library folder or another folder of the test root. A library stays loaded under its path
    // once the process has loaded it, so a stand-in in place of another goes in a folder of its own.
    StandIn(const std::string& builtPath, const std::string& loadName, const char* controlEntry,
            const std::string& folder = "lib")
    {
        _path = testsupport::TestRoot() / folder / loadName;
        std::error_code ec;
        std::filesystem::create_directories(_path.parent_path(), ec);
        std::filesystem::remove(_path, ec);
        std::filesystem::create_symlink(builtPath, _path);
        _handle = dlopen(_path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(_handle, nullptr) << dlerror();
        _control = _handle ? reinterpret_cast<ControlFn>(dlsym(_handle, controlEntry)) : nullptr;
        EXPECT_NE(_control, nullptr);
        Set("reset");
    }
    ~StandIn()
    {
        Set("reset");
        if (_handle)
            dlclose(_handle);
        std::error_code ec;
        std::filesystem::remove(_path, ec);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    void Set(const std::string& key, const std::string& value = "")
    {
        if (_control)
            _control(key.c_str(), value.c_str(), nullptr, 0);
    }
    std::string Journal() const
    {
        if (!_control)
            return "";
        int size = _control("journal", nullptr, nullptr, 0);
        std::string text(static_cast<size_t>(size), '\0');
        _control("journal", nullptr, text.data(), size);
        text.resize(static_cast<size_t>(size) - 1);
        return text;
    }
    void* Symbol(const char* name) const { return _handle ? dlsym(_handle, name) : nullptr; }

private:
    std::filesystem::path _path;
    void* _handle = nullptr;
    ControlFn _control = nullptr;
};

// Points the system's library folder at another folder of the test root while it lives.
class ScopedLibraryFolder
{
public:
    explicit ScopedLibraryFolder(const std::string& folder)
    {
        setenv("KORVO_LIBRARY_DIR", (testsupport::TestRoot() / folder).c_str(), 1);
    }
    ~ScopedLibraryFolder() { setenv("KORVO_LIBRARY_DIR", (testsupport::TestRoot() / "lib").c_str(), 1); }
    ScopedLibraryFolder(const ScopedLibraryFolder&) = delete;
    ScopedLibraryFolder& operator=(const ScopedLibraryFolder&) = delete;
};

inline std::unique_ptr<StandIn> ClientLibrary()
{
    return std::make_unique<StandIn>(KORVO_TESSANAPI_LIBRARY, "libtessanapiVC7.so", "TessanApiControl");
}

inline std::unique_ptr<StandIn> SetupLibrary()
{
    return std::make_unique<StandIn>(KORVO_INGESTSETUP_LIBRARY, "libIngestSetupVC7.so", "IngestSetupControl");
}

inline std::unique_ptr<StandIn> PlumetLibrary()
{
    return std::make_unique<StandIn>(KORVO_PLUMET_LIBRARY, "libPlumet.so", "PlumetControl");
}

}  // namespace automationtest
