#pragma once
// A loopback peer of the network fuzz targets, one per process: the targets read every reply from memory and keep
// every command there, but their clients still connect, so the peer takes their connections. Its control and
// stream ports each hold one connection at a time until the client ends it; the passive port's connections are
// taken by the target that answered PASV (AcceptPassive).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Socket.h"

namespace fuzzpeer
{

// A connection to the "h1,h2,h3,h4,p1,p2" address of a PORT command, on the loopback only; invalid when the
// address is another or malformed. It completes in the listener's backlog, before the client accepts it.
inline platform::Socket ConnectToPort(const std::string& port)
{
    platform::Socket socket;
    unsigned v[6] = {};
    if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6 && v[0] == 127 &&
        v[4] < 256 && v[5] < 256)
        socket.Connect("127.0.0.1", static_cast<uint16_t>(v[4] << 8 | v[5]), 500);
    return socket;
}

class Peer
{
public:
    static Peer& Get()
    {
        static Peer peer;
        return peer;
    }

    uint16_t ControlPort() const { return _control.LocalPort(); }
    uint16_t StreamPort() const { return _stream.LocalPort(); }

    // The next connection to the passive port, for the target that answered PASV.
    platform::Socket AcceptPassive(uint32_t timeoutMs) { return _passive.Accept(timeoutMs); }

    // The "227" line of the passive port.
    std::string PassiveReply() const
    {
        const uint16_t port = _passive.LocalPort();
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) +
               ")\r\n";
    }

private:
    // Connections complete in the listeners' backlog, so a client never waits for the peer's thread to take them:
    // on a loaded machine that thread may lag many inputs behind, and a full backlog costs a connect a second.
    static constexpr int kBacklog = 128;

    Peer()
    {
        if (!_control.Listen("127.0.0.1", 0, kBacklog) || !_stream.Listen("127.0.0.1", 0, kBacklog) ||
            !_passive.Listen("127.0.0.1", 0, kBacklog)) {
            std::fprintf(stderr, "fuzz peer: no loopback port\n");
            std::abort();
        }
        _controlThread = std::thread([this] { Hold(_control); });
        _streamThread = std::thread([this] { Hold(_stream); });
    }
    ~Peer()
    {
        _bStop = true;
        _controlThread.join();
        _streamThread.join();
    }

    void Hold(platform::Socket& listener)
    {
        while (!_bStop) {
            platform::Socket connection = listener.Accept(20);
            if (connection.IsValid())
                DrainUntilClosed(connection);
        }
    }

    // Waits until the client ends the connection, at most a second.
    static void DrainUntilClosed(platform::Socket& socket)
    {
        char buffer[4096];
        for (int i = 0; i < 50 && socket.WaitReadable(20) >= 0; ++i) {
            if (socket.WaitReadable(0) == 1 && socket.Recv(buffer, sizeof buffer) <= 0)
                return;
        }
    }

    platform::Socket _control, _stream, _passive;
    std::atomic<bool> _bStop{false};
    std::thread _controlThread, _streamThread;
};

}  // namespace fuzzpeer
