#pragma once

#include <cstdint>

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// The bytes of a container (a composition file's contents). The playback and transfer services
// hand one to the plug-ins; a helper opens the container it holds.
class QO_GENERIC_API ContainerBuffer
{
public:
    virtual const uint8_t* GetData() = 0;
    virtual uint32_t GetSize() = 0;
    // Replaces the contents.
    virtual bool SetData(const uint8_t* data, uint32_t size) = 0;
    // Writes the contents to a file; false when the file cannot be written.
    virtual bool WriteToFile(const char* path) = 0;

    virtual ~ContainerBuffer();
};

}  // namespace Qo::Generic
