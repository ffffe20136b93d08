#pragma once
// A connection's receiving side fed from memory, for the fuzz targets: the input's bytes reach the parsers as the
// socket would hand them over, without a peer thread or a wait. The stream is a length of zeros with pieces laid
// on it (so that a block stream of 8 MB blocks costs no more than its pieces), handed out as asked; after its end
// every receive says the peer closed the connection.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ftp/IByteStream.h"

namespace fuzzstream
{

class MemoryStream : public IByteStream
{
public:
    MemoryStream() = default;
    explicit MemoryStream(std::string bytes) { Add(0, std::move(bytes)); }

    // Lays bytes at an offset, over what lay there; the stream grows to hold them.
    void Add(size_t offset, std::string bytes)
    {
        _nLength = std::max(_nLength, offset + bytes.size());
        _pieces.push_back({offset, std::move(bytes)});
    }
    // Ends the stream there (a cut stream), dropping what lies beyond.
    void Resize(size_t length) { _nLength = length; }
    size_t Length() const { return _nLength; }

    int WaitReadable(uint32_t) override { return 1; }
    int64_t Recv(void* data, size_t size) override
    {
        const size_t count = std::min(size, _nLength - _nAt);
        uint8_t* out = static_cast<uint8_t*>(data);
        std::memset(out, 0, count);
        for (const Piece& piece : _pieces) {
            const size_t from = std::max(piece.offset, _nAt);
            const size_t to = std::min(piece.offset + piece.bytes.size(), _nAt + count);
            if (from < to)
                std::memcpy(out + (from - _nAt), piece.bytes.data() + (from - piece.offset), to - from);
        }
        _nAt += count;
        return static_cast<int64_t>(count);
    }
    int LastError() const override { return 0; }

private:
    struct Piece {
        size_t offset;
        std::string bytes;
    };
    std::vector<Piece> _pieces;
    size_t _nLength = 0;
    size_t _nAt = 0;
};

// A connection's receiving side filled as the conversation goes, by a target that answers commands itself: it
// waits as a socket does while nothing has come.
class ReplyQueue : public IByteStream
{
public:
    void Append(const std::string& bytes)
    {
        std::lock_guard lock(_lock);
        _bytes.append(bytes);
        _arrived.notify_all();
    }
    // What a new connection holds at first.
    void Restart(const std::string& bytes)
    {
        std::lock_guard lock(_lock);
        _bytes = bytes;
        _nAt = 0;
        _arrived.notify_all();
    }

    int WaitReadable(uint32_t timeoutMs) override
    {
        std::unique_lock lock(_lock);
        return _arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return _nAt < _bytes.size(); });
    }
    int64_t Recv(void* data, size_t size) override
    {
        std::lock_guard lock(_lock);
        const size_t count = std::min(size, _bytes.size() - _nAt);
        if (count == 0)
            return -1;  // a socket's receive time-out
        std::memcpy(data, _bytes.data() + _nAt, count);
        _nAt += count;
        return static_cast<int64_t>(count);
    }
    int LastError() const override { return platform::kWsaTimedOut; }

private:
    std::mutex _lock;
    std::condition_variable _arrived;
    std::string _bytes;
    size_t _nAt = 0;
};

// A connection's sending side kept in memory: each line sent (without its CR LF) goes to the target's handler,
// if any, so commands and requests cost no send thread and no peer reading them.
class LineSink : public IByteSink
{
public:
    explicit LineSink(std::function<void(const std::string& line)> onLine = {}) : _onLine(std::move(onLine)) {}

    int64_t Send(const void* data, size_t length) override
    {
        if (!_onLine)
            return static_cast<int64_t>(length);
        _pending.append(static_cast<const char*>(data), length);
        for (size_t eol; (eol = _pending.find("\r\n")) != std::string::npos;) {
            const std::string line = _pending.substr(0, eol);
            _pending.erase(0, eol + 2);
            if (_onLine)
                _onLine(line);
        }
        return static_cast<int64_t>(length);
    }
    int LastError() const override { return 0; }

private:
    std::function<void(const std::string&)> _onLine;
    std::string _pending;
};

}  // namespace fuzzstream
