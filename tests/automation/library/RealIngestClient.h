#pragma once
// An ingest as a client program of libDravik.so makes it with the real pieces: the clip file written by the
// project's clip writer, its job made by the browser's own description of a local clip, the transfer service's
// client library (its stand-in, running outside/tessan's transfer) placed in the library folder as
// libtessanapiVC7.so and the receiver plug-in libRecalo.so. The client library is not held open by the test:
// it lives exactly as long as libDravik.so keeps it, and the test reaches its controls only while it is loaded.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "browser/CValdrinViewCore.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/support/TestEnv.h"

namespace realclient
{

namespace fs = std::filesystem;
using ControlFn = int (*)(const char* key, const char* value, char* reply, int replySize);

// IMX 50 at 25 Hz in 8 MB blocks, 8 tracks of sound, 40 pictures.
constexpr parvexclip::ClipSpec kClip{"Imx50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 40, false};

// States of the status record as the client library reports them.
constexpr int32_t kRunning = 2;
constexpr int32_t kPaused = 3;
constexpr int32_t kComplete = 4;

inline fs::path ClientLibraryPath()
{
    return testsupport::TestRoot() / "lib" / "libtessanapiVC7.so";
}

// Whether the client library is loaded in this process now.
inline bool ClientLoaded()
{
    void* handle = dlopen(ClientLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

// Sets a value of the loaded client library; false when it is not loaded.
inline bool ClientControl(const std::string& key, const std::string& value)
{
    void* handle = dlopen(ClientLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    auto control = reinterpret_cast<ControlFn>(dlsym(handle, "TessanApiControl"));
    if (control)
        control(key.c_str(), value.c_str(), nullptr, 0);
    dlclose(handle);
    return control != nullptr;
}

// After libDravik.so has loaded the client library: its ingests go to out with the real receiver.
inline bool SendIngestsTo(const fs::path& out)
{
    return ClientControl("tessan.out", out.string()) && ClientControl("tessan.plugin", KORVO_RECALO_LIBRARY);
}

class NoBoxes : public IMessageSink
{
public:
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon) override
    {
        ADD_FAILURE() << caption << ": " << text;
    }
};

// A clip file in the test's folder, its job as the browser describes it, the client library placed unopened.
class RealIngest
{
public:
    RealIngest()
    {
        dir = testsupport::TestRoot() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir / "clips");
        fs::create_directories(dir / "out");
        parvexclip::ClipWriter writer(kClip);
        EXPECT_TRUE(writer.WriteAll((dir / "clips" / "news.mxf").string()));
        NoBoxes sink;
        CValdrinViewCore view(sink);
        view.Settings()._szCurrentFolder = (dir / "clips").string() + "/";
        view.Settings()._b24BitsAudio = true;
        view.SetFixedCopyPath((dir / "ingestdrag.xml").string());
        EXPECT_EQ(view.GetFileInfos("news.mxf", job, nullptr), 0);
        std::error_code ec;
        fs::create_directories(ClientLibraryPath().parent_path(), ec);
        fs::remove(ClientLibraryPath(), ec);
        fs::create_symlink(KORVO_TESSANAPI_LIBRARY, ClientLibraryPath(), ec);
        EXPECT_FALSE(ec) << ec.message();
    }

    fs::path Out() const { return dir / "out"; }

    fs::path dir;
    std::string job;
};

// How a child process ended.
struct ChildEnd {
    bool ended = false;  // false: still running at the limit, then killed
    int code = -1;       // its exit code, -1 when a signal ended it
    int signal = 0;
};

inline std::string Describe(const ChildEnd& end)
{
    if (!end.ended)
        return "did not end in time (a deadlock?)";
    if (end.signal)
        return std::string("killed by signal ") + std::to_string(end.signal) + " (" + strsignal(end.signal) + ")";
    return "exit code " + std::to_string(end.code);
}

// Runs body in a child process and waits for it at most limit: a hang or a crash there fails the test instead
// of ending it. The child tells what went wrong on its standard error and ends with body's result.
inline ChildEnd RunBounded(const std::function<int()>& body, std::chrono::milliseconds limit)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        std::fflush(nullptr);
        _exit(code);
    }
    ChildEnd end;
    if (pid < 0)
        return end;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd wait{pidfd, POLLIN, 0};
    const bool ended = pidfd >= 0 && poll(&wait, 1, static_cast<int>(limit.count())) == 1;
    if (pidfd >= 0)
        close(pidfd);
    if (!ended)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    end.ended = ended;
    if (WIFEXITED(status))
        end.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        end.signal = WTERMSIG(status);
    return end;
}

// In a child: reports a failed check and gives its number as the exit code.
inline int Failed(int number, const std::string& what)
{
    std::fprintf(stderr, "check %d failed: %s\n", number, what.c_str());
    return number;
}

}  // namespace realclient
