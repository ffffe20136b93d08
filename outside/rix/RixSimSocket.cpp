#include "outside/rix/RixSimSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace rixsim
{

namespace
{
bool MakeAddress(const std::string& szAddress, uint16_t nPort, sockaddr_in& addr)
{
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    return inet_pton(AF_INET, szAddress.c_str(), &addr.sin_addr) == 1;
}

bool PollFor(int fd, short nEvents, uint32_t nTimeoutMs)
{
    pollfd p{fd, nEvents, 0};
    int rc;
    do {
        rc = poll(&p, 1, static_cast<int>(nTimeoutMs));
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}
}  // namespace

CRixSimSocket& CRixSimSocket::operator=(CRixSimSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        _nFd = other._nFd.exchange(-1);
    }
    return *this;
}

void CRixSimSocket::Close()
{
    int fd = _nFd.exchange(-1);
    if (fd >= 0)
        close(fd);
}

void CRixSimSocket::Shutdown()
{
    int fd = _nFd;
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

CRixSimSocket CRixSimSocket::Listen(const std::string& szAddress, uint16_t nPort, int* pError)
{
    auto failed = [pError](int error) {
        if (pError)
            *pError = error;
        return CRixSimSocket();
    };
    sockaddr_in addr;
    if (!MakeAddress(szAddress, nPort, addr))
        return failed(EINVAL);
    CRixSimSocket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.IsOpen())
        return failed(errno);
    int on = 1;
    setsockopt(s.Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(s.Fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s.Fd(), 16) != 0)
        return failed(errno);
    return s;
}

CRixSimSocket CRixSimSocket::Connect(const std::string& szAddress, uint16_t nPort, uint32_t nTimeoutMs)
{
    sockaddr_in addr;
    if (!MakeAddress(szAddress, nPort, addr))
        return {};
    CRixSimSocket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.IsOpen())
        return {};
    if (connect(s.Fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS || !PollFor(s.Fd(), POLLOUT, nTimeoutMs))
            return {};
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(s.Fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            return {};
    }
    fcntl(s.Fd(), F_SETFL, fcntl(s.Fd(), F_GETFL) & ~O_NONBLOCK);
    int on = 1;
    setsockopt(s.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return s;
}

uint16_t CRixSimSocket::LocalPort() const
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(_nFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

std::string CRixSimSocket::LocalAddress() const
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    char text[INET_ADDRSTRLEN] = "127.0.0.1";
    if (getsockname(_nFd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

CRixSimSocket CRixSimSocket::Accept(uint32_t nTimeoutMs) const
{
    if (!IsOpen() || !PollFor(_nFd, POLLIN, nTimeoutMs))
        return {};
    CRixSimSocket s(accept4(_nFd, nullptr, nullptr, SOCK_CLOEXEC));
    if (s.IsOpen()) {
        int on = 1;
        setsockopt(s.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return s;
}

bool CRixSimSocket::WaitReadable(uint32_t nTimeoutMs) const
{
    return IsOpen() && PollFor(_nFd, POLLIN | POLLRDHUP, nTimeoutMs);
}

bool CRixSimSocket::PeerGone() const
{
    pollfd p{_nFd, POLLRDHUP, 0};
    return _nFd < 0 || (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0);
}

bool CRixSimSocket::SendAll(const void* pData, size_t nLength) const
{
    const char* p = static_cast<const char*>(pData);
    while (nLength > 0) {
        ssize_t n = send(_nFd, p, nLength, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        nLength -= static_cast<size_t>(n);
    }
    return true;
}

int64_t CRixSimSocket::Receive(void* pBuffer, size_t nLength) const
{
    ssize_t n;
    do {
        n = recv(_nFd, pBuffer, nLength, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool CRixSimSocket::ReceiveAll(void* pBuffer, size_t nLength) const
{
    char* p = static_cast<char*>(pBuffer);
    while (nLength > 0) {
        int64_t n = Receive(p, nLength);
        if (n <= 0)
            return false;
        p += n;
        nLength -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace rixsim
