#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "automation/ApiLog.h"
#include "automation/_Host.h"
#include "platform/Paths.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;

namespace
{
const char kConnectJournal[] =
    "QoCheckAPIVersion(0.8)\nQoCreateAPI\nServerVersion\nCheckVersion(2.1)\nModeText(WorkGroup)\n"
    "ModeText(Playback)\nModeText(Ingest)\nModeText(Zelt)\n";

std::string LoaderLog()
{
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char name[64];
    std::snprintf(name, sizeof name, "c:\\temp\\ApiLoader_%02d%02d%4d.log", utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_year + 1900);
    std::ifstream in(platform::ToLocalPath(name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

TEST(HostTest, FreshHostAnswersNotInitializedWithoutTouchingTheLibrary)
{
    auto client = automationtest::ClientLibrary();
    _Host host;
    bool compatible = true;
    Qo::QoString version("1.0");
    Qo::QoString text;
    Qo::QoString first;
    Qo::QoString second;
    EXPECT_EQ(host.CheckAPIVersion(&compatible, version).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(host.GetLibraryInfoText(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(host.QueryNameTexts("n", first, second).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_TRUE(compatible);
    EXPECT_EQ(client->Journal(), "");
}

TEST(HostTest, ConnectsOnceAndHandsOutOneAutomationAPI)
{
    auto client = automationtest::ClientLibrary();
    {
        _Host host;
        AutomationAPI* api = nullptr;
        EXPECT_EQ(host.GetAutomationAPI(&api).GetStatusCode(), kSuccess);
        ASSERT_NE(api, nullptr);
        EXPECT_EQ(client->Journal(), kConnectJournal);
        AutomationAPI* again = nullptr;
        EXPECT_EQ(host.GetAutomationAPI(&again).GetStatusCode(), kSuccess);
        EXPECT_EQ(again, api);
        EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kSuccess);
        EXPECT_EQ(client->Journal(), kConnectJournal);
    }
    EXPECT_EQ(client->Journal(), std::string(kConnectJournal) + "QoDeleteAPI\n");
}

TEST(HostTest, LoadingFailuresAreCannotLoadLibrary)
{
    {
        _Host host;
        AutomationAPI* api = nullptr;
        EXPECT_EQ(host.GetAutomationAPI(&api).GetStatusCode(), kQlaErrorCannotLoadLibrary);
        EXPECT_EQ(api, nullptr);
    }
    {
        // A library that is not the client library: no entries at all.
        automationtest::ScopedLibraryFolder folder("not-the-client");
        automationtest::StandIn other(KORVO_PLUMET_LIBRARY, "libtessanapiVC7.so", "PlumetControl", "not-the-client");
        _Host host;
        EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlaErrorCannotLoadLibrary);
    }
    {
        automationtest::ScopedLibraryFolder folder("no-delete");
        automationtest::StandIn noDelete(KORVO_TESSANAPI_NODELETE_LIBRARY, "libtessanapiVC7.so", "TessanApiControl",
                                         "no-delete");
        _Host host;
        EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlaErrorCannotLoadLibrary);
        EXPECT_EQ(noDelete.Journal(), "QoCheckAPIVersion(0.8)\n") << "no object that could not be given back";
    }
    auto client = automationtest::ClientLibrary();
    client->Set("api.version", "0.9");
    _Host host;
    EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlaErrorCannotLoadLibrary);
    client->Set("api.version", "0.8");
    client->Set("create.null", "1");
    EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlaErrorCannotLoadLibrary);
    Qo::QoString text;
    EXPECT_EQ(host.GetLibraryInfoText(text).GetStatusCode(), kQlaErrorCannotLoadLibrary);
}

TEST(HostTest, RejectedServerVersionIsKeptAndEachRetryGivesBackTheOldObject)
{
    auto client = automationtest::ClientLibrary();
    client->Set("result.CheckVersion", "5");
    _Host host;
    EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlmErrorUnknownDevice);
    Qo::QoString text;
    EXPECT_EQ(host.GetLibraryInfoText(text).GetStatusCode(), kQlmErrorUnknownDevice);
    EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlmErrorUnknownDevice);
    client->Set("result.CheckVersion", "0");
    AutomationAPI* api = nullptr;
    EXPECT_EQ(host.GetAutomationAPI(&api).GetStatusCode(), kSuccess);
    EXPECT_NE(api, nullptr);
    std::string journal = client->Journal();
    const std::string attempt = "QoCheckAPIVersion(0.8)\nQoCreateAPI\nServerVersion\nCheckVersion(2.1)\n";
    EXPECT_EQ(journal.substr(0, 3 * attempt.size() + 2 * std::string("QoDeleteAPI\n").size()),
              attempt + "QoDeleteAPI\n" + attempt + "QoDeleteAPI\n" + attempt)
        << journal;
}

TEST(HostTest, VersionInformationAndNameTexts)
{
    auto client = automationtest::ClientLibrary();
    _Host host;
    ASSERT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kSuccess);
    client->Set("reset");

