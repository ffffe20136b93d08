#include "ftp/CKorvoFtpClient.h"

#include <atomic>
#include <cinttypes>
#include <cstring>
#include <string_view>

#include "common/CIcmpPing.h"
#include "common/CLogManager.h"
#include "ftp/FtpConnectText.h"

namespace
{
std::atomic<bool> g_bFtpRecovery{true};
std::atomic<bool> g_bFtpPassive{true};
std::atomic<bool> g_bPingUnsentLogged{false};
constexpr int kPingUnresolved = 3;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsWithCode(std::string_view line)
{
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The command line as logged: without its CR LF, and without the password.
std::string LoggedCommand(const std::string& line)
{
    std::string text = line.substr(0, line.find("\r\n"));
    if (text.rfind("PASS ", 0) == 0)
        text = "PASS ****";
    return text;
}

std::string Where(const FtpServerEntry& entry)
{
    return entry.szHost + ":" + std::to_string(entry.nPort);
}

// A reply as quoted in a text: its last line.
std::string Quoted(const std::string& reply)
{
    size_t start = reply.rfind("\r\n");
    return start == std::string::npos ? reply : reply.substr(start + 2);
}

// A decimal number read as far as it goes; false when no digit comes first or it overflows.
bool ParseDecimal(std::string_view text, uint64_t limit, uint64_t* pValue)
{
    uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *pValue = value;
    return i > 0;
}
}  // namespace

CKorvoFtpClient::CKorvoFtpClient(const std::string& logName) : _szLogName(logName), _dataSocket(logName) {}

bool CKorvoFtpClient::IsAborted() const
{
    return _bAbort.load() || (_pAbortSignal && _pAbortSignal->load());
}

void CKorvoFtpClient::SetReplyWait(uint32_t ms)
{
    std::lock_guard lock(_lock);
    _nReplyWaitMs = ms;
    _ctrlSocket.SetReceiveTimeout(ms ? ms : _timeouts.nControlMs);
}

int CKorvoFtpClient::WaitControl(std::chrono::steady_clock::time_point deadline)
{
    // In slices, so that an abort from another thread is seen at once without touching the socket.
    constexpr auto kSlice = std::chrono::milliseconds(50);
    for (;;) {
        if (IsAborted())
            return -2;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return 0;
        const auto wait = std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice);
        const int rc = Replies().WaitReadable(
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1));
        if (rc != 0)
            return rc;
    }
}

CKorvoFtpClient::~CKorvoFtpClient()
{
    if (_ctrlSocket.IsValid())
        Close(true, false);
    _dataSocket.Close();
}

void CKorvoFtpClient::SetFtpRecovery(bool on)
{
    g_bFtpRecovery = on;
}

bool CKorvoFtpClient::IsFtpRecovery()
{
    return g_bFtpRecovery;
}

void CKorvoFtpClient::SetFtpPassive(bool on)
{
    g_bFtpPassive = on;
}

bool CKorvoFtpClient::IsFtpPassive()
{
    return g_bFtpPassive;
}

int CKorvoFtpClient::AddFtpServer(const std::string& list, bool connect)
{
    theLogManager.LogTo(_szLogName, "AddFtpServer: %s", list.c_str());
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        std::string piece = list.substr(start, end - start);
        start = end + 1;

        FtpServerEntry entry;
        std::string host = piece;
        size_t at = piece.find('@');
        if (at != std::string::npos) {
            std::string account = piece.substr(0, at);
            size_t colon = account.find(':');
            if (colon != std::string::npos) {
                entry.szUser = account.substr(0, colon);
                entry.szPassword = account.substr(colon + 1);
            } else {
                entry.szUser = account;
            }
            host = piece.substr(at + 1);
        }
        size_t colon = host.find(':');
        if (colon != std::string::npos) {
            uint64_t port = 0;
            if (!ParseDecimal(std::string_view(host).substr(colon + 1), 65535, &port) || port == 0) {
                theLogManager.LogTo(_szLogName, "AddFtpServer: bad port in [%s] !", piece.c_str());
                continue;
            }
            entry.nPort = static_cast<uint16_t>(port);
            host.resize(colon);
        } else if (size_t slash = host.find('/'); slash != std::string::npos) {
            host.resize(slash);
        }
        entry.szHost = host;
        if (host.empty())
            continue;
        bool known = false;
        for (const FtpServerEntry& e : _servers)
            known = known || e.szHost == host;
        if (!known)
            _servers.push_back(entry);
    }
    _nLastServer = _servers.size();
    if (connect && !IsConnected())
        return Connect();
    return 0;
}

