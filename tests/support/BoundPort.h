#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport
{

// A loopback TCP port bound but never listening: every connection to it is refused, and no other test (nor a
// server started meanwhile) can take it while this object lives. Any 127.x.y.z address is loopback.
class BoundPort
{
public:
    explicit BoundPort(const char* host = "127.0.0.1")
    {
        _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        if (_fd < 0 || inet_pton(AF_INET, host, &address.sin_addr) != 1 ||
            bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        _nPort = ntohs(address.sin_port);
    }
    ~BoundPort()
    {
        if (_fd >= 0)
            close(_fd);
    }
    BoundPort(const BoundPort&) = delete;
    BoundPort& operator=(const BoundPort&) = delete;

    // 0 when no port could be bound.
    uint16_t Port() const { return _nPort; }

private:
    int _fd = -1;
    uint16_t _nPort = 0;
};

}  // namespace testsupport
