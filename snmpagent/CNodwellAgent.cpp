#include "snmpagent/CNodwellAgent.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "snmpagent/ElfVersionNote.h"
#include "snmpagent/NodwellLog.h"
#include "snmpagent/ProcessList.h"

namespace snmpagent
{
namespace
{
using platform::RegHive;
using platform::Registry;

const Oid kView = {1, 3, 6, 1, 4, 1, 48021, 2, 2};
const Oid kEnterpriseSuffix = {0, 1};
constexpr int32_t kGenericEnterpriseSpecific = 6;
constexpr size_t kMaxTrapAddressText = 1024;
constexpr uint32_t kMaxOidLength = 128;  // the most SNMP allows
constexpr size_t kTrapBindingCount = 6;  // the six product columns of the row
// What a request still waits for the agent's own lock after a wait for the shared mutex that used its time.
constexpr auto kShadowWaitFloor = std::chrono::milliseconds(20);

uint32_t EnvMs(const char* name, uint32_t fallback)
{
    const char* v = getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    unsigned long n = strtoul(v, &end, 10);
    return (*end == '\0' && n > 0 && n <= 3600000) ? static_cast<uint32_t>(n) : fallback;
}

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

// Takes the lock by the deadline, false when it could not. Tried in short steps: a plain mutex, as the thread
// checker follows no timed lock.
bool LockBy(std::unique_lock<std::mutex>& guard, std::chrono::steady_clock::time_point deadline)
{
    while (!guard.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// "WaitForSingleObject(<handle>,<ms>)": the wait a log line reports.
std::string WaitText(const char* handle, uint32_t waitMs)
{
    return std::string("WaitForSingleObject(") + handle + "," + std::to_string(waitMs) + ")";
}

// Holds the shared mutex for a scope. A mutex whose holder died is taken over (logged) and its block
// used as it stands; the copies a Windows agent skipped then would publish a stale shadow over it.
// A wait that timed out or failed owns nothing and releases nothing. With a stop event the wait is
// made in short slices and given up as soon as the event is set.
class CSharedBlockLock
{
public:
    // handle: the name the log gives the mutex; the log names the wait as made, in ms.
    CSharedBlockLock(platform::SharedMutex& mutex, uint32_t waitMs, const char* handle,
                     const platform::Event* stop = nullptr)
        : _mutex(mutex)
    {
        const std::string what = WaitText(handle, waitMs);
        constexpr uint32_t kSliceMs = 50;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            const uint32_t wait = static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
            _result = mutex.Lock(stop ? std::min(wait, kSliceMs) : wait);
            if (_result != platform::kWaitTimeout || !stop || wait <= kSliceMs || stop->IsSet())
                break;
        }
        if (_result == platform::kWaitTimeout)
            NODWELL_WARN(what << " WAIT_TIMEOUT ");
        else if (_result == platform::kWaitAbandoned)
            NODWELL_WARN(what << " WAIT_ABANDONED ");
        else if (_result != platform::kWaitObject0)
            NODWELL_ERROR(what << " default " << _result);
    }
    ~CSharedBlockLock()
    {
        if (Owned())
            _mutex.Unlock();
    }
    CSharedBlockLock(const CSharedBlockLock&) = delete;
    CSharedBlockLock& operator=(const CSharedBlockLock&) = delete;

    bool Owned() const { return _result == platform::kWaitObject0 || _result == platform::kWaitAbandoned; }

private:
    platform::SharedMutex& _mutex;
    uint32_t _result = platform::kWaitFailed;
};

std::string ReadText(const std::string& key, const char* name, size_t fieldSize)
{
    std::string text = Registry::GetString(RegHive::LocalMachine, key, name).value_or("");
    text = text.substr(0, strnlen(text.c_str(), fieldSize - 1));
    NODWELL_INFO(name << " = " << text);
    return text;
}

std::string AddressText(const uint8_t* address)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    return text;
}

// The destination row (1..10) an offset of the shared block lies in, 0 outside the table.
uint32_t TrapRowOf(uint32_t offset)
{
    if (offset < kTrapTableOffset || offset >= kTrapTableOffset + kRowCount * kTrapRowSize)
        return 0;
    return (offset - kTrapTableOffset) / kTrapRowSize + 1;
}

bool ZeroAddress(const CommonSnmpStruct& block, uint32_t row)
{
    const uint8_t* a = block.bytes + TrapRow(row) + kTrapAddress;
    return a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0;
}

// Puts the values of the destination key back as they were, names and order included.
bool RestoreTrapValues(const std::vector<platform::RegValue>& values)
{
    bool ok = true;
    for (const platform::RegValue& value : Registry::EnumValues(RegHive::LocalMachine, TrapDestinationKey()))
        ok = Registry::DeleteValue(RegHive::LocalMachine, TrapDestinationKey(), value.name) && ok;
    for (const platform::RegValue& value : values)
        ok = Registry::Set(RegHive::LocalMachine, TrapDestinationKey(), value) && ok;
    if (!ok)
        NODWELL_ERROR("the trap destinations could not be put back in the registry");
    return ok;
}

}  // namespace

AgentTimings AgentTimings::FromEnvironment()
{
    AgentTimings t;
    t.firstTickMs = EnvMs("KORVO_NODWELL_FIRST_TICK_MS", t.firstTickMs);
    t.tickMs = EnvMs("KORVO_NODWELL_TICK_MS", t.tickMs);
    t.mutexWaitMs = EnvMs("KORVO_NODWELL_MUTEX_WAIT_MS", t.mutexWaitMs);
    t.queryWaitMs = EnvMs("KORVO_NODWELL_QUERY_WAIT_MS", t.queryWaitMs);
    return t;
}

CNodwellAgent::CNodwellAgent(AgentTimings timings) : _timings(timings), _store(kView)
{
    _viewIds = kView;
    _viewOid = {static_cast<uint32_t>(_viewIds.size()), _viewIds.data()};
    _enterpriseIds = CMibVariableStore::AppendOidToOid(kView, kEnterpriseSuffix, -1);
    _enterpriseOid = {static_cast<uint32_t>(_enterpriseIds.size()), _enterpriseIds.data()};
}

CNodwellAgent::~CNodwellAgent()
{
    Stop();
}

void CNodwellAgent::CopyIn()
{
    std::memcpy(_shadow.bytes + kReservedSize, Shared()->bytes + kReservedSize, kCommonSnmpStructSize - kReservedSize);
}

// The reserved first bytes belong to other processes: the agent never writes them.
void CNodwellAgent::CopyOut()
{
    std::memcpy(Shared()->bytes + kReservedSize, _shadow.bytes + kReservedSize, kCommonSnmpStructSize - kReservedSize);
}

uint32_t CNodwellAgent::QueryWaitMs() const
{
    constexpr uint32_t kWhileHeldMs = 10;  // enough for a holder that only writes its values
    return _blockUnavailable ? std::min(_timings.queryWaitMs, kWhileHeldMs) : _timings.queryWaitMs;
}

void CNodwellAgent::NoteBlockWait(bool owned)
{
    if (owned == _blockUnavailable.exchange(!owned))
        NODWELL_WARN((owned ? "the shared block is available again"
                            : "the shared mutex is held elsewhere: answering from the last copy of the block"));
}

bool CNodwellAgent::Start(const std::filesystem::path& configFolder)
{
    if (_started)
        return true;
    const bool logConfigured = ConfigureLogging(configFolder);
    NODWELL_INFO(" ---------- ");
    NODWELL_INFO("  New Boot  ");
    NODWELL_INFO(" ---------- ");
    NODWELL_INFO("Log Open ");
    if (!logConfigured)
        NODWELL_WARN("no SNMP_log_config.xml in " << configFolder.string());

    if (!_trapEvent.Open(kTrapEventName, false, false) || !_sharedMutex.Open(kSharedMutexName) ||
        !_resetEvent.Open(kResetEventName, false, false)) {
        NODWELL_ERROR("SnmpExtensionInit: the shared mutex or events cannot be opened");
        return false;
    }
    // Without the block every copy would write nowhere: refuse to start rather than serve a dead MIB.
    if (!_sharedMemory.Open(kSharedBlockName, kCommonSnmpStructSize)) {
        NODWELL_ERROR("SnmpExtensionInit::CreateFileMapping Failed " << _sharedMemory.LastError());
        return false;
    }
    _startTick = platform::TickCount();

    {
        CSharedBlockLock lock(_sharedMutex, _timings.mutexWaitMs, "g_hSemaphore");
        std::lock_guard<std::mutex> guard(_shadowLock);
        RegisterVariables();
        char version[kTextFieldSize];
        std::snprintf(version, sizeof version, "%02d.%02d.%02d", 101, 0, 2);
        _shadow.SetText(kAgentVersionOffset, kTextFieldSize, version);
        _shadow.SetU32(kAgentScalar22Offset, 10);
        _shadow.SetU32(kTrapClientNextIndexOffset, 1);
        ReloadTrapConfig();
        if (lock.Owned())
            CopyOut();
        LoadSimpleProductConfig();
        CheckSimpleProductVersion(lock.Owned());
        for (uint32_t r = 1; r <= kRowCount; ++r)
            _lastTrappedState[r - 1] = _shadow.U32(ProductRow(r) + kProductState);
        _stopEvent.Reset();
        _started = true;
    }
    // The thread logs once before Start returns: log4cxx sets up its per-thread state on first use, which
    // takes the loader's lock, and the unload joins this thread while the loader holds that lock.
    platform::Event running(true, false);
    _monitor = std::thread([this, &running] {
        NODWELL_INFO("monitor started");
        running.Set();
        Timer_Thrd();
    });
    running.Wait(platform::kInfinite);
    return true;
}

void CNodwellAgent::Stop()
{
    if (_monitor.joinable()) {
        _stopEvent.Set();
        _monitor.join();
    }
    std::lock_guard<std::mutex> guard(_shadowLock);
    if (!_started)
        return;
    _started = false;
    _sharedMemory.Close();
    _store.Clear();
    _products.clear();
    _trapConfig.clear();
    _pendingTraps.clear();
    _undo = UndoRecord{};
    NODWELL_INFO("unloaded");
}

void CNodwellAgent::RegisterVariables()
{
    _store.Clear();
    for (uint32_t r = 1; r <= kRowCount; ++r) {
        const uint32_t row = ProductRow(r);
        const int32_t ri = static_cast<int32_t>(r);
        _store.AddMibVariable({1, 1, 1, 1}, kAsnInteger, row + kProductIndex, 4, kAccessReadOnly, ri, false);
        _store.AddMibVariable({1, 1, 1, 2}, kAsnInteger, row + kProductType, 4, kAccessReadOnly, ri, false);
        _store.AddMibVariable({1, 1, 1, 3}, kAsnOctetString, row + kProductDescription, kTextFieldSize, kAccessReadOnly,
                              ri, false);
        _store.AddMibVariable({1, 1, 1, 4}, kAsnOctetString, row + kProductSerialNumber, kTextFieldSize,
                              kAccessReadOnly, ri, false);
        _store.AddMibVariable({1, 1, 1, 5}, kAsnOctetString, row + kProductVersion, kTextFieldSize, kAccessReadOnly, ri,
                              false);
        _store.AddMibVariable({1, 1, 1, 6}, kAsnInteger, row + kProductState, 4, kAccessReadOnly, ri, false);
        _shadow.SetU32(row + kProductType, 0);
    }
    _store.AddMibVariable({2, 1, 0}, kAsnOctetString, kAgentVersionOffset, kTextFieldSize, kAccessReadOnly, -1, false);
    _store.AddMibVariable({2, 2, 0}, kAsnInteger, kAgentScalar22Offset, 4, kAccessReadOnly, -1, false);
    _store.AddMibVariable({2, 3, 0}, kAsnInteger, kTrapClientNextIndexOffset, 4, kAccessReadOnly, -1, false);
    for (uint32_t r = 1; r <= kRowCount; ++r) {
        const uint32_t row = TrapRow(r);
        const int32_t ri = static_cast<int32_t>(r);
        _store.AddMibVariable({2, 4, 1, 1}, kAsnInteger, row + kTrapIndex, 4, kAccessReadOnly, ri, false);
        _store.AddMibVariable({2, 4, 1, 2}, kAsnIpAddress, row + kTrapAddress, 4, kAccessReadWrite, ri, false);
        _store.AddMibVariable({2, 4, 1, 3}, kAsnOctetString, row + kTrapCommunity, kCommunityFieldSize,
                              kAccessReadWrite, ri, false);
        _store.AddMibVariable({2, 4, 1, 4}, kAsnInteger, row + kTrapCommand, 4, kAccessReadWrite, ri, true);
        _shadow.SetU32(row + kTrapCommand, kTrapFree);
    }
    for (uint32_t r = 1; r <= kRowCount; ++r) {
        const uint32_t row = Table311Row(r);
        const int32_t ri = static_cast<int32_t>(r);
        _store.AddMibVariable({3, 1, 1, 1}, kAsnInteger, row, 4, kAccessReadOnly, ri, false);
        _store.AddMibVariable({3, 1, 1, 2}, kAsnInteger, row + 4, 4, kAccessReadOnly, ri, false);
        _store.AddMibVariable({3, 1, 1, 3}, kAsnOctetString, row + kTable311Text, kTextFieldSize, kAccessReadWrite, ri,
                              false);
        _shadow.SetU32(row + 4, 1);
    }
    _store.AddMibVariable({3, 2, 0}, kAsnInteger, kScalar32Offset, 4, kAccessReadWrite, -1, false);
    _store.AddMibVariable({3, 3, 0}, kAsnInteger, kScalar33Offset, 4, kAccessReadWrite, -1, false);
    _store.Sort();
}

bool CNodwellAgent::Query(uint8_t requestType, SnmpVarBindList* bindings, int32_t* errorStatus, int32_t* errorIndex)
{
    *errorStatus = kSnmpErrorNoError;
    *errorIndex = 0;
    if (!bindings || bindings->len == 0 || !bindings->list)
        return true;
    // One wait for the whole request, the shared mutex and then the agent's own lock, bounded so that the
    // answer comes before the master agent gives up.
    const uint32_t waitMs = QueryWaitMs();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    CSharedBlockLock lock(_sharedMutex, waitMs, "g_hSemaphore");
    std::unique_lock<std::mutex> guard(_shadowLock, std::defer_lock);
    if (!LockBy(guard, std::max(deadline, std::chrono::steady_clock::now() + kShadowWaitFloor))) {
        NODWELL_WARN("the agent's copy of the block stayed busy for the request's " << waitMs
                                                                                    << " ms: answered genErr");
        *errorStatus = kSnmpErrorGenErr;
        *errorIndex = 1;
        return true;
    }
    if (!_started) {
        *errorStatus = kSnmpErrorGenErr;
        *errorIndex = 1;
        return true;
    }
    NoteBlockWait(lock.Owned());
    if (lock.Owned())
        CopyIn();
    for (uint32_t i = 0; i < bindings->len; ++i) {
        const AsnObjectIdentifier& name = bindings->list[i].name;
        if (name.idLength > kMaxOidLength || (name.idLength > 0 && !name.ids)) {
            NODWELL_WARN("binding " << i + 1 << " has no usable name (" << name.idLength << " components)");
            *errorStatus = kSnmpErrorNoSuchName;
            *errorIndex = static_cast<int32_t>(i + 1);
            return true;
        }
    }
    if (requestType == kSnmpPduSet || requestType == kSnmpExtensionSetTest || requestType == kSnmpExtensionSetUndo) {
        // Without the shared block a stored value would be lost at the next refresh: refuse it.
        if (!lock.Owned()) {
            NODWELL_ERROR("SET refused: the shared block is not available");
            *errorStatus = kSnmpErrorGenErr;
            *errorIndex = 1;
            return true;
        }
        if (requestType == kSnmpExtensionSetUndo) {
            *errorStatus = UndoSet(*bindings);
            *errorIndex = *errorStatus == kSnmpErrorNoError ? 0 : 1;
            return true;
        }
        SetPlan plan;
        *errorStatus = PlanSet(*bindings, plan, errorIndex);
        if (*errorStatus == kSnmpErrorNoError && requestType == kSnmpPduSet) {
            *errorStatus = ApplySet(*bindings, plan);
            *errorIndex = *errorStatus == kSnmpErrorNoError ? 0 : 1;
        }
        return true;
    }
    for (uint32_t i = 0; i < bindings->len; ++i) {
        int32_t result = kSnmpErrorNoSuchName;
        if (requestType == kSnmpPduGet)
            result = GetRequest(bindings->list[i]);
        else if (requestType == kSnmpPduGetNext)
            result = GetNextRequest(bindings->list[i]);
        if (result != kSnmpErrorNoError) {
            *errorStatus = result;
            *errorIndex = static_cast<int32_t>(i + 1);
            break;
        }
    }
    return true;
}

int32_t CNodwellAgent::GetRequest(SnmpVarBind& binding)
{
    const MibVariable* v = _store.Find(binding.name);
    if (!v)
        return kSnmpErrorNoSuchName;
    return CMibVariableStore::GetStoreVar(*v, _shadow, &binding.value);
}

int32_t CNodwellAgent::GetNextRequest(SnmpVarBind& binding)
{
    const MibVariable* v = _store.FindNext(binding.name);
    if (!v)
        return kSnmpErrorNoSuchName;
    AsnObjectIdentifier name{};
    if (!CMibVariableStore::CopyOid(v->oid, &name))
        return kSnmpErrorGenErr;
    std::free(binding.name.ids);
    binding.name = name;
    return CMibVariableStore::GetStoreVar(*v, _shadow, &binding.value);
}

// Every binding is checked on a copy of the shadow, then the destination commands on the rows as the whole
// request leaves them, so that the order of the bindings does not matter and a refused request changes
// nothing. Column 4 takes only the commands add (4) and remove (5); a row needs a non-zero address for
// either; the destinations may not grow past the table's rows.
int32_t CNodwellAgent::PlanSet(const SnmpVarBindList& bindings, SetPlan& plan, int32_t* errorIndex)
{
    plan.after = _shadow;
    std::array<uint32_t, kRowCount + 1> commandBinding{};  // per row, the binding (from 1) of its command
    for (uint32_t i = 0; i < bindings.len; ++i) {
        const SnmpVarBind& binding = bindings.list[i];
        *errorIndex = static_cast<int32_t>(i + 1);
        const MibVariable* v = _store.Find(binding.name);
        if (!v)
            return kSnmpErrorNoSuchName;
        const int32_t result = CMibVariableStore::SetStoreVar(*v, plan.after, binding.value);
        if (result != kSnmpErrorNoError)
            return result;
        const uint32_t row = TrapRowOf(v->offset);
        if (row != 0 && v->offset == TrapRow(row) + kTrapAddress && ZeroAddress(plan.after, row)) {
            NODWELL_WARN("destination row " << row << ": the address 0.0.0.0 is refused");
            return kSnmpErrorWrongValue;
        }
        if (v->trapConfig) {
            const uint32_t command = plan.after.U32(v->offset);
            if (command != kTrapAdd && command != kTrapRemove) {
                NODWELL_WARN("destination row " << row << ": command " << static_cast<int32_t>(command)
                                                << " refused, only " << kTrapAdd << " and " << kTrapRemove);
                return kSnmpErrorWrongValue;
            }
            commandBinding[row] = i + 1;
            plan.trapConfig = true;
        }
    }
    *errorIndex = 0;
    if (!plan.trapConfig)
        return kSnmpErrorNoError;

    // The list as the registry holds it; a key that does not open is met again, and answered, when saving.
    std::vector<std::string> before;
    if (MachineKeyPathExists(kTrapConfigKey)) {
        before = ReadTrapDestinations(kMaxTrapAddressText);
    }
    plan.destinations = before;
    for (uint32_t r = 1; r <= kRowCount; ++r) {
        if (commandBinding[r] == 0)
            continue;
        *errorIndex = static_cast<int32_t>(commandBinding[r]);
        const uint32_t row = TrapRow(r);
        if (ZeroAddress(plan.after, r)) {
            NODWELL_WARN("destination row " << r << " has no address: its command is refused");
            return kSnmpErrorInconsistentValue;
        }
        const std::string text = AddressText(plan.after.bytes + row + kTrapAddress);
        auto it = std::find(plan.destinations.begin(), plan.destinations.end(), text);
        if (plan.after.U32(row + kTrapCommand) == kTrapAdd) {
            if (it == plan.destinations.end()) {
                plan.destinations.push_back(text);
                if (plan.destinations.size() > kRowCount && plan.destinations.size() > before.size()) {
                    NODWELL_WARN("destination " << text << " refused: the table holds " << kRowCount);
                    return kSnmpErrorResourceUnavailable;
                }
                NODWELL_INFO(" g_MyTrapConfig.push_back " << text);
            } else {
                NODWELL_INFO(text << " already listed");
            }
            plan.after.SetU32(row + kTrapCommand, kTrapActive);
        } else {
            if (it != plan.destinations.end()) {
                plan.destinations.erase(it);
                NODWELL_INFO(" g_MyTrapConfig.erase " << text);
            }
            plan.after.SetU32(row + kTrapCommand, kTrapFree);
        }
    }
    *errorIndex = 0;
    return kSnmpErrorNoError;
}

int32_t CNodwellAgent::ApplySet(const SnmpVarBindList& bindings, const SetPlan& plan)
{
    UndoRecord undo;
    undo.before = _shadow;
    undo.trapConfig = plan.trapConfig;
    for (uint32_t i = 0; i < bindings.len; ++i) {
        const MibVariable* v = _store.Find(bindings.list[i].name);
        undo.fields.emplace_back(v->offset, v->fieldSize);
    }
    if (plan.trapConfig) {
        undo.registryBefore = Registry::EnumValues(RegHive::LocalMachine, TrapDestinationKey());
        if (!ChangeRegistryAndSaveConfig(plan.destinations)) {
            RestoreTrapValues(undo.registryBefore);
            return kSnmpErrorCommitFailed;
        }
    }
    _shadow = plan.after;
    if (plan.trapConfig)
        ReloadTrapConfig();
    CopyOut();
    _undo = std::move(undo);
    _undo.valid = true;
    return kSnmpErrorNoError;
}

int32_t CNodwellAgent::UndoSet(const SnmpVarBindList& bindings)
{
    if (!_undo.valid)
        return kSnmpErrorNoError;  // nothing was applied
    bool same = bindings.len == _undo.fields.size();
    for (uint32_t i = 0; same && i < bindings.len; ++i) {
        const MibVariable* v = _store.Find(bindings.list[i].name);
        same = v && v->offset == _undo.fields[i].first;
    }
    if (!same) {
        NODWELL_ERROR("undo refused: the bindings are not those of the last SET");
        return kSnmpErrorUndoFailed;
    }
    _undo.valid = false;
    for (const auto& [offset, size] : _undo.fields)
        std::memcpy(_shadow.bytes + offset, _undo.before.bytes + offset, size);
    int32_t result = kSnmpErrorNoError;
    if (_undo.trapConfig) {
        std::memcpy(_shadow.bytes + kTrapTableOffset, _undo.before.bytes + kTrapTableOffset, kRowCount * kTrapRowSize);
        _shadow.SetU32(kTrapClientNextIndexOffset, _undo.before.U32(kTrapClientNextIndexOffset));
        if (!RestoreTrapValues(_undo.registryBefore))
            result = kSnmpErrorUndoFailed;
        _resetEvent.Set();
    }
    CopyOut();
    NODWELL_INFO("the last SET is undone");
    return result;
}

void CNodwellAgent::LoadSimpleProductConfig()
{
    if (!MachineKeyPathExists(kProductConfigKey)) {
        NODWELL_WARN(" LoadSimpleProductConfig Opening failed ");
        return;
    }
    _products.clear();
    for (const std::string& subKey : Registry::EnumSubKeys(RegHive::LocalMachine, kProductConfigKey)) {
        const std::string key = std::string(kProductConfigKey) + "\\" + subKey;
        ProductItem item;
        item.ProductType = Registry::GetDword(RegHive::LocalMachine, key, "Type").value_or(0);
        NODWELL_INFO("Type = " << item.ProductType);
        item.Description = ReadText(key, "Description", kTextFieldSize);
        item.ExeName = ReadText(key, "ProductName", kTextFieldSize);
        item.ExePath = ReadText(key, "ProductPath", 255);
        item.SerialNumber = ReadText(key, "SerialNumber", kTextFieldSize);
        _products.push_back(std::move(item));
    }
}

// Called with the block held (published: the shared mutex is owned).
void CNodwellAgent::CheckSimpleProductVersion(bool published)
{
    if (published)
        CopyIn();
    // Each product gets its own row, whether or not its type is set.
    std::array<bool, kRowCount> taken{};
    for (ProductItem& item : _products) {
        item.rowIndex = -1;
        for (uint32_t r = 0; r < kRowCount; ++r) {
            if (!taken[r] && _shadow.U32(ProductRow(r + 1) + kProductType) == 0) {
                item.rowIndex = static_cast<int32_t>(r);
                taken[r] = true;
                NODWELL_INFO("  On Break! ");
                break;
            }
        }
        if (item.rowIndex < 0) {
            NODWELL_ERROR("no free row for product " << item.ExeName << ": it is not published");
            continue;
        }
        const std::string program = item.ExePath.empty() || item.ExePath[0] == '/'
                                        ? item.ExePath + "/" + item.ExeName
                                        : platform::ToLocalPath(item.ExePath + "\\" + item.ExeName);
        std::string versionText;
        if (auto version = ReadElfVersionNote(program)) {
            versionText = version->Text();
            NODWELL_INFO("ProductVersion= " << versionText);
        } else {
            NODWELL_WARN("version impossible to get...  " << program);
        }
        const uint32_t row = ProductRow(static_cast<uint32_t>(item.rowIndex) + 1);
        _shadow.SetU32(row + kProductType, item.ProductType);
        _shadow.SetText(row + kProductDescription, kTextFieldSize, item.Description.c_str());
        _shadow.SetText(row + kProductSerialNumber, kTextFieldSize, item.SerialNumber.c_str());
        _shadow.SetText(row + kProductVersion, kTextFieldSize, versionText.c_str());
        _shadow.SetU32(row + kProductState, kStatePlaced);
        _shadow.SetI64(row + kProductTimeStamp, Now());
    }
    if (published)
        CopyOut();
}

void CNodwellAgent::Timer_Thrd()
{
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(_timings.firstTickMs);
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        if (_stopEvent.Wait(static_cast<uint32_t>(std::max<int64_t>(0, wait.count()))) == platform::kWaitObject0)
            break;
        if (!MonitorTick())
            break;
        next += std::chrono::milliseconds(_timings.tickMs);
        if (next < std::chrono::steady_clock::now())
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(_timings.tickMs);
    }
    NODWELL_INFO("monitor stopped");
}

