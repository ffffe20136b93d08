// The road of one ingest as a client program sees it: a request made through libDravik.so reaches the
// client library, the transfer service runs the ingest with its receiver plug-in, and the transaction's
// status record follows it to the end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "automation/Host.h"
#include "tests/automation/StandIns.h"
#include "tests/outside/TessanTestKit.h"

using namespace MirelQla;

namespace
{
constexpr int32_t kComplete = 4;
constexpr int32_t kCancelled = 7;

class DravikRoadThreads : public tessantest::FakeRun
{
protected:
    void SetUp() override
    {
        FakeRun::SetUp();
        client = automationtest::ClientLibrary();
        client->Set("tessan.out", Out().string());
        client->Set("tessan.plugin", KORVO_FAKERECEIVER_LIBRARY);
        host.reset(Host::NewHost());
        ASSERT_EQ(host->GetAutomationAPI(&api).GetStatusCode(), kSuccess);
    }
    void TearDown() override
    {
        AutomationTransaction::release(&transaction);
        host.reset();
        client.reset();
        unsetenv("FAKE_DELAY_MS");
    }

    std::string Job() const
    {
        return tessantest::JobText({{"directory", Source().parent_path().string()},
                                    {"lookupname", Source().filename().string()},
                                    {"markin", "00:00:00:00"},
                                    {"markout", "00:00:00:10"},
                                    {"KorvoDataType", "DVCPro"}});
    }

    // Polls the status as a client does until the transfer has ended.
    TransferStatusRecord FollowToTheEnd(int32_t& runningStates)
    {
        TransferStatusRecord record;
        std::memset(&record, 0, sizeof record);
        runningStates = 0;
        for (int i = 0; i < 2000; ++i) {
            EXPECT_EQ(transaction->GetStatus(&record).GetStatusCode(), kSuccess);
            if (record.state != 2 && record.state != 3)
                break;
            ++runningStates;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return record;
    }

    std::unique_ptr<automationtest::StandIn> client;
    std::unique_ptr<Host> host;
    AutomationAPI* api = nullptr;
    AutomationTransaction* transaction = nullptr;
};
}  // namespace

TEST_F(DravikRoadThreads, AnIngestRunsToItsLastFrame)
{
    setenv("FAKE_DELAY_MS", "5", 1);
    ASSERT_EQ(api->RequestTransferXML("ingest", "workspace", "", Job().c_str(), &transaction).GetStatusCode(),
              kSuccess);
    ASSERT_NE(transaction, nullptr);
    int32_t running = 0;
    TransferStatusRecord record = FollowToTheEnd(running);
    EXPECT_EQ(record.state, kComplete);
    EXPECT_GT(running, 0) << "the record showed the transfer running";
    EXPECT_EQ(record.value1, 10);
    EXPECT_EQ(record.value2, 10);
    Qo::QoString text;
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text, "complete: fake receiver: End Of Data");
    EXPECT_EQ(Probe(Out() / "video.dv", "v:0", "stream=codec_name,nb_read_frames"), "dvvideo,10");
}

TEST_F(DravikRoadThreads, ACancelThroughTheTransactionEndsTheIngest)
{
    setenv("FAKE_DELAY_MS", "20", 1);
    ASSERT_EQ(api->RequestTransferXML("ingest", "workspace", "", Job().c_str(), &transaction).GetStatusCode(),
              kSuccess);
    ASSERT_TRUE(WaitFor([&] {
        TransferStatusRecord record{};
        transaction->GetStatus(&record);
        return record.value1 >= 2;
    }));
    EXPECT_EQ(transaction->RequestAction3("cancel").GetStatusCode(), kSuccess);
    int32_t running = 0;
    TransferStatusRecord record = FollowToTheEnd(running);
    EXPECT_EQ(record.state, kCancelled);
    EXPECT_LT(record.value1, 10);
}

TEST_F(DravikRoadThreads, AJobTheServiceCannotReadIsABadSource)
{
    EXPECT_EQ(api->RequestTransferXML("ingest", "workspace", "", "<ingestdrag><markin>", &transaction).GetStatusCode(),
              kQlmErrorBadSource);
    EXPECT_EQ(transaction, nullptr);
}
