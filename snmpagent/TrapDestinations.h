#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "snmpagent/CommonSnmpStruct.h"

// The SNMP service's trap destinations: the registry key that holds them (values "1", "2", ... under the
// community's key, each an address text), read by the agent and by the sub-agent host that sends the traps,
// written by the agent, and packed into the destination rows of the shared block.
namespace snmpagent
{

constexpr char kTrapConfigKey[] = "System\\CurrentControlSet\\Services\\SNMP\\Parameters\\TrapConfiguration";
constexpr char kTrapCommunityName[] = "public";

// The community's key, which holds the destinations.
inline std::string TrapDestinationKey()
{
    return std::string(kTrapConfigKey) + "\\" + kTrapCommunityName;
}

// Registry keys are opened level by level: true when every level of path exists in the machine hive.
inline bool MachineKeyPathExists(const std::string& path)
{
    for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1)) {
        if (!platform::Registry::KeyExists(platform::RegHive::LocalMachine, path.substr(0, pos)))
            return false;
    }
    return platform::Registry::KeyExists(platform::RegHive::LocalMachine, path);
}

// A destination value's text: at most maxSize bytes, up to its first zero.
inline std::string TrapDestinationText(const platform::RegValue& value, size_t maxSize = std::string::npos)
{
    const size_t n = std::min(value.data.size(), maxSize);
    std::string text(value.data.begin(), value.data.begin() + static_cast<std::ptrdiff_t>(n));
    return text.substr(0, strnlen(text.c_str(), text.size()));
}

// The destinations in the registry's order, empty ones included.
inline std::vector<std::string> ReadTrapDestinations(size_t maxSize = std::string::npos)
{
    std::vector<std::string> destinations;
    for (const platform::RegValue& value :
         platform::Registry::EnumValues(platform::RegHive::LocalMachine, TrapDestinationKey()))
        destinations.push_back(TrapDestinationText(value, maxSize));
    return destinations;
}

// Fills destination row r (1..kRowCount) of block with an active destination at the dotted address text.
inline void PackTrapDestinationRow(CommonSnmpStruct& block, uint32_t r, const std::string& text)
{
    const uint32_t row = TrapRow(r);
    size_t start = 0;
    for (uint32_t part = 0; part < 4; ++part) {
        const size_t dot = text.find('.', start);
        const std::string piece = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        block.bytes[row + kTrapAddress + part] = static_cast<uint8_t>(std::atoi(piece.c_str()));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    block.SetText(row + kTrapCommunity, kCommunityFieldSize, kTrapCommunityName);
    block.SetU32(row + kTrapCommand, kTrapActive);
}

}  // namespace snmpagent
