#pragma once

#include <cstdint>

// Big-endian fields of the clip files, server blocks and server protocols.

// Writes count bytes of the source to the destination in reverse order; a count of 0 or less copies nothing.
void ReverseByteCopy(const void* source, int32_t count, void* destination);

// The 4 (2) bytes at the source read as a big-endian unsigned number.
void ReadBigEndian32(const void* source, uint32_t* value);
void ReadBigEndian16(const void* source, uint16_t* value);
uint32_t ReadBigEndian32(const void* source);
uint16_t ReadBigEndian16(const void* source);
