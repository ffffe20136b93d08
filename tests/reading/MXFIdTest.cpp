#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "parvex/MXFId.h"

namespace
{

TEST(MXFId, CheckAndTimeOfTexts)
{
    const struct {
        const char* pszText;
        int nValid;
        int nKind;
        int64_t qwTime;
    } cases[] = {
        {"00000000", 1, 1, 1009843200},
        {"", 1, 1, 1009843200},
        {"0000", 1, 1, 1009843200},  // shorter than 8: kind 1, parses to 0
        {"~zzzzzzz", 1, 2, -1},
        {"!0000001", 1, 2, 1262304000},
        {"@000000!", 0, 0, 0},
        {"@0000000", 1, 0, 0},  // valid, of neither kind
        {"000000000", 0, 0, 0},
        {"0000.000", 0, 0, 0},
        {"000\x01"
         "0000",
         0, 0, 0},
        {"000\x80"
         "0000",
         0, 0, 0},
        {"0000%000", 0, 0, 0},
    };
    for (const auto& c : cases) {
        int kind = -1;
        EXPECT_EQ(CheckMXFId(c.pszText, &kind), c.nValid) << c.pszText;
        EXPECT_EQ(kind, c.nKind) << c.pszText;
        if (c.qwTime >= 0)
            EXPECT_EQ(MXFIdToTime(c.pszText), c.qwTime) << c.pszText;
    }
    EXPECT_EQ(CheckMXFId(nullptr), 0);
}

TEST(MXFId, Kind2SymbolFirstAndMaximumRoundTrip)
{
    MXFIdType2 id;
    id.Parse("~zzzzzzz");
    uint64_t expected = 14 * 19203908986159ull;
    for (uint64_t w : {243087455521ull, 3077056399ull, 38950081ull, 493039ull, 6241ull, 79ull, 1ull})
        expected += 61 * w;
    EXPECT_EQ(id._qwValue, expected);

    MXFIdType2 max;
    max.SetSerial(0xFFFF);
    max.SetSeconds(0x3FFFFFFF);
    max.SetCounter(3);
    char text[9];
    max.Format(text);
    ASSERT_EQ(std::strlen(text), 8u);
    EXPECT_NE(std::strchr("!#$(),;=[]^_{}~", text[0]), nullptr);
    MXFIdType2 back;
    back.Parse(text);
    EXPECT_EQ(back._qwValue, max._qwValue);
    EXPECT_EQ(back.GetSerial(), 0xFFFFu);
    EXPECT_EQ(back.GetSeconds(), 0x3FFFFFFFu);
    EXPECT_EQ(back.GetCounter(), 3u);
    int kind = 0;
    EXPECT_EQ(CheckMXFId(text, &kind), 1);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(MXFIdToTime(text), 0x3FFFFFFF + 1262304000ll);
}

TEST(MXFId, Kind1FieldsAndText)
{
    MXFIdType1 id;
    id.SetSerial(0x3FFF);
    id.SetSeconds(0x20000001);  // above 29 bits: only the low 29 stay
    id.SetCounter(0x25);
    EXPECT_EQ(id.GetSerial(), 0x3FFFu);
    EXPECT_EQ(id.GetSeconds(), 1u);
    EXPECT_EQ(id.GetCounter(), 5u);
    char text[9];
    id.Format(text);
    EXPECT_STREQ(text, "++m0000b");
    MXFIdType1 back;
    back.Parse(text);
    EXPECT_EQ(back._qwValue, id._qwValue);
    EXPECT_STREQ(MXFIdType1().Format(text), "");
    back.Parse("short");
    EXPECT_EQ(back._qwValue, 0u);
}

}  // namespace
