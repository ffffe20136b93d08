#pragma once

#include <cstdint>
#include <string>

// Status words of a transfer.
constexpr int32_t kTransferStatusUnavailable = static_cast<int32_t>(0x80010000u);
constexpr int32_t kTransferComplete = static_cast<int32_t>(0x80000002u);
constexpr int32_t kTransferCancelled = static_cast<int32_t>(0x80000003u);
constexpr int32_t kTransferError = static_cast<int32_t>(0x80000004u);

// The transfer-request library of the editing system's transfer service.
class IRequestLibrary
{
public:
    virtual ~IRequestLibrary() = default;
    virtual bool IsLoaded() const = 0;
    // A transfer handle, 0 when no transfer exists; the error code is written in both cases.
    virtual uint32_t RequestTransferXML(const char* jobXml, const char* targetHost, int32_t mxfAaf, int32_t* error) = 0;
    // The status word; progress in percent.
    virtual int32_t TransferStatus(uint32_t handle, double* progress) = 0;
    virtual int32_t CancelTransfer(uint32_t handle) = 0;
    virtual void ReleaseHandle(uint32_t handle) = 0;
    // How the transfer went, in words (handle 0: why the last request got no transfer); empty when the library
    // tells nothing.
    virtual std::string StatusText(uint32_t /*handle*/) { return {}; }
    // Why the library is not loaded: the path tried and what the loader said.
    virtual std::string LoadFailure() const { return {}; }
};
