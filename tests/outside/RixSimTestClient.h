#pragma once

// A plain socket client for the simulator's tests, and byte-built server blocks.

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "outside/rix/CRixSimStore.h"
#include "outside/rix/RixSimSocket.h"

namespace rixsimtest
{

using rixsim::CRixSimSocket;
using rixsim::RixSimBytes;

inline CRixSimSocket ConnectTo(uint16_t nPort)
{
    CRixSimSocket sock = CRixSimSocket::Connect("127.0.0.1", nPort, 2000);
    timeval tv{5, 0};
    setsockopt(sock.Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return sock;
}

// True when the socket has something to read (or was closed) within the time.
inline bool Readable(const CRixSimSocket& sock, int nMs)
{
    pollfd p{sock.Fd(), POLLIN, 0};
    return poll(&p, 1, nMs) > 0;
}

inline std::string ReadToEnd(const CRixSimSocket& sock)
{
    std::string sz;
    char buffer[65536];
    for (int64_t n; (n = sock.Receive(buffer, sizeof buffer)) > 0;)
        sz.append(buffer, size_t(n));
    return sz;
}

struct Reply {
    int nCode = -1;
    std::string szText;  // the reply's lines joined by '\n'
};

class FtpClient
{
public:
    explicit FtpClient(uint16_t nPort) : _sock(ConnectTo(nPort)) {}

    Reply Read()
    {
        Reply reply;
        for (;;) {
            size_t nEnd = _szIn.find("\r\n");
            if (nEnd == std::string::npos) {
                char buffer[4096];
                int64_t n = _sock.Receive(buffer, sizeof buffer);
                if (n <= 0)
                    return {-1, reply.szText};
                _szIn.append(buffer, size_t(n));
                continue;
            }
            std::string szLine = _szIn.substr(0, nEnd);
            _szIn.erase(0, nEnd + 2);
            reply.szText += (reply.szText.empty() ? "" : "\n") + szLine;
            if (szLine.size() >= 4 && std::isdigit(uint8_t(szLine[0])) && std::isdigit(uint8_t(szLine[1])) &&
                std::isdigit(uint8_t(szLine[2])) && szLine[3] == ' ') {
                reply.nCode = std::stoi(szLine.substr(0, 3));
                return reply;
            }
        }
    }
    void Send(const std::string& szLine) { _sock.SendAll(szLine + "\r\n"); }
    Reply Cmd(const std::string& szLine)
    {
        Send(szLine);
        return Read();
    }
    void Login()
    {
        Read();
        Cmd("USER rix");
        Cmd("PASS rix");
    }
    CRixSimSocket Pasv()
    {
        Reply reply = Cmd("PASV");
        unsigned a, b, c, d, p1, p2;
        if (reply.nCode != 227 || std::sscanf(reply.szText.c_str() + reply.szText.rfind('('), "(%u,%u,%u,%u,%u,%u)", &a,
                                              &b, &c, &d, &p1, &p2) != 6)
            return {};
        return ConnectTo(uint16_t(p1 << 8 | p2));
    }
    // A passive RETR (after the given position command, when there is one): the data and the end reply.
    std::pair<std::string, Reply> Retrieve(const std::string& szName, const std::string& szPosition = {})
    {
        CRixSimSocket data = Pasv();
        if (!szPosition.empty())
            Cmd(szPosition);
        Reply reply = Cmd("RETR " + szName);
        if (reply.nCode != 150)
            return {"", reply};
        std::string sz = ReadToEnd(data);
        return {sz, Read()};
    }
    Reply StoreData(const std::string& szCommand, const std::string& szData)
    {
        CRixSimSocket data = Pasv();
        Reply reply = Cmd(szCommand);
        if (reply.nCode != 150)
            return reply;
        data.SendAll(szData);
        data.Close();
        return Read();
    }

    CRixSimSocket _sock;

private:
    std::string _szIn;
};

// A block of the BAVD layout holding fields [first, first + count), filled after its header with the byte.
inline RixSimBytes BavdBlock(uint32_t nFirst, uint16_t nCount, uint32_t nSize = 0x200000, uint8_t nFill = 0)
{
    RixSimBytes v(nSize, nFill);
    auto be = [&](size_t nAt, uint32_t n, int nBytes) {
        for (int i = 0; i < nBytes; ++i)
            v[nAt + i] = uint8_t(n >> (8 * (nBytes - 1 - i)));
    };
    v[0] = 'B', v[1] = 'A', v[2] = 'V', v[3] = 'D';
    be(4, 257, 2);
    be(8, nSize, 4);
    be(12, 258, 2);
    be(14, 65, 4);
    be(26, nCount, 2);
    be(65, nFirst, 4);
    return v;
}

// A 2 MB block with its 2048-byte table at the end.
inline RixSimBytes TableBlock(uint32_t nFirst, uint32_t nEnd, uint8_t nFill)
{
    RixSimBytes v(0x200000, nFill);
    for (int i = 0; i < 4; ++i) {
        v[0x1FF800 + i] = uint8_t(nFirst >> (8 * i));
        v[0x1FF804 + i] = uint8_t(nEnd >> (8 * i));
    }
    return v;
}

inline std::string Str(const RixSimBytes& v)
{
    return std::string(v.begin(), v.end());
}

}  // namespace rixsimtest
