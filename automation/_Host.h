#pragma once

#include <memory>

#include "automation/ApiLoader.h"
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
    // Gives back the client API object of an earlier attempt and frees its library.
    void ReleaseClient();

    StatusCode _nStatus = kQlaErrorNotInitialized;
    QlmClientAPI* _pClient = nullptr;
    std::unique_ptr<ApiLoader> _pLoader;
    std::unique_ptr<_AutomationAPI> _pAutomation;
};

}  // namespace MirelQla
