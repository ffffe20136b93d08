// A client's teardown while an ingest runs: the host deleted under a live transaction, and the transaction and the
// host let go at once from a plug-in that is unloaded after. Each runs in a child process with a bounded wait, so
// a crash or a deadlock fails the test instead of taking it down.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "automation/Host.h"
#include "tests/automation/library/RealIngestClient.h"

using namespace MirelQla;
using namespace std::chrono_literals;

namespace
{
constexpr auto kChildLimit = 90s;
// A teardown returns within this, whatever runs: the service may still be loading the receiver, which a busy
// machine running the sanitizer build takes seconds to do.
constexpr auto kTeardownLimit = 20s;

// Polls until the record leaves the running and paused states, for at most the limit.
bool FollowToTheEnd(AutomationTransaction& transaction, TransferStatusRecord& record)
{
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        if (!transaction.GetStatus(&record).IsSuccess())
            return false;
        if (record.state != realclient::kRunning && record.state != realclient::kPaused)
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}
}  // namespace

TEST(DravikTeardownTest, TheHostDeletedUnderARunningTransactionLeavesItWorkingToTheEnd)
{
    realclient::RealIngest ingest;
    const realclient::ChildEnd end = realclient::RunBounded(
        [&] {
            using realclient::Failed;
            Host* host = Host::NewHost();
            AutomationAPI* api = nullptr;
            if (!host || host->GetAutomationAPI(&api).GetStatusCode() != kSuccess)
                return Failed(1, "connect");
            if (!realclient::SendIngestsTo(ingest.Out()))
                return Failed(2, "client library controls");
            AutomationTransaction* transaction = nullptr;
            if (api->RequestTransferXML("ingest", "workspace", "", ingest.job.c_str(), &transaction).GetStatusCode() !=
                    kSuccess ||
                !transaction)
                return Failed(3, "request");
            delete host;
            if (!realclient::ClientLoaded())
                return Failed(4, "the client library was unloaded under a live transaction");
            TransferStatusRecord record;
            std::memset(&record, 0, sizeof record);
            if (!FollowToTheEnd(*transaction, record))
                return Failed(5, "the transaction did not follow its ingest to the end");
            Qo::QoString text;
            transaction->GetStatusText(text);
            if (record.state != realclient::kComplete || record.value1 != realclient::kClip.nPictures ||
                !text.StartsWith("complete", true))
                return Failed(6, "ended in state " + std::to_string(record.state) + " after " +
                                     std::to_string(record.value1) + " frames: " + text.ToCString());
            AutomationTransaction::release(&transaction);
            if (realclient::ClientLoaded())
                return Failed(7, "the client library stayed loaded after the last transaction");
            return 0;
        },
        kChildLimit);
    EXPECT_TRUE(end.ended && end.code == 0) << realclient::Describe(end);
}

namespace
{
// Both let go at once after the request, while the service is still loading the receiver.
struct TeardownCase {
    const char* name;
    bool hostFirst;
};

class DravikTeardownCases : public ::testing::TestWithParam<TeardownCase>
{
};

using ConnectFn = int (*)();
using RequestFn = int (*)(const char*);
using TeardownFn = void (*)(int);
}  // namespace

TEST_P(DravikTeardownCases, APluginLetsGoWhileAnIngestRunsAndIsUnloaded)
{
    const TeardownCase& c = GetParam();
    realclient::RealIngest ingest;
    const realclient::ChildEnd end = realclient::RunBounded(
        [&] {
            using realclient::Failed;
            void* plugin = dlopen(KORVO_DRAVIKCLIENTPLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
            if (!plugin)
                return Failed(1, dlerror());
            auto connect = reinterpret_cast<ConnectFn>(dlsym(plugin, "DravikClientConnect"));
            auto request = reinterpret_cast<RequestFn>(dlsym(plugin, "DravikClientRequest"));
            auto teardown = reinterpret_cast<TeardownFn>(dlsym(plugin, "DravikClientTeardown"));
            if (!connect || !request || !teardown)
                return Failed(2, "plug-in entries");
            if (connect() != kSuccess)
                return Failed(3, "connect");
            if (!realclient::SendIngestsTo(ingest.Out()))
                return Failed(4, "client library controls");
            if (request(ingest.job.c_str()) != kSuccess)
                return Failed(5, "request");
            const auto start = std::chrono::steady_clock::now();
            teardown(c.hostFirst ? 1 : 0);
            const auto took = std::chrono::steady_clock::now() - start;
            if (took > kTeardownLimit)
                return Failed(7, "the teardown took " + std::to_string(took / 1ms) + " ms");
            if (realclient::ClientLoaded())
                return Failed(8, "the client library stayed loaded");
            dlclose(plugin);
            return 0;
        },
        kChildLimit);
    EXPECT_TRUE(end.ended && end.code == 0) << realclient::Describe(end);
}

INSTANTIATE_TEST_SUITE_P(Teardowns, DravikTeardownCases,
                         ::testing::Values(TeardownCase{"TransactionFirst", false}, TeardownCase{"HostFirst", true}),
                         [](const ::testing::TestParamInfo<TeardownCase>& info) { return info.param.name; });
