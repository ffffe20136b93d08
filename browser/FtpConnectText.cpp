#include "browser/FtpConnectText.h"

#include "common/FormatText.h"
#include "platform/Socket.h"
#include "transfer/CKorvoFtpClient.h"

std::string FtpConnectFailureText(const FtpServerEntry& server, int result, int socketError, const std::string& reply)
{
    const char* host = server.szHost.c_str();
    const unsigned port = server.nPort;
    switch (result) {
        case 2:
            return FormatText("the server name %s does not resolve", host);
        case 10:
            return FormatText("%s does not answer a ping", host);
        case 4:
            if (socketError == platform::kWsaConnectionRefused)
                return FormatText("%s:%u refused the connection: no FTP server listens there", host, port);
            if (socketError == platform::kWsaTimedOut)
                return FormatText("the connection to %s:%u timed out", host, port);
            return FormatText("cannot connect to %s:%u [socket error %i]", host, port, socketError);
        case 5:
            return FormatText("%s:%u sent no welcome line", host, port);
        default:
            return FormatText("%s:%u did not accept %s: %s", host, port, server.szUser.c_str(), reply.c_str());
    }
}
