#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace testsupport
{

constexpr int kNotRun = -1000;

// A child process that runs body as the ordinary user "nobody" (uid and gid 65534) when this process is
// root, else as the current user. It is forked at construction, before the caller starts threads of its own
// (a server): a child forked while another thread holds a lock, the sanitizer's allocator among them, waits
// on it for ever. Run hands the child a text (an address), lets it run and gives its exit code; kNotRun when
// it could not run. The child ends with _exit: it must not run the parent's clean-up.
class UnprivilegedChild
{
public:
    explicit UnprivilegedChild(const std::function<int(const std::string&)>& body)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        _pid = fork();
        if (_pid != 0) {
            close(fds[0]);
            _pipe = fds[1];
            return;
        }
        close(fds[1]);
        std::string text;
        char buffer[256];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        if (geteuid() == 0) {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(125);
        }
        int code = 126;
        try {
            code = body(text);
        } catch (...) {
        }
        _exit(code);
    }
    ~UnprivilegedChild() { Run(""); }
    UnprivilegedChild(const UnprivilegedChild&) = delete;
    UnprivilegedChild& operator=(const UnprivilegedChild&) = delete;

    int Run(const std::string& text)
    {
        if (_pid <= 0)
            return kNotRun;
        for (size_t at = 0; at < text.size();) {
            const ssize_t n = write(_pipe, text.data() + at, text.size() - at);
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }
        close(_pipe);
        int status = 0;
        const pid_t pid = _pid;
        _pid = -1;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 125)
            return kNotRun;
        return WEXITSTATUS(status);
    }

private:
    pid_t _pid = -1;
    int _pipe = -1;
};

// Runs body in such a child at once (call it before this test starts any thread).
inline int RunUnprivileged(const std::function<int()>& body)
{
    return UnprivilegedChild([&](const std::string&) { return body(); }).Run("");
}

}  // namespace testsupport
