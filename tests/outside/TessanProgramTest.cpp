#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MobIF.h"
#include "outside/tessan/ProgressLine.h"
#include "tests/outside/TessanTestKit.h"
#include "tests/support/FileTestKit.h"

namespace
{

class TessanProgram : public tessantest::FakeRun
{
protected:
    struct Outcome {
        int status = -1;
        std::string out;
        std::string err;
    };

    pid_t Start(const std::vector<std::string>& args)
    {
        std::vector<char*> argv{const_cast<char*>(KORVO_TESSAN_PROGRAM)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::string out = (_dir / "stdout.txt").string(), err = (_dir / "stderr.txt").string();
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    Outcome Finish(pid_t pid)
    {
        Outcome outcome;
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            outcome.status = WEXITSTATUS(status);
        outcome.out = testsupport::ReadWholeFile(_dir / "stdout.txt");
        outcome.err = testsupport::ReadWholeFile(_dir / "stderr.txt");
        return outcome;
    }

    Outcome Tessan(const std::vector<std::string>& args) { return Finish(Start(args)); }

    std::string WriteJob(const tessantest::Values& changes = {}, const char* name = "job.xml")
    {
        tessantest::Values values = {{"directory", Source().parent_path().string()},
                                     {"lookupname", Source().filename().string()},
                                     {"markin", "00:00:00:00"},
                                     {"markout", "00:00:00:10"},
                                     {"KorvoDataType", "DVCPro"}};
        values.insert(values.end(), changes.begin(), changes.end());
        std::string path = (_dir / name).string();
        testsupport::WriteWholeFile(path, tessantest::JobText(values));
        return path;
    }
};

TEST_F(TessanProgram, GivesHelpAndRefusesBadUsage)
{
    Outcome help = Tessan({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: tessan ingest JOB.xml --out DIR"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Ctrl-C cancels"), std::string::npos);
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{}, "tessan: no command"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"ingest", "job.xml"}, "no --out folder"},
        {{"playout", "--media", "dir"}, "no composition file"},
        {{"ingest", "job.xml", "--out", "dir", "--bogus"}, "unexpected argument \"--bogus\""},
    };
    for (const Case& c : cases) {
        Outcome outcome = Tessan(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    }
}

TEST_F(TessanProgram, IngestsAndReportsTheResult)
{
    Outcome outcome = Tessan({"ingest", WriteJob(), "--out", Out().string(), "--plugin", KORVO_FAKERECEIVER_LIBRARY});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "tessan: ingest complete: 10 of 10 frames, code 14, plug-in: fake receiver: End Of Data\n");
    EXPECT_EQ(std::filesystem::file_size(Out() / "video.dv"), 10 * tessantest::kDvFrameBytes);

    // --live marks the clip as recording.
    outcome = Tessan({"ingest", WriteJob(), "--out", Out().string(), "--live", "--plugin", KORVO_FAKERECEIVER_LIBRARY});
    EXPECT_NE(JournalText().find(" live=1\n"), std::string::npos);
}

TEST_F(TessanProgram, AnIngestedClipPlaysOutAgainFromItsFolder)
{
    ASSERT_EQ(Tessan({"ingest", WriteJob(), "--out", Out().string(), "--plugin", KORVO_FAKERECEIVER_LIBRARY}).status,
              0);
    std::string composition = (Out() / "composition.xml").string();
    ASSERT_EQ(std::system(("xmllint --noout '" + composition + "'").c_str()), 0);
    // The user names the target.
    std::filesystem::create_directories(_dir / "target");
    {
        Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(composition.c_str());
        Qo::Generic::ContainerBuffer* buffer = helper->BufferFromFile(composition.c_str());
        Qo::Generic::ContainerIF* container = helper->OpenContainer(buffer, Qo::Generic::kOpenReadWrite);
        ASSERT_NE(container, nullptr);
        Qo::Generic::MobIF* mob = container->OpenMob(container->GetCompositionMobIDs(true).at(0));
        mob->SetAttribute("_USER", "TGT-Address", (_dir / "target").c_str());
        container->ReleaseMob(mob);
        helper->ReturnContainer(container);
        buffer->WriteToFile(composition.c_str());
        Qo::Generic::DeleteHelper(helper);
    }
    ClearJournal();
    Outcome outcome = Tessan({"playout", composition, "--media", Out().string(), "--plugin", KORVO_FAKESENDER_LIBRARY});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "tessan: playout complete: 10 of 10 frames, code 0\n");
    EXPECT_NE(JournalText().find("open duration=10 standard=1 tracks=0,1,2, width=24 compressors=Mirel::DVCPRO::50, "),
              std::string::npos)
        << JournalText();
    EXPECT_EQ(testsupport::ReadWholeFile(_dir / "target" / "sent0.bin"),
              testsupport::ReadWholeFile(Out() / "video.dv"));
}

