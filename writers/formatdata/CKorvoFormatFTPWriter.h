#pragma once

#include <memory>

#include "ftp/AsyncFTP.h"
#include "ftp/CKorvoFtpClient.h"
#include "writers/formatdata/CKorvoFormatDataWriter.h"

// An FTP upload: "ftp://[user:password@]host[:port]/path", or a path on the server the client knows.
class CKorvoFormatFTPWriter : public CKorvoFormatDataWriter
{
public:
    CKorvoFormatFTPWriter(uint32_t minTransfer, uint32_t maxTransfer);
    ~CKorvoFormatFTPWriter() override;

    int Open(const char* path) override;
    int Close() override;
    int WriteData(const void* data, uint32_t length, uint32_t* written) override;
    int SeekPos(uint32_t low, uint32_t high) override;
    bool IsOpen() override { return _client->IsDataOpen(); }
    CKorvoFtpClient& Client() { return *_client; }

protected:
    CKorvoFormatFTPWriter(uint32_t minTransfer, uint32_t maxTransfer, std::unique_ptr<CKorvoFtpClient> client);
    // The text of a connection notice of the client.
    void OnConnectionNotice(int code);
    int OpenUrl(const std::string& url);
    int CloseTransfer();

    std::unique_ptr<CKorvoFtpClient> _client;
    uint32_t _dwChunk = 0;  // chosen at the first write
};

// The same upload through the queued client: writes return at once and a thread sends them.
class CKorvoFormatAsynchronousFTPWriter : public CKorvoFormatFTPWriter
{
public:
    CKorvoFormatAsynchronousFTPWriter(uint32_t minTransfer, uint32_t maxTransfer);

    int Open(const char* path) override;
    int Close() override;
    int WriteData(const void* data, uint32_t length, uint32_t* written) override;
    AsyncFTP& Queue() { return static_cast<AsyncFTP&>(*_client); }

private:
    void LogUsage(int level, const char* format);
};
