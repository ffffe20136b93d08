#pragma once

// The roads each codec family takes, in the order they run; each road's state is its codec's.
#include <filesystem>
#include <string>

#include "tools/mainjob/Codecs.h"
#include "tools/mainjob/Road.h"

namespace mainjob
{

struct CodecState {
    Media& media;
    Source source;
    int encoded = -1;                // ffmpeg's exit code for the source stream
    std::filesystem::path ingested;  // the media folder of the whole file ingest, which the playouts play
};

void SourceRoad(Road& road, CodecState& state);
void IngestFileRoad(Road& road, CodecState& state);
void IngestTrimmedRoad(Road& road, CodecState& state);
void IngestTcpRoad(Road& road, CodecState& state);
void IngestServerRoad(Road& road, CodecState& state);
void IngestServerWholeRoad(Road& road, CodecState& state);
void IngestServerTrimmedDravikRoad(Road& road, CodecState& state);
void PlayoutFileRoad(Road& road, CodecState& state);
void PlayoutServersRoad(Road& road, CodecState& state);
void PlayoutMediaFileRoad(Road& road, CodecState& state);
void CancelledPlayoutRoad(Road& road, CodecState& state);
void KilledServerIngestRoad(Road& road, CodecState& state);

// Hands a job to the transfer service through libDravik.so (its client library running tessan with libRecalo.so,
// the media into the folder); true when the transaction completed with the frames expected.
bool DravikIngest(Road& road, const Media& media, const std::string& job, const std::filesystem::path& out,
                  uint32_t frames);

}  // namespace mainjob
