#pragma once

#include <filesystem>
#include <string>

namespace platform
{

// Folders the platform layer keeps its state in; each one comes from an environment variable
// so that tests and installations can place it, and is created on first use.
std::filesystem::path RegistryRoot();  // KORVO_REGISTRY_ROOT
std::filesystem::path DriveRoot();     // KORVO_DRIVE_ROOT
std::filesystem::path RuntimeDir();    // KORVO_RUNTIME_DIR
std::filesystem::path LibraryDir();    // KORVO_LIBRARY_DIR

// Maps a Windows-style path to a local one:
//   "C:\KorvoLogs\a.log"     -> <drive root>/C/KorvoLogs/a.log   (drive letter upper-cased)
//   "\\srv\share\dir\a.mxf"  -> <drive root>/UNC/srv/share/dir/a.mxf
//   "/already/local"          -> unchanged
// Backslashes become slashes here and nowhere else; relative paths keep their form with slashes.
std::string ToLocalPath(const std::string& windowsPath);

// The process id, as the Windows process id is used (identifiers, log lines).
uint32_t ProcessId();

// The base name of the running program without folder or extension ("Valdrin").
std::string ProgramName();

}  // namespace platform