bool CKorvoFtpClient::IsConnected()
{
    std::lock_guard lock(_lock);
    return _ctrlSocket.IsValid();
}

int CKorvoFtpClient::Connect()
{
    std::lock_guard lock(_lock);
    if (_servers.empty())
        return -1;
    if (_ctrlSocket.IsValid())
        Close(true, false);

    const size_t count = _servers.size();
    size_t first = _nLastServer + 1 >= count ? 0 : _nLastServer + 1;
    int result = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t index = (first + i) % count;
        result = ConnectServer(_servers[index]);
        if (result == 0) {
            _nLastServer = index;
            break;
        }
        Close(true, false);
        if (!OnConnectError(result))
            return result;
    }
    if (result != 0)
        return result;

    if (IsFtpRecovery()) {
        if (SendCtrl("REST 0\r\n") != 0) {
            theLogManager.LogTo(_szLogName, "[%08x] FAILED to send REST Command !", Handle());
            return 8;
        }
        int code = 0;
        if (GetMsgReply(&code) != 0)
            return 8;
        _bRestSupported = code == 350;
        theLogManager.LogTo(_szLogName, "[%08x] FTP Server %s REST Command !!", Handle(),
                            _bRestSupported ? "SUPPORT" : "* DOES NOT SUPPORT *");
        Noop();
    } else {
        _bRestSupported = true;
    }

    result = OnConnected();
    if (result != 0)
        Close(true, false);
    else
        _szLastFailure.clear();  // a later text must not quote the cause of an earlier failure
    return result;
}

