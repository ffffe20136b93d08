#pragma once

#include <optional>
#include <string>
#include <vector>

namespace snmpagent
{

// The file names of the programs that run now (from /proc/<pid>/exe); "<unknown>" for a process whose
// program cannot be read. nullopt when the processes cannot be listed.
std::optional<std::vector<std::string>> RunningProgramNames();

}  // namespace snmpagent
