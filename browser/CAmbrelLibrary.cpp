#include "browser/CAmbrelLibrary.h"

#include <algorithm>

CAmbrelLibrary::CAmbrelLibrary(const std::string& name) : _szName(name)
{
    if (!_library.Open(name))
        return;
    _pRequest = reinterpret_cast<RequestFn>(_library.Symbol("RequestTransferXML"));
    _pStatus = reinterpret_cast<StatusFn>(_library.Symbol("TransferStatus"));
    _pCancel = reinterpret_cast<CancelFn>(_library.Symbol("CancelTransfer"));
    _pRelease = reinterpret_cast<ReleaseFn>(_library.Symbol("ReleaseHandle"));
    _pStatusText = reinterpret_cast<StatusTextFn>(_library.Symbol("TransferStatusText"));
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

std::string CAmbrelLibrary::StatusText(uint32_t handle)
{
    if (!IsLoaded() || !_pStatusText)
        return {};
    std::string text(1024, '\0');
    const int32_t length = _pStatusText(handle, text.data(), static_cast<int32_t>(text.size()));
    if (length <= 0)
        return {};
    text.resize(std::min(static_cast<size_t>(length), text.size() - 1));
    return text;
}

std::string CAmbrelLibrary::LoadFailure() const
{
    const std::string path = platform::SharedLibrary::ResolveName(_szName);
    if (!_library.IsOpen()) {
        const std::string& said = _library.LastError();
        // The loader's message names the file already, as a rule.
        return said.find(path) != std::string::npos ? said : path + ": " + (said.empty() ? "not loaded" : said);
    }
    return IsLoaded() ? std::string() : path + " lacks RequestTransferXML, TransferStatus, CancelTransfer or ReleaseHandle";
}
