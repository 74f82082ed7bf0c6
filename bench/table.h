#pragma once

// The one table that scripts/bench prints: every figure with its baseline, the ratio measured
// side by side in the same run, the target and whether it holds.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace qix::bench {

/// What a figure is made of: the "items" counter over the wall-clock time of one iteration
/// (a rate or a time per item), or a counter of the benchmark taken as it is.
enum class Unit { rows_per_second, megabytes_per_second, nanoseconds_per_item, counter };

/// How the ratio figure(library) / figure(baseline) is judged.
enum class Check { none, at_least, at_most };

struct Row {
    std::string workload;
    std::string library;  // benchmark name
    std::string baseline; // benchmark name; empty for a figure without a baseline
    Unit unit = Unit::rows_per_second;
    Check check = Check::none;
    double target = 0.0;
    std::string counter;     // for Unit::counter
    double icount_max = 0.0; // highest ratio of instructions per item, 0 for none
};

/// Adds a row to the table; workloads call it when they register their benchmarks.
void add_row(Row row);
/// Every row added so far.
[[nodiscard]] const std::vector<Row>& table_rows();

/// The console output of Google Benchmark (with `table_only`, one progress line per benchmark
/// on standard error instead), and at the end the table over all runs.
class TableReporter : public benchmark::ConsoleReporter {
public:
    /// Colours go to a terminal only.
    TableReporter(bool tiny, bool table_only, bool color)
        : ConsoleReporter(color ? OO_Defaults : OO_Tabular), tiny_(tiny), table_only_(table_only)
    {
    }

    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    /// True when a benchmark reported an error.
    [[nodiscard]] bool failed() const noexcept { return failed_; }
    /// Per benchmark: the items of its first repetition, or "error\t<message>".
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> items() const;

private:
    struct Samples {
        std::vector<double> seconds; // wall-clock time per iteration, one per repetition
        std::map<std::string, std::vector<double>> counters;
        std::string error;
    };

    bool tiny_;
    bool table_only_;
    bool failed_ = false;
    std::map<std::string, Samples> samples_;
};

} // namespace qix::bench
