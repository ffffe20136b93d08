#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "outside/plumet/interface/PlumetMainObject.h"
#include "platform/NamedMutex.h"
#include "platform/SharedLibrary.h"

namespace MirelQla
{

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;

// The module-wide binding of the shared-file service library, made on first use.
class PlumetConnection
{
public:
    PlumetConnection();
    ~PlumetConnection();

    // The connection of the module, made on first use.
    static PlumetConnection& Instance();
    // Forgets the module's connection, so that the next use loads the library again (tests).
    static void Reset();

    PlumetMainObject* MainObject() const { return _pMain; }
    int FirstVersion() const { return _nFirstVersion; }
    int SecondVersion() const { return _nSecondVersion; }
    bool HasMutex() const { return _pListMutex != nullptr; }

    // The translation of a network path whose server is one of the service's entries (last entry first).
    std::optional<std::string> TranslateForEntry(const std::string& path);
    // The service's translation of any path.
    std::optional<std::string> Translate(const std::string& path);

private:
    platform::SharedLibrary _library;
    PlumetMainObject* _pMain = nullptr;
    int _nFirstVersion = 0;
    int _nSecondVersion = 0;
    std::unique_ptr<platform::NamedMutex> _pListMutex;
};

// The attribute word of a file: through the service when it knows the path, else from the file system
// (kInvalidFileAttributes when the file does not exist).
uint32_t FileAttributes(const std::string& path);
bool FileExists(const std::string& path);
// The main object of the service; none when the library is absent.
PlumetMainObject* PlumetMainObjectOf();

}  // namespace MirelQla
