#pragma once

#include <cstdint>

// What the writers learn from a codec's first frame, and how they trim and patch frames for the server.
namespace dorncodec
{

// The bitrate of an IMX frame's first MPEG-2 sequence header, in bits/s; 0 when there is none.
int64_t MeasureImxBitrate(const uint8_t* data, uint32_t length);
// 30, 40 or 50 for an IMX bitrate (in bits/s, kb/s or Mb/s) close to one of them; 0 for any other.
int ImxMegabits(int64_t bitrate);

struct HydrelUnits {
    uint32_t nUnits;
    uint32_t nUnitSize;
    bool bHighQuality;
};
// The unit layout of a VC-3 frame from its compression id (32-bit big-endian at byte 40).
HydrelUnits HydrelUnitsOf(uint32_t compressionId);
uint32_t HydrelCompressionId(const uint8_t* frame, uint32_t length);
// A VC-3 unit's header; its coded data follows.
inline constexpr uint32_t kHydrelHeaderSize = 640;
// Offset of the coded-size field of a unit starting at unit (368 + 4 x byte 365), or 0 when it lies beyond the unit
// or the header (a unit of 68 rows has none).
uint32_t HydrelCodedSizeOffset(const uint8_t* unit, uint32_t unitSize);

// Readies a unit for the server: its coded-size field set to the used length less the 640-byte header, bit 4
// of byte 6 cleared. Returns the used length (up to the last non-zero byte before the unit's last 4 bytes).
uint32_t PrepareHydrelUnit(uint8_t* unit, uint32_t unitSize);

// The length without the trailing zero bytes.
uint32_t TrimmedLength(const uint8_t* data, uint32_t length);

}  // namespace dorncodec
