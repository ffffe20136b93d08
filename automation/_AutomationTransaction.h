#pragma once

#include <memory>
#include <mutex>

#include "automation/AutomationTransaction.h"
#include "automation/ClientBinding.h"
#include "outside/tessanapi/interface/QlmClient.h"

namespace MirelQla
{

// A transaction over the client library's own transaction object, which it never owns. It keeps the client
// library bound while it lives, so it stays usable after its host has been deleted. Its operations may be
// called from several threads: each call on the client transaction, and each copy of the record the client
// publishes, is made under one lock, so a record is always copied out whole.
class _AutomationTransaction : public AutomationTransaction
{
public:
    explicit _AutomationTransaction(QlmClientTransaction* client, ClientBinding::Ref binding = {})
        : _pClient(client), _pBinding(std::move(binding))
    {
    }
    ~_AutomationTransaction() override = default;

    QlaStatus RequestAction1(Qo::QoString text) override;
    QlaStatus RequestAction2(Qo::QoString text) override;
    QlaStatus RequestAction3(Qo::QoString text) override;
    QlaStatus RequestAction4(Qo::QoString text) override;
    QlaStatus GetCachedStatus(TransferStatusRecord* out) override;
    QlaStatus GetStatus(TransferStatusRecord* out) override;
    QlaStatus GetStatusText(Qo::QoString& text) override;
    virtual bool IsEqual(const _AutomationTransaction& other) const;

    // Copies a client record field by field, bringing kind, priority and state into their ranges; a text
    // that fills its field is cut by one character, so every text ends with a zero.
    static void CopyRecord(const TransferStatusRecord& from, TransferStatusRecord& to);

private:
    QlaStatus Action(int (QlmClientTransaction::*operation)(const char*), const Qo::QoString& text);
    QlaStatus CheckArguments(const TransferStatusRecord* out) const;

    QlmClientTransaction* _pClient;
    ClientBinding::Ref _pBinding;
    std::mutex _mutex;
};

}  // namespace MirelQla
