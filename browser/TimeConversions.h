#pragma once

#include <cstddef>
#include <cstdint>

// A creation time counted in seconds since 1970 on the local wall clock, turned into UTC by the rules of the time
// zone in force (the C library's time-zone database, so both hemispheres and half-hour zones are right). The
// hour offset receives the zone's offset from UTC at that time in whole hours, truncated toward zero.
int64_t LocalTimeToUtc(int64_t localTime, int32_t* hourOffset);

// Decodes hexadecimal text, two characters per byte with the high half first, into at most count bytes. A
// character that is not a hexadecimal digit counts as 0; a last unpaired character gives the high half of one more
// byte. The first output byte is cleared even for an empty text.
void HexTextToBytes(const char* text, uint8_t* bytes, size_t count);
