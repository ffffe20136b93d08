#include "ftp/FtpConnectText.h"

#include "common/FormatText.h"
#include "ftp/CKorvoFtpClient.h"
#include "platform/Socket.h"

std::string SocketErrorText(int code)
{
    switch (code) {
        case platform::kWsaConnectionRefused:
            return "connection refused";
        case platform::kWsaTimedOut:
            return "timed out";
        case platform::kWsaHostUnreachable:
            return "host unreachable";
        case platform::kWsaNetUnreachable:
            return "network unreachable";
        case platform::kWsaConnectionReset:
            return "connection reset";
        case platform::kWsaConnectionAborted:
            return "connection aborted";
        case platform::kWsaHostNotFound:
            return "host not found";
        default:
            return "socket error " + std::to_string(code);
    }
}

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
            return FormatText("cannot connect to %s:%u [%s]", host, port, SocketErrorText(socketError).c_str());
        case 5:
            return FormatText("%s:%u sent no welcome line", host, port);
        default:
            return FormatText("%s:%u did not accept %s: %s", host, port, server.szUser.c_str(), reply.c_str());
    }
}
