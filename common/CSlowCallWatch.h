#pragma once

#include <cstdint>
#include <string>

// Times a scope and logs it when it took longer than its limit.
class CSlowCallWatch
{
public:
    CSlowCallWatch(const std::string& description, int32_t limitMs, std::string logName);
    virtual ~CSlowCallWatch();
    CSlowCallWatch(const CSlowCallWatch&) = delete;
    CSlowCallWatch& operator=(const CSlowCallWatch&) = delete;

    // Logs "** SLOW **" when the elapsed time passed the limit; a stopped watch stays silent.
    void Stop();

private:
    std::string _szDescription;
    int32_t _nLimitMs;  // -1 once stopped
    double _dStart;
    double _dStop = 0.0;
    std::string _szLogName;
};
