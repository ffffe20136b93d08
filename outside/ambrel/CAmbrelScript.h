#pragma once
// The scripted backend: a text file that says how each request goes. Lines (blank ones and '#' comments skipped):
//   request <handle> <error>   whether a handle is given (0 or 1) and the error code written (default "1 0")
//   status <word>...           the status of each poll in turn; the last one repeats
//   cancel <word>...           after a cancel the polls follow this list instead; without it a cancel changes nothing
//   text <words>               the status text the transfer gives (the rest of the line)
// A word is "run:<percent>" (running), "unavailable", "complete", "cancelled", "error", or a number (decimal or
// 0x hexadecimal) taken as the status word itself.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "outside/ambrel/CAmbrelTransfer.h"

namespace ambrel
{

struct ScriptStep {
    int32_t nStatus = 0;
    double dProgress = 0;
};

struct AmbrelScript {
    bool bGiveHandle = true;
    int32_t nError = 0;
    std::vector<ScriptStep> vStatus{{kStatusComplete, 100}};
    std::vector<ScriptStep> vAfterCancel;  // empty: a cancel changes nothing
    std::string strText;

    // None when the file cannot be read or a line is not understood.
    static std::optional<AmbrelScript> Load(const std::string& path, std::string* error);
    static std::optional<ScriptStep> ParseStep(const std::string& word);
};

class CScriptedTransfer : public CAmbrelTransfer
{
public:
    explicit CScriptedTransfer(AmbrelScript script) : _script(std::move(script)) {}
    int32_t Status(double* progress) override;
    int32_t Cancel() override;
    std::string StatusText() override { return _script.strText; }

private:
    std::mutex _mx;
    AmbrelScript _script;
    size_t _nNext = 0;
    bool _bCancelled = false;
};

}  // namespace ambrel
