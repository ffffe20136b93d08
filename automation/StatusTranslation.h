#pragma once

#include "automation/QlaStatus.h"

namespace MirelQla
{

// Result codes of the transfer service's client library: 0, 1 to 25 as -299 to -275, 26 as -264,
// anything else -300.
StatusCode QlmCodeToStatus(int code);
// Results of the ingest device libraries: 1 to 15 as -399 to -385, anything else -400.
StatusCode IngestCodeToStatus(int code);
// The status of a client-library result, with the default description.
QlaStatus StatusFromQlmCode(int code);

}  // namespace MirelQla
