#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writers/formatdata/CKorvoFormatDataWriter.h"

// The factory of the format data writers: it stands apart from the writers it chooses between, so that the
// base class knows none of its subclasses.

// The module-wide default of the asynchronous flag that CreateDataWriter uses (false unless set).
void SetDefaultAsynchronousWriting(bool on);
bool GetDefaultAsynchronousWriting();

// Splits C:\a\*D:\b\clip.mxf into C:\a\clip.mxf and D:\b\clip.mxf.
void SplitWriterPaths(const std::string& path, std::vector<std::string>* paths);
// The writer for the path, opened: one for several targets when the folder part holds '*'; null when no target
// can be opened.
CKorvoFormatDataWriter* CreateDataWriter(const char* path, uint32_t bufferSize);
CKorvoFormatDataWriter* CreateDataWriterEx(const char* path, bool asynchronous, uint32_t minTransfer,
                                           uint32_t maxTransfer);
// One writer of the class the path's prefix names, opened; null when it cannot be opened.
CKorvoFormatDataWriter* CreateFormatDataWriter(const char* path, bool asynchronous, uint32_t minTransfer,
                                               uint32_t maxTransfer);
