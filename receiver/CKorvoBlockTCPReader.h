#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "receiver/CKorvoBlockReader.h"
#include "ftp/IByteStream.h"

class CSockStream;

// The receiving end of the browser's TCP block stream: it connects to the browser's published address and cuts
// the bytes into blocks of the size the job announced. The stream only goes forwards.
class CKorvoBlockTCPReader : public CKorvoBlockReader
{
public:
    static constexpr uint16_t kDefaultPort = 1666;
    static constexpr uint32_t kReceivePiece = 0x10000;
    // ReadNextBlock results beyond the base's: 0 block loaded, 1 the stream ended inside a block, 2 a damaged
    // block, -1 not connected.
    enum : int { kReadOk = 0, kReadShort = 1, kReadDamaged = 2, kReadNotConnected = -1 };

    explicit CKorvoBlockTCPReader(uint32_t blockSize);
    ~CKorvoBlockTCPReader() override;

    // "host:port", or "host" for port 1666.
    int Open(const std::string& source) override;
    int Close() override;
    int32_t StartFieldOffset(int32_t fields, uint32_t* elementsPerField) override;
    int32_t SetFirstField(uint32_t serverField, uint32_t* elementsPerField) override;
    void Cancel() override;

    // The blocks are read from this stream instead of the connection, which is still made (fuzz targets feed the
    // reader from memory); null: the connection's own.
    void SetStream(IByteStream* stream) { _pSourceStream = stream; }

    bool IsConnected() const { return _bConnected; }
    // Splits a source text; false when the port is no number of 1 to 65535.
    static bool ParseSource(const std::string& source, std::string* pHost, uint16_t* pPort);

protected:
    int LoadNextBlock(uint32_t* elementsPerField) override;

private:
    // Loads a valid block when none is, so that the search starts somewhere; false when none comes.
    bool EnsureBlock(uint32_t* elementsPerField);
    // One receive of the stream: 0 with the count, else the connection's code.
    int Receive(uint8_t* buffer, uint32_t length, uint32_t* pCount);

    std::mutex _streamLock;  // Cancel shuts the stream down from another thread
    std::unique_ptr<CSockStream> _pStream;
    IByteStream* _pSourceStream = nullptr;
    std::unique_ptr<CKorvoBlockData> _pOtherLayout;  // the layout the current block does not have
    bool _bConnected = false;
    uint32_t _nBuffered = 0;      // bytes in the buffer, from the current block's start
    bool _bBlockInFront = false;  // the buffer starts with the block handed out last
};
