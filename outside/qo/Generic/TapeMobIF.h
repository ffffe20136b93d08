#pragma once

#include "outside/qo/Generic/MobIF.h"
#include "outside/qo/Generic/TimeCode.h"

namespace Qo::Generic
{

// The mob of a source tape.
class QO_GENERIC_API TapeMobIF : public MobIF
{
public:
    // What is known of the tape: its timecode track's start.
    class QO_GENERIC_API TapeVitals
    {
    public:
        TapeVitals();
        TapeVitals(const TapeVitals&) = default;
        TapeVitals& operator=(const TapeVitals&) = default;
        ~TapeVitals();

        TimeCode GetTimeCode() const { return _timeCode; }
        void SetTimeCode(const TimeCode& timeCode) { _timeCode = timeCode; }

    private:
        TimeCode _timeCode;
    };

    virtual void GetTapeVitals(TapeVitals& vitals) = 0;
    virtual void SetTapeVitals(const TapeVitals& vitals) = 0;

protected:
    ~TapeMobIF() override;
};

}  // namespace Qo::Generic
