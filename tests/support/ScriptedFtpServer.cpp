#include "tests/support/ScriptedFtpServer.h"

namespace testsupport
{

ScriptedFtpServer::ScriptedFtpServer(std::string welcome, Handler handler, const std::string& host)
    : _welcome(std::move(welcome)), _handler(std::move(handler)), _host(host)
{
    if (_listener.Listen(host, 0))
        _port = _listener.LocalPort();
    _thread = std::thread(&ScriptedFtpServer::Run, this);
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    _bStop = true;
    _thread.join();
}

std::string ScriptedFtpServer::Address() const
{
    return "user:pass@" + _host + ":" + std::to_string(_port);
}

std::vector<std::string> ScriptedFtpServer::Commands() const
{
    std::lock_guard lock(_journalLock);
    return _commands;
}

void ScriptedFtpServer::Run()
{
    while (!_bStop) {
        platform::Socket control = _listener.Accept(50);
        if (!control.IsValid())
            continue;
        ++_connections;
        Serve(control);
    }
}

void ScriptedFtpServer::Serve(platform::Socket& control)
{
    _bDrop = false;
    if (_manner == Manner::CloseOnAccept)
        return;
    if (_manner == Manner::Drip) {
        for (uint32_t waited = 0; !_bStop;) {
            if (waited >= _dripMs) {
                if (!control.SendAll("2", 1, 1000))
                    return;
                waited = 0;
            }
            // A peer that gave up shows as readable (its end of the connection).
            if (control.WaitReadable(50) == 1) {
                char byte = 0;
                if (control.Recv(&byte, 1) <= 0)
                    return;
            }
            waited += 50;
        }
        return;
    }
    if (!_welcome.empty())
        control.SendAll(_welcome.data(), _welcome.size(), 5000);
    std::string pending;
    while (!_bStop) {
        size_t eol = pending.find("\r\n");
        if (eol == std::string::npos) {
            if (control.WaitReadable(50) != 1)
                continue;
            char buf[4096];
            int64_t n = control.Recv(buf, sizeof buf);
            if (n <= 0)
                return;
            pending.append(buf, static_cast<size_t>(n));
            continue;
        }
        std::string command = pending.substr(0, eol);
        pending.erase(0, eol + 2);
        {
            std::lock_guard lock(_journalLock);
            _commands.push_back(command);
        }
        std::optional<std::string> reply = _handler ? _handler(command, *this) : std::nullopt;
        if (_bDrop)
            return;
        std::string verb = command.substr(0, command.find(' '));
        if (!reply) {
            if (verb == "USER")
                reply = "331 Password required.\r\n";
            else if (verb == "PASS")
                reply = "230 Logged in.\r\n";
            else if (verb == "TYPE" || verb == "NOOP")
                reply = "200 OK.\r\n";
            else if (verb == "REST")
                reply = "350 Restarting.\r\n";
            else if (verb == "CWD")
                reply = "250 Directory changed.\r\n";
            else if (verb == "PASV")
                reply = OpenPassive();
            else if (verb == "QUIT")
                reply = "221 Bye.\r\n";
            else
                reply = "500 Unknown command.\r\n";
        }
        if (!reply->empty() && !control.SendAll(reply->data(), reply->size(), 5000))
            return;
        if (verb == "QUIT")
            return;
    }
}

std::string ScriptedFtpServer::OpenPassive()
{
    if (!_dataListener.Listen(_host, 0, 1))
        return "425 No data port.\r\n";
    uint32_t a = platform::ResolveIPv4(_host).value_or(0);
    uint16_t p = _dataListener.LocalPort();
    return "227 Entering Passive Mode (" + std::to_string(a >> 24) + "," + std::to_string((a >> 16) & 0xFF) + "," +
           std::to_string((a >> 8) & 0xFF) + "," + std::to_string(a & 0xFF) + "," + std::to_string(p >> 8) + "," +
           std::to_string(p & 0xFF) + ").\r\n";
}

bool ScriptedFtpServer::SendDataAndClose(const std::string& bytes)
{
    platform::Socket data = _dataListener.Accept(5000);
    _dataListener.Close();
    return data.IsValid() && data.SendAll(bytes.data(), bytes.size(), 5000);
}

std::string ScriptedFtpServer::ReceiveDataUntilClose()
{
    platform::Socket data = _dataListener.Accept(5000);
    _dataListener.Close();
    std::string bytes;
    char buf[65536];
    while (data.IsValid() && data.WaitReadable(5000) == 1) {
        int64_t n = data.Recv(buf, sizeof buf);
        if (n <= 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace testsupport
