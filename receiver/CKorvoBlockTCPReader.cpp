#include "receiver/CKorvoBlockTCPReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/CLogManager.h"
#include "rixclient/CSockStream.h"
#include "serverblock/ServerBlock.h"

CKorvoBlockTCPReader::CKorvoBlockTCPReader(uint32_t blockSize) : CKorvoBlockReader(blockSize) {}

CKorvoBlockTCPReader::~CKorvoBlockTCPReader()
{
    Close();
}

bool CKorvoBlockTCPReader::ParseSource(const std::string& source, std::string* pHost, uint16_t* pPort)
{
    const size_t colon = source.find(':');
    *pHost = source.substr(0, colon);
    *pPort = kDefaultPort;
    if (colon == std::string::npos)
        return !pHost->empty();
    const std::string digits = source.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long port = std::stoul(digits);
    if (port == 0 || port > 65535)
        return false;
    *pPort = static_cast<uint16_t>(port);
    return !pHost->empty();
}

int CKorvoBlockTCPReader::Open(const std::string& source)
{
    Close();
    _bCancelled = false;
    _cancelEvent.Reset();
    _nRefused = 0;
    std::string host;
    uint16_t port = 0;
    if (!ParseSource(source, &host, &port)) {
        theLogManager.Log("CKorvoBlockTCPReader: bad source [%s]", source.c_str());
        return 1;
    }
    if (_nBlockSize != kBlockSize2MB && _nBlockSize != kBlockSize8MB) {
        theLogManager.Log("CKorvoBlockTCPReader: block size 0x%X not supported", _nBlockSize);
        return 1;
    }
    std::unique_ptr<CSockStream> stream;
    try {
        stream = std::make_unique<CSockStream>();
    } catch (int) {
        return 1;
    }
    if (stream->Connect(host, port) != 0)
        return 1;
    {
        std::lock_guard lock(_streamLock);
        _pStream = std::move(stream);
    }
    _nBuffered = 0;
    _bConnected = true;
    // Room for a whole block and receives past its end; only what was received is read.
    _pBlockBuffer = platform::MakeUnclearedPageBuffer(size_t{_nBlockSize} + 0x200000);
    if (!_pBlockBuffer) {
        theLogManager.Log("CKorvoBlockTCPReader: Block Buffer Allocation FAILURE !! [ VirtualAlloc returned NULL ]");
        Close();
        return -1;
    }
    // The layout is told by each block's own marker; the size only names the usual one.
    if (_nBlockSize == kBlockSize8MB) {
        theLogManager.Log("CKorvoBlockTCPReader: 8MB Blocks !!");
        _pBlockData = std::make_unique<CKorvo8MBlockData>();
        _pOtherLayout = std::make_unique<CKorvo2kBlockData>();
    } else {
        theLogManager.Log("CKorvoBlockTCPReader: 2MB Blocks !!");
        _pBlockData = std::make_unique<CKorvo2kBlockData>();
        _pOtherLayout = std::make_unique<CKorvo8MBlockData>();
    }
    return 0;
}

int CKorvoBlockTCPReader::Close()
{
    {
        std::lock_guard lock(_streamLock);
        if (_pStream) {
            _pStream->Close();
            _pStream.reset();
        }
    }
    _bConnected = false;
    _pBlockData.reset();
    _pOtherLayout.reset();
    _pBlockBuffer.reset();
    _nBuffered = 0;
    _bBlockInFront = false;
    return 0;
}

void CKorvoBlockTCPReader::Cancel()
{
    CKorvoBlockReader::Cancel();
    // Wakes a receive in progress; the socket is closed by the reader's own thread.
    std::lock_guard lock(_streamLock);
    if (_pStream)
        _pStream->Shutdown();
}

int CKorvoBlockTCPReader::LoadNextBlock(uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_bConnected || !_pBlockBuffer)
        return kReadNotConnected;
    uint8_t* buffer = _pBlockBuffer.get();
    // The bytes received past the previous block move to the start.
    if (_bBlockInFront) {
        std::memmove(buffer, buffer + _nBlockSize, _nBuffered - _nBlockSize);
        _nBuffered -= _nBlockSize;
        _bBlockInFront = false;
    }
    _pBlockData->Clear();
    while (_nBuffered < _nBlockSize) {
        uint32_t count = 0;
        // What the block still lacks in one receive (at least a piece): fewer calls, and nothing to move after it.
        const uint32_t wanted = std::max(kReceivePiece, _nBlockSize - _nBuffered);
        const int rc = IsCancelled() ? 3 : Receive(buffer + _nBuffered, wanted, &count);
        if (rc != 0) {
            theLogManager.Log("CKorvoBlockTCPReader: SockStream::Receive - DISCONNECTED ! [ 0x%08X ]", rc);
            _bConnected = false;
            std::lock_guard lock(_streamLock);
            _pStream->Close();
            break;
        }
        _nBuffered += count;
    }
    const int64_t rest = int64_t{_nBuffered} - _nBlockSize;
    if (rest < 0) {
        theLogManager.Log("CKorvoBlockTCPReader: SockStream::Receive - NOT ENOUGH DATA RECEIVED [%li B] !?!?",
                          static_cast<long>(rest));
        _nBuffered = 0;
        return kReadShort;
    }
    _bBlockInFront = true;
    if (IsBavdBlock(buffer, _nBlockSize) != (dynamic_cast<CKorvo8MBlockData*>(_pBlockData.get()) != nullptr))
        std::swap(_pBlockData, _pOtherLayout);
    if (_pBlockData->SetBlockData(buffer, _nBlockSize) != kBlockDataOk) {
        theLogManager.Log("CKorvoBlockTCPReader: damaged block received");
        return kReadDamaged;
    }
    if (elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    return kReadOk;
}

int CKorvoBlockTCPReader::Receive(uint8_t* buffer, uint32_t length, uint32_t* pCount)
{
    if (!_pSourceStream)
        return _pStream->Receive(buffer, length, pCount);
    const int64_t n = _pSourceStream->Recv(buffer, length);
    *pCount = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n < 1 ? 3 : 0;
}

bool CKorvoBlockTCPReader::EnsureBlock(uint32_t* elementsPerField)
{
    if (!_pBlockData)
        return false;
    if (!_pBlockData->IsValid() && ReadNextBlock(elementsPerField) != kReadOk)
        return false;
    if (elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    return true;
}

int32_t CKorvoBlockTCPReader::StartFieldOffset(int32_t fields, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!EnsureBlock(elementsPerField))
        return 0;
    theLogManager.Log("CKorvoBlockTCPReader::StartFieldOffset %li", static_cast<long>(fields));
    int64_t element = int64_t{fields} * _pBlockData->ElementsPerField();
    while (element >= _pBlockData->GetElementCount()) {
        theLogManager.Log("CKorvoBlockTCPReader::Startfieldoffset %li / %i", static_cast<long>(element),
                          _pBlockData->GetElementCount());
        element -= _pBlockData->GetElementCount();
        if (ReadNextBlock(elementsPerField) != kReadOk)
            return 0;
    }
    // The stream cannot go back: a field before the block stays a negative element.
    return element < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min()
                                                         : static_cast<int32_t>(element);
}

int32_t CKorvoBlockTCPReader::SetFirstField(uint32_t serverField, uint32_t* elementsPerField)
{
    return ReadForwardToField(serverField, elementsPerField);
}
