#include "rixclient/CServerSockStream.h"

#include <cstdio>
#include <new>

#include "common/CLogManager.h"
#include "common/CWinsockStartup.h"
#include "rixclient/CSockStream.h"

CServerSockStream::CServerSockStream(uint16_t port, int32_t backlog) : _nPort(port), _nBacklog(backlog)
{
    if (!theWinsockStartup.IsStarted())
        throw 1;
    _szLocalName = platform::HostName();
    if (_szLocalName.empty())
        throw 3;
    auto address = platform::ResolveIPv4(_szLocalName);
    if (!address)
        throw 4;
    _nLocalAddress = *address;
    _szLocalAddress = platform::FormatIPv4(*address);
    _bCreated = true;
}

CServerSockStream::~CServerSockStream()
{
    Close();
}

int CServerSockStream::Listen()
{
    std::lock_guard lock(_mutex);
    if (!_bCreated)
        return 1;
    // Binding and listening are one call here; either failure leaves no socket.
    if (!_listenSocket.Listen("", _nPort, _nBacklog)) {
        _bCreated = false;
        return 2;
    }
    if (_nPort == 0)
        _nPort = _listenSocket.LocalPort();
    _bNotListening = false;
    return 0;
}

int CServerSockStream::AcceptConnect()
{
    {
        std::lock_guard lock(_mutex);
        if (!_bCreated || _bNotListening)
            return 1;
        _bAccepting = true;
    }
    platform::Socket accepted = _listenSocket.Accept(platform::kInfinite);
    std::lock_guard lock(_mutex);
    _bAccepting = false;
    if (!accepted.IsValid() || !_bCreated) {
        theLogManager.LogTo("default", "CServerSockStream::AcceptConnect INVALID SOCKET");
        _listenSocket.Close();
        _bCreated = false;
        return 2;
    }
    _nPeerAddress = accepted.PeerAddress();
    _szPeerAddress = platform::FormatIPv4(_nPeerAddress);
    _acceptSocket = std::move(accepted);
    _bConnected = true;
    return 0;
}

CSockStream* CServerSockStream::Accept()
{
    if (AcceptConnect() != 0)
        return nullptr;
    CSockStream* stream = new (std::nothrow) CSockStream(*this);
    _bConnected = false;
    _acceptSocket.Close();
    return stream;
}

int CServerSockStream::GetAddress(std::string* pText)
{
    std::lock_guard lock(_mutex);
    if (!_bCreated || !pText)
        return 1;
    char text[64];
    std::snprintf(text, sizeof text, "%s:%i", _szLocalAddress.c_str(), _nPort);
    *pText = text;
    return 0;
}

void CServerSockStream::Close()
{
    std::lock_guard lock(_mutex);
    if (_bAccepting) {
        // The waiting Accept wakes, fails and closes the socket itself.
        _listenSocket.Shutdown();
    } else {
        _listenSocket.Close();
    }
    _bCreated = false;
}
