#include "rixclient/CRixFtpClient.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/CLogManager.h"
#include "platform/Clock.h"

namespace
{
constexpr int kMaxGnfnTries = 150;
constexpr uint32_t kMinWritePiece = 0x8000;
constexpr uint32_t kMaxWritePiece = 0x800000;
constexpr uint32_t kMaxBlockSizeMb = 1024;  // keeps the size in bytes within 32 bits
constexpr uint32_t kKeepAliveSliceMs = 20;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal number at the front of the text; false when there is no digit. Bounded to 9 digits.
bool LeadingNumber(const std::string& text, size_t at, uint32_t* pValue)
{
    uint32_t value = 0;
    size_t i = at;
    for (; i < text.size() && IsDigit(text[i]) && i - at < 9; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    *pValue = value;
    return i > at;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}
}  // namespace

CRixFtpClient::CRixFtpClient(const std::string& logName) : CKorvoFtpClient(logName) {}

CRixFtpClient::~CRixFtpClient()
{
    CloseRpcConnection();
    StopKeepAlive();
}

bool CRixFtpClient::OnConnectError(int code)
{
    // No welcome: this is not a video server; the others in the list would not answer either.
    return code != 5;
}

void CRixFtpClient::OnWelcomeMsg()
{
    const std::string& reply = GetLastReply();
    if (reply.find("220 Korvo FTP Server") == std::string::npos)
        return;
    size_t at = reply.find("B: ");
    uint32_t megabytes = 0;
    if (at == std::string::npos || !LeadingNumber(reply, at + 3, &megabytes))
        return;
    if (megabytes == 0 || megabytes > kMaxBlockSizeMb) {
        theLogManager.LogTo(_szLogName, "*** CRixFtpClient::OnWelcomeMsg() - block size %u MB refused", megabytes);
        return;
    }
    _nServerBlockSize = megabytes << 20;
}

int CRixFtpClient::OnFtpSocketError()
{
    theLogManager.LogTo(_szLogName, "CRixFtpClient::OnFtpSocketError() closing RPC connection.");
    return CKorvoFtpClient::OnFtpSocketError();
}

void CRixFtpClient::CloseSockets()
{
    CloseRpcConnection();
    CKorvoFtpClient::CloseSockets();
}

int CRixFtpClient::SetClipUrl(const std::string& address, bool connect)
{
    _nWritePiece = -1;
    std::string rest = address;
    if (rest.rfind("ftp://", 0) == 0) {
        _servers.clear();
        _nLastServer = 0;
        rest.erase(0, 6);
        size_t separator = rest.find_first_of("/\\");
        _szServerName = rest.substr(0, separator);
        rest = separator == std::string::npos ? std::string() : rest.substr(separator + 1);
        AddFtpServer(_szServerName, false);
    }
    size_t last = rest.find_last_of("/\\");
    if (last != std::string::npos) {
        _szClipDirectory = "/" + rest.substr(0, last + 1);
        rest.erase(0, last + 1);
    }
    _szClipName = rest;
    return connect ? Connect() : 0;
}

bool CRixFtpClient::GetClipUrl(std::string* pUrl, bool check)
{
    bool resolved = true;
    if (check || !IsClipNameResolved())
        resolved = ResolveClipLocation(check);
    if (pUrl)
        *pUrl = "ftp://" + _szServerName + _szClipDirectory + _szClipName;
    return resolved;
}

bool CRixFtpClient::IsClipNameResolved() const
{
    size_t end = _szClipName.find_first_of("_.");
    if (end == std::string::npos)
        return false;
    return _szClipName.find_first_of("?[") > end;
}

bool CRixFtpClient::ResolveClipLocation(bool check)
{
    if (SetDirectory(_szClipDirectory, false) != 0)
        return false;

    std::string head = _szClipName.substr(0, _szClipName.find_first_of("_."));
    std::vector<uint32_t> pages;
    if (!head.empty() && head[0] == '[') {
        size_t close = head.find(']');
        if (close == std::string::npos)
            close = head.size();
        for (size_t i = 1; i < close; ++i) {
            if (!IsDigit(head[i])) {
                theLogManager.LogTo(_szLogName, "*** Bad page list in clip name [%s]", _szClipName.c_str());
                return false;
            }
            pages.push_back(static_cast<uint32_t>(head[i] - '0'));
        }
        head.erase(0, close < head.size() ? close + 1 : close);
    } else {
        size_t digits = 0;
        while (digits < head.size() && IsDigit(head[digits]))
            ++digits;
        head.erase(0, digits);
    }

    bool checkMode = false;
    bool lettersGiven = true;
    std::string letters;
    if (!head.empty() && head[0] == '[') {
        size_t close = head.find(']');
        letters = head.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else if (!head.empty() && head[0] == '?') {
        lettersGiven = false;
    } else {
        if (pages.empty() && !check)
            return true;
        checkMode = pages.empty();
        if (head.empty()) {
            theLogManager.LogTo(_szLogName, "*** No camera letter in clip name [%s]", _szClipName.c_str());
            return false;
        }
        letters.assign(1, static_cast<char>(std::toupper(static_cast<unsigned char>(head[0]))));
    }
    const char* mode = checkMode ? "Check" : "Get";

    size_t underscore = _szClipName.find('_');
    if (underscore == std::string::npos) {
        theLogManager.LogTo(_szLogName, "*** Clip name [%s] has no '_'", _szClipName.c_str());
        return false;
    }
    const std::string tail = _szClipName.substr(underscore);

    char camera = 'A';
    std::string mask = lettersGiven ? letters : (pages.empty() ? std::string("ABCDEF") : std::string(1, camera));
    int code = 0;
    if (!SendCommand("SITE CMSK " + mask + "\r\n", &code))
        return false;
    const bool maskRefused = code != 200;
    uint32_t start = 0;
    if (!pages.empty())
        start = pages[0] * 100 + 10;
    else
        LeadingNumber(_szClipName, 0, &start);
    if (maskRefused)
        pages.clear();

    size_t page = 0;
    uint32_t location = start;
    for (int attempt = 0; attempt < kMaxGnfnTries; ++attempt) {
        if (location % 100 < 10)
            location = location / 100 * 100 + 10;
        if (location > 999)
            location = 110;
        std::string reply;
        if (!SendCommand(Format("SITE GNFN %06u?", location) + tail + "\r\n", &code, &reply))
            return false;
        if (code == 200) {
            uint32_t got = 0;
            if (reply.size() < 5 || !LeadingNumber(reply, 4, &got)) {
                theLogManager.LogTo(_szLogName, "*** FAILED to %s Location - SITE GNFN returned %s", mode,
                                    reply.c_str());
                return false;
            }
            if (checkMode && got != location) {
                theLogManager.LogTo("default", "--- Resolved GNFN [%li] returned different location [%li]",
                                    static_cast<long>(location), static_cast<long>(got));
                return false;
            }
            _szClipName = reply.substr(4);
            return true;
        }
        if (code != 451 || checkMode) {
            theLogManager.LogTo(_szLogName, "*** FAILED to %s Location - SITE GNFN returned %s", mode, reply.c_str());
            return false;
        }
        theLogManager.LogTo(_szLogName, "--- SITE GNFN returned %s", reply.c_str());
        // The proposal follows the last separator of the quoted path, or the quote itself.
        std::string name = reply;
        size_t separator = name.find_last_of("/\\");
        if (separator != std::string::npos)
            name.erase(0, separator + 1);
        else if (size_t quote = name.find('\''); quote != std::string::npos)
            name.erase(0, quote + 1);
        name = name.substr(0, name.find('\''));
        uint32_t proposed = 0;
        if (!LeadingNumber(name, 0, &proposed)) {
            theLogManager.LogTo(_szLogName, "*** FAILED to %s Location - SITE GNFN returned %s", mode, reply.c_str());
            return false;
        }
        _szClipName = name;
        if (proposed == location) {
            theLogManager.LogTo(_szLogName, "*** Clip Location UNCHANGED -> INVALID Clip ID ??");
            return false;
        }
        if (!pages.empty()) {
            if (proposed / 100 == location / 100) {
                location = proposed;
                continue;
            }
            if (++page >= pages.size()) {
                if (maskRefused || lettersGiven || camera >= 'F')
                    return false;
                ++camera;
                if (!SendCommand(Format("SITE CMSK %c\r\n", camera), &code))
                    return false;
                page = 0;
            }
            location = pages[page] * 100 + 10;
        } else {
            const uint32_t tried = location;
            location = proposed;
            if (tried < start && proposed >= start) {
                theLogManager.LogTo(_szLogName, "*** ALL CLIP LOCATIONS TESTED -> Rix FULL !?!?");
                return false;
            }
        }
    }
    return false;
}

int CRixFtpClient::FtpCloseFile(bool abort)
{
    int result = CKorvoFtpClient::FtpCloseFile(abort);
    if (result != 0)
        _nTransferEnd = result;
    return result;
}

int CRixFtpClient::OpenClip(int type, int64_t offset, int seekMode)
{
    _nTransferEnd = 0;
    if (type == kStore && !IsClipNameResolved())
        ResolveClipLocation(false);
    _nBytesMoved = 0;
    _nWritePiece = -1;
    _nReadPiece = -1;
    int result = SetDirectory(_szClipDirectory, false);
    if (result != 0)
        return result;
    return OpenFile(_szClipName, type, offset, seekMode);
}

int CRixFtpClient::OpenClip(int type, int64_t offset, int, int seekMode)
{
    return OpenClip(type, offset, seekMode);
}

int CRixFtpClient::OpenClipXml(int type)
{
    std::string name = _szClipName.substr(0, _szClipName.rfind('.')) + ".XML";
    int result = SetDirectory(_szClipDirectory, false);
    if (result != 0)
        return result;
    _nWritePiece = -1;
    _nReadPiece = -1;
    return OpenFile(name, type, 0, 1);
}

int CRixFtpClient::CloseClip(bool abort)
{
    StopKeepAlive();
    if (abort)
        SetReplyWait(_rixTimeouts.nAbortReceiveMs);
    int result = FtpCloseFile(abort);
    if (abort)
        SetReplyWait(0);
    _bPacing = false;
    return result;
}

int CRixFtpClient::DeleteClip()
{
    int result = SetDirectory(_szClipDirectory, false);
    if (result != 0)
        return result;
    return DeleteFile(_szClipName);
}

bool CRixFtpClient::TryConnect(int* pCode)
{
    int result = Connect();
    if (pCode)
        *pCode = result;
    return result == 0;
}

int CRixFtpClient::SetDirectoryNoCreate(const char* path)
{
    if (!path)
        return -1;
    return SetDirectory(path, false);
}

int CRixFtpClient::ReadData(void* buffer, uint32_t length, uint32_t* pCount, uint32_t bytesPerSecond)
{
    if (pCount)
        *pCount = 0;
    if (!buffer)
        return 2;
    if (_nReadPiece < 0) {
        int size = _dataSocket.ReceiveBufferSize();
        _nReadPiece = size < 0 ? static_cast<int32_t>(std::min<uint32_t>(length, INT32_MAX)) : size;
        if (_nReadPiece <= 0)
            _nReadPiece = 8192;
    }
    if (bytesPerSecond != 0) {
        if (!_bPacing) {
            _bPacing = true;
            _dPacingDue = platform::PerfSeconds();
        } else {
            double wait = _dPacingDue - platform::PerfSeconds();
            if (wait * 1000 > _rixTimeouts.nPacingWaitMs)
                _bPacing = false;
            else if (wait > 0)
                platform::SleepMs(static_cast<uint32_t>(wait * 1000));
        }
    }

    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    int result = 0;
    while (done < length) {
        uint32_t piece = std::min<uint32_t>(length - done, static_cast<uint32_t>(_nReadPiece));
        int64_t count = 0;
        // No recovery below: a clip read by field position cannot be restarted by byte offset.
        result = FtpReadFile(bytes + done, piece, &count, false);
        if (result != 0)
            break;
        done += static_cast<uint32_t>(count);
        if (count < piece)
            break;
    }
    if (pCount)
        *pCount = done;
    _nBytesMoved += done;
    if (bytesPerSecond != 0 && _bPacing)
        _dPacingDue = platform::PerfSeconds() + static_cast<double>(done) / bytesPerSecond;
    return result;
}

int CRixFtpClient::WriteData(const void* data, uint32_t length, uint32_t* pCount)
{
    if (pCount)
        *pCount = 0;
    if (!IsDataOpen())
        return -1;
    if (_nWritePiece < 0) {
        int size = _dataSocket.SendBufferSize();
        uint32_t piece = size < 0 ? kMaxWritePiece : std::clamp<uint32_t>(size, kMinWritePiece, kMaxWritePiece);
        _nWritePiece = static_cast<int32_t>(piece);
        theLogManager.LogTo(_szLogName, "--- Using %li Bytes transfer buffer [0x%08x]", static_cast<long>(piece),
                            piece);
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    int result = 0;
    while (done < length) {
        uint32_t piece = std::min<uint32_t>(length - done, static_cast<uint32_t>(_nWritePiece));
        result = FtpWriteFile(bytes + done, piece);
        if (result != 0)
            break;
        done += piece;
    }
    if (pCount)
        *pCount = done;
    _nBytesMoved += done;
    return result;
}

void CRixFtpClient::StartKeepAlive()
{
    if (_keepAliveThread.joinable())
        return;
    if (!_pKeepAliveStop)
        _pKeepAliveStop = std::make_unique<platform::Event>(false, false);
    _pKeepAliveStop->Reset();
    _keepAliveEnded.Reset();
    _bKeepAliveCut = false;
    _szKeepAliveCommand = "STAT " + _szClipName + "\r\n";
    _keepAliveThread = std::thread([this] { KeepRixClipAliveThread(); });
}

void CRixFtpClient::StopKeepAlive()
{
    if (!_keepAliveThread.joinable())
        return;
    _pKeepAliveStop->Set();
    if (_keepAliveEnded.Wait(_rixTimeouts.nKeepAliveStopMs) != platform::kWaitObject0) {
        theLogManager.LogTo(_szLogName, "RixFtpClient::KeepAlive Thread LOCKED ! -> Terminating ...");
        // It waits for a reply: it gives up the exchange and the control connection with it.
        _bKeepAliveCut = true;
    }
    _keepAliveThread.join();
}

void CRixFtpClient::KeepRixClipAliveThread()
{
    try {
        KeepClipAlive();
    } catch (const std::exception& e) {
        theLogManager.LogTo(_szLogName, "ERROR\t CRixFtpClient::KeepRixClipAliveThread failed - Error 0x%08X : %s\r\n",
                            0u, e.what());
    }
    _keepAliveEnded.Set();
}

int CRixFtpClient::KeepClipAlive()
{
    for (;;) {
        if (_pKeepAliveStop->Wait(_rixTimeouts.nKeepAliveMs) != platform::kWaitTimeout)
            return 0;
        std::lock_guard lock(_lock);
        if (SendCtrl(_szKeepAliveCommand) != 0)
            return 0;
        // The reply is awaited in slices, so that a stop can cut a wait that lasts.
        const uint32_t started = platform::TickCount();
        while (_nReplyPending == 0 && Replies().WaitReadable(kKeepAliveSliceMs) == 0 &&
               platform::TickCount() - started < _timeouts.nControlMs) {
            if (_bKeepAliveCut) {
                theLogManager.LogTo(_szLogName, "*** KeepAlive: no reply to STAT, closing the control connection");
                CloseSockets();
                return 0;
            }
        }
        int code = 0;
        if (GetMsgReply(&code) != 0)
            return 0;
        // The transfer ended: the data still in the connection belongs to the reader.
        if (code == 226 || code == 426)
            return 0;
    }
}
