#pragma once

#include <string>

#include "platform/Event.h"

// The progress dialog as the transfer loop sees it: a caption, a bar from 0 to 100 and the cancel signal (an
// auto-reset event, so presses within one poll cycle count once).
class ITransferProgress
{
public:
    virtual ~ITransferProgress() = default;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetProgress(int percent) = 0;
    // Signalled by the Cancel button.
    platform::Event& CancelEvent() { return _cancel; }
    void Cancel() { _cancel.Set(); }

private:
    platform::Event _cancel{false, false};
};
