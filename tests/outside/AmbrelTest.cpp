// The request library stand-in, loaded by dlopen: its exports, the scripted backend and the service backend (here
// with a small shell program in place of the transfer service, so every final code can be produced).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/SharedLibrary.h"
#include "tests/support/TestEnv.h"

namespace fs = std::filesystem;

namespace
{

constexpr int32_t kUnavailable = static_cast<int32_t>(0x80010000u);
constexpr int32_t kComplete = static_cast<int32_t>(0x80000002u);
constexpr int32_t kCancelled = static_cast<int32_t>(0x80000003u);
constexpr int32_t kError = static_cast<int32_t>(0x80000004u);

struct Ambrel {
    platform::SharedLibrary library;
    uint32_t (*Request)(const char*, const char*, int32_t, int32_t*) = nullptr;
    int32_t (*Status)(uint32_t, double*) = nullptr;
    int32_t (*Cancel)(uint32_t) = nullptr;
    int32_t (*Release)(uint32_t) = nullptr;
    int32_t (*Text)(uint32_t, char*, int32_t) = nullptr;

    Ambrel()
    {
        if (!library.Open(KORVO_AMBREL_LIBRARY))
            return;
        Request = reinterpret_cast<decltype(Request)>(library.Symbol("RequestTransferXML"));
        Status = reinterpret_cast<decltype(Status)>(library.Symbol("TransferStatus"));
        Cancel = reinterpret_cast<decltype(Cancel)>(library.Symbol("CancelTransfer"));
        Release = reinterpret_cast<decltype(Release)>(library.Symbol("ReleaseHandle"));
        Text = reinterpret_cast<decltype(Text)>(library.Symbol("TransferStatusText"));
    }

    std::string StatusText(uint32_t handle)
    {
        char text[256] = {};
        return Text && Text(handle, text, sizeof text) >= 0 ? std::string(text) : "no TransferStatusText";
    }

    // Polls until a final word or the time runs out.
    int32_t WaitEnd(uint32_t handle, double* progress, uint32_t timeoutMs = 10000)
    {
        const uint32_t start = platform::TickCount();
        int32_t status = 0;
        while ((status = Status(handle, progress)) >= 0 || status == kUnavailable) {
            if (platform::TickCount() - start > timeoutMs)
                return status;
            platform::SleepMs(5);
        }
        return status;
    }
};

class AmbrelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ambrel.Request && ambrel.Status && ambrel.Cancel && ambrel.Release);
        dir = testsupport::TestRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir);
        setenv("AMBREL_JOURNAL", (dir / "journal").c_str(), 1);
    }
    void TearDown() override
    {
        for (const char* name : {"AMBREL_JOURNAL", "AMBREL_BACKEND", "AMBREL_SCRIPT", "AMBREL_TESSAN", "AMBREL_OUT",
                                 "AMBREL_HOSTS", "AMBREL_STOP_WAIT_MS"})
            unsetenv(name);
    }
    void Script(const std::string& text)
    {
        std::ofstream(dir / "script") << text;
        setenv("AMBREL_BACKEND", "script", 1);
        setenv("AMBREL_SCRIPT", (dir / "script").c_str(), 1);
    }
    // A stand-in for the transfer service: what it does depends on a word in the job.
    void FakeService()
    {
        const fs::path program = dir / "tessan";
        std::ofstream(program) << R"SH(#!/bin/bash
[ "$1" = ingest ] && [ "$3" = --out ] && [ "$5" = --plugin ] && [ -r "$6" ] || { echo "usage"; exit 2; }
cp "$2" "$4/job.xml"
case "$(cat "$2")" in
  *complete*) echo "ingest 5/10 frames  50%"; echo "tessan: ingest complete: 10 of 10 frames, code 14"; exit 0 ;;
  *silent*) exit 0 ;;
  *cancel*) trap 'echo "tessan: ingest cancelled: 1 of 10 frames, code 2"; exit 1' INT; echo "12.5%"; while :; do sleep 0.02; done ;;
  *deaf*) trap '' INT; echo "1%"; while :; do sleep 0.02; done ;;
  *code6*) echo "tessan: ingest failed: 3 of 10 frames, code 6, plug-in: bad block"; exit 1 ;;
  *code8*) echo "tessan: ingest failed: 0 of 10 frames, code 8"; exit 1 ;;
  *late*) echo "tessan: ingest failed: 10 of 10 frames, code 14"; echo "tessan: media not written"; exit 1 ;;
  *) echo "tessan: ingest failed: 0 of 0 frames, code -1"; echo "tessan: no such plug-in"; exit 1 ;;
