// The SNMP road: net-snmp's snmpd as master agent and the sub-agent host serving libNodwell.so over AgentX,
// both on free loopback ports with private configuration and state; snmpwalk walks the agent's subtree.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

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

int FreePort(int type)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
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
    for (const char* program : {"/usr/sbin/snmpd", "snmpwalk", "snmpget"})
        if (!HaveProgram(program)) {
            road.Skip(std::string(program) + " not installed (Debian packages snmpd and snmp)");
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
    const int agentx = FreePort(SOCK_STREAM);
    const int port = FreePort(SOCK_DGRAM);
    std::ofstream(dir / "snmpd.conf") << "master agentx\nagentXSocket tcp:127.0.0.1:" << agentx
                                      << "\nagentaddress udp:127.0.0.1:" << port << "\nrocommunity public 127.0.0.1\n";
    const std::string tool = " -On -t 1 -r 0 -v2c -c public 127.0.0.1:" + std::to_string(port) + " ";

    road.StartClock();
    Daemon snmpd;
    Daemon subagent;
    bool started = snmpd.Start({"/usr/sbin/snmpd", "-f", "-C", "-c", (dir / "snmpd.conf").string(), "-Lf",
                                (dir / "snmpd.log").string(), "-p", (dir / "snmpd.pid").string()},
                               dir / "snmpd.out");
    road.Check(started, "snmpd on udp:127.0.0.1:" + std::to_string(port) +
                            ", AgentX on tcp:127.0.0.1:" + std::to_string(agentx));
    // snmpd answers its own system group once it listens.
    bool answering = false;
    for (int i = 0; started && i < 50 && !answering; ++i) {
        answering = Shell("snmpget" + tool + ".1.3.6.1.2.1.1.3.0 2>&1").find("Timeticks") != std::string::npos;
        if (!answering)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!road.Check(answering, "snmpd answers"))
        return;
    started = subagent.Start({KORVO_SNMP_SUBAGENT, "--library", KORVO_NODWELL_LIBRARY, "--agentx",
                              "tcp:127.0.0.1:" + std::to_string(agentx), "--state-dir", (dir / "state").string(),
                              "--trap-port", std::to_string(FreePort(SOCK_DGRAM)), "--poll-ms", "50"},
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
    road.StopClock();
    const int variables = Lines(walk);
    road.Check(variables > 0 && walk.find("Timeout") == std::string::npos &&
                   walk.find(kView + ".2.2.0 = INTEGER:") != std::string::npos,
               "snmpwalk of " + kView + " gives " + std::to_string(variables) + " variables");
    road.SetUnit("variables");
    road.Moved(static_cast<uint64_t>(variables), walk.size());
}

}  // namespace mainjob
