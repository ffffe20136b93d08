#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Event.h"
#include "platform/Registry.h"
#include "platform/SharedEvent.h"
#include "platform/SharedMemory.h"
#include "platform/SharedMutex.h"
#include "snmpagent/CMibVariableStore.h"
#include "snmpagent/CommonSnmpStruct.h"
#include "snmpagent/SnmpExtension.h"
#include "snmpagent/TrapDestinations.h"

namespace snmpagent
{

// Names of the objects shared with the maker's other processes.
constexpr char kSharedBlockName[] = "Korvo_SNMP_SHM";
constexpr char kSharedMutexName[] = "KorvoCommon_SHM_Semaphore";
constexpr char kTrapEventName[] = "KorvoCommon_Trap_Event";
constexpr char kResetEventName[] = "SNMPServiceResetEvent";

// Registry keys (machine hive).
constexpr char kProductConfigKey[] = "SOFTWARE\\Brennhall\\Nodwell\\Config";

// The waits the agent makes; tests shorten them through the environment (KORVO_NODWELL_FIRST_TICK_MS,
// KORVO_NODWELL_TICK_MS, KORVO_NODWELL_MUTEX_WAIT_MS, KORVO_NODWELL_QUERY_WAIT_MS).
struct AgentTimings {
    uint32_t firstTickMs = 5000;
    uint32_t tickMs = 10000;
    uint32_t mutexWaitMs = 10000;  // start-up and the monitor
    // A query or trap call waits at most this long for the shared mutex, then answers from the last good
    // copy: the master agent gives up on a sub-agent after 1 s (snmpd's agentXTimeout) and drops it.
    uint32_t queryWaitMs = 500;
    int64_t staleSeconds = 10;

    static AgentTimings FromEnvironment();
};

// A product of the maker listed in the registry.
struct ProductItem {
    uint32_t ProductType = 0;
    std::string Description;
    std::string SerialNumber;
    std::string ExeName;
    std::string ExePath;
    bool found = false;
    int32_t rowIndex = -1;  // 0-based row of the product table
};

// The SNMP agent: the shadow of the shared block, the MIB over it, the product monitor and the traps.
// Every access to the shadow, the lists and the trap state holds _shadowLock; the shared block is
// touched only under the shared mutex as well. The shared mutex is always taken first (its wait is the
// long one) and _shadowLock after it, so no thread waits for the shared mutex while holding _shadowLock.
class CNodwellAgent
{
public:
    explicit CNodwellAgent(AgentTimings timings = AgentTimings::FromEnvironment());
    ~CNodwellAgent();
    CNodwellAgent(const CNodwellAgent&) = delete;
    CNodwellAgent& operator=(const CNodwellAgent&) = delete;

    // Starts the agent; logging is configured from the folder's "SNMP_log_config.xml".
    bool Start(const std::filesystem::path& configFolder);
    // Stops and joins the monitor (within the time it takes to notice, never a whole tick or mutex wait)
    // and closes the shared objects.
    void Stop();

    bool Query(uint8_t requestType, SnmpVarBindList* bindings, int32_t* errorStatus, int32_t* errorIndex);
    bool Trap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap, uint32_t* timeStamp,
              SnmpVarBindList* bindings);

    AsnObjectIdentifier* View() { return &_viewOid; }
    // One monitor tick now; false when the monitor would end.
    bool MonitorTick();
    std::vector<ProductItem> Products() const;

private:
    // What a SET would leave: the shadow after it and, when it carries destination commands, the
    // registry's destination list before and after.
    struct SetPlan {
        CommonSnmpStruct after{};
        bool trapConfig = false;
        std::vector<std::string> destinations;
    };
    // What the last applied SET changed, to put back on an undo.
    struct UndoRecord {
        bool valid = false;
        CommonSnmpStruct before{};
        std::vector<std::pair<uint32_t, uint32_t>> fields;  // offset and size of each variable written
        bool trapConfig = false;
        std::vector<platform::RegValue> registryBefore;
    };

    void RegisterVariables();
    int32_t GetRequest(SnmpVarBind& binding);
    int32_t GetNextRequest(SnmpVarBind& binding);
    // The three steps of a SET, with the block held: check every binding and plan the result, apply the
    // plan (registry first: a SET that cannot be saved changes nothing), put back the last one.
    int32_t PlanSet(const SnmpVarBindList& bindings, SetPlan& plan, int32_t* errorIndex);
    int32_t ApplySet(const SnmpVarBindList& bindings, const SetPlan& plan);
    int32_t UndoSet(const SnmpVarBindList& bindings);
    void LoadSimpleProductConfig();
    void CheckSimpleProductVersion(bool published);
    // Rebuilds the destination rows from the registry; with the block held.
    void ReloadTrapConfig();
    // Writes the destination list as the values "1", "2", ...; false when it could not be saved.
    bool ChangeRegistryAndSaveConfig(const std::vector<std::string>& destinations);
    void Timer_Thrd();
    bool FillTrapBindings(uint32_t row, SnmpVarBindList* bindings);
    // The wait for the shared mutex a query or trap call may make.
    uint32_t QueryWaitMs() const;
    void NoteBlockWait(bool owned);
    void CopyIn();
    void CopyOut();
    CommonSnmpStruct* Shared() const { return static_cast<CommonSnmpStruct*>(_sharedMemory.Data()); }

    const AgentTimings _timings;
    mutable std::mutex _shadowLock;  // a request waits for it no longer than for the shared mutex
    CommonSnmpStruct _shadow{};
    CMibVariableStore _store;
    std::vector<uint32_t> _viewIds;
    AsnObjectIdentifier _viewOid{};
    std::vector<uint32_t> _enterpriseIds;
    AsnObjectIdentifier _enterpriseOid{};
    std::vector<ProductItem> _products;
    std::vector<std::string> _trapConfig;  // g_MyTrapConfig
    // Per row (index r - 1): the state last trapped and a change the monitor saw since.
    std::array<uint32_t, kRowCount> _lastTrappedState{};
    std::array<bool, kRowCount> _changedSinceTrap{};
    std::vector<uint32_t> _pendingTraps;
    UndoRecord _undo;
    uint32_t _startTick = 0;
    // Set while another process keeps the shared mutex past a query's wait: later queries wait only
    // briefly, so a request of many bindings still answers before the master agent gives up.
    std::atomic<bool> _blockUnavailable{false};

    platform::SharedMemory _sharedMemory;
    platform::SharedMutex _sharedMutex;
    platform::SharedEvent _trapEvent;
    platform::SharedEvent _resetEvent;
    platform::Event _stopEvent{true, false};
    std::thread _monitor;
    bool _started = false;
};

}  // namespace snmpagent
