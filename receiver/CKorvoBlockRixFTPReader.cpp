#include "receiver/CKorvoBlockRixFTPReader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/CLogManager.h"
#include "platform/Paths.h"
#include "serverblock/ServerBlock.h"

namespace
{
constexpr int kNoWelcome = 5;  // connect error: the server sent no welcome message
}  // namespace

CKorvoBlockRixFTPReader::CKorvoBlockRixFTPReader(int32_t instance, uint32_t firstServerField)
    : CKorvoBlockReader(kBlockSize2MB), CRixFtpClient(""), _nInstance(instance), _nFirstServerField(firstServerField)
{
    // The client's own recovery restarts at a byte position; this reader resumes at a field instead.
    SetFtpRecovery(false);
}

CKorvoBlockRixFTPReader::~CKorvoBlockRixFTPReader()
{
    Close();
}

uint32_t CKorvoBlockRixFTPReader::NoWelcomeWait(int random) const
{
    // rand() tops out anywhere from 32767 up: only its low 15 bits are used, centred on 0.
    const int64_t spread = (int64_t{random & 0x7FFF} - 16383) * _waits.nNoWelcomeSpreadMs / 16384;
    return static_cast<uint32_t>(std::max<int64_t>(0, int64_t{_waits.nNoWelcomeMs} + spread));
}

bool CKorvoBlockRixFTPReader::OnConnectError(int code)
{
    return code != kNoWelcome;
}

std::string CKorvoBlockRixFTPReader::DumpPath() const
{
    char name[64];
    std::snprintf(name, sizeof name, "C:\\KorvoRixFtp_%05d.bin", _nInstance);
    return platform::ToLocalPath(name);
}

int CKorvoBlockRixFTPReader::Open(const std::string& url)
{
    Close();
    // A cancel that came before Open stays: the reader is done.
    if (IsCancelled()) {
        SetFailure("cancelled");
        return kOpenFailed;
    }
    _nReopenField = -1;
    SetClipUrl(url, false);
    int code = 0;
    for (uint32_t counted = 0; !TryConnect(&code);) {
        uint32_t waitMs = _waits.nConnectRetryMs;
        if (code == kNoWelcome) {
            // A server that is starting answers without a welcome: try again without limit, spread out.
            waitMs = NoWelcomeWait(std::rand());
        } else if (++counted > _waits.nConnectRetries) {
            theLogManager.Log("CKorvoBlockRixFTPReader:%i: FAILED to connect to FTP Server !!", _nInstance);
            SetFailure(GetLastFailure());
            theLogManager.Log("CKorvoBlockRixFTPReader:%i: %s", _nInstance, GetLastFailure().c_str());
            return kOpenFailed;
        }
        if (IsCancelled() || !Sleep(waitMs)) {
            theLogManager.Log("CKorvoBlockRixFTPReader:%i: connect cancelled", _nInstance);
            SetFailure("cancelled while connecting (" + GetLastFailure() + ")");
            return kOpenFailed;
        }
    }
    int64_t size = -1;
    if (GetFileSize(GetClipDirectory() + GetClipName(), &size) != 0)
        size = -1;
    _nBytesLeft = size;
    if (OpenClip(kRetrieve, _nFirstServerField, 0, kSiteSeek) != 0) {
        theLogManager.Log("CKorvoBlockRixFTPReader:%i: FAILED to Open Src File !!", _nInstance);
        SetFailure("cannot open " + GetClipName() + " on the server" +
                   (GetLastReply().empty() ? std::string() : ": " + GetLastReply()));
        CKorvoFtpClient::Close(true, false);
        return kOpenFailed;
    }
    _nBlockSize = kBlockSize8MB;
    // A block is used only once received whole.
    _pBuffers[0] = platform::MakeUnclearedPageBuffer(_nBlockSize);
    _pBuffers[1] = platform::MakeUnclearedPageBuffer(_nBlockSize);
    _nFillIndex = 0;
    if (!_pBuffers[0] || !_pBuffers[1]) {
        theLogManager.Log("CKorvoBlockRixFTPReader:%i: FAILED to Allocate Memory !!!", _nInstance);
        _bOpen = true;
        Close();
        return kOpenNoMemory;
    }
    if (!_pBlockData)
        _pBlockData = std::make_unique<CKorvo8MBlockData>();
    _bStop = false;
    _nRefused = kReadOk;
    _bClipEnded = false;
    _nextBlockRequest.Reset();
    _blockReceived.Reset();
    _threadEnded.Reset();
    _bFetching = true;
    _bOpen = true;
    try {
        _receiveThread = std::thread(&CKorvoBlockRixFTPReader::ReceiveThread, this);
    } catch (const std::system_error&) {
        theLogManager.Log("CKorvoBlockRixFTPReader:%i: FAILED to Start Receive Thread !!!", _nInstance);
        Close();
        return kOpenNoThread;
    }
    StartKeepAlive();
    return kOpenOk;
}

