// The benchmark program: every workload, its baselines, and one table at the end.
//
//   qix_bench [--tiny] [--table-only] [Google Benchmark flags]
//
// --tiny runs every workload on tiny sizes (the smoke test); --table-only prints the table
// alone, with one progress line per benchmark on standard error. The PostgreSQL workloads need the
// server of scripts/with-postgres (QIX_TEST_PG_*). An internal mode, --load-list-file=PATH, is
// the child process of the memory workload.

#include "bench.h"
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

std::string executable_path()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace

benchmark::internal::Benchmark* add_benchmark(const std::string& name, std::function<void(benchmark::State&)> body)
{
    return benchmark::RegisterBenchmark(name.c_str(), std::move(body))->UseRealTime()->Unit(benchmark::kMillisecond);
}

void run_timed(benchmark::State& state, double items, const std::function<void()>& setup,
               const std::function<void()>& body)
{
    try {
        setup();
        for (auto _ : state)
            body();
        state.counters[kItems] = items;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

std::string count_text(std::size_t n)
{
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
    bool tiny = false;
    bool table_only = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with(kChildFlag))
            return run_memory_child(std::string(arg.substr(kChildFlag.size())));
        if (arg == "--tiny")
            tiny = true;
        else if (arg == "--table-only")
            table_only = true;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;

    const Sizes sizes = tiny ? Sizes::small() : Sizes::full();
    register_load_benchmarks(sizes);
    register_config_benchmarks(sizes);
    register_file_benchmarks(sizes);
    register_query_benchmarks(sizes);
    register_memory_benchmarks(sizes, executable_path());
    register_concurrency_benchmarks(sizes);

    TableReporter reporter(tiny, table_only, ::isatty(STDOUT_FILENO) == 1);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    release_fixtures();
    return reporter.failed() ? 1 : 0;
}
