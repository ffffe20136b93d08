// The data side of CKorvoFtpClient: opening, reading, writing and ending transfers, with recovery.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <future>
#include <system_error>

#include "common/CLogManager.h"
#include "ftp/CKorvoFtpClient.h"
#include "platform/File.h"
#include "platform/PageBuffer.h"

namespace
{
bool IsWritingType(int type)
{
    return type == CKorvoFtpClient::kStore || type == CKorvoFtpClient::kAppend || type == CKorvoFtpClient::kStoreAt;
}

bool IsFtpAddress(const std::string& path)
{
    static const char kPrefix[] = "ftp://";
    if (path.size() < 6)
        return false;
    for (size_t i = 0; i < 6; ++i)
        if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i])
            return false;
    return true;
}

std::string Format(const char* fmt, int64_t value)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

// Only these replies say the server has the whole file.
bool IsTransferComplete(int code)
{
    return code == 226 || code == 250;
}

// Reopenings in a row that move no byte before recovery gives up.
constexpr int kMaxFruitlessReopens = 3;
}  // namespace

bool CKorvoFtpClient::ParsePassiveReply(const std::string& reply, uint32_t* pAddress, uint16_t* pPort)
{
    size_t open = reply.rfind('(');
    if (open == std::string::npos)
        return false;
    unsigned v[6] = {};
    const char* p = reply.c_str() + open + 1;
    for (int i = 0; i < 6; ++i) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned value = 0;
        while (*p >= '0' && *p <= '9' && value <= 255)
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
        // Every number is one byte of the address or the port.
        if (value > 255 || (i < 5 && *p++ != ','))
            return false;
        v[i] = value;
    }
    *pAddress = (v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
    *pPort = static_cast<uint16_t>(v[4] * 256 + v[5]);
    return true;
}

int CKorvoFtpClient::FtpOpenFile(int type, int64_t offset, int seekMode)
{
    // Not through the virtual table: a derived client reopening from its own thread must not end itself.
    if (_dataSocket.IsOpen())
        CKorvoFtpClient::FtpCloseFile(false);

    std::lock_guard lock(_lock);
    if (!_ctrlSocket.IsValid() || Noop() < 0) {
        if (Connect() != 0)
            return -1;
        if (!_szCurrentDir.empty()) {
            int result = SetDirectory(_szCurrentDir, false);
            if (result != 0)
                return result;
        }
    }

    const bool passive = IsFtpPassive();
    platform::Socket listener;
    std::string command = "PASV\r\n";
    if (!passive) {
        if (!listener.Listen("", 0, 1))
            return 1;
        uint32_t address = _ctrlSocket.LocalAddress();
        uint16_t port = listener.LocalPort();
        char text[64];
        std::snprintf(text, sizeof text, "%u,%u,%u,%u,%u,%u", address >> 24, (address >> 16) & 0xFF,
                      (address >> 8) & 0xFF, address & 0xFF, port >> 8, port & 0xFF);
        command = std::string("PORT ") + text + "\r\n";
    }

    _nReplyPending = 0;
    if (SendCtrl(command) != 0)
        return -2;
    int code = 0;
    if (GetMsgReply(&code) != 0)
        return -3;
    if (code >= 400) {
        OnFtpError(code);
        return code == 425 ? 9 : 3;
    }

    platform::Socket data;
    if (passive) {
        uint32_t address = 0;
        uint16_t port = 0;
        if (!ParsePassiveReply(_szLastReply, &address, &port)) {
            theLogManager.LogTo(_szLogName, "[%08x] *** Bad passive reply [%s]", Handle(), _szLastReply.c_str());
            return 4;
        }
        // The data connection goes where the control connection goes: a reply naming another host would
        // turn the client against a third party.
        const uint32_t peer = _ctrlSocket.PeerAddress();
        if (address != peer)
            theLogManager.LogTo(_szLogName, "[%08x] Passive reply names %s, connecting to the server's %s", Handle(),
                                platform::FormatIPv4(address).c_str(), platform::FormatIPv4(peer).c_str());
        address = peer;
        theLogManager.LogTo(_szLogName, "[%08x] Pasively connecting to %s:%hu", Handle(),
                            platform::FormatIPv4(address).c_str(), port);
        if (!data.Connect(address, port, _timeouts.nControlMs)) {
            theLogManager.LogTo(_szLogName, "[%08x] *** FAILED to connect DATA socket ! [0x%08x]", Handle(),
                                static_cast<unsigned>(data.LastError()));
            return 4;
        }
    }

    _nTransferPos = 0;
    std::string position;
    const char* positionFormat = seekMode == kSiteSeek ? "SITE SEEK %" PRId64 "\r\n" : "REST %" PRId64 "\r\n";
    if (type == kStoreAt || offset > 0 || (offset < 0 && seekMode == kSiteSeek))
        position = Format(positionFormat, offset);
    if (!position.empty()) {
        if (SendCtrl(position) != 0)
            return -7;
        if (GetMsgReply(&code) != 0)
            return -8;
        // A refused start position would move every byte of the transfer.
        if (code >= 400 && offset != 0) {
            theLogManager.LogTo(_szLogName, "[%08x] *** Start position %" PRId64 " REFUSED [%s]", Handle(), offset,
                                _szLastReply.c_str());
            OnFtpError(code);
            return 8;
        }
        _nTransferPos = offset;
    }

    switch (type) {
        case kStore:
        case kStoreAt:
            command = "STOR " + _szFileName + "\r\n";
            break;
        case kRetrieve:
            command = "RETR " + _szFileName + "\r\n";
            break;
        case kAppend:
            command = "APPE " + _szFileName + "\r\n";
            break;
        default:
            command = "LIST\r\n";
            break;
    }
    if (SendCtrl(command) != 0)
        return -4;
    if (GetMsgReply(&code) != 0)
        return -5;
    if (code >= 400) {
        theLogManager.LogTo(_szLogName, "[%08x] *** FtpOpenFile FAILED [error %i - %s]", Handle(), code,
                            _szLastReply.c_str());
        OnFtpError(code);
        return 5;
    }

    if (!passive) {
        // The listener's backlog holds the server's connection until it is taken here.
        data = listener.Accept(_timeouts.nAcceptMs);
        if (!data.IsValid()) {
            theLogManager.LogTo(_szLogName, "[%08x] *** Active connection NOT ESTABLISHED !?!?", Handle());
            return 7;
        }
    }
    int handle = data.Fd();
    if (!_dataSocket.Attach(std::move(data), _timeouts.nDataMs, IsWritingType(type), _timeouts.nDataSendMs)) {
        theLogManager.LogTo(_szLogName, "[%08x] Data Connection [%08x] FAILED !", Handle(), handle);
        return 7;
    }
    theLogManager.LogTo(_szLogName, "[%08x] Data Connection [%08x] established !", Handle(), handle);
    _nTransferType = type;
    return 0;
}

