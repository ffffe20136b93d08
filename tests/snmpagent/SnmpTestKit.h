#pragma once

// Processes and ports for the agent's tests: every child is stopped by its owner, every wait is bounded.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Paths.h"

extern char** environ;

namespace snmptest
{

// A child process, its output in a file; stopped (TERM, then KILL) when the object goes.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    bool Start(const std::vector<std::string>& args, const std::filesystem::path& output)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            _pid = -1;
        return _pid > 0;
    }

    pid_t Pid() const { return _pid; }
    bool Running()
    {
        if (_pid <= 0)
            return false;
        int status = 0;
        if (waitpid(_pid, &status, WNOHANG) == _pid) {
            _pid = -1;
            return false;
        }
        return true;
    }

    // Exit code after a bounded wait; -1 when it had to be killed.
    int Wait(std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (_pid > 0) {
            int status = 0;
            if (waitpid(_pid, &status, WNOHANG) == _pid) {
                _pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end) {
                kill(_pid, SIGKILL);
                waitpid(_pid, &status, 0);
                _pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    void Stop(int signal = SIGTERM)
    {
        if (_pid <= 0)
            return;
        kill(_pid, signal);
        Wait(std::chrono::milliseconds(5000));
    }

private:
    pid_t _pid = -1;
};

// A port free a moment ago, drawn below the kernel's ephemeral range (from 32768 up): ports that bind(0)
// hands out lie in that range, where every outgoing connection of the tests running beside this one takes
// its source port too, so a daemon could find its port taken before it binds it.
inline int FreePort(int type)
{
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(20000, 32000);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = pick(random);
        int fd = socket(AF_INET, type, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (free)
            return port;
    }
    return 0;
}

// Runs a shell command line, bounded to 10 s; its output and its exit code.
inline std::string RunCommand(const std::string& command, int* exitCode = nullptr)
{
    std::string output;
    FILE* pipe = popen(("timeout 10 " + command + " 2>&1").c_str(), "r");
    if (!pipe)
        return output;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The agent's log, where it configures it (a sub-agent host started by the test inherits the same place).
inline std::filesystem::path AgentLogFile()
{
    const char* dir = std::getenv("KORVO_NODWELL_LOG_DIR");
    return std::filesystem::path(dir ? dir : platform::ToLocalPath("C:\\KorvoLogs")) / "Nodwell.log";
}

// How often a text appears in a file.
inline size_t CountInFile(const std::filesystem::path& path, const std::string& text)
{
    const std::string all = ReadFile(path);
    size_t count = 0;
    for (size_t at = 0; (at = all.find(text, at)) != std::string::npos; ++at)
        ++count;
    return count;
}

// The line the agent's monitor logs as it begins to wait for the shared mutex.
constexpr const char* kMonitorWaits = "before WaitForSingleObject(hMutex,10000)";

// Polls until done() or the limit.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace snmptest