void CKorvoBlockRixFTPReader::StopThread()
{
    _bStop = true;
    _nextBlockRequest.Set();
    // Wakes a read blocked on the data connection (its handle is guarded against the thread's reconnects) and
    // a wait on the control connection (by a flag: the thread may be replacing that socket).
    _dataSocket.Shutdown();
    Abort();
    if (_receiveThread.joinable())
        _receiveThread.join();
    if (!IsCancelled())
        ClearAbort();
}

int CKorvoBlockRixFTPReader::Close()
{
    if (!_bOpen)
        return 0;
    // Only a block being fetched is worth the wait: none is after the thread ended or while it awaits a request.
    if (_receiveThread.joinable() && _bFetching)
        platform::Event::WaitForMultiple({&_blockReceived, &_threadEnded}, false, _waits.nCloseBlockMs);
    // The thread may restart the keep-alive while it recovers: it ends first.
    StopThread();
    StopKeepAlive();
    CKorvoFtpClient::Close(true, false);
    _pBuffers[0].reset();
    _pBuffers[1].reset();
    _pBlockData.reset();
    _bOpen = false;
    return 0;
}

void CKorvoBlockRixFTPReader::Cancel()
{
    CKorvoBlockReader::Cancel();
    _bStop = true;
    _nextBlockRequest.Set();
    _dataSocket.Shutdown();
    Abort();
}

bool CKorvoBlockRixFTPReader::WaitRequest(uint32_t ms)
{
    const uint32_t rc = _nextBlockRequest.Wait(ms);
    return !_bStop && (rc == platform::kWaitObject0 || ms != platform::kInfinite);
}

bool CKorvoBlockRixFTPReader::Reconnect(int recoveriesLeft)
{
    theLogManager.Log("--- CKorvoBlockRixFTPReader:%i:ReceiveThread - Trying to connect Rix Ftp ... [Left %i]",
                      _nInstance, recoveriesLeft);
    ++_nRecoveryCount;
    // The keep-alive polls on the control connection that is about to be replaced.
    StopKeepAlive();
    CKorvoFtpClient::Close(false, true);
    int code = 0;
    while (!TryConnect(&code)) {
        if (code != kNoWelcome) {
            theLogManager.Log("CKorvoBlockRixFTPReader:%i:ReceiveThread - FTP Server ERROR [%i] !!", _nInstance, code);
            SetFailure("the connection broke and the server could not be reached again: " + GetLastFailure());
            return false;
        }
        if (_nextBlockRequest.Wait(_waits.nReconnectMs) == platform::kWaitObject0 || _bStop)
            return false;
    }
    if (OpenClip(kRetrieve, _nReopenField.load(), 0, kSiteSeek) != 0) {
        theLogManager.Log("*** CKorvoBlockRixFTPReader:%i:ReceiveThread - FTP File SEEK FAILED !!!", _nInstance);
        SetFailure("the connection broke and the clip could not be reopened: " + GetLastReply());
        return false;
    }
    StartKeepAlive();
    return true;
}

uint32_t CKorvoBlockRixFTPReader::FetchBlock()
{
    uint8_t* buffer = _pBuffers[_nFillIndex.load()].get();
    uint32_t received = 0;
    int recoveriesLeft = static_cast<int>(_waits.nRecoveries);
    while (received < _nBlockSize && !_bStop) {
        int64_t count = 0;
        const int rc = FtpReadFile(buffer + received, _nBlockSize - received, &count, false);
        if (rc == 0 && count > 0) {
            received += static_cast<uint32_t>(count);
            continue;
        }
        if (_bStop)
            break;
        const int64_t reopen = _nReopenField.load();
        const int64_t left = _nBytesLeft.load();
        // Nothing more of the clip: its end, or a break in its first block, which has no field to go back to.
        // The clip's size counts from its start, the transfer from the first field's block: the server's
        // "transfer complete" between two blocks also ends it.
        const bool clipEnd = left == 0 || (received == 0 && GetTransferEndCode() == 226);
        if (clipEnd)
            _bClipEnded = true;
        if (reopen == -1 && !clipEnd)
            SetFailure("the connection broke in the first block");
        if (reopen == -1 || clipEnd) {
            theLogManager.Log("CKorvoBlockRixFTPReader:%i:ReceiveThread - NOT TRYING TO REOPEN FILE !! [%li - 0x%llx]",
                              _nInstance, static_cast<long>(reopen), static_cast<unsigned long long>(left));
            break;
        }
        if (recoveriesLeft-- <= 0) {
            SetFailure("the connection broke " + std::to_string(_waits.nRecoveries + 1) + " times in one block");
            break;
        }
        if (!Reconnect(recoveriesLeft))
            break;
        received = 0;  // the block comes again from its start
    }
    return received;
}

