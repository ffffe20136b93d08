#include "browser/ui/CTcpBlockSource.h"

#include "browser/CTcpBlockSender.h"
#include "platform/Paths.h"

CTcpBlockSource::CTcpBlockSource(std::string transferHost) : _szTransferHost(std::move(transferHost)) {}

CTcpBlockSource::~CTcpBlockSource()
{
    Stop();
}

bool CTcpBlockSource::Listen(std::string& address)
{
    try {
        _pSender = std::make_unique<TCPBlockSender>();
    } catch (...) {
        // The sender's socket layer reports a machine without network or name by throwing.
        _szListenError = "no listening socket could be made";
        return false;
    }
    // A receiver that closed its end wants nothing more: the transfer's outcome speaks for it.
    _pSender->SetMessageSink(
        [this](const std::string&, const std::string&) { _bSendFailed = !_pSender->HasReceiverClosed(); });
    if (_pSender->Listen() != 0) {
        _szListenError = "no port to listen on";
        return false;
    }
    if (_pSender->GetPublishedAddress(_szTransferHost, &address) != 0) {
        _szListenError = _pSender->GetAddressError();
        return false;
    }
    return true;
}

bool CTcpBlockSource::WaitForReceiver(uint32_t timeoutMs)
{
    return _pSender && _pSender->WaitForConnection(timeoutMs) == 0;
}

bool CTcpBlockSource::StartSending(const std::string& path)
{
    return _pSender && _pSender->StartSending(platform::ToLocalPath(path)) == 0;
}

void CTcpBlockSource::Stop()
{
    if (_pSender)
        _pSender->Stop();
    _pSender.reset();
}
