#pragma once

#include "automation/AutomationAPI.h"
#include "automation/DravikExport.h"
#include "automation/QlaStatus.h"
#include "automation/QoString.h"

namespace MirelQla
{

// The library's entry object: binds the transfer service's client library on first use and hands out
// the automation API. Made by NewHost, deleted by the caller, before or after the transactions it made:
// the client library is given back and unloaded once the host and all of them are gone.
class DRAVIK_API Host
{
public:
    static Host* NewHost();

    virtual ~Host();
    virtual QlaStatus GetAutomationAPI(AutomationAPI** out) = 0;
    virtual QlaStatus CheckAPIVersion(bool* compatible, Qo::QoString& version) = 0;
    virtual QlaStatus GetLibraryInfoText(Qo::QoString& text) = 0;
    virtual QlaStatus QueryNameTexts(Qo::QoString name, Qo::QoString& first, Qo::QoString& second) = 0;
    virtual QlaStatus GetOfflineAutomationAPI(AutomationAPI** out) = 0;

protected:
    Host();
    Host(const Host& other);
    Host& operator=(const Host& other);
};

}  // namespace MirelQla
