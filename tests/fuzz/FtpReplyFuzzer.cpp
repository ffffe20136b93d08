// The FTP client's side of a server that says anything: the input's control bytes are everything the server
// replies, from the welcome on, in one piece (replies joined, multi-line, over-long, cut, never ended); its data
// bytes are what the transfer's data connection carries. Both are read from memory through the client's streams,
// and the commands kept there, so an input costs no wait and no send thread; the control connection is still made
// to the loopback peer, and each data connection to the client's PORT address. Input: byte 0 picks the flow (even:
// log-in, SIZE, a retrieval read to its end and closed; odd: the browser's server listing, parsed), bytes 1-2 the
// control length (big-endian), then the control bytes, then the data. Transfers are active (PORT), so no reply can send
// the client elsewhere; every reply line also goes through the passive reply parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "browser/CValdrinSettings.h"
#include "browser/ui/ValdrinListing.h"
#include "ftp/CKorvoFtpClient.h"
#include "tests/fuzz/FuzzPeer.h"
#include "tests/fuzz/FuzzStream.h"

namespace
{

volatile uint32_t g_nSink;

FtpTimeouts ShortTimeouts()
{
    FtpTimeouts t;
    t.nPingMs = 20;
    t.nControlMs = 30;
    t.nAcceptMs = 300;
    t.nDataMs = 300;
    t.nDataSendMs = 300;
    return t;
}

void ParseEveryLine(const std::string& control)
{
    size_t start = 0;
    while (start < control.size()) {
        size_t end = control.find('\n', start);
        if (end == std::string::npos)
            end = control.size();
        uint32_t address = 0;
        uint16_t port = 0;
        if (CKorvoFtpClient::ParsePassiveReply(control.substr(start, end - start), &address, &port))
            g_nSink = address + port;
        start = end + 1;
    }
}

void Retrieve(uint16_t port, IByteStream& replies, IByteStream& data, IByteSink& commands)
{
    CKorvoFtpClient client("fuzz");
    client.SetTimeouts(ShortTimeouts());
    client.SetReplyStream(&replies);
    client.SetCommandSink(&commands);
    client.SetDataStream(&data);
    client.AddFtpServer("Korvo:wqt@127.0.0.1:" + std::to_string(port), false);
    if (client.Connect() != 0)
        return;
    int64_t size = client.GetFileSize("/clips/clip.mxf");
    if (client.OpenFile("/clips/clip.mxf", CKorvoFtpClient::kRetrieve, size > 0 ? size / 2 : 0, 0) == 0) {
        std::vector<uint8_t> buffer(65536);
        int64_t count = 0;
        for (int i = 0; i < 64 && client.FtpReadFile(buffer.data(), 65536, &count, false) == 0 && count > 0; ++i)
            g_nSink = buffer[0];
        client.FtpCloseFile(false);
    }
    client.Close(true, false);
}

void List(uint16_t port, IByteStream& replies, IByteStream& data, IByteSink& commands)
{
    CValdrinSettings settings;
    settings._szRixAddress = "127.0.0.1";
    settings._szRixPort = std::to_string(port);
    std::vector<valdrinlist::Entry> entries;
    std::string error;
    valdrinlist::ReadServerFolder(settings, "\\clips\\news", ShortTimeouts(), entries, error, &replies, &data,
                                  &commands);
    for (const valdrinlist::Entry& entry : entries)
        g_nSink = static_cast<uint32_t>(entry.name.size()) + entry.folder;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CKorvoFtpClient::SetFtpPassive(false);
    CKorvoFtpClient::SetFtpRecovery(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const bool listing = data[0] & 1;
    const size_t controlLength = std::min<size_t>(size_t{data[1]} << 8 | data[2], size - 3);
    const std::string control(reinterpret_cast<const char*>(data + 3), controlLength);
    fuzzstream::MemoryStream replies(control);
    fuzzstream::MemoryStream transfer(
        std::string(reinterpret_cast<const char*>(data + 3 + controlLength), size - 3 - controlLength));
    // The commands stay in memory; a transfer's data connection is made to the PORT address as the server would
    // (its bytes come from memory), before the client waits for it.
    std::string port;
    std::vector<platform::Socket> connections;
    fuzzstream::LineSink commands([&port, &connections](const std::string& command) {
        if (command.rfind("PORT ", 0) == 0)
            port = command.substr(5);
        else if (command.rfind("RETR", 0) == 0 || command.rfind("LIST", 0) == 0)
            connections.push_back(fuzzpeer::ConnectToPort(port));
    });
    ParseEveryLine(control);
    // The peer only takes the control connection.
    fuzzpeer::Peer& peer = fuzzpeer::Peer::Get();
    if (listing)
        List(peer.ControlPort(), replies, transfer, commands);
    else
        Retrieve(peer.ControlPort(), replies, transfer, commands);
    return 0;
}