int CKorvoFtpClient::FtpCloseFile(bool abort)
{
    std::lock_guard lock(_lock);
    const bool aborting = abort;
    bool wait = true;
    int result = 0;
    // The rule after a reply read at close: a transfer that ended needs no abort and no end message.
    auto afterReply = [&](int code) {
        result = code;
        if (code == 426 || code == 221)
            OnFtpError(code);
        if (code == 226 || code == 426) {
            abort = false;
            wait = false;
        } else {
            wait = code >= 1;
        }
    };
    if (IsReplyPending()) {
        int code = 0;
        if (GetMsgReply(&code) != 0) {
            theLogManager.LogTo(_szLogName,
                                "[%08x] *** KorvoFtpClient::FtpCloseFile() - FAILED to get pending control reply !!!",
                                Handle());
            abort = false;
            wait = false;
        } else {
            afterReply(code);
        }
    }
    if (_dataSocket.IsOpen()) {
        if (abort && _ctrlSocket.IsValid()) {
            int code = 0;
            if (SendCommand("ABOR\r\n", &code))
                afterReply(code);
            else
                theLogManager.LogTo(_szLogName, "[%08x] *** KorvoFtpClient::FtpCloseFile() - ABORT FAILED !!!",
                                    Handle());
        }
        _dataSocket.Close();
        if (wait && _ctrlSocket.IsValid()) {
            theLogManager.LogTo(_szLogName, "[%08x] Waiting Transfer End message ...", Handle());
            int code = 0;
            if (GetMsgReply(&code) == 0) {
                result = code;
                theLogManager.LogTo(_szLogName, "[%08x] ... RECEIVED !", Handle());
            } else {
                theLogManager.LogTo(_szLogName, "[%08x] ... FAILED !", Handle());
            }
        }
    }
    const bool writing = IsWritingType(_nTransferType);
    _nTransferType = 0;
    if (writing && !aborting && IsTransferComplete(result) && _ctrlSocket.IsValid()) {
        // A server that saw its data connection end reports success for whatever reached it.
        int64_t held = 0;
        if (ServerFileSize(_szFileName, &held) && held < _nTransferPos) {
            theLogManager.LogTo(_szLogName,
                                "[%08x] *** Server holds %" PRId64 " of %" PRId64 " Bytes - file INCOMPLETE !!",
                                Handle(), held, _nTransferPos);
            result = -1;
        }
    } else if (writing && !aborting && !IsTransferComplete(result)) {
        theLogManager.LogTo(_szLogName, "[%08x] *** Upload ended without the server's confirmation [%i] !!", Handle(),
                            result);
        if (result <= 0)
            result = -1;
    }
    if (_ctrlSocket.IsValid())
        Noop();
    return result;
}

