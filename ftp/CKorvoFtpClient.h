#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ftp/CAsyncSendSocket.h"
#include "ftp/CFtpDataSocket.h"
#include "ftp/IByteStream.h"
#include "platform/Socket.h"

struct FtpServerEntry {
    std::string szHost;  // a name or a dotted IPv4 address
    uint16_t nPort = 21;
    std::string szUser;
    std::string szPassword;
};

// Waits of the client, in milliseconds; tests shorten them.
struct FtpTimeouts {
    uint32_t nPingMs = 250;
    uint32_t nControlMs = 5000;    // control connect, send, and a whole reply (also one that comes byte by byte)
    uint32_t nAcceptMs = 5000;     // active mode: the server's data connection
    uint32_t nDataMs = 15000;      // data socket send and receive
    uint32_t nDataSendMs = 30000;  // a whole data write through the send thread
    uint32_t nCloseMs = 2000;      // Close after a download or an abort: every reply together
};

// The system's own FTP client, on plain stream sockets: a server list with fail-over, the control
// exchange, passive or active data connections with a server-side start position, and recovery of
// interrupted transfers. Derived clients adapt it through the virtual hooks.
class CKorvoFtpClient
{
public:
    // Transfer types of FtpOpenFile.
    static constexpr int kStore = 1;
    static constexpr int kRetrieve = 2;
    static constexpr int kAppend = 3;
    static constexpr int kStoreAt = 4;  // the start position is sent even when 0
    static constexpr int kList = 100;
    // Seek mode that positions with "SITE SEEK"; any other uses "REST".
    static constexpr int kSiteSeek = 2;

    explicit CKorvoFtpClient(const std::string& logName);
    virtual ~CKorvoFtpClient();
    CKorvoFtpClient(const CKorvoFtpClient&) = delete;
    CKorvoFtpClient& operator=(const CKorvoFtpClient&) = delete;

    // Process-wide switches, both on at start.
    static void SetFtpRecovery(bool on);
    static bool IsFtpRecovery();
    static void SetFtpPassive(bool on);
    static bool IsFtpPassive();

    void SetTimeouts(const FtpTimeouts& timeouts) { _timeouts = timeouts; }
    // The control replies and the transfers' data are read from these streams instead of the connections, which
    // are still made (fuzz targets feed the parsers from memory); null: the connections' own.
    void SetReplyStream(IByteStream* stream) { _pReplyStream = stream; }
    void SetDataStream(IByteStream* stream) { _dataSocket.SetStream(stream); }
    // The control commands go to this sink instead of the connection's send thread, which is then not started;
    // null: the connection's own.
    void SetCommandSink(IByteSink* sink) { _pCommandSink = sink; }

    // Ends every wait on the control connection within a moment, from any thread; the connection is then
    // dropped. Stays in force until ClearAbort. A signal set from outside (a cancel flag) does the same.
    void Abort() { _bAbort = true; }
    void ClearAbort() { _bAbort = false; }
    void SetAbortSignal(const std::atomic<bool>* flag) { _pAbortSignal = flag; }
    bool IsAborted() const;
    // Why the last connect or reply failed, in words (refused, no reply within the wait, closed by the server,
    // the server's refusal); empty when nothing failed yet.
    const std::string& GetLastFailure() const { return _szLastFailure; }

    int AddFtpServer(const std::string& list, bool connect);
    const std::vector<FtpServerEntry>& GetServerList() const { return _servers; }

    int Connect();
    int Close(bool sendQuit, bool abort);
    int Noop();
    bool IsReplyPending();
    bool IsConnected();

    int SendCtrl(const std::string& line);
    int GetMsgReply(int* pCode);
    int GetReplyCode();
    bool SendCommand(const std::string& line, int* pCode, std::string* pReply = nullptr);

    int SetDirectory(const std::string& directory, bool create);
    int ChangeDir(bool create = false);
    int GetFileSize(const std::string& path, int64_t* pSize);
    // The size, or -1 when the server gives none.
    int64_t GetFileSize(const std::string& path);
    int DeleteFile(const std::string& path);

