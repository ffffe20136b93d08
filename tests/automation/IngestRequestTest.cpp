#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "automation/IngestInitFiles.h"
#include "automation/_AutomationAPI.h"
#include "outside/tessanapi/interface/QlmClient.h"
#include "platform/Paths.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;

namespace
{
std::filesystem::path InitFile(const char* name)
{
    return std::filesystem::path(platform::ToLocalPath("C:\\WINDOWS")) / name;
}

void WriteInitFile(const char* name, const std::string& contents)
{
    std::filesystem::create_directories(InitFile(name).parent_path());
    std::ofstream(InitFile(name), std::ios::binary) << contents;
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class IngestFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(InitFile(kHostToDeviceFile).parent_path());
        client = automationtest::ClientLibrary();
        setup = automationtest::SetupLibrary();
        clientApi = reinterpret_cast<QoCreateAPIFn>(client->Symbol("QoCreateAPI"))();
        api = std::make_unique<_AutomationAPI>(nullptr, clientApi);
        client->Set("reset");
    }
    void TearDown() override
    {
        AutomationTransaction::release(&transaction);
        api.reset();
        reinterpret_cast<QoDeleteAPIFn>(client->Symbol("QoDeleteAPI"))(clientApi);
        std::filesystem::remove_all(InitFile(kHostToDeviceFile).parent_path());
    }

    void MapSampleDevice(const std::string& setupName = "IngestSetup")
    {
        WriteInitFile(kHostToDeviceFile, "#comment\nsampledevice SampleMapping\n");
        WriteInitFile(kDeviceToSetupFile, "SampleMapping " + setupName + "\n");
    }

    QlaStatus Ingest(bool tag = false)
    {
        return api->RequestIngest("one", "SAMPLEDEVICE", "three", "four", tag, &transaction);
    }

    std::unique_ptr<automationtest::StandIn> client;
    std::unique_ptr<automationtest::StandIn> setup;
    QlmClientAPI* clientApi = nullptr;
    std::unique_ptr<_AutomationAPI> api;
    AutomationTransaction* transaction = nullptr;
};
}  // namespace

TEST_F(IngestFixture, WithoutInitFilesTheDefaultsAreWritten)
{
    QlaStatus status = Ingest();
    EXPECT_EQ(status.GetStatusCode(), kQlaErrorDefaultIngestInitFilesCreated);
    EXPECT_EQ(status.GetDescMessage(), "Default Ingest Setup Init files created in WINNT folder. Needs Updating\n");
    EXPECT_EQ(status.GetTechMessage(),
              "Two files in WINNT folder need to be updated with correct information:\n\t1) "
              "MirelQlaAPI_Ingest_HostToDevice.txt\n\t2) MirelQlaAPI_Ingest_DeviceToSetupFile.txt\n");
    EXPECT_EQ(ReadText(InitFile(kHostToDeviceFile)),
              "#This is the default file for converting ingest device name to a mapping name\n"
              "#It needs to be in the following format (everything inside the double-quotes on a new line):\n"
              "# \"[IngestDeviceName] [IngestDeviceMapping]\"\n"
              "#example in the line below (remove the '#')\n"
              "#SampleDevice SampleMapping\n"
              "# make sure you also set the other file - MirelQlaAPI_Ingest_DeviceToSetupFile.txt\n");
    EXPECT_EQ(ReadText(InitFile(kDeviceToSetupFile)),
              "#This is the default file for converting a mapping name to setup file name\n"
              "#It needs to be in the following format (everything inside the double-quotes on a new line):\n"
              "# \"[IngestDeviceMapping] [IngestSetupFileName]\"\n"
              "#example in the line below (remove the '#')\n"
              "#SampleMapping IngestSetup\n"
              "# make sure you also set the other file - MirelQlaAPI_Ingest_HostToDevice.txt\n");
    // The defaults hold only comments.
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorInitFileHostNameMissing);
    EXPECT_EQ(setup->Journal(), "");
    EXPECT_EQ(client->Journal(), "");
}

TEST_F(IngestFixture, LookupFailures)
{
    WriteInitFile(kHostToDeviceFile, "sampledevice SampleMapping\n");
    QlaStatus status = Ingest();
    EXPECT_EQ(status.GetStatusCode(), kQlaErrorIngestInitFileMissing);
    EXPECT_EQ(status.GetTechMessage(), kDeviceToSetupFile);
    EXPECT_FALSE(std::filesystem::exists(InitFile(kDeviceToSetupFile)));

    WriteInitFile(kDeviceToSetupFile, "OtherMapping IngestSetup\n");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorInitFileDeviceNameMissing);

    // Malformed lines hold no entry and break nothing.
    const std::string malformed[] = {
        "",
        "\n\n\n",
        "sampledevice\n",
        std::string(5000, 'x') + " y\n",
        std::string("sample\0device Mapping\n", 22),
        "#sampledevice SampleMapping\n",
        std::string(300, ' ') + "sampledevice SampleMapping\n",
    };
    for (const std::string& contents : malformed) {
        WriteInitFile(kHostToDeviceFile, contents);
        EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorInitFileHostNameMissing) << contents.substr(0, 40);
    }
    EXPECT_EQ(setup->Journal(), "");
}