esac
)SH";
        fs::permissions(program, fs::perms::owner_all);
        setenv("AMBREL_TESSAN", program.c_str(), 1);
        setenv("AMBREL_OUT", dir.c_str(), 1);
        // The stand-in service loads nothing; the library only has to find a receiver to name.
        std::ofstream(dir / "libStandInReceiver.so") << "";
        setenv("AMBREL_RECEIVER", (dir / "libStandInReceiver.so").c_str(), 1);
    }

    Ambrel ambrel;
    fs::path dir;
};

TEST_F(AmbrelTest, ExportsExactlyTheFourEntriesAndItsStatusText)
{
    const fs::path names = dir / "names";
    ASSERT_EQ(std::system((std::string("nm -D --defined-only ") + KORVO_AMBREL_LIBRARY +
                           " | awk '{print $3}' | sort > " + names.string())
                              .c_str()),
              0);
    std::ifstream in(names);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "CancelTransfer\nReleaseHandle\nRequestTransferXML\nTransferStatus\nTransferStatusText\n");
}

TEST_F(AmbrelTest, ScriptedTransferFollowsItsScript)
{
    Script("# a run that ends well\nstatus run:10 unavailable 5 complete\n");
    int32_t error = -1;
    const uint32_t handle = ambrel.Request("<?xml>\n<ingestdrag/>", "Mirel", 1, &error);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(error, 0);
    double progress = -1;
    EXPECT_EQ(ambrel.Status(handle, &progress), 0);
    EXPECT_EQ(progress, 10.0);
    EXPECT_EQ(ambrel.Status(handle, &progress), kUnavailable);
    EXPECT_EQ(ambrel.Status(handle, &progress), 5);
    EXPECT_EQ(ambrel.Status(handle, &progress), kComplete);
    EXPECT_EQ(ambrel.Status(handle, &progress), kComplete);  // the last word repeats
    EXPECT_EQ(ambrel.Release(handle), 0);
    EXPECT_EQ(ambrel.Release(handle), 1);
    EXPECT_EQ(ambrel.Status(handle, &progress), kError);

    Script("request 0 4\n");
    EXPECT_EQ(ambrel.Request("job", "Mirel", 0, &error), 0u);
    EXPECT_EQ(error, 4);
    Script("status bogus\n");
    EXPECT_EQ(ambrel.Request("job", "Mirel", 0, &error), 0u);
    EXPECT_EQ(error, 2);
    EXPECT_EQ(ambrel.Request(nullptr, "Mirel", 0, &error), 0u);
    EXPECT_EQ(error, 3);

    std::ifstream journal(dir / "journal");
    std::string first;
    std::getline(journal, first);
    EXPECT_EQ(first, "RequestTransferXML host=Mirel mxf=1 bytes=20");
}

TEST_F(AmbrelTest, ScriptedCancel)
{
    Script("status run:1\ncancel run:2 cancelled\n");
    int32_t error = 0;
    const uint32_t handle = ambrel.Request("job", "Mirel", 1, &error);
    double progress = 0;
    EXPECT_EQ(ambrel.Status(handle, &progress), 0);
    EXPECT_EQ(ambrel.Cancel(handle), 0);
    EXPECT_EQ(ambrel.Status(handle, &progress), 0);
    EXPECT_EQ(progress, 2.0);
    EXPECT_EQ(ambrel.Status(handle, &progress), kCancelled);
    ambrel.Release(handle);
}

// The service backend reads the service's output on a thread of its own.
using AmbrelServiceThreads = AmbrelTest;