    int OpenFile(const std::string& path, int type, int64_t offset, int seekMode);
    // Stores a local file at the path or "ftp://" address in blocks of blockSize bytes, reading the next block
    // while the current one is written. 0 once the server confirms the whole file; else the open's failure,
    // -10 when the local file cannot be opened or read, a write's failure, or the reply of the close.
    int UploadFile(const std::string& source, const std::string& target, uint32_t blockSize = kUploadBlockSize);
    // The server block size: each block costs a hand-over to the send thread, which a loaded machine makes slow,
    // and a queueing client's kept buffers (32 MiB) still hold several of them for reuse.
    static constexpr uint32_t kUploadBlockSize = 8 << 20;

    virtual int FtpOpenFile(int type, int64_t offset, int seekMode);
    virtual int FtpCloseFile(bool abort);
    virtual int FtpWriteFile(const void* data, uint32_t length);
    // recover false: a broken or missing data connection fails the read; the caller recovers.
    virtual int FtpReadFile(void* buffer, uint32_t length, int64_t* pCount, bool recover = true);
    // Waits until no more than bytes of what was written wait to be sent; a client that sends as it writes
    // has nothing waiting.
    virtual void WaitForBacklog(uint64_t bytes) { (void)bytes; }

    bool IsDataOpen() const { return _dataSocket.IsOpen(); }
    int64_t GetTransferPos() const { return _nTransferPos; }
    const std::string& GetDirectory() const { return _szCurrentDir; }
    const std::string& GetFileName() const { return _szFileName; }
    const std::string& GetLastReply() const { return _szLastReply; }
    int GetLastReplyCode() const { return _nLastReplyCode; }
    // The socket error of the last control connection that failed to connect (10061 refused, 10060 timed out).
    int GetConnectError() const { return _nConnectError; }
    bool IsRestSupported() const { return _bRestSupported; }

    // The address and port of a 227 reply's "(h1,h2,h3,h4,p1,p2)"; false when malformed.
    static bool ParsePassiveReply(const std::string& reply, uint32_t* pAddress, uint16_t* pPort);

protected:
    virtual bool OnConnectError(int code);
    virtual void OnWelcomeMsg() {}
    virtual int OnConnected() { return 0; }
    virtual int OnFtpError(int code);
    virtual int OnFtpSocketError();
    virtual void CloseSockets();

    int Handle() const { return _ctrlSocket.Fd(); }
    // Where the control replies are read.
    IByteStream& Replies() { return _pReplyStream ? *_pReplyStream : _ctrlReplies; }
    // How long one reply may take (0: nControlMs); sets the socket's own receive time-out too.
    void SetReplyWait(uint32_t ms);
    void SetLastFailure(const std::string& text) { _szLastFailure = text; }
    int ConnectServer(const FtpServerEntry& entry);
    // After a broken upload: reconnects, restores the folder and reopens the file where the server's copy
    // ends, which must lie within this write of length bytes. Gives the server's size.
    // SIZE of a file in the current folder, without reporting a refusal to OnFtpError.
    bool ServerFileSize(const std::string& name, int64_t* pSize);
    int ReopenForWrite(uint32_t length, int64_t* pHeld);

    std::string _szLogName;
    std::string _szLastReply;
    int _nLastReplyCode = 0;
    int _nConnectError = 0;
    bool _bRestSupported = false;
    std::string _szCurrentDir;
    std::string _szFileName;
    std::vector<FtpServerEntry> _servers;
    size_t _nLastServer = 0;
    int64_t _nTransferPos = 0;
    int _nTransferType = 0;  // of the open transfer, 0 when none
    std::unique_ptr<CAsyncSendSocket> _pCtrlSend;
    CFtpDataSocket _dataSocket;
    platform::Socket _ctrlSocket;
    char _replyBuffer[4096] = {};
    uint16_t _nReplyPending = 0;
    std::recursive_mutex _lock;
    FtpTimeouts _timeouts;

private:
    // 1 readable, 0 the deadline passed, -1 socket error, -2 aborted.
    int WaitControl(std::chrono::steady_clock::time_point deadline);

    CSocketByteStream _ctrlReplies{_ctrlSocket};
    IByteStream* _pReplyStream = nullptr;
    IByteSink* _pCommandSink = nullptr;
    std::atomic<bool> _bAbort{false};
    const std::atomic<bool>* _pAbortSignal = nullptr;
    uint32_t _nReplyWaitMs = 0;
    // While Close runs after a download or abort, no reply is awaited past it.
    std::optional<std::chrono::steady_clock::time_point> _closeDeadline;
    std::string _szLastFailure;
};
