// The list file under concurrent processes: a writer killed at random points or inside a
// write, and a reader racing a writer. Every look at the file finds one complete list.

#include "load_scenarios.h"

#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <random>
#include <regex>
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
        const std::string n = std::to_string(i);
        std::vector<bool> flags;
        for (int flag = 0; flag < 8; ++flag)
            flags.push_back((i + flag + static_cast<int>(tag.size())) % 3 == 0);
        list.components_.push_back(make_component({tag + "_" + n, tag + n + " real", "", "S" + std::to_string(i % 40),
                                                   "", tag, "", "component " + n, "link\t" + n},
                                                  {0, 0, 0.125 * i, 0.25 * i}, flags));
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
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string now = slurp(target);
        ASSERT_TRUE(now == texts[0] || now == texts[1]) << "round " << round << ": a damaged file of " << now.size()
                                                        << " bytes";
        current = now == texts[next] ? next : current;
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
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    EXPECT_EQ(slurp(target), texts[current]);
    EXPECT_EQ(remove_leftovers(dir.path(), target), 0) << "the unfinished file has no name";
}

TEST(ListFileFaults, AReaderRacingAWriterAlwaysGetsACompleteList)
{
    qix::test::TempDir dir;
    const std::string target = (dir / "list.txt").string();
    const ComponentList lists[2] = {large_list(2000, "first"), large_list(2000, "second")};
    lists[0].write_to_file(target);
    const pid_t writer = ::fork();
    if (writer == 0) {
        for (int round = 1; round <= 300; ++round)
            lists[round % 2].write_to_file(target);
        ::_exit(0);
    }
    ASSERT_GT(writer, 0);
    int status = 0;
    for (ComponentList list; ::waitpid(writer, &status, WNOHANG) == 0;) {
        const std::string error = message_of([&] { list.read_from_file(target); });
        ASSERT_TRUE(error == "(no qix::Error thrown)" && (list == lists[0] || list == lists[1])) << error;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
    const std::tuple<std::string, std::string, std::string> cases[] = { // before, after the line; message
        {"<flag_names>\n</flag_names>\n", "\n", "Unexpected line in {F}: " + beginning + "\u2026(104857600 bytes)"},
        {record_start + "Q1\n" + std::string(7, '\n'), "x\n" + numbers.substr(2),
         "Cannot parse floating point number \"" + beginning + "\u2026(104857601 bytes)\""},
        {record_start, std::string(8, '\n') + numbers, "(no qix::Error thrown)"}, // the name, loaded
    };
    qix::test::TempDir dir;
    const fs::path file = dir / "huge.txt", result = dir / "result.txt";
    for (const auto& [before, after, expected] : cases) {
        {
            std::ofstream out(file, std::ios::binary);
            out << before;
            const std::string chunk(1 << 20, '7');
            for (std::size_t written = 0; written < kLineBytes; written += chunk.size())
                out << chunk;
            out << after;
        }
        const auto file_kb = static_cast<long>(fs::file_size(file) / 1024);
        // The child measures the growth of its own peak resident size around the read.
        ASSERT_TRUE(in_child(false, [&] {
            ::alarm(60);
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            const long peak_before = usage.ru_maxrss;
            ComponentList list;
            const std::string message = message_of([&] { list.read_from_file(file.string()); });
            const bool loaded = list.components_.size() == 1 && list.components_[0].name_.size() == kLineBytes;
            ::getrusage(RUSAGE_SELF, &usage);
            std::ofstream(result) << message << '\n' << (usage.ru_maxrss - peak_before) << '\n' << loaded;
            return true;
        }));
        std::ifstream in(result);
        std::string message;
        long growth_kb = 0;
        bool loaded = false;
        std::getline(in, message);
        in >> growth_kb >> loaded;
        const std::string wanted = std::regex_replace(expected, std::regex("\\{F\\}"), file.string());
        EXPECT_EQ(message, wanted);
        EXPECT_EQ(loaded, expected == "(no qix::Error thrown)");
        // Measured: 1.3 times the file for a quoted line (the line's buffer grows by doubling),
        // 2 times for a name, which the list holds once more.
        EXPECT_LE(growth_kb, 3 * file_kb) << "peak growth " << growth_kb << " kB for a file of " << file_kb << " kB";
    }
}

} // namespace
