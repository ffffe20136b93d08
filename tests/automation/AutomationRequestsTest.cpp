#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "automation/StatusTranslation.h"
#include "automation/_AutomationAPI.h"
#include "outside/tessanapi/interface/QlmClient.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;

namespace
{
const char kTcpipKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

// An automation API over an API object of the client library stand-in.
class RequestsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        client = automationtest::ClientLibrary();
        auto create = reinterpret_cast<QoCreateAPIFn>(client->Symbol("QoCreateAPI"));
        deleteApi = reinterpret_cast<QoDeleteAPIFn>(client->Symbol("QoDeleteAPI"));
        clientApi = create();
        ASSERT_NE(clientApi, nullptr);
        api = std::make_unique<_AutomationAPI>(nullptr, clientApi);
        platform::Registry::SetString(platform::RegHive::LocalMachine, kTcpipKey, "Hostname", "ingest-host");
        requestFile = WriteFile("request.bin", std::string("job\0data", 8));
        client->Set("reset");
    }
    void TearDown() override
    {
        AutomationTransaction::release(&transaction);
        api.reset();
        deleteApi(clientApi);
        platform::Registry::DeleteKey(platform::RegHive::LocalMachine, kTcpipKey);
    }

    static std::string WriteFile(const std::string& name, const std::string& contents)
    {
        std::string path = (testsupport::TestRoot() / name).string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    std::unique_ptr<automationtest::StandIn> client;
    QoDeleteAPIFn deleteApi = nullptr;
    QlmClientAPI* clientApi = nullptr;
    std::unique_ptr<_AutomationAPI> api;
    std::string requestFile;
    AutomationTransaction* transaction = nullptr;
};

const std::string kContents("job\0data|8", 10);
}  // namespace

