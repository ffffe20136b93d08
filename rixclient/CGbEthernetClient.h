#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/PageBuffer.h"
#include "rixclient/CRixMessage.h"
#include "rixclient/CSocketProtocolAsync.h"

// The gigabit-Ethernet request protocol over one connection: encodes requests and reassembles the received
// byte stream into whole messages, however the stream is cut into receives. A header whose total length
// lies outside 18..1,000,000 bytes, or a message that does not decode, ends the connection.
class CGbEthernetClient : public CSocketProtocolAsync
{
public:
    static constexpr uint32_t kReassemblySize = 1000000;

    explicit CGbEthernetClient(bool ownsStream);
    ~CGbEthernetClient() override;

    // The byte count sent; below 1 when nothing was sent (0 when the message could not be encoded).
    int SendRequest(const CRixMessage& message);
    // The next request id (the counter is post-incremented).
    uint32_t NextRequestId() { return _nNextRequestId++; }

    int OnReceive(uint8_t* buffer, uint32_t bufferSize, uint32_t count) override;
    void OnDisconnect() override;
    // Each whole message received, on the receive thread; by default it is dropped.
    virtual int OnMessage(std::unique_ptr<CRixMessage> message);
    __attribute__((format(printf, 2, 3))) virtual void Trace(const char* format, ...);

private:
    // Refuses the stream: the rest of it cannot be framed.
    void Refuse(const char* why, uint64_t value);

    std::unique_ptr<CRixMessage> _pMessage;  // in assembly
    bool _bHeaderIncomplete = true;
    uint32_t _nGathered = 0;
    platform::PageBuffer _reassembly;
    std::atomic<uint32_t> _nNextRequestId{0};
};
