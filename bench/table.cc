#include "table.h"

#include "bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>

namespace qix::bench {

namespace {

std::vector<Row>& rows()
{
    static std::vector<Row> table;
    return table;
}

// One figure per repetition, in the row's unit.
std::vector<double> figures(const Row& row, const std::map<std::string, std::vector<double>>& counters,
                            const std::vector<double>& seconds)
{
    std::vector<double> result;
    if (row.unit == Unit::counter) {
        const auto found = counters.find(row.counter);
        return found == counters.end() ? result : found->second;
    }
    const auto items = counters.find(kItems);
    if (items == counters.end() || items->second.size() != seconds.size())
        return result;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        const double n = items->second[i];
        const double t = seconds[i];
        switch (row.unit) {
        case Unit::rows_per_second: result.push_back(n / t); break;
        case Unit::megabytes_per_second: result.push_back(n / t / 1e6); break;
        case Unit::nanoseconds_per_item: result.push_back(t / n * 1e9); break;
        case Unit::counter: break;
        }
    }
    return result;
}

std::string number(double value)
{
    char text[32];
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e6)
        std::snprintf(text, sizeof text, "%.2fM", value / 1e6);
    else if (magnitude >= 1e4)
        std::snprintf(text, sizeof text, "%.1fk", value / 1e3);
    else if (magnitude >= 100)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

// Quantile q of the values by linear interpolation between neighbours.
double quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (position - static_cast<double>(below));
}

double median(const std::vector<double>& values) { return quantile(values, 0.5); }

// Median, and half the interquartile range in percent of it: the middle half of the
// repetitions lies within that distance of the median.
std::string figure_text(const std::vector<double>& values)
{
    if (values.empty())
        return "n/a";
    const double mid = median(values);
    std::ostringstream out;
    out << number(mid);
    if (values.size() > 1) {
        const double spread = (quantile(values, 0.75) - quantile(values, 0.25)) / 2.0 / mid * 100.0;
        out << " ±" << static_cast<int>(std::lround(spread)) << '%';
    }
    return out.str();
}

const char* unit_name(const Row& row)
{
    switch (row.unit) {
    case Unit::rows_per_second: return "rows/s";
    case Unit::megabytes_per_second: return "MB/s";
    case Unit::nanoseconds_per_item: return "ns/item";
    case Unit::counter: return row.counter.c_str();
    }
    return "";
}

std::string target_text(const Row& row)
{
    char text[32];
    switch (row.check) {
    case Check::none: return "";
    case Check::at_least: std::snprintf(text, sizeof text, "≥ %.2f", row.target); return text;
    case Check::at_most: std::snprintf(text, sizeof text, "≤ %.2f", row.target); return text;
    }
    return "";
}

} // namespace

void add_row(Row row) { rows().push_back(std::move(row)); }

const std::vector<Row>& table_rows() { return rows(); }

std::vector<std::pair<std::string, std::string>> TableReporter::items() const
{
    std::vector<std::pair<std::string, std::string>> lines;
    for (const auto& [name, samples] : samples_) {
        const auto items = samples.counters.find(kItems);
        if (!samples.error.empty())
            lines.emplace_back(name, "error\t" + samples.error);
        else if (items != samples.counters.end() && !items->second.empty())
            lines.emplace_back(name, std::to_string(items->second.front()));
    }
    return lines;
}

bool TableReporter::ReportContext(const Context& context)
{
    return table_only_ || ConsoleReporter::ReportContext(context);
}

void TableReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration)
            continue;
        Samples& samples = samples_[run.run_name.function_name];
        if (run.error_occurred) {
            failed_ = true;
            samples.error = run.error_message;
            continue;
        }
        samples.seconds.push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
        for (const auto& [name, counter] : run.counters)
            samples.counters[name].push_back(counter.value);
    }
    if (!table_only_)
        ConsoleReporter::ReportRuns(runs);
    else if (!runs.empty())
        std::cerr << runs.front().run_name.function_name
                  << (runs.front().error_occurred ? ": error: " + runs.front().error_message : ": done") << '\n';
}

void TableReporter::Finalize()
{
    if (!table_only_)
        ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    out << "\n| Workload | Unit | Library | Baseline | Ratio | Target | Result |\n"
        << "|---|---|---|---|---|---|---|\n";
    for (const Row& row : rows()) {
        const auto lib = samples_.find(row.library);
        const auto base = row.baseline.empty() ? samples_.end() : samples_.find(row.baseline);
        if (lib == samples_.end())
            continue; // filtered out of this run
        const auto lib_values = figures(row, lib->second.counters, lib->second.seconds);
        std::vector<double> base_values;
        if (base != samples_.end())
            base_values = figures(row, base->second.counters, base->second.seconds);
        std::optional<double> ratio;
        if (!lib_values.empty() && !base_values.empty())
            ratio = median(lib_values) / median(base_values);
        std::string result;
        if (!lib->second.error.empty() || (base != samples_.end() && !base->second.error.empty()))
            result = "error";
        else if (row.check == Check::none || !ratio)
            result = "";
        else if (tiny_)
            result = "(tiny)";
        else
            result = (row.check == Check::at_least ? *ratio >= row.target : *ratio <= row.target) ? "pass" : "FAIL";
        char ratio_text[16] = "";
        if (ratio)
            std::snprintf(ratio_text, sizeof ratio_text, "%.2f", *ratio);
        out << "| " << row.workload << " | " << unit_name(row) << " | " << figure_text(lib_values) << " | "
            << (row.baseline.empty() ? "" : figure_text(base_values)) << " | " << ratio_text << " | "
            << target_text(row) << " | " << result << " |\n";
    }
    out << "\nFigures: median over the repetitions, ± half their interquartile range; "
           "ratio: library median / baseline median.\n";
    out.flush();
}

} // namespace qix::bench
