#pragma once

// Shared pieces of the benchmark program: the workload sizes, the registration of each
// workload, and the few helpers the workloads have in common.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qix::bench {

/// How big each workload is. The full sizes are the measured ones; the tiny ones let the
/// smoke test run every benchmark once in seconds.
struct Sizes {
    bool tiny = false;
    std::size_t load_rows = 100'000;
    std::size_t config_rows = 20'000;
    std::size_t file_components = 100'000;
    std::vector<std::size_t> query_components{10'000, 100'000, 1'000'000};
    std::size_t memory_components = 1'000'000;

    static Sizes full() { return {}; }
    static Sizes small() { return {true, 200, 100, 1'000, {100, 1'000, 10'000}, 1'000}; }
};

/// "100k", "1M", or the plain number for sizes that are no round thousands; "2k and 6k" for the
/// larger size of the instruction counts once label_icount_sizes() was called.
std::string count_text(std::size_t n);
/// Makes the labels of the workloads name both sizes of the instruction counts.
void label_icount_sizes();

/// Counter naming the units one iteration handles (rows, bytes, components); the table divides
/// it by the wall-clock time of an iteration.
inline constexpr const char* kItems = "items";

void register_load_benchmarks(const Sizes& sizes);
void register_config_benchmarks(const Sizes& sizes);
void register_file_benchmarks(const Sizes& sizes);
void register_query_benchmarks(const Sizes& sizes);
void register_memory_benchmarks(const Sizes& sizes, const std::string& self_path);
void register_concurrency_benchmarks(const Sizes& sizes);

/// Entry of the child process of the memory workload: loads the list file `path` and prints
/// "<peak resident bytes> <resident bytes before loading> <components>". Returns the exit code.
int run_memory_child(const std::string& path);

/// Registers a benchmark measured in wall-clock time (the database works in another process).
benchmark::internal::Benchmark* add_benchmark(const std::string& name, std::function<void(benchmark::State&)> body);

/// Runs `setup` once, untimed, then `body` once per iteration, and marks the benchmark failed
/// (without stopping the others) when either throws. `items` is what one iteration handles.
void run_timed(benchmark::State& state, double items, const std::function<void()>& setup,
               const std::function<void()>& body);

/// Runs `work` outside the measurement: neither timed nor counted in instructions.
void uncounted(benchmark::State& state, const std::function<void()>& work);

/// Drops the lazily built fixtures (databases, lists, files) of every workload.
void release_fixtures();
/// Registers a fixture's release; called by the workloads when they build one.
void on_release(std::function<void()> release);

} // namespace qix::bench
