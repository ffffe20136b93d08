#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "browser/TimeConversions.h"

namespace
{

TEST(HexTextToBytesTest, Cases)
{
    struct Case {
        const char* text;
        size_t count;
        std::vector<uint8_t> expected;  // the whole buffer of four, filled with 0xEE first
    };
    const Case cases[] = {
        {"0a1B", 2, {0x0A, 0x1B, 0xEE, 0xEE}}, {"1", 2, {0x10, 0xEE, 0xEE, 0xEE}},
        {"zz", 2, {0x00, 0x00, 0xEE, 0xEE}},  // a completed byte clears the next
        {"", 2, {0x00, 0xEE, 0xEE, 0xEE}},     {"fFaA", 1, {0xFF, 0xEE, 0xEE, 0xEE}},  // stops after the count
        {"0102", 4, {0x01, 0x02, 0x00, 0xEE}},  // the next byte is cleared after each one
        {"12g4", 4, {0x12, 0x04, 0x00, 0xEE}},  // a non-digit counts as 0 in its place
        {"123", 4, {0x12, 0x30, 0xEE, 0xEE}},   // an unpaired last digit is a high half
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(4, 0xEE);
        HexTextToBytes(c.text, bytes.data(), c.count);
        EXPECT_EQ(bytes, c.expected) << c.text;
    }
}

// Runs the conversion in a zone of the time-zone database.
class ZoneTest : public ::testing::Test
{
protected:
    void SetZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }
    void TearDown() override
    {
        if (_saved)
            setenv("TZ", _saved->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> _saved =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

// Seconds since 1970 of a wall-clock time counted as UTC.
int64_t Wall(int year, int month, int day, int hour, int minute)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return timegm(&t);
}

TEST_F(ZoneTest, ZonesOfBothHemispheresAndHalfHourZonesAcrossTheirChanges)
{
    struct Case {
        const char* zone;
        int64_t local;
        int64_t offsetSeconds;  // local minus UTC
        int32_t hours;
    };
    const Case cases[] = {
        {"UTC", Wall(2024, 7, 1, 12, 0), 0, 0},
        {"Asia/Tokyo", Wall(2024, 7, 1, 12, 0), 9 * 3600, 9},  // no daylight rule, still converted
        // Northern: New York changes on the second Sunday of March and the first Sunday of November.
        {"America/New_York", Wall(2024, 3, 10, 1, 59), -5 * 3600, -5},
        {"America/New_York", Wall(2024, 3, 10, 3, 0), -4 * 3600, -4},
        {"America/New_York", Wall(2024, 7, 1, 12, 0), -4 * 3600, -4},
        {"America/New_York", Wall(2024, 11, 3, 2, 0), -5 * 3600, -5},
        {"America/New_York", Wall(2024, 12, 1, 12, 0), -5 * 3600, -5},
        // Southern: Sydney keeps daylight time from October to April.
        {"Australia/Sydney", Wall(2024, 1, 15, 12, 0), 11 * 3600, 11},
        {"Australia/Sydney", Wall(2024, 4, 7, 3, 0), 10 * 3600, 10},
        {"Australia/Sydney", Wall(2024, 7, 1, 12, 0), 10 * 3600, 10},
        {"Australia/Sydney", Wall(2024, 10, 6, 3, 0), 11 * 3600, 11},
        // Half-hour zones, one of them southern with daylight time.
        {"Asia/Kolkata", Wall(2024, 7, 1, 12, 0), 5 * 3600 + 1800, 5},
        {"Australia/Adelaide", Wall(2024, 1, 15, 12, 0), 10 * 3600 + 1800, 10},
        {"Australia/Adelaide", Wall(2024, 7, 1, 12, 0), 9 * 3600 + 1800, 9},
        {"America/St_Johns", Wall(2024, 1, 15, 12, 0), -(3 * 3600 + 1800), -3},
    };
    for (const Case& c : cases) {
        SetZone(c.zone);
        int32_t hours = 99;
        EXPECT_EQ(LocalTimeToUtc(c.local, &hours), c.local - c.offsetSeconds) << c.zone << " " << c.local;
        EXPECT_EQ(hours, c.hours) << c.zone << " " << c.local;
    }
}

TEST_F(ZoneTest, WestOfUtcOutsideDaylightTimeIsFiveHoursLater)
{
    SetZone("America/New_York");
    const int64_t local = Wall(2024, 1, 10, 8, 30);
    int32_t hours = 0;
    EXPECT_EQ(LocalTimeToUtc(local, &hours), local + 5 * 3600);
    EXPECT_EQ(hours, -5);
}

}  // namespace
