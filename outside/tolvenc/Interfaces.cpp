// The interfaces' destructors are their key functions: their type information lives here only.
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/ContainerBuffer.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/qo/Generic/MobIF.h"
#include "outside/qo/Generic/TapeMobIF.h"

namespace Qo::Generic
{

MobIF::~MobIF() = default;
MasterMobIF::~MasterMobIF() = default;
CompositionMobIF::~CompositionMobIF() = default;
FileMobIF::~FileMobIF() = default;
TapeMobIF::~TapeMobIF() = default;
ContainerIF::~ContainerIF() = default;
ContainerBuffer::~ContainerBuffer() = default;
HelperIF::~HelperIF() = default;

}  // namespace Qo::Generic
