#pragma once

// The server side of the RPC side channel: one request in, one reply out.
//
// Requests are taken in either byte order (the magic 0x4248 tells which). Replies go out in the configured
// order: magic, four zero bytes, the request id, the reply's total length, the payload, the return code and
// the function id. Functions and their replies:
//   3 sequence IN/OUT (u16 sequence)     -> IN, OUT of the sequence; 0, 0 for an unknown sequence
//   6 sequence status (u16 sequence)     -> first value, IN, OUT, flag word; zeros for an unknown sequence
//   2 field to timecode (u8 table source, u8 0, u8 camera, u32 field, lowest byte first)
//                                        -> the field, then the high and the low half of the packed date stamp
// Return codes: 0 done; 1 the request's length is not the function's (the payload is zeros); 2 unknown
// function (no payload); 3 table source above 1 or a camera outside 'A'..'F' (the payload is zeros).

#include <cstdint>
#include <optional>
#include <string>

#include "outside/rix/CRixSimStore.h"
#include "outside/rix/RixSimTypes.h"

namespace rixsim
{

class CRixSimRpc
{
public:
    static constexpr size_t kHeaderSize = 10;
    static constexpr uint32_t kMinRequest = 14;
    static constexpr uint32_t kMaxRequest = 4096;

    // The request's total length from its first 10 bytes; none when the magic is neither byte order's or
    // the length lies outside kMinRequest..kMaxRequest.
    static std::optional<uint32_t> RequestLength(const uint8_t* pHeader);
    // The reply to a whole request, in the configured byte order; the journal text describes the request.
    static RixSimBytes Answer(const RixSimBytes& vRequest, const RixSimConfig& config, const CRixSimStore& store,
                              std::string& szJournal);
    // The function id of a whole request (for fault matching).
    static uint16_t FunctionOf(const RixSimBytes& vRequest);
    // Applies the reply-changing faults (magic, request id, function id, return code, length).
    static void Corrupt(RixSimBytes& vReply, RixSimByteOrder eOrder, const RixSimFault& fault);
};

}  // namespace rixsim
