// The SNMP agent's answers to requests of any bindings, SET first: the plan of a SET (the variable store's lookup
// and set of each value on a copy), its application, the trap configuration it reloads, the host's test and undo
// of a SET, and the GETs that read the values back. Input: byte 0 picks the request (SET, SET, SET test, SET
// undo, GET, GETNEXT); then up to eight bindings, each a name (byte a: below 15 a variable of the
// agent's MIB, with byte b its row; 15 the view with b mod 24 components of one byte each appended; else a name of
// b mod 24 such components), a value type (byte, one of the ASN types in turn) and its value (byte n and
// n bytes: string bytes, identifier components, or a number's bytes, little-endian).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "snmpagent/CNodwellAgent.h"
#include "tests/fuzz/FuzzTempFolder.h"

namespace
{

const std::vector<uint32_t> kView = {1, 3, 6, 1, 4, 1, 48021, 2, 2};

struct Known {
    std::vector<uint32_t> suffix;
    bool row;
};
const Known kKnown[] = {
    {{1, 1, 1, 1}, true}, {{1, 1, 1, 3}, true}, {{1, 1, 1, 6}, true}, {{2, 1, 0}, false},   {{2, 2, 0}, false},
    {{2, 3, 0}, false},   {{2, 4, 1, 1}, true}, {{2, 4, 1, 2}, true}, {{2, 4, 1, 3}, true}, {{2, 4, 1, 4}, true},
    {{3, 1, 1, 1}, true}, {{3, 1, 1, 3}, true}, {{3, 2, 0}, false},   {{3, 3, 0}, false},   {{3, 1, 1}, false},
};

const uint8_t kTypes[] = {kAsnInteger,    kAsnOctetString, kAsnIpAddress, kAsnNull,   kAsnObjectIdentifier,
                          kAsnCounter32,  kAsnGauge32,     kAsnTimeTicks, kAsnOpaque, kAsnCounter64,
                          kAsnUInteger32, kAsnBits,        kAsnSequence};

const uint8_t kRequests[] = {kSnmpPduSet,           kSnmpPduSet, kSnmpExtensionSetTest,
                             kSnmpExtensionSetUndo, kSnmpPduGet, kSnmpPduGetNext};

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : _data(data), _size(size) {}
    bool More() const { return _at < _size; }
    uint8_t Byte() { return _at < _size ? _data[_at++] : 0; }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _at = 0;
};

uint32_t* Ids(const std::vector<uint32_t>& ids)
{
    auto* out = static_cast<uint32_t*>(std::malloc(ids.size() * sizeof(uint32_t) + 1));
    std::copy(ids.begin(), ids.end(), out);
    return out;
}

SnmpVarBind ReadBinding(Reader& in)
{
    SnmpVarBind binding{};
    const uint8_t which = in.Byte();
    const uint8_t b = in.Byte();
    std::vector<uint32_t> name;
    if (which < 15) {
        name = kView;
        name.insert(name.end(), kKnown[which].suffix.begin(), kKnown[which].suffix.end());
        if (kKnown[which].row)
            name.push_back(b);
    } else {
        if (which == 15)
            name = kView;
        for (uint8_t i = 0; i < b % 24; ++i)
            name.push_back(in.Byte());
    }
    binding.name.ids = Ids(name);
    binding.name.idLength = static_cast<uint32_t>(name.size());

    AsnAny& value = binding.value;
    value.asnType = kTypes[in.Byte() % sizeof kTypes];
    const uint8_t n = in.Byte();
    std::vector<uint8_t> bytes;
    for (uint8_t i = 0; i < n; ++i)
        bytes.push_back(in.Byte());
    switch (value.asnType) {
        case kAsnOctetString:
        case kAsnIpAddress:
        case kAsnOpaque:
        case kAsnBits:
            value.asnValue.string.stream = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
            std::copy(bytes.begin(), bytes.end(), value.asnValue.string.stream);
            value.asnValue.string.length = static_cast<uint32_t>(bytes.size());
            break;
        case kAsnObjectIdentifier: {
            std::vector<uint32_t> ids(bytes.begin(), bytes.end());
            value.asnValue.object.ids = Ids(ids);
            value.asnValue.object.idLength = static_cast<uint32_t>(ids.size());
            break;
        }
        default: {
            uint64_t number = 0;
            for (size_t i = 0; i < bytes.size() && i < 8; ++i)
                number |= uint64_t{bytes[i]} << (8 * i);
            value.asnValue.counter64 = number;
            break;
        }
    }
    return binding;
}

snmpagent::CNodwellAgent* g_pAgent = nullptr;

// The monitor thread must end before the process: a thread left waiting on an event blocks the exit. The stop
// runs on a thread of its own, as the main thread's thread-locals (the log's message buffer) are gone by now.
void StopAgent()
{
    std::thread([] { g_pAgent->Stop(); }).join();
}

snmpagent::CNodwellAgent& Agent()
{
    static snmpagent::CNodwellAgent* agent = [] {
        snmpagent::AgentTimings timings;
        timings.firstTickMs = 600000;
        timings.tickMs = 600000;
        timings.mutexWaitMs = 100;
        // The SNMP service's trap configuration key, which a SET of the destinations rewrites.
        platform::Registry::CreateKey(platform::RegHive::LocalMachine, snmpagent::kTrapConfigKey);
        auto* made = new snmpagent::CNodwellAgent(timings);
        if (!made->Start(FuzzTempFolder())) {
            std::fprintf(stderr, "SnmpSetFuzzer: the agent did not start\n");
            std::abort();
        }
        g_pAgent = made;
        std::atexit(StopAgent);
        return made;
    }();
    return *agent;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The agent's registry, shared objects and log of this run alone.
    FuzzIsolate();
    Agent();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    Reader in(data + 1, size - 1);
    std::vector<SnmpVarBind> bindings;
    while (in.More() && bindings.size() < 8)
        bindings.push_back(ReadBinding(in));
    SnmpVarBindList list{};
    list.len = static_cast<uint32_t>(bindings.size());
    list.list = static_cast<SnmpVarBind*>(std::calloc(bindings.size() + 1, sizeof(SnmpVarBind)));
    std::copy(bindings.begin(), bindings.end(), list.list);
    int32_t status = -1, index = -1;
    Agent().Query(kRequests[data[0] % sizeof kRequests], &list, &status, &index);
    if (status < 0 || index < 0 || index > static_cast<int32_t>(list.len))
        std::abort();
    SnmpUtilVarBindListFree(&list);
    return 0;
}
