// The three entry points of libNodwell.so. No exception leaves them.
#include <memory>

#include "platform/ModulePath.h"
#include "snmpagent/CNodwellAgent.h"
#include "snmpagent/NodwellLog.h"

#define NODWELL_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
snmpagent::CNodwellAgent* g_agent = nullptr;

// Owns the started agent. It is made once the start-up is done, so it is destroyed (at unload or at exit)
// before every static the start-up made, the library's locks and log4cxx's among them: the monitor thread
// is stopped and joined while all it uses still stands.
struct RunningAgent {
    std::unique_ptr<snmpagent::CNodwellAgent> agent;
    explicit RunningAgent(std::unique_ptr<snmpagent::CNodwellAgent> started) : agent(std::move(started))
    {
        g_agent = agent.get();
    }
    ~RunningAgent()
    {
        try {
            g_agent = nullptr;
            agent->Stop();
        } catch (...) {
        }
    }
    RunningAgent(const RunningAgent&) = delete;
    RunningAgent& operator=(const RunningAgent&) = delete;
};
}  // namespace

NODWELL_EXPORT bool SnmpExtensionInit(uint32_t /*upTimeReference*/, const char** trapEventName,
                                      AsnObjectIdentifier* supportedView)
{
    try {
        if (!trapEventName || !supportedView)
            return false;
        if (!g_agent) {
            auto agent = std::make_unique<snmpagent::CNodwellAgent>();
            const auto self = platform::ModuleFileOf(reinterpret_cast<const void*>(&SnmpExtensionInit));
            if (!agent->Start(self.parent_path()))
                return false;
            static RunningAgent running(std::move(agent));
        }
        *trapEventName = snmpagent::kTrapEventName;
        *supportedView = *g_agent->View();
        return true;
    } catch (...) {
        return false;
    }
}

NODWELL_EXPORT bool SnmpExtensionQuery(uint8_t requestType, SnmpVarBindList* variableBindings, int32_t* errorStatus,
                                       int32_t* errorIndex)
{
    if (!errorStatus || !errorIndex)
        return false;
    try {
        if (!g_agent) {
            *errorStatus = kSnmpErrorGenErr;
            *errorIndex = 1;
            return true;
        }
        return g_agent->Query(requestType, variableBindings, errorStatus, errorIndex);
    } catch (...) {
        *errorStatus = kSnmpErrorGenErr;
        *errorIndex = 1;
        return true;
    }
}

NODWELL_EXPORT bool SnmpExtensionTrap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap,
                                      uint32_t* timeStamp, SnmpVarBindList* variableBindings)
{
    try {
        if (!g_agent || !enterprise || !genericTrap || !specificTrap || !timeStamp || !variableBindings)
            return false;
        return g_agent->Trap(enterprise, genericTrap, specificTrap, timeStamp, variableBindings);
    } catch (...) {
        return false;
    }
}
