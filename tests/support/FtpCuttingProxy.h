#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace testsupport
{

// A TCP proxy in front of an FTP server that cuts a control or data connection after a number of bytes
// (both ways together), or the control connections at once, to show recovery. It rewrites "227" replies so that passive
// data connections pass through it too. Connections are counted from 0 in the order they are opened.
class FtpCuttingProxy
{
public:
    FtpCuttingProxy(const std::string& serverHost, uint16_t serverPort);
    ~FtpCuttingProxy();
    FtpCuttingProxy(const FtpCuttingProxy&) = delete;
    FtpCuttingProxy& operator=(const FtpCuttingProxy&) = delete;

    uint16_t Port() const { return _port; }
    // reset false ends the client's side with a plain close, as a server whose session dies would.
    void CutDataAfter(int connection, uint64_t bytes, bool reset = true);
    void CutControlAfter(int connection, uint64_t bytes);
    // Cuts every control connection open now.
    void CutControl() { _cutControlEpoch++; }
    int DataConnections() const { return _dataCount; }
    int ControlConnections() const { return _controlCount; }
    int Cuts() const { return _cuts; }

private:
    struct Rule {
        bool data;
        int connection;
        uint64_t bytes;
        bool reset;
    };
    Rule RuleFor(bool data, int connection) const;
    void AcceptControl();
    void RelayControl(platform::Socket client, int index);
    void RelayData(platform::Socket listener, uint32_t address, uint16_t port);
    // Moves bytes both ways until one side ends or limit bytes have passed.
    void Relay(platform::Socket& client, platform::Socket& server, const Rule& rule);
    std::string RewritePassive(const std::string& line);
    void Start(std::thread thread);

    std::string _serverHost;
    uint16_t _serverPort;
    platform::Socket _listener;
    uint16_t _port = 0;
    std::atomic<bool> _bStop{false};
    std::atomic<int> _controlCount{0};
    std::atomic<int> _dataCount{0};
    std::atomic<int> _cuts{0};
    std::atomic<int> _cutControlEpoch{0};
    mutable std::mutex _lock;
    std::vector<Rule> _rules;
    std::vector<std::thread> _threads;
};

}  // namespace testsupport
