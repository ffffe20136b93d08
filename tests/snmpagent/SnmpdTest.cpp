// The agent served by net-snmp's snmpd through the sub-agent host, checked with net-snmp's own tools.
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <regex>

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "snmpagent/CNodwellAgent.h"
#include "tests/snmpagent/AgentFixture.h"
#include "tests/snmpagent/SnmpTestKit.h"
#include "tests/support/TestEnv.h"

namespace snmptest
{
namespace
{
using platform::RegHive;
using platform::Registry;

const std::string kView = ".1.3.6.1.4.1.48021.2.2";

bool TcpAccepts(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// snmpd, snmptrapd and the sub-agent on free loopback ports, with their files in the test's folder.
class SnmpService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _dir = testsupport::TestRoot() / "snmp";
        std::filesystem::create_directories(_dir / "state");
        std::filesystem::create_directories(_dir / "conf");
        // Tools and daemons read and write only here, never the machine's /etc/snmp or /var/lib/snmp.
        setenv("SNMP_PERSISTENT_DIR", (_dir / "state").c_str(), 1);
        setenv("SNMPCONFPATH", (_dir / "conf").c_str(), 1);
        setenv("MIBS", "", 1);
        setenv("KORVO_NODWELL_FIRST_TICK_MS", "100", 1);
        setenv("KORVO_NODWELL_TICK_MS", "200", 1);
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);  // net-snmp keeps its tables to the end

        WriteRegistry();
        // A port free when drawn may be taken by another program before the daemon binds it: the daemon then
        // ends, and the set is drawn again.
        bool started = false;
        for (int attempt = 0; attempt < 5 && !started; ++attempt) {
            _agentx = FreePort(SOCK_STREAM);
            _port = FreePort(SOCK_DGRAM);
            _trapPort = FreePort(SOCK_DGRAM);
            // agentXTimeout is snmpd's default, written out: the sub-agent must answer within it.
            WriteFile(_dir / "snmpd.conf",
                      "master agentx\nagentXSocket tcp:127.0.0.1:" + std::to_string(_agentx) +
                          "\nagentXTimeout 1\nagentaddress udp:127.0.0.1:" + std::to_string(_port) +
                          "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n");
            WriteFile(_dir / "snmptrapd.conf", "disableAuthorization yes\n");
            started = StartSnmpd() && StartTrapd();
            if (!started) {
                _trapd.Stop();
                _snmpd.Stop();
            }
        }
        ASSERT_TRUE(started) << ReadFile(_dir / "snmpd.out") << ReadFile(_dir / "snmptrapd.out");
        ASSERT_TRUE(StartHost(_subagent, _dir / "subagent.out"));
        ASSERT_TRUE(WaitFor([&] { return Served(); }, std::chrono::seconds(60)))
            << ReadFile(_dir / "subagent.out") << Tool("snmpget -v2c -c public", kView + ".2.1.0");
    }

    void TearDown() override
    {
        _subagent.Stop();
        _trapd.Stop();
        _snmpd.Stop();
        RemoveAgentObjects();
    }

    // One product, the test's own program, and one trap destination.
    virtual void WriteRegistry()
    {
        const std::string products = std::string(snmpagent::kProductConfigKey) + "\\Player";
        Registry::CreateKey(RegHive::LocalMachine, products);
        Registry::SetDword(RegHive::LocalMachine, products, "Type", 3);
        Registry::SetString(RegHive::LocalMachine, products, "Description", "Test player");
        Registry::SetString(RegHive::LocalMachine, products, "ProductName", ProductName());
        Registry::SetString(RegHive::LocalMachine, products, "ProductPath", Product().parent_path().string());
        Registry::SetString(RegHive::LocalMachine, products, "SerialNumber", "SN-42");
        Registry::SetString(RegHive::LocalMachine, TrapKey(), "1", "127.0.0.1");
    }

