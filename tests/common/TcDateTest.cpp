#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "common/TcDate.h"

namespace
{

constexpr uint64_t kTicksPerDay = 51788160000;
constexpr uint64_t kTickMask = (uint64_t{1} << 52) - 1;

uint64_t Ticks(const TcDate& date)
{
    return date.GetPacked() & kTickMask;
}

// Sets TZ for the life of the object and restores the old value.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            _old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (_old)
            setenv("TZ", _old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> _old;
};

struct DayCase {
    uint16_t nYear;
    uint8_t nMonth, nDay;
    int64_t nDays;  // since 1970-01-01
};

// Dates around the years in which some zones changed their standard offset (Moscow 2011 and 2014, Apia skipping
// 2011-12-30) and around leap days.
const DayCase kDayCases[] = {
    {1970, 1, 1, 0},       {1970, 1, 2, 1},       {1999, 12, 31, 10956}, {2000, 2, 29, 11016},
    {2011, 12, 29, 15337}, {2011, 12, 31, 15339}, {2012, 1, 1, 15340},   {2012, 6, 15, 15506},
    {2013, 1, 1, 15706},   {2013, 10, 27, 16005}, {2014, 10, 26, 16369}, {2200, 12, 31, 84370},
};

class TcDateZoneTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(TcDateZoneTest, DaysAreCountedOnTheCalendar)
{
    ScopedTimeZone zone(GetParam());
    for (const DayCase& c : kDayCases) {
        for (uint32_t system = 0; system < TcDate::kSystemCount; ++system) {
            TcDate date(system, c.nYear, c.nMonth, c.nDay, 0, 0, 0, 0, 0);
            EXPECT_EQ(Ticks(date), static_cast<uint64_t>(c.nDays) * kTicksPerDay) << c.nYear << "-" << +c.nMonth;
            TcDateFields fields;
            date.GetDateTime(fields);
            EXPECT_EQ(fields.nYear, c.nYear);
            EXPECT_EQ(fields.nMonth, c.nMonth);
            EXPECT_EQ(fields.nDay, c.nDay);

            std::tm calendar{};
            calendar.tm_year = c.nYear - 1900;
            calendar.tm_mon = c.nMonth - 1;
            calendar.tm_mday = c.nDay;
            TcDate built;
            TcDateFromDateFields(system == 2 ? 4 : system == 1 ? 5 : 3, calendar, 0, 3, &built);
            EXPECT_EQ(built.GetPacked(), date.GetPacked());
            std::tm back{};
            TcDateToDateFields(built, nullptr, &back, nullptr, nullptr);
            EXPECT_EQ(back.tm_year, calendar.tm_year);
            EXPECT_EQ(back.tm_mon, calendar.tm_mon);
            EXPECT_EQ(back.tm_mday, calendar.tm_mday);
        }
    }
    EXPECT_EQ(Ticks(TcDate(0, 1969, 12, 31, 0, 0, 0, 0, 0)), 364 * kTicksPerDay);
    TcDateFields fields;
    TcDate(0, 2300, 6, 1, 0, 0, 0, 0, 0).GetDateTime(fields);
    EXPECT_EQ(fields.nYear, 2200);
}

INSTANTIATE_TEST_SUITE_P(TimeZones, TcDateZoneTest,
                         ::testing::Values("UTC", "Europe/Moscow", "Pacific/Apia", "America/New_York",
                                           "Australia/Lord_Howe", "Asia/Kathmandu", "Pacific/Kiritimati"));

TEST(TcDateTest, OutOfRangeMonthsAndDaysRollOver)
{
    // As the C library's calendar normalises them.
    EXPECT_EQ(Ticks(TcDate(0, 2012, 13, 1, 0, 0, 0, 0, 0)), Ticks(TcDate(0, 2013, 1, 1, 0, 0, 0, 0, 0)));
    EXPECT_EQ(Ticks(TcDate(0, 2012, 3, 0, 0, 0, 0, 0, 0)), Ticks(TcDate(0, 2012, 2, 29, 0, 0, 0, 0, 0)));
    EXPECT_EQ(Ticks(TcDate(0, 2012, 0, 1, 0, 0, 0, 0, 0)), Ticks(TcDate(0, 2011, 12, 1, 0, 0, 0, 0, 0)));
    EXPECT_EQ(Ticks(TcDate(0, 1970, 1, 0, 0, 0, 0, 0, 0)), 0u);
}

struct TimeCase {
    uint32_t nSystem;
    uint8_t nHours, nMinutes, nSeconds, nFrames, nField;
    uint32_t nFieldOfDay;
    uint64_t nTicksPerField;
};

const TimeCase kTimeCases[] = {
    {0, 0, 0, 0, 0, 1, 1, 11988},           {0, 12, 34, 56, 21, 1, 2264843, 11988},
    {0, 23, 59, 59, 24, 1, 4319999, 11988}, {1, 23, 59, 59, 29, 1, 5183999, 9990},
    {2, 0, 1, 0, 2, 0, 3600, 10000},        {2, 1, 2, 3, 4, 1, 223165, 10000},
    {2, 23, 59, 59, 29, 1, 5178815, 10000},
};

TEST(TcDateTest, TimeOfDayInEverySystem)
{
    for (const TimeCase& c : kTimeCases) {
        TcDate date(c.nSystem, 2013, 3, 31, c.nHours, c.nMinutes, c.nSeconds, c.nFrames, c.nField);
        EXPECT_EQ(date.GetSystem(), c.nSystem);
        EXPECT_EQ(date.GetFieldOfDay(), c.nFieldOfDay);
        EXPECT_EQ(Ticks(date), 15795 * kTicksPerDay + c.nFieldOfDay * c.nTicksPerField);
        TcDateFields fields;
        date.GetDateTime(fields);
        EXPECT_EQ(fields.nSystem, c.nSystem);
        EXPECT_EQ(fields.nYear, 2013);
        EXPECT_EQ(fields.nMonth, 3);
        EXPECT_EQ(fields.nDay, 31);
        EXPECT_EQ(fields.nHours, c.nHours);
        EXPECT_EQ(fields.nMinutes, c.nMinutes);
        EXPECT_EQ(fields.nSeconds, c.nSeconds);
        EXPECT_EQ(fields.nFrames, c.nFrames);
        EXPECT_EQ(fields.nField, c.nField);
    }
    EXPECT_EQ(Ticks(TcDate(0, 1970, 1, 2, 0, 0, 0, 0, 0)), kTicksPerDay);
}

TEST(TcDateTest, FieldArithmetic)
{
    TcDate date(2, 2012, 6, 15, 0, 0, 0, 0, 0);
    date.SetFieldOfDay(12345);
    EXPECT_EQ(date.GetFieldOfDay(), 12345u);
    date.SubtractFields(12346);
    TcDateFields fields;
    date.GetDateTime(fields);
    EXPECT_EQ(fields.nDay, 14);
    EXPECT_EQ(date.GetFieldOfDay(), 5178815u);
    // A negative count moves forward.
    date.SubtractFields(static_cast<uint64_t>(-2));
    EXPECT_EQ(date.GetFieldOfDay(), 1u);
    TcDate copy(date);
    EXPECT_EQ(copy.GetPacked(), date.GetPacked());
    EXPECT_FALSE(copy.Set(3, 2012, 1, 1, 0, 0, 0, 0, 0));
    EXPECT_EQ(copy.GetPacked(), date.GetPacked());
    EXPECT_EQ(TcDate(7, 2012, 1, 1, 0, 0, 0, 0, 0).GetPacked(), TcDate().GetPacked());
}

TEST(TcDateTest, PackedGoldenBytes)
{
    // System 2, kind 1, 2012-06-15 at field 12345: ticks 0x2da595ee4aa90.
    std::tm calendar{};
    calendar.tm_year = 112;
    calendar.tm_mon = 5;
    calendar.tm_mday = 15;
    TcDate date;
    TcDateFromDateFields(4, calendar, 12345, 2, &date);
    const uint8_t golden[8] = {0x90, 0xaa, 0xe4, 0x5e, 0x59, 0xda, 0x02, 0x90};
    uint8_t bytes[8] = {};
    EXPECT_EQ(date.Pack(false, bytes), 8);
    EXPECT_EQ(std::memcmp(bytes, golden, 8), 0);
    EXPECT_EQ(date.GetPacked(), 0x9002da595ee4aa90u);
    EXPECT_EQ(date.Pack(false, nullptr), 8);
    EXPECT_EQ(date.Pack(true, bytes), -1);

    TcDate back;
    EXPECT_EQ(back.Unpack(false, golden), 8);
    EXPECT_EQ(back.GetPacked(), date.GetPacked());
    EXPECT_EQ(back.GetSystem(), 2u);
    EXPECT_EQ(back.GetFlags(), 1u);
    EXPECT_EQ(back.GetFieldOfDay(), 12345u);
}

TEST(TcDateTest, UnpackRefusals)
{
    const uint8_t golden[8] = {0x90, 0xaa, 0xe4, 0x5e, 0x59, 0xda, 0x02, 0x90};
    TcDate date;
    ASSERT_EQ(date.Unpack(false, golden), 8);
    EXPECT_EQ(date.Unpack(true, golden), -1);
    EXPECT_EQ(date.GetPacked(), 0u);
    ASSERT_EQ(date.Unpack(false, golden), 8);
    EXPECT_EQ(date.Unpack(false, nullptr), -2);
    EXPECT_EQ(date.GetPacked(), 0u);
    // System code 3 names no frame system.
    uint8_t bad[8];
    std::memcpy(bad, golden, 8);
    bad[7] |= 0xC0;
    ASSERT_EQ(date.Unpack(false, golden), 8);
    EXPECT_EQ(date.Unpack(false, bad), -3);
    EXPECT_EQ(date.GetPacked(), 0u);
    // Bits 20 to 27 of the second word are not part of the value.
    std::memcpy(bad, golden, 8);
    bad[6] |= 0xF0;
    bad[7] |= 0x0F;
    EXPECT_EQ(date.Unpack(false, bad), 8);
    EXPECT_EQ(date.GetPacked(), 0x9002da595ee4aa90u);
}

struct DateFieldsCase {
    uint32_t nSystemCode;
    uint32_t nKindCode;
    uint32_t nSystem;
    uint32_t nKind;
    uint32_t nSystemCodeBack;
    uint32_t nRateKindBack;
};

const DateFieldsCase kDateFieldsCases[] = {
    {4, 2, 2, 1, 4, 2}, {5, 3, 1, 0, 5, 3}, {3, 1, 0, 2, 3, 1}, {0, 0, 0, 2, 3, 1}, {8, 7, 0, 2, 3, 1},
};

TEST(TcDateTest, DateFieldCodes)
{
    for (const DateFieldsCase& c : kDateFieldsCases) {
        std::tm calendar{};
        calendar.tm_year = 113;
        calendar.tm_mon = 9;
        calendar.tm_mday = 27;
        TcDate date;
        TcDateFromDateFields(c.nSystemCode, calendar, 1001, c.nKindCode, &date);
        EXPECT_EQ(date.GetSystem(), c.nSystem) << c.nSystemCode;
        EXPECT_EQ(date.GetFlags(), c.nKind) << c.nKindCode;
        EXPECT_EQ(date.GetFieldOfDay(), 1001u);
        uint32_t systemCode = 99, fieldOfDay = 99, rateKind = 99;
        std::tm back{};
        TcDateToDateFields(date, &systemCode, &back, &fieldOfDay, &rateKind);
        EXPECT_EQ(systemCode, c.nSystemCodeBack);
        EXPECT_EQ(fieldOfDay, 1001u);
        EXPECT_EQ(rateKind, c.nRateKindBack);
        EXPECT_EQ(back.tm_year, 113);
        EXPECT_EQ(back.tm_mon, 9);
        EXPECT_EQ(back.tm_mday, 27);
    }
    std::tm calendar{};
    TcDateFromDateFields(4, calendar, 0, 2, nullptr);
    TcDateToDateFields(TcDate(), nullptr, nullptr, nullptr, nullptr);
}

// An in-memory stream: tags, values and version headers in order; a compact stream has no tags.
class MemoryStream : public CTaggedStream
{
public:
    enum class Kind { Tag, Value, Version };
    struct Item {
        Kind kind;
        uint64_t nValue;
    };

