#pragma once

// The interface between the SNMP agent library and the host that serves it: the Windows extension
// agent's exports and value types, in fixed-width form. Every buffer a binding points to (names,
// strings, identifiers) is malloc'd; whoever replaces one frees the old with free(), and the host
// frees what the agent hands back the same way.

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {

// ASN.1 tags of the values the agent serves.
enum : uint8_t {
    kAsnInteger = 0x02,
    kAsnBits = 0x03,
    kAsnOctetString = 0x04,
    kAsnNull = 0x05,
    kAsnObjectIdentifier = 0x06,
    kAsnSequence = 0x30,
    kAsnIpAddress = 0x40,
    kAsnCounter32 = 0x41,
    kAsnGauge32 = 0x42,
    kAsnTimeTicks = 0x43,
    kAsnOpaque = 0x44,
    kAsnCounter64 = 0x46,
    kAsnUInteger32 = 0x47,
};

// Request types. A SET checks every binding before it changes anything and is applied whole or not at
// all. A host that runs a SET in phases (test, then apply, undone when another part of the request
// fails) uses the two phase types the Windows SNMP service numbers so: the test changes nothing, and
// the undo puts back exactly what the last SET of those bindings changed, registry included.
enum : uint8_t {
    kSnmpPduGet = 0xA0,
    kSnmpPduGetNext = 0xA1,
    kSnmpPduSet = 0xA3,
    kSnmpExtensionSetTest = 0xE0,
    kSnmpExtensionSetUndo = 0xE1,
};
// The error statuses the query answers with: SNMPv1's, and the SNMPv2 ones a SET can need.
enum : int32_t {
    kSnmpErrorNoError = 0,
    kSnmpErrorTooBig = 1,
    kSnmpErrorNoSuchName = 2,
    kSnmpErrorBadValue = 3,
    kSnmpErrorReadOnly = 4,
    kSnmpErrorGenErr = 5,
    kSnmpErrorWrongValue = 10,
    kSnmpErrorInconsistentValue = 12,
    kSnmpErrorResourceUnavailable = 13,
    kSnmpErrorCommitFailed = 14,
    kSnmpErrorUndoFailed = 15,
};

struct AsnObjectIdentifier {
    uint32_t idLength;
    uint32_t* ids;
};

struct AsnOctetString {
    uint8_t* stream;
    uint32_t length;
};

struct AsnAny {
    uint8_t asnType;
    union {
        int32_t number;       // INTEGER
        uint32_t unsigned32;  // Counter32, Gauge32, TimeTicks, UInteger32
        uint64_t counter64;
        AsnOctetString string;  // OCTET STRING, IpAddress (4 bytes), Opaque, BITS
        AsnObjectIdentifier object;
    } asnValue;
};

struct SnmpVarBind {
    AsnObjectIdentifier name;
    AsnAny value;
};

struct SnmpVarBindList {
    SnmpVarBind* list;
    uint32_t len;
};

// Starts the agent. trapEventName receives the name of the shared event (platform::SharedEvent) that
// is set when a trap should be collected; supportedView the agent's subtree (owned by the agent).
bool SnmpExtensionInit(uint32_t upTimeReference, const char** trapEventName, AsnObjectIdentifier* supportedView);

// Answers a GET, GETNEXT or SET for each binding; on failure errorStatus and errorIndex (from 1)
// name the first binding that failed.
bool SnmpExtensionQuery(uint8_t requestType, SnmpVarBindList* variableBindings, int32_t* errorStatus,
                        int32_t* errorIndex);

// Fills one pending trap and returns true; false when none is left. The enterprise is owned by the
// agent; the bindings are the caller's to free.
bool SnmpExtensionTrap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap,
                       uint32_t* timeStamp, SnmpVarBindList* variableBindings);

using PFNSNMPEXTENSIONINIT = decltype(&SnmpExtensionInit);
using PFNSNMPEXTENSIONQUERY = decltype(&SnmpExtensionQuery);
using PFNSNMPEXTENSIONTRAP = decltype(&SnmpExtensionTrap);
}

// Frees what a value owns and leaves it NULL (as SnmpUtilAsnAnyFree).
inline void SnmpUtilAsnAnyFree(AsnAny* value)
{
    switch (value->asnType) {
        case kAsnObjectIdentifier:
            std::free(value->asnValue.object.ids);
            break;
        case kAsnOctetString:
        case kAsnIpAddress:
        case kAsnOpaque:
        case kAsnBits:
            std::free(value->asnValue.string.stream);
            break;
        default:
            break;
    }
    std::memset(value, 0, sizeof *value);
    value->asnType = kAsnNull;
}

// Frees every binding of a list and the list itself (as SnmpUtilVarBindListFree).
inline void SnmpUtilVarBindListFree(SnmpVarBindList* bindings)
{
    for (uint32_t i = 0; bindings->list && i < bindings->len; ++i) {
        std::free(bindings->list[i].name.ids);
        SnmpUtilAsnAnyFree(&bindings->list[i].value);
    }
    std::free(bindings->list);
    bindings->list = nullptr;
    bindings->len = 0;
}
