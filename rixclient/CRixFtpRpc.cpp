// The RPC side channel of CRixFtpClient: the port announced by "SITE RPCP", and the three queries.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "common/CLogManager.h"
#include "rixclient/CRixFtpClient.h"

namespace
{
constexpr uint16_t kRpcMagic = 0x4248;
constexpr uint16_t kRpcMagicSwapped = 0x4842;
constexpr size_t kRpcHeader = 10;
constexpr uint16_t kRpcReplyBuffer = 4096;
constexpr uint16_t kFnField2Tc = 2;
constexpr uint16_t kFnSeqInOut = 3;
constexpr uint16_t kFnSeqStatus = 6;

class RpcGuard
{
public:
    explicit RpcGuard(CSyncCritSec& lock) : _lock(lock) { _lock.Lock(); }
    ~RpcGuard() { _lock.Unlock(); }

private:
    CSyncCritSec& _lock;
};

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const uint8_t* p, bool swapped)
{
    return swapped ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t Get32(const uint8_t* p, bool swapped)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(p[i]) << (swapped ? 24 - 8 * i : 8 * i);
    return v;
}

// A reply read in the client's byte order.
struct RpcReply {
    uint8_t bytes[kRpcReplyBuffer];
    bool swapped = false;
    uint16_t U16(size_t at) const { return Get16(bytes + at, swapped); }
    uint32_t U32(size_t at) const { return Get32(bytes + at, swapped); }
};
}  // namespace

uint16_t CRixFtpClient::GetRpcPort(char* reply, uint32_t size)
{
    int code = 0;
    std::string text;
    if (!SendCommand("SITE RPCP\r\n", &code, &text)) {
        theLogManager.LogTo(_szLogName, "CRixFtpRpc::GetRpcPort(): SITE RPCP failed!!!");
        return 0;
    }
    if (reply && size > 0)
        std::snprintf(reply, size, "%s", text.c_str());
    size_t at = text.find("Port:");
    if (at == std::string::npos) {
        theLogManager.LogTo(_szLogName, "CRixFtpRpc::GetRpcPort(): could not find 'Port:' in reply to SITE RPCP!!!");
        return 0;
    }
    at += 5;
    while (at < text.size() && text[at] == ' ')
        ++at;
    uint32_t port = 0;
    for (size_t i = at; i < text.size() && text[i] >= '0' && text[i] <= '9' && i - at < 9; ++i)
        port = port * 10 + static_cast<uint32_t>(text[i] - '0');
    port %= 65536;
    theLogManager.LogTo(_szLogName, "SITE RPCP reply=%s %d\n", text.c_str(), static_cast<int>(port));
    return static_cast<uint16_t>(port);
}

int CRixFtpClient::OpenRpcConnection(uint16_t port)
{
    theLogManager.LogTo(_szLogName, "OpenRpcConnection() ...");
    // The control lock first, as every control exchange that may close the channel takes them.
    std::lock_guard control(_lock);
    RpcGuard guard(_rpcLock);
    if (_rpcSocket.IsValid()) {
        theLogManager.LogTo(_szLogName, "OpenRpcConnection(): connection already open.");
        return 0;
    }
    if (port == 0)
        port = GetRpcPort(nullptr, 0);
    if (port == 0) {
        theLogManager.LogTo(_szLogName, "*** OpenRpcConnection(): INVALID Rpc Port Number [ %i ] !!", 0);
        return 7;
    }
    std::string host = _nLastServer < _servers.size() ? _servers[_nLastServer].szHost : _szServerName;
    theLogManager.LogTo(_szLogName, "OpenRpcConnection(): Trying to open ftp server [ %s:%d ]", host.c_str(), port);
    auto address = platform::ResolveIPv4(host);
    if (!address) {
        CloseRpcConnection();
        return 2;
    }
    if (!_rpcSocket.Connect(*address, port, _rixTimeouts.nRpcMs)) {
        theLogManager.LogTo(_szLogName,
                            "OpenRpcConnection(): *** FAILED to connect socket addr:port %d.%d.%d.%d:%d ! [0x%08x]",
                            static_cast<int>(*address >> 24), static_cast<int>(*address >> 16 & 0xFF),
                            static_cast<int>(*address >> 8 & 0xFF), static_cast<int>(*address & 0xFF), port,
                            static_cast<unsigned>(_rpcSocket.LastError()));
        CloseRpcConnection();
        return 4;
    }
    _rpcSocket.SetReceiveTimeout(_rixTimeouts.nRpcMs);
    _rpcSocket.SetSendTimeout(_rixTimeouts.nRpcMs);
    _rpcSocket.SetNoDelay(true);
    char reply[256];
    if (GetRpcPort(reply, sizeof reply) == 0 || std::string(reply).find("CONNECTED") == std::string::npos) {
        theLogManager.LogTo(_szLogName, "OpenRpcConnection(): socket connected but RPC still OFFLINE!");
        CloseRpcConnection();
        return 5;
    }
    if (!_pRpcRequests)
        _pRpcSend = std::make_unique<CAsyncSendSocket>(_rpcSocket, _rixTimeouts.nRpcMs, _szLogName);
    _bRpcOn = true;
    return 0;
}