bool CNodwellAgent::MonitorTick()
{
    // The processes are listed before the mutex is taken: on a busy machine that takes long enough to make
    // queries wait, and it needs nothing of the block.
    auto programs = RunningProgramNames();
    if (!programs) {
        NODWELL_ERROR("the running processes cannot be listed: monitor ends");
        return false;
    }
    NODWELL_INFO(" before " << WaitText("hMutex", _timings.mutexWaitMs) << " ");
    CSharedBlockLock lock(_sharedMutex, _timings.mutexWaitMs, "hMutex", &_stopEvent);
    std::lock_guard<std::mutex> guard(_shadowLock);
    if (!_started)
        return false;
    if (!lock.Owned())
        return true;  // try again at the next tick
    CopyIn();
    const int64_t now = Now();
    std::array<bool, kRowCount> changed{};
    std::array<bool, kRowCount> ownRow{};
    for (const ProductItem& item : _products) {
        if (item.rowIndex >= 0)
            ownRow[static_cast<size_t>(item.rowIndex)] = true;
    }
    // Rows other processes keep up to date fall back when they stop; the agent refreshes its own rows below.
    for (uint32_t r = 0; r < kRowCount; ++r) {
        const uint32_t row = ProductRow(r + 1);
        const int64_t stamp = _shadow.I64(row + kProductTimeStamp);
        if (!ownRow[r] && _shadow.U32(row + kProductState) == kStateUp && now - stamp > _timings.staleSeconds) {
            NODWELL_INFO(" Item " << r << " has an obsolete state => reseting it CurrentTime = " << now
                                  << " producttime = " << stamp);
            _shadow.SetU32(row + kProductState, kStatePlaced);
            changed[r] = true;
        }
    }
    for (ProductItem& item : _products)
        item.found = false;
    for (const std::string& name : *programs) {
        for (ProductItem& item : _products) {
            if (!item.ExeName.empty() && name == item.ExeName) {
                item.found = true;
                NODWELL_INFO(name << " found! ");
            }
        }
    }
    for (ProductItem& item : _products) {
        if (item.rowIndex < 0)
            continue;
        const uint32_t r = static_cast<uint32_t>(item.rowIndex);
        const uint32_t row = ProductRow(r + 1);
        const uint32_t state = _shadow.U32(row + kProductState);
        if (item.found && (state == kStateHalted || state == kStatePlaced)) {
            NODWELL_INFO(" Product " << item.ExeName << " going from halted to up");
            _shadow.SetU32(row + kProductState, kStateUp);
            changed[r] = true;
        } else if (!item.found && state == kStateUp) {
            NODWELL_INFO(" Product " << item.ExeName << " going from up to halted");
            _shadow.SetU32(row + kProductState, kStateHalted);
            changed[r] = true;
        }
        _shadow.SetI64(row + kProductTimeStamp, now);
    }
    CopyOut();
    if (std::find(changed.begin(), changed.end(), true) != changed.end()) {
        NODWELL_TRAP(" Trapping detected fail-over product");
        for (uint32_t r = 0; r < kRowCount; ++r)
            _changedSinceTrap[r] = _changedSinceTrap[r] || changed[r];
        _trapEvent.Set();
    }
    return true;
}

