#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/CLogManager.h"
#include "platform/SharedLibrary.h"
#include "tests/common/LogText.h"

namespace fs = std::filesystem;
using namespace logtest;

namespace
{

std::vector<std::string> Messages(const fs::path& path)
{
    std::vector<std::string> out;
    for (const std::string& line : Lines(ReadAll(path)))
        if (!line.empty() && line != kStars)
            out.push_back(Message(line));
    return out;
}

}  // namespace

TEST(CLogManager, NothingIsWrittenBeforeALogIsOpen)
{
    CLogManager manager;
    EXPECT_EQ(manager.Log("dropped %d", 1), 0);
    EXPECT_EQ(manager.LogTo("", "dropped"), 0);
    EXPECT_EQ(manager.Write("dropped"), 0);
    EXPECT_EQ(manager.NewLine(), 0);
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_FALSE(manager.IsOpen("other"));
    EXPECT_EQ(manager.Reset("other"), 0);
    EXPECT_EQ(manager.CloseLog("other"), 0);
    EXPECT_EQ(manager.Close(), 0);
    // The global one starts just as empty.
    EXPECT_FALSE(theLogManager.IsOpen(""));
}

TEST(CLogManager, EmptyNameIsTheDefaultLog)
{
    fs::path dir = FreshDir("manager-default");
    CLogManager manager;
    ASSERT_EQ(manager.OpenLog((dir / "d.log").string(), 1 << 20, ""), 1);
    EXPECT_TRUE(manager.IsOpen());
    EXPECT_TRUE(manager.IsOpen("default"));
    EXPECT_EQ(manager.Log("plain %d", 1), 1);
    EXPECT_EQ(manager.LogTo("", "by empty name %d", 2), 1);
    EXPECT_EQ(manager.LogTo("default", "by name %d", 3), 1);
    // Through the base class the manager is the default log too.
    CLogFile& asLog = manager;
    EXPECT_EQ(asLog.Log("as a log %d", 4), 1);
    EXPECT_EQ(manager.Write("raw\r\n", ""), 1);
    EXPECT_EQ(manager.CloseLog(""), 1);
    EXPECT_EQ(manager.Log("after close"), 0);
    EXPECT_EQ(Messages(dir / "d.log"),
              (std::vector<std::string>{"* LOG FILE OPENED *", "plain 1", "by empty name 2", "by name 3", "as a log 4",
                                        "<no stamp>", "* LOG FILE CLOSED *"}));
}

TEST(CLogManager, NamesAreOpenedOnceAndFailedOpensStay)
{
    fs::path dir = FreshDir("manager-names");
    CLogManager manager;
    ASSERT_EQ(manager.OpenLog((dir / "first.log").string(), 1 << 20, "A"), 1);
    EXPECT_EQ(manager.OpenLog((dir / "second.log").string(), 1 << 20, "A"), 1);
    EXPECT_FALSE(fs::exists(dir / "second.log"));
    EXPECT_EQ(manager.LogTo("A", "to A"), 1);
    EXPECT_EQ(manager.Log("to default"), 0);
    EXPECT_EQ(Messages(dir / "first.log").back(), "to A");

    // A failed open keeps its name: no retry until it is closed.
    EXPECT_EQ(manager.OpenLog((dir / "missing" / "b.log").string(), 1 << 20, "B"), 0);
    EXPECT_FALSE(manager.IsOpen("B"));
    EXPECT_EQ(manager.OpenLog((dir / "b.log").string(), 1 << 20, "B"), 1);
    EXPECT_EQ(manager.LogTo("B", "lost"), 0);
    EXPECT_FALSE(fs::exists(dir / "b.log"));
    EXPECT_EQ(manager.CloseLog("B"), 0);
    EXPECT_EQ(manager.OpenLog((dir / "b.log").string(), 1 << 20, "B"), 1);
    EXPECT_EQ(manager.LogTo("B", "kept"), 1);
    EXPECT_EQ(manager.NewLine("B"), 1);
    EXPECT_EQ(manager.Reset("B"), 1);
    EXPECT_EQ(Messages(dir / "b.lo~").back(), "kept");
}

TEST(CLogManager, DestructionClosesEveryLog)
{
    fs::path dir = FreshDir("manager-exit");
    {
        CLogManager manager;
        ASSERT_EQ(manager.OpenLog((dir / "one.log").string(), 1 << 20, "one"), 1);
        ASSERT_EQ(manager.OpenLog((dir / "two.log").string(), 1 << 20, ""), 1);
    }
    EXPECT_EQ(Messages(dir / "one.log").back(), "* LOG FILE CLOSED *");
    EXPECT_EQ(Messages(dir / "two.log").back(), "* LOG FILE CLOSED *");
}

