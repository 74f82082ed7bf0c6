// The benchmark program: every workload, its baselines, and one table at the end.
//
//   qix_bench [--tiny] [--table-only] [--icount] [Google Benchmark flags]
//
// --tiny runs every workload on tiny sizes (the smoke test); --table-only prints the table
// alone, with one progress line per benchmark on standard error; --icount prints instead the
// instructions per item of every workload and baseline, counted under callgrind (see icount.h). The PostgreSQL
// workloads need the server of scripts/with-postgres (QIX_TEST_PG_*). An internal mode, --load-list-file=PATH, is the
// child process of the memory workload.

#include "bench.h"
#include "icount.h"
#include "table.h"

#include <unistd.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace qix::bench {

namespace {

std::vector<std::function<void()>>& releases()
{
    static std::vector<std::function<void()>> list;
    return list;
}

// Name of the benchmark running now, under which its instructions are counted.
std::string& current_benchmark()
{
    static std::string name;
    return name;
}

bool& icount_labels()
{
    static bool on = false;
    return on;
}

std::string executable_path()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace

benchmark::internal::Benchmark* add_benchmark(const std::string& name, std::function<void(benchmark::State&)> body)
{
    return benchmark::RegisterBenchmark(name.c_str(),
                                        [name, body = std::move(body)](benchmark::State& state) {
                                            current_benchmark() = name;
                                            body(state);
                                        })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

void run_timed(benchmark::State& state, double items, const std::function<void()>& setup,
               const std::function<void()>& body)
{
    try {
        setup();
        for (auto _ : state)
            counted(current_benchmark(), body);
        state.counters[kItems] = items;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void label_icount_sizes() { icount_labels() = true; }

std::string count_text(std::size_t n)
{
    if (icount_labels() && n == icount_sizes(1).load_rows) {
        icount_labels() = false;
        const std::string both = count_text(icount_sizes(0).load_rows) + " and " + count_text(n);
        icount_labels() = true;
        return both;
    }
    if (n >= 1'000'000 && n % 1'000'000 == 0)
        return std::to_string(n / 1'000'000) + "M";
    if (n >= 1'000 && n % 1'000 == 0)
        return std::to_string(n / 1'000) + "k";
    return std::to_string(n);
}

void on_release(std::function<void()> release) { releases().push_back(std::move(release)); }

void release_fixtures()
{
    while (!releases().empty()) {
        releases().back()();
        releases().pop_back();
    }
}

} // namespace qix::bench

int main(int argc, char** argv)
{
    using namespace qix::bench;
    constexpr std::string_view kChildFlag = "--load-list-file=";
    constexpr std::string_view kIcountChildFlag = "--icount-child=";
    constexpr std::string_view kIcountDirFlag = "--icount-dir=";
    bool tiny = false;
    bool table_only = false;
    bool icount = false;
    int icount_child_sizes = -1;
    std::string icount_dir;
    std::vector<char*> args;
    std::vector<std::string> passed_on; // to the children of --icount
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with(kChildFlag))
            return run_memory_child(std::string(arg.substr(kChildFlag.size())));
        if (arg == "--tiny")
            tiny = true;
        else if (arg == "--table-only")
            table_only = true;
        else if (arg == "--icount")
            icount = true;
        else if (arg.starts_with(kIcountChildFlag))
            icount_child_sizes = arg.substr(kIcountChildFlag.size()) == "0" ? 0 : 1;
        else if (arg.starts_with(kIcountDirFlag))
            icount_dir = arg.substr(kIcountDirFlag.size());
        else {
            args.push_back(argv[i]);
            if (i > 0)
                passed_on.emplace_back(arg);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    Sizes sizes = tiny ? Sizes::small() : Sizes::full();
    if (icount) {
        label_icount_sizes();
        sizes = icount_sizes(1);
    } else if (icount_child_sizes >= 0) {
        start_icount_child(icount_dir);
        sizes = icount_sizes(icount_child_sizes);
    }
    register_load_benchmarks(sizes);
    register_config_benchmarks(sizes);
    register_file_benchmarks(sizes);
    register_query_benchmarks(sizes);
    // Memory and the pace of concurrent connections are no matter of instructions.
    if (!icount && icount_child_sizes < 0) {
        register_memory_benchmarks(sizes, executable_path());
        register_concurrency_benchmarks(sizes);
    }
    if (icount)
        return run_icount(executable_path(), passed_on);

    TableReporter reporter(tiny, table_only, ::isatty(STDOUT_FILENO) == 1);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    write_icount_items(reporter.items());
    release_fixtures();
    return reporter.failed() ? 1 : 0;
}
