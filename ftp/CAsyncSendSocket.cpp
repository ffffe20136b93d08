#include "ftp/CAsyncSendSocket.h"

#include <atomic>
#include <chrono>

#include "common/CLogManager.h"
#include "platform/Clock.h"

namespace
{
std::atomic<uint32_t> g_nextThreadId{1};
constexpr uint32_t kStopWaitMs = 5000;
}  // namespace

CAsyncSendSocket::CAsyncSendSocket(platform::Socket& socket, uint32_t timeoutMs, const std::string& logName)
    : _socket(socket), _nSocket(socket.Fd()), _nTimeoutMs(timeoutMs), _szLogName(logName)
{
    _nThreadId = g_nextThreadId.fetch_add(1);
    _thread = std::thread(&CAsyncSendSocket::ThreadMain, this);
    theLogManager.LogTo("default", "[%08x] - Async ThreadID: %li", _nSocket, static_cast<long>(_nThreadId));
}

CAsyncSendSocket::~CAsyncSendSocket()
{
    theLogManager.LogTo("default", "[%08x] --- Closing Async socket ...", _nSocket);
    StopThread();
}

bool CAsyncSendSocket::IsSlowSend(size_t length, double seconds)
{
    if (length < 1024)
        return false;
    if (seconds <= 0)
        return false;
    return static_cast<double>(length) * 8.0 / seconds <= 2500000.0;
}

int64_t CAsyncSendSocket::Send(const void* data, size_t length)
{
    std::unique_lock lock(_mutex);
    if (!_thread.joinable()) {
        _nLastError = platform::kWsaNotSocket;
        return -1;
    }
    _pData = data;
    _nLength = length;
    _bDone = false;
    _bStart = true;
    _cv.notify_all();
    if (_cv.wait_for(lock, std::chrono::milliseconds(_nTimeoutMs), [this] { return _bDone; })) {
        _pData = nullptr;
        return _nResult;
    }
    theLogManager.LogTo(_szLogName, ">> [%08x] CAsyncSendSocket::Send TimeOut", _nSocket);
    // The thread still reads the caller's buffer: end its send before handing the buffer back.
    // The connection is given up after a time-out anyway.
    _socket.Shutdown();
    _cv.wait(lock, [this] { return _bDone; });
    _pData = nullptr;
    _nLastError = platform::kWsaTimedOut;
    return -1;
}

void CAsyncSendSocket::StopThread()
{
    {
        std::unique_lock lock(_mutex);
        if (!_thread.joinable())
            return;
        _bRunning = false;
        _cv.notify_all();
        if (!_cv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return !_bStart; })) {
            theLogManager.LogTo("default", "[%08x] ---- Async Thread [%li] LOCKED -> Terminating !!!", _nSocket,
                                static_cast<long>(_nThreadId));
            _socket.Shutdown();
        }
    }
    _thread.join();
}

int CAsyncSendSocket::LastError() const
{
    std::lock_guard lock(_mutex);
    return _nLastError;
}

uint64_t CAsyncSendSocket::BytesSent() const
{
    std::lock_guard lock(_mutex);
    return _nBytesSent;
}

void CAsyncSendSocket::ThreadMain()
{
    std::unique_lock lock(_mutex);
    for (;;) {
        _cv.wait(lock, [this] { return _bStart || !_bRunning; });
        if (!_bRunning) {
            theLogManager.LogTo("default", "[%08x] --- Thread %li END REQUESTED", _nSocket,
                                static_cast<long>(_nThreadId));
            break;
        }
        const void* data = _pData;
        size_t length = _nLength;
        lock.unlock();
        SendOne(data, length);
        lock.lock();
        _bStart = false;
        _bDone = true;
        _cv.notify_all();
    }
    theLogManager.LogTo("default", "[%08x] --- Thread %li Exit ...", _nSocket, static_cast<long>(_nThreadId));
}

void CAsyncSendSocket::SendOne(const void* data, size_t length)
{
    double start = platform::PerfSeconds();
    int64_t sent = _socket.Send(data, length);
    double elapsed = platform::PerfSeconds() - start;
    if (sent >= 0 && static_cast<size_t>(sent) < length)
        theLogManager.LogTo(_szLogName, "*** [%08x] NOT ALL BYTES SENT [ %li / %li ] !!", _nSocket,
                            static_cast<long>(sent), static_cast<long>(length));
    if (IsSlowSend(length, elapsed))
        theLogManager.LogTo(_szLogName, "*** SLOW send [%li Bytes in %.03f s - %.03f bits/s]",
                            static_cast<long>(length), elapsed, static_cast<double>(length) * 8.0 / elapsed);
    std::lock_guard lock(_mutex);
    _nResult = sent;
    if (sent < 0) {
        _nLastError = platform::kWsaTimedOut;
        theLogManager.LogTo(_szLogName, "*** [%08x] Socket TimedOut !! [0x%08X] [ Measured %.03f s ]", _nSocket,
                            static_cast<unsigned>(_socket.LastError()), elapsed);
    } else {
        _nBytesSent += static_cast<uint64_t>(sent);
    }
}
