#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "parvex/ParvexLayout.h"
#include "platform/Event.h"
#include "rixclient/CServerSockStream.h"

class CSockStream;

// The browser's end of the TCP block stream: it listens on a port the system chooses, accepts the receiver's one
// connection and sends the clip file from the end of its header area on, in whole pieces of 0x200000 bytes, from a
// thread of its own; a short last piece is not sent, and the connection is closed after the last piece.
class TCPBlockSender : public CServerSockStream
{
public:
    static constexpr uint32_t kPieceSize = 0x200000;
    static constexpr uint64_t kStreamStart = parvex::kHeaderAreaSize;
    // Shows a message to the user: text and caption.
    using MessageSink = std::function<void(const std::string&, const std::string&)>;

    // Listens on any port of every interface once Listen is called; throws as CServerSockStream does.
    TCPBlockSender();
    ~TCPBlockSender() override;

    // The "address:port" for the job's KorvoTCPPort: the address set here or in KORVO_TCP_ADDRESS, else the
    // address of this host's interface that routes to the transfer host, else (a host that does not resolve) that
    // of the default route's interface. 1 when there is none, with GetAddressError telling why.
    int GetPublishedAddress(const std::string& transferHost, std::string* pText);
    const std::string& GetAddressError() const { return _szAddressError; }
    void SetPublishedAddress(const std::string& address) { _szPublishedAddress = address; }

    // 0 when the receiver connected within the time-out; else -1 and the listening socket is closed.
    int WaitForConnection(uint32_t timeoutMs);
    // Starts the send thread on the file; -1 without a connection or while a send thread runs.
    int StartSending(const std::string& filePath);
    // Ends a running send thread: its connection is shut down so that a blocked send fails, then it is joined.
    void Stop();

    void SetMessageSink(MessageSink sink) { _messageSink = std::move(sink); }
    bool IsSending() const { return _bSending.load(); }
    bool HasConnection();
    // Pieces sent whole by the last send thread; whether it ended on a failure.
    uint64_t GetPiecesSent() const { return _nPiecesSent.load(); }
    bool HasFailed() const { return _bFailed.load(); }
    // Whether the failed send met a receiver that had closed its end: it had what it wanted, or stopped for a
    // reason of its own; either way the receiver's side tells the outcome.
    bool HasReceiverClosed() const { return _bReceiverClosed.load(); }

private:
    void SendThread();
    // Sends the whole piece; false when the peer fails or the sender is stopped.
    bool SendPiece(CSockStream& connection, const uint8_t* data, uint32_t size);

    std::mutex _connectionLock;  // the connection is shut down by Stop while the send thread uses it
    std::unique_ptr<CSockStream> _pConnection;
    std::thread _sendThread;
    std::string _szFilePath;
    std::string _szPublishedAddress;
    std::string _szAddressError;
    MessageSink _messageSink;
    std::atomic<bool> _bSending{false};
    std::atomic<bool> _bStop{false};
    std::atomic<bool> _bFailed{false};
    std::atomic<bool> _bReceiverClosed{false};
    std::atomic<uint64_t> _nPiecesSent{0};
};
