#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace testsupport
{

// An FTP server that answers from a script, for cases a real server cannot show (replies split or joined,
// odd codes, peers that stop). It serves one control connection at a time, one after the other.
// The handler gets each command line without CR LF and returns the raw bytes to send back, or nothing
// for the usual answer (USER 331, PASS 230, TYPE/NOOP 200, REST 350, CWD 250, PASV a passive data port,
// QUIT 221 and the end of the connection, anything else 500).
class ScriptedFtpServer
{
public:
    using Handler = std::function<std::optional<std::string>(const std::string& command, ScriptedFtpServer& server)>;

    ScriptedFtpServer(std::string welcome, Handler handler, const std::string& host = "127.0.0.1");
    ~ScriptedFtpServer();
    ScriptedFtpServer(const ScriptedFtpServer&) = delete;
    ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

    // How the server meets each connection: as scripted, by closing it at once, or by sending one byte of text
    // without a line end every dripMs for as long as the peer stays.
    enum class Manner { Scripted, CloseOnAccept, Drip };
    void SetManner(Manner manner, uint32_t dripMs = 2000)
    {
        _dripMs = dripMs;
        _manner = manner;
    }

    uint16_t Port() const { return _port; }
    std::string Address() const;
    std::vector<std::string> Commands() const;
    int Connections() const { return _connections; }

    // For handlers: a data listener and its "227 ..." reply line; then the data connection's bytes.
    std::string OpenPassive();
    bool SendDataAndClose(const std::string& bytes);
    std::string ReceiveDataUntilClose();
    // Ends the current control connection without a word.
    void DropConnection() { _bDrop = true; }

private:
    void Run();
    void Serve(platform::Socket& control);

    std::string _welcome;
    Handler _handler;
    std::string _host;
    platform::Socket _listener;
    platform::Socket _dataListener;
    uint16_t _port = 0;
    std::atomic<bool> _bStop{false};
    std::atomic<int> _connections{0};
    bool _bDrop = false;
    std::atomic<Manner> _manner{Manner::Scripted};
    std::atomic<uint32_t> _dripMs{2000};
    mutable std::mutex _journalLock;
    std::vector<std::string> _commands;
    std::thread _thread;
};

// The peers that never let a client start: each a manner and the welcome it sends.
struct HostileFtpPeer {
    const char* name;
    ScriptedFtpServer::Manner manner;
    const char* welcome;
};
inline constexpr HostileFtpPeer kHostileFtpPeers[] = {
    {"no welcome", ScriptedFtpServer::Manner::Scripted, ""},
    {"close on accept", ScriptedFtpServer::Manner::CloseOnAccept, "220 ready\r\n"},
    {"one byte every 2 s", ScriptedFtpServer::Manner::Drip, ""},
};

}  // namespace testsupport
