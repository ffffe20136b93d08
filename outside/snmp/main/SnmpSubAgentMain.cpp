// nodwell-subagent: serves an SNMP extension agent library (libNodwell.so) under net-snmp's snmpd as an
// AgentX sub-agent, the way the Windows SNMP service serves its extension agents, and sends the
// library's traps as SNMPv1 traps to the destinations of the service's registry key.
// net-snmp's headers must come in this order.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
// clang-format on
#include <signal.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "outside/snmp/CExtensionAgent.h"
#include "platform/NamedMutex.h"
#include "platform/SharedEvent.h"
#include "platform/Socket.h"
#include "snmpagent/TrapDestinations.h"

namespace
{
constexpr char kAppName[] = "nodwell-subagent";
constexpr char kResetEventName[] = "SNMPServiceResetEvent";
// Held while a host serves the agent: a second one would reset the shared table and run a second monitor.
constexpr char kHostLockName[] = "Nodwell_SubAgentHost";

struct Options {
    std::string library;
    std::string agentx = "tcp:127.0.0.1:705";
    std::string stateDir;
    int trapPort = 162;
    int pollMs = 100;
};

volatile sig_atomic_t g_stop = 0;
snmphost::CExtensionAgent g_agent;
Options g_options;
std::vector<std::string> g_trapDestinations;
platform::SharedEvent g_resetEvent;

void OnSignal(int)
{
    g_stop = 1;
}

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: %s --library PATH [--agentx ADDRESS] [--state-dir DIR] [--trap-port N] [--poll-ms N]\n"
                 "  Serves the extension agent library under snmpd over AgentX (default tcp:127.0.0.1:705)\n"
                 "  and sends its traps to the registry's trap destinations on port N (default 162).\n"
                 "  Every N ms (default 100) it collects the traps the agent asked for and rereads the\n"
                 "  destinations when they changed. One host serves the agent at a time.\n",
                 kAppName);
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: %s needs a value\n", kAppName, arg.c_str());
            return false;
        }
        std::string value = argv[++i];
        if (arg == "--library") {
            options.library = value;
        } else if (arg == "--agentx") {
            options.agentx = value;
        } else if (arg == "--state-dir") {
            options.stateDir = value;
        } else if (arg == "--trap-port" || arg == "--poll-ms") {
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || n <= 0 || n > 65535) {
                std::fprintf(stderr, "%s: bad number for %s: %s\n", kAppName, arg.c_str(), value.c_str());
                return false;
            }
            (arg == "--trap-port" ? options.trapPort : options.pollMs) = static_cast<int>(n);
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", kAppName, arg.c_str());
            return false;
        }
    }
    if (options.library.empty()) {
        std::fprintf(stderr, "%s: --library is required\n", kAppName);
        return false;
    }
    return true;
}

// Sub-identifiers are 32-bit. net-snmp's AgentX decoding widens one of 2^31 or more with its sign
// (2^31 arrives as 0xFFFFFFFF80000000), so the low 32 bits are the component the manager sent.
bool ToAgentName(const oid* name, size_t length, std::vector<uint32_t>& out)
{
    out.clear();
    for (size_t i = 0; i < length; ++i) {
        const uint64_t component = name[i];
        if (component > UINT32_MAX && (component >> 31) != (UINT64_MAX >> 31))
            return false;
        out.push_back(static_cast<uint32_t>(component));
    }
    return true;
}

std::vector<oid> ToNetSnmpName(const AsnObjectIdentifier& name)
{
    return std::vector<oid>(name.ids, name.ids + name.idLength);
}

// One binding for the agent, its name malloc'd as the agent expects.
bool MakeBinding(const std::vector<uint32_t>& name, SnmpVarBind& binding)
{
    std::memset(&binding, 0, sizeof binding);
    binding.value.asnType = kAsnNull;
    binding.name.ids = static_cast<uint32_t*>(std::malloc(std::max<size_t>(1, name.size()) * sizeof(uint32_t)));
    if (!binding.name.ids)
        return false;
    std::copy(name.begin(), name.end(), binding.name.ids);
    binding.name.idLength = static_cast<uint32_t>(name.size());
    return true;
}

