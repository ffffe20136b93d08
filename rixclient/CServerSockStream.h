#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Socket.h"

class CSockStream;

// A listening TCP socket that accepts one connection at a time and hands it out as a CSockStream.
// Codes: 0 done; 1 the socket is not open; 2 bind or accept failed; 3 listen failed.
class CServerSockStream
{
public:
    // Throws 1 when the network cannot start, 3 without a computer name, 4 when the name has no address.
    CServerSockStream(uint16_t port, int32_t backlog);
    virtual ~CServerSockStream();
    CServerSockStream(const CServerSockStream&) = delete;
    CServerSockStream& operator=(const CServerSockStream&) = delete;

    int Listen();
    int AcceptConnect();
    // The accepted connection, owned by the caller; nullptr on failure.
    CSockStream* Accept();
    // "address:port" of the listening side.
    int GetAddress(std::string* pText);
    // May be called from another thread while Accept waits: the wait then fails.
    void Close();

    uint16_t GetPort() const { return _nPort; }
    const std::string& GetPeerAddress() const { return _szPeerAddress; }

private:
    friend class CSockStream;

    std::string _szLocalName;
    uint32_t _nLocalAddress = 0;
    std::string _szLocalAddress;
    uint32_t _nPeerAddress = 0;
    std::string _szPeerAddress;
    platform::Socket _listenSocket;
    platform::Socket _acceptSocket;
    uint16_t _nPort = 0;
    int32_t _nBacklog = 0;
    std::mutex _mutex;  // guards the listening socket against Close from another thread
    bool _bAccepting = false;
    bool _bCreated = false;
    bool _bConnected = false;
    bool _bNotListening = true;
};
