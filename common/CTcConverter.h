#pragma once

#include <cstdint>

// A broken-down timecode; field 0 is the first field of the frame, 1 the second.
struct TcTimeFields {
    uint16_t nDays = 0;
    uint8_t nHours = 0;
    uint8_t nMinutes = 0;
    uint8_t nSeconds = 0;
    uint8_t nFrames = 0;
    uint8_t nField = 0;
};

// Converts between field numbers of the day, broken-down timecodes and the servers' 32-bit BCD timecode words
// at 25 frames, 30 frames or 29.97 frames drop-frame.
class CTcConverter
{
public:
    // Flag set of a BCD word, mapped to word bits by mode.
    static constexpr uint32_t kFlagDropFrame = 1;
    static constexpr uint32_t kFlagColourFrame = 2;
    static constexpr uint32_t kFlagField = 4;
    static constexpr uint32_t kInvalidField = 0xFFFFFFFF;
    // Marks a field number taken from a 30-frame word without the drop-frame bit.
    static constexpr uint32_t kNonDropMark = 0x80000000;

    void SetMode(bool thirtyFrames, bool dropFrame);
    // System code 0 = 25 frames, 1 = 30 frames, 2 = 29.97 drop-frame.
    void SetMode(uint32_t systemCode);

    // Gives kInvalidField when the timecode lies beyond what 32 bits count.
    uint32_t TcToField(const TcTimeFields& tc) const;
    void FieldToTc(TcTimeFields& tc, uint32_t field) const;

    uint32_t BcdTcToField(uint32_t word, bool useFieldBit) const;
    uint32_t GetBcdTcFlags(uint32_t word) const;
    uint32_t FieldToBcdTc(uint32_t field) const;
    uint32_t FieldToBcdTcWithFlags(uint32_t field, uint32_t flags) const;

private:
    bool _b30Frames = false;
    bool _bDropFrame = false;
};
