#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/AutomationAPI.h"
#include "automation/ClientBinding.h"
#include "outside/tessanapi/interface/QlmClient.h"

namespace MirelQla
{

class _Host;

// The automation API over the client library's API object (none for an offline automation API).
class _AutomationAPI : public AutomationAPI
{
public:
    // Over the client library the host bound; its transactions keep it bound.
    _AutomationAPI(_Host* host, ClientBinding::Ref binding)
        : _pHost(host), _pBinding(std::move(binding)), _pClient(_pBinding ? _pBinding->Api() : nullptr)
    {
    }
    // Over an API object whose library the caller keeps loaded; null for an offline automation API.
    _AutomationAPI(_Host* host, QlmClientAPI* client) : _pHost(host), _pClient(client) {}
    ~_AutomationAPI() override = default;

    QlaStatus GetWorkGroupInfo(Qo::QoString& text) override;
    QlaStatus GetIngestInfo(Qo::QoString& text) override;
    QlaStatus GetZeltInfo(Qo::QoString& text) override;
    QlaStatus GetPlaybackInfo(Qo::QoString& text) override;
    QlaStatus RequestPriorityTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3, int& priority,
                                      AutomationTransaction** out, int option) override;
    QlaStatus RequestTransfer(Qo::QoString text1, Qo::QoString fileName, Qo::QoString text3, Qo::QoString text4,
                              AutomationTransaction** out) override;
    QlaStatus RequestFileTransfer(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName, Qo::QoString text4,
                                  AutomationTransaction** out) override;
    QlaStatus RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3, Qo::QoString text4,
                            bool tagAsGantrel, AutomationTransaction** out) override;
    QlaStatus RequestIngest(Qo::QoString text1, Qo::QoString deviceName, Qo::QoString text3, Qo::QoString text4,
                            AutomationTransaction** out) override;
    QlaStatus RequestTransferXML(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName, Qo::QoString xml,
                                 AutomationTransaction** out) override;
    QlaStatus RequestTransferXMLEx(Qo::QoString text1, Qo::QoString text2, Qo::QoString text3, Qo::QoString fileName,
                                   Qo::QoString xml, AutomationTransaction** out) override;
    QlaStatus UnimplementedRequest(Qo::QoString a, Qo::QoString b, Qo::QoString c) override;
    QlaStatus UnimplementedRequest(Qo::QoString a, Qo::QoString b) override;
    QlaStatus GetNamedText(Qo::QoString name, char* buffer, int* size) override;
    QlaStatus CreateProxyMob(Qo::QoString tapeName, ProxyTrackFlags tracks, int hours, int minutes, int seconds,
                             int frames, int rateKind, int nonDrop, int videoCompression, int audioCompression,
                             Qo::QoString fileName, char* mobIdText) override;
    QlaStatus SetMobAttribute(Qo::QoString fileName, Qo::QoString name, Qo::QoString value,
                              Qo::QoString category) override;
    QlaStatus RequestIngestFromFile(Qo::QoString text1, Qo::QoString text2, Qo::QoString fileName, Qo::QoString text4,
                                    bool tagAsGantrel, AutomationTransaction** out) override;

    QlmClientAPI* Client() const { return _pClient; }

    // The client library's "qlmmediatype" setting; false when it cannot be read.
    bool ReadMediaType(std::string& value) const;

private:
    QlaStatus ModeText(const char* mode, Qo::QoString& text);
    // Runs body when there is a client API object (-200 otherwise), turning an exception into a failure.
    QlaStatus Online(const std::function<QlaStatus()>& body);
    // A request made from a file's contents; with xmlGiven an unreadable file sends none.
    QlaStatus FileRequest(const Qo::QoString& fileName, bool xmlGiven, AutomationTransaction** out,
                          const std::function<int(const std::vector<char>&, QlmClientTransaction**)>& call);
    // Runs a client request; an accepted one with out given stores a new transaction in *out.
    QlaStatus Request(AutomationTransaction** out, const std::function<int(QlmClientTransaction**)>& call);
    // Stores a new transaction over an accepted client transaction in *out; the status of the client's result.
    QlaStatus TransactionResult(int result, QlmClientTransaction* client, AutomationTransaction** out) const;

    [[maybe_unused]] _Host* _pHost;  // the host that made it
    ClientBinding::Ref _pBinding;
    QlmClientAPI* _pClient;
};

// The answer of an automation API or a transaction that has no client library object to ask.
QlaStatus NotConnected(const char* what);

}  // namespace MirelQla
