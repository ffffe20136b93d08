#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace testsupport
{

constexpr int kNotRun = -1000;

// Runs body in a child process as the ordinary user "nobody" (uid and gid 65534) when this process
// is root, else as the current user, and gives the child's exit code; kNotRun when it could not run.
// The child ends with _exit: it must not run the parent's clean-up.
inline int RunUnprivileged(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid < 0)
        return kNotRun;
    if (pid == 0) {
        if (geteuid() == 0) {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(125);
        }
        int code = 126;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 125)
        return kNotRun;
    return WEXITSTATUS(status);
}

}  // namespace testsupport
