#include "tests/support/PyFtpServer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport
{
namespace
{
// Binds port 0 itself and prints the port, so there is no race for a free port.
const char kScript[] = R"PY(
import sys, logging
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer, MultiprocessFTPServer
root, host, user, password, refuse_rest, processes = sys.argv[1:7]
logging.basicConfig(level=logging.ERROR)
auth = DummyAuthorizer()
perm = 'elradfmwMT'
auth.add_user(user, password, root, perm=perm)
class Handler(FTPHandler):
    pass
if refuse_rest == '1':
    def ftp_REST(self, line):
        self.respond('500 Command "REST" not understood.')
    Handler.ftp_REST = ftp_REST
Handler.authorizer = auth
Handler.auth_failed_timeout = 0.1
server = (MultiprocessFTPServer if processes == '1' else FTPServer)((host, 0), Handler)
print(server.address[1], flush=True)
server.serve_forever()
)PY";
}  // namespace

PyFtpServer::PyFtpServer(const std::filesystem::path& root) : PyFtpServer(root, Options()) {}

PyFtpServer::PyFtpServer(const std::filesystem::path& root, const Options& options) : _root(root), _options(options)
{
    std::filesystem::create_directories(root);
    int out[2];
    if (pipe(out) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string rootText = root.string();
    std::vector<std::string> args = {"/usr/bin/python3",
                                     "-c",
                                     kScript,
                                     rootText,
                                     _options.host,
                                     _options.user,
                                     _options.password,
                                     _options.refuseRest ? "1" : "0",
                                     _options.sessionProcesses ? "1" : "0"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        _pid = -1;
        close(out[0]);
        return;
    }
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0) {
        char buf[64];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int port = std::atoi(line.c_str());
    if (port > 0 && port < 65536)
        _port = static_cast<uint16_t>(port);
}

PyFtpServer::~PyFtpServer()
{
    if (_pid > 0) {
        kill(_pid, SIGTERM);
        int status = 0;
        waitpid(_pid, &status, 0);
    }
}

std::string PyFtpServer::Address() const
{
    return _options.user + ":" + _options.password + "@" + _options.host + ":" + std::to_string(_port);
}

int PyFtpServer::KillSessions()
{
    if (_pid <= 0)
        return 0;
    // The server forks each session from its main thread.
    std::ifstream list("/proc/" + std::to_string(_pid) + "/task/" + std::to_string(_pid) + "/children");
    int killed = 0;
    pid_t child = 0;
    while (list >> child)
        if (child > 0 && kill(child, SIGKILL) == 0)
            ++killed;
    return killed;
}

}  // namespace testsupport