std::vector<ProductItem> CNodwellAgent::Products() const
{
    std::lock_guard<std::mutex> guard(_shadowLock);
    return _products;
}

bool CNodwellAgent::Trap(AsnObjectIdentifier* enterprise, int32_t* genericTrap, int32_t* specificTrap,
                         uint32_t* timeStamp, SnmpVarBindList* bindings)
{
    if (!bindings)
        return false;
    // Bounded as a request is: the host asks again at its next poll.
    const uint32_t waitMs = QueryWaitMs();
    std::unique_lock<std::mutex> guard(_shadowLock, std::defer_lock);
    if (!LockBy(guard, std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs))) {
        NODWELL_WARN("the agent's copy of the block stayed busy for " << waitMs << " ms: no trap now");
        return false;
    }
    if (!_started)
        return false;
    if (_pendingTraps.empty()) {
        guard.unlock();
        {
            NODWELL_TRAP(" before " << WaitText("g_hSemaphore", waitMs) << " ");
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
            CSharedBlockLock lock(_sharedMutex, waitMs, "g_hSemaphore");
            if (!LockBy(guard, std::max(deadline, std::chrono::steady_clock::now() + kShadowWaitFloor))) {
                NODWELL_WARN("the agent's copy of the block stayed busy for " << waitMs << " ms: no trap now");
                return false;
            }
            if (!_started)
                return false;
            NoteBlockWait(lock.Owned());
            if (lock.Owned())
                CopyIn();
            NODWELL_TRAP(" before ReleaseMutex(g_hSemaphore)");
        }
        // A row is trapped when the monitor saw it change or its state differs from the one last trapped,
        // so a change is never lost to a refresh of the shadow in between.
        for (uint32_t r = 1; r <= kRowCount; ++r) {
            const uint32_t state = _shadow.U32(ProductRow(r) + kProductState);
            if (_changedSinceTrap[r - 1] || state != _lastTrappedState[r - 1])
                _pendingTraps.push_back(r);
            _changedSinceTrap[r - 1] = false;
            _lastTrappedState[r - 1] = state;
        }
    }
    if (_pendingTraps.empty())
        return false;
    const uint32_t row = _pendingTraps.back();
    if (!FillTrapBindings(row, bindings))
        return false;  // the row stays queued for the next call
    _pendingTraps.pop_back();
    *enterprise = _enterpriseOid;
    *genericTrap = kGenericEnterpriseSpecific;
    *specificTrap = 0;
    *timeStamp = (platform::TickCount() - _startTick) / 10;
    NODWELL_TRAP(" pEnterpriseOid  1.3.6.1.4.1.48021.2.2.0.1 row " << row);
    return true;
}

