#include "outside/tessan/CTransfer.h"

namespace tessan
{

bool CTransfer::LoadPlugin(TransferResult& result)
{
    if (_library.Open(_strPlugin))
        return true;
    result.hostText = "cannot load " + platform::SharedLibrary::ResolveName(_strPlugin) + ": " + _library.LastError();
    return false;
}

void* CTransfer::Export(const char* name, const char* otherName) const
{
    void* symbol = _library.Symbol(name);
    if (!symbol && otherName)
        symbol = _library.Symbol(otherName);
    return symbol;
}

// A plug-in's control call must not take the service down: its exception is dropped here, and the
// transfer thread meets the fault on its next call.
void CTransfer::CallQuietly(void (CTransfer::*call)())
{
    try {
        (this->*call)();
    } catch (...) {
    }
}

void CTransfer::Control(std::atomic<bool>& flag, bool value, void (CTransfer::*call)())
{
    std::lock_guard lock(_controlMutex);
    flag = value;
    if (_bAttached)
        CallQuietly(call);
}

void CTransfer::Pause()
{
    Control(_bPaused, true, &CTransfer::PluginPause);
}

void CTransfer::Resume()
{
    Control(_bPaused, false, &CTransfer::PluginResume);
}

void CTransfer::Cancel()
{
    Control(_bCancel, true, &CTransfer::PluginCancel);
}

void CTransfer::Attach()
{
    std::lock_guard lock(_controlMutex);
    _bAttached = true;
    if (_bCancel)
        CallQuietly(&CTransfer::PluginCancel);
    else if (_bPaused)
        CallQuietly(&CTransfer::PluginPause);
}

void CTransfer::Detach()
{
    std::lock_guard lock(_controlMutex);
    _bAttached = false;
}

}  // namespace tessan
