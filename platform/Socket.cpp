#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <utility>

namespace platform
{

int SocketErrorFromErrno(int err)
{
    switch (err) {
        case 0:
            return 0;
        case EINTR:
            return kWsaInterrupted;
        case EACCES:
        case EPERM:
            return kWsaAccess;
        case EAGAIN:
        case EINPROGRESS:
            return kWsaWouldBlock;
        case ENOTSOCK:
        case EBADF:
            return kWsaNotSocket;
        case EMSGSIZE:
            return kWsaMessageSize;
        case EADDRINUSE:
            return kWsaAddressInUse;
        case EADDRNOTAVAIL:
            return kWsaAddressNotAvailable;
        case ENETDOWN:
            return kWsaNetDown;
        case ENETUNREACH:
            return kWsaNetUnreachable;
        case ECONNABORTED:
            return kWsaConnectionAborted;
        case ECONNRESET:
        case EPIPE:
            return kWsaConnectionReset;
        case ENOBUFS:
        case ENOMEM:
            return kWsaNoBuffers;
        case ENOTCONN:
            return kWsaNotConnected;
        case ESHUTDOWN:
            return kWsaShutdown;
        case ETIMEDOUT:
            return kWsaTimedOut;
        case ECONNREFUSED:
            return kWsaConnectionRefused;
        case EHOSTUNREACH:
            return kWsaHostUnreachable;
        default:
            return kWsaInvalid;
    }
}

std::optional<uint32_t> ResolveIPv4(const std::string& host)
{
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) == 1)
        return ntohl(a.s_addr);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return std::nullopt;
    uint32_t addr = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return addr;
}

std::string FormatIPv4(uint32_t address)
{
    in_addr a{htonl(address)};
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

std::optional<uint32_t> LocalAddressToward(uint32_t peer)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(9);  // any port: nothing is sent
    sa.sin_addr.s_addr = htonl(peer);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    std::optional<uint32_t> address;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_addr.s_addr != 0)
        address = ntohl(local.sin_addr.s_addr);
    close(fd);
    return address;
}

namespace
{

sockaddr_in MakeAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

int PollFor(int fd, short events, uint32_t timeoutMs)
{
    pollfd p{fd, events, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int rc = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (rc < 0 && errno == EINTR)
            continue;
        return rc;
    }
}

}  // namespace

Socket::~Socket()
{
    Close();
}

Socket::Socket(Socket&& other) noexcept : _fd(other._fd.exchange(-1)), _lastError(other._lastError) {}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        Close();
        _fd = other._fd.exchange(-1);
        _lastError = other._lastError;
    }
    return *this;
}

bool Socket::Check(bool ok)
{
    if (!ok)
        Fail();
    return ok;
}

int Socket::Fail()
{
    _lastError = SocketErrorFromErrno(errno);
    return -1;
}

bool Socket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs)
{
    auto address = ResolveIPv4(host);
    if (!address) {
        _lastError = kWsaHostNotFound;
        return false;
    }
    return Connect(*address, port, timeoutMs);
}

bool Socket::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs)
{
    return Connect(address, port, timeoutMs, nullptr);
}

