#include "automation/_Host.h"

#include <cstdlib>
#include <cstring>

#include "automation/ApiLog.h"
#include "automation/StatusTranslation.h"

namespace MirelQla
{

namespace
{
const char kClientVersion[] = "0.8";
constexpr size_t kVersionRoom = 80;

QlaStatus Code(StatusCode code)
{
    return QlaStatus(code, nullptr, nullptr);
}

// Lines the library once sent to the debugger go to its own log.
void DebugText(const char* text, const char* value = "")
{
    ApiLog::Instance().Write(3, text, value);
}
}  // namespace

const char* _Host::ClientLibraryName()
{
    return "tessanapiVC7";
}

_Host::~_Host()
{
    _pOnline.reset();
    _pOffline.reset();
    _pBinding.reset();
}

QlaStatus _Host::Connect(AutomationAPI** out)
{
    DebugText("Loading DLL -  %s", ClientLibraryName());
    // An earlier attempt that failed may have left its object and library bound: give them back first.
    // Nothing handed out refers to that object, as it never connected.
    _pBinding.reset();
    _pBinding = ClientBinding::Bind(std::make_unique<ApiLoader>(ClientLibraryName(), kClientVersion));
    QlmClientAPI* client = Client();
    if (!client) {
        DebugText("API loader failed to load API");
        _nStatus = kQlaErrorCannotLoadLibrary;
        return QlaStatus(_nStatus, nullptr, _pBinding->Loader().Reason().c_str());
    }
    char address[32];
    std::snprintf(address, sizeof address, "0x%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(client)));
    DebugText("API Object addr: %s", address);
    char version[kVersionRoom] = {};
    const char* server = client->ServerVersion();
    if (server)
        std::strncpy(version, server, kVersionRoom - 1);
    int result = client->CheckVersion(version);
    if (result != 0) {
        _nStatus = QlmCodeToStatus(result);
        return Code(_nStatus);
    }
    DebugText("APIVersCompat: API is compatible with the server");
    _nStatus = kSuccess;
    _pOnline = std::make_unique<_AutomationAPI>(this, _pBinding);
    if (out)
        *out = _pOnline.get();
    for (const char* mode : {"WorkGroup", "Playback", "Ingest", "Zelt"}) {
        char* text = nullptr;
        client->ModeText(mode, &text);
        std::free(text);
    }
    return Code(kSuccess);
}

QlaStatus _Host::GetAutomationAPI(AutomationAPI** out)
{
    try {
        if (_nStatus != kSuccess)
            return Connect(out);
        if (out) {
            if (!_pOnline)
                _pOnline = std::make_unique<_AutomationAPI>(this, _pBinding);
            *out = _pOnline.get();
        }
        return Code(kSuccess);
    } catch (...) {
        return Code(kUnknownError);
    }
}

QlaStatus _Host::CheckAPIVersion(bool* compatible, Qo::QoString& version)
{
    if (_nStatus != kSuccess)
        return Code(_nStatus);
    try {
        char buffer[kVersionRoom] = {};
        std::strncpy(buffer, version.ToCString(), kVersionRoom - 1);
        int result = Client()->CheckVersion(buffer);
        buffer[kVersionRoom - 1] = 0;
        if (compatible)
            *compatible = result == 0;
        if (!version.IsEmpty())
            version = buffer;
        return Code(kSuccess);
    } catch (...) {
        return Code(kUnknownError);
    }
}

QlaStatus _Host::GetLibraryInfoText(Qo::QoString& text)
{
    if (_nStatus != kSuccess)
        return Code(_nStatus);
    try {
        const char* info = Client()->InformationText();
        if (!text.IsEmpty())
            return Code(kQlaErrorUninitializedParameter);
        text = info;
        return Code(kSuccess);
    } catch (...) {
        return Code(kUnknownError);
    }
}

QlaStatus _Host::QueryNameTexts(Qo::QoString name, Qo::QoString& first, Qo::QoString& second)
{
    if (_nStatus != kSuccess)
        return Code(_nStatus);
    try {
        const char* one = nullptr;
        const char* two = nullptr;
        int result = Client()->QueryNameTexts(name.ToCString(), &one, &two);
        QlaStatus status;
        if (result != 0) {
            status.SetStatus(QlmCodeToStatus(result), nullptr, nullptr);
            return status;
        }
        first = one;
        second = two;
        return Code(kSuccess);
    } catch (...) {
        return Code(kUnknownError);
    }
}

QlaStatus _Host::GetOfflineAutomationAPI(AutomationAPI** out)
{
    try {
        if (!_pOffline)
            _pOffline = std::make_unique<_AutomationAPI>(this, static_cast<QlmClientAPI*>(nullptr));
        if (out)
            *out = _pOffline.get();
        return Code(kSuccess);
    } catch (...) {
        return Code(kUnknownError);
    }
}

}  // namespace MirelQla
