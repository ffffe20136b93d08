#pragma once

#include <cstdint>
#include <string>

// The browser's TCP block server as the transfer request drives it: listen, tell the address, wait for the
// receiver, send the clip file, stop.
class ITcpBlockSource
{
public:
    virtual ~ITcpBlockSource() = default;
    // Starts listening; the address is the dotted IPv4 address, a colon and the port. False on failure.
    virtual bool Listen(std::string& address) = 0;
    // True when the receiver connected within the time.
    virtual bool WaitForReceiver(uint32_t timeoutMs) = 0;
    virtual bool StartSending(const std::string& path) = 0;
    virtual void Stop() = 0;
    // Whether a send failed while the receiver still wanted data (it had not closed its end).
    virtual bool SendFailed() const { return false; }
    // Why Listen failed; empty when it did not or nothing is known.
    virtual std::string ListenError() const { return {}; }
};
