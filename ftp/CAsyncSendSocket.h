#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "ftp/IByteStream.h"
#include "platform/Socket.h"

// Sends through a thread of its own, so that a send hanging in the network stack ends for the caller
// after a time-out (error 10060) instead of blocking it. Logs slow sends.
// The socket belongs to the owner, who keeps it alive (open or closed) as long as this object lives.
class CAsyncSendSocket : public IByteSink
{
public:
    CAsyncSendSocket(platform::Socket& socket, uint32_t timeoutMs, const std::string& logName);
    ~CAsyncSendSocket() override;
    CAsyncSendSocket(const CAsyncSendSocket&) = delete;
    CAsyncSendSocket& operator=(const CAsyncSendSocket&) = delete;

    // Bytes sent, or -1 (LastError() tells why: 10060 on a time-out). The caller's buffer is never
    // touched after the return: on a time-out the socket is shut down to end the hung send first.
    int64_t Send(const void* data, size_t length) override;
    void StopThread();

    int LastError() const override;
    uint64_t BytesSent() const;

    // The slow-send rule: buffers of 1024 bytes or more moved at 2500000 bits/s or less.
    static bool IsSlowSend(size_t length, double seconds);

private:
    void ThreadMain();
    void SendOne(const void* data, size_t length);

    platform::Socket& _socket;
    const int _nSocket;  // the handle as logged
    const uint32_t _nTimeoutMs;
    const std::string _szLogName;
    uint32_t _nThreadId = 0;

    mutable std::mutex _mutex;
    std::condition_variable _cv;
    bool _bRunning = true;
    bool _bStart = false;  // a buffer is ready
    bool _bDone = false;   // the thread let go of it
    const void* _pData = nullptr;
    size_t _nLength = 0;
    int64_t _nResult = 0;
    int _nLastError = 0;
    uint64_t _nBytesSent = 0;
    std::thread _thread;
};