    // snmpd, answering once its AgentX socket listens; false when it ended first.
    bool StartSnmpd()
    {
        return _snmpd.Start({"/usr/sbin/snmpd", "-f", "-C", "-c", (_dir / "snmpd.conf").string(), "-Lf",
                             (_dir / "snmpd.log").string(), "-p", (_dir / "snmpd.pid").string()},
                            _dir / "snmpd.out") &&
               WaitFor([&] { return !_snmpd.Running() || TcpAccepts(_agentx); }, std::chrono::seconds(60)) &&
               _snmpd.Running();
    }

    // snmptrapd, once it says it listens (a trap sent before would be lost); false when it ended first.
    bool StartTrapd()
    {
        std::filesystem::remove(TrapLog());
        return _trapd.Start(
                   {"/usr/sbin/snmptrapd", "-f", "-C", "-c", (_dir / "snmptrapd.conf").string(), "-On", "-Lf",
                    TrapLog().string(),
                    "udp:127.0.0.1:" + std::to_string(_trapPort) + ",udp:127.0.0.2:" + std::to_string(_trapPort)},
                   _dir / "snmptrapd.out") &&
               WaitFor(
                   [&] {
                       return !_trapd.Running() || ReadFile(TrapLog()).find("NET-SNMP version") != std::string::npos;
                   },
                   std::chrono::seconds(60)) &&
               _trapd.Running();
    }

    bool StartHost(ChildProcess& host, const std::filesystem::path& output) const
    {
        return host.Start({KORVO_SNMP_SUBAGENT, "--library", KORVO_NODWELL_LIBRARY, "--agentx",
                           "tcp:127.0.0.1:" + std::to_string(_agentx), "--state-dir", (_dir / "state").string(),
                           "--trap-port", std::to_string(_trapPort), "--poll-ms", "50"},
                          output);
    }

    bool Served() const
    {
        return Tool("snmpget -v2c -c public", kView + ".2.1.0").find("101.00.02") != std::string::npos;
    }

    static std::string TrapKey() { return std::string(snmpagent::kTrapConfigKey) + "\\public"; }
    std::filesystem::path TrapLog() const { return _dir / "snmptrapd.log"; }

    std::string Tool(const std::string& tool, const std::string& args, int* exitCode = nullptr) const
    {
        return RunCommand(tool + " -On -t 2 -r 0 127.0.0.1:" + std::to_string(_port) + " " + args, exitCode);
    }

    // The destinations as the registry holds them.
    static std::vector<std::string> Destinations()
    {
        std::vector<std::string> out;
        for (const auto& v : Registry::EnumValues(RegHive::LocalMachine, TrapKey()))
            out.push_back(v.name + "=" + std::string(v.data.begin(), v.data.end()));
        return out;
    }

    std::filesystem::path _dir;
    int _agentx = 0;
    int _port = 0;
    int _trapPort = 0;
    ChildProcess _snmpd;
    ChildProcess _trapd;
    ChildProcess _subagent;
};

TEST_F(SnmpService, WalkGivesEveryVariableWithItsTypeAndValue)
{
    const std::string walk = Tool("snmpwalk -v2c -c public", kView);
    int lines = 0;
    for (char c : walk)
        lines += c == '\n';
    EXPECT_EQ(135, lines) << walk;
    const char* expected[] = {
        ".1.1.1.2.1 = INTEGER: 3",
        ".1.1.1.3.1 = STRING: \"Test player\"",
        ".1.1.1.4.1 = STRING: \"SN-42\"",
        ".1.1.1.5.1 = STRING: \"3.1.4.1592\"",
        ".1.1.1.2.2 = INTEGER: 0",
        ".2.1.0 = STRING: \"101.00.02\"",
        ".2.2.0 = INTEGER: 10",
        ".2.3.0 = INTEGER: 2",
        ".2.4.1.2.1 = IpAddress: 127.0.0.1",
        ".2.4.1.3.1 = STRING: \"public\"",
        ".2.4.1.4.1 = INTEGER: 2",
        ".2.4.1.4.2 = INTEGER: 0",
        ".3.1.1.2.10 = INTEGER: 1",
        ".3.3.0 = INTEGER: 0",
    };
    for (const char* line : expected)
        EXPECT_NE(std::string::npos, walk.find(kView + line + "\n")) << line;
    EXPECT_TRUE(std::regex_search(walk, std::regex(R"(\.1\.1\.1\.6\.1 = INTEGER: [12]\n)")));
}

