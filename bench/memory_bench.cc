// Workload 5: the peak resident memory of a process that loads a list file of 1,000,000
// components. The benchmark writes the file and starts this program again as a child that only
// loads it (--load-list-file), so that nothing else weighs on the child's peak.

#include "bench.h"
#include "component_data.h"
#include "table.h"

#include "DataSource.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace qix::bench {

namespace {

long resident_bytes()
{
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

struct MemoryFixture {
    qix::test::TempDir dir;
    std::string file = (dir / "list.txt").string();
};

MemoryFixture& fixture_for(std::size_t n)
{
    static std::unique_ptr<MemoryFixture> fixture;
    if (!fixture) {
        auto made = std::make_unique<MemoryFixture>();
        make_component_list(n).write_to_file(made->file);
        fixture = std::move(made);
        on_release([] { fixture.reset(); });
    }
    return *fixture;
}

struct ChildReport {
    double peak = 0;
    double before = 0;
    double after = 0;
    double components = 0;
};

ChildReport load_in_child(const std::string& self, const std::string& file)
{
    const std::string command = "'" + self + "' --load-list-file='" + file + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot start " + command);
    ChildReport report;
    const int fields =
        std::fscanf(pipe, "%lf %lf %lf %lf", &report.peak, &report.before, &report.after, &report.components);
    if (::pclose(pipe) != 0 || fields != 4 || report.components <= 0)
        throw std::runtime_error("the child process did not report its memory: " + command);
    return report;
}

} // namespace

int run_memory_child(const std::string& path)
{
    const long before = resident_bytes();
    qix::sql::ComponentList list;
    try {
        list.read_from_file(path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const long after = resident_bytes();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld %ld %ld %zu\n", usage.ru_maxrss * 1024L, before, after, list.components_.size());
    std::fflush(stdout);
    // Freeing a million components would only cost time.
    ::_exit(0);
}

void register_memory_benchmarks(const Sizes& sizes, const std::string& self_path)
{
    const std::size_t n = sizes.memory_components;
    add_benchmark("memory/load_list_file", [n, self_path](benchmark::State& state) {
        MemoryFixture* fixture = nullptr;
        ChildReport report;
        run_timed(
            state, static_cast<double>(n), [&] { fixture = &fixture_for(n); },
            [&] { report = load_in_child(self_path, fixture->file); });
        if (report.components <= 0)
            return;
        state.counters["peak B/component"] = (report.peak - report.before) / report.components;
        state.counters["live B/component"] = (report.after - report.before) / report.components;
        state.counters["peak MB"] = report.peak / 1e6;
    })->Iterations(1);
    const std::string workload = "5 memory, a process loading " + count_text(n) + " components from a list file";
    add_row({workload + ": peak resident memory",
             "memory/load_list_file",
             {},
             Unit::counter,
             Check::none,
             0.0,
             "peak B/component"});
    add_row({workload + ": resident after the load",
             "memory/load_list_file",
             {},
             Unit::counter,
             Check::none,
             0.0,
             "live B/component"});
}

} // namespace qix::bench
