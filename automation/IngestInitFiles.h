#pragma once

#include <string>

#include "automation/QlaStatus.h"

namespace MirelQla
{

extern const char kHostToDeviceFile[];
extern const char kDeviceToSetupFile[];

// The folder the ingest init files live in: the Windows folder, "C:\WINDOWS" through the drive mapping.
std::string IngestInitFolder();

// The value of key (ignoring case) in an init file of the Windows folder, at most room - 1 bytes:
// -184 when the file cannot be read (its name as technical text), -183 when no line holds the key.
QlaStatus LookupInitFile(const std::string& fileName, const std::string& key, std::string& value, size_t room);

// The setup library of an ingest device ("VC7" appended), through the two mapping files.
QlaStatus LookupIngestSetup(const std::string& deviceName, std::string& setupName);

// Writes each init file that cannot be read with its default comment lines; existing files stay.
void WriteDefaultIngestInitFiles();

}  // namespace MirelQla