TEST_F(SnmpService, UnknownNameIsNoSuchNameInVersion1)
{
    int exitCode = 0;
    const std::string out = Tool("snmpget -v1 -c public", kView + ".9.9.0", &exitCode);
    EXPECT_NE(std::string::npos, out.find("noSuchName")) << out;
    EXPECT_NE(0, exitCode);
}

TEST_F(SnmpService, TrapDestinationSetIsStoredAndBadSetsChangeNothing)
{
    std::string out = Tool("snmpset -v2c -c private", kView + ".2.4.1.2.2 a 10.0.0.5");
    ASSERT_NE(std::string::npos, out.find("IpAddress: 10.0.0.5")) << out;
    out = Tool("snmpset -v2c -c private", kView + ".2.4.1.4.2 i 4");
    ASSERT_NE(std::string::npos, out.find("INTEGER: 4")) << out;
    auto values = Registry::EnumValues(RegHive::LocalMachine, TrapKey());
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ("2", values[1].name);
    EXPECT_EQ("10.0.0.5", std::string(values[1].data.begin(), values[1].data.end()));
    EXPECT_NE(std::string::npos, Tool("snmpget -v2c -c public", kView + ".2.4.1.4.2").find("INTEGER: 2"));

    const std::string before = Tool("snmpwalk -v2c -c public", kView + ".2");
    int exitCode = 0;
    out = Tool("snmpset -v2c -c private", kView + ".2.4.1.3.1 s " + std::string(128, 'x'), &exitCode);
    EXPECT_NE(0, exitCode) << out;
    out = Tool("snmpset -v2c -c private", kView + ".2.4.1.4.1 s 5", &exitCode);
    EXPECT_NE(std::string::npos, out.find("wrongType")) << out;
    out = Tool("snmpset -v2c -c private", kView + ".2.1.0 s 1.0", &exitCode);
    EXPECT_NE(std::string::npos, out.find("notWritable")) << out;
    // A request with a bad binding undoes its good ones.
    out = Tool("snmpset -v2c -c private", kView + ".3.2.0 i 9 " + kView + ".3.1.1.3.1 s " + std::string(64, 'y'),
               &exitCode);
    EXPECT_NE(0, exitCode) << out;
    EXPECT_EQ(before, Tool("snmpwalk -v2c -c public", kView + ".2"));
    EXPECT_NE(std::string::npos, Tool("snmpget -v2c -c public", kView + ".3.2.0").find("INTEGER: 0"));
    EXPECT_EQ(2u, Registry::EnumValues(RegHive::LocalMachine, TrapKey()).size());
}

TEST_F(SnmpService, ProgramStartAndKillAreTrapped)
{
    const std::string state = kView + ".1.1.1.6.1";
    ASSERT_TRUE(WaitFor([&] { return Tool("snmpget -v2c -c public", state).find("INTEGER: 1") != std::string::npos; },
                        std::chrono::seconds(60)));
    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, _dir / "product.out"));
    auto trapped = [&](const std::string& value) {
        return ReadFile(TrapLog()).find(state + " = INTEGER: " + value) != std::string::npos;
    };
    ASSERT_TRUE(WaitFor([&] { return trapped("2"); }, std::chrono::seconds(60))) << ReadFile(TrapLog());
    program.Stop(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return trapped("8"); }, std::chrono::seconds(60))) << ReadFile(TrapLog());

    const std::string log = ReadFile(TrapLog());
    EXPECT_NE(std::string::npos, log.find(kView + ".0.1")) << log;  // the enterprise
    EXPECT_NE(std::string::npos, log.find("Enterprise Specific Trap (0)")) << log;
    for (const char* binding :
         {".1.1.1.1.1 = INTEGER: 0", ".1.1.1.2.1 = INTEGER: 3", ".1.1.1.3.1 = STRING: \"Test player\"",
          ".1.1.1.4.1 = STRING: \"SN-42\"", ".1.1.1.5.1 = STRING: \"3.1.4.1592\""})
        EXPECT_NE(std::string::npos, log.find(kView + binding)) << binding << "\n" << log;
}

