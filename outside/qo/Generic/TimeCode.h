#pragma once

#include <cstdint>

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// A start timecode as the editing system keeps it: nominal rate, drop-frame flag and the four fields.
class QO_GENERIC_API TimeCode
{
public:
    TimeCode();
    TimeCode(int32_t rate, bool drop, int32_t hours, int32_t minutes, int32_t seconds, int32_t frames);

    bool operator==(const TimeCode& other) const;

    int32_t rate;
    bool drop;
    int32_t hours;
    int32_t minutes;
    int32_t seconds;
    int32_t frames;
};

}  // namespace Qo::Generic
