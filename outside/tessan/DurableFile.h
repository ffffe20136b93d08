#pragma once

#include <string>

namespace tessan
{

// Writes the bytes to the path through a temporary name in the same folder, synced and then renamed into
// place, so that the path never names a partial file; false with the cause in error (no file is left).
bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& error);
// Flushes a written file to its disk; false with the cause in error.
bool SyncFile(const std::string& path, std::string& error);

}  // namespace tessan
