#pragma once

#include <cstdint>

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// What a file mob says of its media; a sound file mob's descriptor is a SoundDescriptor.
class QO_GENERIC_API MediaDescriptor
{
public:
    MediaDescriptor() = default;
    virtual ~MediaDescriptor();
};

class QO_GENERIC_API SoundDescriptor : public MediaDescriptor
{
public:
    explicit SoundDescriptor(int32_t sampleWidth) : _nSampleWidth(sampleWidth) {}
    ~SoundDescriptor() override;

    // Bits per sample (16 or 24).
    int32_t GetSampleWidth() const { return _nSampleWidth; }

private:
    int32_t _nSampleWidth;
};

}  // namespace Qo::Generic
