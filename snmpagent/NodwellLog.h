#pragma once

#include <log4cxx/logger.h>

#include <filesystem>

namespace snmpagent
{

// The agent's two loggers, "Common_Log" and "Common_Trap".
log4cxx::LoggerPtr CommonLog();
log4cxx::LoggerPtr TrapLog();

// Configures log4cxx from "SNMP_log_config.xml" in folder; its log files go to the log folder of the
// drive root (KORVO_NODWELL_LOG_DIR when set). False when the file is missing.
bool ConfigureLogging(const std::filesystem::path& folder);

}  // namespace snmpagent

// Every line names the agent, the function and the line it comes from.
#define NODWELL_LOG(level, logger, text) \
    LOG4CXX_##level((logger), "Nodwell " << __func__ << "(" << __LINE__ << ") " << text)
#define NODWELL_INFO(text) NODWELL_LOG(INFO, ::snmpagent::CommonLog(), text)
#define NODWELL_WARN(text) NODWELL_LOG(WARN, ::snmpagent::CommonLog(), text)
#define NODWELL_ERROR(text) NODWELL_LOG(ERROR, ::snmpagent::CommonLog(), text)
#define NODWELL_TRACE(text) NODWELL_LOG(TRACE, ::snmpagent::CommonLog(), text)
#define NODWELL_TRAP(text) NODWELL_LOG(INFO, ::snmpagent::TrapLog(), text)
