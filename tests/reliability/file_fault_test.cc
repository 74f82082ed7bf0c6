// The list file under concurrent processes and at its limits: a writer killed at random points
// or inside a write while reads race it, and a line of 100 MB.

#include "load_scenarios.h"

#include <signal.h>
#include <sys/resource.h>

#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;

// `count` components with eight flags each; `tag` makes two such lists differ in every record.
ComponentList large_list(int count, const std::string& tag)
{
    ComponentList list;
    list.flag_names_ = {"QUAD", "DIPOLE", "BPM", "CAVITY", "KICKER", "SCREEN", "VACUUM", "SPARE"};
    for (int i = 0; i < count; ++i) {
        const std::string n = tag + std::to_string(i);
        list.components_.push_back(make_component(
            {n, n + " real", "", "S" + std::to_string(i % 40), "", tag, "", "component " + n, "link\t" + n},
            {0, 0, 0.125 * i, 0.25 * i}, std::vector<bool>(8, i % 3 == 0)));
    }
    return list;
}

// Removes what killed writers left next to the target; returns how many there were.
int remove_leftovers(const fs::path& dir, const fs::path& target)
{
    int removed = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        removed += entry.path() != target && fs::remove(entry.path());
    return removed;
}

// A writer killed at random points, with reads racing it until the kill: every look at the
// file finds the old or the new list.
TEST(ListFileFaults, AWriterKilledAtAnyPointLeavesTheOldOrTheNewListAndNothingElse)
{
    qix::test::TempDir dir;
    const fs::path target = dir / "list.txt";
    const ComponentList lists[2] = {large_list(10000, "old"), large_list(10000, "new")};
    std::string texts[2];
    lists[0].write_to_file(target.string());
    texts[0] = slurp(target);
    // One undisturbed write, timed, sets the window in which the kills fall.
    const auto start = std::chrono::steady_clock::now();
    lists[1].write_to_file(target.string());
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    texts[1] = slurp(target);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(0, window.count() * 3 / 2);
    int current = 1;
    for (int round = 0; round < 60; ++round) {
        const int next = 1 - current;
        const pid_t pid = ::fork();
        if (pid == 0) {
            lists[next].write_to_file(target.string());
            ::_exit(0);
        }
        ASSERT_GT(pid, 0);
        // Reads race the writer until the kill, and one more follows it.
        const auto kill_at = std::chrono::steady_clock::now() + std::chrono::microseconds(delay(random));
        for (bool killed = false; !killed;) {
            killed = std::chrono::steady_clock::now() >= kill_at && ::kill(pid, SIGKILL) == 0 &&
                     ::waitpid(pid, nullptr, 0) == pid;
            const std::string now = slurp(target);
            ASSERT_TRUE(now == texts[0] || now == texts[1])
                << "round " << round << ": a damaged file of " << now.size() << " bytes";
            current = killed && now == texts[next] ? next : current;
        }
        remove_leftovers(dir.path(), target); // a named temporary file where O_TMPFILE fails
    }

    // The file size limit, its signal at the default, kills the writer inside a write every time.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{4096, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        lists[1 - current].write_to_file(target.string());
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, SIGXFSZ);
    EXPECT_EQ(slurp(target), texts[current]);
    EXPECT_EQ(remove_leftovers(dir.path(), target), 0) << "the unfinished file has no name";
}

// A line of 100 MB, where a message quotes it, where it fails as a number, and as a name that
// loads: reading costs a small multiple of the file (and of the list it fills), and a message
// quotes the line by its beginning and length.
TEST(ListFileFaults, AHugeLineCostsASmallMultipleOfItsSizeAndIsQuotedShort)
{
    constexpr std::size_t kLineBytes = std::size_t{100} << 20;
    const std::string beginning(200, '7');
    const std::string record_start = "<components>\n<component>\n";
    const std::string numbers = "0\n0\n0\n0\n\n</component>\n</components>\n";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // before, after the line; message
        {"<flag_names>\n</flag_names>\n", "\n",
         "Unexpected line in huge.txt: " + beginning + "\u2026(104857600 bytes)"},
        {record_start + "Q1\n" + std::string(7, '\n'), "x\n" + numbers.substr(2),
         "Cannot parse floating point number \"" + beginning + "\u2026(104857601 bytes)\""},
        {record_start, std::string(8, '\n') + numbers, "(no qix::Error thrown)"}, // the name, loaded
    };
    qix::test::TempDir dir;
    const WorkingDirectory cwd(dir.path());
    for (const auto& [before, after, expected] : cases) {
        std::ofstream("huge.txt", std::ios::binary) << before << std::string(kLineBytes, '7') << after;
        const auto file_kb = static_cast<long>(fs::file_size("huge.txt") / 1024);
        // The child measures the growth of its own peak resident size around the read; its
        // failures print there and fail the child.
        EXPECT_TRUE(in_child(false, [&] {
            ::alarm(60);
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            const long peak_before = usage.ru_maxrss;
            ComponentList list;
            EXPECT_EQ(message_of([&] { list.read_from_file("huge.txt"); }), expected);
            EXPECT_EQ(list.components_.empty() ? 0 : list.components_[0].name_.size(),
                      expected == "(no qix::Error thrown)" ? kLineBytes : 0);
            ::getrusage(RUSAGE_SELF, &usage);
            // Measured: 1.3 times the file for a quoted line (the line's buffer grows by
            // doubling), 2 times for a name, which the list holds once more.
            EXPECT_LE(usage.ru_maxrss - peak_before, 3 * file_kb) << "peak growth in kB";
            return !::testing::Test::HasFailure();
        })) << expected.substr(0, 40);
    }
}

} // namespace
