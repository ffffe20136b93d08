#include "snmpagent/NodwellLog.h"

#include <log4cxx/xml/domconfigurator.h>
#include <stdlib.h>

#include "platform/Paths.h"

namespace snmpagent
{

log4cxx::LoggerPtr CommonLog()
{
    return log4cxx::Logger::getLogger("Common_Log");
}

log4cxx::LoggerPtr TrapLog()
{
    return log4cxx::Logger::getLogger("Common_Trap");
}

bool ConfigureLogging(const std::filesystem::path& folder)
{
    std::filesystem::path config = folder / "SNMP_log_config.xml";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(config, ec))
        return false;
    // The configuration names its files under ${KORVO_NODWELL_LOG_DIR}, which log4cxx takes from the environment.
    std::filesystem::path logDir = platform::ToLocalPath("C:\\KorvoLogs");
    setenv("KORVO_NODWELL_LOG_DIR", logDir.c_str(), 0);
    std::filesystem::create_directories(getenv("KORVO_NODWELL_LOG_DIR"), ec);
    log4cxx::xml::DOMConfigurator::configure(config.string());
    return true;
}

}  // namespace snmpagent
