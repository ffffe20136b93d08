// The agent served by net-snmp's snmpd through the sub-agent host, checked with net-snmp's own tools.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>

#include "platform/Registry.h"
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

        const std::string products = std::string(snmpagent::kProductConfigKey) + "\\Player";
        Registry::CreateKey(RegHive::LocalMachine, products);
        Registry::SetDword(RegHive::LocalMachine, products, "Type", 3);
        Registry::SetString(RegHive::LocalMachine, products, "Description", "Test player");
        Registry::SetString(RegHive::LocalMachine, products, "ProductName", ProductName());
        Registry::SetString(RegHive::LocalMachine, products, "ProductPath", Product().parent_path().string());
        Registry::SetString(RegHive::LocalMachine, products, "SerialNumber", "SN-42");
        Registry::SetString(RegHive::LocalMachine, TrapKey(), "1", "127.0.0.1");

        const int agentx = FreePort(SOCK_STREAM);
        _port = FreePort(SOCK_DGRAM);
        _trapPort = FreePort(SOCK_DGRAM);
        WriteFile(_dir / "snmpd.conf", "master agentx\nagentXSocket tcp:127.0.0.1:" + std::to_string(agentx) +
                                           "\nagentaddress udp:127.0.0.1:" + std::to_string(_port) +
                                           "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n");
        WriteFile(_dir / "snmptrapd.conf", "disableAuthorization yes\n");
        ASSERT_TRUE(_snmpd.Start({"/usr/sbin/snmpd", "-f", "-C", "-c", (_dir / "snmpd.conf").string(), "-Lf",
                                  (_dir / "snmpd.log").string(), "-p", (_dir / "snmpd.pid").string()},
                                 _dir / "snmpd.out"));
        ASSERT_TRUE(
            _trapd.Start({"/usr/sbin/snmptrapd", "-f", "-C", "-c", (_dir / "snmptrapd.conf").string(), "-On", "-Lf",
                          TrapLog().string(),
                          "udp:127.0.0.1:" + std::to_string(_trapPort) + ",udp:127.0.0.2:" + std::to_string(_trapPort)},
                         _dir / "snmptrapd.out"));
        ASSERT_TRUE(WaitFor([&] { return TcpAccepts(agentx); }, std::chrono::seconds(10)));
        ASSERT_TRUE(
            _subagent.Start({KORVO_SNMP_SUBAGENT, "--library", KORVO_NODWELL_LIBRARY, "--agentx",
                             "tcp:127.0.0.1:" + std::to_string(agentx), "--state-dir", (_dir / "state").string(),
                             "--trap-port", std::to_string(_trapPort), "--poll-ms", "50"},
                            _dir / "subagent.out"));
        ASSERT_TRUE(WaitFor(
            [&] { return Tool("snmpget -v2c -c public", kView + ".2.1.0").find("101.00.02") != std::string::npos; },
            std::chrono::seconds(15)))
            << ReadFile(_dir / "subagent.out");
    }

    void TearDown() override
    {
        _subagent.Stop();
        _trapd.Stop();
        _snmpd.Stop();
        RemoveAgentObjects();
    }

    static std::string TrapKey() { return std::string(snmpagent::kTrapConfigKey) + "\\public"; }
    std::filesystem::path TrapLog() const { return _dir / "snmptrapd.log"; }

    std::string Tool(const std::string& tool, const std::string& args, int* exitCode = nullptr) const
    {
        return RunCommand(tool + " -On -t 2 -r 0 127.0.0.1:" + std::to_string(_port) + " " + args, exitCode);
    }

    std::filesystem::path _dir;
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
                        std::chrono::seconds(5)));
    ChildProcess program;
    ASSERT_TRUE(program.Start({Product().string()}, _dir / "product.out"));
    auto trapped = [&](const std::string& value) {
        return ReadFile(TrapLog()).find(state + " = INTEGER: " + value) != std::string::npos;
    };
    ASSERT_TRUE(WaitFor([&] { return trapped("2"); }, std::chrono::seconds(10))) << ReadFile(TrapLog());
    program.Stop(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return trapped("8"); }, std::chrono::seconds(10))) << ReadFile(TrapLog());

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
                        std::chrono::seconds(10)));
    const std::string log = ReadFile(TrapLog());
    EXPECT_NE(std::string::npos, log.find("->[127.0.0.2]:" + std::to_string(_trapPort))) << log;
    EXPECT_EQ(std::string::npos, log.find("->[127.0.0.1]:" + std::to_string(_trapPort))) << log;
}

}  // namespace
}  // namespace snmptest
