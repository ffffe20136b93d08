#pragma once

#include "outside/qo/Generic/MobIF.h"

namespace Qo::Generic
{

class MediaDescriptor;

// The mob of one media file.
class QO_GENERIC_API FileMobIF : public MobIF
{
public:
    // The media's descriptor (a SoundDescriptor for sound); the mob keeps it.
    virtual MediaDescriptor* GetMediaDescriptor() = 0;
    // Makes the mob a sound file mob of that sample width in bits.
    virtual void SetSampleWidth(int32_t bits) = 0;
    virtual void SetMediaPath(const char* path) = 0;
    virtual std::string GetMediaPath() = 0;

protected:
    ~FileMobIF() override;
};

}  // namespace Qo::Generic