// A binding for the agent from a name and, for a SET, its value; the binding is the caller's to free.
int32_t FillBinding(const std::vector<uint32_t>& name, const netsnmp_variable_list* value, SnmpVarBind& binding)
{
    if (!MakeBinding(name, binding))
        return kSnmpErrorGenErr;
    if (!value)
        return kSnmpErrorNoError;
    AsnAny& v = binding.value;
    v.asnType = value->type;
    switch (value->type) {
        case ASN_INTEGER:
        case ASN_COUNTER:
        case ASN_GAUGE:
        case ASN_TIMETICKS:
        case ASN_UINTEGER:
            v.asnValue.number = static_cast<int32_t>(*value->val.integer);
            break;
        case ASN_OCTET_STR:
        case ASN_IPADDRESS:
        case ASN_OPAQUE:
        case ASN_BIT_STR:
            v.asnValue.string.stream = static_cast<uint8_t*>(std::malloc(std::max<size_t>(1, value->val_len)));
            if (!v.asnValue.string.stream) {
                v.asnType = kAsnNull;
                return kSnmpErrorGenErr;
            }
            std::memcpy(v.asnValue.string.stream, value->val.string, value->val_len);
            v.asnValue.string.length = static_cast<uint32_t>(value->val_len);
            break;
        case ASN_COUNTER64:
            v.asnValue.counter64 =
                (static_cast<uint64_t>(value->val.counter64->high) << 32) | value->val.counter64->low;
            break;
        case ASN_OBJECT_ID: {
            std::vector<uint32_t> ids;
            SnmpVarBind tmp;
            v.asnType = kAsnNull;
            if (!ToAgentName(value->val.objid, value->val_len / sizeof(oid), ids))
                return kSnmpErrorBadValue;
            if (!MakeBinding(ids, tmp))
                return kSnmpErrorGenErr;
            v.asnType = kAsnObjectIdentifier;
            v.asnValue.object = tmp.name;
            break;
        }
        default:
            break;
    }
    return kSnmpErrorNoError;
}

// Calls the agent for one name; the binding is the caller's to free.
int32_t QueryOne(uint8_t type, const std::vector<uint32_t>& name, SnmpVarBindList& list)
{
    list.list = static_cast<SnmpVarBind*>(std::calloc(1, sizeof(SnmpVarBind)));
    list.len = list.list ? 1 : 0;
    if (!list.list || FillBinding(name, nullptr, list.list[0]) != kSnmpErrorNoError)
        return kSnmpErrorGenErr;
    int32_t status = 0, index = 0;
    if (!g_agent.Query(type, &list, &status, &index))
        return kSnmpErrorGenErr;
    return status;
}

void SetValue(netsnmp_variable_list* vb, const AsnAny& v)
{
    switch (v.asnType) {
        case kAsnInteger:
            snmp_set_var_typed_integer(vb, v.asnType, v.asnValue.number);
            break;
        case kAsnCounter32:
        case kAsnGauge32:
        case kAsnTimeTicks:
        case kAsnUInteger32:
            snmp_set_var_typed_integer(vb, v.asnType, static_cast<long>(v.asnValue.unsigned32));
            break;
        case kAsnCounter64: {
            counter64 c{static_cast<u_long>(v.asnValue.counter64 >> 32),
                        static_cast<u_long>(v.asnValue.counter64 & 0xFFFFFFFFu)};
            snmp_set_var_typed_value(vb, ASN_COUNTER64, &c, sizeof c);
            break;
        }
        case kAsnObjectIdentifier: {
            std::vector<oid> ids = ToNetSnmpName(v.asnValue.object);
            snmp_set_var_typed_value(vb, ASN_OBJECT_ID, ids.data(), ids.size() * sizeof(oid));
            break;
        }
        default:
            snmp_set_var_typed_value(vb, v.asnType, v.asnValue.string.stream, v.asnValue.string.length);
            break;
    }
}

