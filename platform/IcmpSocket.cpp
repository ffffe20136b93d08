#include "platform/IcmpSocket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Socket.h"

namespace platform
{

IcmpSocket::~IcmpSocket()
{
    Close();
}

bool IcmpSocket::Open(uint16_t identifier)
{
    Close();
    _identifier = identifier;
    _fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (_fd >= 0) {
        _raw = true;
        return true;
    }
    int rawErrno = errno;
    _fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (_fd < 0) {
        _lastError = SocketErrorFromErrno(rawErrno);
        return false;
    }
    _raw = false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(identifier);
    // Another socket may hold this identifier already; then the kernel picks one on the first send.
    if (bind(_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        sa.sin_port = 0;
        bind(_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
    socklen_t len = sizeof sa;
    if (getsockname(_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        _identifier = ntohs(sa.sin_port);
    return true;
}

void IcmpSocket::Close()
{
    if (_fd >= 0)
        close(_fd);
    _fd = -1;
}

int64_t IcmpSocket::SendTo(uint32_t address, const void* data, size_t size)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    for (;;) {
        ssize_t n = sendto(_fd, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        _lastError = errno == EAGAIN ? kWsaTimedOut : SocketErrorFromErrno(errno);
        return -1;
    }
}

int64_t IcmpSocket::Recv(void* data, size_t size)
{
    for (;;) {
        ssize_t n = recv(_fd, data, size, 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        _lastError = errno == EAGAIN ? kWsaTimedOut : SocketErrorFromErrno(errno);
        return -1;
    }
}

int IcmpSocket::WaitReadable(uint32_t timeoutMs)
{
    pollfd p{_fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, static_cast<int>(timeoutMs > INT32_MAX ? INT32_MAX : timeoutMs));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        _lastError = SocketErrorFromErrno(errno);
        return -1;
    }
    return rc > 0 ? 1 : 0;
}

void IcmpSocket::Shutdown()
{
    if (_fd >= 0)
        shutdown(_fd, SHUT_RDWR);
}

}  // namespace platform
