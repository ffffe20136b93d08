#pragma once

#include <cstdint>

class CDataReader;

// Operations that several unrelated MXF readers share, as plain functions over the public interface.
namespace mxf
{

// Seeks to the even field nearest the time at the field rate; negative and not-a-number times count as 0, and
// the time reached is written back. The result is the reader's GoToFieldOffset's.
int32_t GoToEvenFieldTime(CDataReader& reader, double* seconds, double fieldRate);

// GoToTime at 50 fields per second.
int32_t GoToFieldAt50(CDataReader& reader, int64_t field);

// The picture aspect code of a descriptor's aspect ratio tag: 2 for 4:3, 3 for 16:9, 0 without the tag and
// unchanged (false) for other ratios.
bool AspectCode(const uint8_t* descriptor, uint64_t length, uint8_t* code);

// A non-negative time: negative and not-a-number values give 0.
double NonNegativeSeconds(double seconds);

}  // namespace mxf