TEST(AutomationRequestsOfflineTest, EveryRequestWithoutTheClientLibraryFails)
{
    _AutomationAPI offline(nullptr, nullptr);
    Qo::QoString text;
    int priority = 0;
    char buffer[8];
    int size = 8;
    AutomationTransaction* out = nullptr;
    EXPECT_EQ(offline.GetWorkGroupInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.GetIngestInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.GetZeltInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.GetPlaybackInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestPriorityTransfer("a", "f", "c", priority, &out, 0).GetStatusCode(),
              kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestTransfer("a", "f", "c", "d", &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestFileTransfer("a", "b", "f", "d", &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestIngest("a", "dev", "c", "d", &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestTransferXML("a", "b", "", "<x/>", &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.RequestTransferXMLEx("a", "b", "c", "", "<x/>", &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.GetNamedText("n", buffer, &size).GetStatusCode(), kQlaErrorNotInitialized);
    // Without the client library nothing was requested: a failure, not a success.
    EXPECT_EQ(offline.RequestIngestFromFile("a", "b", "f", "d", true, &out).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(offline.UnimplementedRequest("a", "b", "c").GetStatusCode(), kQlaErrorUnimplementedFunction);
    EXPECT_EQ(offline.UnimplementedRequest("a", "b").GetStatusCode(), kQlaErrorUnimplementedFunction);
    EXPECT_EQ(offline.SetMobAttribute("f.omf", "name", "", "").GetStatusCode(), kQlmErrorBadOmf);
    EXPECT_EQ(out, nullptr);
}

TEST_F(RequestsFixture, ModeTexts)
{
    client->Set("mode.Ingest", "ingest ready");
    Qo::QoString text;
    EXPECT_EQ(api->GetIngestInfo(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text, "ingest ready");
    EXPECT_EQ(api->GetWorkGroupInfo(text).GetStatusCode(), kSuccess);
    client->Set("result.ModeText", "2");
    EXPECT_EQ(api->GetZeltInfo(text).GetStatusCode(), kQlmErrorBadPri);
    EXPECT_EQ(api->GetPlaybackInfo(text).GetStatusCode(), kQlmErrorBadPri);
    EXPECT_EQ(client->Journal(), "ModeText(Ingest)\nModeText(WorkGroup)\nModeText(Zelt)\nModeText(Playback)\n");
}

TEST_F(RequestsFixture, TransferRequestCarriesTheFileAndTheHost)
{
    requestFile = WriteFile("request.bin", kContents);
    QlaStatus status = api->RequestTransfer("one", requestFile.c_str(), "three", "four", &transaction);
    EXPECT_EQ(status.GetStatusCode(), kSuccess);
    ASSERT_NE(transaction, nullptr);
    EXPECT_EQ(client->Journal(), "TransferRequest(one|three|ingest-host|four|0|" + kContents + "|10|0)\n");
}

TEST_F(RequestsFixture, WithoutARegistryHostNameTheMachinesNameGoesOut)
{
    platform::Registry::DeleteKey(platform::RegHive::LocalMachine, kTcpipKey);
    std::string host = platform::HostName();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(api->RequestTransfer("one", requestFile.c_str(), "three", "four", nullptr).GetStatusCode(), kSuccess);
    EXPECT_NE(client->Journal().find("|three|" + host + "|four|"), std::string::npos) << client->Journal();
}

TEST_F(RequestsFixture, ClientResultsAreTranslatedAndRejectedRequestsHandOutNothing)
{
    for (int code = -1; code <= 27; ++code) {
        if (code == 0)
            continue;
        client->Set("result.FileTransferRequest", std::to_string(code));
        QlaStatus status = api->RequestFileTransfer("one", "two", requestFile.c_str(), "four", &transaction);
        EXPECT_EQ(status.GetStatusCode(), QlmCodeToStatus(code)) << code;
        EXPECT_EQ(transaction, nullptr);
    }
    client->Set("result.FileTransferRequest", "0");
    EXPECT_EQ(api->RequestFileTransfer("one", "two", requestFile.c_str(), "four", &transaction).GetStatusCode(),
              kSuccess);
    EXPECT_NE(transaction, nullptr);
    EXPECT_NE(client->Journal().find("FileTransferRequest(one|two|" + std::string("job\0data", 8) + "|8|four|0|0)\n"),
              std::string::npos);
}

TEST_F(RequestsFixture, FileErrors)
{
    std::string missing = (testsupport::TestRoot() / "absent.bin").string();
    EXPECT_EQ(api->RequestTransfer("a", "", "c", "d", &transaction).GetStatusCode(),
              kQlaErrorSourceFilenameUnspecified);
    EXPECT_EQ(api->RequestTransfer("a", missing.c_str(), "c", "d", &transaction).GetStatusCode(),
              kQlaErrorFileNotFound);
    EXPECT_EQ(api->RequestFileTransfer("a", "b", "", "d", &transaction).GetStatusCode(),
              kQlaErrorSourceFilenameUnspecified);
    EXPECT_EQ(api->RequestTransferXML("a", "b", "", "", &transaction).GetStatusCode(),
              kQlaErrorSourceFilenameUnspecified);
    EXPECT_EQ(api->RequestTransferXMLEx("a", "b", "c", missing.c_str(), "", &transaction).GetStatusCode(),
              kQlaErrorFileNotFound);
    EXPECT_EQ(api->RequestIngestFromFile("a", "b", "", "d", false, &transaction).GetStatusCode(),
              kQlaErrorSourceFilenameUnspecified);
    EXPECT_EQ(api->RequestIngestFromFile("a", "b", missing.c_str(), "d", false, &transaction).GetStatusCode(),
              kQlaErrorFileNotFound);
    // A folder opens but never reads: no request goes out with a partial file.
    EXPECT_EQ(api->RequestTransfer("a", testsupport::TestRoot().c_str(), "c", "d", &transaction).GetStatusCode(),
              kQlaErrorFileNotFound);
    EXPECT_EQ(transaction, nullptr);
    EXPECT_EQ(client->Journal(), "");
}

TEST_F(RequestsFixture, XmlRequests)
{
    EXPECT_EQ(api->RequestTransferXML("one", "two", "", "<job/>", &transaction).GetStatusCode(), kSuccess);
    AutomationTransaction::release(&transaction);
    EXPECT_EQ(
        api->RequestTransferXMLEx("one", "two", "three", requestFile.c_str(), "<job/>", &transaction).GetStatusCode(),
        kSuccess);
    EXPECT_EQ(client->Journal(), "XmlRequest(one|two|(null)|0|0|<job/>)\nXmlRequestEx(one|two|three|" +
                                     std::string("job\0data", 8) + "|8|0|<job/>)\n");
}

TEST_F(RequestsFixture, PriorityRequestOfNoCompositionIsMediaNotOnline)
{
    int priority = 7;
    EXPECT_EQ(
        api->RequestPriorityTransfer("one", requestFile.c_str(), "three", priority, &transaction, 4).GetStatusCode(),
        kQlaErrorMediaNotOnline);
    EXPECT_EQ(api->RequestPriorityTransfer("one", "", "three", priority, &transaction, 4).GetStatusCode(),
              kQlaErrorSourceFilenameUnspecified);
    EXPECT_EQ(client->Journal(), "");
}

TEST_F(RequestsFixture, NamedTextIsAlwaysTerminated)
{
    char buffer[10];
    int size = 10;
    client->Set("named.short", "abc");
    EXPECT_EQ(api->GetNamedText("short", buffer, &size).GetStatusCode(), kSuccess);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(size, 4);

    // Twelve bytes do not fit ten: the buffer holds a terminated text all the same.
    size = 10;
    client->Set("named.long", "0123456789a");
    EXPECT_EQ(api->GetNamedText("long", buffer, &size).GetStatusCode(), kQlaErrorBufferTooSmall);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(strnlen(buffer, sizeof buffer), 9u);

    size = 0;
    EXPECT_EQ(api->GetNamedText("short", buffer, &size).GetStatusCode(), kQlaErrorUninitializedParameter);
    EXPECT_EQ(api->GetNamedText("short", nullptr, &size).GetStatusCode(), kQlaErrorUninitializedParameter);
    client->Set("result.NamedText", "9");
    size = 10;
    EXPECT_EQ(api->GetNamedText("short", buffer, &size).GetStatusCode(), kQlmErrorNotFound);
    EXPECT_EQ(client->Journal(), "NamedText(short|10)\nNamedText(long|10)\nNamedText(short|10)\n");
}

TEST_F(RequestsFixture, IngestFromFileSendsExactlyTheFilesBytesAndTagsNothing)
{
    // Larger than one read piece, and with no terminator anywhere near its end.
    std::string contents(0x40000 + 123, 'c');
    std::string path = WriteFile("composition.omf", contents);
    client->Set("result.CompositionRequest", "0");
    EXPECT_EQ(api->RequestIngestFromFile("one", "two", path.c_str(), "four", true, &transaction).GetStatusCode(),
              kSuccess);
    EXPECT_NE(transaction, nullptr);
    EXPECT_EQ(client->Journal(),
              "CompositionRequest(one|two|four|" + contents + "|" + std::to_string(contents.size()) + ")\n");
    client->Set("result.CompositionRequest", "8");
    AutomationTransaction* rejected = nullptr;
    EXPECT_EQ(api->RequestIngestFromFile("one", "two", path.c_str(), "four", false, &rejected).GetStatusCode(),
              kQlmErrorBadComposition);
    EXPECT_EQ(rejected, nullptr);
}

TEST_F(RequestsFixture, RequestsWithoutOutStillGoOut)
{
    EXPECT_EQ(api->RequestTransferXML("one", "two", "", "<job/>", nullptr).GetStatusCode(), kSuccess);
    EXPECT_EQ(client->Journal(), "XmlRequest(one|two|(null)|0|0|<job/>)\n");
}
