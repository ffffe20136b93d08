#pragma once

#include <memory>
#include <string>
#include <vector>

#include "outside/qo/Generic/HelperIF.h"
#include "outside/tolvenc/CContainer.h"
#include "outside/tolvenc/CContainerBuffer.h"

namespace tolvenc
{

// The helper: opens containers on buffers and keeps what it gave out until it is handed back or the
// helper goes.
class CHelper final : public Qo::Generic::HelperIF
{
public:
    explicit CHelper(int32_t kind) : _nKind(kind) {}
    ~CHelper() override;

    int32_t GetKind() override { return _nKind; }
    Qo::Generic::ContainerIF* OpenNewContainer(Qo::Generic::ContainerBuffer* buffer, int32_t flags,
                                               int32_t mode) override;
    Qo::Generic::ContainerIF* OpenContainer(Qo::Generic::ContainerBuffer* buffer, int32_t mode) override;
    bool ReturnContainer(Qo::Generic::ContainerIF* container) override;
    Qo::Generic::ContainerBuffer* NewContainerBuffer(uint32_t initialSize, uint32_t growBy) override;
    Qo::Generic::ContainerBuffer* BufferFromFile(const char* path) override;
    Qo::Generic::ContainerBuffer* BufferFromMemory(const void* data, uint32_t size, uint32_t growBy) override;
    void ReleaseBuffer(Qo::Generic::ContainerBuffer* buffer) override;
    void SetOption(int32_t option) override { _nOption = option; }
    const char* GetLastError() override { return _strError.c_str(); }

private:
    Qo::Generic::ContainerIF* Keep(std::unique_ptr<CContainer> container);
    Qo::Generic::ContainerBuffer* Keep(std::unique_ptr<CContainerBuffer> buffer);

    int32_t _nKind;
    int32_t _nOption = 0;
    std::string _strError;
    std::vector<std::unique_ptr<CContainer>> _containers;
    std::vector<std::unique_ptr<CContainerBuffer>> _buffers;
};

}  // namespace tolvenc
