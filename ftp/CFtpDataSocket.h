#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ftp/CAsyncSendSocket.h"
#include "ftp/IByteStream.h"
#include "platform/Socket.h"

// One FTP data connection. Reads, writes, attach and close run under the socket's own lock, so that
// another thread may close it safely; Shutdown() wakes a call blocked on it without that lock.
class CFtpSocket
{
public:
    explicit CFtpSocket(const std::string& logName) : _szLogName(logName) {}
    virtual ~CFtpSocket();
    CFtpSocket(const CFtpSocket&) = delete;
    CFtpSocket& operator=(const CFtpSocket&) = delete;

    virtual int Close();
    virtual bool IsReserved() const { return false; }
    virtual int Write(const void* data, uint32_t length, int64_t* pCount) = 0;
    virtual int Read(void* buffer, uint32_t size, int64_t* pCount) = 0;

    bool IsOpen() const;
    // The socket's receive buffer size, -1 when closed or unknown.
    int ReceiveBufferSize();
    // Wakes a read or write blocked on the socket; the next call fails and closes it.
    void Shutdown();
    // The socket's send buffer size, -1 when closed or unknown.
    int SendBufferSize();
    // Reads come from this stream instead of the socket, which is still connected (fuzz targets feed the reads
    // from memory); null: the socket's own.
    void SetStream(IByteStream* stream);

protected:
    // The handle as logged.
    int Handle() const { return _nHandle; }
    void TakeSocket(platform::Socket socket);

    std::recursive_mutex _lock;
    platform::Socket _socket;
    std::unique_ptr<CAsyncSendSocket> _pSendSocket;
    std::string _szLogName;
    CSocketByteStream _ownStream{_socket};
    IByteStream* _pStream = &_ownStream;

private:
    mutable std::mutex _handleLock;  // guards the handle against Shutdown from another thread
    int _nHandle = -1;
};

class CFtpDataSocket : public CFtpSocket
{
public:
    using CFtpSocket::CFtpSocket;

    int Write(const void* data, uint32_t length, int64_t* pCount) override;
    int Read(void* buffer, uint32_t size, int64_t* pCount) override;
    virtual bool Attach(platform::Socket socket, uint32_t timeoutMs, bool withSendThread, uint32_t sendTimeoutMs);
};
