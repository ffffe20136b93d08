#include "automation/IngestInitFiles.h"

#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Paths.h"

namespace MirelQla
{

const char kHostToDeviceFile[] = "MirelQlaAPI_Ingest_HostToDevice.txt";
const char kDeviceToSetupFile[] = "MirelQlaAPI_Ingest_DeviceToSetupFile.txt";

namespace
{
constexpr size_t kLineLimit = 255;
constexpr size_t kMappingRoom = 256;
constexpr size_t kSetupNameRoom = 260;
const char kWindowsFolder[] = "C:\\WINDOWS";

std::string InitFilePath(const std::string& fileName)
{
    return IngestInitFolder() + "/" + fileName;
}

std::string DefaultContents(const char* mappingLine3, const char* exampleLine5, const char* otherFile,
                            const char* line1)
{
    std::string text = line1;
    text += "#It needs to be in the following format (everything inside the double-quotes on a new line):\n";
    text += mappingLine3;
    text += "#example in the line below (remove the '#')\n";
    text += exampleLine5;
    text += "# make sure you also set the other file - ";
    text += otherFile;
    text += "\n";
    return text;
}

void WriteDefaultFile(const char* fileName, const std::string& contents)
{
    std::string path = InitFilePath(fileName);
    if (std::ifstream(path).is_open())
        return;
    std::ofstream out(path, std::ios::binary);
    out << contents;
}
}  // namespace

std::string IngestInitFolder()
{
    return platform::ToLocalPath(kWindowsFolder);
}

QlaStatus LookupInitFile(const std::string& fileName, const std::string& key, std::string& value, size_t room)
{
    std::ifstream in(InitFilePath(fileName), std::ios::binary);
    if (!in.is_open())
        return QlaStatus(kQlaErrorIngestInitFileMissing, nullptr, fileName.c_str());
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kLineLimit)
            line.resize(kLineLimit);
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream words(line);
        std::string first;
        std::string second;
        // A line without two words holds no entry.
        if (!(words >> first >> second))
            continue;
        if (strcasecmp(first.c_str(), key.c_str()) == 0) {
            value = second.substr(0, room > 0 ? room - 1 : 0);
            return QlaStatus(kSuccess, nullptr, nullptr);
        }
    }
    return QlaStatus(kQlaErrorInitFileKeyMissing, nullptr, nullptr);
}

QlaStatus LookupIngestSetup(const std::string& deviceName, std::string& setupName)
{
    std::string mapping;
    QlaStatus status = LookupInitFile(kHostToDeviceFile, deviceName, mapping, kMappingRoom);
    if (status.GetStatusCode() == kSuccess) {
        status = LookupInitFile(kDeviceToSetupFile, mapping, setupName, kSetupNameRoom);
        if (status.GetStatusCode() == kQlaErrorInitFileKeyMissing)
            status.SetStatusCode(kQlaErrorInitFileDeviceNameMissing, false);
        if (status.GetStatusCode() == kSuccess)
            setupName += "VC7";
        return status;
    }
    if (status.GetStatusCode() == kQlaErrorInitFileKeyMissing) {
        status.SetStatusCode(kQlaErrorInitFileHostNameMissing, false);
        return status;
    }
    WriteDefaultIngestInitFiles();
    char tech[512];
    std::snprintf(tech, sizeof tech,
                  "Two files in WINNT folder need to be updated with correct information:\n\t1) %s\n\t2) %s\n",
                  kHostToDeviceFile, kDeviceToSetupFile);
    status.SetStatus(kQlaErrorDefaultIngestInitFilesCreated,
                     "Default Ingest Setup Init files created in WINNT folder. Needs Updating\n", tech);
    return status;
}

void WriteDefaultIngestInitFiles()
{
    std::error_code ec;
    std::filesystem::create_directories(IngestInitFolder(), ec);
    WriteDefaultFile(kHostToDeviceFile,
                     DefaultContents("# \"[IngestDeviceName] [IngestDeviceMapping]\"\n",
                                     "#SampleDevice SampleMapping\n", kDeviceToSetupFile,
                                     "#This is the default file for converting ingest device name to a mapping "
                                     "name\n"));
    WriteDefaultFile(kDeviceToSetupFile,
                     DefaultContents("# \"[IngestDeviceMapping] [IngestSetupFileName]\"\n",
                                     "#SampleMapping IngestSetup\n", kHostToDeviceFile,
                                     "#This is the default file for converting a mapping name to setup file name\n"));
}

}  // namespace MirelQla