TEST_F(SnmpService, DestinationsChangedBySetAreUsedForTheNextTrap)
{
    // Swap 127.0.0.1 for 127.0.0.2 through the table; the host follows the registry at once.
    Tool("snmpset -v2c -c private", kView + ".2.4.1.4.1 i 5");
    Tool("snmpset -v2c -c private", kView + ".2.4.1.2.2 a 127.0.0.2");
    Tool("snmpset -v2c -c private", kView + ".2.4.1.4.2 i 4");
    auto values = Registry::EnumValues(RegHive::LocalMachine, TrapKey());
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ("127.0.0.2", std::string(values[0].data.begin(), values[0].data.end()));

    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, _dir / "product.out"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(TrapLog()).find("TRAP, SNMP v1") != std::string::npos; },
                        std::chrono::seconds(60)));
    const std::string log = ReadFile(TrapLog());
    EXPECT_NE(std::string::npos, log.find("->[127.0.0.2]:" + std::to_string(_trapPort))) << log;
    EXPECT_EQ(std::string::npos, log.find("->[127.0.0.1]:" + std::to_string(_trapPort))) << log;
}

// A name in the view from its suffix.
std::string V(const std::string& suffix)
{
    return kView + "." + suffix;
}

// A SET's bindings, each "suffix type value".
std::string Bindings(const std::vector<std::string>& bindings)
{
    std::string out;
    for (const std::string& b : bindings)
        out += " " + (b[0] == '.' ? b : V(b));
    return out;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// An IPv4 address of this machine outside the loopback network, if it has one.
std::optional<std::string> OtherLocalAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<std::string> found;
    for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(a->ifa_flags & IFF_UP))
            continue;
        const uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        if ((address >> 24) != 127)
            found = platform::FormatIPv4(address);
    }
    freeifaddrs(list);
    return found;
}

TEST_F(SnmpService, GetNextFromASubIdentifierOfTwoToThe31OrMoreStaysInTheSubtree)
{
    struct Case {
        const char* from;
        const char* next;
    };
    const Case cases[] = {
        {"1.1.1.1.2147483648", "1.1.1.2.1"}, {"1.1.1.6.4294967295", "2.1.0"}, {"2.4.1.4.2147483647", "3.1.1.1.1"},
        {"1.4294967295", "2.1.0"},           {"3.1.1.3.3000000000", "3.2.0"},
    };
    for (const Case& c : cases) {
        const std::string out = Tool("snmpgetnext -v2c -c public", V(c.from));
        EXPECT_EQ(0u, out.find(V(c.next) + " = ")) << c.from << ": " << out;
    }
}

// Another process keeps the shared mutex six times longer than snmpd waits for a sub-agent (agentXTimeout
// 1 s): the agent waits for it at most KORVO_NODWELL_QUERY_WAIT_MS (0.5 s) and answers from its last copy
// of the block; SETs are refused; once the mutex is let go, what the holder wrote is served. (With the
// agent's old 10 s waits the hold had to be 35 s to show the host dying; the waits now never reach 1 s.)
TEST_F(SnmpService, AMutexHeldLongByAnotherProcessLeavesTheHostAnswering)
{
    ASSERT_NE(std::string::npos, Tool("snmpset -v2c -c private", V("3.2.0 i 11")).find("INTEGER: 11"));
    ChildProcess holder;
    ASSERT_TRUE(holder.Start({KORVO_TEST_PRODUCT, "--hold", "6000", "77"}, _dir / "holder.out"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(_dir / "holder.out").find("held") != std::string::npos; },
                        std::chrono::seconds(60)));
    int fromCopy = 0, refused = 0;
    std::vector<std::string> odd;
    bool setTried = false;
    for (;;) {
        // Several bindings in one request: the agent's wait is one for all of them.
        const std::string out =
            Tool("snmpget -v2c -c public", V("3.2.0") + " " + V("2.1.0") + " " + V("1.1.1.2.1") + " " + V("3.3.0"));
        if (!setTried) {
            setTried = true;
            int code = 0;
            const std::string set = Tool("snmpset -v2c -c private", V("3.3.0 i 5"), &code);
            EXPECT_NE(0, code) << set;
        }
        // The holder writes 77 as it lets the mutex go, then ends.
        if (!holder.Running() || out.find(V("3.2.0") + " = INTEGER: 77\n") != std::string::npos)
            break;
        ASSERT_TRUE(_subagent.Running()) << ReadFile(_dir / "subagent.out");
        if (out.find(V("3.2.0") + " = INTEGER: 11\n") != std::string::npos &&
            out.find("101.00.02") != std::string::npos && out.find(V("3.3.0") + " = INTEGER: 0") != std::string::npos)
            ++fromCopy;
        else if (out.find("genErr") != std::string::npos)
            ++refused;
        else
            odd.push_back(out);
    }
    std::printf("while held: %d answered from the last copy, %d genErr\n", fromCopy, refused);
    EXPECT_GT(fromCopy, 0);
    EXPECT_TRUE(odd.empty()) << odd.front();
    EXPECT_TRUE(
        WaitFor([&] { return Tool("snmpget -v2c -c public", V("3.2.0")).find("INTEGER: 77") != std::string::npos; },
                std::chrono::seconds(3)));
    EXPECT_TRUE(_subagent.Running());
    EXPECT_NE(std::string::npos, Tool("snmpset -v2c -c private", V("3.3.0 i 6")).find("INTEGER: 6"));
}

