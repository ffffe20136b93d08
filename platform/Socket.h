#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform
{

// Network error codes as the system reports them (the Windows Sockets numbers).
constexpr int kWsaInterrupted = 10004;
constexpr int kWsaAccess = 10013;
constexpr int kWsaInvalid = 10022;
constexpr int kWsaWouldBlock = 10035;
constexpr int kWsaNotSocket = 10038;
constexpr int kWsaMessageSize = 10040;
constexpr int kWsaAddressInUse = 10048;
constexpr int kWsaAddressNotAvailable = 10049;
constexpr int kWsaNetDown = 10050;
constexpr int kWsaNetUnreachable = 10051;
constexpr int kWsaConnectionAborted = 10053;
constexpr int kWsaConnectionReset = 10054;
constexpr int kWsaNoBuffers = 10055;
constexpr int kWsaNotConnected = 10057;
constexpr int kWsaShutdown = 10058;
constexpr int kWsaTimedOut = 10060;
constexpr int kWsaConnectionRefused = 10061;
constexpr int kWsaHostUnreachable = 10065;
constexpr int kWsaHostNotFound = 11001;

// The Windows Sockets code for an errno value.
int SocketErrorFromErrno(int err);

// IPv4 address of a host name or dotted address, in host byte order.
std::optional<uint32_t> ResolveIPv4(const std::string& host);
std::string FormatIPv4(uint32_t address);
// The address of this host's interface that routes to the peer (a datagram socket's connect sends nothing);
// none when no route leads there.
std::optional<uint32_t> LocalAddressToward(uint32_t peer);
// The address of the interface that carries this host's default route (the first one listed); none without a
// default route.
std::optional<uint32_t> DefaultRouteAddress();
// The computer's own name; empty when the system gives none.
std::string HostName();

// A TCP socket over IPv4. Sends never raise SIGPIPE. Every call records the last error
// as a Windows Sockets code. Shutdown() from another thread wakes a call blocked on the socket.
class Socket
{
public:
    Socket() = default;
    explicit Socket(int fd) : _fd(fd) {}
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;

    bool IsValid() const { return _fd >= 0; }
    int Fd() const { return _fd; }
    int LastError() const { return _lastError; }

    // Connects within the time-out (0: the system's own).
    bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    bool Connect(uint32_t address, uint16_t port, uint32_t timeoutMs);
    // The same, given up (kWsaInterrupted) as soon as aborted() answers true; it is asked every few milliseconds.
    bool Connect(uint32_t address, uint16_t port, uint32_t timeoutMs, const std::function<bool()>& aborted);
    // Listens on the address ("" or "0.0.0.0": any) and port (0: a free one).
    bool Listen(const std::string& address, uint16_t port, int backlog = 5);
    // The accepted connection, or an invalid socket after the time-out (kWsaTimedOut) or an error.
    Socket Accept(uint32_t timeoutMs);

    // Bytes sent or received; 0 from Recv is an orderly close; -1 is an error (LastError).
    int64_t Send(const void* data, size_t size);
    int64_t Recv(void* data, size_t size);
    // Sends everything, waiting at most timeoutMs for the socket to take each part; false on error or time-out.
    bool SendAll(const void* data, size_t size, uint32_t timeoutMs);

    // 1 ready, 0 time-out, -1 error.
    int WaitReadable(uint32_t timeoutMs);
    int WaitWritable(uint32_t timeoutMs);

    bool SetReceiveTimeout(uint32_t ms);
    bool SetSendTimeout(uint32_t ms);
    bool SetNoDelay(bool on);
    bool SetKeepAlive(bool on);
    bool SetBufferSizes(int sendBytes, int receiveBytes);
    // The receive buffer's size in bytes (SO_RCVBUF), -1 when it cannot be read.
    int ReceiveBufferSize() const;
    bool SetLinger(bool on, int seconds);
    // The system's send buffer size in bytes; -1 when it cannot be read.
    int SendBufferSize() const;

    void Shutdown();  // both directions
    void ShutdownSend();
    void Close();

    uint16_t LocalPort() const;
    uint32_t LocalAddress() const;
    uint32_t PeerAddress() const;
    uint16_t PeerPort() const;

private:
    int Fail();
    bool Check(bool ok);
    // Read without a lock by a thread that only names the connection (a log line's handle) while another closes it.
    std::atomic<int> _fd{-1};
    int _lastError = 0;
};

}  // namespace platform
