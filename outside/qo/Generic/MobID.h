#pragma once

#include <cstdint>

#include "outside/qo/Generic/Export.h"

namespace Qo::Generic
{

// The container's own identifier record of a mob.
struct omfUID_t {
    int32_t prefix = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
};

// Mob kinds, as a MobID's data type.
enum MobKind : int32_t {
    kAnyMob = 0,
    kMasterMob = 1,
    kCompositionMob = 2,
    kTapeMob = 3,
    kFileMob = 4,
};

// Identifies one mob of a container. A MobID made from a data type alone names a kind of mob
// (a selection key) and is not valid as an identifier.
class QO_GENERIC_API MobID
{
public:
    MobID();
    explicit MobID(int32_t dataType);
    MobID(int32_t dataType, const omfUID_t& uid);

    bool IsValid() const;
    int32_t GetDataType() const { return _nDataType; }
    omfUID_t GetUID() const { return _uid; }
    operator omfUID_t() const { return _uid; }

    bool operator==(const MobID& other) const;
    bool operator!=(const MobID& other) const { return !(*this == other); }

private:
    int32_t _nDataType;
    omfUID_t _uid;
};

}  // namespace Qo::Generic
