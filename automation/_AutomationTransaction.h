#pragma once

#include "automation/AutomationTransaction.h"
#include "outside/tessanapi/interface/QlmClient.h"

namespace MirelQla
{

// A transaction over the client library's own transaction object, which it never owns.
class _AutomationTransaction : public AutomationTransaction
{
public:
    explicit _AutomationTransaction(QlmClientTransaction* client) : _pClient(client) {}
    ~_AutomationTransaction() override = default;

    QlaStatus RequestAction1(Qo::QoString text) override;
    QlaStatus RequestAction2(Qo::QoString text) override;
    QlaStatus RequestAction3(Qo::QoString text) override;
    QlaStatus RequestAction4(Qo::QoString text) override;
    QlaStatus GetCachedStatus(TransferStatusRecord* out) override;
    QlaStatus GetStatus(TransferStatusRecord* out) override;
    QlaStatus GetStatusText(Qo::QoString& text) override;
    virtual bool IsEqual(const _AutomationTransaction& other) const;

    // Copies a client record field by field, bringing kind, priority and state into their ranges.
    static void CopyRecord(const TransferStatusRecord& from, TransferStatusRecord& to);

private:
    QlaStatus Action(int (QlmClientTransaction::*operation)(const char*), const Qo::QoString& text);
    QlaStatus CheckArguments(const TransferStatusRecord* out) const;

    QlmClientTransaction* _pClient;
};

}  // namespace MirelQla
