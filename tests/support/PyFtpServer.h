#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport
{

// A real FTP server for tests: pyftpdlib under /usr/bin/python3, serving a folder with write access
// on a free port of the given loopback address. Started by the constructor, stopped by the destructor.
class PyFtpServer
{
public:
    struct Options {
        std::string host = "127.0.0.1";
        std::string user = "korvo";
        std::string password = "mirel";
        bool refuseRest = false;        // answer 500 to REST, as a server without restart support
        bool sessionProcesses = false;  // each session in a process of its own, which KillSessions ends
    };

    explicit PyFtpServer(const std::filesystem::path& root);
    PyFtpServer(const std::filesystem::path& root, const Options& options);
    ~PyFtpServer();
    PyFtpServer(const PyFtpServer&) = delete;
    PyFtpServer& operator=(const PyFtpServer&) = delete;

    bool IsRunning() const { return _port != 0; }
    uint16_t Port() const { return _port; }
    const std::string& Host() const { return _options.host; }
    // "user:password@host:port", as a server list takes it.
    std::string Address() const;
    // Kills the session processes open now, as a crashing server would: their sockets just close.
    int KillSessions();

private:
    std::filesystem::path _root;
    Options _options;
    pid_t _pid = -1;
    uint16_t _port = 0;
};

}  // namespace testsupport
