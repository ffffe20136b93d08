#include "automation/AutomationTransaction.h"

namespace MirelQla
{

AutomationTransaction::AutomationTransaction() = default;

AutomationTransaction::AutomationTransaction(const AutomationTransaction&) {}

AutomationTransaction::~AutomationTransaction() = default;

AutomationTransaction& AutomationTransaction::operator=(const AutomationTransaction&)
{
    return *this;
}

bool AutomationTransaction::operator==(const AutomationTransaction&) const
{
    return false;
}

void AutomationTransaction::release(AutomationTransaction** transaction)
{
    if (!transaction)
        return;
    delete *transaction;
    *transaction = nullptr;
}

}  // namespace MirelQla