    explicit MemoryStream(bool compact) : _bCompact(compact) {}

    std::vector<Item> items;
    int nFailAfter = -1;  // calls that succeed before every call fails with kFailure
    static constexpr int kFailure = 7;

    int OpenTag(uint32_t tag) override
    {
        if (Fail())
            return kFailure;
        if (_bCompact)
            return kCompact;
        items.push_back({Kind::Tag, tag});
        return kTagged;
    }
    int NextTag(uint32_t& tag) override
    {
        if (Fail())
            return kFailure;
        if (_bCompact)
            return kCompact;
        while (_nPos < items.size() && items[_nPos].kind != Kind::Tag)
            ++_nPos;  // skips the value of a tag nobody read
        if (_nPos == items.size())
            return kEndOfObject;
        tag = static_cast<uint32_t>(items[_nPos++].nValue);
        return kTagged;
    }
    int Read16(uint16_t& value) override { return Read(value, Kind::Value); }
    int Read32(uint32_t& value) override { return Read(value, Kind::Value); }
    int Read64(uint64_t& value) override { return Read(value, Kind::Value); }
    int Write16(uint16_t value) override { return Write(value, Kind::Value); }
    int Write32(uint32_t value) override { return Write(value, Kind::Value); }
    int Write64(uint64_t value) override { return Write(value, Kind::Value); }
    int ReadVersion(TaggedVersion& version) override
    {
        uint32_t packed = 0;
        const int result = Read(packed, Kind::Version);
        version.nMajor = static_cast<uint16_t>(packed >> 16);
        version.nMinor = static_cast<uint16_t>(packed);
        return result;
    }
    int WriteVersion(const TaggedVersion& version) override
    {
        return Write(uint32_t{version.nMajor} << 16 | version.nMinor, Kind::Version);
    }

private:
    bool Fail() { return nFailAfter >= 0 && nFailAfter-- == 0 ? (nFailAfter = 0, true) : false; }
    template <typename T>
    int Read(T& value, Kind kind)
    {
        if (Fail())
            return kFailure;
        if (_nPos == items.size() || items[_nPos].kind != kind)
            return 9;
        value = static_cast<T>(items[_nPos++].nValue);
        return 0;
    }
    int Write(uint64_t value, Kind kind)
    {
        if (Fail())
            return kFailure;
        items.push_back({kind, value});
        return 0;
    }

