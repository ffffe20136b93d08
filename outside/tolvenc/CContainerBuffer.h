#pragma once

#include <vector>

#include "outside/qo/Generic/ContainerBuffer.h"

namespace tolvenc
{

// A container's bytes in memory.
class CContainerBuffer final : public Qo::Generic::ContainerBuffer
{
public:
    CContainerBuffer() = default;
    CContainerBuffer(const void* data, uint32_t size);

    const uint8_t* GetData() override { return _bytes.data(); }
    uint32_t GetSize() override { return static_cast<uint32_t>(_bytes.size()); }
    bool SetData(const uint8_t* data, uint32_t size) override;
    bool WriteToFile(const char* path) override;

    // A file's contents; false when it cannot be read or is too big for a container.
    bool ReadFile(const char* path);

private:
    std::vector<uint8_t> _bytes;
};

}  // namespace tolvenc
