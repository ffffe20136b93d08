#pragma once
// One transfer of the request library, whichever backend carries it.
#include <cstdint>
#include <string>

namespace ambrel
{

constexpr int32_t kStatusUnavailable = static_cast<int32_t>(0x80010000u);
constexpr int32_t kStatusComplete = static_cast<int32_t>(0x80000002u);
constexpr int32_t kStatusCancelled = static_cast<int32_t>(0x80000003u);
constexpr int32_t kStatusError = static_cast<int32_t>(0x80000004u);

class CAmbrelTransfer
{
public:
    virtual ~CAmbrelTransfer() = default;
    virtual int32_t Status(double* progress) = 0;
    virtual int32_t Cancel() = 0;
    // What the backend knows of how the transfer went, for the operator; empty when it knows nothing.
    virtual std::string StatusText() { return {}; }
};

}  // namespace ambrel
