#include "outside/rix/CRixSimServer.h"

#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "outside/rix/CRixSimFtpSession.h"
#include "outside/rix/CRixSimGbeSession.h"

namespace rixsim
{

std::vector<std::string> RixSimWelcome(RixSimWelcomeStyle eStyle)
{
    const std::string szLine = "220 Korvo FTP Server (v) 7.07";
    switch (eStyle) {
        case RixSimWelcomeStyle::Standard:
            return {szLine + " B: 8"};
        case RixSimWelcomeStyle::NoBlockSize:
            return {szLine};
        case RixSimWelcomeStyle::Block2:
            return {szLine + " B: 2"};
        case RixSimWelcomeStyle::MultiLine:
            return {"220-Rix video server", "220-Clip transfer service", szLine + " B: 8"};
        case RixSimWelcomeStyle::None:
            break;
    }
    return {};
}

CRixSimServer::CRixSimServer(RixSimConfig config) : _config(std::move(config)) {}

CRixSimServer::~CRixSimServer()
{
    Stop();
}

bool CRixSimServer::Start()
{
    if (_thAccept.joinable())
        return false;
    RixSimConfig config = GetConfig();
    _bStopping = false;
    _szStartError.clear();
    int nError = 0;
    _sockFtp = CRixSimSocket::Listen(config._szBindAddress, config._nFtpPort, &nError);
    if (!_sockFtp.IsOpen())
        _szStartError = "FTP port " + std::to_string(config._nFtpPort) + ": " + std::strerror(nError);
    else if (config._bGbe) {
        _sockGbe = CRixSimSocket::Listen(config._szBindAddress, config._nGbePort, &nError);
        if (!_sockGbe.IsOpen())
            _szStartError = "GbE port " + std::to_string(config._nGbePort) + ": " + std::strerror(nError);
    }
    if (!_szStartError.empty()) {
        _sockFtp.Close();
        _sockGbe.Close();
        return false;
    }
    _nFtpPort = _sockFtp.LocalPort();
    _nGbePort = config._bGbe ? _sockGbe.LocalPort() : 0;
    _thAccept = std::thread([this] { AcceptLoop(); });
    return true;
}

void CRixSimServer::Stop()
{
    {
        std::lock_guard lock(_mx);
        _bStopping = true;
        _cv.notify_all();
    }
    _store.NotifyAll();
    _sockFtp.Shutdown();
    _sockGbe.Shutdown();
    if (_thAccept.joinable())
        _thAccept.join();
    Reap(true);
    _sockFtp.Close();
    _sockGbe.Close();
}

void CRixSimServer::AcceptLoop()
{
    while (!_bStopping) {
        pollfd fds[2] = {{_sockFtp.Fd(), POLLIN, 0}, {_sockGbe.Fd(), POLLIN, 0}};
        int rc = poll(fds, _sockGbe.IsOpen() ? 2 : 1, 100);
        Reap(false);
        if (rc <= 0 || _bStopping)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            CRixSimSocket sock = (i == 0 ? _sockFtp : _sockGbe).Accept(0);
            if (!sock.IsOpen())
                continue;
            std::unique_ptr<CRixSimSession> session;
            if (i == 0)
                session = std::make_unique<CRixSimFtpSession>(*this, std::move(sock), ++_nFtpSessions);
            else
                session = std::make_unique<CRixSimGbeSession>(*this, std::move(sock), ++_nGbeSessions);
            session->Start();
            _vSessions.push_back(std::move(session));
        }
    }
}

void CRixSimServer::Reap(bool bAll)
{
    for (auto it = _vSessions.begin(); it != _vSessions.end();) {
        if (bAll || (*it)->IsDone()) {
            (*it)->Stop();
            (*it)->Join();
            it = _vSessions.erase(it);
        } else {
            ++it;
        }
    }
}

RixSimConfig CRixSimServer::GetConfig() const
{
    std::lock_guard lock(_mx);
    return _config;
}

void CRixSimServer::SetConfig(const RixSimConfig& config)
{
    std::lock_guard lock(_mx);
    _config = config;
}

void CRixSimServer::AddFault(const RixSimFault& fault)
{
    std::lock_guard lock(_mx);
    _vFaults.push_back(fault);
}

void CRixSimServer::ClearFaults()
{
    std::lock_guard lock(_mx);
    _vFaults.clear();
}

std::optional<RixSimFault> CRixSimServer::TakeFault(const std::string& szVerb)
{
    std::lock_guard lock(_mx);
    for (auto& fault : _vFaults) {
        if (fault._nTimes == 0 || strcasecmp(fault._szCommand.c_str(), szVerb.c_str()) != 0)
            continue;
        if (fault._nTimes > 0)
            --fault._nTimes;
        return fault;
    }
    return std::nullopt;
}

void CRixSimServer::Record(const std::string& szChannel, uint32_t nSession, const std::string& szText)
{
    std::lock_guard lock(_mx);
    _vJournal.push_back({szChannel, nSession, szText});
    _cv.notify_all();
}

std::vector<RixSimJournalEntry> CRixSimServer::Journal() const
{
    std::lock_guard lock(_mx);
    return _vJournal;
}

void CRixSimServer::ClearJournal()
{
    std::lock_guard lock(_mx);
    _vJournal.clear();
}

bool CRixSimServer::WaitForJournal(const std::string& szText, uint32_t nTimeoutMs) const
{
    std::unique_lock lock(_mx);
    return _cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] {
        return std::any_of(_vJournal.begin(), _vJournal.end(), [&](const auto& e) { return e._szText == szText; });
    });
}

bool CRixSimServer::Sleep(uint32_t nMs) const
{
    std::unique_lock lock(_mx);
    return !_cv.wait_for(lock, std::chrono::milliseconds(nMs), [&] { return _bStopping.load(); });
}

}  // namespace rixsim