int CKorvoFtpClient::ReopenForWrite(uint32_t length, int64_t* pHeld)
{
    const int64_t start = _nTransferPos;
    {
        std::lock_guard lock(_lock);
        if (!_ctrlSocket.IsValid() || Noop() < 0) {
            if (Connect() != 0)
                return -1;
            // A new session starts in the login folder: the file goes on where it was begun.
            if (!_szCurrentDir.empty() && ChangeDir(false) != 0) {
                theLogManager.LogTo(_szLogName, "[%08x] *** Upload folder %s NOT RESTORED !!", Handle(),
                                    _szCurrentDir.c_str());
                return -2;
            }
        }
    }
    // Bytes the socket took before the break may never have reached the server: only its size tells.
    int64_t held = 0;
    if (!ServerFileSize(_szFileName, &held)) {
        theLogManager.LogTo(_szLogName, "[%08x] *** No size of %s - upload NOT RESUMED !!", Handle(),
                            _szFileName.c_str());
        return -2;
    }
    if (held < start || held - start > static_cast<int64_t>(length)) {
        theLogManager.LogTo(_szLogName,
                            "[%08x] *** Server holds %" PRId64 " Bytes, the data kept covers %" PRId64 " to %" PRId64
                            " - CANNOT RESUME !!",
                            Handle(), held, start, start + static_cast<int64_t>(length));
        return -2;
    }
    theLogManager.LogTo(_szLogName, "[%08x] Resuming upload at %" PRId64 " [%s]", Handle(), held,
                        _bRestSupported ? "REST" : "APPE");
    // Where the server cannot restart, it appends at its end, which is where its size says.
    int result = _bRestSupported ? FtpOpenFile(kStore, held, 1) : FtpOpenFile(kAppend, 0, 1);
    _nTransferPos = start;
    if (result != 0)
        return -2;
    *pHeld = held;
    return 0;
}

int CKorvoFtpClient::FtpWriteFile(const void* data, uint32_t length)
{
    if (!data)
        return 2;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    int lastError = 0;
    int fruitless = 0;
    int64_t lastHeld = -1;
    while (done < length) {
        if (!_dataSocket.IsOpen()) {
            if (!IsFtpRecovery()) {
                theLogManager.LogTo(_szLogName, "[%08x] CKorvoFtpClient::FtpWriteFile - Ftp Recovery DISABLED !",
                                    Handle());
                return lastError != 0 ? lastError : -1;
            }
            int64_t held = 0;
            int result = ReopenForWrite(length, &held);
            if (result != 0)
                return result;
            fruitless = held > lastHeld ? 0 : fruitless + 1;
            if (fruitless > kMaxFruitlessReopens) {
                theLogManager.LogTo(_szLogName, "[%08x] *** Upload makes no progress at %" PRId64 " - GIVING UP !!",
                                    Handle(), held);
                return -2;
            }
            lastHeld = held;
            done = static_cast<uint32_t>(held - _nTransferPos);
            if (done == length)
                break;
        }
        int64_t count = 0;
        int error = _dataSocket.Write(bytes + done, length - done, &count);
        if (error != 0) {
            lastError = error;
            continue;
        }
        done += static_cast<uint32_t>(count);
    }
    _nTransferPos += length;
    return 0;
}

