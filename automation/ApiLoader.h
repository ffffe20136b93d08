#pragma once

#include <string>
#include <vector>

#include "outside/tessanapi/interface/QlmClient.h"
#include "platform/SharedLibrary.h"

namespace MirelQla
{

// Binds the transfer service's client library: loads it, checks its API version and takes its
// create and delete entries. Every step is written to the loader's log. An API object it made and nobody
// gave back is given back before the library is unloaded: the library ends its transfers there, while no
// loader lock is held, so that its threads can still load what they need on their way out.
class ApiLoader
{
public:
    enum LoadState { kBound = 0, kLoading = 1, kBinding = 2, kChecking = 3 };

    ApiLoader(const char* dllName, const char* versionText);
    ~ApiLoader();
    ApiLoader(const ApiLoader&) = delete;
    ApiLoader& operator=(const ApiLoader&) = delete;

    // A new API object, or null when the library is not bound.
    QlmClientAPI* GetAPI();
    void DeleteAPI(QlmClientAPI* api);
    int LoadState() const { return _nLoadState; }
    // Why GetAPI answers null: the library's file and the loader's message, or the step that failed.
    const std::string& Reason() const { return _strReason; }

private:
    void Bind(const char* dllName, const char* versionText);
    void Fail(const std::string& why);

    int _nLoadState = kLoading;
    QoCreateAPIFn _pCreate = nullptr;
    QoDeleteAPIFn _pDelete = nullptr;
    QoCheckAPIVersionFn _pCheck = nullptr;
    platform::SharedLibrary _library;
    std::string _strFile;
    std::string _strReason;
    std::vector<QlmClientAPI*> _apis;  // made by GetAPI and not yet given back
    int _nProgress = 0;
};

}  // namespace MirelQla
