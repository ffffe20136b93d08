#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport
{

// A loopback TCP port bound but never listening: every connection to it is refused, and no other test (nor a
// server started meanwhile) can take it while this object lives.
class BoundPort
{
public:
    BoundPort()
    {
        _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (_fd < 0 || bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
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
