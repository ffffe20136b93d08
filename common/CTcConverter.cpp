#include "common/CTcConverter.h"

namespace
{

struct FlagBits {
    uint32_t nFlag;
    uint32_t nBit25;  // word bit at 25 frames
    uint32_t nBit30;  // word bit at 30 frames
};

constexpr FlagBits kFlagBits[] = {
    {CTcConverter::kFlagDropFrame, 6, 6},
    {CTcConverter::kFlagColourFrame, 7, 7},
    {CTcConverter::kFlagField, 31, 15},
    {8, 15, 23},
    {16, 23, 31},
    {32, 30, 30},
};

constexpr uint32_t kDigitMask = 0x3f7f7f3f;
constexpr uint32_t kDropBit = 1u << 6;
constexpr uint32_t kFieldBit25 = 1u << 31;
constexpr uint32_t kFieldBit30 = 1u << 15;

uint32_t Bcd(uint32_t value)
{
    return (value / 10) << 4 | (value % 10);
}

uint32_t FromBcd(uint32_t digits)
{
    return (digits >> 4) * 10 + (digits & 0xF);
}

uint32_t FieldOf(const TcTimeFields& tc, bool thirtyFrames, bool dropFrame)
{
    const uint64_t h = uint64_t{tc.nDays} * 24 + tc.nHours;
    const uint64_t t = (h * 60 + tc.nMinutes) * 60 + tc.nSeconds;
    uint64_t frame;
    if (!thirtyFrames)
        frame = t * 25 + tc.nFrames;
    else if (!dropFrame)
        frame = t * 30 + tc.nFrames;
    else
        frame = h * 107892 + uint64_t{tc.nMinutes} * 1798 + uint64_t{tc.nMinutes} / 10u * 2 +
                uint64_t{tc.nSeconds} * 30 + tc.nFrames;
    const uint64_t field = frame * 2 + tc.nField;
    return field >= CTcConverter::kInvalidField ? CTcConverter::kInvalidField : static_cast<uint32_t>(field);
}

}  // namespace

void CTcConverter::SetMode(bool thirtyFrames, bool dropFrame)
{
    _b30Frames = thirtyFrames;
    _bDropFrame = dropFrame;
}

void CTcConverter::SetMode(uint32_t systemCode)
{
    SetMode(systemCode != 0, systemCode == 2);
}

uint32_t CTcConverter::TcToField(const TcTimeFields& tc) const
{
    return FieldOf(tc, _b30Frames, _bDropFrame);
}

void CTcConverter::FieldToTc(TcTimeFields& tc, uint32_t field) const
{
    uint32_t rest;
    if (!_b30Frames) {
        tc.nDays = static_cast<uint16_t>(field / 4320000);
        uint32_t r = field % 4320000;
        tc.nHours = static_cast<uint8_t>(r / 180000);
        tc.nMinutes = static_cast<uint8_t>(r % 180000 / 3000);
        tc.nSeconds = static_cast<uint8_t>(r % 3000 / 50);
        rest = r % 50;
    } else {
        const uint32_t perDay = _bDropFrame ? 5178816 : 5184000;
        tc.nDays = static_cast<uint16_t>(field / perDay);
        uint32_t r = field % perDay;
        if (_bDropFrame) {
            // Add back 4 fields for every minute that is not a multiple of ten.
            uint32_t dropped = 0;
            uint32_t previous;
            do {
                previous = dropped;
                const uint32_t labelled = r + 4 * dropped;
                dropped = labelled / 3600 - labelled / 36000;
            } while (dropped != previous);
            r += 4 * dropped;
        }
        tc.nHours = static_cast<uint8_t>(r / 216000);
        r -= tc.nHours * 216000;
        tc.nMinutes = static_cast<uint8_t>(r / 3600);
        r -= tc.nMinutes * 3600;
        tc.nSeconds = static_cast<uint8_t>(r / 60);
        rest = r - tc.nSeconds * 60;
    }
    tc.nFrames = static_cast<uint8_t>(rest / 2);
    tc.nField = static_cast<uint8_t>(rest % 2);
}

uint32_t CTcConverter::BcdTcToField(uint32_t word, bool useFieldBit) const
{
    if ((word >> 24) == 0xFF)
        return kInvalidField;
    const uint32_t digits = word & kDigitMask;
    TcTimeFields tc;
    tc.nHours = static_cast<uint8_t>(FromBcd(digits >> 24));
    tc.nMinutes = static_cast<uint8_t>(FromBcd(digits >> 16 & 0x7F));
    tc.nSeconds = static_cast<uint8_t>(FromBcd(digits >> 8 & 0x7F));
    tc.nFrames = static_cast<uint8_t>(FromBcd(digits & 0x3F));
    if (useFieldBit)
        tc.nField = (word & (_b30Frames ? kFieldBit30 : kFieldBit25)) ? 1 : 0;
    // The word's own drop-frame bit decides, not the converter's flag.
    const bool wordDrop = (word & kDropBit) != 0;
    const uint32_t field = FieldOf(tc, _b30Frames, wordDrop);
    if (_b30Frames && !wordDrop)
        return field | kNonDropMark;
    return field;
}

uint32_t CTcConverter::GetBcdTcFlags(uint32_t word) const
{
    uint32_t flags = 0;
    for (const FlagBits& fb : kFlagBits) {
        if (word & (1u << (_b30Frames ? fb.nBit30 : fb.nBit25)))
            flags |= fb.nFlag;
    }
    return flags;
}

uint32_t CTcConverter::FieldToBcdTc(uint32_t field) const
{
    TcTimeFields tc;
    FieldToTc(tc, field & ~kNonDropMark);
    uint32_t word = Bcd(tc.nHours) << 24 | Bcd(tc.nMinutes) << 16 | Bcd(tc.nSeconds) << 8 | Bcd(tc.nFrames);
    if (tc.nField)
        word |= _b30Frames ? kFieldBit30 : kFieldBit25;
    if (_b30Frames && _bDropFrame)
        word |= kDropBit;
    return word;
}

uint32_t CTcConverter::FieldToBcdTcWithFlags(uint32_t field, uint32_t flags) const
{
    uint32_t word = FieldToBcdTc(field);
    for (const FlagBits& fb : kFlagBits) {
        if (flags & fb.nFlag)
            word |= 1u << (_b30Frames ? fb.nBit30 : fb.nBit25);
    }
    return word;
}