TEST_F(SnmpService, RefusedSetsOfSeveralBindingsLeaveTableAndRegistryAsTheyWere)
{
    struct Case {
        std::vector<std::string> bindings;
        const char* error;
        std::string failed;
    };
    const std::vector<Case> cases = {
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 4", "2.4.1.2.3 a 0.0.0.0"}, "wrongValue", V("2.4.1.2.3")},
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 4", "2.1.0 s x"}, "notWritable", V("2.1.0")},
        {{"2.4.1.4.1 i 5", "2.4.1.3.1 s " + std::string(130, 'x')}, "wrongValue", V("2.4.1.3.1")},
        {{"3.2.0 i 9", "2.4.1.4.2 i 4"}, "inconsistentValue", V("2.4.1.4.2")},
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 0"}, "wrongValue", V("2.4.1.4.2")},
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 3"}, "wrongValue", V("2.4.1.4.2")},
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 99"}, "wrongValue", V("2.4.1.4.2")},
        {{"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i -1"}, "wrongValue", V("2.4.1.4.2")},
        {{"2.4.1.4.1 i 5", "2.4.1.4.2 s 4"}, "wrongType", V("2.4.1.4.2")},
        // Refused by snmpd itself (sysServices is read-only), after the agent's part was checked.
        {{"2.4.1.4.1 i 5", ".1.3.6.1.2.1.1.7.0 i 3"}, "notWritable", ".1.3.6.1.2.1.1.7.0"},
    };
    auto table = [&] { return Tool("snmpwalk -v2c -c public", V("2")) + Tool("snmpget -v2c -c public", V("3.2.0")); };
    const std::string before = table();
    const auto registry = Destinations();
    for (const Case& c : cases) {
        int code = 0;
        const std::string out = Tool("snmpset -v2c -c private", Bindings(c.bindings), &code);
        EXPECT_NE(0, code) << out;
        EXPECT_NE(std::string::npos, out.find(std::string("Reason: ") + c.error)) << out;
        EXPECT_NE(std::string::npos, out.find("Failed object: " + c.failed + "\n")) << out;
        EXPECT_EQ(registry, Destinations()) << out;
        EXPECT_EQ(before, table()) << out;
    }

    // Nine more destinations in one request fill the table; an eleventh is refused.
    std::vector<std::string> fill;
    for (int r = 2; r <= 10; ++r) {
        fill.push_back("2.4.1.4." + std::to_string(r) + " i 4");
        fill.push_back("2.4.1.2." + std::to_string(r) + " a 10.0.1." + std::to_string(r));
    }
    int code = 0;
    std::string out = Tool("snmpset -v2c -c private", Bindings(fill), &code);
    ASSERT_EQ(0, code) << out;
    ASSERT_EQ(10u, Destinations().size());
    const std::string full = table();
    out = Tool("snmpset -v2c -c private", Bindings({"2.4.1.2.1 a 10.9.9.9", "2.4.1.4.1 i 4"}), &code);
    EXPECT_NE(std::string::npos, out.find("Reason: resourceUnavailable")) << out;
    EXPECT_NE(std::string::npos, out.find("Failed object: " + V("2.4.1.4.1") + "\n")) << out;
    EXPECT_EQ(10u, Destinations().size());
    EXPECT_EQ(full, table());
    EXPECT_NE(std::string::npos, full.find(V("2.3.0") + " = INTEGER: 11\n")) << full;
    EXPECT_NE(std::string::npos, full.find(V("2.4.1.2.10") + " = IpAddress: 10.0.1.10\n")) << full;
}

