// Any bytes as one GbE message: decoding never reads past them, and what decodes encodes to bytes that
// decode to the same message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "rixclient/CRixMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The client never hands over more than its reassembly buffer.
    if (size > 1000000)
        return 0;
    CRixMessage message;
    int rc = CRixMessage::Decode(&message, data, static_cast<uint32_t>(size));
    if (rc != static_cast<int>(size))
        return 0;
    platform::PageBuffer first;
    int64_t total = message.Encode(&first);
    if (total < 0)
        abort();
    CRixMessage again;
    if (CRixMessage::Decode(&again, first.get(), static_cast<uint32_t>(total)) != total)
        abort();
    platform::PageBuffer second;
    if (again.Encode(&second) != total || std::memcmp(first.get(), second.get(), static_cast<size_t>(total)) != 0)
        abort();
    return 0;
}
