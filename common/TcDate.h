#pragma once

#include <cstdint>
#include <ctime>

#include "common/CTaggedStream.h"

// Broken-down form of a TcDate.
struct TcDateFields {
    uint32_t nSystem = 0;
    uint16_t nYear = 0;  // full year
    uint8_t nMonth = 0;  // 1 to 12
    uint8_t nDay = 0;    // 1 to 31
    uint8_t nHours = 0;
    uint8_t nMinutes = 0;
    uint8_t nSeconds = 0;
    uint8_t nFrames = 0;
    uint8_t nField = 0;  // 0 or 1
};

// A date and time of day exact to the video field: ticks of 1/599400 second since 1970-01-01, in frame system
// 0 (25 frames), 1 (30 frames) or 2 (29.97 drop-frame), with a 2-bit kind carried along.
class TcDate
{
public:
    static constexpr uint64_t kTicksPerSecond = 599400;
    static constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400;
    static constexpr uint32_t kSystemCount = 3;
    static constexpr int kPackedSize = 8;
    // Serialisation results besides the stream's own.
    static constexpr int kResultBadTag = 21;
    static constexpr int kResultBadData = 23;

    TcDate();
    TcDate(uint32_t system, uint16_t year, uint8_t month, uint8_t day, uint8_t hours, uint8_t minutes, uint8_t seconds,
           uint8_t frames, uint8_t field = 0);
    TcDate(const TcDate& other);
    TcDate& operator=(const TcDate& other);
    virtual ~TcDate();

    virtual int Load(CTaggedStream& stream);
    virtual int Save(CTaggedStream& stream) const;
    virtual int LoadBody(CTaggedStream& stream, const TaggedVersion& version);
    virtual int SaveBody(CTaggedStream& stream, const TaggedVersion& version) const;

    // Refuses a system code above 2 and keeps the value. The kind is left unchanged.
    bool Set(uint32_t system, uint16_t year, uint8_t month, uint8_t day, uint8_t hours, uint8_t minutes,
             uint8_t seconds, uint8_t frames, uint8_t field);
    void GetDateTime(TcDateFields& fields) const;
    void SubtractFields(uint64_t count);
    uint32_t GetSystem() const { return _nSystem; }
    uint32_t GetFlags() const { return _nKind; }
    uint32_t GetFieldOfDay() const;
    void SetFieldOfDay(uint32_t field);

    // 8 on success; -1 when refused, -2 without a source, -3 for the unused system code 3. The value is cleared
    // first in every case.
    int Unpack(bool refuse, const uint8_t* source);
    // 8 (also without a destination, as the size); -1 when refused.
    int Pack(bool refuse, uint8_t* destination) const;
    uint64_t GetPacked() const;

private:
    friend void TcDateFromDateFields(uint32_t systemCode, const std::tm& date, uint32_t fieldOfDay, uint32_t kindCode,
                                     TcDate* target);
    void Clear();
    uint64_t TicksPerField() const;

    uint64_t _nTicks;
    uint32_t _nSystem;
    uint32_t _nKind;
};

// Builds a stamp from the writers' codes: system code 4 is 29.97 drop-frame, 5 is 30 frames, any other 25 frames;
// the date is in the C library's broken-down layout (year - 1900, month - 1, day of the month).
void TcDateFromDateFields(uint32_t systemCode, const std::tm& date, uint32_t fieldOfDay, uint32_t kindCode,
                          TcDate* target);
// Splits a stamp into whichever of the outs are given; the calendar record gets only its day, month and year.
void TcDateToDateFields(const TcDate& date, uint32_t* systemCode, std::tm* calendar, uint32_t* fieldOfDay,
                        uint32_t* rateKind);