int SetError(int32_t status)
{
    switch (status) {
        case kSnmpErrorNoSuchName:
            return SNMP_ERR_NOCREATION;
        case kSnmpErrorBadValue:
        case kSnmpErrorWrongValue:
            return SNMP_ERR_WRONGVALUE;
        case kSnmpErrorReadOnly:
            return SNMP_ERR_NOTWRITABLE;
        case kSnmpErrorInconsistentValue:
            return SNMP_ERR_INCONSISTENTVALUE;
        case kSnmpErrorResourceUnavailable:
            return SNMP_ERR_RESOURCEUNAVAILABLE;
        case kSnmpErrorCommitFailed:
            return SNMP_ERR_COMMITFAILED;
        case kSnmpErrorUndoFailed:
            return SNMP_ERR_UNDOFAILED;
        default:
            return SNMP_ERR_GENERR;
    }
}

bool InView(const std::vector<oid>& name)
{
    const auto& view = g_agent.View();
    if (name.size() < view.size())
        return false;
    for (size_t i = 0; i < view.size(); ++i) {
        if (name[i] != view[i])
            return false;
    }
    return true;
}

void HandleRead(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* request)
{
    netsnmp_variable_list* vb = request->requestvb;
    std::vector<uint32_t> name;
    const bool named = ToAgentName(vb->name, vb->name_length, name);
    SnmpVarBindList list{};
    if (reqinfo->mode == MODE_GET) {
        if (named && QueryOne(kSnmpPduGet, name, list) == 0)
            SetValue(vb, list.list[0].value);
        else
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
    } else if (reqinfo->mode == MODE_GETNEXT) {
        // Past the agent's last name the request is left alone, so snmpd moves on to the next subtree.
        if (named && QueryOne(kSnmpPduGetNext, name, list) == 0) {
            std::vector<oid> next = ToNetSnmpName(list.list[0].name);
            if (InView(next)) {
                snmp_set_var_objid(vb, next.data(), next.size());
                SetValue(vb, list.list[0].value);
            }
        }
    }
    SnmpUtilVarBindListFree(&list);
}

// The SET bindings of one request, in order, and the requests they came from.
struct SetBindings {
    SnmpVarBindList list{};
    std::vector<netsnmp_request_info*> requests;
    SetBindings() = default;
    SetBindings(const SetBindings&) = delete;
    SetBindings& operator=(const SetBindings&) = delete;
    ~SetBindings() { SnmpUtilVarBindListFree(&list); }
};

// Gathers the request's bindings; on a binding the agent cannot take, its error is set and false returned.
bool GatherSet(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests, SetBindings& out)
{
    size_t count = 0;
    for (netsnmp_request_info* r = requests; r; r = r->next)
        count += r->processed ? 0 : 1;
    out.list.list = static_cast<SnmpVarBind*>(std::calloc(std::max<size_t>(1, count), sizeof(SnmpVarBind)));
    if (!out.list.list) {
        netsnmp_set_request_error(reqinfo, requests, SNMP_ERR_RESOURCEUNAVAILABLE);
        return false;
    }
    for (netsnmp_request_info* r = requests; r; r = r->next) {
        if (r->processed)
            continue;
        netsnmp_variable_list* vb = r->requestvb;
        std::vector<uint32_t> name;
        int32_t status = kSnmpErrorNoSuchName;
        if (ToAgentName(vb->name, vb->name_length, name))
            status = FillBinding(name, vb, out.list.list[out.list.len]);
        ++out.list.len;  // freed with the list whatever it holds
        out.requests.push_back(r);
        if (status != kSnmpErrorNoError) {
            netsnmp_set_request_error(reqinfo, r, SetError(status));
            return false;
        }
    }
    return true;
}

// Runs one SET phase of the agent over all the request's bindings; its error lands on the binding it names.
bool SetPhase(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests, uint8_t type, int failure = 0)
{
    SetBindings set;
    if (!GatherSet(reqinfo, requests, set))
        return false;
    if (set.list.len == 0)
        return true;
    int32_t status = 0, index = 0;
    if (!g_agent.Query(type, &set.list, &status, &index))
        status = kSnmpErrorGenErr;
    if (status == kSnmpErrorNoError)
        return true;
    const size_t at = index >= 1 && static_cast<size_t>(index) <= set.requests.size() ? index - 1 : 0;
    netsnmp_set_request_error(reqinfo, set.requests[at], failure ? failure : SetError(status));
    return false;
}

// The transaction whose SET the agent applied, to undo when another part of the request fails.
long g_appliedTransaction = -1;

