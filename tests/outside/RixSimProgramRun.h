#pragma once

// The simulator's program on a folder, for tests: started on free loopback ports, stopped with SIGTERM.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/outside/RixSimTestClient.h"

namespace rixsimtest
{

class RixSimProgramRun
{
public:
    // Starts the program on the folder with the further options; Welcome() is empty when it did not come up.
    RixSimProgramRun(const std::string& program, const std::filesystem::path& root,
                     const std::vector<std::string>& options = {})
    {
        _nPort = CRixSimSocket::Listen("127.0.0.1", 0).LocalPort();
        const uint16_t nGbePort = CRixSimSocket::Listen("127.0.0.1", 0).LocalPort();
        _errFile = root.string() + ".stderr";
        std::vector<std::string> args = {
            program, "--root", root.string(), "--port", std::to_string(_nPort), "--gbe-port", std::to_string(nGbePort)};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string errFile = _errFile.string();
        _pid = fork();
        if (_pid == 0) {
            const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int null = open("/dev/null", O_WRONLY);
            if (fd >= 0)
                dup2(fd, 2);
            if (null >= 0)
                dup2(null, 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        for (int i = 0; i < 200 && _pid > 0; ++i) {
            int status = 0;
            if (waitpid(_pid, &status, WNOHANG) == _pid) {
                _pid = -1;
                _nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (CRixSimSocket::Connect("127.0.0.1", _nPort, 100).IsOpen()) {
                FtpClient client(_nPort);
                _szWelcome = client.Read().szText;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~RixSimProgramRun() { Stop(); }
    RixSimProgramRun(const RixSimProgramRun&) = delete;
    RixSimProgramRun& operator=(const RixSimProgramRun&) = delete;

    // Stops the program; its exit status (-1 when it did not exit normally).
    int Stop()
    {
        if (_pid > 0) {
            kill(_pid, SIGTERM);
            int status = 0;
            waitpid(_pid, &status, 0);
            _pid = -1;
            _nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return _nExit;
    }

    uint16_t Port() const { return _nPort; }
    const std::string& Welcome() const { return _szWelcome; }
    std::string Errors() const
    {
        std::ifstream in(_errFile);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    pid_t _pid = -1;
    int _nExit = -1;
    uint16_t _nPort = 0;
    std::filesystem::path _errFile;
    std::string _szWelcome;
};

}  // namespace rixsimtest
