#include "automation/ApiLoader.h"

#include <algorithm>
#include <cstdint>

#include "automation/ApiLog.h"

namespace MirelQla
{

namespace
{
constexpr int kLine = 3;

// The 32-bit form the log has always shown addresses in.
unsigned Low32(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
}  // namespace

ApiLoader::ApiLoader(const char* dllName, const char* versionText)
{
    try {
        Bind(dllName, versionText);
    } catch (...) {
        ApiLog::Instance().Write(0, "ApiLoader::ApiLoader exception; line counter: %d", _nProgress);
        Fail("an exception while binding");
    }
}

void ApiLoader::Fail(const std::string& why)
{
    if (_strReason.empty())
        _strReason = _strFile + ": " + why;
}

void ApiLoader::Bind(const char* dllName, const char* versionText)
{
    ApiLog& log = ApiLog::Instance();
    _nProgress = 0;
    _nLoadState = kLoading;
    log.SetLevel(3);
    log.SetFileName("c:\\temp\\ApiLoader");
    log.AppendDate();
    log.Write(kLine, "     ----------     ----------     ----------          ");
    _nProgress = 1;
    _strFile = platform::SharedLibrary::ResolveName(dllName ? dllName : "");
    if (!_library.Open(dllName ? dllName : "")) {
        log.Write(kLine, "ApiLoader: DllName: %s  versionString", dllName);
        log.Write(kLine, "ApiLoader: LibHandle::LoadAPI failure: %d", 126);
        log.Write(kLine, "ApiLoader: %s", _library.LastError().c_str());
        Fail("cannot load: " + _library.LastError());
        return;
    }
    _nProgress = 2;
    log.Write(kLine, "ApiLoader: handle after LibHandle::LoadAPI: %08x", Low32(&_library));
    _nLoadState = kBinding;
    _pCheck = reinterpret_cast<QoCheckAPIVersionFn>(_library.Symbol("QoCheckAPIVersion"));
    if (!_pCheck) {
        log.Write(kLine, "ApiLoader: GetProcAddr(QoCheckAPIVersion) failure: %0d", 127);
        Fail("no QoCheckAPIVersion");
        return;
    }
    _nProgress = 3;
    log.Write(kLine, "ApiLoader: checkfunc: %08x", Low32(reinterpret_cast<void*>(_pCheck)));
    _nLoadState = kChecking;
    if (_pCheck(versionText) != 0) {
        log.Write(kLine, "ApiLoader: checkfunc returned version mismatch");
        Fail(std::string("QoCheckAPIVersion rejected version ") + (versionText ? versionText : ""));
        return;
    }
    _nProgress = 4;
    _nLoadState = kBinding;
    _pCreate = reinterpret_cast<QoCreateAPIFn>(_library.Symbol("QoCreateAPI"));
    if (_pCreate)
        log.Write(kLine, "ApiLoader: getfunc: %08x", Low32(reinterpret_cast<void*>(_pCreate)));
    else
        log.Write(kLine, "ApiLoader: GetProcAddr(QoCreateAPI) failure: %0d", 127);
    if (!_pCreate)
        Fail("no QoCreateAPI");
    _nProgress = 5;
    _pDelete = reinterpret_cast<QoDeleteAPIFn>(_library.Symbol("QoDeleteAPI"));
    if (_pDelete)
        log.Write(kLine, "ApiLoader: deletefunc: %08x", Low32(reinterpret_cast<void*>(_pDelete)));
    else
        log.Write(kLine, "ApiLoader: GetProcAddr(QoDeleteAPI) failure: %0d", 127);
    if (!_pDelete)
        Fail("no QoDeleteAPI");
    _nProgress = 6;
    if (_pCreate && _pDelete)
        _nLoadState = kBound;
}

ApiLoader::~ApiLoader()
{
    ApiLog& log = ApiLog::Instance();
    while (!_apis.empty())
        DeleteAPI(_apis.back());
    if (_library.IsOpen()) {
        _library.Close();
        log.Write(kLine, "ApiLoader: destructor released handle");
    } else {
        log.Write(kLine, "ApiLoader: destructor had no handle to release");
    }
}

QlmClientAPI* ApiLoader::GetAPI()
{
    ApiLog& log = ApiLog::Instance();
    QlmClientAPI* api = nullptr;
    try {
        _nProgress = 1;
        // Both entries are needed: an object that could never be given back is not handed out.
        if (_library.IsOpen() && _pCreate && _pDelete) {
            log.Write(kLine, "ApiLoader::GetAPI: returning *getfunc;   addr: %08x",
                      Low32(reinterpret_cast<void*>(_pCreate)));
            _nProgress = 2;
            api = _pCreate();
            if (api)
                _apis.push_back(api);
            else
                Fail("QoCreateAPI made no API object");
        } else {
            log.Write(kLine, "ApiLoader::GetAPI: returning NULL");
        }
        _nProgress = 3;
        log.Write(kLine, "ApiLoader::GetAPI: returning pApi;   addr: %08x", Low32(api));
    } catch (...) {
        log.Write(kLine, "ApiLoader::GetAPI exception; line counter: %d", _nProgress);
        return nullptr;
    }
    return api;
}

void ApiLoader::DeleteAPI(QlmClientAPI* api)
{
    ApiLog& log = ApiLog::Instance();
    try {
        _apis.erase(std::remove(_apis.begin(), _apis.end(), api), _apis.end());
        if (_library.IsOpen() && _pDelete) {
            _pDelete(api);
            log.Write(kLine, "ApiLoader::DeleteAPI done");
        } else {
            log.Write(kLine, "ApiLoader::DeleteAPI: no handle or deletefunc");
        }
    } catch (...) {
        log.Write(kLine, "ApiLoader::DeleteAPI: exception");
    }
}

}  // namespace MirelQla
