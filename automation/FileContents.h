#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "automation/QlaStatus.h"

namespace MirelQla
{

// The whole contents of a request file: -199 without a file name argument, -198 when the file cannot be
// opened or read to its end (a short read is a failure, never a shorter request), 0 otherwise.
StatusCode ReadFileContents(const std::string& fileName, std::vector<char>& contents);

// The whole file read in pieces of 256 KB; false when it cannot be opened or any read falls short.
bool ReadWholeFile(const std::string& fileName, std::vector<char>& contents);

// The machine's TCP/IP host name: the registry's "Hostname" value of the TCP/IP parameters, or the
// system's host name when the registry has none, so that no request goes out without a host.
// -199 when the buffer is missing or not positive in size; the name is cut to fit and terminated.
StatusCode GetLocalHostName(char* buffer, int size);

}  // namespace MirelQla