bool Socket::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, const std::function<bool()>& aborted)
{
    Close();
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0)
        return Fail(), false;
    sockaddr_in sa = MakeAddress(address, port);
    if (timeoutMs == 0) {
        if (connect(_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
            return Fail(), Close(), false;
        return true;
    }
    int flags = fcntl(_fd, F_GETFL);
    fcntl(_fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS)
            return Fail(), Close(), false;
        // In slices when it may be aborted, so that the abort is seen at once.
        constexpr uint32_t kSliceMs = 20;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int rc = 0;
        for (;;) {
            if (aborted && aborted()) {
                _lastError = kWsaInterrupted;
                Close();
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const uint32_t wait = static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
            rc = PollFor(_fd, POLLOUT, aborted ? std::min(wait, kSliceMs) : wait);
            if (rc != 0 || wait == 0 || !aborted)
                break;
        }
        if (rc == 0) {
            _lastError = kWsaTimedOut;
            Close();
            return false;
        }
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(_fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (rc < 0 || err != 0) {
            _lastError = SocketErrorFromErrno(rc < 0 ? errno : err);
            Close();
            return false;
        }
    }
    fcntl(_fd, F_SETFL, flags);
    _lastError = 0;
    return true;
}

bool Socket::Listen(const std::string& address, uint16_t port, int backlog)
{
    Close();
    uint32_t addr = INADDR_ANY;
    if (!address.empty()) {
        auto a = ResolveIPv4(address);
        if (!a) {
            _lastError = kWsaHostNotFound;
            return false;
        }
        addr = *a;
    }
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0)
        return Fail(), false;
    int one = 1;
    setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = MakeAddress(addr, port);
    if (::bind(_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(_fd, backlog) != 0)
        return Fail(), Close(), false;
    return true;
}

Socket Socket::Accept(uint32_t timeoutMs)
{
    int rc = PollFor(_fd, POLLIN, timeoutMs);
    if (rc == 0) {
        _lastError = kWsaTimedOut;
        return Socket();
    }
    if (rc < 0)
        return Fail(), Socket();
    int fd = accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return Fail(), Socket();
    return Socket(fd);
}

int64_t Socket::Send(const void* data, size_t size)
{
    for (;;) {
        ssize_t n = send(_fd, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        // A send time-out shows as EAGAIN on a blocking socket.
        if (errno == EAGAIN) {
            _lastError = kWsaTimedOut;
            return -1;
        }
        return Fail();
    }
}

int64_t Socket::Recv(void* data, size_t size)
{
    for (;;) {
        ssize_t n = recv(_fd, data, size, 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            _lastError = kWsaTimedOut;
            return -1;
        }
        return Fail();
    }
}

bool Socket::SendAll(const void* data, size_t size, uint32_t timeoutMs)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        int ready = WaitWritable(timeoutMs);
        if (ready <= 0) {
            if (ready == 0)
                _lastError = kWsaTimedOut;
            return false;
        }
        ssize_t n = send(_fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Fail(), false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int Socket::WaitReadable(uint32_t timeoutMs)
{
    int rc = PollFor(_fd, POLLIN, timeoutMs);
    return rc < 0 ? Fail() : (rc > 0 ? 1 : 0);
}

int Socket::WaitWritable(uint32_t timeoutMs)
{
    int rc = PollFor(_fd, POLLOUT, timeoutMs);
    return rc < 0 ? Fail() : (rc > 0 ? 1 : 0);
}

namespace
{
bool SetTimeout(int fd, int option, uint32_t ms)
{
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}
}  // namespace

bool Socket::SetReceiveTimeout(uint32_t ms)
{
    return Check(SetTimeout(_fd, SO_RCVTIMEO, ms));
}

bool Socket::SetSendTimeout(uint32_t ms)
{
    return Check(SetTimeout(_fd, SO_SNDTIMEO, ms));
}

bool Socket::SetNoDelay(bool on)
{
    int v = on;
    return Check(setsockopt(_fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0);
}

bool Socket::SetKeepAlive(bool on)
{
    int v = on;
    return Check(setsockopt(_fd, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v) == 0);
}

bool Socket::SetBufferSizes(int sendBytes, int receiveBytes)
{
    bool ok = true;
    if (sendBytes > 0)
        ok = setsockopt(_fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes) == 0 && ok;
    if (receiveBytes > 0)
        ok = setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes) == 0 && ok;
    return Check(ok);
}

int Socket::ReceiveBufferSize() const
{
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (_fd < 0 || getsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0)
        return -1;
    return bytes;
}

int Socket::SendBufferSize() const
{
    int bytes = 0;
    socklen_t length = sizeof bytes;
    if (_fd < 0 || getsockopt(_fd, SOL_SOCKET, SO_SNDBUF, &bytes, &length) != 0)
        return -1;
    return bytes;
}

std::optional<uint32_t> DefaultRouteAddress()
{
    // The kernel's routing table: interface, destination, gateway, flags, ..., mask, all in hexadecimal.
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line);
    std::string device;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 1, gateway = 0, flags = 0, refs = 0, use = 0, metric = 0, mask = 1;
        fields >> name >> std::hex >> destination >> gateway >> flags >> std::dec >> refs >> use >> metric >>
            std::hex >> mask;
        constexpr unsigned long kRouteUp = 0x1;
        if (fields && destination == 0 && mask == 0 && (flags & kRouteUp)) {
            device = name;
            break;
        }
    }
    if (device.empty())
        return std::nullopt;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<uint32_t> address;
    for (ifaddrs* a = list; a && !address; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && device == a->ifa_name)
            address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    freeifaddrs(list);
    return address;
}

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

bool Socket::SetLinger(bool on, int seconds)
{
    linger l{on ? 1 : 0, seconds};
    return Check(setsockopt(_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0);
}

void Socket::Shutdown()
{
    if (const int fd = _fd; fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void Socket::ShutdownSend()
{
    if (const int fd = _fd; fd >= 0)
        shutdown(fd, SHUT_WR);
}

void Socket::Close()
{
    // Taken once: a close from two threads closes the descriptor once.
    if (const int fd = _fd.exchange(-1); fd >= 0)
        close(fd);
}

uint16_t Socket::LocalPort() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getsockname(_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohs(sa.sin_port) : 0;
}

uint32_t Socket::LocalAddress() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getsockname(_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohl(sa.sin_addr.s_addr) : 0;
}

uint32_t Socket::PeerAddress() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getpeername(_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohl(sa.sin_addr.s_addr) : 0;
}

uint16_t Socket::PeerPort() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return getpeername(_fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohs(sa.sin_port) : 0;
}

}  // namespace platform