int CKorvoFtpClient::FtpReadFile(void* buffer, uint32_t length, int64_t* pCount, bool recover)
{
    if (!buffer)
        return 2;
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const int64_t start = _nTransferPos;
    uint32_t done = 0;
    uint32_t doneAtReopen = 0;
    int fruitless = 0;
    int lastError = 0;
    while (done < length) {
        if (!_dataSocket.IsOpen()) {
            if (!IsFtpRecovery() || !recover) {
                theLogManager.LogTo(_szLogName, "[%08x] CKorvoFtpClient::FtpReadFile - Ftp Recovery DISABLED !",
                                    Handle());
                return lastError != 0 ? lastError : -1;
            }
            fruitless = done > doneAtReopen ? 0 : fruitless + 1;
            doneAtReopen = done;
            if (fruitless > kMaxFruitlessReopens) {
                theLogManager.LogTo(_szLogName, "[%08x] *** Download makes no progress at %" PRId64 " - GIVING UP !!",
                                    Handle(), start + done);
                return lastError != 0 ? lastError : -2;
            }
            {
                std::lock_guard lock(_lock);
                if ((!_ctrlSocket.IsValid() || Noop() < 0) && Connect() != 0)
                    return -1;
            }
            ChangeDir(false);
            // Every byte received so far is good: go on after it.
            int result = FtpOpenFile(kRetrieve, start + done, 1);
            _nTransferPos = start;
            if (result != 0)
                return -2;
        }
        int64_t count = 0;
        int error = _dataSocket.Read(bytes + done, length - done, &count);
        if (error != 0) {
            lastError = error;
            continue;
        }
        if (count == 0) {
            theLogManager.LogTo(_szLogName, "[%08x] KorvoFtpClient - recv returned 0 Bytes -> Connection closed ?",
                                Handle());
            // A data connection also ends when the server's session dies or gives up: only its reply
            // says that the file is complete.
            int end = FtpCloseFile(false);
            if (IsTransferComplete(end))
                break;
            theLogManager.LogTo(_szLogName,
                                "[%08x] *** Data connection ended at %" PRId64 " without the end of transfer [%i] !!",
                                Handle(), start + done, end);
            lastError = end > 0 ? end : -1;
            continue;
        }
        done += static_cast<uint32_t>(count);
    }
    _nTransferPos = start + done;
    if (pCount)
        *pCount = done;
    return 0;
}

int CKorvoFtpClient::OpenFile(const std::string& pathOrAddress, int type, int64_t offset, int seekMode)
{
    std::string path = pathOrAddress;
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (IsFtpAddress(path)) {
        path.erase(0, 6);
        size_t slash = path.find('/');
        std::string servers = path.substr(0, slash);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
        int result = AddFtpServer(servers, true);
        if (result != 0)
            return result;
    }
    std::string name = path;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        int result = SetDirectory(path.substr(0, slash + 1), type != kRetrieve);
        if (result != 0)
            return result;
        name = path.substr(slash + 1);
    }
    if (name.empty())
        return 0;
    _szFileName = name;
    theLogManager.LogTo(_szLogName, "[%08x] Opening file [ %s ] [ %s ]", Handle(), _szCurrentDir.c_str(), name.c_str());
    return FtpOpenFile(type, offset, seekMode);
}

int CKorvoFtpClient::UploadFile(const std::string& source, const std::string& target, uint32_t blockSize)
{
    if (blockSize == 0)
        return -10;
    platform::File file;
    if (!file.Open(source, platform::File::Access::Read, platform::File::Disposition::OpenExisting)) {
        theLogManager.LogTo(_szLogName, "[%08x] *** Cannot read %s [%s]", Handle(), source.c_str(),
                            platform::ErrorText(file.LastError()).c_str());
        return -10;
    }
    // Two buffers: one is written while the other is read; the reading task ends before they go.
    platform::PageBuffer buffers[2] = {platform::MakePageBuffer(blockSize), platform::MakePageBuffer(blockSize)};
    if (!buffers[0] || !buffers[1])
        return -10;
    int result = OpenFile(target, kStore, 0, 0);
    if (result != 0)
        return result;
    auto readAt = [&file, blockSize](uint8_t* memory, uint64_t offset) {
        return file.ReadAt(memory, blockSize, offset);
    };
    auto startRead = [&readAt](uint8_t* memory, uint64_t offset) {
        try {
            return std::async(std::launch::async, readAt, memory, offset);
        } catch (const std::system_error&) {
            // No thread to be had: the block is read when it is needed.
            return std::async(std::launch::deferred, readAt, memory, offset);
        }
    };
    uint64_t offset = 0;
    std::future<int64_t> next = startRead(buffers[0].get(), offset);
    for (size_t current = 0;; current ^= 1) {
        const int64_t count = next.get();
        if (count < 0) {
            theLogManager.LogTo(_szLogName, "[%08x] *** Reading %s FAILED at %" PRIu64 " [%s]", Handle(),
                                source.c_str(), offset, platform::ErrorText(file.LastError()).c_str());
            FtpCloseFile(true);
            return -10;
        }
        if (count == 0)
            break;
        offset += static_cast<uint64_t>(count);
        // The file ends where a read gives nothing, not where one falls short.
        next = startRead(buffers[current ^ 1].get(), offset);
        // 2 from a queueing client asks the caller to slow down; the data is taken all the same.
        result = FtpWriteFile(buffers[current].get(), static_cast<uint32_t>(count));
        if (result != 0 && result != 2) {
            next.wait();
            FtpCloseFile(true);
            return result;
        }
        // A queueing client keeps at most the block just given: its buffers are then reused, not made anew.
        WaitForBacklog(static_cast<uint64_t>(count));
    }
    result = FtpCloseFile(false);
    return IsTransferComplete(result) ? 0 : (result != 0 ? result : -1);
}
