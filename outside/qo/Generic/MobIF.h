#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/qo/Generic/Export.h"
#include "outside/qo/Generic/MobID.h"
#include "outside/qo/Generic/TimeCode.h"

namespace Qo::Generic
{

class ContainerIF;

// Video standard values of a mob.
enum VideoStandard : int32_t {
    kVideoStandard25Hz = 1,    // 625 lines, 25 and 50 Hz families
    kVideoStandard2997Hz = 2,  // 525 lines, 29.97 and 59.94 Hz families
};

// One attribute of a mob: a category ("_USER", "_EXPORT", ...), a name and a text value.
struct Attribute {
    std::string category;
    std::string name;
    std::string value;
};

// What every mob kind answers. A mob is opened through its container and released to it, never
// deleted by the caller; its kind is found by a run-time type test (MasterMobIF, CompositionMobIF,
// FileMobIF, TapeMobIF).
class QO_GENERIC_API MobIF
{
public:
    virtual void GetName(std::string& name) = 0;
    virtual void SetName(const char* name) = 0;
    virtual MobID GetMobID() = 0;
    // Length in frames.
    virtual int32_t GetDuration() = 0;
    virtual void SetDuration(int32_t frames) = 0;
    virtual int32_t GetVideoStandard() = 0;
    virtual void SetVideoStandard(int32_t standard) = 0;
    // Attributes without a category, and attributes of a category; a new value replaces an old one.
    virtual void SetAttribute(const char* name, const char* value) = 0;
    virtual bool GetAttribute(const char* name, std::string& value) = 0;
    virtual void SetAttribute(const char* category, const char* name, const char* value) = 0;
    virtual bool GetAttribute(const char* category, const char* name, std::string& value) = 0;
    // Every attribute, in the order they were first set.
    virtual std::vector<Attribute> GetAttributeList() = 0;
    virtual void SetStartTimeCode(const TimeCode& start) = 0;
    virtual void GetStartTimeCode(TimeCode& start) = 0;
    // The container that holds the mob.
    virtual ContainerIF* GetContainer() = 0;

protected:
    virtual ~MobIF();
};

}  // namespace Qo::Generic
