#include "common/TcDate.h"

#include <algorithm>

#include "common/CTcConverter.h"

namespace
{

constexpr uint64_t kTicksPerField[TcDate::kSystemCount] = {11988, 9990, 10000};
constexpr uint64_t kTickMask = (uint64_t{1} << 52) - 1;
constexpr uint16_t kFirstYear = 1970;
constexpr uint16_t kLastYear = 2200;

// Days since 1970-01-01 of a proleptic Gregorian date, counted without any time zone.
int64_t DaysFromCivil(int64_t year, uint32_t month, uint32_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const uint32_t yearOfEra = static_cast<uint32_t>(year - era * 400);
    const uint32_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const uint32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, uint32_t& month, uint32_t& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const uint32_t dayOfEra = static_cast<uint32_t>(days - era * 146097);
    const uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint32_t shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void WriteLe32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

TcDate::TcDate() : _nTicks(0), _nSystem(0), _nKind(0) {}

TcDate::TcDate(uint32_t system, uint16_t year, uint8_t month, uint8_t day, uint8_t hours, uint8_t minutes,
               uint8_t seconds, uint8_t frames, uint8_t field)
    : TcDate()
{
    Set(system, year, month, day, hours, minutes, seconds, frames, field);
}

TcDate::TcDate(const TcDate& other) = default;
TcDate& TcDate::operator=(const TcDate& other) = default;
TcDate::~TcDate() = default;

void TcDate::Clear()
{
    _nTicks = 0;
    _nSystem = 0;
    _nKind = 0;
}

uint64_t TcDate::TicksPerField() const
{
    return kTicksPerField[_nSystem];
}

bool TcDate::Set(uint32_t system, uint16_t year, uint8_t month, uint8_t day, uint8_t hours, uint8_t minutes,
                 uint8_t seconds, uint8_t frames, uint8_t field)
{
    if (system >= kSystemCount)
        return false;
    // Calendar arithmetic rather than the local time zone: zones whose standard offset changed over the years
    // would otherwise lose a day. Out-of-range months and days roll over as the C library's mktime does.
    int64_t y = std::clamp(year, kFirstYear, kLastYear);
    const int64_t monthIndex = int64_t{month} - 1;
    y += monthIndex < 0 ? -1 : monthIndex / 12;
    const uint32_t m = static_cast<uint32_t>((monthIndex % 12 + 12) % 12) + 1;
    int64_t days = DaysFromCivil(y, m, 1) + day - 1;
    days = std::clamp(days, int64_t{0}, DaysFromCivil(kLastYear, 12, 31));

    CTcConverter converter;
    converter.SetMode(system);
    TcTimeFields tc;
    tc.nHours = hours;
    tc.nMinutes = minutes;
    tc.nSeconds = seconds;
    tc.nFrames = frames;
    tc.nField = field;
    _nSystem = system;
    _nTicks = static_cast<uint64_t>(days) * kTicksPerDay + uint64_t{converter.TcToField(tc)} * TicksPerField();
    return true;
}

void TcDate::GetDateTime(TcDateFields& fields) const
{
    int64_t year;
    uint32_t month, day;
    CivilFromDays(static_cast<int64_t>(_nTicks / kTicksPerDay), year, month, day);
    CTcConverter converter;
    converter.SetMode(_nSystem);
    TcTimeFields tc;
    converter.FieldToTc(tc, GetFieldOfDay());
    fields.nSystem = _nSystem;
    fields.nYear = static_cast<uint16_t>(year);
    fields.nMonth = static_cast<uint8_t>(month);
    fields.nDay = static_cast<uint8_t>(day);
    fields.nHours = tc.nHours;
    fields.nMinutes = tc.nMinutes;
    fields.nSeconds = tc.nSeconds;
    fields.nFrames = tc.nFrames;
    fields.nField = tc.nField;
}

void TcDate::SubtractFields(uint64_t count)
{
    // Modular on purpose: callers pass a negative difference to move forward.
    _nTicks -= count * TicksPerField();
}

uint32_t TcDate::GetFieldOfDay() const
{
    return static_cast<uint32_t>(_nTicks % kTicksPerDay / TicksPerField());
}

void TcDate::SetFieldOfDay(uint32_t field)
{
    _nTicks = _nTicks / kTicksPerDay * kTicksPerDay + uint64_t{field} * TicksPerField();
}

int TcDate::Unpack(bool refuse, const uint8_t* source)
{
    Clear();
    if (refuse)
        return -1;
    if (!source)
        return -2;
    const uint32_t low = ReadLe32(source);
    const uint32_t high = ReadLe32(source + 4);
    const uint32_t system = high >> 30;
    if (system >= kSystemCount)
        return -3;
    _nTicks = uint64_t{high & 0xFFFFF} << 32 | low;
    _nKind = high >> 28 & 3;
    _nSystem = system;
    return kPackedSize;
}

int TcDate::Pack(bool refuse, uint8_t* destination) const
{
    if (refuse)
        return -1;
    if (destination) {
        const uint64_t packed = GetPacked();
        WriteLe32(destination, static_cast<uint32_t>(packed));
        WriteLe32(destination + 4, static_cast<uint32_t>(packed >> 32));
    }
    return kPackedSize;
}

uint64_t TcDate::GetPacked() const
{
    return (_nTicks & kTickMask) | uint64_t{_nKind & 3} << 60 | uint64_t{_nSystem & 3} << 62;
}

int TcDate::Load(CTaggedStream& stream)
{
    uint32_t tag = 0;
    int result = stream.NextTag(tag);
    if (result == CTaggedStream::kTagged && tag != 0)
        return kResultBadTag;
    if (result != CTaggedStream::kTagged && result != CTaggedStream::kCompact)
        return result;
    TaggedVersion version;
    result = stream.ReadVersion(version);
    if (result != 0)
        return result;
    return LoadBody(stream, version);
}

int TcDate::Save(CTaggedStream& stream) const
{
    int result = stream.OpenTag(0);
    if (result != CTaggedStream::kTagged && result != CTaggedStream::kCompact)
        return result;
    const TaggedVersion version;
    result = stream.WriteVersion(version);
    if (result != 0)
        return result;
    return SaveBody(stream, version);
}

int TcDate::LoadBody(CTaggedStream& stream, const TaggedVersion& version)
{
    if (version.nMajor != 0)
        return kResultBadData;
    uint32_t tag = 0;
    int result = stream.NextTag(tag);
    if (result == CTaggedStream::kCompact) {
        uint64_t packed = 0;
        result = stream.Read64(packed);
        if (result != 0)
            return result;
        uint8_t bytes[kPackedSize];
        WriteLe32(bytes, static_cast<uint32_t>(packed));
        WriteLe32(bytes + 4, static_cast<uint32_t>(packed >> 32));
        return Unpack(false, bytes) == kPackedSize ? 0 : kResultBadData;
    }
    Clear();
    for (; result != CTaggedStream::kEndOfObject; result = stream.NextTag(tag)) {
        if (result != CTaggedStream::kTagged)
            return result;
        uint32_t value = 0;
        switch (tag) {
            case 1:
                result = stream.Read64(_nTicks);
                break;
            case 2:
                result = stream.Read32(value);
                if (result == 0 && value >= kSystemCount)
                    result = kResultBadData;
                _nSystem = result == 0 ? value : 0;
                break;
            case 3:
                result = stream.Read32(value);
                if (result == 0 && value > 3)
                    result = kResultBadData;
                _nKind = result == 0 ? value : 0;
                break;
            default:
                break;  // a later version's tag: the stream skips its value
        }
        if (result != 0)
            return result;
    }
    return 0;
}

int TcDate::SaveBody(CTaggedStream& stream, const TaggedVersion& version) const
{
    if (version.nMajor > 0 || version.nMinor > 0)
        return kResultBadData;
    int result = stream.OpenTag(1);
    if (result == CTaggedStream::kCompact)
        return stream.Write64(GetPacked());
    if (result != CTaggedStream::kTagged)
        return result;
    if ((result = stream.Write64(_nTicks)) != 0 || (result = stream.OpenTag(2)) != 0 ||
        (result = stream.Write32(_nSystem)) != 0 || (result = stream.OpenTag(3)) != 0)
        return result;
    return stream.Write32(_nKind);
}

void TcDateFromDateFields(uint32_t systemCode, const std::tm& date, uint32_t fieldOfDay, uint32_t kindCode,
                          TcDate* target)
{
    if (!target)
        return;
    const uint32_t system = systemCode == 4 ? 2 : systemCode == 5 ? 1 : 0;
    CTcConverter converter;
    converter.SetMode(system);
    TcTimeFields tc;
    converter.FieldToTc(tc, fieldOfDay);
    // Narrowed with clamps so that an odd broken-down value cannot wrap into a plausible one.
    const int64_t year = std::clamp<int64_t>(int64_t{date.tm_year} + 1900, kFirstYear, kLastYear);
    const int64_t month = std::clamp<int64_t>(int64_t{date.tm_mon} + 1, 0, 255);
    const int64_t day = std::clamp<int64_t>(date.tm_mday, 0, 255);
    target->Set(system, static_cast<uint16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day), tc.nHours,
                tc.nMinutes, tc.nSeconds, tc.nFrames, tc.nField);
    target->_nKind = kindCode == 2 ? 1 : kindCode == 3 ? 0 : 2;
}

void TcDateToDateFields(const TcDate& date, uint32_t* systemCode, std::tm* calendar, uint32_t* fieldOfDay,
                        uint32_t* rateKind)
{
    if (systemCode) {
        static constexpr uint32_t kCodes[TcDate::kSystemCount] = {3, 5, 4};
        *systemCode = date.GetSystem() < TcDate::kSystemCount ? kCodes[date.GetSystem()] : 0;
    }
    if (calendar) {
        TcDateFields fields;
        date.GetDateTime(fields);
        calendar->tm_mday = fields.nDay;
        calendar->tm_mon = fields.nMonth - 1;
        calendar->tm_year = fields.nYear - 1900;
    }
    if (fieldOfDay)
        *fieldOfDay = date.GetFieldOfDay();
    if (rateKind) {
        static constexpr uint32_t kRateKinds[4] = {3, 2, 1, 0};
        *rateKind = kRateKinds[date.GetFlags() & 3];
    }
}