int CRixFtpClient::CloseRpcConnection()
{
    RpcGuard guard(_rpcLock);
    // The send thread first: it must not outlive the handle it sends on.
    if (_pRpcSend) {
        _pRpcSend->StopThread();
        _pRpcSend.reset();
    }
    if (_rpcSocket.IsValid()) {
        theLogManager.LogTo(_szLogName, "CloseRpcConnection() ...");
        _rpcSocket.Close();
    }
    _bRpcOn = false;
    return 0;
}

int CRixFtpClient::SendRpcControlMsg(const void* bytes, uint32_t length)
{
    RpcGuard guard(_rpcLock);
    if (!_rpcSocket.IsValid())
        return 1;
    IByteSink* requests = _pRpcRequests ? _pRpcRequests : _pRpcSend.get();
    if (!requests)
        return 2;
    if (requests->Send(bytes, length) != static_cast<int64_t>(length)) {
        OnRPCSocketError();
        return 3;
    }
    return 0;
}

int CRixFtpClient::GetRpcMsgReply(void* buffer, uint16_t* pLength)
{
    RpcGuard guard(_rpcLock);
    if (!_rpcSocket.IsValid()) {
        theLogManager.LogTo(_szLogName, "GetRpcMsgReply() - INVALID Control Socket !");
        return -1;
    }
    if (!pLength || *pLength == 0 || !buffer)
        return -2;
    IByteStream& replies = _pRpcReplies ? *_pRpcReplies : _rpcOwnReplies;
    int64_t n = replies.Recv(buffer, *pLength);
    if (n < 0) {
        theLogManager.LogTo(_szLogName, "[%08x] GetRpcMsgReply() - recv ERROR [0x%08x] !",
                            static_cast<unsigned>(_rpcSocket.Fd()), static_cast<unsigned>(replies.LastError()));
        OnRPCSocketError();
        return -3;
    }
    if (n == 0) {
        theLogManager.LogTo(_szLogName, "GetRpcMsgReply - recv returned 0 bytes ...");
        // The server closed the channel: its owner must hear of it to reopen it.
        OnRPCSocketError();
        return -2;
    }
    *pLength = static_cast<uint16_t>(n);
    return 0;
}

uint16_t CRixFtpClient::NextRpcId()
{
    if (++_nRpcRequestId == 0)
        _nRpcRequestId = 1;
    return _nRpcRequestId;
}

