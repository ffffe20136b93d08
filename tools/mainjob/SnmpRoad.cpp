// The SNMP road: net-snmp's snmpd as master agent and the sub-agent host serving libNodwell.so over AgentX,
// both on free loopback ports with private configuration and state; snmpwalk walks the agent's subtree,
// snmpset adds a trap destination and snmptrapd receives the traps of a product started and stopped.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/Registry.h"
#include "snmpagent/CNodwellAgent.h"
#include "tools/mainjob/Road.h"

extern char** environ;

namespace mainjob
{
namespace
{

namespace fs = std::filesystem;
const std::string kView = ".1.3.6.1.4.1.48021.2.2";

// A daemon started for the road, its output in a file, stopped (TERM, then KILL after 3 s) when it goes.
class Daemon
{
public:
    Daemon() = default;
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    ~Daemon()
    {
        if (_pid <= 0)
            return;
        kill(_pid, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            if (waitpid(_pid, nullptr, WNOHANG) == _pid)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(_pid, SIGKILL);
        waitpid(_pid, nullptr, 0);
    }

    // Kills the process at once and reaps it.
    void Kill()
    {
        if (_pid <= 0)
            return;
        kill(_pid, SIGKILL);
        waitpid(_pid, nullptr, 0);
        _pid = -1;
    }

    bool Start(std::vector<std::string> args, const fs::path& output)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            _pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return _pid > 0;
    }

private:
    pid_t _pid = -1;
};

// A free loopback port in 20000-32000, away from the ephemeral range other programs' sockets take.
int FreePort(int type)
{
    static uint32_t seed = static_cast<uint32_t>(getpid()) * 2654435761u;
    for (int tries = 0; tries < 200; ++tries) {
        seed = seed * 1103515245u + 12345u;
        const int port = 20000 + static_cast<int>((seed >> 8) % 12001);
        int fd = socket(AF_INET, type, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (bound)
            return port;
    }
    return 0;
}

bool WaitFor(const std::function<bool()>& done, int tenths)
{
    for (int i = 0; i < tenths; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

std::string ReadText(const fs::path& path)
{
    const Bytes bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

int Lines(const std::string& text)
{
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

}  // namespace

void SnmpRoad(Road& road, Media& media)
{
    for (const char* program : {"/usr/sbin/snmpd", "/usr/sbin/snmptrapd", "snmpwalk", "snmpget", "snmpset"})
        if (!HaveProgram(program)) {
            road.Skip(std::string(program) + " not installed (Debian packages snmpd, snmptrapd and snmp)");
            return;
        }
    const fs::path dir = media.work / "snmp";
    fs::create_directories(dir / "state");
    fs::create_directories(dir / "conf");
    // The daemons and tools read and write only here, never the machine's /etc/snmp or /var/lib/snmp.
    setenv("SNMP_PERSISTENT_DIR", (dir / "state").c_str(), 1);
    setenv("SNMPCONFPATH", (dir / "conf").c_str(), 1);
    setenv("MIBS", "", 1);
    setenv("KORVO_NODWELL_LOG_DIR", (dir / "logs").c_str(), 1);
    // The agent looks at the products every 200 ms here, not every 10 s.
    setenv("KORVO_NODWELL_FIRST_TICK_MS", "200", 1);
    setenv("KORVO_NODWELL_TICK_MS", "200", 1);
    // A product: a copy of sleep under its own name, listed in the machine hive.
    fs::create_directories(dir / "bin");
    fs::copy_file("/bin/sleep", dir / "bin" / "korvo-player", fs::copy_options::overwrite_existing);
    const std::string product = std::string(snmpagent::kProductConfigKey) + "\\Player";
    platform::Registry::CreateKey(platform::RegHive::LocalMachine, product);
    platform::Registry::SetDword(platform::RegHive::LocalMachine, product, "Type", 3);
    platform::Registry::SetString(platform::RegHive::LocalMachine, product, "Description", "Player");
    platform::Registry::SetString(platform::RegHive::LocalMachine, product, "ProductName", "korvo-player");
    platform::Registry::SetString(platform::RegHive::LocalMachine, product, "ProductPath", (dir / "bin").string());
    platform::Registry::SetString(platform::RegHive::LocalMachine, product, "SerialNumber", "SN-0001");
    // The community's trap destinations, none yet: the road adds one through the agent.
    platform::Registry::CreateKey(platform::RegHive::LocalMachine, std::string(snmpagent::kTrapConfigKey) + "\\public");
    const int agentx = FreePort(SOCK_STREAM);
    const int port = FreePort(SOCK_DGRAM);
    std::ofstream(dir / "snmpd.conf") << "master agentx\nagentXSocket tcp:127.0.0.1:" << agentx
                                      << "\nagentaddress udp:127.0.0.1:" << port
                                      << "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n";
    const int traps = FreePort(SOCK_DGRAM);
    std::ofstream(dir / "snmptrapd.conf") << "disableAuthorization yes\n";
    const std::string tool = " -On -t 1 -r 0 -v2c -c public 127.0.0.1:" + std::to_string(port) + " ";

    road.StartClock();
    Daemon snmpd;
    Daemon trapd;
    Daemon subagent;
    Daemon player;
    bool started = snmpd.Start({"/usr/sbin/snmpd", "-f", "-C", "-c", (dir / "snmpd.conf").string(), "-Lf",
                                (dir / "snmpd.log").string(), "-p", (dir / "snmpd.pid").string()},
                               dir / "snmpd.out");
    road.Check(started, "snmpd on udp:127.0.0.1:" + std::to_string(port) +
                            ", AgentX on tcp:127.0.0.1:" + std::to_string(agentx));
    started =
        started && trapd.Start({"/usr/sbin/snmptrapd", "-f", "-C", "-c", (dir / "snmptrapd.conf").string(), "-n", "-On",
                                "-Lf", (dir / "traps.log").string(), "udp:127.0.0.1:" + std::to_string(traps)},
                               dir / "snmptrapd.out");
    road.Check(started, "snmptrapd on udp:127.0.0.1:" + std::to_string(traps));
    // snmpd answers its own system group once it listens.
    bool answering = false;
    for (int i = 0; started && i < 50 && !answering; ++i) {
        answering = Shell("snmpget" + tool + ".1.3.6.1.2.1.1.3.0 2>&1").find("Timeticks") != std::string::npos;
        if (!answering)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!road.Check(answering, "snmpd answers"))
        return;
    started = subagent.Start(
        {KORVO_SNMP_SUBAGENT, "--library", KORVO_NODWELL_LIBRARY, "--agentx", "tcp:127.0.0.1:" + std::to_string(agentx),
         "--state-dir", (dir / "state").string(), "--trap-port", std::to_string(traps), "--poll-ms", "50"},
        dir / "subagent.out");
    std::string version;
    for (int i = 0; started && i < 100 && version.find("101.00.02") == std::string::npos; ++i) {
        version = Shell("snmpget" + tool + kView + ".2.1.0 2>&1");
        if (version.find("101.00.02") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!road.Check(version.find("101.00.02") != std::string::npos,
                    "the sub-agent host serves libNodwell.so: agent version 101.00.02"))
        return;
    const std::string walk = Shell("snmpwalk" + tool + kView + " 2>&1");
    const int variables = Lines(walk);
    road.Check(variables > 0 && walk.find("Timeout") == std::string::npos &&
                   walk.find(kView + ".2.2.0 = INTEGER:") != std::string::npos,
               "snmpwalk of " + kView + " gives " + std::to_string(variables) + " variables");

    // A trap destination set through the agent: its address and the command "add" (4) in one SET.
    const std::string set = Shell("snmpset -On -t 1 -r 0 -v2c -c private 127.0.0.1:" + std::to_string(port) + " " +
                                  kView + ".2.4.1.2.1 a 127.0.0.1 " + kView + ".2.4.1.4.1 i 4 2>&1");
    const auto destinations = platform::Registry::EnumValues(platform::RegHive::LocalMachine,
                                                             std::string(snmpagent::kTrapConfigKey) + "\\public");
    road.Check(destinations.size() == 1 &&
                   std::string(destinations[0].data.begin(), destinations[0].data.end()).starts_with("127.0.0.1"),
               "snmpset makes 127.0.0.1 a trap destination: " + set.substr(0, set.find('\n')));
    // The product started and stopped: a trap of each state.
    const std::string state = kView + ".1.1.1.6.1 = INTEGER: ";
    auto trapped = [&](const char* value) {
        return ReadText(dir / "traps.log").find(state + value) != std::string::npos;
    };
    road.Check(player.Start({(dir / "bin" / "korvo-player").string(), "600"}, dir / "player.out") &&
                   WaitFor([&] { return trapped("2"); }, 100),
               "snmptrapd receives the trap of the product started (state 2)");
    player.Kill();
    road.Check(WaitFor([&] { return trapped("8"); }, 100), "and of the product stopped (state 8)");
    road.StopClock();
    road.SetUnit("variables");
    road.Moved(static_cast<uint64_t>(variables), walk.size());
}

}  // namespace mainjob
