#include "writers/formatdata/CKorvoFormatFTPWriter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace
{
// The clients with the one thing the writer needs beyond their public face: the data socket's send buffer.
template <typename Base>
class WriterClient : public Base
{
public:
    template <typename... Args>
    explicit WriterClient(Args&&... args) : Base(std::forward<Args>(args)...)
    {
    }
    int SendBufferSize() { return this->_dataSocket.SendBufferSize(); }
};

int SendBufferSizeOf(CKorvoFtpClient& client)
{
    if (auto* plain = dynamic_cast<WriterClient<CKorvoFtpClient>*>(&client))
        return plain->SendBufferSize();
    if (auto* queued = dynamic_cast<WriterClient<AsyncFTP>*>(&client))
        return queued->SendBufferSize();
    return -1;
}
}  // namespace

CKorvoFormatFTPWriter::CKorvoFormatFTPWriter(uint32_t minTransfer, uint32_t maxTransfer)
    : CKorvoFormatFTPWriter(minTransfer, maxTransfer, std::make_unique<WriterClient<CKorvoFtpClient>>(""))
{
}

CKorvoFormatFTPWriter::CKorvoFormatFTPWriter(uint32_t minTransfer, uint32_t maxTransfer,
                                             std::unique_ptr<CKorvoFtpClient> client)
    : CKorvoFormatDataWriter(minTransfer, maxTransfer), _client(std::move(client))
{
    _szPrefix = "FTPWriter: ";
}

CKorvoFormatFTPWriter::~CKorvoFormatFTPWriter()
{
    if (_client)
        _client->Close(true, false);
}

void CKorvoFormatFTPWriter::OnConnectionNotice(int code)
{
    static const char* const texts[] = {"Data Connection Ok", "Data Connection LOST !", "Data Connection FAILURE !",
                                        "Control Connection FAILURE !"};
    const char* text = code >= 0 && code < 4 ? texts[code] : "Unknown FTP error";
    Logf(code == 0 ? kProgress : kWarning, code, "KorvoFormatFTPWriter::Connection - %s", text);
}

int CKorvoFormatFTPWriter::OpenUrl(const std::string& url)
{
    CloseTransfer();
    _dwChunk = 0;
    const bool address = url.compare(0, 6, "ftp://") == 0 || url.compare(0, 6, "FTP://") == 0;
    if (!address && _client->GetServerList().empty())
        return -1;
    std::string path = url;
    if (address) {
        // The client takes the servers from the address and the folder and name from the rest.
        path = "ftp://" + url.substr(6);
    }
    int result = _client->OpenFile(path, CKorvoFtpClient::kStore, 0, 0);
    if (result != 0) {
        OnConnectionNotice(2);
        return result;
    }
    if (!_client->IsDataOpen())
        return -1;  // no file name in the path
    OnConnectionNotice(0);
    return 0;
}

int CKorvoFormatFTPWriter::Open(const char* path)
{
    if (!path)
        return -1;
    std::string url = path;
    std::replace(url.begin(), url.end(), '\\', '/');
    return OpenUrl(url);
}

int CKorvoFormatFTPWriter::CloseTransfer()
{
    if (!_client->IsDataOpen())
        return 0;
    // The server's reply to the transfer: 2xx when it holds the whole file.
    const int code = _client->FtpCloseFile(false);
    return code == 0 || (code >= 200 && code < 300) ? 0 : code;
}

int CKorvoFormatFTPWriter::Close()
{
    int result = CloseTransfer();
    _client->Close(true, false);
    if (result != 0)
        Log(kError, "Close - the transfer did not end cleanly", result);
    return result;
}

int CKorvoFormatFTPWriter::WriteData(const void* data, uint32_t length, uint32_t* written)
{
    if (written)
        *written = 0;
    if (_dwChunk == 0) {
        int socketSize = SendBufferSizeOf(*_client);
        if (socketSize <= 0)
            _dwChunk = _dwMaxTransfer;
        else if (static_cast<uint32_t>(socketSize) > _dwMinTransfer)
            _dwChunk = std::min(static_cast<uint32_t>(socketSize), _dwMaxTransfer);
        else
            _dwChunk = _dwMinTransfer;
        if (_dwChunk == 0)
            _dwChunk = 0x10000;
        Logf(kProgress, 0, "--- Using %li Bytes transfer buffer [0x%08x]", static_cast<long>(_dwChunk), _dwChunk);
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < length) {
        uint32_t n = std::min(_dwChunk, length - done);
        int result = _client->FtpWriteFile(bytes + done, n);
        if (result != 0) {
            Logf(kError, result, "CKorvoFormatFTPWriter::WriteData Error [%i]", result);
            if (written)
                *written = done;
            return result;
        }
        done += n;
    }
    if (written)
        *written = done;
    return 0;
}

int CKorvoFormatFTPWriter::SeekPos(uint32_t low, uint32_t high)
{
    const int64_t position = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    int result = CloseTransfer();
    if (result != 0)
        return result;
    result = _client->FtpOpenFile(CKorvoFtpClient::kStoreAt, position, 0);
    if (result != 0)
        Log(kError, "FAILED to reopen the file at the position", result);
    return result;
}

CKorvoFormatAsynchronousFTPWriter::CKorvoFormatAsynchronousFTPWriter(uint32_t minTransfer, uint32_t maxTransfer)
    : CKorvoFormatFTPWriter(minTransfer, maxTransfer, std::make_unique<WriterClient<AsyncFTP>>())
{
    _szPrefix = "AsyncFTPWriter: ";
}

void CKorvoFormatAsynchronousFTPWriter::LogUsage(int level, const char* format)
{
    uint64_t queued = 0;
    uint32_t limit = 0;
    Queue().GetBufferUsage(&queued, &limit);
    Logf(level, 0, format, static_cast<long>(queued), static_cast<long>(limit));
}

int CKorvoFormatAsynchronousFTPWriter::Open(const char* path)
{
    if (!path || std::char_traits<char>::length(path) < 6)
        return -1;
    std::string url = std::string("ftp://") + (path + 6);
    std::replace(url.begin(), url.end(), '\\', '/');
    return OpenUrl(url);
}

int CKorvoFormatAsynchronousFTPWriter::WriteData(const void* data, uint32_t length, uint32_t* written)
{
    if (written)
        *written = 0;
    int result = _client->FtpWriteFile(data, length);
    switch (result) {
        case 0:
            LogUsage(kProgress, "Buffer usage: %li / %li");
            break;
        case 1:
            Log(kError, "CKorvoFormatAsynchronousFTPWriter::WriteData Memory Allocation Error", result);
            return result;
        case 2:
            // Queued all the same: the caller is only told to slow down.
            Log(kWarning, "CKorvoFormatAsynchronousFTPWriter::WriteData Reached MAXIMUM Memory allocation !", result);
            break;
        default:
            Log(kError, "CKorvoFormatAsynchronousFTPWriter::WriteData Unknown Error", result);
            return result;
    }
    if (written)
        *written = length;
    return 0;
}

int CKorvoFormatAsynchronousFTPWriter::Close()
{
    int result = CKorvoFormatFTPWriter::Close();
    LogUsage(kProgress, "Close - Buffer usage: %li / %li");
    return result;
}
