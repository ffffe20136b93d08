#pragma once

#include <array>
#include <cstdint>
#include <vector>

using MXFLabel = std::array<uint8_t, 16>;

// One entry of an index table segment.
struct CMXFIndexEntry {
    int8_t nTemporalOffset = 0;
    int8_t nKeyFrameOffset = 0;
    uint8_t nFlags = 0;
    uint64_t nStreamOffset = 0;
    std::vector<uint32_t> sliceOffsets;
};

struct CMXFDeltaEntry {
    uint8_t nSlice = 0;
    uint32_t nElementDelta = 0;
};

// One partition of an MXF file as far as the readers need it: its pack, where its parts lie and the index
// segment read last from it. Positions are file positions (the run-in included).
struct CMXFPartition {
    MXFLabel key{};  // byte 14 is the status
    uint64_t nPackLength = 0;
    uint32_t nKagSize = 0;
    uint64_t nPosition = 0;  // where the pack was found
    uint64_t nThis = 0;
    uint64_t nPrevious = 0;
    uint64_t nFooter = 0;  // 0 when the pack names none
    uint64_t nEnd = 0;     // start of the next partition, or the file size
    uint64_t nHeaderByteCount = 0;
    uint64_t nIndexByteCount = 0;
    uint64_t nHeaderStart = 0;  // after the pack and its fill
    uint16_t nOpPattern = 0;    // bytes 12 and 13 of the operational pattern, byte 12 low
    uint32_t nBodySID = 0;
    std::vector<MXFLabel> labels;  // essence containers, last first

    uint32_t nEditUnitByteCount = 0;
    uint8_t nSliceCount = 0;
    uint64_t nIndexStart = 0;
    uint64_t nIndexDuration = 0;
    std::vector<CMXFDeltaEntry> deltas;
    std::vector<CMXFIndexEntry> entries;

    bool IsClosed() const { return key[14] == 2 || key[14] == 4; }
    // The first byte after the header metadata and the index.
    uint64_t EssenceStart() const { return nHeaderStart + nHeaderByteCount + nIndexByteCount; }
    // Reads one index table segment's value into the index data, replacing what was there.
    void ParseIndexSegment(const uint8_t* value, uint64_t length);
};
