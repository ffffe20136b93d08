#include "tests/support/FtpCuttingProxy.h"

#include <poll.h>

#include <cstdio>
#include <limits>

namespace testsupport
{

FtpCuttingProxy::FtpCuttingProxy(const std::string& serverHost, uint16_t serverPort)
    : _serverHost(serverHost), _serverPort(serverPort)
{
    if (_listener.Listen("127.0.0.1", 0))
        _port = _listener.LocalPort();
    Start(std::thread(&FtpCuttingProxy::AcceptControl, this));
}

FtpCuttingProxy::~FtpCuttingProxy()
{
    _bStop = true;
    for (;;) {
        std::thread t;
        {
            std::lock_guard lock(_lock);
            if (_threads.empty())
                break;
            t = std::move(_threads.back());
            _threads.pop_back();
        }
        t.join();
    }
}

void FtpCuttingProxy::Start(std::thread thread)
{
    std::lock_guard lock(_lock);
    _threads.push_back(std::move(thread));
}

void FtpCuttingProxy::CutDataAfter(int connection, uint64_t clientBytes, bool reset)
{
    std::lock_guard lock(_lock);
    _rules.push_back({true, connection, clientBytes, reset});
}

void FtpCuttingProxy::CutControlAfter(int connection, uint64_t clientBytes)
{
    std::lock_guard lock(_lock);
    _rules.push_back({false, connection, clientBytes, true});
}

FtpCuttingProxy::Rule FtpCuttingProxy::RuleFor(bool data, int connection) const
{
    std::lock_guard lock(_lock);
    for (const Rule& r : _rules)
        if (r.data == data && r.connection == connection)
            return r;
    return {data, connection, std::numeric_limits<uint64_t>::max(), true};
}

void FtpCuttingProxy::AcceptControl()
{
    while (!_bStop) {
        platform::Socket client = _listener.Accept(50);
        if (client.IsValid())
            Start(std::thread(&FtpCuttingProxy::RelayControl, this, std::move(client), _controlCount++));
    }
}

void FtpCuttingProxy::RelayControl(platform::Socket client, int index)
{
    platform::Socket server;
    if (!server.Connect(_serverHost, _serverPort, 5000))
        return;
    Relay(client, server, RuleFor(false, index));
}

void FtpCuttingProxy::RelayData(platform::Socket listener, uint32_t address, uint16_t port)
{
    int index = _dataCount++;
    platform::Socket client;
    while (!_bStop && !client.IsValid())
        client = listener.Accept(50);
    platform::Socket server;
    if (!client.IsValid() || !server.Connect(address, port, 5000))
        return;
    Relay(client, server, RuleFor(true, index));
}

std::string FtpCuttingProxy::RewritePassive(const std::string& line)
{
    unsigned v[6];
    size_t open = line.rfind('(');
    if (line.rfind("227", 0) != 0 || open == std::string::npos ||
        std::sscanf(line.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return line;
    platform::Socket listener;
    if (!listener.Listen("127.0.0.1", 0, 1))
        return line;
    uint16_t port = listener.LocalPort();
    uint32_t address = (v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
    Start(std::thread(&FtpCuttingProxy::RelayData, this, std::move(listener), address,
                      static_cast<uint16_t>(v[4] * 256 + v[5])));
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) +
           ").\r\n";
}

void FtpCuttingProxy::Relay(platform::Socket& client, platform::Socket& server, const Rule& rule)
{
    const bool control = !rule.data;
    const uint64_t limit = rule.bytes;
    const int epoch = _cutControlEpoch;
    uint64_t passed = 0;
    bool cut = false;
    std::string lines;  // server text not yet forwarded, when replies are rewritten
    std::vector<char> buf(1 << 16);
    // Moves one read from one side to the other; false when the link ends.
    auto pass = [&](platform::Socket& from, platform::Socket& to, bool fromServer) {
        int64_t n = from.Recv(buf.data(), buf.size());
        if (n <= 0)
            return false;
        uint64_t forward = std::min<uint64_t>(static_cast<uint64_t>(n), limit - passed);
        passed += forward;
        std::string out(buf.data(), forward);
        if (control && fromServer) {
            lines += out;
            out.clear();
            for (size_t eol; (eol = lines.find("\r\n")) != std::string::npos;) {
                out += RewritePassive(lines.substr(0, eol + 2));
                lines.erase(0, eol + 2);
            }
        }
        if (!out.empty() && !to.SendAll(out.data(), out.size(), 5000))
            return false;
        cut = passed >= limit;
        return !cut;
    };
    while (!_bStop) {
        if (control && _cutControlEpoch != epoch) {
            cut = true;
            break;
        }
        pollfd p[2] = {{client.Fd(), POLLIN, 0}, {server.Fd(), POLLIN, 0}};
        if (poll(p, 2, 20) <= 0)
            continue;
        if (p[0].revents && !pass(client, server, false))
            break;
        if (p[1].revents && !pass(server, client, true))
            break;
    }
    if (cut)
        ++_cuts;
    // A cut resets the client's side at once, as a broken link would, unless a plain close is asked.
    if (cut && rule.reset)
        client.SetLinger(true, 0);
    server.Close();
    client.Close();
}

}  // namespace testsupport
