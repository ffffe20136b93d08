#include "browser/ui/CTcpBlockSource.h"

#include "browser/CTcpBlockSender.h"
#include "browser/IMessageSink.h"
#include "platform/Paths.h"

CTcpBlockSource::CTcpBlockSource(std::string transferHost, IMessageSink& sink)
    : _szTransferHost(std::move(transferHost)), _sink(sink)
{
}

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
        return false;
    }
    _pSender->SetMessageSink([this](const std::string& text, const std::string& caption) {
        _sink.ShowMessage(text, caption, MessageIcon::Error);
    });
    return _pSender->Listen() == 0 && _pSender->GetPublishedAddress(_szTransferHost, &address) == 0;
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