TEST_F(TessanProgram, FailsClearlyWithExitStatusOne)
{
    struct Case {
        std::vector<std::string> args;
        const char* mode;
        std::string error;
    };
    std::string missing = (_dir / "missing.xml").string();
    const Case cases[] = {
        {{"ingest", WriteJob({{"KorvonAudios", "9"}}, "bad.xml"), "--out", Out().string()},
         "",
         "tessan: ingest job: KorvonAudios \"9\" is not a number from 0 to 8"},
        {{"ingest", missing, "--out", Out().string()}, "", "tessan: ingest job: cannot read " + missing},
        {{"ingest", WriteJob(), "--out", Out().string(), "--plugin", KORVO_FAKERECEIVER_LIBRARY},
         "throw-at:2",
         "tessan: the plug-in threw in Recv: fake receiver: Recv throws"},
        {{"playout", missing, "--media", Out().string(), "--plugin", KORVO_FAKESENDER_LIBRARY},
         "",
         "tessan: composition " + missing + ": cannot read"},
    };
    for (const Case& c : cases) {
        SetMode(c.mode);
        Outcome outcome = Tessan(c.args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    }
}

TEST_F(TessanProgram, CtrlZPausesAndResumesAndCtrlCCancelsWithTheReceiverStillClosed)
{
    setenv("FAKE_DELAY_MS", "30", 1);
    pid_t pid = Start({"ingest", WriteJob(), "--out", Out().string(), "--plugin", KORVO_FAKERECEIVER_LIBRARY});
    ASSERT_TRUE(WaitFor([this] { return JournalText().find("read 2\n") != std::string::npos; }));
    kill(pid, SIGTSTP);
    ASSERT_TRUE(WaitFor([this] { return JournalText().find("pause\n") != std::string::npos; }));
    kill(pid, SIGTSTP);
    ASSERT_TRUE(WaitFor([this] { return JournalText().find("resume\n") != std::string::npos; }));
    kill(pid, SIGINT);
    Outcome outcome = Finish(pid);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.out.find("tessan: ingest cancelled:"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.err.find("tessan: paused (Ctrl-Z resumes)"), std::string::npos);
    EXPECT_NE(outcome.err.find("tessan: cancelling"), std::string::npos);
    EXPECT_TRUE(JournalText().ends_with("cancel\nclose\ndelete live=0\n")) << JournalText();
    EXPECT_NE(testsupport::ReadWholeFile(Out() / "manifest.xml").find("complete=\"0\""), std::string::npos);
}

TEST(TessanProgressLine, ShowsFramesRateAndTime)
{
    EXPECT_EQ(tessan::FormatProgress("ingest", 50, 200, 2.0, false),
              "ingest: 50/200 frames (25%)  25.0 frames/s  2.0 s");
    EXPECT_EQ(tessan::FormatProgress("playout", 0, 200, 0.0, true),
              "playout: 0/200 frames (0%)  0.0 frames/s  0.0 s  [paused]");
    EXPECT_EQ(tessan::FormatProgress("ingest", 75, 0, 3.0, false), "ingest: 75 frames  25.0 frames/s  3.0 s");
}

}  // namespace