bool CNodwellAgent::FillTrapBindings(uint32_t row, SnmpVarBindList* bindings)
{
    bindings->list = static_cast<SnmpVarBind*>(std::calloc(kTrapBindingCount, sizeof(SnmpVarBind)));
    bindings->len = 0;
    if (!bindings->list) {
        NODWELL_ERROR("SnmpUtilMemAlloc failed ! ");
        return false;
    }
    bindings->len = kTrapBindingCount;
    const uint32_t columns[kTrapBindingCount] = {6, 1, 2, 3, 4, 5};
    for (size_t i = 0; i < kTrapBindingCount; ++i) {
        SnmpVarBind& b = bindings->list[i];
        b.value.asnType = kAsnNull;
        const Oid name = CMibVariableStore::AppendOidToOid(kView, {1, 1, 1, columns[i]}, static_cast<int32_t>(row));
        const MibVariable* v = nullptr;
        if (CMibVariableStore::CopyOid(name, &b.name))
            v = _store.Find(b.name);
        if (!v || CMibVariableStore::GetStoreVar(*v, _shadow, &b.value) != kSnmpErrorNoError) {
            NODWELL_ERROR("SnmpUtilMemAlloc failed ! ");
            SnmpUtilVarBindListFree(bindings);
            return false;
        }
    }
    return true;
}

