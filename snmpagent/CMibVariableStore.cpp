#include "snmpagent/CMibVariableStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "snmpagent/NodwellLog.h"

namespace snmpagent
{
namespace
{
std::string OidText(const Oid& oid)
{
    std::ostringstream out;
    for (uint32_t c : oid)
        out << '.' << c;
    return out.str();
}

bool IsNumberType(uint8_t type)
{
    return type == kAsnInteger || type == kAsnCounter32 || type == kAsnGauge32 || type == kAsnTimeTicks ||
           type == kAsnUInteger32;
}

bool IsEmptyType(uint8_t type)
{
    return type == kAsnBits || type == kAsnSequence || type == kAsnOpaque;
}

// Fixed-size values must fit their field.
bool FitsField(const MibVariable& v, uint32_t bytes)
{
    return v.fieldSize >= bytes && v.offset <= kCommonSnmpStructSize - bytes;
}
}  // namespace

Oid CMibVariableStore::AppendOidToOid(const Oid& identifier, const Oid& components, int32_t extra)
{
    NODWELL_TRACE("before " << OidText(identifier));
    Oid out = identifier;
    out.insert(out.end(), components.begin(), components.end());
    if (extra != -1)
        out.push_back(static_cast<uint32_t>(extra));
    NODWELL_TRACE("after " << OidText(out));
    return out;
}

void CMibVariableStore::AddMibVariable(const Oid& suffix, uint8_t type, uint32_t offset, uint32_t fieldSize,
                                       uint8_t access, int32_t row, bool trapConfig)
{
    _variables.push_back({AppendOidToOid(_view, suffix, row), offset, fieldSize, type, access, trapConfig});
}

void CMibVariableStore::Sort()
{
    std::sort(_variables.begin(), _variables.end(),
              [](const MibVariable& a, const MibVariable& b) { return a.oid < b.oid; });
}

int CMibVariableStore::CompareOid(const Oid& a, const AsnObjectIdentifier& b)
{
    uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(a.size()), b.idLength);
    for (uint32_t i = 0; i < n; ++i) {
        if (a[i] != b.ids[i])
            return a[i] < b.ids[i] ? -1 : 1;
    }
    if (a.size() == b.idLength)
        return 0;
    return a.size() < b.idLength ? -1 : 1;
}

const MibVariable* CMibVariableStore::Find(const AsnObjectIdentifier& name) const
{
    auto it =
        std::lower_bound(_variables.begin(), _variables.end(), name,
                         [](const MibVariable& v, const AsnObjectIdentifier& n) { return CompareOid(v.oid, n) < 0; });
    return it != _variables.end() && CompareOid(it->oid, name) == 0 ? &*it : nullptr;
}

const MibVariable* CMibVariableStore::FindNext(const AsnObjectIdentifier& name) const
{
    auto it =
        std::upper_bound(_variables.begin(), _variables.end(), name,
                         [](const AsnObjectIdentifier& n, const MibVariable& v) { return CompareOid(v.oid, n) > 0; });
    return it != _variables.end() ? &*it : nullptr;
}

bool CMibVariableStore::CopyOid(const Oid& from, AsnObjectIdentifier* to)
{
    to->idLength = 0;
    to->ids = static_cast<uint32_t*>(std::malloc(std::max<size_t>(1, from.size()) * sizeof(uint32_t)));
    if (!to->ids)
        return false;
    std::copy(from.begin(), from.end(), to->ids);
    to->idLength = static_cast<uint32_t>(from.size());
    return true;
}

int32_t CMibVariableStore::GetStoreVar(const MibVariable& v, const CommonSnmpStruct& shadow, AsnAny* value)
{
    if (v.access != kAccessReadOnly && v.access != kAccessReadWrite && v.access != kAccessReadCreate) {
        NODWELL_ERROR(" SNMP_ERRORSTATUS_GENERR2  ");
        return kSnmpErrorGenErr;
    }
    SnmpUtilAsnAnyFree(value);
    const uint8_t* at = shadow.bytes + v.offset;
    if (IsNumberType(v.type) && FitsField(v, 4)) {
        std::memcpy(&value->asnValue.unsigned32, at, 4);
    } else if (v.type == kAsnOctetString && FitsField(v, 1)) {
        // Other processes write these fields: never read past the field for a missing terminator.
        size_t n = strnlen(reinterpret_cast<const char*>(at), v.fieldSize);
        value->asnValue.string.stream = static_cast<uint8_t*>(std::malloc(std::max<size_t>(1, n)));
        if (!value->asnValue.string.stream)
            return kSnmpErrorGenErr;
        std::memcpy(value->asnValue.string.stream, at, n);
        value->asnValue.string.length = static_cast<uint32_t>(n);
    } else if (v.type == kAsnIpAddress && FitsField(v, 4)) {
        value->asnValue.string.stream = static_cast<uint8_t*>(std::malloc(4));
        if (!value->asnValue.string.stream)
            return kSnmpErrorGenErr;
        std::memcpy(value->asnValue.string.stream, at, 4);
        value->asnValue.string.length = 4;
    } else if (v.type == kAsnCounter64 && FitsField(v, 8)) {
        std::memcpy(&value->asnValue.counter64, at, 8);
    } else if (IsEmptyType(v.type)) {
        // served empty
    } else {
        // Identifiers are never stored in the shared block; anything else is a table fault.
        NODWELL_ERROR(" SNMP_ERRORSTATUS_GENERR1  ");
        return kSnmpErrorGenErr;
    }
    value->asnType = v.type;
    return kSnmpErrorNoError;
}

int32_t CMibVariableStore::SetStoreVar(const MibVariable& v, CommonSnmpStruct& shadow, const AsnAny& value)
{
    if (v.access != kAccessReadWrite && v.access != kAccessReadCreate)
        return kSnmpErrorReadOnly;
    if (value.asnType != v.type)
        return kSnmpErrorBadValue;
    uint8_t* at = shadow.bytes + v.offset;
    if (IsNumberType(v.type) && FitsField(v, 4)) {
        std::memcpy(at, &value.asnValue.unsigned32, 4);
    } else if (v.type == kAsnOctetString && FitsField(v, 1)) {
        // The text and its terminator must fit the field; a longer one is refused, not cut.
        uint32_t n = value.asnValue.string.length;
        if (n > v.fieldSize - 1 || (n > 0 && !value.asnValue.string.stream)) {
            NODWELL_WARN("text of " << n << " bytes refused, at most " << v.fieldSize - 1);
            return kSnmpErrorBadValue;
        }
        std::memset(at, 0, v.fieldSize);
        if (n > 0)
            std::memcpy(at, value.asnValue.string.stream, n);
    } else if (v.type == kAsnIpAddress && FitsField(v, 4)) {
        if (value.asnValue.string.length != 4 || !value.asnValue.string.stream)
            return kSnmpErrorBadValue;
        std::memcpy(at, value.asnValue.string.stream, 4);
    } else if (v.type == kAsnCounter64 && FitsField(v, 8)) {
        std::memcpy(at, &value.asnValue.counter64, 8);
    } else if (IsEmptyType(v.type) || v.type == kAsnNull) {
        // nothing stored
    } else {
        NODWELL_ERROR(" SNMP_ERRORSTATUS_GENERR3  ");
        return kSnmpErrorGenErr;
    }
    return kSnmpErrorNoError;
}

}  // namespace snmpagent
