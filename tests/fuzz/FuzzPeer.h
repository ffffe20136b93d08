#pragma once
// A loopback peer of the network fuzz targets, one per process, serving one connection at a time on each of
// its ports: an FTP control port that sends the input's welcome bytes and answers each command line from the
// target's script, and a stream port that sends the input's stream bytes on every connection (block streams,
// RPC replies). Transfers send the input's data bytes: on the connection the client asks for with PORT, or on
// the passive port of PassiveReply(). Every wait is short, so that an input that stalls the client costs
// little; the script is taken when a connection is accepted, so a late previous connection never sees the next
// input.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace fuzzpeer
{

// The bytes of one command's answer: before, the transfer's data when asked for, after.
struct Answer {
    std::string before;
    bool transfer = false;
    std::string after;
};

struct Script {
    std::string welcome;
    // Answers one command line (without CR LF); null sends nothing back.
    std::function<Answer(const std::string& command)> answer;
    std::string data;
    std::string stream;
    // Replies on the stream connection, one after each request received (RPC), after the stream bytes.
    std::vector<std::string> replies;
    // The stream connection stays open until the client ends it; otherwise it ends after the bytes.
    bool holdStream = false;
};

// A connection to the "h1,h2,h3,h4,p1,p2" address of a PORT command, on the loopback only; invalid when the
// address is another or malformed. It completes in the listener's backlog, before the client accepts it.
inline platform::Socket ConnectToPort(const std::string& port)
{
    platform::Socket socket;
    unsigned v[6] = {};
    if (std::sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6 && v[0] == 127)
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

    void Set(Script script)
    {
        std::lock_guard lock(_lock);
        _script = std::move(script);
    }
    uint16_t ControlPort() const { return _control.LocalPort(); }
    uint16_t StreamPort() const { return _stream.LocalPort(); }

    // The next connection to the passive port, for a target that answers the commands itself.
    platform::Socket AcceptPassive(uint32_t timeoutMs) { return _passive.Accept(timeoutMs); }

    // The "227" line of the passive port.
    std::string PassiveReply() const
    {
        const uint16_t port = _passive.LocalPort();
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) +
               ")\r\n";
    }

private:
    Peer()
    {
        if (!_control.Listen("127.0.0.1", 0, 4) || !_stream.Listen("127.0.0.1", 0, 4) ||
            !_passive.Listen("127.0.0.1", 0, 4)) {
            std::fprintf(stderr, "fuzz peer: no loopback port\n");
            std::abort();
        }
        _controlThread = std::thread([this] { Loop(_control, [this](platform::Socket& s) { ServeControl(s); }); });
        _streamThread = std::thread([this] { Loop(_stream, [this](platform::Socket& s) { ServeStream(s); }); });
    }
    ~Peer()
    {
        _bStop = true;
        _controlThread.join();
        _streamThread.join();
    }

    Script Current()
    {
        std::lock_guard lock(_lock);
        return _script;
    }

    void Loop(platform::Socket& listener, const std::function<void(platform::Socket&)>& serve)
    {
        while (!_bStop) {
            platform::Socket connection = listener.Accept(20);
            if (!connection.IsValid())
                continue;
            // A reply sent in two pieces must not wait for the client's delayed acknowledgement of the first.
            connection.SetNoDelay(true);
            serve(connection);
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

    void ServeStream(platform::Socket& connection)
    {
        const Script script = Current();
        connection.SendAll(script.stream.data(), script.stream.size(), 1000);
        char buffer[4096];
        for (const std::string& reply : script.replies) {
            if (connection.WaitReadable(200) != 1 || connection.Recv(buffer, sizeof buffer) <= 0 ||
                !connection.SendAll(reply.data(), reply.size(), 1000))
                return;
        }
        if (script.holdStream)
            DrainUntilClosed(connection);
    }

    // The data connection of a transfer: to the PORT address, or the passive port's next connection.
    void Transfer(const std::string& data, const std::string& port)
    {
        platform::Socket socket = port.empty() ? _passive.Accept(500) : ConnectToPort(port);
        if (socket.IsValid())
            socket.SendAll(data.data(), data.size(), 1000);
    }

    void ServeControl(platform::Socket& control)
    {
        const Script script = Current();
        if (!control.SendAll(script.welcome.data(), script.welcome.size(), 1000))
            return;
        std::string pending, port;
        char buffer[4096];
        for (int idle = 0; idle < 50 && !_bStop;) {
            const size_t eol = pending.find("\r\n");
            if (eol == std::string::npos) {
                if (control.WaitReadable(20) != 1) {
                    ++idle;
                    continue;
                }
                const int64_t n = control.Recv(buffer, sizeof buffer);
                if (n <= 0)
                    return;
                pending.append(buffer, static_cast<size_t>(n));
                idle = 0;
                continue;
            }
            const std::string command = pending.substr(0, eol);
            pending.erase(0, eol + 2);
            if (command.rfind("PORT ", 0) == 0)
                port = command.substr(5);
            if (!script.answer)
                continue;
            const Answer answer = script.answer(command);
            if (!control.SendAll(answer.before.data(), answer.before.size(), 1000))
                return;
            if (answer.transfer)
                Transfer(script.data, port);
            if (!control.SendAll(answer.after.data(), answer.after.size(), 1000))
                return;
            if (command == "QUIT")
                return;
        }
    }

    std::mutex _lock;
    Script _script;
    platform::Socket _control, _stream, _passive;
    std::atomic<bool> _bStop{false};
    std::thread _controlThread, _streamThread;
};

}  // namespace fuzzpeer
