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

namespace mxf
{

// Seconds of a position in essence read in fixed units: whole units from the start, as fields at the rate.
double UnitPositionToTime(uint64_t position, uint64_t start, uint32_t unit, uint32_t fieldsPerEditUnit,
                          double fieldRate);

// Sound of one-track files set to a field rate: two fields per edit unit, the edit rate half the field rate
// and the duration in seconds from it.
void SetSoundFieldRate(double fieldRate, int64_t duration, uint32_t* fieldsPerEditUnit, double* editRate,
                       double* durationSeconds);

}  // namespace mxf

namespace mxf
{

// Milliseconds of an edit unit count at a rate, rounded and held to the 32-bit range (0 for no number).
int32_t RoundedMilliseconds(int64_t units, double rate);

}  // namespace mxf
