#include "common/CIcmpPing.h"

#include <cstring>
#include <vector>

#include "common/CWinsockStartup.h"
#include "platform/Clock.h"
#include "platform/IcmpSocket.h"
#include "platform/Paths.h"
#include "platform/Socket.h"

namespace
{
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequest = 8;
constexpr size_t kIcmpHeaderSize = 8;
constexpr size_t kSendTimeOffset = 8;
}  // namespace

uint16_t CIcmpPing::Identifier()
{
    return static_cast<uint16_t>(platform::ProcessId() & 0xFFFF);
}

uint16_t CIcmpPing::Checksum(const void* buffer, size_t length)
{
    const auto* b = static_cast<const uint8_t*>(buffer);
    uint32_t sum = 0;
    size_t i = 0;
    // Words are summed in memory order, so the result lands in the buffer in the right byte order.
    for (; i + 1 < length; i += 2) {
        uint16_t word;
        std::memcpy(&word, b + i, 2);
        sum += word;
    }
    if (i < length)
        sum += b[i];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void CIcmpPing::FillEchoRequest(uint8_t* buffer, size_t size)
{
    if (size < kIcmpHeaderSize)
        return;
    std::memset(buffer, 0, kIcmpHeaderSize);
    buffer[0] = kEchoRequest;
    uint16_t id = Identifier();
    std::memcpy(buffer + 4, &id, 2);  // host order, as the identifier is compared on the way back
    if (size > 12)
        std::memset(buffer + 12, 0x45, size - 12);
}

int32_t CIcmpPing::Ping(const char* host, uint32_t timeoutMs, int32_t* roundTrip)
{
    _nRoundTrip = static_cast<int32_t>(timeoutMs);
    _bSent = false;
    auto finish = [&](int32_t result) {
        if (roundTrip)
            *roundTrip = _nRoundTrip;
        return result;
    };
    if (!theWinsockStartup.IsStarted()) {
        _dwLastError = theWinsockStartup.GetLastError();
        return finish(1);
    }
    platform::IcmpSocket sock;
    if (!sock.Open(Identifier())) {
        _dwLastError = static_cast<uint32_t>(sock.LastError());
        return finish(2);
    }
    auto address = platform::ResolveIPv4(host ? host : "");
    if (!address)
        return finish(3);

    std::vector<uint8_t> request(kBufferSize, 0), reply(kBufferSize, 0);
    FillEchoRequest(request.data(), kRequestSize);
    uint32_t sent = platform::TickCount();
    std::memcpy(request.data() + kSendTimeOffset, &sent, 4);
    uint16_t sum = Checksum(request.data(), kRequestSize);
    std::memcpy(request.data() + 2, &sum, 2);

    int64_t n = sock.SendTo(*address, request.data(), kRequestSize);
    if (n != static_cast<int64_t>(kRequestSize)) {
        _dwLastError = static_cast<uint32_t>(sock.LastError());
        if (n < 0 && sock.LastError() == platform::kWsaTimedOut)
            _nRoundTrip = -1;
        return finish(6);
    }
    _bSent = true;

    // Other packets reach an ICMP socket too: on loopback a raw socket first sees its own request,
    // and replies to other processes' pings arrive as well. Read until our reply or the time-out.
    uint32_t deadline = sent + timeoutMs;
    for (;;) {
        uint32_t now = platform::TickCount();
        uint32_t left = static_cast<int32_t>(deadline - now) > 0 ? deadline - now : 0;
        int ready = sock.WaitReadable(left);
        if (ready < 0) {
            _dwLastError = static_cast<uint32_t>(sock.LastError());
            return finish(6);
        }
        if (ready == 0) {
            _nRoundTrip = -1;
            return finish(0);
        }
        n = sock.Recv(reply.data(), kBufferSize);
        uint32_t received = platform::TickCount();
        if (n < 0) {
            _dwLastError = static_cast<uint32_t>(sock.LastError());
            if (sock.LastError() == platform::kWsaTimedOut) {
                _nRoundTrip = -1;
                return finish(0);
            }
            return finish(6);
        }
        size_t ipHeader = sock.IncludesIpHeader() ? size_t{reply[0] & 0x0Fu} * 4 : 0;
        if (static_cast<size_t>(n) < ipHeader + kSendTimeOffset + 4)
            continue;
        const uint8_t* icmp = reply.data() + ipHeader;
        uint16_t id, sequence;
        std::memcpy(&id, icmp + 4, 2);
        std::memcpy(&sequence, icmp + 6, 2);
        // A datagram socket's kernel sets and filters the identifier itself.
        bool ours = !sock.IncludesIpHeader() || id == Identifier();
        if (icmp[0] != kEchoReply || !ours || sequence != 0)
            continue;
        uint32_t echoed;
        std::memcpy(&echoed, icmp + kSendTimeOffset, 4);
        _nRoundTrip = static_cast<int32_t>(received - echoed);
        sock.Shutdown();
        return finish(0);
    }
}
