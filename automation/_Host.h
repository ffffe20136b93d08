#pragma once

#include <memory>

#include "automation/ClientBinding.h"
#include "automation/Host.h"
#include "automation/_AutomationAPI.h"

namespace MirelQla
{

class _Host : public Host
{
public:
    _Host() = default;
    ~_Host() override;

    QlaStatus GetAutomationAPI(AutomationAPI** out) override;
    QlaStatus CheckAPIVersion(bool* compatible, Qo::QoString& version) override;
    QlaStatus GetLibraryInfoText(Qo::QoString& text) override;
    QlaStatus QueryNameTexts(Qo::QoString name, Qo::QoString& first, Qo::QoString& second) override;
    QlaStatus GetOfflineAutomationAPI(AutomationAPI** out) override;

    // The client library's name, "tessanapiVC7" unless a test names another.
    static const char* ClientLibraryName();

private:
    QlaStatus Connect(AutomationAPI** out);
    QlmClientAPI* Client() const { return _pBinding ? _pBinding->Api() : nullptr; }

    StatusCode _nStatus = kQlaErrorNotInitialized;
    // The client library bound by the last attempt; transactions may keep it after the host has gone.
    ClientBinding::Ref _pBinding;
    // The online automation API, made once connected, and the offline one; each lives as long as the host,
    // so a pointer handed out stays good whichever was asked for last.
    std::unique_ptr<_AutomationAPI> _pOnline;
    std::unique_ptr<_AutomationAPI> _pOffline;
};

}  // namespace MirelQla
