#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Socket.h"

// The receiving side of a connection as the protocol readers see it, shaped like platform::Socket's: the FTP
// replies and data, the video server's RPC replies and the TCP block stream are read through it. In use it is
// the socket itself; tests and fuzz targets put bytes from memory in its place.
class IByteStream
{
public:
    virtual ~IByteStream() = default;
    // 1 ready (bytes or the end), 0 nothing within the wait, -1 error.
    virtual int WaitReadable(uint32_t timeoutMs) = 0;
    // Bytes received; 0 the peer ended the stream; -1 an error (LastError, a Windows Sockets code).
    virtual int64_t Recv(void* data, size_t size) = 0;
    virtual int LastError() const = 0;
};

// A socket's own receiving side.
class CSocketByteStream : public IByteStream
{
public:
    explicit CSocketByteStream(platform::Socket& socket) : _socket(socket) {}
    int WaitReadable(uint32_t timeoutMs) override { return _socket.WaitReadable(timeoutMs); }
    int64_t Recv(void* data, size_t size) override { return _socket.Recv(data, size); }
    int LastError() const override { return _socket.LastError(); }

private:
    platform::Socket& _socket;
};

// The sending side of a connection as the protocol writers see it: the FTP commands and the video server's RPC
// requests go through it. In use it is the connection's send thread; fuzz targets take the bytes in memory.
class IByteSink
{
public:
    virtual ~IByteSink() = default;
    // Bytes sent, or -1 (LastError, a Windows Sockets code).
    virtual int64_t Send(const void* data, size_t length) = 0;
    virtual int LastError() const = 0;
};
