#include <gtest/gtest.h>

#include "common/CSlowCallWatch.h"
#include "platform/Clock.h"
#include "tests/support/FileTestKit.h"

namespace
{

using testsupport::LogCapture;

TEST(CSlowCallWatch, LogsWhenTheLimitIsPassed)
{
    LogCapture log("watch");
    {
        CSlowCallWatch watch("GetNextData field 12", 0, "watch");
        platform::SleepMs(5);
    }
    std::string text = log.Text();
    size_t at = text.find("** SLOW ** GetNextData field 12 - ");
    ASSERT_NE(at, std::string::npos) << text;
    long elapsed = std::stol(text.substr(at + 34));
    EXPECT_GE(elapsed, 5);
    EXPECT_NE(text.find(" / 0\r\n", at), std::string::npos);
}

TEST(CSlowCallWatch, QuietWithinTheLimitAndAfterStop)
{
    LogCapture log("watch");
    {
        CSlowCallWatch fast("fast", 10000, "watch");
    }
    {
        CSlowCallWatch stopped("stopped", 0, "watch");
        platform::SleepMs(2);
        stopped.Stop();
        stopped.Stop();  // a second stop stays silent
    }
    std::string text = log.Text();
    EXPECT_EQ(text.find("fast"), std::string::npos);
    size_t first = text.find("** SLOW ** stopped");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("** SLOW **", first + 1), std::string::npos);
}

}  // namespace