void CKorvoBlockRixFTPReader::ReceiveThread()
{
    while (!_bStop && IsConnected()) {
        const uint32_t received = FetchBlock();
        _bFetching = false;
        _nBytesReceived = received;
        if (_nBytesLeft.load() > 0)
            _nBytesLeft -= std::min<int64_t>(received, _nBytesLeft.load());
        _blockReceived.Set();
        if (received != _nBlockSize)
            break;
        if (!WaitRequest(platform::kInfinite)) {
            if (!_bStop)
                theLogManager.Log("CKorvoBlockRixFTPReader:%i:ReceiveThread - Receive Next Block Event wait FAILED !!",
                                  _nInstance);
            break;
        }
    }
    _threadEnded.Set();
}

int CKorvoBlockRixFTPReader::LoadNextBlock(uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = 0;
    if (!_bOpen || !_receiveThread.joinable())
        return kReadNotOpen;
    const uint32_t rc =
        platform::Event::WaitForMultiple({&_blockReceived, &_threadEnded, &_cancelEvent}, false, _waits.nBlockMs);
    if (rc == platform::kWaitObject0 + 1 || rc == platform::kWaitObject0 + 2)
        return kReadEnded;
    if (rc != platform::kWaitObject0) {
        SetFailure("no block within " + std::to_string(_waits.nBlockMs) + " ms");
        return kReadTimedOut;
    }
    const uint32_t received = _nBytesReceived.load();
    if (received == 0 && _bClipEnded)
        return kReadEnded;
    if (received != _nBlockSize) {
        theLogManager.Log(">> RixFTPBlockReader:%i: - Uncomplete block received !!", _nInstance);
        SetFailure("an incomplete block of " + std::to_string(received) + " bytes");
        return kReadIncomplete;
    }
    const uint32_t index = _nFillIndex.load();
    const uint8_t* block = _pBuffers[index].get();
    if (!IsBavdBlock(block, _nBlockSize)) {
        uint32_t marker = 0;
        std::memcpy(&marker, block, 4);
        theLogManager.Log(">>>> CRixFtpBlockReader:%i:ReadNextBlock - received a NON VALID BAVD Block [%08X] !?!?",
                          _nInstance, marker);
        if (_bBlockDumps) {
            const std::string path = DumpPath();
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(block), _nBlockSize);
            theLogManager.Log(">>>> CRixFtpBlockReader:%i:ReadNextBlock - Dumping invalid Block in %s", _nInstance,
                              path.c_str());
        }
        SetFailure("a block that is not BAVD");
        _nRefused = kReadNotBavd;
        return _nRefused;
    }
    if (_pBlockData->SetBlockData(block, _nBlockSize) != kBlockDataOk) {
        theLogManager.Log(">>>> CRixFtpBlockReader:%i:ReadNextBlock - SetBlockData FAILED !!", _nInstance);
        SetFailure("a damaged block");
        _nRefused = kReadDamaged;
        return _nRefused;
    }
    if (elementsPerField)
        *elementsPerField = _pBlockData->ElementsPerField();
    _nReopenField = _pBlockData->GetEndField();
    // The thread fills the other buffer while this one is read.
    _nFillIndex = index ^ 1;
    _bFetching = true;
    _nextBlockRequest.Set();
    return kReadOk;
}

int32_t CKorvoBlockRixFTPReader::StartFieldOffset(int32_t, uint32_t* elementsPerField)
{
    if (elementsPerField)
        *elementsPerField = _pBlockData && _pBlockData->IsValid() ? _pBlockData->ElementsPerField() : 0;
    return 0;
}

int32_t CKorvoBlockRixFTPReader::SetFirstField(uint32_t serverField, uint32_t* elementsPerField)
{
    return ReadForwardToField(serverField, elementsPerField);
}
