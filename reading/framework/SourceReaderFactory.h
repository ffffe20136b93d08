#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "reading/source/CSourceReader.h"

// An opened source for the name: an FTP reader for "ftp:" names, a local file reader otherwise; null when it
// cannot be made or opened.
std::unique_ptr<CSourceReader> CreateSourceReader(const char* name, uint32_t low, uint32_t high,
                                                  const std::string& logName);