    bool compatible = false;
    Qo::QoString empty;
    EXPECT_EQ(host.CheckAPIVersion(&compatible, empty).GetStatusCode(), kSuccess);
    EXPECT_TRUE(compatible);
    EXPECT_EQ(empty, "");
    client->Set("version.rewrite", "3.0.1");
    client->Set("result.CheckVersion", "1");
    Qo::QoString version(std::string(200, '9'));
    EXPECT_EQ(host.CheckAPIVersion(&compatible, version).GetStatusCode(), kSuccess);
    EXPECT_FALSE(compatible);
    EXPECT_EQ(version, "3.0.1");
    EXPECT_NE(client->Journal().find("CheckVersion(" + std::string(79, '9') + ")"), std::string::npos);

    Qo::QoString info;
    EXPECT_EQ(host.GetLibraryInfoText(info).GetStatusCode(), kSuccess);
    EXPECT_EQ(info, "tessan stand-in");
    EXPECT_EQ(host.GetLibraryInfoText(info).GetStatusCode(), kQlaErrorUninitializedParameter);
    EXPECT_EQ(info, "tessan stand-in");

    client->Set("names.first", "alpha");
    client->Set("names.second", "beta");
    Qo::QoString first;
    Qo::QoString second;
    EXPECT_EQ(host.QueryNameTexts("who", first, second).GetStatusCode(), kSuccess);
    EXPECT_EQ(first, "alpha");
    EXPECT_EQ(second, "beta");
    client->Set("result.QueryNameTexts", "9");
    QlaStatus status = host.QueryNameTexts("who", first, second);
    EXPECT_EQ(status.GetStatusCode(), kQlmErrorNotFound);
    EXPECT_EQ(status.GetDescMessage(), "(QlmError) Not Found");
}

TEST(HostTest, OfflineAutomationAPIReplacesTheCurrentOne)
{
    auto client = automationtest::ClientLibrary();
    _Host host;
    AutomationAPI* offline = nullptr;
    EXPECT_EQ(host.GetOfflineAutomationAPI(&offline).GetStatusCode(), kSuccess);
    ASSERT_NE(offline, nullptr);
    Qo::QoString text;
    EXPECT_EQ(offline->GetIngestInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
    EXPECT_EQ(host.GetOfflineAutomationAPI(nullptr).GetStatusCode(), kSuccess);
    EXPECT_EQ(client->Journal(), "");
}

TEST(HostTest, LoaderLogsEachStep)
{
    std::filesystem::create_directories(platform::ToLocalPath("c:\\temp"));
    auto client = automationtest::ClientLibrary();
    {
        _Host host;
        ASSERT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kSuccess);
    }
    std::string log = LoaderLog();
    for (const char* line :
         {"     ----------     ----------     ----------          ", "ApiLoader: handle after LibHandle::LoadAPI: ",
          "ApiLoader: checkfunc: ", "ApiLoader: getfunc: ", "ApiLoader: deletefunc: ",
          "ApiLoader::GetAPI: returning *getfunc;   addr: ", "ApiLoader::GetAPI: returning pApi;",
          "APIVersCompat: API is compatible with the server", "ApiLoader::DeleteAPI done",
          "ApiLoader: destructor released handle"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;

    client->Set("api.version", "0.1");
    {
        _Host host;
        EXPECT_EQ(host.GetAutomationAPI(nullptr).GetStatusCode(), kQlaErrorCannotLoadLibrary);
    }
    EXPECT_NE(LoaderLog().find("ApiLoader: checkfunc returned version mismatch"), std::string::npos);
    ApiLog::Instance().Write(4, "level four");
    EXPECT_EQ(LoaderLog().find("level four"), std::string::npos);
    std::filesystem::remove_all(platform::ToLocalPath("c:\\temp"));
}
