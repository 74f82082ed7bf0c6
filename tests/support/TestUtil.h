#pragma once

// Helpers the test programs share: the message of a thrown qix::Error, whole files, child
// processes, a temporary working directory, time points by their ticks and hostile names.

#include <qix/sql/ConfigurationTypes.h>
#include <qix/util/exceptions.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace qix::test {

/// The message of the qix::Error that `action` throws.
inline std::string message_of(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.get_message();
    }
    return "(no qix::Error thrown)";
}

inline std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spit(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// Runs `body` in a child process, as an unprivileged user if asked (root ignores permission
/// bits), and returns whether it returned true.
inline bool in_child(bool unprivileged, const std::function<bool()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool dropped = !unprivileged || ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
        ::_exit(dropped && body() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// Makes `dir` the working directory for the life of the object.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& dir) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    ~WorkingDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }

private:
    std::filesystem::path previous_;
};

/// The time point `ticks` nanoseconds after the epoch.
inline sql::time_point at(std::int64_t ticks) { return sql::time_point(std::chrono::nanoseconds(ticks)); }

/// Names built to end a string literal or a statement, comment out the rest of it, or start a
/// second one (which would drop the sentinel table VEDUV.SENTINEL).
inline const std::vector<std::string> kHostileNames = {
    "LUMEN'; DROP TABLE VEDUV.SENTINEL; --",
    "LUMEN\"; DROP TABLE VEDUV.SENTINEL; --",
    "LUMEN_VIEW_COMPONENTS; DROP TABLE VEDUV.SENTINEL",
    "X' OR '1'='1",
    "X' UNION SELECT 'ID' FROM VEDUV.SENTINEL --",
    "LUMEN/*",
    "*/ DROP TABLE VEDUV.SENTINEL /*",
    "LUMEN -- comment",
    "LUMEN\nDROP TABLE VEDUV.SENTINEL",
    "X\\'; DROP TABLE VEDUV.SENTINEL; --",
    std::string("X\0'; DROP TABLE VEDUV.SENTINEL; --", 34),
    "X'||(SELECT COUNT(*) FROM VEDUV.SENTINEL)||'",
    "{fn USER()}",
    "?",
    "LU MEN",
    " LUMEN ",
    "\t",
    "",
};

} // namespace qix::test