TEST(CLogManager, ModuleUnloadedWhileTheProgramGoesOnLogging)
{
    fs::path path = FreshDir("module") / "Module.log";
    CLogManager manager;
    ASSERT_EQ(manager.OpenLog(path.string(), 1 << 20, ""), 1);
    for (int round = 0; round < 2; ++round) {
        platform::SharedLibrary module;
        ASSERT_TRUE(module.Open(KORVO_TEST_LOG_MODULE)) << module.LastError();
        auto open = reinterpret_cast<int (*)(const char*)>(module.Symbol("LogModuleOpen"));
        auto log = reinterpret_cast<int (*)(const char*)>(module.Symbol("LogModuleLog"));
        ASSERT_TRUE(open && log);
        EXPECT_EQ(log("before open"), 0);
        ASSERT_EQ(open(path.c_str()), 1);
        EXPECT_EQ(manager.Log("program %d", round), 1);
        EXPECT_EQ(log("loaded"), 1);
        // Unloading destroys the module's own manager, which closes its log.
        module.Close();
        EXPECT_EQ(manager.Log("program after unload %d", round), 1);
    }
    EXPECT_EQ(Messages(path), (std::vector<std::string>{
                                  "* LOG FILE OPENED *", "* LOG FILE OPENED *", "program 0", "module: loaded",
                                  "* LOG FILE CLOSED *", "program after unload 0", "* LOG FILE OPENED *", "program 1",
                                  "module: loaded", "* LOG FILE CLOSED *", "program after unload 1"}));
}

TEST(CLogManagerThreads, ManyWritersWhileLogsOpenAndClose)
{
    fs::path dir = FreshDir("manager-threads");
    CLogManager manager;
    ASSERT_EQ(manager.OpenLog((dir / "d.log").string(), 1 << 24, ""), 1);
    ASSERT_EQ(manager.OpenLog((dir / "x.log").string(), 1 << 24, "x"), 1);
    constexpr int kWriters = 6, kLines = 200;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    // One thread keeps opening and closing a third log under the write lock.
    std::thread churn([&] {
        for (int i = 0; !stop; ++i) {
            manager.OpenLog((dir / "churn.log").string(), 1 << 24, "churn");
            manager.LogTo("churn", "churn %d", i);
            manager.CloseLog("churn");
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int i = 0; i < kLines; ++i) {
                bool ok = (w % 2 ? manager.LogTo("x", "w%d n%d", w, i) : manager.Log("w%d n%d", w, i)) == 1;
                manager.IsOpen("churn");
                failures += ok ? 0 : 1;
            }
        });
    for (auto& t : writers)
        t.join();
    stop = true;
    churn.join();
    EXPECT_EQ(failures, 0);
    size_t lines = 0;
    for (const char* file : {"d.log", "x.log"})
        for (const std::string& msg : Messages(dir / file)) {
            EXPECT_NE(msg, "<no stamp>");
            EXPECT_EQ(msg.find("<cut>"), std::string::npos);
            lines += msg[0] == 'w' ? 1 : 0;
        }
    EXPECT_EQ(lines, size_t{kWriters * kLines});
}

TEST(CLogManagerThreads, ReadWriteLockSharesReadersAndExcludesWriters)
{
    CReadWriteLock lock;
    // The writer re-enters and reads freely while it holds the lock.
    ASSERT_TRUE(lock.WriteLock(0));
    ASSERT_TRUE(lock.WriteLock(0));
    lock.ReadLock();
    lock.ReadUnlock();
    lock.WriteUnlock();
    std::atomic<bool> taken{false};
    std::thread other([&] { taken = lock.WriteLock(20); });
    other.join();
    EXPECT_FALSE(taken);  // still held once
    lock.WriteUnlock();

    // Readers share the lock; a writer waits until the last reader leaves.
    std::atomic<int> inside{0};
    std::thread reader([&] {
        lock.ReadLock();
        ++inside;
        while (inside < 2)
            std::this_thread::yield();
        lock.ReadUnlock();
    });
    lock.ReadLock();
    ++inside;
    while (inside < 2)
        std::this_thread::yield();
    EXPECT_FALSE(lock.WriteLock(20)) << "a reader holds the lock";
    lock.ReadUnlock();
    reader.join();
    ASSERT_TRUE(lock.WriteLock(platform::kInfinite));
    // Readers of other threads wait for the writer.
    std::atomic<bool> read{false};
    std::thread late([&] {
        lock.ReadLock();
        read = true;
        lock.ReadUnlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(read);
    lock.WriteUnlock();
    late.join();
    EXPECT_TRUE(read);
}
