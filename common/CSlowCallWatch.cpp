#include "common/CSlowCallWatch.h"

#include <cinttypes>
#include <utility>

#include "common/CLogManager.h"
#include "platform/Clock.h"

CSlowCallWatch::CSlowCallWatch(const std::string& description, int32_t limitMs, std::string logName)
    : _szDescription(description), _nLimitMs(limitMs), _dStart(platform::PerfSeconds()), _szLogName(std::move(logName))
{
}

CSlowCallWatch::~CSlowCallWatch()
{
    if (_nLimitMs >= 0)
        Stop();
}

void CSlowCallWatch::Stop()
{
    _dStop = platform::PerfSeconds();
    auto elapsedMs = static_cast<int64_t>((_dStop - _dStart) * 1000.0);
    if (_nLimitMs >= 0 && elapsedMs > _nLimitMs)
        theLogManager.LogTo(_szLogName, "** SLOW ** %s - %" PRId64 " / %" PRId32, _szDescription.c_str(), elapsedMs,
                            _nLimitMs);
    _nLimitMs = -1;
    _szDescription.clear();
}
