#include "outside/tolvenc/CHelper.h"

#include <algorithm>
#include <new>

namespace tolvenc
{

namespace
{
// OpenNewContainer's modes.
constexpr int32_t kNewOMFMode = 2;
constexpr int32_t kNewAAFMode = 3;
}  // namespace

CHelper::~CHelper()
{
    // Containers still out go before the buffers they may point to.
    _containers.clear();
    _buffers.clear();
}

Qo::Generic::ContainerIF* CHelper::Keep(std::unique_ptr<CContainer> container)
{
    _containers.push_back(std::move(container));
    return _containers.back().get();
}

Qo::Generic::ContainerBuffer* CHelper::Keep(std::unique_ptr<CContainerBuffer> buffer)
{
    _buffers.push_back(std::move(buffer));
    return _buffers.back().get();
}

Qo::Generic::ContainerIF* CHelper::OpenNewContainer(Qo::Generic::ContainerBuffer* buffer, int32_t, int32_t mode)
{
    int32_t kind = 0;
    if (mode == kNewOMFMode)
        kind = Qo::Generic::kContainerOMF;
    else if (mode == kNewAAFMode)
        kind = Qo::Generic::kContainerAAF;
    else {
        _strError = "unknown container mode " + std::to_string(mode);
        return nullptr;
    }
    auto model = std::make_unique<ContainerModel>();
    model->kind = kind;
    return Keep(std::make_unique<CContainer>(std::move(model), buffer, true));
}

Qo::Generic::ContainerIF* CHelper::OpenContainer(Qo::Generic::ContainerBuffer* buffer, int32_t mode)
{
    if (!buffer) {
        _strError = "no container buffer";
        return nullptr;
    }
    if (mode != Qo::Generic::kOpenRead && mode != Qo::Generic::kOpenReadWrite) {
        _strError = "unknown open mode " + std::to_string(mode);
        return nullptr;
    }
    std::unique_ptr<ContainerModel> model = ContainerModel::Parse(buffer->GetData(), buffer->GetSize(), _strError);
    if (!model)
        return nullptr;
    return Keep(std::make_unique<CContainer>(std::move(model), buffer, mode == Qo::Generic::kOpenReadWrite));
}

bool CHelper::ReturnContainer(Qo::Generic::ContainerIF* container)
{
    auto it = std::find_if(_containers.begin(), _containers.end(),
                           [container](const auto& p) { return p.get() == container; });
    if (it == _containers.end())
        return false;
    bool written = (*it)->WriteBack();
    if (!written)
        _strError = "cannot write the container into its buffer";
    _containers.erase(it);
    return written;
}

Qo::Generic::ContainerBuffer* CHelper::NewContainerBuffer(uint32_t, uint32_t)
{
    return Keep(std::make_unique<CContainerBuffer>());
}

Qo::Generic::ContainerBuffer* CHelper::BufferFromFile(const char* path)
{
    auto buffer = std::make_unique<CContainerBuffer>();
    if (!buffer->ReadFile(path)) {
        _strError = std::string("cannot read ") + (path ? path : "(no file)");
        return nullptr;
    }
    return Keep(std::move(buffer));
}

Qo::Generic::ContainerBuffer* CHelper::BufferFromMemory(const void* data, uint32_t size, uint32_t)
{
    if (!data && size != 0) {
        _strError = "no data";
        return nullptr;
    }
    return Keep(std::make_unique<CContainerBuffer>(data, size));
}

void CHelper::ReleaseBuffer(Qo::Generic::ContainerBuffer* buffer)
{
    std::erase_if(_buffers, [buffer](const auto& p) { return p.get() == buffer; });
}

}  // namespace tolvenc

namespace Qo::Generic
{

// No exception leaves the library's entries: a failed allocation is a null helper.
HelperIF* CreateHelper(ContainerBuffer* hostBuffer)
{
    if (!hostBuffer)
        return nullptr;
    return new (std::nothrow) tolvenc::CHelper(kContainerAAF);
}

HelperIF* CreateHelper(const char* fileName)
{
    if (!fileName)
        return nullptr;
    return new (std::nothrow) tolvenc::CHelper(kContainerAAF);
}

HelperIF* CreateHelper(const char* data, uint32_t size)
{
    if (!data && size != 0)
        return nullptr;
    return new (std::nothrow) tolvenc::CHelper(kContainerAAF);
}

HelperIF* CreateHelper(int32_t kind)
{
    if (kind != kContainerAAF && kind != kContainerOMF)
        return nullptr;
    return new (std::nothrow) tolvenc::CHelper(kind);
}

void DeleteHelper(HelperIF* helper)
{
    delete dynamic_cast<tolvenc::CHelper*>(helper);
}

}  // namespace Qo::Generic
