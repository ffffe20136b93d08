#include "automation/ClientBinding.h"

namespace MirelQla
{

ClientBinding::ClientBinding(std::unique_ptr<ApiLoader> loader) : _pLoader(std::move(loader)), _pApi(_pLoader->GetAPI())
{
}

ClientBinding::~ClientBinding()
{
    if (_pApi)
        _pLoader->DeleteAPI(_pApi);
}

ClientBinding::Ref ClientBinding::Bind(std::unique_ptr<ApiLoader> loader)
{
    return Ref(new ClientBinding(std::move(loader)));
}

void ClientBinding::Ref::reset()
{
    if (_p && _p->_nHolds.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete _p;
    _p = nullptr;
}

}  // namespace MirelQla
