#pragma once

#include <cstddef>
#include <cstdint>

// Sizes, fixed places and codes of the video servers' media blocks, shared by the block builder, the block
// writer and the block readers.

constexpr uint32_t kBlockSize2MB = 0x200000;
constexpr uint32_t kBlockSize8MB = 0x800000;

// The 2kTable block: a 2 MB block whose last 2048 bytes describe it.
constexpr uint32_t k2kTableOffset = 0x1FF800;
constexpr uint32_t k2kTableSize = 2048;
constexpr uint32_t k2kEntryOffset = 24;
constexpr uint32_t k2kEntrySize = 20;
constexpr uint32_t k2kMaxEntries = 101;       // without timecode records
constexpr uint32_t k2kMaxEntriesWithTc = 41;  // with timecode records
constexpr uint32_t k2kTcRecordOffset = 844;   // k2kEntryOffset + 41 entries
constexpr uint32_t k2kTcRecordSize = 28;
constexpr uint32_t k2kPictureAlign = 128;      // entry offsets count in these units
constexpr uint32_t k2kLargePicture = 0x7FFE0;  // above this the size unit is 64 bytes
constexpr uint8_t k2kFlagLargeSize = 0x20;

// The BAVD block.
constexpr uint32_t kBavdHeaderAreaSize = 0x8000;
constexpr uint32_t kBavdMaxElements = 200;
constexpr uint16_t kBavdVersion257 = 257;
constexpr uint16_t kBavdVersion258 = 258;

// Formats that store each picture as two field elements.
bool IsTwoFieldVideoFormat(uint32_t videoFormat);
// Video standards 3 (720 lines) and 4 (1080 lines).
bool IsHDStandard(uint32_t videoStandard);
// Fields in a day for rate class 3 (25 Hz), 4 (29.97 drop-frame) or 5 (30 Hz); 0 for any other class.
uint32_t GetFieldsPerDay(uint32_t rateClass);
// Audio bytes stored per field element and 4-channel audio group.
uint32_t GetAudioUnit(uint32_t rateSystem);
// Video format of a 2kTable codec nibble; 0 when the nibble does not fit the standard.
uint32_t VideoFormatFromCodecNibble(uint32_t nibble, bool hd);

// Reverses the bytes of each whole 32-bit word (a trailing partial word is left as it is).
void ByteSwap32Buffer(void* buffer, size_t bytes);
// Copies whole 32-bit words with their bytes reversed.
void ByteSwap32Copy(const void* source, void* destination, size_t bytes);

void WriteBigEndian32(void* destination, uint32_t value);
void WriteBigEndian16(void* destination, uint16_t value);
void WriteLittleEndian32(void* destination, uint32_t value);
uint32_t ReadLittleEndian32(const void* source);
