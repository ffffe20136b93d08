#pragma once

#include <string>
#include <vector>

#include "platform/SharedEvent.h"
#include "platform/SharedLibrary.h"
#include "snmpagent/SnmpExtension.h"

namespace snmphost
{

// An extension agent library loaded as the Windows SNMP service loads one: its three exports, its
// view and its trap event.
class CExtensionAgent
{
public:
    CExtensionAgent() = default;
    ~CExtensionAgent();
    CExtensionAgent(const CExtensionAgent&) = delete;
    CExtensionAgent& operator=(const CExtensionAgent&) = delete;

    // Loads the library and calls its init; error() says why it failed.
    bool Load(const std::string& path, std::string& error);
    void Unload();

    const std::vector<uint32_t>& View() const { return _view; }
    bool Query(uint8_t requestType, SnmpVarBindList* bindings, int32_t* errorStatus, int32_t* errorIndex) const;
    bool Trap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap, uint32_t* timeStamp,
              SnmpVarBindList* bindings) const;
    // True once when the agent asked for its traps to be collected.
    bool TrapRequested();

private:
    platform::SharedLibrary _library;
    PFNSNMPEXTENSIONQUERY _query = nullptr;
    PFNSNMPEXTENSIONTRAP _trap = nullptr;
    std::vector<uint32_t> _view;
    platform::SharedEvent _trapEvent;
};

}  // namespace snmphost
