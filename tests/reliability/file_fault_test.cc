// The list file under concurrent processes: a writer killed at random points, and a reader
// racing a writer. Every look at the file finds one complete list, never a mixture.

#include <qix/sql/ComponentList.h>

#include "DataSource.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::Component;
using qix::sql::ComponentList;

// `count` components with eight flags each; `tag` makes two such lists differ in every record.
ComponentList large_list(int count, const std::string& tag)
{
    ComponentList list;
    list.flag_names_ = {"QUAD", "DIPOLE", "BPM", "CAVITY", "KICKER", "SCREEN", "VACUUM", "SPARE"};
    for (int i = 0; i < count; ++i) {
        Component c;
        c.name_ = tag + "_" + std::to_string(i);
        c.real_name_ = c.name_ + " real";
        c.section_ = "S" + std::to_string(i % 40);
        c.class_ = tag;
        c.friendly_name_ = "component " + std::to_string(i) + " of " + tag;
        c.link_name_ = "link\t" + std::to_string(i);
        c.z_ = 0.125 * i;
        c.s_ = 0.25 * i;
        for (int flag = 0; flag < 8; ++flag)
            c.flags_.push_back((i + flag + static_cast<int>(tag.size())) % 3 == 0);
        list.components_.push_back(std::move(c));
    }
    return list;
}

// Removes what killed writers left next to the target; returns how many there were.
int remove_leftovers(const fs::path& dir, const fs::path& target)
{
    int removed = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path() != target && fs::remove(entry.path()))
            ++removed;
    return removed;
}

TEST(ListFileFaults, AWriterKilledAtAnyPointLeavesTheOldOrTheNewList)
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
    const auto window = (std::chrono::steady_clock::now() - start) * 3 / 2;
    texts[1] = slurp(target);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long long> delay(0, std::chrono::duration_cast<std::chrono::microseconds>(window).count());
    int current = 1;
    int completed = 0, kept = 0, leftovers = 0;
    for (int round = 0; round < 150; ++round) {
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
        (now == texts[next] ? completed : kept) += 1;
        current = now == texts[next] ? next : current;
        leftovers += remove_leftovers(dir.path(), target);
    }
    std::cout << "150 writers killed: " << completed << " had replaced the list, " << kept
              << " left the old one; " << leftovers << " temporary files left behind\n";
}

TEST(ListFileFaults, AWriterKilledInsideAWriteLeavesNothingBehind)
{
    // The file size limit with its signal left at the default kills the writer in the middle
    // of a write, every time.
    qix::test::TempDir dir;
    const fs::path target = dir / "list.txt";
    spit(target, "old");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{4096, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        large_list(100, "new").write_to_file(target.string());
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    EXPECT_EQ(slurp(target), "old");
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
    int reads = 0, failures = 0;
    int seen[2] = {0, 0};
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0 && reads < 100000) {
        ComponentList list;
        try {
            list.read_from_file(target);
        } catch (const qix::Error& e) {
            ADD_FAILURE() << "read " << reads << ": " << e.get_message();
            ++failures;
        }
        ++reads;
        if (list == lists[0] || list == lists[1])
            ++seen[list == lists[1]];
        else if (failures == 0)
            ADD_FAILURE() << "read " << reads << " gave a list that was never written";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(seen[0] + seen[1], reads);
    std::cout << reads << " reads during 300 rewrites: " << seen[0] << " of the first list, " << seen[1]
              << " of the second\n";
}

} // namespace
