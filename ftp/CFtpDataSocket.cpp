#include "ftp/CFtpDataSocket.h"

#include "common/CLogManager.h"

CFtpSocket::~CFtpSocket()
{
    CFtpSocket::Close();
}

bool CFtpSocket::IsOpen() const
{
    std::lock_guard lock(_handleLock);
    return _nHandle >= 0;
}

int CFtpSocket::ReceiveBufferSize()
{
    std::lock_guard lock(_lock);
    return _socket.ReceiveBufferSize();
}

int CFtpSocket::SendBufferSize()
{
    std::lock_guard lock(_lock);
    return _socket.SendBufferSize();
}

void CFtpSocket::Shutdown()
{
    std::lock_guard lock(_handleLock);
    _socket.Shutdown();
}

void CFtpSocket::TakeSocket(platform::Socket socket)
{
    std::lock_guard lock(_handleLock);
    _socket = std::move(socket);
    _nHandle = _socket.Fd();
}

int CFtpSocket::Close()
{
    std::lock_guard lock(_lock);
    // The send thread goes first: it must not outlive the handle it sends on.
    _pSendSocket.reset();
    std::lock_guard handleLock(_handleLock);
    if (_socket.IsValid()) {
        theLogManager.LogTo(_szLogName, "[%08x] Closing Data socket !!", _nHandle);
        _socket.Close();
    }
    _nHandle = -1;
    return 0;
}

bool CFtpDataSocket::Attach(platform::Socket socket, uint32_t timeoutMs, bool withSendThread, uint32_t sendTimeoutMs)
{
    if (!socket.IsValid())
        return false;
    std::lock_guard lock(_lock);
    Close();
    socket.SetSendTimeout(timeoutMs);
    socket.SetReceiveTimeout(timeoutMs);
    socket.SetNoDelay(true);
    TakeSocket(std::move(socket));
    if (withSendThread)
        _pSendSocket = std::make_unique<CAsyncSendSocket>(_socket, sendTimeoutMs, _szLogName);
    return true;
}

int CFtpDataSocket::Read(void* buffer, uint32_t size, int64_t* pCount)
{
    std::lock_guard lock(_lock);
    *pCount = -1;
    if (!_socket.IsValid())
        return platform::kWsaNotSocket;
    int64_t n = _pStream->Recv(buffer, size);
    if (n < 0) {
        int err = _pStream->LastError();
        theLogManager.LogTo(_szLogName, "[%08x] - Socket read error [0x%08x] !!", Handle(), static_cast<unsigned>(err));
        Close();
        return err;
    }
    if (n == 0)
        theLogManager.LogTo(_szLogName, "[%08x] - 0 Bytes Received, Data Socket CLOSED !!", Handle());
    *pCount = n;
    return 0;
}

void CFtpSocket::SetStream(IByteStream* stream)
{
    std::lock_guard lock(_lock);
    _pStream = stream ? stream : &_ownStream;
}

int CFtpDataSocket::Write(const void* data, uint32_t length, int64_t* pCount)
{
    std::lock_guard lock(_lock);
    *pCount = -1;
    if (!_socket.IsValid())
        return platform::kWsaNotSocket;
    int64_t n = _pSendSocket ? _pSendSocket->Send(data, length) : _socket.Send(data, length);
    if (n < 0) {
        int err = _pSendSocket ? _pSendSocket->LastError() : _socket.LastError();
        theLogManager.LogTo(_szLogName, "*** [%08x] Socket write error [0x%08x] !!", Handle(),
                            static_cast<unsigned>(err));
        Close();
        return err;
    }
    *pCount = n;
    return 0;
}
