#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "outside/tessan/CIngestJob.h"

namespace tessan
{

// The composition that plays an ingested clip out again from its media folder: one file mob per
// track (its media file and sound width) and a composition mob with the clip's duration, standard,
// start, compressor and playlist. The target attributes ("TGT-...") are the user's to add.
// Empty with a reason on failure.
std::string MakePlayoutComposition(const CIngestJob& job, int32_t frames, const std::string& pictureFile,
                                   const std::map<int32_t, int32_t>& audioBits, std::string& error);

}  // namespace tessan
