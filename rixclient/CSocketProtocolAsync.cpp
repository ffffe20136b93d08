#include "rixclient/CSocketProtocolAsync.h"

#include <algorithm>

#include "common/CLogManager.h"
#include "platform/Socket.h"
#include "rixclient/CSockStream.h"

CSocketProtocolRegistry::~CSocketProtocolRegistry()
{
    std::vector<std::unique_ptr<CSocketProtocolAsync>> all;
    {
        std::lock_guard lock(_mutex);
        all.swap(_vDone);
        for (auto& connection : _vLive)
            all.push_back(std::move(connection));
        _vLive.clear();
    }
    // Each destructor stops and joins its thread; a thread still running finds itself no longer listed.
    all.clear();
}

void CSocketProtocolRegistry::Add(std::unique_ptr<CSocketProtocolAsync> connection)
{
    connection->SetOwner(this);
    std::lock_guard lock(_mutex);
    _vLive.push_back(std::move(connection));
    _evEmpty.Reset();
}

size_t CSocketProtocolRegistry::Count()
{
    std::lock_guard lock(_mutex);
    return _vLive.size();
}

void CSocketProtocolRegistry::Reap()
{
    std::vector<std::unique_ptr<CSocketProtocolAsync>> done;
    {
        std::lock_guard lock(_mutex);
        done.swap(_vDone);
    }
    done.clear();
}

void CSocketProtocolRegistry::Remove(CSocketProtocolAsync* connection)
{
    std::lock_guard lock(_mutex);
    auto it = std::find_if(_vLive.begin(), _vLive.end(), [&](const auto& p) { return p.get() == connection; });
    if (it == _vLive.end())
        return;
    _vDone.push_back(std::move(*it));
    _vLive.erase(it);
    if (_vLive.empty())
        _evEmpty.Set();
}

CSocketProtocolAsync::CSocketProtocolAsync(bool ownsStream)
    : _bOwnsStream(ownsStream), _receiveBuffer(platform::MakePageBuffer(kReceiveBufferSize))
{
}

CSocketProtocolAsync::~CSocketProtocolAsync()
{
    Stop();
    std::lock_guard lock(_mutex);
    if (_bOwnsStream)
        delete _pStream;
    _pStream = nullptr;
}

int CSocketProtocolAsync::SetOwner(CSocketProtocolRegistry* registry)
{
    std::lock_guard lock(_mutex);
    _pRegistry = registry;
    return 0;
}

int CSocketProtocolAsync::Init(CSockStream* stream)
{
    {
        std::lock_guard lock(_mutex);
        if (_pStream)
            return 1;
        if (!stream)
            return 4;
        _pStream = stream;
    }
    if (Start() != 0)
        return 2;
    _bRunning = true;
    return 0;
}

int CSocketProtocolAsync::Start()
{
    std::thread ended;
    {
        std::lock_guard lock(_mutex);
        if (!_pStream)
            return 1;
        if (_bThreadStarted)
            return 0;
        if (!_receiveBuffer)
            return 2;
        // A thread that ended by itself is joined before the next one starts.
        if (_thread.joinable()) {
            if (OnReceiveThread())
                return 2;
            ended = std::move(_thread);
        }
    }
    if (ended.joinable())
        ended.join();
    std::lock_guard lock(_mutex);
    _bStopping = false;
    _bThreadStarted = true;
    try {
        _thread = std::thread([this] { ReceiveThread(); });
    } catch (const std::system_error&) {
        _bThreadStarted = false;
        return 2;
    }
    return 0;
}

int CSocketProtocolAsync::Restart()
{
    return _bThreadStarted ? 0 : Start();
}

int CSocketProtocolAsync::Send(const void* buffer, uint32_t length, uint32_t* pCount)
{
    std::lock_guard sendLock(_sendMutex);
    CSockStream* stream = nullptr;
    {
        std::lock_guard lock(_mutex);
        stream = _pStream;
    }
    if (!stream)
        return 1;
    return stream->Send(buffer, length, pCount);
}

int CSocketProtocolAsync::Stop()
{
    std::thread thread;
    {
        std::lock_guard lock(_mutex);
        if (!_thread.joinable())
            return 1;
        _bStopping = true;
        if (_pStream)
            _pStream->Shutdown();
        // The receive thread stops itself: it returns to its loop, sees the flag and ends.
        if (OnReceiveThread())
            return 0;
        thread = std::move(_thread);
    }
    thread.join();
    return 0;
}

void CSocketProtocolAsync::ForceDisconnect()
{
    theLogManager.Log("SocketProtocolAsync: Force Disconnect !");
    bool stop = false;
    {
        std::lock_guard lock(_mutex);
        if (!_pStream)
            return;
        _bStopping = true;
        _pStream->Shutdown();
        stop = !_pRegistry && !OnReceiveThread();
    }
    if (stop)
        Stop();
}

int CSocketProtocolAsync::OnReceive(uint8_t*, uint32_t, uint32_t)
{
    return 1;
}

int CSocketProtocolAsync::Select(CSockStream* stream)
{
    platform::Socket* socket = nullptr;
    if (stream->GetSocket(&socket) != 0)
        return -1;
    int rc = socket->WaitReadable(_nSelectTimeoutMs);
    if (rc == 0) {
        theLogManager.Log("SocketProtocolAsync Nothing to receive ...");
        return 0;
    }
    if (rc < 0) {
        if (!_bStopping)
            theLogManager.Log("SocketProtocolAsync::Select returned error %i [ 0x%08X ]", socket->LastError(),
                              static_cast<unsigned>(socket->LastError()));
        return -1;
    }
    return 1;
}

int CSocketProtocolAsync::Receive(CSockStream* stream)
{
    platform::Socket* socket = nullptr;
    if (stream->GetSocket(&socket) != 0)
        return -4;
    int64_t n = socket->Recv(_receiveBuffer.get(), kReceiveBufferSize);
    if (n < 0) {
        if (!_bStopping)
            theLogManager.Log("CSocketProtocolAsync Socket Receive returned error %i [ 0x%08X ]", socket->LastError(),
                              static_cast<unsigned>(socket->LastError()));
        return -4;
    }
    if (n == 0) {
        if (!_bStopping)
            theLogManager.Log("CSocketProtocolAsync Socket Receive returned 0 Bytes !");
        return -4;
    }
    OnReceive(_receiveBuffer.get(), kReceiveBufferSize, static_cast<uint32_t>(n));
    return static_cast<int>(n);
}

void CSocketProtocolAsync::ReceiveThread()
{
    _threadId = std::this_thread::get_id();
    CSockStream* stream = nullptr;
    {
        std::lock_guard lock(_mutex);
        stream = _pStream;
    }
    // The stream stays until CleanUp below: nothing else releases it while the thread runs.
    while (stream && !_bStopping) {
        int rc = Select(stream);
        if (rc < 0)
            break;
        if (rc > 0 && Receive(stream) < 0)
            break;
    }
    OnDisconnect();
    CleanUp();
}

void CSocketProtocolAsync::CleanUp()
{
    CSocketProtocolRegistry* registry = nullptr;
    {
        std::lock_guard sendLock(_sendMutex);
        std::lock_guard lock(_mutex);
        _bRunning = false;
        _bThreadStarted = false;
        if (_bOwnsStream)
            delete _pStream;
        _pStream = nullptr;
        registry = _pRegistry;
        // Thread ids are reused: a later thread must not pass for this one.
        _threadId = std::thread::id();
    }
    theLogManager.Log("SocketProtocolAsync DISCONNECTED !!");
    // Last act: the registry may delete this object as soon as it holds it.
    if (registry)
        registry->Remove(this);
}
