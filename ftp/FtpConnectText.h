#pragma once

#include <string>

struct FtpServerEntry;

// A socket error in words, for texts that name the cause.
std::string SocketErrorText(int code);

// What went wrong when the system's FTP client could not open a session, for the operator: the name that did not
// resolve, the connection refused or timed out and where, or the server's reply to the log-in. result is what
// CKorvoFtpClient::Connect returned, socketError its GetConnectError, reply its last reply.
std::string FtpConnectFailureText(const FtpServerEntry& server, int result, int socketError, const std::string& reply);
