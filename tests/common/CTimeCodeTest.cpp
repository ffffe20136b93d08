#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

#include "common/CTimeCode.h"

// Lets failures print the value.
void PrintTo(const CTimeCode& tc, std::ostream* os)
{
    CTimeCode copy;
    copy = tc;
    *os << copy.ToString(273);
}

namespace
{

class TimeCodeTest : public ::testing::Test
{
protected:
    void TearDown() override { CTimeCode::SetDayWrapping(true); }
};

struct SystemCase {
    TcSystem nSystem;
    const char* szName;
    uint32_t nFrameRate;
    uint32_t nFieldsPerFrame;
    uint32_t nFieldsPerDay;
    double dFieldDuration;
    bool bDropFrame;
};

const SystemCase kSystemCases[] = {
    {0, "invalid", 25, 2, 4320000, 0.02, false},
    {1, "24 Drop", 24, 2, 4147200, 0.020854166666666667, false},
    {2, "24", 24, 2, 4147200, 0.020833333333333332, false},
    {3, "PAL", 25, 2, 4320000, 0.02, false},
    {4, "NTSC Drop", 30, 2, 5178816, 0.016683350016683352, true},
    {5, "NTSC No Drop", 30, 2, 5184000, 0.016683350016683352, false},
    {6, "Field-PAL", 50, 1, 4320000, 0.02, false},
    {7, "Field-NTSC Drop", 60, 1, 5178816, 0.016683350016683352, true},
    {8, "Field-NTSC No Drop", 60, 1, 5184000, 0.016683350016683352, false},
    {9, "25 [9]", 25, 2, 4320000, 0.02, false},
};

class TimeCodeSystemTest : public TimeCodeTest, public ::testing::WithParamInterface<SystemCase>
{
};

TEST_P(TimeCodeSystemTest, RatesNamesAndDay)
{
    const SystemCase& c = GetParam();
    CTimeCode zero(0u, c.nSystem);
    EXPECT_EQ(zero.GetFrameRate(), c.nFrameRate);
    EXPECT_EQ(zero.GetFieldsPerFrame(), c.nFieldsPerFrame);
    EXPECT_EQ(CTimeCode::GetSystemFieldsPerFrame(c.nSystem), c.nFieldsPerFrame);
    EXPECT_DOUBLE_EQ(CTimeCode::GetFieldDuration(c.nSystem), c.dFieldDuration);
    EXPECT_STREQ(zero.ToString(9), c.szName);

    // The last frame label of the day is one frame short of a whole day.
    const uint16_t lastFrame = static_cast<uint16_t>(c.nFrameRate - 1);
    CTimeCode last(23, 59, 59, lastFrame, false, c.nSystem);
    EXPECT_EQ(last, CTimeCode(c.nFieldsPerDay - c.nFieldsPerFrame, c.nSystem));
    uint16_t h = 0, m = 0, s = 0, f = 0;
    EXPECT_EQ(last.GetHMSF(h, m, s, f), c.nSystem == 0 ? 0 : 1);
    if (c.nSystem != 0) {
        EXPECT_EQ(std::to_string(h) + ":" + std::to_string(m) + ":" + std::to_string(s) + ":" + std::to_string(f),
                  "23:59:59:" + std::to_string(lastFrame));
    }
    EXPECT_EQ(++last, zero);
    EXPECT_EQ(CTimeCode(c.nFieldsPerDay, c.nSystem), zero);

    CTimeCode::SetDayWrapping(false);
    EXPECT_NE(CTimeCode(c.nFieldsPerDay, c.nSystem), zero);
    uint16_t d = 0;
    CTimeCode(c.nFieldsPerDay + c.nFieldsPerFrame, c.nSystem).GetDHMSF(d, h, m, s, f);
    EXPECT_EQ(d * 100000 + h * 1000 + m * 100 + s * 10 + f, 100001);

    uint8_t gop[4] = {};
    zero.ToMpegGopTimeCode(gop);
    EXPECT_EQ(gop[0] >> 7, c.bDropFrame ? 1 : 0);
}

TEST_P(TimeCodeSystemTest, SecondsRoundTrip)
{
    const SystemCase& c = GetParam();
    for (uint32_t fields : {0u, 1u, 2u, 3599u, 3600u, 215784u, c.nFieldsPerDay - 1}) {
        CTimeCode tc(fields, c.nSystem);
        EXPECT_NEAR(tc.GetSeconds(), fields * c.dFieldDuration, 1e-6);
        EXPECT_EQ(CTimeCode::FromSeconds(tc.GetSeconds(), c.nSystem, false), tc) << fields;
        EXPECT_EQ(CTimeCode::FromMilliseconds(tc.GetSeconds() * 1000, c.nSystem), tc) << fields;
    }
}

INSTANTIATE_TEST_SUITE_P(AllSystems, TimeCodeSystemTest, ::testing::ValuesIn(kSystemCases));

struct DropCase {
    TcSystem nSystem;
    uint16_t nHours, nMinutes, nSeconds, nFrames;
    uint32_t nFields;
    uint16_t nOutMinutes, nOutSeconds, nOutFrames;  // the label the count reads back as
};

const DropCase kDropCases[] = {
    {4, 0, 0, 59, 29, 3598, 0, 59, 29},
    {4, 0, 1, 0, 0, 3600, 1, 0, 2},
    {4, 0, 1, 0, 1, 3600, 1, 0, 2},
    {4, 0, 1, 0, 2, 3600, 1, 0, 2},
    {4, 0, 1, 0, 3, 3602, 1, 0, 3},
    {4, 0, 1, 1, 0, 3656, 1, 1, 0},
    {4, 0, 9, 59, 29, 35962, 9, 59, 29},
    {4, 0, 10, 0, 0, 35964, 10, 0, 0},
    {4, 0, 10, 0, 1, 35966, 10, 0, 1},
    {4, 0, 11, 0, 0, 39564, 11, 0, 2},
    {4, 0, 11, 0, 2, 39564, 11, 0, 2},
    {4, 1, 0, 0, 0, 215784, 0, 0, 0},
    {4, 23, 59, 59, 29, 5178814, 59, 59, 29},
    // One field per frame: four labels a minute are skipped, 0 to 3.
    {7, 0, 0, 59, 59, 3599, 0, 59, 59},
    {7, 0, 1, 0, 0, 3600, 1, 0, 4},
    {7, 0, 1, 0, 3, 3600, 1, 0, 4},
    {7, 0, 1, 0, 4, 3600, 1, 0, 4},
    {7, 0, 1, 0, 5, 3601, 1, 0, 5},
    {7, 0, 10, 0, 0, 35964, 10, 0, 0},
    {7, 0, 20, 0, 2, 71930, 20, 0, 2},
    {7, 23, 59, 59, 59, 5178815, 59, 59, 59},
};

class TimeCodeDropTest : public TimeCodeTest, public ::testing::WithParamInterface<DropCase>
{
};

TEST_P(TimeCodeDropTest, CountsAndLabels)
{
    const DropCase& c = GetParam();
    CTimeCode tc(c.nHours, c.nMinutes, c.nSeconds, c.nFrames, false, c.nSystem);
    EXPECT_EQ(tc, CTimeCode(c.nFields, c.nSystem));
    CTimeCode set(0u, c.nSystem);
    set.SetHMSF(c.nHours, c.nMinutes, c.nSeconds, c.nFrames);
    EXPECT_EQ(set, tc);
    uint16_t d = 9, h = 0, m = 0, s = 0, f = 0;
    EXPECT_EQ(tc.GetDHMSF(d, h, m, s, f), 1);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(h, c.nHours);
    EXPECT_EQ(m, c.nOutMinutes);
    EXPECT_EQ(s, c.nOutSeconds);
    EXPECT_EQ(f, c.nOutFrames);
}

INSTANTIATE_TEST_SUITE_P(MinuteAndTenMinuteBoundaries, TimeCodeDropTest, ::testing::ValuesIn(kDropCases));

TEST_F(TimeCodeTest, DropFrameLabelsRoundTripFrameByFrame)
{
    // The first twenty minutes and the last ten of the day hold every kind of boundary.
    for (TcSystem system : {4u, 7u}) {
        for (uint32_t first : {0u, 5178816u - 35964u}) {
            CTimeCode tc(first, system);
            for (uint32_t fields = first; fields < first + 2 * 35964u && fields < 5178816u;
                 fields += tc.GetFieldsPerFrame(), tc.NextFrame()) {
                uint16_t d, h, m, s, f;
                tc.GetDHMSF(d, h, m, s, f);
                ASSERT_EQ(CTimeCode(h, m, s, f, tc.IsSecondField(), system), CTimeCode(fields, system)) << fields;
            }
        }
    }
}

struct FormatCase {
    uint32_t nCode;
    const char* szText;
};

// PAL, day wrapping off: 1 day 02:03:04:05, second field.
const FormatCase kFormatCases[] = {
    {1, "26:03:04:05*"},
    {2, "26:03:04:05"},
    {3, "26:03:04"},
    {4, "093784s"},
    {5, "26h03m"},
    {9, "PAL"},
    {17, "01.02:03:04:05*"},
    {18, "01.02:03:04:05"},
    {19, "01.02:03:04"},
    {20, "01007384s"},
    {21, "01.02h03m"},
    {257, "PAL 26:03:04:05*"},
    {258, "PAL 26:03:04:05"},
    {259, "PAL 26:03:04"},
    {260, "PAL 093784s"},
    {261, "PAL 26h03m"},
    {273, "PAL 01.02:03:04:05*"},
    {274, "PAL 01.02:03:04:05"},
    {275, "PAL 01.02:03:04"},
    {276, "PAL 01007384s"},
    {277, "PAL 01.02h03m"},
    {4097, "02:03:04:05*"},
    {4098, "02:03:04:05"},
    {4099, "02:03:04"},
    {4100, "007384s"},
    {4101, "02h03m"},
    {0, "PAL 26:03:04:05"},
    {6, "PAL 26:03:04:05"},
    {16, "PAL 26:03:04:05"},
    {99999, "PAL 26:03:04:05"},
};

class TimeCodeFormatTest : public TimeCodeTest, public ::testing::WithParamInterface<FormatCase>
{
};

TEST_P(TimeCodeFormatTest, Layout)
{
    CTimeCode::SetDayWrapping(false);
    CTimeCode tc(26, 3, 4, 5, true, 3);
    EXPECT_EQ(tc, CTimeCode(4689211u, 3));
    EXPECT_STREQ(tc.ToString(GetParam().nCode), GetParam().szText);
    char buffer[64];
    EXPECT_EQ(tc.Format(buffer, sizeof(buffer), GetParam().nCode), buffer);
    EXPECT_STREQ(buffer, GetParam().szText);
    EXPECT_STREQ(CTimeCode().ToString(GetParam().nCode), "invalid");
    EXPECT_STREQ(CTimeCode(4689211u, 0).ToString(GetParam().nCode), "invalid");
}

INSTANTIATE_TEST_SUITE_P(AllCodes, TimeCodeFormatTest, ::testing::ValuesIn(kFormatCases));

TEST_F(TimeCodeTest, OwnBufferHoldsTheLongestText)
{
    CTimeCode::SetDayWrapping(false);
    size_t longest = 0;
    for (const FormatCase& c : kFormatCases) {
        for (TcSystem system = 1; system < CTimeCode::kSystemCount; ++system) {
            CTimeCode tc(CTimeCode::kInvalidCount - 1, system);
            char wide[128];
            tc.Format(wide, sizeof(wide), c.nCode);
            EXPECT_STREQ(tc.ToString(c.nCode), wide);
            longest = std::max(longest, std::strlen(wide));
        }
    }
    EXPECT_EQ(longest + 1, CTimeCode::kTextSize);
    EXPECT_STREQ(CTimeCode(CTimeCode::kInvalidCount - 1, 8).ToString(273), "Field-NTSC No Drop 828.12:06:28:14 ");
}

TEST_F(TimeCodeTest, FormatNeverWritesPastTheGivenSize)
{
    CTimeCode tc(1u, 3);
    char buffer[16];
    std::memset(buffer, 'X', sizeof(buffer));
    tc.Format(buffer, 5, 1);
    EXPECT_STREQ(buffer, "00:0");
    EXPECT_EQ(std::string(buffer + 5, sizeof(buffer) - 5), std::string(sizeof(buffer) - 5, 'X'));
    std::memset(buffer, 'X', sizeof(buffer));
    tc.Format(buffer, 0, 1);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(tc.Format(nullptr, 10, 1), nullptr);
    EXPECT_STREQ(tc.ToString(1), "00:00:00:00*");
}

TEST_F(TimeCodeTest, DayWrapping)
{
    EXPECT_EQ(CTimeCode(24, 0, 0, 0, false, 3), CTimeCode(0u, 3));
    CTimeCode::SetDayWrapping(false);
    CTimeCode day(24, 0, 0, 0, false, 3);
    EXPECT_EQ(day, CTimeCode(4320000u, 3));
    EXPECT_STREQ(day.ToString(17), "01.00:00:00:00 ");
    // Values already built are not rewrapped, but a copy made with wrapping on is.
    CTimeCode::SetDayWrapping(true);
    CTimeCode assigned;
    assigned = day;
    EXPECT_STREQ(assigned.ToString(17), "01.00:00:00:00 ");
    EXPECT_NE(assigned, CTimeCode(0u, 3));
    CTimeCode copied(day);
    EXPECT_EQ(copied, CTimeCode(0u, 3));
}

TEST_F(TimeCodeTest, CountsBeyondThirtyTwoBitsWithoutWrappingAreInvalid)
{
    EXPECT_EQ(CTimeCode(65535, 0, 0, 0, false, 3), CTimeCode(15, 0, 0, 0, false, 3));
    CTimeCode::SetDayWrapping(false);
    EXPECT_EQ(CTimeCode(65535, 0, 0, 0, false, 3), CTimeCode());
    EXPECT_EQ(CTimeCode(23860, 0, 0, 0, false, 3), CTimeCode(4294800000u, 3));
    CTimeCode last(CTimeCode::kInvalidCount - 1, 6);
    EXPECT_EQ(last.NextFrame(), CTimeCode());
    EXPECT_EQ(CTimeCode(CTimeCode::kInvalidCount - 2, 3, 300), CTimeCode());
    EXPECT_EQ(CTimeCode::FromSeconds(1e12, 3, false), CTimeCode());
}

TEST_F(TimeCodeTest, SystemIndexTenOrMoreIsRefused)
{
    EXPECT_EQ(CTimeCode(5u, 10), CTimeCode());
    EXPECT_EQ(CTimeCode(0, 0, 1, 0, false, 255), CTimeCode());
    EXPECT_EQ(CTimeCode::GetSystemFieldsPerFrame(10), 0u);
    EXPECT_EQ(CTimeCode::GetFieldDuration(10), 0.0);
    EXPECT_EQ(CTimeCode::FromSeconds(1.0, 10, false), CTimeCode());
    CTimeCode tc(7u, 3);
    EXPECT_FALSE(tc.SetSystem(10));
    EXPECT_EQ(tc, CTimeCode(7u, 3));
    EXPECT_TRUE(tc.SetSystem(5));
    EXPECT_EQ(tc, CTimeCode(7u, 5));
}

struct HundredthsCase {
    uint32_t nFields;
    int32_t nHundredths;
    uint32_t nOutFields;
    int32_t nOutHundredths;
};

const HundredthsCase kHundredthsCases[] = {
    {10, 0, 10, 0}, {10, 99, 10, 99}, {10, 250, 12, 50}, {10, 100, 11, 0}, {10, -5, 10, 0},
};

TEST_F(TimeCodeTest, Hundredths)
{
    for (const HundredthsCase& c : kHundredthsCases) {
        CTimeCode tc(c.nFields, 3, c.nHundredths);
        EXPECT_EQ(tc, CTimeCode(c.nOutFields, 3, c.nOutHundredths)) << c.nHundredths;
        EXPECT_NE(tc, CTimeCode(c.nOutFields, 3, (c.nOutHundredths + 1) % 100)) << c.nHundredths;
        EXPECT_EQ(tc, CTimeCode(c.nOutFields, 3)) << "no hundredths on one side";
        EXPECT_DOUBLE_EQ(tc.GetSeconds(), (c.nOutFields + c.nOutHundredths * 0.01) * 0.02);
    }
    // Whole fields from the hundredths are added after the day wrap and are not wrapped again.
    EXPECT_STREQ(CTimeCode(4319999u, 3, 300).ToString(17), "01.00:00:00:01 ");
    EXPECT_NE(CTimeCode(10u, 3), CTimeCode(10u, 9));
    EXPECT_NE(CTimeCode(10u, 3), CTimeCode(11u, 3));
}

TEST_F(TimeCodeTest, FromSeconds)
{
    EXPECT_EQ(CTimeCode::FromSeconds(1.0, 3, true), CTimeCode(50u, 3, 0));
    EXPECT_NE(CTimeCode::FromSeconds(1.0, 3, true), CTimeCode(50u, 3, 1));
    EXPECT_EQ(CTimeCode::FromSeconds(0.99999, 3, false), CTimeCode(50u, 3));
    EXPECT_EQ(CTimeCode::FromSeconds(1.0, 4, true), CTimeCode(59u, 4, 94));
    EXPECT_EQ(CTimeCode::FromSeconds(1.0, 1, true), CTimeCode(47u, 1, 95));
    EXPECT_EQ(CTimeCode::FromMilliseconds(1010, 3), CTimeCode(50u, 3, 50));
    EXPECT_EQ(CTimeCode::FromMilliseconds(86400000, 3), CTimeCode(0u, 3));
    EXPECT_EQ(CTimeCode::FromSeconds(-1.0, 3, false), CTimeCode());
    EXPECT_EQ(CTimeCode::FromSeconds(std::nan(""), 3, false), CTimeCode());
}

TEST_F(TimeCodeTest, FramesAndFields)
{
    CTimeCode tc(101u, 3);
    EXPECT_TRUE(tc.IsSecondField());
    EXPECT_EQ(tc.GetFrameCount(), 50u);
    EXPECT_EQ(tc.NextFrame(), CTimeCode(103u, 3));
    CTimeCode field(101u, 6);
    EXPECT_FALSE(field.IsSecondField());
    EXPECT_EQ(field.GetFrameCount(), 101u);
    EXPECT_EQ(++field, CTimeCode(102u, 6));
    CTimeCode invalid;
    EXPECT_EQ(invalid.NextFrame(), CTimeCode());
    EXPECT_EQ(CTimeCode(0, 0, 1, 2, true, 5), CTimeCode(65u, 5));
}

struct GopCase {
    TcSystem nSystem;
    uint16_t nHours, nMinutes, nSeconds, nFrames;
    uint8_t byte3In;
    uint8_t expected[4];
};

const GopCase kGopCases[] = {
    {4, 1, 2, 3, 4, 0x00, {0x84, 0x28, 0x62, 0x00}},     {4, 1, 2, 3, 4, 0x7F, {0x84, 0x28, 0x62, 0x7F}},
    {3, 23, 59, 59, 24, 0x00, {0x5F, 0xBF, 0x6C, 0x00}}, {3, 0, 0, 0, 5, 0x55, {0x00, 0x08, 0x02, 0xD5}},
    {8, 12, 34, 56, 59, 0xFF, {0x32, 0x2F, 0x1D, 0xFF}}, {0, 12, 34, 56, 5, 0x80, {0x00, 0x08, 0x00, 0x00}},
};

TEST_F(TimeCodeTest, MpegGopTimeCode)
{
    for (const GopCase& c : kGopCases) {
        uint8_t gop[4] = {0xEE, 0xEE, 0xEE, c.byte3In};
        CTimeCode tc(c.nHours, c.nMinutes, c.nSeconds, c.nFrames, false, c.nSystem);
        EXPECT_EQ(tc.ToMpegGopTimeCode(gop), gop);
        EXPECT_EQ(std::memcmp(gop, c.expected, 4), 0) << c.nSystem << " " << c.nHours << " " << std::hex << +gop[0]
                                                      << " " << +gop[1] << " " << +gop[2] << " " << +gop[3];
    }
    // Hours run modulo 32 when days are folded in.
    CTimeCode::SetDayWrapping(false);
    uint8_t gop[4] = {};
    CTimeCode(33, 0, 0, 0, false, 3).ToMpegGopTimeCode(gop);
    EXPECT_EQ(gop[0], 0x04);
}

}  // namespace
