#include <string>

#include "outside/qo/Generic/ErrorIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/MobID.h"
#include "outside/qo/Generic/TapeMobIF.h"
#include "outside/qo/Generic/TimeCode.h"

namespace Qo::Generic
{

MobID::MobID() : _nDataType(kAnyMob) {}

MobID::MobID(int32_t dataType) : _nDataType(dataType) {}

MobID::MobID(int32_t dataType, const omfUID_t& uid) : _nDataType(dataType), _uid(uid) {}

bool MobID::IsValid() const
{
    return _uid.prefix != 0 || _uid.major != 0 || _uid.minor != 0;
}

bool MobID::operator==(const MobID& other) const
{
    return _uid.prefix == other._uid.prefix && _uid.major == other._uid.major && _uid.minor == other._uid.minor;
}

TimeCode::TimeCode() : rate(0), drop(false), hours(0), minutes(0), seconds(0), frames(0) {}

TimeCode::TimeCode(int32_t rate, bool drop, int32_t hours, int32_t minutes, int32_t seconds, int32_t frames)
    : rate(rate), drop(drop), hours(hours), minutes(minutes), seconds(seconds), frames(frames)
{
}

bool TimeCode::operator==(const TimeCode& other) const
{
    return rate == other.rate && drop == other.drop && hours == other.hours && minutes == other.minutes &&
           seconds == other.seconds && frames == other.frames;
}

namespace
{
std::string DefaultErrorText(int32_t code)
{
    switch (code) {
        case 5:
            return "Qo::Generic: out of memory";
        default:
            return "Qo::Generic: error " + std::to_string(code);
    }
}
}  // namespace

ErrorIF::ErrorIF(int32_t code) : _nCode(code), _strText(DefaultErrorText(code)) {}

ErrorIF::ErrorIF(int32_t code, const char* text) : _nCode(code), _strText(text ? text : DefaultErrorText(code)) {}

ErrorIF::~ErrorIF() = default;

TapeMobIF::TapeVitals::TapeVitals() = default;

TapeMobIF::TapeVitals::~TapeVitals() = default;

MediaDescriptor::~MediaDescriptor() = default;

SoundDescriptor::~SoundDescriptor() = default;

}  // namespace Qo::Generic
