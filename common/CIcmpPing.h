#pragma once

#include <cstddef>
#include <cstdint>

// An ICMP echo ("ping") used to see that a server answers before connecting to it.
class CIcmpPing
{
public:
    static constexpr size_t kRequestSize = 44;
    static constexpr size_t kBufferSize = 1024;

    virtual ~CIcmpPing() = default;

    // 0: a matching echo reply arrived (round trip in ms) or the wait timed out (round trip -1);
    // 1: the network is not started; 2: no ICMP socket; 3: the host does not resolve;
    // 4: no buffers; 6: sending or receiving failed. The round trip is the time-out itself when
    // the ping failed before a reply could be awaited.
    int32_t Ping(const char* host, uint32_t timeoutMs, int32_t* roundTrip = nullptr);

    int32_t GetRoundTrip() const { return _nRoundTrip; }
    // Whether the last Ping sent its request: one that could not send says nothing of the host.
    bool IsSent() const { return _bSent; }
    uint32_t GetLastError() const { return _dwLastError; }

    // RFC 1071 Internet checksum.
    static uint16_t Checksum(const void* buffer, size_t length);
    // Header (type 8, code 0, checksum 0, identifier, sequence 0), then 0x45 from offset 12 to the size.
    static void FillEchoRequest(uint8_t* buffer, size_t size);
    static uint16_t Identifier();

private:
    int32_t _nRoundTrip = 0;
    uint32_t _dwLastError = 0;
    bool _bSent = false;
};
