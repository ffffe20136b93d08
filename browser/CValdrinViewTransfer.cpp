// The transfer request of one listed clip and its status loop.
#include "browser/CValdrinViewCore.h"
#include "browser/IngestJobXml.h"
#include "common/FormatText.h"
#include "platform/Wait.h"

namespace
{

constexpr int kUnavailableLimit = 5;

std::string RequestErrorText(int32_t error)
{
    switch (error) {
        case 1:
            return "------ FAILED to Get HOST !!";
        case 2:
            return "------ FAILED to Init API !!";
        case 3:
            return "- FAILED to request Transfer";
        case 4:
            return "FAILED To create Transaction !";
        default:
            return FormatText("Request Error code %i [0x%04x]", static_cast<int>(error), static_cast<unsigned>(error));
    }
}

// The closing text with the reason the request library gives on a second line.
std::string WithReason(const std::string& text, const std::string& reason)
{
    return reason.empty() ? text : text + "\n" + reason;
}

}  // namespace

int CValdrinViewCore::BuildJob(const std::string& itemName, const std::string& tcpAddress, std::string& job)
{
    return _settings._bUseRix ? GetFTPInfos(itemName, job) : GetFileInfos(itemName, job, tcpAddress.c_str());
}

void CValdrinViewCore::DoTransfer(const std::string& itemName, ITransferProgress& progress)
{
    const std::string path = _settings._szCurrentFolder + itemName;
    std::unique_ptr<ITcpBlockSource> tcp;
    uint32_t handle = 0;
    // Step 9 of every road: the TCP service stops, a handle is given back.
    auto cleanUp = [&] {
        if (tcp) {
            tcp->Stop();
            tcp.reset();
        }
        if (handle != 0 && _pLibrary)
            _pLibrary->ReleaseHandle(handle);
    };

    std::string address;
    const bool local = !_settings._bUseRix;
    if (local && _settings._bTcpTransfer && _tcpFactory) {
        tcp = _tcpFactory();
        if (!tcp || !tcp->Listen(address)) {
            const std::string why = tcp ? tcp->ListenError() : std::string();
            _log.Log("CValdrinView::DoTransfer : TCP block server NOT listening %s", why.c_str());
            Message(WithReason("TCP Transfer Connection NOT established !", why), "ERROR", MessageIcon::Error);
            cleanUp();
            return;
        }
    }

    std::string job;
    if (BuildJob(itemName, address, job) != 0) {
        Message("Failed to get File's information", "Transfer Error", MessageIcon::Error);
        cleanUp();
        return;
    }
    ingestjob::WriteFixedCopy(job, _szFixedCopyPath);

    if (!_pLibrary || !_pLibrary->IsLoaded()) {
        const std::string why = _pLibrary ? _pLibrary->LoadFailure() : "no request library";
        _log.Log("CValdrinView::DoTransfer : request library NOT loaded: %s", why.c_str());
        Message(WithReason("Transfer request library NOT loaded !", why), "ERROR", MessageIcon::Error);
        cleanUp();
        return;
    }
    int32_t error = 0;
    handle =
        _pLibrary->RequestTransferXML(job.c_str(), _settings._szTargetHost.c_str(), _settings._bOmf ? 0 : 1, &error);
    if (handle == 0) {
        const std::string why = _pLibrary->StatusText(0);
        _log.Log("CValdrinView::DoTransfer : request refused [%i] %s", static_cast<int>(error), why.c_str());
        Message(WithReason(RequestErrorText(error), why), "ERROR", MessageIcon::Error);
        cleanUp();
        return;
    }
    if (error != 0) {
        _log.Log("CValdrinView::DoTransfer : request gave handle %u with error %i", handle, static_cast<int>(error));
        Message(FormatText("Error in Request Transfer ! - %i", static_cast<int>(error)), "ERROR", MessageIcon::Error);
        cleanUp();
        return;
    }

    if (tcp) {
        if (!tcp->WaitForReceiver(_timings.nTcpConnectMs)) {
            Message("TCP Transfer Connection NOT established !", "ERROR", MessageIcon::Error);
            cleanUp();
            return;
        }
        tcp->StartSending(path);
    }

    progress.SetCaption("Transfer Running ...");
    int unavailable = 0;
    int32_t status = 0;
    bool cancelAsked = false;
    do {
        if (progress.CancelEvent().Wait(_timings.nPollMs) == platform::kWaitObject0) {
            cancelAsked = true;
            _pLibrary->CancelTransfer(handle);
        }
        double percent = 0;
        status = _pLibrary->TransferStatus(handle, &percent);
        if (status == kTransferStatusUnavailable) {
            if (++unavailable < kUnavailableLimit)
                status = 0;
        } else {
            progress.SetProgress(static_cast<int>(percent));
            unavailable = 0;
        }
    } while (status >= 0);

    const std::string said = status == kTransferStatusUnavailable ? std::string() : _pLibrary->StatusText(handle);
    _log.Log("CValdrinView::DoTransfer : transfer %u ended with 0x%08x %s", handle, static_cast<unsigned>(status),
             said.c_str());
    // The sender's own box only for a send that failed while the receiver still wanted data; a receiver that
    // closed its end (its last frame, a cancel, a failure of its own) leaves the closing box alone to speak.
    if (tcp && tcp->SendFailed() && status != kTransferComplete)
        Message("SendBlock Error", "TCPBlockSender Error", MessageIcon::Error);
    switch (status) {
        case kTransferComplete:
            // A cancel that came after the last frame changed nothing: say so, the clip is in.
            Message(cancelAsked
                        ? "Transfer Complete !\nThe cancel came after the last frame: the whole clip was ingested."
                        : "Transfer Complete !",
                    "Success", MessageIcon::Information);
            break;
        case kTransferCancelled:
            Message(WithReason("Transfer CANCELED !",
                               said.empty() ? std::string() : "The clip did not come in whole: " + said),
                    "Interrupted", MessageIcon::Exclamation);
            break;
        case kTransferError:
            Message(WithReason("Transfer ERROR !", said), "ERROR", MessageIcon::Error);
            break;
        case kTransferStatusUnavailable:
            Message("ERROR getting Status !", "ERROR", MessageIcon::Error);
            break;
        default:
            Message(
                FormatText("Transfer Error code %i [0x%04x]", static_cast<int>(status), static_cast<unsigned>(status)),
                "ERROR", MessageIcon::Error);
            break;
    }
    cleanUp();
}
