#pragma once

#include <cstdint>
#include <vector>

#include "snmpagent/CommonSnmpStruct.h"
#include "snmpagent/SnmpExtension.h"

namespace snmpagent
{

using Oid = std::vector<uint32_t>;

// Access of a MIB variable.
enum : uint8_t { kAccessReadOnly = 2, kAccessReadWrite = 3, kAccessReadCreate = 4 };

// One MIB variable: its identifier and where its value lives in the shadow block.
struct MibVariable {
    Oid oid;
    uint32_t offset = 0;     // into CommonSnmpStruct
    uint32_t fieldSize = 0;  // bytes the value may take there, terminator included for texts
    uint8_t type = 0;
    uint8_t access = 0;
    bool trapConfig = false;  // a SET reloads the trap destinations
};

// The agent's variables, sorted by identifier, and the reading and writing of their values.
class CMibVariableStore
{
public:
    explicit CMibVariableStore(Oid view) : _view(std::move(view)) {}

    // Adds view + suffix (+ row unless row is -1).
    void AddMibVariable(const Oid& suffix, uint8_t type, uint32_t offset, uint32_t fieldSize, uint8_t access,
                        int32_t row, bool trapConfig);
    void Sort();
    void Clear() { _variables.clear(); }

    const Oid& View() const { return _view; }
    const std::vector<MibVariable>& Variables() const { return _variables; }
    const MibVariable* Find(const AsnObjectIdentifier& name) const;
    // The first variable after name in identifier order.
    const MibVariable* FindNext(const AsnObjectIdentifier& name) const;

    // Reads a value into value (its buffers malloc'd); an SNMPv1 error status.
    static int32_t GetStoreVar(const MibVariable& variable, const CommonSnmpStruct& shadow, AsnAny* value);
    // Writes a value; nothing changes unless the result is 0.
    static int32_t SetStoreVar(const MibVariable& variable, CommonSnmpStruct& shadow, const AsnAny& value);

    // identifier + components (+ extra unless -1).
    static Oid AppendOidToOid(const Oid& identifier, const Oid& components, int32_t extra);
    // <0, 0, >0 as a is before, equal to or after b.
    static int CompareOid(const Oid& a, const AsnObjectIdentifier& b);
    // A malloc'd copy; false when out of memory.
    static bool CopyOid(const Oid& from, AsnObjectIdentifier* to);

private:
    Oid _view;
    std::vector<MibVariable> _variables;
};

}  // namespace snmpagent
