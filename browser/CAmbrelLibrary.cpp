#include "browser/CAmbrelLibrary.h"

CAmbrelLibrary::CAmbrelLibrary(const std::string& name) : _szName(name)
{
    if (!_library.Open(name))
        return;
    _pRequest = reinterpret_cast<RequestFn>(_library.Symbol("RequestTransferXML"));
    _pStatus = reinterpret_cast<StatusFn>(_library.Symbol("TransferStatus"));
    _pCancel = reinterpret_cast<CancelFn>(_library.Symbol("CancelTransfer"));
    _pRelease = reinterpret_cast<ReleaseFn>(_library.Symbol("ReleaseHandle"));
}

uint32_t CAmbrelLibrary::RequestTransferXML(const char* jobXml, const char* targetHost, int32_t mxfAaf, int32_t* error)
{
    if (!IsLoaded()) {
        if (error)
            *error = 2;
        return 0;
    }
    return _pRequest(jobXml, targetHost, mxfAaf, error);
}

int32_t CAmbrelLibrary::TransferStatus(uint32_t handle, double* progress)
{
    return IsLoaded() ? _pStatus(handle, progress) : kTransferError;
}

int32_t CAmbrelLibrary::CancelTransfer(uint32_t handle)
{
    return IsLoaded() ? _pCancel(handle) : -1;
}

void CAmbrelLibrary::ReleaseHandle(uint32_t handle)
{
    if (IsLoaded())
        _pRelease(handle);
}
