#pragma once

#include <memory>
#include <string>

#include "reading/framework/CDataReader.h"
#include "reading/framework/FileTypes.h"

// A data reader for one kind of the source's media, opened and ready: the reader class is chosen by the
// FileType (Unknown_File: detected from the source) and the DataKind. Null when the type is unknown or
// unsupported, the kind is not served, or the reader does not open. A server clip over FTP is returned unopened
// (the caller attaches its source and initialises it).
std::unique_ptr<CDataReader> CreateDataReader(const char* source, FileType type, DataKind kind,
                                              const std::string& logName = std::string());
