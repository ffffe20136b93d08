// Target file names from the target's format string.
#include <gtest/gtest.h>

#include "sender/CTargetNameFormatter.h"

namespace
{

struct NameCase {
    const char* format;
    const char* name;
    const char* tapeId;
    const char* expected;
};

TEST(CTargetNameFormatter, ExpandsTokensOnAGivenDate)
{
    std::tm date{};
    date.tm_year = 2009 - 1900;
    date.tm_mon = 2;
    date.tm_mday = 7;
    const NameCase cases[] = {
        {"%TAPEID_%BDATE", "clip", "T01  ", "T01_2009_03_07"},
        {"%NAME", "A/B:C", "", "A_B_C"},
        {"%XYZ%NAME", "clip", "", "XYZclip"},
        {"%NAME", "", "", "Korvo "},
        {"", "news", "", "news"},
        {"%bday-%BMonth-%byear", "", "", "07-03-2009"},
        {"%NAMEX", "clip ", "", "clipX"},
        {"%OWNER.%SEQUENCENAME", "", "", "joe.seq 1"},
        {"a*b?c\"d<e>f|g\\h", "", "", "a_b_c_d_e_f_g_h"},
        {"100%", "", "", "100"},
        {"%TAPEID", "x", "", "Korvo "},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(CParvex_Filename_Formater(c.name, "joe", "seq 1", c.tapeId, c.format, date), c.expected);
    }
}

TEST(CTargetNameFormatter, StampsTodayByDefault)
{
    std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%04d", today.tm_year + 1900);
    EXPECT_EQ(CParvex_Filename_Formater("", "", "", "", "%BYEAR"), expected);
}

}  // namespace
