// The agent answering from several threads while its monitor ticks and two other processes write the
// shared block: no value is ever seen half-written and no SET is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include "platform/Paths.h"
#include "tests/snmpagent/AgentFixture.h"
#include "tests/snmpagent/SnmpTestKit.h"
#include "tests/support/TestEnv.h"

namespace snmptest
{
namespace
{
using NodwellAgentThreads = AgentTest;

// The writers fill the text with 63 copies of one digit and the scalar with that digit, under the mutex.
bool WholeText(const std::string& text)
{
    return text.empty() || (text.size() == 63 && text.find_first_not_of(text[0]) == std::string::npos &&
                            text[0] >= '0' && text[0] <= '9');
}

TEST_F(NodwellAgentThreads, QueriesSetsAndOtherWritersNeverTear)
{
    snmpagent::AgentTimings timings;
    timings.firstTickMs = 1;
    timings.tickMs = 5;
    timings.mutexWaitMs = 2000;
    timings.queryWaitMs = 2000;
    _agent = std::make_unique<snmpagent::CNodwellAgent>(timings);
    ASSERT_TRUE(_agent->Start(AgentFolder()));
    snmpagent::CNodwellAgent& agent = *_agent;

    ChildProcess writers[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(writers[i].Start({KORVO_TEST_PRODUCT, "--writer", "1200"},
                                     testsupport::TestRoot() / ("writer" + std::to_string(i) + ".out")));

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, lostSets{0}, reads{0};
    auto reader = [&] {
        while (!stop) {
            Answer text = Get(agent, {3, 1, 1, 3, 1});
            Answer digit = Get(agent, {3, 2, 0});
            if (text.status != 0 || !WholeText(text.text) || digit.number < 0 || digit.number > 9)
                ++torn;
            Request(agent, kSnmpPduGetNext, {Name({1, 1, 1, 6, 10})});
            ++reads;
        }
    };
    auto setter = [&] {
        for (int32_t i = 1; !stop; ++i) {
            if (Set(agent, {3, 3, 0}, Integer(i)) != 0 || Get(agent, {3, 3, 0}).number != i)
                ++lostSets;
        }
    };
    auto trapper = [&] {
        while (!stop) {
            AsnObjectIdentifier enterprise{};
            int32_t generic = 0, specific = 0;
            uint32_t stamp = 0;
            SnmpVarBindList list{};
            if (agent.Trap(&enterprise, &generic, &specific, &stamp, &list))
                SnmpUtilVarBindListFree(&list);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    std::thread threads[] = {std::thread(reader), std::thread(reader), std::thread(setter), std::thread(trapper)};
    for (ChildProcess& w : writers)
        EXPECT_EQ(0, w.Wait(std::chrono::seconds(60)));
    stop = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_GT(reads.load(), 10);
    EXPECT_EQ(0, torn.load());
    EXPECT_EQ(0, lostSets.load());
    agent.Stop();  // joins the monitor while it may be mid-tick
}

// The monitor is inside its 10 s wait for a mutex another process holds when the agent is stopped: the
// stop does not wait for that wait to end (the check leaves sanitizer builds a wide margin).
TEST_F(NodwellAgentThreads, StopCutsShortTheMonitorsWaitForAHeldMutex)
{
    ChildProcess holder;
    const auto out = testsupport::TestRoot() / "holder.out";
    snmpagent::AgentTimings timings;
    timings.firstTickMs = 1;
    timings.tickMs = 50;
    timings.mutexWaitMs = 10000;
    _agent = std::make_unique<snmpagent::CNodwellAgent>(timings);
    ASSERT_TRUE(_agent->Start(AgentFolder()));
    const auto log = AgentLogFile();
    const std::string cut = "WaitForSingleObject(hMutex,10000) WAIT_TIMEOUT";
    ASSERT_TRUE(holder.Start({KORVO_TEST_PRODUCT, "--hold", "120000", "1"}, out));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(out).find("held") != std::string::npos; }, std::chrono::seconds(60)));
    // A wait the monitor begins from now on is a wait for the held mutex (one begun just before this count makes
    // the test wait for the next, 10 s later).
    const size_t before = CountInFile(log, kMonitorWaits);
    // Queries meanwhile answer from the last copy within their own short wait.
    EXPECT_EQ("101.00.02", Get(*_agent, {2, 1, 0}).text);
    ASSERT_TRUE(WaitFor([&] { return CountInFile(log, kMonitorWaits) > before; }, std::chrono::seconds(60)))
        << ReadFile(log);
    const size_t cutBefore = CountInFile(log, cut);
    const auto start = std::chrono::steady_clock::now();
    _agent->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // The stop ended that wait, not the monitor's sleep between ticks.
    EXPECT_EQ(CountInFile(log, cut), cutBefore + 1) << ReadFile(log);
    holder.Stop(SIGKILL);
}

// A SET whose save waits for the registry, which another program holds, keeps the agent's own copy of the block
// busy meanwhile: a query waits no longer for that copy than it would for the shared mutex.
TEST_F(NodwellAgentThreads, AQueryWaitsBoundedForTheAgentsCopyOfTheBlock)
{
    snmpagent::AgentTimings timings;
    timings.firstTickMs = 600000;
    timings.tickMs = 600000;
    timings.queryWaitMs = 200;
    _agent = std::make_unique<snmpagent::CNodwellAgent>(timings);
    ASSERT_TRUE(_agent->Start(AgentFolder()));
    snmpagent::CNodwellAgent& agent = *_agent;
    ASSERT_EQ(0, Set(agent, {2, 4, 1, 2, 1}, Text(std::string("\x0A\x00\x00\x05", 4), kAsnIpAddress)));

    // The machine hive's write lock, as another program holding it would.
    const int hive =
        open((platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(hive, 0);
    struct flock lock {
    };
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(0, fcntl(hive, F_OFD_SETLK, &lock));

    std::atomic<pid_t> setterThread{0};
    auto setting = std::async(std::launch::async, [&] {
        setterThread = static_cast<pid_t>(syscall(SYS_gettid));
        return Set(agent, {2, 4, 1, 4, 1}, Integer(4));  // add the destination: saved in the registry
    });
    // The SET waits for the hive's lock, inside the agent.
    auto inLockWait = [&] {
        if (setterThread == 0)
            return false;
        std::ifstream call("/proc/self/task/" + std::to_string(setterThread.load()) + "/syscall");
        long number = -1;
        return call >> number && number == SYS_fcntl;
    };
    const bool waiting = WaitFor(inLockWait, std::chrono::seconds(60));
    auto query = std::async(std::launch::async, [&] { return Get(agent, {2, 1, 0}); });
    // The lock is held until the query has answered or this wait ends: an answer at all shows the bound.
    const bool answered = query.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    close(hive);  // the SET goes on, and a query that waited for it with it
    const Answer answer = query.get();
    EXPECT_TRUE(waiting);
    EXPECT_TRUE(answered) << "the query waited for the SET";
    EXPECT_EQ(answer.status, kSnmpErrorGenErr);
    EXPECT_EQ(setting.get(), 0);
    EXPECT_EQ(Get(agent, {2, 4, 1, 4, 1}).number, snmpagent::kTrapActive);
}

}  // namespace
}  // namespace snmptest