// The key sections alone, written by hand, none of their parents.
class SnmpServiceOnALeafHive : public SnmpService
{
protected:
    void WriteRegistry() override
    {
        std::ofstream out(platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg");
        out << "[SOFTWARE\\Brennhall\\Nodwell\\Config\\Player]\n\"Type\"=dword:00000003\n"
            << "\"Description\"=sz:\"Leaf player\"\n\"ProductName\"=sz:\"" << ProductName() << "\"\n"
            << "\"ProductPath\"=sz:\"" << Product().parent_path().string() << "\"\n\n"
            << "[System\\CurrentControlSet\\Services\\SNMP\\Parameters\\TrapConfiguration\\public]\n"
            << "\"1\"=sz:\"127.0.0.1\"\n";
    }
};

TEST_F(SnmpServiceOnALeafHive, ProductsArePublishedAndDestinationsSaved)
{
    const std::string walk = Tool("snmpwalk -v2c -c public", kView);
    EXPECT_NE(std::string::npos, walk.find(V("1.1.1.2.1") + " = INTEGER: 3\n")) << walk;
    EXPECT_NE(std::string::npos, walk.find(V("1.1.1.3.1") + " = STRING: \"Leaf player\"\n")) << walk;
    EXPECT_NE(std::string::npos, walk.find(V("2.4.1.4.1") + " = INTEGER: 2\n")) << walk;
    int code = 0;
    const std::string out =
        Tool("snmpset -v2c -c private", Bindings({"2.4.1.2.2 a 127.0.0.2", "2.4.1.4.2 i 4"}), &code);
    EXPECT_EQ(0, code) << out;
    EXPECT_EQ((std::vector<std::string>{"1=127.0.0.1", "2=127.0.0.2"}), Destinations());
}

TEST_F(SnmpService, ASetThatCannotBeSavedAnswersCommitFailed)
{
    Registry::DeleteKey(RegHive::LocalMachine, "System");
    const std::string before = Tool("snmpwalk -v2c -c public", V("2"));
    int code = 0;
    const std::string out = Tool("snmpset -v2c -c private", Bindings({"2.4.1.2.2 a 10.0.0.9", "2.4.1.4.2 i 4"}), &code);
    EXPECT_NE(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("Reason: commitFailed")) << out;
    EXPECT_EQ(before, Tool("snmpwalk -v2c -c public", V("2")));
    EXPECT_FALSE(Registry::KeyExists(RegHive::LocalMachine, "System"));
}

// The stop comes while another process holds the shared mutex, so that the monitor is inside its wait
// (10 s by default). The agent aims at well under a second; the check leaves sanitizer builds on a busy
// machine a margin.
TEST_F(SnmpService, SigtermStopsTheHostWithinASecond)
{
    ChildProcess holder;
    ASSERT_TRUE(holder.Start({KORVO_TEST_PRODUCT, "--hold", "120000", "1"}, _dir / "holder.out"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(_dir / "holder.out").find("held") != std::string::npos; },
                        std::chrono::seconds(60)));
    // A wait the monitor begins from now on is a wait for the held mutex.
    const size_t before = CountInFile(AgentLogFile(), kMonitorWaits);
    ASSERT_TRUE(WaitFor([&] { return CountInFile(AgentLogFile(), kMonitorWaits) > before; }, std::chrono::seconds(60)))
        << AgentLogFile();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, kill(_subagent.Pid(), SIGTERM));
    const int code = _subagent.Wait(std::chrono::seconds(15));
    const double seconds = SecondsSince(start);
    std::printf("the host stopped in %.3f s\n", seconds);
    EXPECT_EQ(0, code) << ReadFile(_dir / "subagent.out");
    EXPECT_LT(seconds, 3.0);
    EXPECT_NE(std::string::npos, ReadFile(_dir / "subagent.out").find("stopped"));
    holder.Stop(SIGKILL);
}

