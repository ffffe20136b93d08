// The texts the receiver and the sender take from a composition's attributes, on any text: the receiver's
// block size and TCP source, and the sender's server target (as the video server writer opens on it), with the
// server lists and clip addresses the clients make of them. Byte 0 picks the parser, the rest is the text.
// Nothing connects: the writer is opened and closed cancelled, the clients are never asked to connect.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "receiver/CKorvoBlockTCPReader.h"
#include "receiver/KorvoReceiver.h"
#include "rixclient/CRixFtpClient.h"
#include "sender/CDorn_RixFtp_Writer.h"
#include "tests/fuzz/FuzzTempFolder.h"

namespace
{

volatile size_t g_nSink;

void BlockSize(const std::string& text)
{
    const uint32_t size = KorvoReceiver::ParseBlockSize(text);
    if (size != 0 && size != KorvoReceiver::kBlockSize2MB && size != KorvoReceiver::kBlockSize8MB)
        std::abort();
}

void Source(const std::string& text)
{
    std::string host;
    uint16_t port = 0;
    if (CKorvoBlockTCPReader::ParseSource(text, &host, &port) && (host.empty() || port == 0))
        std::abort();
}

void ServerTarget(const std::string& text)
{
    CDorn_RixFtpIMX_Writer writer("Match.final", "MAINID01", "VARMAIN", "BACKID02", "VARBACK", 0, "", 0, "", "TAPE7",
                                  "Owner X", 12340);
    if (writer.Open(text.c_str(), 3, 50000000, 4, 24, 1, CTimeCode(10, 0, 0, 0, false, 3), 25) == 0)
        g_nSink = 1;
    writer.Close(true);
}

void ClipAddress(const std::string& text)
{
    CRixFtpClient client("fuzz");
    client.SetClipUrl(text, false);
    g_nSink = client.GetServerName().size() + client.GetClipDirectory().size() + client.GetClipName().size() +
              client.IsClipNameResolved();
    for (const FtpServerEntry& server : client.GetServerList())
        g_nSink = server.szHost.size() + server.nPort + server.szUser.size() + server.szPassword.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzIsolate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
        case 0:
            BlockSize(text);
            break;
        case 1:
            Source(text);
            break;
        case 2:
            ServerTarget(text);
            break;
        default:
            ClipAddress(text);
            break;
    }
    return 0;
}