// Called with the block held; the caller publishes the shadow.
void CNodwellAgent::ReloadTrapConfig()
{
    if (MachineKeyPathExists(kTrapConfigKey) && Registry::CreateKey(RegHive::LocalMachine, TrapDestinationKey())) {
        _trapConfig.clear();
        std::memset(_shadow.bytes + kTrapTableOffset, 0, kRowCount * kTrapRowSize);
        uint32_t count = 0;
        for (const platform::RegValue& value : Registry::EnumValues(RegHive::LocalMachine, TrapDestinationKey())) {
            if (count == kRowCount) {
                NODWELL_WARN("more than " << kRowCount << " trap destinations: the rest are not served");
                break;
            }
            const std::string text = TrapDestinationText(value, kMaxTrapAddressText);
            _trapConfig.push_back(text);
            PackTrapDestinationRow(_shadow, ++count, text);
        }
        _shadow.SetU32(kTrapClientNextIndexOffset, count + 1);
    } else {
        NODWELL_WARN("ReloadTrapConfig: the trap configuration key does not open");
    }
    _resetEvent.Set();
    NODWELL_INFO(" Reseting service ");
}

bool CNodwellAgent::ChangeRegistryAndSaveConfig(const std::vector<std::string>& destinations)
{
    NODWELL_INFO("ecriture du registre");
    if (!MachineKeyPathExists(kTrapConfigKey)) {
        NODWELL_ERROR("the trap configuration key " << kTrapConfigKey << " does not open: nothing is saved");
        return false;
    }
    if (!Registry::KeyExists(RegHive::LocalMachine, TrapDestinationKey())) {
        if (!Registry::CreateKey(RegHive::LocalMachine, TrapDestinationKey()))
            return false;
        NODWELL_INFO(" RegCreateKey public ");
    }
    for (const platform::RegValue& value : Registry::EnumValues(RegHive::LocalMachine, TrapDestinationKey())) {
        if (!Registry::DeleteValue(RegHive::LocalMachine, TrapDestinationKey(), value.name)) {
            NODWELL_ERROR(" RegDeleteValue " << value.name << " not deleted");
            return false;
        }
        NODWELL_INFO(" RegDeleteValue " << value.name);
    }
    for (size_t i = 0; i < destinations.size(); ++i) {
        if (!Registry::SetString(RegHive::LocalMachine, TrapDestinationKey(), std::to_string(i + 1), destinations[i])) {
            NODWELL_ERROR("the trap destination " << destinations[i] << " could not be saved");
            return false;
        }
    }
    return true;
}

}  // namespace snmpagent