int CKorvoFtpClient::ConnectServer(const FtpServerEntry& entry)
{
    theLogManager.LogTo(_szLogName, "Trying to open ftp server [ %s:%hu ]", entry.szHost.c_str(), entry.nPort);
    CIcmpPing ping;
    int32_t roundTrip = -1;
    int pingResult = ping.Ping(entry.szHost.c_str(), _timeouts.nPingMs, &roundTrip);
    if (!ping.IsSent() && pingResult != kPingUnresolved) {
        // Ordinary users may have no ICMP socket at all: then the connection's own time-out decides.
        if (!g_bPingUnsentLogged.exchange(true))
            theLogManager.LogTo(_szLogName, "*** Ping cannot be sent [ %i / 0x%08x ] - connecting without it",
                                pingResult, static_cast<unsigned>(ping.GetLastError()));
    } else if (pingResult != 0 || roundTrip < 0) {
        theLogManager.LogTo(_szLogName, "*** Server [%s] Ping FAILED [ %i ] !!", entry.szHost.c_str(), pingResult);
        SetLastFailure(entry.szHost + " does not answer a ping");
        return 10;
    }
    auto address = platform::ResolveIPv4(entry.szHost);
    if (!address) {
        SetLastFailure("cannot resolve " + entry.szHost);
        return 2;
    }
    if (IsAborted()) {
        SetLastFailure("cancelled");
        return 4;
    }
    _nConnectError = 0;
    // A cancel from another thread ends the connect itself, not only the waits after it.
    if (!_ctrlSocket.Connect(*address, entry.nPort, _timeouts.nControlMs, [this] { return IsAborted(); })) {
        _nConnectError = _ctrlSocket.LastError();
        if (_nConnectError == platform::kWsaInterrupted) {
            theLogManager.LogTo(_szLogName, "*** Connection to [ %s ] cancelled", Where(entry).c_str());
            SetLastFailure("cancelled");
            return 4;
        }
        theLogManager.LogTo(_szLogName, "*** FAILED to connect socket ! [0x%08x]",
                            static_cast<unsigned>(_nConnectError));
        SetLastFailure("cannot connect to " + Where(entry) + ": " + SocketErrorText(_nConnectError));
        return 4;
    }
    _nReplyWaitMs = 0;
    _ctrlSocket.SetReceiveTimeout(_timeouts.nControlMs);
    _ctrlSocket.SetSendTimeout(_timeouts.nControlMs);
    _ctrlSocket.SetNoDelay(true);
    if (!_pCommandSink)
        _pCtrlSend = std::make_unique<CAsyncSendSocket>(_ctrlSocket, _timeouts.nControlMs, "default");
    _nReplyPending = 0;

    int code = 0;
    if (GetMsgReply(&code) != 0) {
        theLogManager.LogTo(_szLogName, "[%08x] FAILED to receive welcome message !", Handle());
        SetLastFailure("no welcome from " + Where(entry) + ": " + _szLastFailure);
        return 5;
    }
    OnWelcomeMsg();

    if (SendCtrl(entry.szUser.empty() ? "USER\r\n" : "USER " + entry.szUser + "\r\n") != 0) {
        theLogManager.LogTo(_szLogName, "[%08x] FAILED to send USER message !", Handle());
        return 6;
    }
    if (GetMsgReply(&code) != 0) {
        theLogManager.LogTo(_szLogName, "[%08x] receive USER response failed !", Handle());
        SetLastFailure("no log-in reply from " + Where(entry) + ": " + _szLastFailure);
        return 7;
    }
    if (code == 331) {
        if (SendCtrl(entry.szPassword.empty() ? "PASS\r\n" : "PASS " + entry.szPassword + "\r\n") != 0) {
            theLogManager.LogTo(_szLogName, "[%08x] FAILED to send PASS message !", Handle());
            return 8;
        }
        if (GetMsgReply(&code) != 0) {
            SetLastFailure("no log-in reply from " + Where(entry) + ": " + _szLastFailure);
            return 7;
        }
    }
    if (code != 230) {
        SetLastFailure("log-in refused by " + Where(entry) + ": " + Quoted(_szLastReply));
        OnFtpError(code);
        return 7;
    }
    // Servers start in ASCII mode, which rewrites line ends in the data: media must go as image.
    int typeCode = 0;
    if (!SendCommand("TYPE I\r\n", &typeCode))
        return 7;
    if (typeCode >= 400)
        OnFtpError(typeCode);
    return 0;
}

int CKorvoFtpClient::Close(bool sendQuit, bool abort)
{
    // After a download or an abort nothing more is owed: a stopped server must not hold the close up.
    const bool bounded = abort || _nTransferType == kRetrieve || _nTransferType == kList;
    if (bounded)
        _closeDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(_timeouts.nCloseMs);
    struct EndBound {
        CKorvoFtpClient& self;
        ~EndBound() { self._closeDeadline.reset(); }
    } endBound{*this};
    if (_dataSocket.IsOpen())
        FtpCloseFile(abort);
    std::lock_guard lock(_lock);
    if (_ctrlSocket.IsValid()) {
        theLogManager.LogTo(_szLogName, "[%08x] Close Ftp ...", Handle());
        if (sendQuit && SendCtrl("QUIT\r\n") == 0)
            GetMsgReply(nullptr);
    }
    CloseSockets();
    return 0;
}

