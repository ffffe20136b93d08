#include "outside/ambrel/CAmbrelScript.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ambrel
{

std::optional<ScriptStep> AmbrelScript::ParseStep(const std::string& word)
{
    if (word == "unavailable")
        return ScriptStep{kStatusUnavailable, 0};
    if (word == "complete")
        return ScriptStep{kStatusComplete, 100};
    if (word == "cancelled")
        return ScriptStep{kStatusCancelled, 0};
    if (word == "error")
        return ScriptStep{kStatusError, 0};
    if (word.rfind("run:", 0) == 0) {
        char* end = nullptr;
        const double percent = std::strtod(word.c_str() + 4, &end);
        if (end == word.c_str() + 4 || *end)
            return std::nullopt;
        return ScriptStep{0, percent};
    }
    char* end = nullptr;
    const long long value = std::strtoll(word.c_str(), &end, 0);
    if (word.empty() || *end)
        return std::nullopt;
    return ScriptStep{static_cast<int32_t>(static_cast<uint32_t>(value)), 0};
}

std::optional<AmbrelScript> AmbrelScript::Load(const std::string& path, std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        if (error)
            *error = "cannot read " + path;
        return std::nullopt;
    }
    AmbrelScript script;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (size_t hash = line.find('#'); hash != std::string::npos)
            line.resize(hash);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key))
            continue;
        auto fail = [&] {
            if (error)
                *error = path + ":" + std::to_string(number) + ": not understood";
            return std::nullopt;
        };
        if (key == "request") {
            int handle = 1;
            int32_t code = 0;
            if (!(words >> handle >> code))
                return fail();
            script.bGiveHandle = handle != 0;
            script.nError = code;
            continue;
        }
        if (key == "text") {
            std::getline(words >> std::ws, script.strText);
            continue;
        }
        if (key != "status" && key != "cancel")
            return fail();
        std::vector<ScriptStep> steps;
        std::string word;
        while (words >> word) {
            auto step = ParseStep(word);
            if (!step)
                return fail();
            steps.push_back(*step);
        }
        if (steps.empty())
            return fail();
        (key == "status" ? script.vStatus : script.vAfterCancel) = std::move(steps);
    }
    return script;
}

int32_t CScriptedTransfer::Status(double* progress)
{
    std::lock_guard lock(_mx);
    const std::vector<ScriptStep>& steps =
        _bCancelled && !_script.vAfterCancel.empty() ? _script.vAfterCancel : _script.vStatus;
    const ScriptStep& step = steps[std::min(_nNext, steps.size() - 1)];
    ++_nNext;
    if (progress)
        *progress = step.dProgress;
    return step.nStatus;
}

int32_t CScriptedTransfer::Cancel()
{
    std::lock_guard lock(_mx);
    if (!_bCancelled && !_script.vAfterCancel.empty()) {
        _bCancelled = true;
        _nNext = 0;
    }
    return 0;
}

}  // namespace ambrel
