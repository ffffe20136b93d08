#pragma once

// Small POSIX socket helpers of the simulator: an owning descriptor and the few calls its services need.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rixsim
{

class CRixSimSocket
{
public:
    CRixSimSocket() = default;
    explicit CRixSimSocket(int fd) : _nFd(fd) {}
    CRixSimSocket(CRixSimSocket&& other) noexcept : _nFd(other._nFd.exchange(-1)) {}
    CRixSimSocket& operator=(CRixSimSocket&& other) noexcept;
    CRixSimSocket(const CRixSimSocket&) = delete;
    CRixSimSocket& operator=(const CRixSimSocket&) = delete;
    ~CRixSimSocket() { Close(); }

    int Fd() const { return _nFd; }
    bool IsOpen() const { return _nFd >= 0; }
    void Close();
    // Wakes any thread blocked on the socket; the descriptor stays valid until Close.
    void Shutdown();

    // A listening TCP socket on the address (dotted IPv4) and port (0: the system chooses). On failure the socket is
    // closed and pError, when given, receives the errno (EINVAL for an address that is not dotted IPv4).
    static CRixSimSocket Listen(const std::string& szAddress, uint16_t nPort, int* pError = nullptr);
    // A TCP connection to the address and port, given up after the time-out.
    static CRixSimSocket Connect(const std::string& szAddress, uint16_t nPort, uint32_t nTimeoutMs);

    uint16_t LocalPort() const;
    std::string LocalAddress() const;
    // Waits up to the time-out for one connection on a listening socket; a closed socket when none came.
    CRixSimSocket Accept(uint32_t nTimeoutMs) const;
    // Waits until the socket is readable (or hung up); false on time-out.
    bool WaitReadable(uint32_t nTimeoutMs) const;
    // True when the peer has closed or reset the connection.
    bool PeerGone() const;

    bool SendAll(const void* pData, size_t nLength) const;
    bool SendAll(const std::string& sz) const { return SendAll(sz.data(), sz.size()); }
    // One receive; the count, 0 when the peer closed, -1 on error.
    int64_t Receive(void* pBuffer, size_t nLength) const;
    // Receives exactly the length; false when the connection ends first.
    bool ReceiveAll(void* pBuffer, size_t nLength) const;

private:
    std::atomic<int> _nFd{-1};
};

}  // namespace rixsim
