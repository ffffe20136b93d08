#pragma once

#include <cstdint>
#include <string>

#include "platform/File.h"

// Small helpers around files: 64-bit positions and sizes, path splitting and sector sizes.
// Each returns 0 on success and a small code otherwise.

// Moves the file pointer to the absolute position; 1 when that fails.
uint32_t SeekFile(platform::File& file, uint64_t position);
// The open file's size; 1 when it cannot be had.
uint32_t GetFileSize64(platform::File& file, uint64_t* size);
// Sets the end of the file at the size and the pointer back to 0. 1: the pointer cannot be moved;
// 2: the end cannot be set.
uint32_t SetFileSize(platform::File& file, uint64_t size);
// The size of the named file without opening it; 1 when it cannot be read.
uint32_t GetFileSizeByName(const std::string& path, uint64_t* size);
// Opens the existing file for writing and sets its size: 0, 1, 2 as SetFileSize, 3 when it cannot be opened.
uint32_t SetFileSizeByName(const std::string& path, uint64_t size);

// Splits a path into root, directory, name and extension; every output given is cleared first.
//   "C:\dir\a.mxf"            -> "C:", "\dir\", "a", ".mxf"
//   "\\srv\media\clips\a.mxf" -> "\\srv\media", "\clips\", "a", ".mxf"
//   "/media/clips/a.mxf"      -> "/", "media/clips/", "a", ".mxf"   (a local absolute path)
// A relative path, one that starts with a single backslash, a UNC path with nothing after its share
// name, and a path shorter than 2 characters give empty outputs.
void SplitPath(const std::string& path, std::string* root, std::string* directory, std::string* name,
               std::string* extension);

// The bytes per sector of the volume that holds the path. 1: no full path can be formed; 2: the path
// has no root; 3: the volume cannot be asked. "\\.\nul" has 512.
uint32_t GetSectorSize(const std::string& path, uint32_t* bytesPerSector);
