#pragma once

#include <cstddef>
#include <cstdint>

namespace platform
{

// An ICMP socket over IPv4: a raw socket where the process may open one, otherwise the unprivileged
// ICMP datagram socket. A raw socket receives whole IPv4 packets (its own echo requests to a local
// address among them); a datagram socket receives only the ICMP part of replies to its own
// identifier, which the kernel sets in every request it sends.
class IcmpSocket
{
public:
    IcmpSocket() = default;
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    // identifier: the echo identifier wanted; a datagram socket asks the kernel for it.
    bool Open(uint16_t identifier);
    void Close();
    bool IsValid() const { return _fd >= 0; }
    bool IncludesIpHeader() const { return _raw; }
    // The identifier that replies to this socket carry.
    uint16_t Identifier() const { return _identifier; }
    int LastError() const { return _lastError; }

    int64_t SendTo(uint32_t address, const void* data, size_t size);
    int64_t Recv(void* data, size_t size);
    // 1 readable, 0 time-out, -1 error.
    int WaitReadable(uint32_t timeoutMs);
    void Shutdown();

private:
    int _fd = -1;
    bool _raw = false;
    uint16_t _identifier = 0;
    int _lastError = 0;
};

}  // namespace platform
