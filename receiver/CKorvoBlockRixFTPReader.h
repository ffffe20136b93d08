#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/PageBuffer.h"
#include "receiver/CKorvoBlockReader.h"
#include "rixclient/CRixFtpClient.h"

// Waits of the server block reader, in milliseconds; tests shorten them.
struct RixBlockReaderWaits {
    uint32_t nNoWelcomeMs = 3000;        // before connecting again to a server that sent no welcome, give or take
    uint32_t nNoWelcomeSpreadMs = 1000;  // this much at random
    uint32_t nConnectRetryMs = 5000;     // after any other connect failure
    uint32_t nConnectRetries = 12;       // counted failures before Open gives up
    uint32_t nBlockMs = 30000;           // for the receive thread to deliver a block
    uint32_t nReconnectMs = 1500;        // between two connects of a recovery
    uint32_t nCloseBlockMs = 500;        // Close: for a block in transfer
    uint32_t nRecoveries = 6;            // per block
};

// Reads a clip straight from a video server, 8 MB BAVD block by block: a receive thread fetches the next block
// into the second buffer while the caller cuts the current one into frames. A broken transfer is resumed by
// reconnecting and seeking to the first field of the block that was being fetched.
class CKorvoBlockRixFTPReader : public CKorvoBlockReader, public CRixFtpClient
{
public:
    // Open results.
    enum : int { kOpenOk = 0, kOpenFailed = 1, kOpenNoMemory = 4, kOpenNoThread = 5 };
    // ReadNextBlock results.
    enum : int {
        kReadOk = 0,
        kReadEnded = 1,  // the clip's end, or the receive thread ended
        kReadTimedOut = 2,
        kReadIncomplete = 3,  // the transfer broke and could not be resumed
        kReadNotBavd = 4,
        kReadDamaged = 5,
        kReadNotOpen = -1,
    };

    CKorvoBlockRixFTPReader(int32_t instance, uint32_t firstServerField);
    ~CKorvoBlockRixFTPReader() override;

    // "ftp://server/directory/clip".
    int Open(const std::string& url) override;
    int Close() override;
    int32_t StartFieldOffset(int32_t fields, uint32_t* elementsPerField) override;
    int32_t SetFirstField(uint32_t serverField, uint32_t* elementsPerField) override;
    void Cancel() override;

    void SetWaits(const RixBlockReaderWaits& waits) { _waits = waits; }
    int64_t GetBytesLeft() const { return _nBytesLeft.load(); }
    // Recoveries the receive thread started, in all.
    uint32_t GetRecoveryCount() const { return _nRecoveryCount.load(); }
    // Where an invalid block is dumped.
    std::string DumpPath() const;
    // Whether an invalid block is dumped there (it is at first): a fuzz target refuses blocks by the thousand.
    void SetBlockDumps(bool on) { _bBlockDumps = on; }
    // The wait before connecting again to a server that sent no welcome, for a value of rand().
    uint32_t NoWelcomeWait(int random) const;

protected:
    int LoadNextBlock(uint32_t* elementsPerField) override;
    bool OnConnectError(int code) override;

private:
    void ReceiveThread();
    // Fills the buffer at the fill index: the bytes received.
    uint32_t FetchBlock();
    // Reconnects and seeks to the reopen field; false when the block is to end.
    bool Reconnect(int recoveriesLeft);
    // Waits for the next-block request or a stop; false when stopping.
    bool WaitRequest(uint32_t ms);
    void StopThread();

    int32_t _nInstance;
    uint32_t _nFirstServerField;
    RixBlockReaderWaits _waits;
    bool _bOpen = false;
    bool _bBlockDumps = true;
    std::thread _receiveThread;
    platform::Event _nextBlockRequest{false, false};
    platform::Event _blockReceived{false, false};
    platform::Event _threadEnded{true, false};
    std::atomic<bool> _bStop{false};
    platform::PageBuffer _pBuffers[2];
    std::atomic<uint32_t> _nFillIndex{0};
    std::atomic<uint32_t> _nBytesReceived{0};
    std::atomic<int64_t> _nReopenField{-1};
    std::atomic<int64_t> _nBytesLeft{0};
    std::atomic<uint32_t> _nRecoveryCount{0};
    std::atomic<bool> _bFetching{false};   // a block is asked for and not delivered yet
    std::atomic<bool> _bClipEnded{false};  // the server ended the transfer between two blocks
};
