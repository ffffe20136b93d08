#pragma once

#include <string>

#include "browser/IRequestLibrary.h"
#include "platform/SharedLibrary.h"

// The request library loaded at run time ("Ambrel" is libAmbrel.so in the library folder), its four entries
// taken by name, and its status text where it has one.
class CAmbrelLibrary : public IRequestLibrary
{
public:
    explicit CAmbrelLibrary(const std::string& name = "Ambrel");

    bool IsLoaded() const override { return _pRequest && _pStatus && _pCancel && _pRelease; }
    const std::string& GetName() const { return _szName; }
    const std::string& LastError() const { return _library.LastError(); }

    uint32_t RequestTransferXML(const char* jobXml, const char* targetHost, int32_t mxfAaf, int32_t* error) override;
    int32_t TransferStatus(uint32_t handle, double* progress) override;
    int32_t CancelTransfer(uint32_t handle) override;
    void ReleaseHandle(uint32_t handle) override;
    std::string StatusText(uint32_t handle) override;
    std::string LoadFailure() const override;

private:
    using RequestFn = uint32_t (*)(const char*, const char*, int32_t, int32_t*);
    using StatusFn = int32_t (*)(uint32_t, double*);
    using CancelFn = int32_t (*)(uint32_t);
    using ReleaseFn = int32_t (*)(uint32_t);
    using StatusTextFn = int32_t (*)(uint32_t, char*, int32_t);

    std::string _szName;
    platform::SharedLibrary _library;
    RequestFn _pRequest = nullptr;
    StatusFn _pStatus = nullptr;
    CancelFn _pCancel = nullptr;
    ReleaseFn _pRelease = nullptr;
    StatusTextFn _pStatusText = nullptr;
};
