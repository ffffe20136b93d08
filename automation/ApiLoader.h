#pragma once

#include "outside/tessanapi/interface/QlmClient.h"
#include "platform/SharedLibrary.h"

namespace MirelQla
{

// Binds the transfer service's client library: loads it, checks its API version and takes its
// create and delete entries. Every step is written to the loader's log.
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

private:
    void Bind(const char* dllName, const char* versionText);

    int _nLoadState = kLoading;
    QoCreateAPIFn _pCreate = nullptr;
    QoDeleteAPIFn _pDelete = nullptr;
    QoCheckAPIVersionFn _pCheck = nullptr;
    platform::SharedLibrary _library;
    int _nProgress = 0;
};

}  // namespace MirelQla