TEST_F(SnmpService, ARestartedSnmpdServesTheSubtreeAgainWithinSeconds)
{
    _snmpd.Stop();
    ASSERT_FALSE(Served());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartSnmpd());
    ASSERT_TRUE(WaitFor([&] { return Served(); }, std::chrono::seconds(20)));
    const double seconds = SecondsSince(start);
    std::printf("served again %.3f s after snmpd was started\n", seconds);
    // The host seeks a lost master agent every second; a margin over 3 s for sanitizer builds.
    EXPECT_LT(seconds, 5.0);
    EXPECT_TRUE(_subagent.Running());
}

TEST_F(SnmpService, ASecondHostIsRefusedAndChangesNothing)
{
    ASSERT_NE(std::string::npos, Tool("snmpset -v2c -c private", V("3.2.0 i 21")).find("INTEGER: 21"));
    const std::string before = Tool("snmpwalk -v2c -c public", kView);
    ChildProcess second;
    ASSERT_TRUE(StartHost(second, _dir / "second.out"));
    EXPECT_EQ(1, second.Wait(std::chrono::seconds(60)));
    EXPECT_NE(std::string::npos, ReadFile(_dir / "second.out").find("another host already serves the agent"))
        << ReadFile(_dir / "second.out");
    EXPECT_TRUE(_subagent.Running());
    EXPECT_EQ(before, Tool("snmpwalk -v2c -c public", kView));
}

// snmptrapd prints each trap's agent-addr beside the addresses it travelled between.
TEST_F(SnmpService, V1TrapsCarryTheAddressOfTheInterfaceTheyLeaveBy)
{
    const auto other = OtherLocalAddress();
    _trapd.Stop();
    std::string listen = "udp:127.0.0.1:" + std::to_string(_trapPort);
    if (other)
        listen += ",udp:" + *other + ":" + std::to_string(_trapPort);
    ChildProcess trapd;
    const auto log = _dir / "agent-addr.log";
    ASSERT_TRUE(trapd.Start({"/usr/sbin/snmptrapd", "-f", "-C", "-c", (_dir / "snmptrapd.conf").string(), "-n", "-F",
                             "agent %a via %b\n", "-Lf", log.string(), listen},
                            _dir / "agent-addr.out"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(log).find("NET-SNMP version") != std::string::npos; },
                        std::chrono::seconds(60)));  // listening: a trap sent before would be lost
    size_t expected = 1;
    if (other) {
        int code = 0;
        Tool("snmpset -v2c -c private", Bindings({"2.4.1.2.2 a " + *other, "2.4.1.4.2 i 4"}), &code);
        ASSERT_EQ(0, code);
        ++expected;
    }
    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, _dir / "product.out"));
    const std::regex line(R"(agent (\S+) via UDP: \[(\S+)\]:\d+->\[(\S+)\]:\d+)");
    std::vector<std::pair<std::string, std::string>> seen;  // agent-addr, the address the trap went to
    ASSERT_TRUE(WaitFor(
        [&] {
            seen.clear();
            const std::string text = ReadFile(log);
            for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
                seen.emplace_back((*it)[1], (*it)[3]);
            return seen.size() >= expected;
        },
        std::chrono::seconds(60)))
        << ReadFile(log);
    for (const auto& [agent, to] : seen)
        EXPECT_EQ(to, agent);
    EXPECT_NE(seen.end(),
              std::find(seen.begin(), seen.end(), std::make_pair(std::string("127.0.0.1"), std::string("127.0.0.1"))));
    if (other)
        EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), std::make_pair(*other, *other)));
}

}  // namespace
}  // namespace snmptest
