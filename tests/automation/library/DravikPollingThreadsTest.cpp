// Six threads of a client program poll one transaction through a whole ingest with the real receiver: every
// record they get is whole, its state, frame counts and text from one moment of the transfer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "automation/Host.h"
#include "tests/automation/library/RealIngestClient.h"

using namespace MirelQla;

namespace
{
constexpr int kPollers = 6;

// Why a record is not whole; empty when it is.
std::string Torn(const TransferStatusRecord& r)
{
    if (strnlen(r.text5, sizeof r.text5) == sizeof r.text5)
        return "text5 without its terminator";
    const std::string text = r.text5;
    if (r.state == realclient::kRunning || r.state == realclient::kPaused) {
        const std::string want = "running " + std::to_string(r.value1) + " of " + std::to_string(r.value2) + " frames";
        return text == want ? "" : "state " + std::to_string(r.state) + " with \"" + text + "\", not \"" + want + "\"";
    }
    if (r.state == realclient::kComplete)
        return text.starts_with("complete") && r.value1 == r.value2
                   ? ""
                   : "complete with \"" + text + "\" after " + std::to_string(r.value1) + " of " +
                         std::to_string(r.value2);
    return "state " + std::to_string(r.state) + ": " + text;
}
}  // namespace

TEST(DravikPollingThreads, SixThreadsPollOneTransactionAndEveryRecordIsWhole)
{
    realclient::RealIngest ingest;
    std::unique_ptr<Host> host(Host::NewHost());
    AutomationAPI* api = nullptr;
    ASSERT_EQ(host->GetAutomationAPI(&api).GetStatusCode(), kSuccess);
    ASSERT_TRUE(realclient::SendIngestsTo(ingest.Out()));
    // The client library takes its time between a record's values and its text.
    ASSERT_TRUE(realclient::ClientControl("record.pause.us", "200"));
    AutomationTransaction* transaction = nullptr;
    ASSERT_EQ(api->RequestTransferXML("ingest", "workspace", "", ingest.job.c_str(), &transaction).GetStatusCode(),
              kSuccess);
    ASSERT_NE(transaction, nullptr);

    std::atomic<bool> ended{false};
    std::atomic<long> records{0};
    std::atomic<long> running{0};
    std::vector<std::string> torn(kPollers);
    std::vector<std::thread> pollers;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int t = 0; t < kPollers; ++t) {
        pollers.emplace_back([&, t] {
            for (long call = 0; !ended && std::chrono::steady_clock::now() < until; ++call) {
                TransferStatusRecord record;
                std::memset(&record, 0xFF, sizeof record);
                const QlaStatus status =
                    (call + t) % 2 ? transaction->GetCachedStatus(&record) : transaction->GetStatus(&record);
                if (!status.IsSuccess()) {
                    torn[t] = "status " + std::to_string(status.GetStatusCode());
                    break;
                }
                // The cached record before the first refresh has no transfer in it yet.
                if (record.state == 0)
                    continue;
                ++records;
                if (std::string why = Torn(record); !why.empty() && torn[t].empty())
                    torn[t] = why;
                if (record.state == realclient::kRunning)
                    ++running;
                else if (record.state != realclient::kPaused)
                    ended = true;
            }
        });
    }
    for (std::thread& poller : pollers)
        poller.join();
    for (int t = 0; t < kPollers; ++t)
        EXPECT_EQ(torn[t], "") << "poller " << t;
    EXPECT_TRUE(ended);
    EXPECT_GT(running, 0) << "the pollers saw the ingest run";

    TransferStatusRecord last;
    std::memset(&last, 0, sizeof last);
    EXPECT_EQ(transaction->GetStatus(&last).GetStatusCode(), kSuccess);
    EXPECT_EQ(last.state, realclient::kComplete) << last.text5;
    EXPECT_EQ(last.value1, realclient::kClip.nPictures);
    std::printf("%ld records polled, %ld while running\n", records.load(), running.load());
    AutomationTransaction::release(&transaction);
}
