#include "snmpagent/ProcessList.h"

#include <cctype>
#include <filesystem>

namespace snmpagent
{

std::optional<std::vector<std::string>> RunningProgramNames()
{
    std::error_code ec;
    std::filesystem::directory_iterator it("/proc", ec);
    if (ec)
        return std::nullopt;
    std::vector<std::string> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string pid = it->path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        std::error_code linkError;
        std::filesystem::path exe = std::filesystem::read_symlink(it->path() / "exe", linkError);
        names.push_back(linkError ? "<unknown>" : exe.filename().string());
    }
    return names;
}

}  // namespace snmpagent
