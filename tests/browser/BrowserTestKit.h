#pragma once
// What the browser's logic tests share: a message sink that keeps every message, a progress dialog that keeps what
// it was shown, and the request library stand-in driven by a script.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "browser/IMessageSink.h"
#include "browser/ITransferProgress.h"
#include "tests/support/TestEnv.h"

namespace browsertest
{

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Message& m)
{
    return out << "[" << m.text << "|" << m.caption << "|" << static_cast<int>(m.icon) << "]";
}

class CapturingSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override
    {
        std::lock_guard lock(_mx);
        _messages.push_back({text, caption, icon});
    }
    std::vector<Message> Messages() const
    {
        std::lock_guard lock(_mx);
        return _messages;
    }

private:
    mutable std::mutex _mx;
    std::vector<Message> _messages;
};

class RecordingProgress : public ITransferProgress
{
public:
    void SetCaption(const std::string& caption) override
    {
        std::lock_guard lock(_mx);
        _captions.push_back(caption);
    }
    void SetProgress(int percent) override
    {
        std::lock_guard lock(_mx);
        _progress.push_back(percent);
    }
    std::vector<std::string> Captions() const
    {
        std::lock_guard lock(_mx);
        return _captions;
    }
    std::vector<int> Progress() const
    {
        std::lock_guard lock(_mx);
        return _progress;
    }

private:
    mutable std::mutex _mx;
    std::vector<std::string> _captions;
    std::vector<int> _progress;
};

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Points the request library at a script and a fresh journal.
class ScriptedAmbrel
{
public:
    explicit ScriptedAmbrel(const std::string& name)
        : _script(testsupport::TestRoot() / (name + ".script")), _journal(testsupport::TestRoot() / (name + ".journal"))
    {
        std::filesystem::remove(_journal);
        setenv("AMBREL_BACKEND", "script", 1);
        setenv("AMBREL_SCRIPT", _script.c_str(), 1);
        setenv("AMBREL_JOURNAL", _journal.c_str(), 1);
    }
    ~ScriptedAmbrel()
    {
        unsetenv("AMBREL_BACKEND");
        unsetenv("AMBREL_SCRIPT");
        unsetenv("AMBREL_JOURNAL");
    }
    void Script(const std::string& text) const { std::ofstream(_script) << text; }
    std::vector<std::string> Journal() const { return ReadLines(_journal); }

private:
    std::filesystem::path _script;
    std::filesystem::path _journal;
};

}  // namespace browsertest