long TransactionOf(netsnmp_agent_request_info* reqinfo)
{
    return reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->transid : 0;
}

// A SET runs in the master agent's phases: the agent checks the whole request at RESERVE1 and changes
// nothing; it applies it whole at ACTION (registry included: a value that cannot be saved answers
// commitFailed); UNDO, when another part of the request failed, puts back exactly what ACTION changed.
void HandleSet(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests)
{
    switch (reqinfo->mode) {
        case MODE_SET_RESERVE1:
            // The agent's GET tells whether each name exists and which type it takes.
            for (netsnmp_request_info* r = requests; r; r = r->next) {
                if (r->processed)
                    continue;
                std::vector<uint32_t> name;
                SnmpVarBindList list{};
                const bool named = ToAgentName(r->requestvb->name, r->requestvb->name_length, name);
                const int32_t status = named ? QueryOne(kSnmpPduGet, name, list) : kSnmpErrorNoSuchName;
                const uint8_t type = status == 0 ? list.list[0].value.asnType : 0;
                SnmpUtilVarBindListFree(&list);
                if (status != 0) {
                    netsnmp_set_request_error(reqinfo, r, SNMP_ERR_NOCREATION);
                    return;
                }
                if (type != r->requestvb->type) {
                    netsnmp_set_request_error(reqinfo, r, SNMP_ERR_WRONGTYPE);
                    return;
                }
            }
            SetPhase(reqinfo, requests, kSnmpExtensionSetTest);
            break;
        case MODE_SET_ACTION:
            g_appliedTransaction = -1;
            if (SetPhase(reqinfo, requests, kSnmpPduSet))
                g_appliedTransaction = TransactionOf(reqinfo);
            break;
        case MODE_SET_UNDO:
            if (g_appliedTransaction == TransactionOf(reqinfo)) {
                g_appliedTransaction = -1;
                SetPhase(reqinfo, requests, kSnmpExtensionSetUndo, SNMP_ERR_UNDOFAILED);
            }
            break;
        case MODE_SET_COMMIT:
        case MODE_SET_FREE:
            g_appliedTransaction = -1;
            break;
        default:  // RESERVE2 has nothing left to check
            break;
    }
}

int Handler(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
            netsnmp_request_info* requests)
{
    if (reqinfo->mode == MODE_GET || reqinfo->mode == MODE_GETNEXT) {
        for (netsnmp_request_info* request = requests; request; request = request->next) {
            if (!request->processed)
                HandleRead(reqinfo, request);
        }
    } else {
        HandleSet(reqinfo, requests);
    }
    return SNMP_ERR_NOERROR;
}

void LoadTrapDestinations()
{
    g_trapDestinations.clear();
    for (const std::string& text : snmpagent::ReadTrapDestinations()) {
        if (!text.empty())
            g_trapDestinations.push_back(text);
    }
    snmp_log(LOG_INFO, "%s: %zu trap destination(s)\n", kAppName, g_trapDestinations.size());
}

void SendTrap(const AsnObjectIdentifier& enterprise, int32_t generic, int32_t specific, uint32_t timeStamp,
              const SnmpVarBindList& bindings, const std::string& destination)
{
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    std::string peer = "udp:" + destination + ":" + std::to_string(g_options.trapPort);
    session.peername = peer.data();
    static char community[] = "public";
    session.community = reinterpret_cast<u_char*>(community);
    session.community_len = std::strlen(community);
    void* handle = snmp_sess_open(&session);
    if (!handle) {
        snmp_log(LOG_ERR, "%s: cannot open a session to %s\n", kAppName, peer.c_str());
        return;
    }
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP);
    std::vector<oid> enterpriseIds = ToNetSnmpName(enterprise);
    pdu->enterprise = snmp_duplicate_objid(enterpriseIds.data(), enterpriseIds.size());
    pdu->enterprise_length = enterpriseIds.size();
    pdu->trap_type = generic;
    pdu->specific_type = specific;
    pdu->time = timeStamp;
    // The address of the interface the trap leaves by, as a manager would reach this agent back.
    const auto peerAddress = platform::ResolveIPv4(destination);
    const auto local = peerAddress ? platform::LocalAddressToward(*peerAddress) : std::nullopt;
    if (local) {
        const uint8_t address[4] = {static_cast<uint8_t>(*local >> 24), static_cast<uint8_t>(*local >> 16),
                                    static_cast<uint8_t>(*local >> 8), static_cast<uint8_t>(*local)};
        std::memcpy(pdu->agent_addr, address, sizeof address);
    } else {
        snmp_log(LOG_WARNING, "%s: no route to %s: the trap's agent address is left to net-snmp\n", kAppName,
                 destination.c_str());
    }
    for (uint32_t i = 0; i < bindings.len; ++i) {
        std::vector<oid> name = ToNetSnmpName(bindings.list[i].name);
        netsnmp_variable_list* vb =
            snmp_varlist_add_variable(&pdu->variables, name.data(), name.size(), ASN_NULL, nullptr, 0);
        if (vb)
            SetValue(vb, bindings.list[i].value);
    }
    if (!snmp_sess_send(handle, pdu)) {
        snmp_log(LOG_ERR, "%s: the trap to %s was not sent\n", kAppName, peer.c_str());
        snmp_free_pdu(pdu);
    }
    snmp_sess_close(handle);
}

