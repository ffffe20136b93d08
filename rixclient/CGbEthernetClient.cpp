#include "rixclient/CGbEthernetClient.h"

#include <algorithm>
#include <cstring>

#include "common/CLogManager.h"

CGbEthernetClient::CGbEthernetClient(bool ownsStream)
    : CSocketProtocolAsync(ownsStream), _reassembly(platform::MakePageBuffer(kReassemblySize))
{
}

CGbEthernetClient::~CGbEthernetClient()
{
    // The hooks of this class must not run while it is taken apart.
    Stop();
}

int CGbEthernetClient::SendRequest(const CRixMessage& message)
{
    platform::PageBuffer buffer;
    int64_t total = message.Encode(&buffer);
    if (total < 1)
        return 0;
    uint32_t count = 0;
    if (Send(buffer.get(), static_cast<uint32_t>(total), &count) != 0)
        return 0;
    return static_cast<int>(count);
}

void CGbEthernetClient::Refuse(const char* why, uint64_t value)
{
    theLogManager.Log("CGbEthernetClient::OnReceive %s (%llu) - disconnecting", why,
                      static_cast<unsigned long long>(value));
    _pMessage.reset();
    _bHeaderIncomplete = true;
    _nGathered = 0;
    ForceDisconnect();
}

int CGbEthernetClient::OnReceive(uint8_t* buffer, uint32_t, uint32_t count)
{
    if (!_reassembly) {
        Refuse("no reassembly buffer", kReassemblySize);
        return 0;
    }
    uint32_t used = 0;
    // Each pass takes what the message in assembly still lacks: first its header (up to the request id,
    // gathered over as many receives as it takes), then the rest of its total length.
    while (used < count && !IsStopping()) {
        if (!_pMessage) {
            _pMessage = std::make_unique<CRixMessage>();
            _bHeaderIncomplete = true;
            _nGathered = 0;
        }
        uint32_t wanted = _bHeaderIncomplete ? CRixMessage::kMinMessage : _pMessage->_nTotalLength;
        uint32_t take = std::min(wanted - _nGathered, count - used);
        std::memcpy(_reassembly.get() + _nGathered, buffer + used, take);
        _nGathered += take;
        used += take;
        if (_nGathered < wanted)
            break;
        if (_bHeaderIncomplete) {
            CRixMessage::ReadHeader(_pMessage.get(), _reassembly.get(), _nGathered);
            // In 64 bits: the 32-bit total wraps for a length field near 2^32.
            uint64_t total = uint64_t(_pMessage->_nTotalLength - CRixMessage::kHeaderSize) + CRixMessage::kHeaderSize;
            if (total < CRixMessage::kMinMessage || total > kReassemblySize) {
                Refuse("message length out of range", total);
                return 0;
            }
            _bHeaderIncomplete = false;
            if (_nGathered < total)
                continue;
        }
        auto message = std::move(_pMessage);
        int rc = CRixMessage::Decode(message.get(), _reassembly.get(), _nGathered);
        if (rc != static_cast<int>(_nGathered)) {
            Refuse("bad message", _nGathered);
            return 0;
        }
        _nGathered = 0;
        _bHeaderIncomplete = true;
        OnMessage(std::move(message));
    }
    return static_cast<int>(count);
}

void CGbEthernetClient::OnDisconnect()
{
    Trace("CGbEthernetClient::OnDisconnect socket disconnected");
}

int CGbEthernetClient::OnMessage(std::unique_ptr<CRixMessage>)
{
    return 0;
}

void CGbEthernetClient::Trace(const char*, ...) {}
