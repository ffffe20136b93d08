#pragma once

#include <string>

// The icon of a message box.
enum class MessageIcon { None, Information, Exclamation, Error, Stop };

// Where the browser's logic shows its message boxes: the window program shows them, tests capture them. An empty
// caption stands for the system's default caption.
class IMessageSink
{
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};
