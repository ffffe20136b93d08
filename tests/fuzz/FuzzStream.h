#pragma once
// A connection's receiving side fed from memory, for the fuzz targets: the input's bytes reach the parsers as the
// socket would hand them over, without a peer thread or a wait. The stream is a length of zeros with pieces laid
// on it (so that a block stream of 8 MB blocks costs no more than its pieces), handed out as asked; after its end
// every receive says the peer closed the connection.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
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

}  // namespace fuzzstream