int CKorvoFtpClient::Noop()
{
    std::lock_guard lock(_lock);
    if (SendCtrl("NOOP\r\n") != 0)
        return -1;
    for (;;) {
        int code = 0;
        int result = GetMsgReply(&code);
        if (result < 0)
            return result;
        if (code == 200 || code == 421 || code == 500)
            return code;
    }
}

bool CKorvoFtpClient::IsReplyPending()
{
    std::lock_guard lock(_lock);
    if (!_ctrlSocket.IsValid())
        return false;
    // A reply that came in the same segment as the previous one waits in the buffer.
    return _nReplyPending > 0 || Replies().WaitReadable(0) == 1;
}

int CKorvoFtpClient::SendCtrl(const std::string& line)
{
    std::lock_guard lock(_lock);
    if (!_ctrlSocket.IsValid())
        return 1;
    IByteSink* commands = _pCommandSink ? _pCommandSink : _pCtrlSend.get();
    if (!commands)
        return 2;
    theLogManager.LogTo(_szLogName, "[%08x] > CTRL: %s", Handle(), LoggedCommand(line).c_str());
    if (commands->Send(line.data(), line.size()) != static_cast<int64_t>(line.size())) {
        OnFtpSocketError();
        return 3;
    }
    return 0;
}

int CKorvoFtpClient::GetMsgReply(int* pCode)
{
    std::lock_guard lock(_lock);
    _szLastReply.clear();
    if (pCode)
        *pCode = 0;
    if (!_ctrlSocket.IsValid()) {
        theLogManager.LogTo(_szLogName, "GetMsgReply() - INVALID Control Socket !");
        return -1;
    }
    size_t scan = 0;  // start of the first line not looked at yet
    size_t replyStart = std::string::npos;
    // The whole reply within the wait: a peer that sends a byte now and then does not hold the client.
    const uint32_t waitMs = _nReplyWaitMs ? _nReplyWaitMs : _timeouts.nControlMs;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    if (_closeDeadline && *_closeDeadline < deadline)
        deadline = *_closeDeadline;
    for (;;) {
        for (;;) {
            std::string_view rest(_replyBuffer + scan, _nReplyPending - scan);
            size_t eol = rest.find("\r\n");
            if (eol == std::string_view::npos)
                break;
            std::string_view line = rest.substr(0, eol);
            size_t lineStart = scan;
            scan += eol + 2;
            bool code = StartsWithCode(line);
            if (code && line.size() > 3 && line[3] == ' ') {
                if (replyStart == std::string::npos)
                    replyStart = lineStart;
                int value = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
                _szLastReply.assign(_replyBuffer + replyStart, lineStart + eol - replyStart);
                _nLastReplyCode = value;
                if (pCode)
                    *pCode = value;
                // Keep what follows the reply: the next one may have come in the same segment.
                std::memmove(_replyBuffer, _replyBuffer + scan, _nReplyPending - scan);
                _nReplyPending = static_cast<uint16_t>(_nReplyPending - scan);
                theLogManager.LogTo(_szLogName, "[%08x] < Reply: %s", Handle(), _szLastReply.c_str());
                return 0;
            }
            if (replyStart != std::string::npos)
                continue;  // inside a multi-line reply
            if (code && line.size() > 3 && line[3] == '-') {
                replyStart = lineStart;
            } else if (code) {
                theLogManager.LogTo(
                    _szLogName, "WARNING - [%08x] GetMsgReply() - Bad ftp reply, no <space> or '-' after xxx [%c] !",
                    Handle(), line.size() > 3 ? line[3] : '\r');
            } else {
                char c[3] = {' ', ' ', ' '};
                for (size_t i = 0; i < 3 && i < line.size(); ++i)
                    c[i] = line[i];
                theLogManager.LogTo(
                    _szLogName, "WARNING - [%08x] GetMsgReply() - Bad ftp reply, not starting with 3 digits ! [%c%c%c]",
                    Handle(), c[0], c[1], c[2]);
            }
        }
        if (_nReplyPending >= sizeof _replyBuffer) {
            theLogManager.LogTo(
                _szLogName, "[%08x] *** GetMsgReply() - no valid full reply found in the received data buffer !!! ***",
                Handle());
            _nReplyPending = 0;
            SetLastFailure("no FTP reply in " + std::to_string(sizeof _replyBuffer) + " bytes");
            return -2;
        }
        const int ready = WaitControl(deadline);
        if (ready == 0 || ready == -2) {
            SetLastFailure(ready == -2 ? "cancelled" : "no reply within " + std::to_string(waitMs) + " ms");
            theLogManager.LogTo(_szLogName, "[%08x] GetMsgReply() - %s !", Handle(), _szLastFailure.c_str());
            _nReplyPending = 0;
            OnFtpSocketError();
            return -3;
        }
        int64_t n = Replies().Recv(_replyBuffer + _nReplyPending, sizeof _replyBuffer - _nReplyPending);
        if (n < 0) {
            theLogManager.LogTo(_szLogName, "[%08x] GetMsgReply() - recv ERROR [0x%08x] !", Handle(),
                                static_cast<unsigned>(Replies().LastError()));
            SetLastFailure(SocketErrorText(Replies().LastError()));
            _nReplyPending = 0;
            OnFtpSocketError();
            return -3;
        }
        if (n == 0) {
            theLogManager.LogTo(_szLogName, "[%08x] GetMsgReply() - recv returned 0 bytes ...", Handle());
            SetLastFailure("the server closed the connection");
            _nReplyPending = 0;
            return -4;
        }
        _nReplyPending = static_cast<uint16_t>(_nReplyPending + n);
    }
}

