#include "rixclient/CSockStream.h"

#include "common/CWinsockStartup.h"
#include "rixclient/CServerSockStream.h"

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
}

CSockStream::CSockStream()
{
    if (!theWinsockStartup.IsStarted())
        throw 1;
    _szLocalName = platform::HostName();
    // Only shown to the user: without a resolvable name the stream still works.
    _nLocalAddress = platform::ResolveIPv4(_szLocalName).value_or(kLoopback);
    _szLocalAddress = platform::FormatIPv4(_nLocalAddress);
    _bCreated = true;
}

CSockStream::CSockStream(CServerSockStream& server)
    : _nRemoteAddress(server._nPeerAddress),
      _szRemoteAddress(server._szPeerAddress),
      _szLocalName(server._szLocalName),
      _nLocalAddress(server._nLocalAddress),
      _szLocalAddress(server._szLocalAddress),
      _socket(std::move(server._acceptSocket)),
      _nPort(server._nPort),
      _bCreated(_socket.IsValid()),
      _bConnected(server._bConnected && _socket.IsValid())
{
}

CSockStream::~CSockStream()
{
    Close();
}

int CSockStream::Connect(const std::string& host, uint16_t port)
{
    if (!_bCreated)
        return 1;
    auto address = platform::ResolveIPv4(host);
    if (!address) {
        Close();
        return 2;
    }
    _szRemoteHost = host;
    _nRemoteAddress = *address;
    _szRemoteAddress = platform::FormatIPv4(*address);
    _nPort = port;
    if (!_socket.Connect(*address, port, 0))
        return 3;
    _bConnected = true;
    return 0;
}

int CSockStream::Send(const void* buffer, uint32_t length, uint32_t* pCount)
{
    if (!_bCreated)
        return 1;
    if (!_bConnected)
        return 2;
    int64_t n = _socket.Send(buffer, length);
    if (pCount)
        *pCount = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n < 1 ? 3 : 0;
}

int CSockStream::Receive(void* buffer, uint32_t length, uint32_t* pCount)
{
    if (!_bCreated)
        return 1;
    if (!_bConnected)
        return 2;
    int64_t n = _socket.Recv(buffer, length);
    if (pCount)
        *pCount = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n < 1 ? 3 : 0;
}

void CSockStream::Close()
{
    if (_bCreated)
        _socket.Close();
    _bCreated = false;
}

int CSockStream::GetSocket(platform::Socket** ppSocket)
{
    if (!_bCreated)
        return 1;
    if (ppSocket)
        *ppSocket = &_socket;
    return 0;
}
