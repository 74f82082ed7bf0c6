#pragma once

// Helpers of the fault tests: child processes with a bound on their run time, and the
// privileges of nobody for writes that root would not be refused.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace qix::test::reliability {

/// Runs `body` in a child process and returns whether it returned true before `limit` ran
/// out. A child still running then is killed: the bound is chosen many times above every
/// time-out involved, so reaching it means a hang, not a slow answer.
inline bool finishes_within(std::chrono::seconds limit, const std::function<bool()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body() ? 0 : 1);
    if (pid < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// Continues the calling (child) process as the user nobody when it runs as root, who may
/// write anywhere. Returns false when that fails.
inline bool become_nobody()
{
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

} // namespace qix::test::reliability
