#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/SharedLibrary.h"

namespace tessan
{

// What a transfer ended with. Complete only when every frame went through and the plug-in closed
// without fault.
struct TransferResult {
    bool complete = false;
    bool cancelled = false;
    int32_t code = -1;       // the plug-in's last result code (-1 when it was never reached)
    std::string pluginText;  // the plug-in's error text
    std::string hostText;    // what the service itself found wrong
    int64_t frames = 0;      // pictures moved
    int64_t expectedFrames = 0;
};

// What the ingest and playout transfers share: the plug-in library, its loading and the control
// that may come from another thread (pause, resume, cancel) while Run works.
class CTransfer
{
public:
    virtual ~CTransfer() = default;

    // The plug-in to load: a path, or a bare name looked up in the library folder.
    void SetPlugin(const std::string& plugin) { _strPlugin = plugin; }

    // From any thread, also before Run has reached the plug-in (then applied once it is open).
    void Pause();
    void Resume();
    void Cancel();
    bool IsPaused() const { return _bPaused; }

    int64_t FramesDone() const { return _nFramesDone; }
    int64_t FramesExpected() const { return _nFramesExpected; }

protected:
    explicit CTransfer(std::string defaultPlugin) : _strPlugin(std::move(defaultPlugin)) {}

    // Loads the plug-in library; false with the reason in hostText.
    bool LoadPlugin(TransferResult& result);
    // An export of the plug-in, the first of two names found; null when neither is.
    void* Export(const char* name, const char* otherName = nullptr) const;

    // The plug-in object's control operations, called under the control lock while the object lives.
    virtual void PluginPause() = 0;
    virtual void PluginResume() = 0;
    virtual void PluginCancel() = 0;
    // Marks the plug-in object as live (the requested pause or cancel is applied) or gone.
    void Attach();
    void Detach();
    // Runs a plug-in call; an exception becomes a host error naming the call.
    template <class Call>
    bool Guard(TransferResult& result, const char* what, Call&& call);

    bool CancelRequested() const { return _bCancel; }

    std::atomic<int64_t> _nFramesDone{0};
    std::atomic<int64_t> _nFramesExpected{0};
    std::mutex _controlMutex;

private:
    void CallQuietly(void (CTransfer::*call)());
    void Control(std::atomic<bool>& flag, bool value, void (CTransfer::*call)());

    std::string _strPlugin;
    platform::SharedLibrary _library;
    bool _bAttached = false;
    std::atomic<bool> _bPaused{false};
    std::atomic<bool> _bCancel{false};
};

template <class Call>
bool CTransfer::Guard(TransferResult& result, const char* what, Call&& call)
{
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        if (result.hostText.empty())
            result.hostText = std::string("the plug-in threw in ") + what + ": " + e.what();
    } catch (...) {
        if (result.hostText.empty())
            result.hostText = std::string("the plug-in threw in ") + what;
    }
    return false;
}

}  // namespace tessan