void PollTraps(unsigned int, void*)
{
    if (g_resetEvent.IsOpen() && g_resetEvent.Wait(0) == platform::kWaitObject0)
        LoadTrapDestinations();
    if (!g_agent.TrapRequested())
        return;
    for (;;) {
        AsnObjectIdentifier enterprise{};
        int32_t generic = 0, specific = 0;
        uint32_t timeStamp = 0;
        SnmpVarBindList bindings{};
        if (!g_agent.Trap(&enterprise, &generic, &specific, &timeStamp, &bindings))
            break;
        for (const std::string& destination : g_trapDestinations)
            SendTrap(enterprise, generic, specific, timeStamp, bindings, destination);
        SnmpUtilVarBindListFree(&bindings);
    }
}
}  // namespace

int main(int argc, char** argv)
{
    if (!ParseOptions(argc, argv, g_options)) {
        Usage(stderr);
        return 2;
    }
    // A master agent that dropped the session makes the next send fail with EPIPE: that is a reconnection,
    // not a reason to die.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {
    };
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    platform::NamedMutex hostLock(kHostLockName);
    if (!hostLock.IsValid() || hostLock.Lock(0) != platform::kWaitObject0) {
        std::fprintf(stderr, "%s: another host already serves the agent (lock %s); not started\n", kAppName,
                     platform::NamedMutex::LockFilePath(kHostLockName).c_str());
        return 1;
    }

    snmp_enable_stderrlog();
    // Only what the command line says: no configuration files, no state outside the given folder.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    if (!g_options.stateDir.empty())
        netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, g_options.stateDir.c_str());
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, g_options.agentx.c_str());
    init_agent(kAppName);
    // Set after init_agent, which puts back its default of 15 s: the ping is also the interval at which a
    // lost master agent is sought again, so a restarted snmpd sees the subtree again within about a second.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);

    std::string error;
    if (!g_agent.Load(g_options.library, error)) {
        std::fprintf(stderr, "%s: cannot load %s: %s\n", kAppName, g_options.library.c_str(), error.c_str());
        return 1;
    }
    g_resetEvent.Open(kResetEventName, false, false);
    LoadTrapDestinations();

    std::vector<oid> view(g_agent.View().begin(), g_agent.View().end());
    netsnmp_handler_registration* registration =
        netsnmp_create_handler_registration(kAppName, Handler, view.data(), view.size(), HANDLER_CAN_RWRITE);
    if (!registration || netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
        std::fprintf(stderr, "%s: cannot register the subtree\n", kAppName);
        return 1;
    }
    init_snmp(kAppName);
    timeval poll{g_options.pollMs / 1000, (g_options.pollMs % 1000) * 1000};
    snmp_alarm_register_hr(poll, SA_REPEAT, PollTraps, nullptr);
    std::fprintf(stderr, "%s: serving %s\n", kAppName, g_options.library.c_str());

    while (!g_stop)
        agent_check_and_process(1);

    snmp_shutdown(kAppName);
    g_agent.Unload();
    std::fprintf(stderr, "%s: stopped\n", kAppName);
    return 0;
}
