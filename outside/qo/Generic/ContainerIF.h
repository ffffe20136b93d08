#pragma once

#include <cstdint>
#include <vector>

#include "outside/qo/Generic/Export.h"
#include "outside/qo/Generic/MobID.h"

namespace Qo::Generic
{

class MobIF;

// Container kinds.
enum ContainerKind : int32_t {
    kContainerAAF = 0,
    kContainerOMF = 1,
};

// An opened container: a set of mobs. Opened and handed back through a HelperIF.
class QO_GENERIC_API ContainerIF
{
public:
    virtual int32_t GetKind() = 0;
    virtual std::vector<MobID> GetMasterMobIDs() = 0;
    // Composition mobs; with topLevelOnly, only those no other composition uses.
    virtual std::vector<MobID> GetCompositionMobIDs(bool topLevelOnly) = 0;
    // Mobs of the kind that the key's data type names (kAnyMob: every mob).
    virtual std::vector<MobID> GetMobIDs(MobID kind) = 0;
    // A new mob of a kind (MobKind), opened; null for an unknown kind.
    virtual MobIF* CreateMob(int32_t kind) = 0;
    // The mob of an id, opened until ReleaseMob; null when there is none.
    virtual MobIF* OpenMob(MobID id) = 0;
    virtual void ReleaseMob(MobIF* mob) = 0;

protected:
    virtual ~ContainerIF();
};

}  // namespace Qo::Generic
