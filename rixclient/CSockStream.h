#pragma once

#include <cstdint>
#include <string>

#include "platform/Socket.h"

class CServerSockStream;

// One blocking TCP byte stream, created as a client and connected, or handed out by a CServerSockStream.
// No framing: one Send or Receive is one system call. Codes: 0 done; 1 no socket; 2 not connected or
// host unknown; 3 connect, send or receive failed.
class CSockStream
{
public:
    // Throws 1 when the network cannot start, 2 without a socket.
    CSockStream();
    // Takes the connection the server stream accepted last.
    explicit CSockStream(CServerSockStream& server);
    virtual ~CSockStream();
    CSockStream(const CSockStream&) = delete;
    CSockStream& operator=(const CSockStream&) = delete;

    int Connect(const std::string& host, uint16_t port);
    int Send(const void* buffer, uint32_t length, uint32_t* pCount);
    int Receive(void* buffer, uint32_t length, uint32_t* pCount);
    void Close();
    // 1 when there is no socket.
    int GetSocket(platform::Socket** ppSocket);
    // Wakes a Send or Receive blocked in another thread; the socket stays open until Close.
    void Shutdown() { _socket.Shutdown(); }

    bool IsConnected() const { return _bConnected; }
    const std::string& GetRemoteAddress() const { return _szRemoteAddress; }
    const std::string& GetLocalAddress() const { return _szLocalAddress; }
    uint16_t GetPort() const { return _nPort; }

private:
    std::string _szRemoteHost;
    uint32_t _nRemoteAddress = 0;
    std::string _szRemoteAddress;
    std::string _szLocalName;
    uint32_t _nLocalAddress = 0;
    std::string _szLocalAddress;
    platform::Socket _socket;
    uint16_t _nPort = 0;
    bool _bCreated = false;
    bool _bConnected = false;
};
