#include "browser/CTcpBlockSender.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/CLogManager.h"
#include "platform/File.h"
#include "platform/PageBuffer.h"
#include "rixclient/CSockStream.h"

namespace
{
constexpr uint32_t kAcceptGraceMs = 250;

// Whether the receiver has closed its end of the stream: its reset, or its orderly close waiting to be read (it
// never sends anything else).
bool ReceiverHasClosed(CSockStream& connection)
{
    platform::Socket* socket = nullptr;
    if (connection.GetSocket(&socket) != 0)
        return false;
    if (socket->LastError() == platform::kWsaConnectionReset)
        return true;
    if (socket->WaitReadable(0) != 1)
        return false;
    uint8_t byte = 0;
    const int64_t n = socket->Recv(&byte, 1);
    return n == 0 || (n < 0 && socket->LastError() == platform::kWsaConnectionReset);
}
}  // namespace

TCPBlockSender::TCPBlockSender() : CServerSockStream(0, 1) {}

TCPBlockSender::~TCPBlockSender()
{
    Stop();
    if (_sendThread.joinable())
        _sendThread.join();
}

int TCPBlockSender::GetPublishedAddress(const std::string& transferHost, std::string* pText)
{
    if (!pText || GetPort() == 0)
        return 1;
    std::string address = _szPublishedAddress;
    if (const char* setting = std::getenv("KORVO_TCP_ADDRESS"); address.empty() && setting && *setting)
        address = setting;
    if (address.empty()) {
        // Never the host name's own address: it may be a loopback one (127.0.1.1 on Debian), which no other machine
        // reaches. A transfer host that does not resolve is reached, if at all, through the default route.
        const auto peer = platform::ResolveIPv4(transferHost);
        std::optional<uint32_t> local = peer ? platform::LocalAddressToward(*peer) : std::nullopt;
        if (!local)
            local = platform::DefaultRouteAddress();
        if (local)
            address = platform::FormatIPv4(*local);
    }
    if (address.empty()) {
        _szAddressError = "the transfer host \"" + transferHost + "\" " +
                          (platform::ResolveIPv4(transferHost) ? "is not routed" : "does not resolve") +
                          " and this machine has no default route: set KORVO_TCP_ADDRESS to the address the "
                          "receiver reaches this machine at";
        theLogManager.Log("TCPBlockSender: %s", _szAddressError.c_str());
        return 1;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s:%i", address.c_str(), GetPort());
    *pText = text;
    return 0;
}

int TCPBlockSender::WaitForConnection(uint32_t timeoutMs)
{
    platform::Event accepted(true, false);
    std::unique_ptr<CSockStream> connection;
    std::thread acceptThread([this, &connection, &accepted] {
        connection.reset(Accept());
        accepted.Set();
    });
    if (accepted.Wait(timeoutMs) != platform::kWaitObject0) {
        // Shutting the listening socket down wakes the waiting accept, which then fails.
        Close();
        if (accepted.Wait(kAcceptGraceMs) != platform::kWaitObject0)
            theLogManager.Log("TCPBlockSender::WaitForConnection - accept did not end within %u ms", kAcceptGraceMs);
    }
    acceptThread.join();
    if (!connection)
        return -1;
    std::lock_guard lock(_connectionLock);
    _pConnection = std::move(connection);
    return 0;
}

bool TCPBlockSender::HasConnection()
{
    std::lock_guard lock(_connectionLock);
    return _pConnection != nullptr;
}

int TCPBlockSender::StartSending(const std::string& filePath)
{
    if (_bSending || !HasConnection())
        return -1;
    if (_sendThread.joinable())
        _sendThread.join();
    _szFilePath = filePath;
    _bStop = false;
    _bFailed = false;
    _bReceiverClosed = false;
    _nPiecesSent = 0;
    _bSending = true;
    _sendThread = std::thread(&TCPBlockSender::SendThread, this);
    return 0;
}

bool TCPBlockSender::SendPiece(CSockStream& connection, const uint8_t* data, uint32_t size)
{
    // One send may take only part of the piece: go on until all of it is gone.
    for (uint32_t sent = 0; sent < size;) {
        uint32_t count = 0;
        if (_bStop || connection.Send(data + sent, size - sent, &count) != 0 || count == 0)
            return false;
        sent += count;
    }
    return true;
}

void TCPBlockSender::SendThread()
{
    CSockStream* connection = nullptr;
    {
        std::lock_guard lock(_connectionLock);
        connection = _pConnection.get();
    }
    platform::File file;
    platform::PageBuffer buffer = platform::MakePageBuffer(kPieceSize);
    if (!file.Open(_szFilePath, platform::File::Access::Read, platform::File::Disposition::OpenExisting) || !buffer) {
        theLogManager.Log("TCPBlockSender: cannot read %s", _szFilePath.c_str());
    } else {
        for (uint64_t offset = kStreamStart; !_bStop; offset += kPieceSize) {
            if (file.ReadAt(buffer.get(), kPieceSize, offset) < int64_t{kPieceSize})
                break;
            if (!SendPiece(*connection, buffer.get(), kPieceSize)) {
                _bReceiverClosed = !_bStop && ReceiverHasClosed(*connection);
                _bFailed = true;
                if (!_bStop) {
                    theLogManager.Log("TCPBlockSender: SendBlock Error at offset 0x%llX%s",
                                      static_cast<unsigned long long>(offset),
                                      _bReceiverClosed ? " (the receiver closed its end)" : "");
                    if (_messageSink)
                        _messageSink("SendBlock Error", "TCPBlockSender Error");
                }
                break;
            }
            ++_nPiecesSent;
        }
    }
    file.Close();
    // The end of the stream is the receiver's end of the clip.
    std::lock_guard lock(_connectionLock);
    _pConnection.reset();
    _bSending = false;
}

void TCPBlockSender::Stop()
{
    if (_bSending) {
        _bStop = true;
        std::lock_guard lock(_connectionLock);
        if (_pConnection)
            _pConnection->Shutdown();
    }
    if (_sendThread.joinable())
        _sendThread.join();
}
