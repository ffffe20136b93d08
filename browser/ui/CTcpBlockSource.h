#pragma once

#include <memory>
#include <string>

#include "browser/ITcpBlockSource.h"

class IMessageSink;
class TCPBlockSender;

// The TCP block server of a local clip's transfer: the browser's block sender, publishing the address that the
// transfer host reaches, its send errors shown through the view's message sink.
class CTcpBlockSource : public ITcpBlockSource
{
public:
    CTcpBlockSource(std::string transferHost, IMessageSink& sink);
    ~CTcpBlockSource() override;

    bool Listen(std::string& address) override;
    bool WaitForReceiver(uint32_t timeoutMs) override;
    // The path may be a drive or UNC path; it is mapped to the local file system.
    bool StartSending(const std::string& path) override;
    void Stop() override;

private:
    std::string _szTransferHost;
    IMessageSink& _sink;
    std::unique_ptr<TCPBlockSender> _pSender;
};