int CKorvoFtpClient::GetReplyCode()
{
    int code = 0;
    int result = GetMsgReply(&code);
    return result < 0 ? result : code;
}

bool CKorvoFtpClient::SendCommand(const std::string& line, int* pCode, std::string* pReply)
{
    std::lock_guard lock(_lock);
    int code = 0;
    bool ok = SendCtrl(line) == 0 && GetMsgReply(&code) == 0;
    if (pCode)
        *pCode = code;
    if (pReply)
        *pReply = ok ? _szLastReply : std::string();
    return ok;
}

int CKorvoFtpClient::SetDirectory(const std::string& directory, bool create)
{
    // Built apart: the argument may be the current directory itself.
    std::string path = directory.empty() ? "/" : directory[0] == '/' ? directory : _szCurrentDir + directory;
    if (path.back() != '/')
        path += '/';
    _szCurrentDir = std::move(path);
    return ChangeDir(create);
}

int CKorvoFtpClient::ChangeDir(bool create)
{
    std::lock_guard lock(_lock);
    if ((!_ctrlSocket.IsValid() || Noop() < 0) && Connect() != 0)
        return -1;
    theLogManager.LogTo(_szLogName, "[%08x] Changing directory to %s [Create %s]", Handle(), _szCurrentDir.c_str(),
                        create ? "ENABLED" : "DISABLED");
    int code = 0;
    if (!SendCommand("CWD " + _szCurrentDir + "\r\n", &code))
        return -3;
    if (code == 250)
        return 0;

    theLogManager.LogTo(_szLogName, "[%08x] Atomic CWD Failed, trying relative changes ...", Handle());
    std::string_view rest = _szCurrentDir;
    if (!rest.empty() && IsSeparator(rest[0])) {
        if (!SendCommand("CWD /\r\n", &code))
            return -2;
        if (code >= 400) {
            OnFtpError(code);
            return 2;
        }
        while (!rest.empty() && IsSeparator(rest[0]))
            rest.remove_prefix(1);
    }
    bool created = false;  // the level was made once already: a second refusal ends the walk
    while (!rest.empty()) {
        size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end]))
            ++end;
        std::string level(rest.substr(0, end));
        if (!SendCommand("CWD " + level + "\r\n", &code))
            return -3;
        if (code == 250) {
            rest.remove_prefix(end);
            while (!rest.empty() && IsSeparator(rest[0]))
                rest.remove_prefix(1);
            created = false;
            continue;
        }
        if (!create || created) {
            theLogManager.LogTo(_szLogName, "[%08x] *** Directory %s NOT FOUND", Handle(), level.c_str());
            OnFtpError(code);
            return 3;
        }
        if (!SendCommand("MKDIR " + level + "\r\n", &code))
            return -4;
        // Plain servers know only the standard word.
        if ((code == 500 || code == 502) && !SendCommand("MKD " + level + "\r\n", &code))
            return -4;
        if (code != 257) {
            theLogManager.LogTo(_szLogName, "[%08x] *** FAILED to create Directory %s", Handle(), level.c_str());
            OnFtpError(code);
            return 4;
        }
        created = true;
    }
    return 0;
}