TEST_F(IngestFixture, LookupCutsAValueToItsRoom)
{
    WriteInitFile(kHostToDeviceFile, "dev " + std::string(250, 'm') + "\n");
    std::string value;
    EXPECT_EQ(LookupInitFile(kHostToDeviceFile, "DEV", value, 100).GetStatusCode(), kSuccess);
    EXPECT_EQ(value, std::string(99, 'm'));
    std::string setupName;
    WriteInitFile(kDeviceToSetupFile, std::string(250, 'm') + "\r\n");
    WriteInitFile(kHostToDeviceFile, "dev mm\r\n");
    WriteInitFile(kDeviceToSetupFile, "MM Setup\r\n");
    EXPECT_EQ(LookupIngestSetup("Dev", setupName).GetStatusCode(), kSuccess);
    EXPECT_EQ(setupName, "SetupVC7");
}

TEST_F(IngestFixture, IngestThroughTheSetupLibrary)
{
    MapSampleDevice();
    setup->Set("composition", std::string("<comp>bytes</comp>"));
    EXPECT_EQ(Ingest(true).GetStatusCode(), kQlaErrorNotInitialized) << "no media type setting";
    EXPECT_EQ(transaction, nullptr);
    EXPECT_EQ(setup->Journal(), "CheckVersion(1.2)\nCreate\nRelease\n");

    setup->Set("reset");
    setup->Set("composition", std::string("<comp>bytes</comp>"));
    client->Set("reset");
    client->Set("setting.qlmmediatype", "OMF");
    QlaStatus status = Ingest(true);
    EXPECT_EQ(status.GetStatusCode(), kSuccess);
    EXPECT_NE(transaction, nullptr);
    EXPECT_EQ(setup->Journal(),
              "CheckVersion(1.2)\nCreate\nSetCompositionKind(1)\nPrepareIngest(SAMPLEDEVICE|three)\nFreeText\n"
              "Release\n");
    EXPECT_EQ(client->Journal(),
              "ContextTexts\nSetting(qlmmediatype|256|context)\nCompositionRequest(one|SAMPLEDEVICE|"
              "four|" +
                  std::string("<comp>bytes</comp>") + "|18)\n");
}

TEST_F(IngestFixture, OverloadWithoutTagRequestsTheSame)
{
    MapSampleDevice();
    client->Set("setting.qlmmediatype", "AAF");
    EXPECT_EQ(api->RequestIngest("one", "sampleDevice", "three", "four", &transaction).GetStatusCode(), kSuccess);
    EXPECT_NE(transaction, nullptr);
    EXPECT_EQ(setup->Journal(),
              "CheckVersion(1.2)\nCreate\nSetCompositionKind(0)\nPrepareIngest(sampleDevice|three)\n"
              "FreeText\nRelease\n");
    EXPECT_NE(client->Journal().find("CompositionRequest(one|sampleDevice|four|<composition/>|14)\n"),
              std::string::npos);
}

TEST_F(IngestFixture, CompositionKindFollowsTheMediaTypeExactly)
{
    MapSampleDevice();
    const struct {
        const char* mediaType;
        int kind;
    } cases[] = {{"AAF", 0}, {"AAFX", 1}, {"aaf", 1}, {"", 1}};
    for (const auto& c : cases) {
        setup->Set("reset");
        client->Set("setting.qlmmediatype", c.mediaType);
        EXPECT_EQ(Ingest().GetStatusCode(), kSuccess);
        AutomationTransaction::release(&transaction);
        EXPECT_NE(setup->Journal().find("SetCompositionKind(" + std::to_string(c.kind) + ")"), std::string::npos)
            << c.mediaType;
    }
}

TEST_F(IngestFixture, DeviceAndClientFailures)
{
    MapSampleDevice();
    client->Set("setting.qlmmediatype", "AAF");
    const struct {
        int prepared;
        StatusCode status;
    } cases[] = {{1, kIngestErrorUnimplemented},
                 {10, kIngestErrorDiskFull},
                 {15, kIngestErrorFileNotFound},
                 {16, kQlaUnrecognizedIngestError},
                 {-4, kQlaUnrecognizedIngestError}};
    for (const auto& c : cases) {
        setup->Set("reset");
        setup->Set("prepare.result", std::to_string(c.prepared));
        EXPECT_EQ(Ingest().GetStatusCode(), c.status) << c.prepared;
        EXPECT_EQ(setup->Journal(),
                  "CheckVersion(1.2)\nCreate\nSetCompositionKind(0)\nPrepareIngest(SAMPLEDEVICE|three)\nRelease\n");
    }
    setup->Set("reset");
    client->Set("result.CompositionRequest", "13");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlmErrorBadSource);
    EXPECT_EQ(transaction, nullptr);
    EXPECT_NE(setup->Journal().find("FreeText\nRelease\n"), std::string::npos);
}

TEST_F(IngestFixture, SetupLibraryThatCannotBeBound)
{
    client->Set("setting.qlmmediatype", "AAF");
    MapSampleDevice("Absent");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorIngestDllLoadFailed);

    MapSampleDevice();
    setup->Set("version", "1.3");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorIngestDllLoadFailed);
    setup->Set("reset");
    setup->Set("create.null", "1");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorIngestDllLoadFailed);

    automationtest::StandIn noCreate(KORVO_INGESTSETUP_NOCREATE_LIBRARY, "libIngestNoCreateVC7.so",
                                     "IngestSetupControl");
    MapSampleDevice("IngestNoCreate");
    EXPECT_EQ(Ingest().GetStatusCode(), kQlaErrorIngestDllLoadFailed);
    EXPECT_EQ(noCreate.Journal(), "CheckVersion(1.2)\n");
    EXPECT_EQ(client->Journal().find("CompositionRequest"), std::string::npos);
}
