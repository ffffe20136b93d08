#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/CSyncCritSec.h"
#include "common/TcDate.h"
#include "ftp/CAsyncSendSocket.h"
#include "ftp/CKorvoFtpClient.h"
#include "platform/Event.h"
#include "platform/Socket.h"

// Waits of the video server client, in milliseconds; tests shorten them.
struct RixTimeouts {
    uint32_t nKeepAliveMs = 4000;      // between two "STAT" polls
    uint32_t nKeepAliveStopMs = 500;   // for the keep-alive thread to end before its exchange is cut
    uint32_t nPacingWaitMs = 5000;     // longest wait for the pacing of a read
    uint32_t nAbortReceiveMs = 30000;  // control receive time-out while a transfer is aborted
    uint32_t nRpcMs = 5000;            // RPC connect, send and receive
};

// The client of the video servers' FTP service: clip addresses (server, directory, clip name), resolution of
// clip names whose location is still open ("SITE CMSK", "SITE GNFN"), paced reads, sized writes, a
// keep-alive thread polling the running transfer with "STAT", and the RPC side channel.
class CRixFtpClient : public CKorvoFtpClient
{
public:
    static constexpr uint32_t kDefaultBlockSize = 0x800000;

    explicit CRixFtpClient(const std::string& logName);
    ~CRixFtpClient() override;

    void SetRixTimeouts(const RixTimeouts& timeouts) { _rixTimeouts = timeouts; }
    // The RPC replies are read from this stream instead of the RPC connection, which is still made (fuzz targets
    // feed the parsers from memory); null: the connection's own.
    void SetRpcReplyStream(IByteStream* stream) { _pRpcReplies = stream; }
    // The RPC requests go to this sink instead of the connection's send thread, which is then not started; null:
    // the connection's own.
    void SetRpcRequestSink(IByteSink* sink) { _pRpcRequests = sink; }

    int SetClipUrl(const std::string& address, bool connect);
    bool GetClipUrl(std::string* pUrl, bool check);
    bool IsClipNameResolved() const;
    bool ResolveClipLocation(bool check);

    int OpenClip(int type, int64_t offset, int seekMode);
    // The form of the receiver's readers: the third argument is not used.
    int OpenClip(int type, int64_t offset, int unused, int seekMode);
    int OpenClipAtStart(int type) { return OpenClip(type, 0, kSiteSeek); }
    int OpenClipXml(int type);
    int CloseClip(bool abort);
    int DeleteClip();
    bool TryConnect(int* pCode);
    int SetDirectoryNoCreate(const char* path);

    int ReadData(void* buffer, uint32_t length, uint32_t* pCount, uint32_t bytesPerSecond);
    int WriteData(const void* data, uint32_t length, uint32_t* pCount);

    void StartKeepAlive();
    void StopKeepAlive();

    // The RPC side channel. Results are 16-bit codes; out values are written only for a good reply.
    uint16_t GetRpcPort(char* reply, uint32_t size);
    int OpenRpcConnection(uint16_t port);
    int CloseRpcConnection();
    int SendRpcControlMsg(const void* bytes, uint32_t length);
    int GetRpcMsgReply(void* buffer, uint16_t* pLength);
    int16_t RpcSeqInOut(uint16_t sequence, uint32_t* pIn, uint32_t* pOut, uint16_t timeout);
    int16_t RpcSeqStatus(uint16_t sequence, uint32_t* pFirst, uint32_t* pIn, uint32_t* pOut, bool* pFlag,
                         uint16_t timeout);
    int16_t RpcField2Tc(uint8_t tcSource, uint8_t camera, uint32_t field, uint32_t* pFirst, TcDate* pDate,
                        uint16_t timeout);
    bool IsRpcOn() const { return _bRpcOn; }

    const std::string& GetServerName() const { return _szServerName; }
    const std::string& GetClipDirectory() const { return _szClipDirectory; }
    const std::string& GetClipName() const { return _szClipName; }
    uint32_t GetServerBlockSize() const { return _nServerBlockSize; }
    uint64_t GetBytesMoved() const { return _nBytesMoved; }
    // The reply that ended the last transfer of the clip (226, 426), 0 while it runs.
    int GetTransferEndCode() const { return _nTransferEnd; }

    int FtpCloseFile(bool abort) override;

protected:
    bool OnConnectError(int code) override;
    void OnWelcomeMsg() override;
    int OnFtpSocketError() override;
    void CloseSockets() override;
    virtual int OnRPCSocketError() { return 0; }

    RixTimeouts _rixTimeouts;

private:
    void KeepRixClipAliveThread();
    int KeepClipAlive();
    uint16_t NextRpcId();
    // One request and its reply, under the RPC lock; the reply's byte order is made the client's.
    int16_t RpcExchange(const char* name, uint16_t function, const uint8_t* payload, uint16_t payloadSize,
                        uint16_t timeout, uint8_t* reply, uint16_t replySize, bool* pSwapped);

    std::string _szServerName;
    std::string _szClipDirectory;
    std::string _szClipName;
    int32_t _nWritePiece = -1;
    int32_t _nReadPiece = -1;
    uint64_t _nBytesMoved = 0;
    uint32_t _nServerBlockSize = kDefaultBlockSize;
    int _nTransferEnd = 0;

    // Pacing: the next paced read may start no earlier than this.
    bool _bPacing = false;
    double _dPacingDue = 0;

    std::thread _keepAliveThread;
    std::unique_ptr<platform::Event> _pKeepAliveStop;
    platform::Event _keepAliveEnded{true, false};
    std::atomic<bool> _bKeepAliveCut{false};
    std::string _szKeepAliveCommand;

    CSyncCritSec _rpcLock;
    std::unique_ptr<CAsyncSendSocket> _pRpcSend;
    std::atomic<bool> _bRpcOn{false};
    platform::Socket _rpcSocket;
    CSocketByteStream _rpcOwnReplies{_rpcSocket};
    IByteStream* _pRpcReplies = nullptr;
    IByteSink* _pRpcRequests = nullptr;

protected:
    uint16_t _nRpcRequestId = 0;
};
