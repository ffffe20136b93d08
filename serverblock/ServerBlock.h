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

// Bytes of the 2kTable's head.
constexpr uint32_t k2kTableFirstField = 0;  // 32-bit little-endian
constexpr uint32_t k2kTableEndField = 4;    // 32-bit little-endian: the first field after the block
constexpr uint32_t k2kTableStandard = 8;    // low nibble the rate standard, high nibble the video standard - 1
constexpr uint32_t k2kTableAspect = 9;      // low nibble the aspect code; 0x40 progressive, 0x80 format flag
constexpr uint32_t k2kTableCodec = 10;      // low nibble the video codec, high nibble the audio format
constexpr uint32_t k2kTableVersion = 11;    // 5, or 6 with the link flags
constexpr uint32_t k2kTableLinkFlags = 20;  // version 6: 1 simultaneous, 2 dual link
constexpr uint32_t k2kTableEntryMode = 21;  // 1 two fields per entry, 2 entries with timecode records
constexpr uint32_t k2kTableHeaderByte = 22;
constexpr uint32_t k2kTableChannels = 23;  // bits 0-2 video elements per field, bit 3 two fields, 4-7 audio groups

// Bytes of one 2kTable entry.
constexpr uint32_t k2kEntryPicture = 0;  // 32-bit little-endian, in units of k2kPictureAlign
constexpr uint32_t k2kEntryChannelByte = 4;
constexpr uint32_t k2kEntryWidth = 5;     // bits 0-6 the width in 32 (SD) or 64 (HD) pixels, bit 7 a flag
constexpr uint32_t k2kEntrySizeWord = 6;  // 16-bit big-endian, in 8-byte units (64 with k2kFlagLargeSize)
constexpr uint32_t k2kEntryFieldId = 8;   // 32-bit big-endian
constexpr uint32_t k2kEntryExtra = 12;
constexpr uint32_t k2kEntryFormat = 14;
constexpr uint32_t k2kEntryFlags = 15;

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