    bool _bCompact;
    size_t _nPos = 0;
};

TcDate SampleDate()
{
    std::tm calendar{};
    calendar.tm_year = 112;
    calendar.tm_mon = 5;
    calendar.tm_mday = 15;
    TcDate date;
    TcDateFromDateFields(4, calendar, 12345, 2, &date);
    return date;
}

TEST(TcDateTest, TaggedStreamRoundTrips)
{
    const TcDate date = SampleDate();
    for (bool compact : {false, true}) {
        MemoryStream stream(compact);
        ASSERT_EQ(date.Save(stream), 0);
        if (compact) {
            ASSERT_EQ(stream.items.size(), 2u);
            EXPECT_EQ(stream.items[1].nValue, 0x9002da595ee4aa90u);
        } else {
            ASSERT_EQ(stream.items.size(), 8u);
            EXPECT_EQ(stream.items[2].nValue, 1u);
            EXPECT_EQ(stream.items[3].nValue, 0x2da595ee4aa90u);
        }
        TcDate back;
        EXPECT_EQ(back.Load(stream), 0);
        EXPECT_EQ(back.GetPacked(), date.GetPacked());
    }
}

TEST(TcDateTest, TaggedStreamRefusals)
{
    using Kind = MemoryStream::Kind;
    auto load = [](std::vector<MemoryStream::Item> items, bool compact = false) {
        MemoryStream stream(compact);
        stream.items = std::move(items);
        TcDate date = SampleDate();
        const int result = date.Load(stream);
        return std::make_pair(result, date.GetPacked());
    };
    EXPECT_EQ(load({{Kind::Tag, 5}, {Kind::Version, 0}}).first, TcDate::kResultBadTag);
    EXPECT_EQ(load({{Kind::Tag, 0}, {Kind::Version, 1 << 16}}).first, TcDate::kResultBadData);
    // A later minor version may add tags, which are skipped.
    auto later = load({{Kind::Tag, 0},
                       {Kind::Version, 1},
                       {Kind::Tag, 1},
                       {Kind::Value, 77},
                       {Kind::Tag, 9},
                       {Kind::Value, 1234},
                       {Kind::Tag, 2},
                       {Kind::Value, 1},
                       {Kind::Tag, 3},
                       {Kind::Value, 3}});
    EXPECT_EQ(later.first, 0);
    EXPECT_EQ(later.second, 77u | uint64_t{3} << 60 | uint64_t{1} << 62);
    EXPECT_EQ(load({{Kind::Tag, 0}, {Kind::Version, 0}, {Kind::Tag, 2}, {Kind::Value, 3}}).first,
              TcDate::kResultBadData);
    EXPECT_EQ(load({{Kind::Tag, 0}, {Kind::Version, 0}, {Kind::Tag, 3}, {Kind::Value, 4}}).first,
              TcDate::kResultBadData);
    EXPECT_EQ(load({{Kind::Tag, 0}, {Kind::Version, 0}, {Kind::Tag, 1}}).first, 9);
    EXPECT_EQ(load({{Kind::Version, 0}, {Kind::Value, 0xC000000000000000u}}, true).first, TcDate::kResultBadData);

    MemoryStream stream(false);
    EXPECT_EQ(SampleDate().SaveBody(stream, TaggedVersion{0, 1}), TcDate::kResultBadData);
    EXPECT_EQ(SampleDate().SaveBody(stream, TaggedVersion{1, 0}), TcDate::kResultBadData);
    EXPECT_TRUE(stream.items.empty());
}

TEST(TcDateTest, StreamFailuresEndTheOperation)
{
    for (bool compact : {false, true}) {
        MemoryStream full(compact);
        ASSERT_EQ(SampleDate().Save(full), 0);
        const int calls = static_cast<int>(full.items.size()) + (compact ? 2 : 0);
        for (int after = 0; after < calls; ++after) {
            MemoryStream stream(compact);
            stream.nFailAfter = after;
            EXPECT_EQ(SampleDate().Save(stream), MemoryStream::kFailure) << after;
            MemoryStream source(compact);
            source.items = full.items;
            source.nFailAfter = after;
            TcDate date;
            EXPECT_EQ(date.Load(source), MemoryStream::kFailure) << after;
        }
    }
}

}  // namespace
