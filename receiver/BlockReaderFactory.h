#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "receiver/CKorvoBlockReader.h"

// The block reader for a source kind, compared exactly: "TCP", "RixFTP", else a clip file.
std::unique_ptr<CKorvoBlockReader> MakeBlockReader(const std::string& sourceKind, uint32_t blockSize, int32_t instance,
                                                   uint32_t firstServerField);
