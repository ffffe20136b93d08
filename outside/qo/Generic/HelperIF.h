#pragma once

#include <cstdint>

#include "outside/qo/Generic/ContainerBuffer.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// Open modes of a container.
enum ContainerMode : int32_t {
    kOpenRead = 1,       // the buffer is left as it is
    kOpenReadWrite = 2,  // handing the container back writes it into its buffer
};

// Opens containers on buffers and makes buffers. Made by CreateHelper, freed by DeleteHelper;
// containers and buffers it gives out are handed back to it.
class QO_GENERIC_API HelperIF
{
public:
    virtual int32_t GetKind() = 0;
    // A new empty container (mode 2: OMF, 3: AAF) that writes itself into the buffer when handed back.
    virtual ContainerIF* OpenNewContainer(ContainerBuffer* buffer, int32_t flags, int32_t mode) = 0;
    // The container a buffer holds (ContainerMode); null when the buffer holds none.
    virtual ContainerIF* OpenContainer(ContainerBuffer* buffer, int32_t mode) = 0;
    // Hands an opened container back; a writable one is first written into its buffer.
    virtual bool ReturnContainer(ContainerIF* container) = 0;
    virtual ContainerBuffer* NewContainerBuffer(uint32_t initialSize, uint32_t growBy) = 0;
    // A buffer of a file's contents; null when the file cannot be read.
    virtual ContainerBuffer* BufferFromFile(const char* path) = 0;
    virtual ContainerBuffer* BufferFromMemory(const void* data, uint32_t size, uint32_t growBy) = 0;
    virtual void ReleaseBuffer(ContainerBuffer* buffer) = 0;
    virtual void SetOption(int32_t option) = 0;
    // Why the last open or read failed.
    virtual const char* GetLastError() = 0;

protected:
    virtual ~HelperIF();
};

// A helper for a host's buffer, for a container file, for a container in memory, or for a new
// container of a kind (ContainerKind). Null on failure.
QO_GENERIC_API HelperIF* CreateHelper(ContainerBuffer* hostBuffer);
QO_GENERIC_API HelperIF* CreateHelper(const char* fileName);
QO_GENERIC_API HelperIF* CreateHelper(const char* data, uint32_t size);
QO_GENERIC_API HelperIF* CreateHelper(int32_t kind);
QO_GENERIC_API void DeleteHelper(HelperIF* helper);

}  // namespace Qo::Generic
