// tessan: the transfer service. Loads the receiver or sender plug-in and runs one ingest or playout.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/ProgressLine.h"

namespace
{

constexpr const char* kUsage =
    "usage: tessan ingest JOB.xml --out DIR [--live] [--plugin LIB]\n"
    "       tessan playout COMPOSITION.xml --media DIR [--plugin LIB]\n"
    "\n"
    "ingest   turns the ingest job document JOB.xml into a composition, opens the receiver plug-in\n"
    "         (libRecalo.so) on it and writes the media it delivers into DIR: the pictures in one\n"
    "         elementary-stream file, one WAV per audio track and manifest.xml; for a complete clip\n"
    "         also composition.xml, which plays it out again once its TGT- attributes are added.\n"
    "         The records of an earlier ingest in DIR are removed before its media are replaced.\n"
    "         --live treats the clip as still recording.\n"
    "playout  opens the sender plug-in (libDornsend.so) on the composition file and sends it the media\n"
    "         of DIR (laid out as an ingest writes it), null frames for a track without media. Media\n"
    "         of an incomplete ingest, or a track shorter than the composition, are refused.\n"
    "--plugin LIB  the plug-in to load: a path, or a name looked up as libLIB.so in $KORVO_LIBRARY_DIR.\n"
    "\n"
    "While it runs: Ctrl-C cancels (the plug-in is still closed), Ctrl-Z pauses and resumes.\n"
    "A progress line shows on a terminal. Exit status 0 only for a complete transfer, 1 when it\n"
    "failed or was cancelled, 2 for a usage error.\n";

constexpr int kExitComplete = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr auto kTick = std::chrono::milliseconds(100);
constexpr int kTicksPerProgressLine = 5;

int Usage(const char* problem)
{
    if (problem)
        std::fprintf(stderr, "tessan: %s\n\n", problem);
    std::fputs(kUsage, problem ? stderr : stdout);
    return problem ? kExitUsage : kExitComplete;
}

// Waits for the terminal's signals on its own thread (they are blocked everywhere else) and turns
// them into cancel, pause and resume; shows the progress line meanwhile.
class SignalWatcher
{
public:
    SignalWatcher(tessan::CTransfer& transfer, const char* direction) : _transfer(transfer), _direction(direction)
    {
        _thread = std::thread([this] { Watch(); });
    }
    ~SignalWatcher()
    {
        _done = true;
        _thread.join();
        if (_progressShown)
            std::fputc('\n', stderr);
    }

private:
    void Watch()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGTSTP);
        timespec tick{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kTick).count()};
        auto begin = std::chrono::steady_clock::now();
        bool terminal = isatty(STDERR_FILENO);
        for (int n = 0; !_done; ++n) {
            int sig = sigtimedwait(&set, nullptr, &tick);
            if (sig == SIGINT || sig == SIGTERM) {
                std::fprintf(stderr, "\ntessan: cancelling\n");
                _transfer.Cancel();
            } else if (sig == SIGTSTP) {
                bool pause = !_transfer.IsPaused();
                std::fprintf(stderr, pause ? "\ntessan: paused (Ctrl-Z resumes)\n" : "\ntessan: resumed\n");
                pause ? _transfer.Pause() : _transfer.Resume();
            }
            if (terminal && n % kTicksPerProgressLine == 0) {
                double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                std::string line = tessan::FormatProgress(_direction, _transfer.FramesDone(),
                                                          _transfer.FramesExpected(), seconds, _transfer.IsPaused());
                std::fprintf(stderr, "\r%s\033[K", line.c_str());
                _progressShown = true;
            }
        }
    }

    tessan::CTransfer& _transfer;
    const char* _direction;
    std::atomic<bool> _done{false};
    bool _progressShown = false;
    std::thread _thread;
};

int Report(const char* direction, const tessan::TransferResult& result)
{
    std::printf("tessan: %s %s: %lld of %lld frames, code %d", direction,
                result.complete ? "complete" : (result.cancelled ? "cancelled" : "failed"),
                static_cast<long long>(result.frames), static_cast<long long>(result.expectedFrames), result.code);
    if (!result.pluginText.empty())
        std::printf(", plug-in: %s", result.pluginText.c_str());
    std::printf("\n");
    if (!result.hostText.empty())
        std::fprintf(stderr, "tessan: %s\n", result.hostText.c_str());
    std::fflush(stdout);
    return result.complete ? kExitComplete : kExitFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("no command");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help")
        return Usage(nullptr);
    if (command != "ingest" && command != "playout")
        return Usage(("unknown command \"" + command + "\"").c_str());
    std::string document, folder, plugin;
    bool live = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&](const char* what) -> const char* { return i + 1 < argc ? argv[++i] : what; };
        if (arg == "--help" || arg == "-h")
            return Usage(nullptr);
        if ((command == "ingest" && arg == "--out") || (command == "playout" && arg == "--media")) {
            folder = next("");
        } else if (arg == "--plugin") {
            plugin = next("");
        } else if (arg == "--live" && command == "ingest") {
            live = true;
        } else if (!arg.empty() && arg[0] != '-' && document.empty()) {
            document = arg;
        } else {
            return Usage(("unexpected argument \"" + arg + "\"").c_str());
        }
    }
    const char* folderOption = command == "ingest" ? "--out" : "--media";
    if (document.empty())
        return Usage(command == "ingest" ? "no job document" : "no composition file");
    if (folder.empty())
        return Usage((std::string("no ") + folderOption + " folder").c_str());

    // The signals go to the watcher thread only, also when the caller left them ignored.
    for (int sig : {SIGINT, SIGTERM, SIGTSTP})
        signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    if (command == "ingest") {
        tessan::CIngestJob job;
        if (!job.Load(document)) {
            std::fprintf(stderr, "tessan: %s\n", job.Error().c_str());
            return kExitFailed;
        }
        job.SetLive(live);
        tessan::CIngestTransfer transfer(std::move(job), folder);
        if (!plugin.empty())
            transfer.SetPlugin(plugin);
        tessan::TransferResult result;
        {
            SignalWatcher watcher(transfer, "ingest");
            result = transfer.Run();
        }
        return Report("ingest", result);
    }
    tessan::CPlayoutTransfer transfer(document, folder);
    if (!plugin.empty())
        transfer.SetPlugin(plugin);
    tessan::TransferResult result;
    {
        SignalWatcher watcher(transfer, "playout");
        result = transfer.Run();
    }
    return Report("playout", result);
}