namespace
{
// Splits "dir/name" after the last '/', with every '\' made a '/'.
bool SplitPath(std::string path, std::string* pDirectory, std::string* pName)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        pDirectory->clear();
        *pName = path;
        return false;
    }
    *pDirectory = path.substr(0, slash + 1);
    *pName = path.substr(slash + 1);
    return true;
}
}  // namespace

int CKorvoFtpClient::GetFileSize(const std::string& path, int64_t* pSize)
{
    if (!pSize)
        return 100;
    std::lock_guard lock(_lock);
    std::string directory, name;
    if (SplitPath(path, &directory, &name) && SetDirectory(directory, false) != 0)
        return 1;
    if (ServerFileSize(name, pSize))
        return 0;
    if (_nLastReplyCode == 0)
        return -1;
    OnFtpError(_nLastReplyCode);
    return 2;
}

bool CKorvoFtpClient::ServerFileSize(const std::string& name, int64_t* pSize)
{
    std::lock_guard lock(_lock);
    int code = 0;
    _nLastReplyCode = 0;
    if (!SendCommand("SIZE " + name + "\r\n", &code)) {
        _nLastReplyCode = 0;
        return false;
    }
    theLogManager.LogTo(_szLogName, "FSz Reply: %i - %s", code, _szLastReply.c_str());
    uint64_t size = 0;
    if (code != 213 || !ParseDecimal(std::string_view(_szLastReply).substr(4), INT64_MAX, &size))
        return false;
    *pSize = static_cast<int64_t>(size);
    theLogManager.LogTo(_szLogName, "[%08x] Get File Size returned %" PRId64, Handle(), *pSize);
    return true;
}

int64_t CKorvoFtpClient::GetFileSize(const std::string& path)
{
    int64_t size = -1;
    return GetFileSize(path, &size) == 0 ? size : -1;
}

int CKorvoFtpClient::DeleteFile(const std::string& path)
{
    std::lock_guard lock(_lock);
    std::string directory, name;
    if (SplitPath(path, &directory, &name) && SetDirectory(directory, false) != 0)
        return 1;
    int code = 0;
    if (!SendCommand("DELE " + name + "\r\n", &code))
        return -2;
    if (code == 250)
        return 0;
    if (code > 0)
        OnFtpError(code);
    return code == 550 ? -1 : -2;
}

bool CKorvoFtpClient::OnConnectError(int)
{
    return true;
}

int CKorvoFtpClient::OnFtpError(int)
{
    return 0;
}

int CKorvoFtpClient::OnFtpSocketError()
{
    theLogManager.LogTo(_szLogName, "CKorvoFtpClient::OnFtpSocketError().");
    if (_dataSocket.IsOpen())
        _dataSocket.Close();
    std::lock_guard lock(_lock);
    CloseSockets();
    return 0;
}

void CKorvoFtpClient::CloseSockets()
{
    std::lock_guard lock(_lock);
    _pCtrlSend.reset();
    _ctrlSocket.Close();
    _nReplyPending = 0;
}
