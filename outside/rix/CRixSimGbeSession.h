#pragma once

// One connection to the simulator's gigabit-Ethernet gateway.
//
// Messages: an 8-byte little-endian header (header byte, type, command, length of the rest) and fields of
// u16 tag, u32 length and value. On connection the gateway sends a welcome: type 2, command 0, request id 0,
// tag 0x1112 holding the configured text (it contains "Welcome"). Then, per request (header byte 1, type 1),
// one reply of type 2 with the request's command and id, fields in the order of the message's tag table:
//   1 clip information: 3 UmID, 4, 5, 6 camera, 0x60 growing mode, 0x61-0x63 VarID (when it has one),
//                       0x504, 0x10, 0x11, 0x12, 0x14/0x15 short points (when set), 0x16 in, 0x17 out, 0x20, 0x21
//   2 video field:      7 field, 0x504, 0x13 the field's data
//   3 audio:            7 field, 0x504, 0x20 channels sent, 0x24 samples per channel, one 0x26 container per
//                       channel of the mask (0x27 index, 0x28 3-byte little-endian samples), 0x23 containers
// The clip is found by UmID (tag 3) when the request has one, else by tags 4, 5 and 6. Errors are replies of
// type 3 with 0x50 code and 0x51 text: 1 unknown clip, 2 field outside [in, out), 3 malformed request (a field
// running past the message, a number not 4 bytes long, a text over 4096 bytes), 4 unknown command.
// A header that is not a request, or whose total length lies outside 18..1,000,000, ends the connection.

#include <cstdint>
#include <string>

#include "outside/rix/CRixSimSession.h"
#include "outside/rix/CRixSimStore.h"

namespace rixsim
{

class CRixSimGbeSession : public CRixSimSession
{
public:
    static constexpr uint32_t kMinMessage = 18;
    static constexpr uint32_t kMaxMessage = 1000000;

    CRixSimGbeSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId);
    ~CRixSimGbeSession() override;

private:
    void Run() override;
    // The reply to one whole request; the journal text describes the request.
    std::string Answer(const RixSimBytes& vRequest, std::string& szJournal);
    bool Send(std::string szMessage, const std::optional<RixSimFault>& fault);

    std::string _szHeld;
};

}  // namespace rixsim
