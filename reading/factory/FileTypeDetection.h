#pragma once

#include <cstdint>
#include <string>

#include "reading/framework/FileTypes.h"
#include "reading/source/CSourceReader.h"

// The FileType of a source name: a server clip ("Rix:\\..."), a server clip over FTP (a last path part of six
// digits and a camera letter A to H), or a file (local, UNC, "ftp://" or a link file) detected by its content.
// When videoType is given it receives the VideoType found (it is left alone for a server clip over FTP).
FileType GetFileTypeFromSource(const char* source, int32_t* videoType, const std::string& logName = std::string());

// Classifies an opened source at position 0 by its first 64 KiB and, for a few formats, by opening a reader on
// it. videoType, when given, is set to 0 first and then to the VideoType found. The source stays the caller's
// and is left at position 0. Unknown_File when nothing is recognised.
FileType DetectFileType(CSourceReader* source, int32_t* videoType, const std::string& logName = std::string());
