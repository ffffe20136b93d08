#pragma once

#include "automation/DravikExport.h"
#include "automation/QlaStatus.h"
#include "automation/QoString.h"
#include "outside/tessanapi/interface/TransferStatusRecord.h"

namespace MirelQla
{

// One accepted transfer request: the caller controls and follows the transfer through it and gives
// it back with release. It stays usable after the Host that made it has been deleted: the transfer service's
// client library stays loaded, and the transfer goes on, until the last transaction is released. Its
// operations may be called from several threads at once; each status record comes out whole.
class DRAVIK_API AutomationTransaction
{
public:
    virtual ~AutomationTransaction();
    virtual QlaStatus RequestAction1(Qo::QoString text) = 0;
    virtual QlaStatus RequestAction2(Qo::QoString text) = 0;
    virtual QlaStatus RequestAction3(Qo::QoString text) = 0;
    virtual QlaStatus RequestAction4(Qo::QoString text) = 0;
    virtual QlaStatus GetCachedStatus(TransferStatusRecord* out) = 0;
    virtual QlaStatus GetStatus(TransferStatusRecord* out) = 0;
    virtual QlaStatus GetStatusText(Qo::QoString& text) = 0;
    // Answers false, even for a transaction compared with itself.
    virtual bool operator==(const AutomationTransaction& other) const;

    // Deletes *transaction and sets it to null; a null pointer does nothing.
    static void release(AutomationTransaction** transaction);

protected:
    AutomationTransaction();
    AutomationTransaction(const AutomationTransaction& other);
    AutomationTransaction& operator=(const AutomationTransaction& other);
};

}  // namespace MirelQla