namespace
{
void RpcLog(const std::string& log, const char* operation, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void RpcLog(const std::string& log, const char* operation, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    theLogManager.LogTo(log, "*** CRixFtpClient::%s(): %s", operation, text);
}

// The checks after the payload's own: function id, return code, request id.
int16_t CheckReplyTail(const std::string& log, const char* operation, const RpcReply& reply, size_t length,
                       uint16_t function, uint16_t requestId)
{
    if (uint16_t fn = reply.U16(length - 2); fn != function) {
        RpcLog(log, operation, "wrong fct Id (%d)!!!", fn);
        return 5;
    }
    if (uint16_t rc = reply.U16(length - 4); rc != 0) {
        RpcLog(log, operation, "bad request return code (%d)!!!", rc);
        return 6;
    }
    if (reply.U16(6) != requestId) {
        RpcLog(log, operation, "request and reply Id do not match!!!");
        return 7;
    }
    return 0;
}
}  // namespace

// Sends one request and takes one reply of the expected length with a valid magic; the caller holds the lock.
static int16_t Exchange(CRixFtpClient& client, const std::string& log, const char* operation, uint16_t function,
                        uint16_t requestId, const uint8_t* payload, uint16_t payloadSize, uint16_t timeout,
                        uint16_t replyLength, RpcReply* pReply, const char* lengthMessage)
{
    uint8_t request[64] = {};
    const uint16_t total = static_cast<uint16_t>(kRpcHeader + payloadSize + 4);
    Put16(request, kRpcMagic);
    Put16(request + 4, timeout);
    Put16(request + 6, requestId);
    Put16(request + 8, total);
    std::copy(payload, payload + payloadSize, request + kRpcHeader);
    Put16(request + kRpcHeader + payloadSize + 2, function);
    if (int rc = client.SendRpcControlMsg(request, total); rc != 0) {
        RpcLog(log, operation, "SendRpcControlMsg() failed (ret=%d) !!!", rc);
        return -2;
    }
    uint16_t length = kRpcReplyBuffer;
    if (int rc = client.GetRpcMsgReply(pReply->bytes, &length); rc != 0) {
        RpcLog(log, operation, "GetRpcMsgReply() failed (ret=%d) !!!", rc);
        return -3;
    }
    if (length != replyLength) {
        RpcLog(log, operation, lengthMessage, length);
        return 3;
    }
    const uint16_t magic = Get16(pReply->bytes, false);
    if (magic != kRpcMagic && magic != kRpcMagicSwapped) {
        RpcLog(log, operation, "Bad magic number in the reply!!!");
        return 4;
    }
    pReply->swapped = magic == kRpcMagicSwapped;
    return 0;
}

int16_t CRixFtpClient::RpcSeqInOut(uint16_t sequence, uint32_t* pIn, uint32_t* pOut, uint16_t timeout)
{
    static const char kName[] = "RpcSeqInOut";
    RpcGuard guard(_rpcLock);
    if (!_bRpcOn)
        return -1;
    const uint16_t id = NextRpcId();
    uint8_t payload[2];
    Put16(payload, sequence);
    RpcReply reply;
    if (int16_t rc = Exchange(*this, _szLogName, kName, kFnSeqInOut, id, payload, sizeof payload, timeout, 22, &reply,
                              "BAD Reply length (0x%x) !!!"))
        return rc;
    if (int16_t rc = CheckReplyTail(_szLogName, kName, reply, 22, kFnSeqInOut, id))
        return rc;
    const uint32_t in = reply.U32(10), out = reply.U32(14);
    if (in == 0 && out == 0) {
        RpcLog(_szLogName, kName, "wrong tcIn & tcOut (probably a bad sequence Id) !!!");
        return 8;
    }
    if (pIn)
        *pIn = in;
    if (pOut)
        *pOut = out;
    return 0;
}

int16_t CRixFtpClient::RpcSeqStatus(uint16_t sequence, uint32_t* pFirst, uint32_t* pIn, uint32_t* pOut, bool* pFlag,
                                    uint16_t timeout)
{
    static const char kName[] = "RpcSeqStatus";
    RpcGuard guard(_rpcLock);
    if (!_bRpcOn)
        return -1;
    const uint16_t id = NextRpcId();
    uint8_t payload[2];
    Put16(payload, sequence);
    RpcReply reply;
    if (int16_t rc = Exchange(*this, _szLogName, kName, kFnSeqStatus, id, payload, sizeof payload, timeout, 30, &reply,
                              "BAD Reply length (0x%x) !!!"))
        return rc;
    if (int16_t rc = CheckReplyTail(_szLogName, kName, reply, 30, kFnSeqStatus, id))
        return rc;
    const uint32_t in = reply.U32(14), out = reply.U32(18);
    if (in == 0 && out == 0) {
        RpcLog(_szLogName, kName, "wrong tcIn & tcOut (probably a bad sequence Id) !!!");
        return 8;
    }
    if (pFirst)
        *pFirst = reply.U32(10);
    if (pIn)
        *pIn = in;
    if (pOut)
        *pOut = out;
    if (pFlag)
        *pFlag = reply.U32(22) != 0;
    return 0;
}

int16_t CRixFtpClient::RpcField2Tc(uint8_t tcSource, uint8_t camera, uint32_t field, uint32_t* pFirst, TcDate* pDate,
                                   uint16_t timeout)
{
    static const char kName[] = "RpcField2Tc";
    RpcGuard guard(_rpcLock);
    if (!_bRpcOn)
        return -1;
    if (tcSource >= 2) {
        RpcLog(_szLogName, kName, "bad tcTable src (%d)!", tcSource);
        return 10;
    }
    if (camera < 'A' || camera > 'F') {
        RpcLog(_szLogName, kName, "bad camera Id (%d)!", camera);
        return 9;
    }
    const uint16_t id = NextRpcId();
    const uint8_t payload[7] = {tcSource,
                                0,
                                camera,
                                static_cast<uint8_t>(field),
                                static_cast<uint8_t>(field >> 8),
                                static_cast<uint8_t>(field >> 16),
                                static_cast<uint8_t>(field >> 24)};
    RpcReply reply;
    if (int16_t rc = Exchange(*this, _szLogName, kName, kFnField2Tc, id, payload, sizeof payload, timeout, 26, &reply,
                              "Bad reply length (0x%x) !!!"))
        return rc;
    const uint32_t high = reply.U32(14), low = reply.U32(18);
    uint8_t packed[TcDate::kPackedSize];
    for (int i = 0; i < 4; ++i) {
        packed[i] = static_cast<uint8_t>(low >> (8 * i));
        packed[4 + i] = static_cast<uint8_t>(high >> (8 * i));
    }
    TcDate date;
    if (date.Unpack(false, packed) != TcDate::kPackedSize) {
        RpcLog(_szLogName, kName, "bad TOD (%" PRIu64 ")!", uint64_t{high} << 32 | low);
        return reply.swapped ? 8 : -8;
    }
    if (int16_t rc = CheckReplyTail(_szLogName, kName, reply, 26, kFnField2Tc, id))
        return rc;
    if (pFirst)
        *pFirst = reply.U32(10);
    if (pDate)
        *pDate = date;
    return 0;
}
