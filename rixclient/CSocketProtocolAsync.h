#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/PageBuffer.h"

class CSockStream;
class CSocketProtocolAsync;

// A set of connections that leave it when they disconnect; its event is set when the set becomes empty.
// It owns the connections and deletes the disconnected ones (joining their threads) in Reap or on
// destruction, so no connection has to delete itself from its own thread.
class CSocketProtocolRegistry
{
public:
    CSocketProtocolRegistry() = default;
    ~CSocketProtocolRegistry();
    CSocketProtocolRegistry(const CSocketProtocolRegistry&) = delete;
    CSocketProtocolRegistry& operator=(const CSocketProtocolRegistry&) = delete;

    // Takes the connection and makes this registry its owner.
    void Add(std::unique_ptr<CSocketProtocolAsync> connection);
    size_t Count();
    // kWaitObject0 once the set is empty, kWaitTimeout after the time-out.
    uint32_t WaitEmpty(uint32_t timeoutMs) { return _evEmpty.Wait(timeoutMs); }
    // Deletes the connections that have disconnected.
    void Reap();

private:
    friend class CSocketProtocolAsync;
    // From the connection's receive thread, as its last act.
    void Remove(CSocketProtocolAsync* connection);

    std::mutex _mutex;
    std::vector<std::unique_ptr<CSocketProtocolAsync>> _vLive;
    std::vector<std::unique_ptr<CSocketProtocolAsync>> _vDone;
    platform::Event _evEmpty{true, true};
};

// Runs one TCP connection: a receive thread waits on the socket and hands every chunk to OnReceive, while
// sends from other threads are serialised. Codes: 0 done; 1 no stream (or already set, or no thread);
// 2 the thread could not start; 4 no stream given. Send gives the stream's codes (0, 2, 3).
// Stopping: a flag, then shutdown() of the socket wakes the thread, which is joined. When the loop ends for
// any reason, OnDisconnect runs on the receive thread and the stream is released.
// A derived class must call Stop in its own destructor: its hooks may run until then.
class CSocketProtocolAsync
{
public:
    static constexpr uint32_t kReceiveBufferSize = 128000;

    explicit CSocketProtocolAsync(bool ownsStream);
    virtual ~CSocketProtocolAsync();
    CSocketProtocolAsync(const CSocketProtocolAsync&) = delete;
    CSocketProtocolAsync& operator=(const CSocketProtocolAsync&) = delete;

    virtual int Send(const void* buffer, uint32_t length, uint32_t* pCount);
    virtual bool IsRunning() { return _bRunning; }
    // Ends the connection from any thread, the receive thread included (then nothing is joined there).
    virtual void ForceDisconnect();
    virtual int SetOwner(CSocketProtocolRegistry* registry);
    // 1 and no change when a stream is set already.
    virtual int Init(CSockStream* stream);
    virtual int Restart();
    virtual int OnReceive(uint8_t* buffer, uint32_t bufferSize, uint32_t count);
    virtual void OnDisconnect() {}

    int Start();
    // 1 when there is no thread.
    int Stop();
    // The wait for data before "Nothing to receive" is logged (200 s); tests shorten it.
    void SetSelectTimeout(uint32_t timeoutMs) { _nSelectTimeoutMs = timeoutMs; }

protected:
    bool IsStopping() const { return _bStopping; }

private:
    void ReceiveThread();
    // 1 readable, 0 time-out, negative on error.
    int Select(CSockStream* stream);
    // The byte count handed to OnReceive, negative on error or close.
    int Receive(CSockStream* stream);
    void CleanUp();
    bool OnReceiveThread() const { return std::this_thread::get_id() == _threadId; }

    const bool _bOwnsStream;
    // Guards the stream pointer, the thread and the registry; held briefly, never across a blocking call
    // except by Send's own lock below.
    std::mutex _mutex;
    // Serialises sends; taken before _mutex. Clean-up takes it before releasing the stream.
    std::mutex _sendMutex;
    CSockStream* _pStream = nullptr;
    CSocketProtocolRegistry* _pRegistry = nullptr;
    std::thread _thread;
    std::atomic<std::thread::id> _threadId{};
    std::atomic<bool> _bRunning{false};
    std::atomic<bool> _bThreadStarted{false};
    std::atomic<bool> _bStopping{false};
    std::atomic<uint32_t> _nSelectTimeoutMs{200000};
    platform::PageBuffer _receiveBuffer;
};