TEST_F(AmbrelServiceThreads, ServiceBackendTranslatesTheReceiversFinalCode)
{
    FakeService();
    struct Case {
        const char* job;
        int32_t status;
    };
    const Case cases[] = {
        {"complete", kComplete}, {"silent", kComplete}, {"code6", kError}, {"code8", kError}, {"openfail", kError}};
    for (const Case& c : cases) {
        int32_t error = -1;
        const uint32_t handle = ambrel.Request(c.job, "Mirel", 1, &error);
        ASSERT_NE(handle, 0u) << c.job;
        EXPECT_EQ(error, 0);
        double progress = 0;
        EXPECT_EQ(ambrel.WaitEnd(handle, &progress), c.status) << c.job;
        if (std::string(c.job) == "complete")
            EXPECT_EQ(progress, 100.0);
        // The service's report, and its last line of its own, are the status text.
        if (std::string(c.job) == "code6")
            EXPECT_EQ(ambrel.StatusText(handle), "ingest failed: 3 of 10 frames, code 6, plug-in: bad block");
        if (std::string(c.job) == "openfail")
            EXPECT_EQ(ambrel.StatusText(handle), "ingest failed: 0 of 0 frames, code -1; no such plug-in");
        EXPECT_EQ(ambrel.Release(handle), 0);
    }
    // The service got the job text as it was sent.
    bool found = false;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_directory() && fs::exists(entry.path() / "job.xml"))
            found = found || std::ifstream(entry.path() / "job.xml").peek() != EOF;
    EXPECT_TRUE(found);
}

TEST_F(AmbrelServiceThreads, ServiceBackendRequestErrors)
{
    FakeService();
    int32_t error = 0;
    EXPECT_EQ(ambrel.Request("complete", "Elsewhere", 1, &error), 0u);
    EXPECT_EQ(error, 1);
    setenv("AMBREL_HOSTS", "Ingest1;Ingest2", 1);
    const uint32_t handle = ambrel.Request("complete", "Ingest2", 1, &error);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(error, 0);
    ambrel.Release(handle);
    // A service that cannot be started: the request is refused and leaves nothing under the output folder
    // beside the one ingest granted above.
    std::ofstream(dir / "not-a-program") << "#!/bin/sh\n";
    const struct {
        const char* program;
        const char* cause;
    } missing[] = {{"no-such-program", "No such file or directory"}, {"not-a-program", "Permission denied"}};
    for (const auto& c : missing) {
        SCOPED_TRACE(c.program);
        setenv("AMBREL_TESSAN", (dir / c.program).c_str(), 1);
        EXPECT_EQ(ambrel.Request("complete", "Ingest1", 1, &error), 0u);
        EXPECT_EQ(error, 2);
        EXPECT_EQ(ambrel.StatusText(0), "service not started: " + (dir / c.program).string() + ": " + c.cause);
        std::vector<std::string> made;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("ingest-") || name.starts_with("job-"))
                made.push_back(name);
        }
        EXPECT_EQ(made.size(), 2u) << ::testing::PrintToString(made);
    }
}

TEST_F(AmbrelServiceThreads, ServiceBackendCancelAndReleaseOfARunningService)
{
    FakeService();
    int32_t error = 0;
    const uint32_t handle = ambrel.Request("cancel", "Mirel", 1, &error);
    ASSERT_NE(handle, 0u);
    double progress = 0;
    while (progress == 0)
        ambrel.Status(handle, &progress);
    EXPECT_EQ(progress, 12.5);
    EXPECT_EQ(ambrel.Status(handle, &progress), 0);
    EXPECT_EQ(ambrel.Cancel(handle), 0);
    EXPECT_EQ(ambrel.WaitEnd(handle, &progress), kCancelled);
    EXPECT_EQ(ambrel.Release(handle), 0);

    // Released while it runs and deaf to the cancel: it is ended, and the release comes back.
    setenv("AMBREL_STOP_WAIT_MS", "200", 1);
    const uint32_t deaf = ambrel.Request("deaf", "Mirel", 1, &error);
    ASSERT_NE(deaf, 0u);
    progress = 0;
    while (progress == 0)
        EXPECT_EQ(ambrel.Status(deaf, &progress), 0);
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(ambrel.Release(deaf), 0);
    const uint32_t took = platform::TickCount() - start;
    EXPECT_GE(took, 150u);  // the cancel was given its time first
    EXPECT_LT(took, 20000u);
}

}  // namespace
