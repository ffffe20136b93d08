#pragma once

// The journal and the settings of a stand-in library, shared by the automation library's stand-ins
// (client library, ingest setup library, shared-file library). Tests reach them through each
// library's control entry: they read the calls the system made and set what the library answers.

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace standin
{

class Journal
{
public:
    void Add(const std::string& line)
    {
        std::lock_guard lock(_mutex);
        _lines.push_back(line);
    }
    // Every call so far, one per line, each ending in "\n".
    std::string Text() const
    {
        std::lock_guard lock(_mutex);
        std::string text;
        for (const std::string& line : _lines)
            text += line + "\n";
        return text;
    }
    void Set(const std::string& key, const std::string& value)
    {
        std::lock_guard lock(_mutex);
        _settings[key] = value;
    }
    std::string Get(const std::string& key, const std::string& fallback = "") const
    {
        std::lock_guard lock(_mutex);
        auto it = _settings.find(key);
        return it == _settings.end() ? fallback : it->second;
    }
    int GetInt(const std::string& key, int fallback = 0) const
    {
        std::string value = Get(key);
        return value.empty() ? fallback : std::atoi(value.c_str());
    }
    bool Has(const std::string& key) const
    {
        std::lock_guard lock(_mutex);
        return _settings.count(key) != 0;
    }
    void Reset()
    {
        std::lock_guard lock(_mutex);
        _lines.clear();
        _settings.clear();
    }

    // The control entry's work: "reset" clears journal and settings, "journal" copies the journal into
    // reply (cut to fit, terminated) and answers its full size plus one, any other key sets a value.
    int Control(const char* key, const char* value, char* reply, int replySize)
    {
        std::string k = key ? key : "";
        if (k == "reset") {
            Reset();
            return 0;
        }
        if (k == "journal") {
            std::string text = Text();
            if (reply && replySize > 0) {
                size_t n = std::min(text.size(), static_cast<size_t>(replySize) - 1);
                text.copy(reply, n);
                reply[n] = 0;
            }
            return static_cast<int>(text.size()) + 1;
        }
        Set(k, value ? value : "");
        return 0;
    }

private:
    mutable std::mutex _mutex;
    std::vector<std::string> _lines;
    std::map<std::string, std::string> _settings;
};

// A text argument for the journal; "(null)" for a null pointer.
inline std::string Arg(const char* text)
{
    return text ? text : "(null)";
}

// Exactly size bytes of a buffer that carries no terminator.
inline std::string Bytes(const char* data, int size)
{
    if (!data)
        return "(null)";
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace standin
