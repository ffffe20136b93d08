#pragma once

// The simulator's program on a folder, for tests: started on loopback ports of its own, stopped with SIGTERM.

#include <fcntl.h>
#include <poll.h>
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
    // Starts the program on the folder with the further options, on ports the system picks (so no other test can
    // take them between a choice and the start); Welcome() is empty when it did not come up.
    RixSimProgramRun(const std::string& program, const std::filesystem::path& root,
                     const std::vector<std::string>& options = {})
    {
        _errFile = root.string() + ".stderr";
        std::vector<std::string> args = {program, "--root", root.string(), "--port", "0", "--gbe-port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string errFile = _errFile.string();
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        _pid = fork();
        if (_pid == 0) {
            const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                dup2(fd, 2);
            dup2(out[1], 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        _out = out[0];
        if (_pid < 0)
            return;
        // The program names its FTP port in the line it prints once it listens; a refusal ends it without one.
        const std::string line = ReadLine(std::chrono::seconds(120));
        const size_t at = line.find(" FTP on ");
        const size_t end = line.find(", GbE", at == std::string::npos ? 0 : at);
        const size_t colon = end == std::string::npos ? std::string::npos : line.rfind(':', end);
        if (at != std::string::npos && colon != std::string::npos && colon > at)
            _nPort = static_cast<uint16_t>(std::stoul(line.substr(colon + 1, end - colon - 1)));
        if (_nPort != 0) {
            FtpClient client(_nPort);
            _szWelcome = client.Read().szText;
        }
    }
    ~RixSimProgramRun()
    {
        Stop();
        if (_out >= 0)
            close(_out);
    }
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
    // The program's first line of output; empty when it ends or says nothing within the limit.
    std::string ReadLine(std::chrono::seconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::string line;
        while (line.empty() || line.back() != '\n') {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd ready{_out, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char c = 0;
            if (read(_out, &c, 1) != 1)
                return {};
            line += c;
        }
        return line;
    }

    pid_t _pid = -1;
    int _nExit = -1;
    int _out = -1;
    uint16_t _nPort = 0;
    std::filesystem::path _errFile;
    std::string _szWelcome;
};

}  // namespace rixsimtest
