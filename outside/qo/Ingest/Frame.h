#pragma once

#include <cstdint>

namespace Qo::Ingest
{

// One frame a receiver hands to the transfer service: a picture (type code 0) or one audio track's
// samples (type code = track number). The service gives each back through Release.
class Frame
{
public:
    virtual ~Frame() = default;
    virtual uint8_t* GetData() = 0;
    virtual uint32_t GetSize() = 0;
    virtual uint32_t GetNumSamples() = 0;
    virtual int32_t GetTypeCode() = 0;
    // Gives the frame back to its maker, which frees it.
    virtual void Release() = 0;
};

}  // namespace Qo::Ingest
