#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "browser/ITcpBlockSource.h"

class TCPBlockSender;

// The TCP block server of a local clip's transfer: the browser's block sender, publishing the address that the
// transfer host reaches. A failed send counts only while the receiver still wanted data: the receiver closes its
// end once it has its last frame, is cancelled or fails on its own side, and a send that fails then is no error.
class CTcpBlockSource : public ITcpBlockSource
{
public:
    explicit CTcpBlockSource(std::string transferHost);
    ~CTcpBlockSource() override;

    bool Listen(std::string& address) override;
    bool WaitForReceiver(uint32_t timeoutMs) override;
    // The path may be a drive or UNC path; it is mapped to the local file system.
    bool StartSending(const std::string& path) override;
    void Stop() override;
    bool SendFailed() const override { return _bSendFailed; }
    std::string ListenError() const override { return _szListenError; }

private:
    std::string _szTransferHost;
    std::unique_ptr<TCPBlockSender> _pSender;
    std::atomic<bool> _bSendFailed{false};
    std::string _szListenError;
};
