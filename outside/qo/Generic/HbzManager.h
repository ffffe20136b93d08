#pragma once

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// A host-SDK class whose assignment the modules that need it export themselves
// (`HbzManager& HbzManager::operator=(const HbzManager&) = default;` in one of their sources).
class QO_GENERIC_API HbzManager
{
public:
    HbzManager() = default;
    HbzManager(const HbzManager&) = default;
    HbzManager& operator=(const HbzManager& other);
};

}  // namespace Qo::Generic
