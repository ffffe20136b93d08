#include "outside/snmp/CExtensionAgent.h"

#include <cstdlib>
#include <cstring>

namespace snmphost
{

CExtensionAgent::~CExtensionAgent()
{
    Unload();
}

bool CExtensionAgent::Load(const std::string& path, std::string& error)
{
    if (!_library.Open(path)) {
        error = _library.LastError();
        return false;
    }
    auto init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(_library.Symbol("SnmpExtensionInit"));
    _query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(_library.Symbol("SnmpExtensionQuery"));
    _trap = reinterpret_cast<PFNSNMPEXTENSIONTRAP>(_library.Symbol("SnmpExtensionTrap"));
    if (!init || !_query || !_trap) {
        error = "the library lacks an SnmpExtension export";
        Unload();
        return false;
    }
    const char* eventName = nullptr;
    AsnObjectIdentifier view{};
    if (!init(0, &eventName, &view) || !eventName || !view.ids || view.idLength == 0) {
        error = "SnmpExtensionInit failed";
        Unload();
        return false;
    }
    _view.assign(view.ids, view.ids + view.idLength);
    if (!_trapEvent.Open(eventName, false, false)) {
        error = std::string("cannot open the trap event ") + eventName;
        Unload();
        return false;
    }
    return true;
}

void CExtensionAgent::Unload()
{
    _query = nullptr;
    _trap = nullptr;
    _library.Close();
}

bool CExtensionAgent::Query(uint8_t requestType, SnmpVarBindList* bindings, int32_t* errorStatus,
                            int32_t* errorIndex) const
{
    return _query && _query(requestType, bindings, errorStatus, errorIndex);
}

bool CExtensionAgent::Trap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap,
                           uint32_t* timeStamp, SnmpVarBindList* bindings) const
{
    return _trap && _trap(enterprise, genericTrap, specificTrap, timeStamp, bindings);
}

bool CExtensionAgent::TrapRequested()
{
    return _trapEvent.IsOpen() && _trapEvent.Wait(0) == platform::kWaitObject0;
}

}  // namespace snmphost
