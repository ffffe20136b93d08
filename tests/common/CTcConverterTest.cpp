#include <gtest/gtest.h>

#include "common/CTcConverter.h"

namespace
{

struct Mode {
    bool b30Frames;
    bool bDropFrame;
};

constexpr Mode k25{false, false};
constexpr Mode k30{true, false};
constexpr Mode k30Drop{true, true};

CTcConverter Converter(Mode mode)
{
    CTcConverter converter;
    converter.SetMode(mode.b30Frames, mode.bDropFrame);
    return converter;
}

struct FieldCase {
    Mode mode;
    uint32_t nField;
    TcTimeFields tc;
};

const FieldCase kFieldCases[] = {
    {k25, 0, {0, 0, 0, 0, 0, 0}},
    {k25, 2264843, {0, 12, 34, 56, 21, 1}},
    {k25, 4319999, {0, 23, 59, 59, 24, 1}},
    {k25, 4320000, {1, 0, 0, 0, 0, 0}},
    {k30, 216000, {0, 1, 0, 0, 0, 0}},
    {k30, 5183999, {0, 23, 59, 59, 29, 1}},
    {k30, 5184001, {1, 0, 0, 0, 0, 1}},
    {k30Drop, 3598, {0, 0, 0, 59, 29, 0}},
    {k30Drop, 3600, {0, 0, 1, 0, 2, 0}},
    {k30Drop, 3602, {0, 0, 1, 0, 3, 0}},
    {k30Drop, 35963, {0, 0, 9, 59, 29, 1}},
    {k30Drop, 35964, {0, 0, 10, 0, 0, 0}},
    {k30Drop, 215784, {0, 1, 0, 0, 0, 0}},
    {k30Drop, 223165, {0, 1, 2, 3, 4, 1}},
    {k30Drop, 5178815, {0, 23, 59, 59, 29, 1}},
    {k30Drop, 5178816, {1, 0, 0, 0, 0, 0}},
};

TEST(TcConverterTest, FieldsAndTimecodes)
{
    for (const FieldCase& c : kFieldCases) {
        const CTcConverter converter = Converter(c.mode);
        TcTimeFields tc;
        converter.FieldToTc(tc, c.nField);
        EXPECT_EQ(tc.nDays, c.tc.nDays) << c.nField;
        EXPECT_EQ(tc.nHours, c.tc.nHours) << c.nField;
        EXPECT_EQ(tc.nMinutes, c.tc.nMinutes) << c.nField;
        EXPECT_EQ(tc.nSeconds, c.tc.nSeconds) << c.nField;
        EXPECT_EQ(tc.nFrames, c.tc.nFrames) << c.nField;
        EXPECT_EQ(tc.nField, c.tc.nField) << c.nField;
        EXPECT_EQ(converter.TcToField(c.tc), c.nField);
    }
}

TEST(TcConverterTest, ModeFromSystemCode)
{
    CTcConverter converter;
    const TcTimeFields oneMinute{0, 0, 1, 0, 2, 0};
    const uint32_t expected[] = {3004, 3604, 3600, 3604};
    for (uint32_t code = 0; code < 4; ++code) {
        converter.SetMode(code);
        EXPECT_EQ(converter.TcToField(oneMinute), expected[code]) << code;
    }
    EXPECT_EQ(converter.TcToField({65535, 255, 255, 255, 255, 1}), CTcConverter::kInvalidField);
}

struct BcdCase {
    Mode mode;
    uint32_t nField;
    uint32_t nWord;
    uint32_t nBack;  // BcdTcToField with the field bit
};

const BcdCase kBcdCases[] = {
    {k25, 0, 0x00000000, 0},
    {k25, 2264843, 0x92345621, 2264843},
    {k25, 4319998, 0x23595924, 4319998},
    {k25, 4320000 + 50, 0x00000100, 50},  // days are dropped
    {k30, 5183998, 0x23595929, 0x80000000 | 5183998},
    {k30, 5183999, 0x2359D929, 0x80000000 | 5183999},
    {k30Drop, 223165, 0x01028344, 223165},
    {k30Drop, 35964, 0x00100040, 35964},
    {k30Drop, 5178815, 0x2359D969, 5178815},
};

TEST(TcConverterTest, BcdWords)
{
    for (const BcdCase& c : kBcdCases) {
        const CTcConverter converter = Converter(c.mode);
        EXPECT_EQ(converter.FieldToBcdTc(c.nField), c.nWord) << std::hex << c.nField;
        EXPECT_EQ(converter.BcdTcToField(c.nWord, true), c.nBack) << std::hex << c.nWord;
        // The top bit that marks a non-drop source is ignored on the way back.
        EXPECT_EQ(converter.FieldToBcdTc(c.nBack), c.nWord);
        const uint32_t fieldBit = c.mode.b30Frames ? 0x8000 : 0x80000000;
        EXPECT_EQ(converter.BcdTcToField(c.nWord | fieldBit, false), converter.BcdTcToField(c.nWord & ~fieldBit, true));
    }
}

TEST(TcConverterTest, BcdWordDecisions)
{
    for (Mode mode : {k25, k30, k30Drop}) {
        const CTcConverter converter = Converter(mode);
        EXPECT_EQ(converter.BcdTcToField(0xFF000000, true), CTcConverter::kInvalidField);
        EXPECT_EQ(converter.BcdTcToField(0xFFFFFFFF, false), CTcConverter::kInvalidField);
        EXPECT_NE(converter.BcdTcToField(0xFE000000, false), CTcConverter::kInvalidField);
    }
    // The word's own drop-frame bit decides, whatever the converter's flag.
    EXPECT_EQ(Converter(k30).BcdTcToField(0x01020344, false), 223164u);
    EXPECT_EQ(Converter(k30Drop).BcdTcToField(0x01020304, false), 0x80000000u | 223388u);
    // Flag bits do not disturb the digits.
    EXPECT_EQ(Converter(k25).BcdTcToField(0x12345621 | 0x408080c0, false), 2264842u);
}

struct FlagCase {
    Mode mode;
    uint32_t nFlag;
    uint32_t nBit;
};

const FlagCase kFlagCases[] = {
    {k25, 1, 6}, {k25, 2, 7}, {k25, 4, 31}, {k25, 8, 15}, {k25, 16, 23}, {k25, 32, 30},
    {k30, 1, 6}, {k30, 2, 7}, {k30, 4, 15}, {k30, 8, 23}, {k30, 16, 31}, {k30, 32, 30},
};

TEST(TcConverterTest, FlagBits)
{
    for (const FlagCase& c : kFlagCases) {
        const CTcConverter converter = Converter(c.mode);
        EXPECT_EQ(converter.GetBcdTcFlags(1u << c.nBit), c.nFlag) << c.nBit;
        EXPECT_EQ(converter.FieldToBcdTcWithFlags(0, c.nFlag), 1u << c.nBit) << c.nFlag;
        EXPECT_EQ(converter.FieldToBcdTcWithFlags(2264842, c.nFlag) & ~(1u << c.nBit), converter.FieldToBcdTc(2264842));
    }
    for (Mode mode : {k25, k30}) {
        const CTcConverter converter = Converter(mode);
        EXPECT_EQ(converter.GetBcdTcFlags(0xc08080c0), 63u);
        EXPECT_EQ(converter.GetBcdTcFlags(0x3f7f7f3f), 0u);
        EXPECT_EQ(converter.FieldToBcdTcWithFlags(0, 63), 0xc08080c0);
    }
    EXPECT_EQ(Converter(k30Drop).FieldToBcdTcWithFlags(0, 0), 0x40u);
}

}  // namespace
