#include "icount.h"

#include "table.h"

#include "DataSource.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace qix::bench {

namespace {

constexpr std::size_t kSmall = 2'000;
constexpr std::size_t kLarge = 6'000;
constexpr const char* kDumpFile = "cg.out";
constexpr const char* kItemsFile = "items";
constexpr std::string_view kTrigger = "desc: Trigger: Client Request: ";
constexpr std::string_view kTotals = "totals: ";

struct ChildState {
    std::string folder;
    std::set<std::string> counted;
};

std::optional<ChildState>& child()
{
    static std::optional<ChildState> state;
    return state;
}

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (const char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// "queries/get_sorted_list/6000" and ".../2000" are the same benchmark at two sizes.
std::string size_free(const std::string& name)
{
    const auto slash = name.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == name.size() ||
        name.find_first_not_of("0123456789", slash + 1) != std::string::npos)
        return name;
    return name.substr(0, slash);
}

struct ChildResult {
    std::map<std::string, double> instructions;
    std::map<std::string, double> items;
    std::map<std::string, std::string> errors;
};

ChildResult read_child(const std::filesystem::path& folder)
{
    ChildResult result;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with(std::string(kDumpFile) + "."))
            continue;
        std::ifstream in(entry.path());
        std::string line;
        std::string name;
        while (std::getline(in, line)) {
            if (line.starts_with(kTrigger))
                name = line.substr(kTrigger.size());
            else if (line.starts_with(kTotals) && !name.empty())
                result.instructions[size_free(name)] = std::stod(line.substr(kTotals.size()));
        }
    }
    std::ifstream in(folder / kItemsFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string value;
        std::getline(fields, name, '\t');
        std::getline(fields, value, '\t');
        if (value == "error") {
            std::getline(fields, value);
            result.errors[size_free(name)] = value;
        } else {
            result.items[size_free(name)] = std::stod(value);
        }
    }
    return result;
}

// Instructions per item from the two runs, or the reason there is none.
struct PerItem {
    std::optional<double> value;
    std::string error;
};

PerItem per_item(const std::string& benchmark, const ChildResult& small, const ChildResult& large)
{
    const std::string key = size_free(benchmark);
    for (const ChildResult* run : {&small, &large})
        if (const auto e = run->errors.find(key); e != run->errors.end())
            return {std::nullopt, e->second};
    const auto si = small.instructions.find(key);
    const auto li = large.instructions.find(key);
    const auto sn = small.items.find(key);
    const auto ln = large.items.find(key);
    if (si == small.instructions.end() || li == large.instructions.end() || sn == small.items.end() ||
        ln == large.items.end() || ln->second <= sn->second)
        return {std::nullopt, "no count"};
    return {(li->second - si->second) / (ln->second - sn->second), {}};
}

std::string instructions_text(const PerItem& figure)
{
    if (!figure.value)
        return figure.error.empty() ? "n/a" : "error";
    char text[32];
    if (*figure.value >= 100)
        std::snprintf(text, sizeof text, "%.0f", *figure.value);
    else
        std::snprintf(text, sizeof text, "%.3g", *figure.value);
    return text;
}

const char* per_unit(Unit unit)
{
    switch (unit) {
    case Unit::rows_per_second: return "instructions/row";
    case Unit::megabytes_per_second: return "instructions/byte";
    case Unit::nanoseconds_per_item: return "instructions/component";
    case Unit::counter: break;
    }
    return "";
}

int run_child(const std::string& self_path, int which, const std::filesystem::path& folder,
              const std::vector<std::string>& arguments)
{
    std::string command =
        "valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=" + quoted((folder / kDumpFile).string()) +
        " --log-file=" + quoted((folder / "valgrind.log").string()) + " " + quoted(self_path) +
        " --icount-child=" + std::to_string(which) + " --icount-dir=" + quoted(folder.string()) +
        " --table-only --benchmark_min_time=0";
    for (const std::string& argument : arguments)
        command += " " + quoted(argument);
    command += " >" + quoted((folder / "table.txt").string()); // wall-clock times under callgrind mean nothing
    std::cerr << "icount: sizes " << which + 1 << " of 2\n";
    const int status = std::system(command.c_str());
    if (status != 0)
        std::cerr << "icount: the run under callgrind failed (" << status << "), see "
                  << (folder / "valgrind.log").string() << "\n";
    return status;
}

} // namespace

Sizes icount_sizes(int which)
{
    const std::size_t n = which == 0 ? kSmall : kLarge;
    Sizes sizes;
    sizes.load_rows = n;
    sizes.config_rows = n;
    sizes.file_components = n;
    sizes.query_components = {n};
    sizes.memory_components = 0;
    return sizes;
}

bool icount_child() { return child().has_value(); }

void start_icount_child(const std::string& folder) { child() = ChildState{folder, {}}; }

void counted(const std::string& name, const std::function<void()>& body)
{
    if (!child() || !child()->counted.insert(name).second) {
        body();
        return;
    }
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_ZERO_STATS;
    body();
    CALLGRIND_DUMP_STATS_AT(name.c_str());
    CALLGRIND_STOP_INSTRUMENTATION;
}

void uncounted(benchmark::State& state, const std::function<void()>& work)
{
    state.PauseTiming();
    CALLGRIND_TOGGLE_COLLECT;
    work();
    CALLGRIND_TOGGLE_COLLECT;
    state.ResumeTiming();
}

void write_icount_items(const std::vector<std::pair<std::string, std::string>>& lines)
{
    if (!child())
        return;
    std::ofstream out(std::filesystem::path(child()->folder) / kItemsFile);
    for (const auto& [name, value] : lines)
        out << name << '\t' << value << '\n';
}

int run_icount(const std::string& self_path, const std::vector<std::string>& arguments)
{
    const qix::test::TempDir folders[2];
    ChildResult results[2];
    for (int which = 0; which < 2; ++which) {
        if (run_child(self_path, which, folders[which].path(), arguments) != 0)
            return 1;
        results[which] = read_child(folders[which].path());
    }
    std::ostream& out = std::cout;
    out << "\nInstructions of the client process per item (callgrind): the count at " << kLarge
        << " rows or components minus the count at " << kSmall
        << ", over the difference in items (rows, bytes, components); fixed costs cancel out.\n\n"
        << "| Workload | Unit | Library | Baseline | Ratio | Target | Result |\n|---|---|---|---|---|---|---|\n";
    bool failed = false;
    for (const Row& row : table_rows()) {
        if (row.unit == Unit::counter || (!row.baseline.empty() && size_free(row.baseline) == size_free(row.library)))
            continue;
        if (results[1].instructions.count(size_free(row.library)) == 0 &&
            results[1].errors.count(size_free(row.library)) == 0)
            continue; // filtered out of this run
        const PerItem library = per_item(row.library, results[0], results[1]);
        PerItem baseline;
        if (!row.baseline.empty())
            baseline = per_item(row.baseline, results[0], results[1]);
        std::string ratio_text;
        std::string target_text;
        std::string result;
        if (library.value && baseline.value && *baseline.value > 0) {
            const double ratio = *library.value / *baseline.value;
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", ratio);
            ratio_text = text;
            if (row.icount_max > 0) {
                std::snprintf(text, sizeof text, "≤ %.2f", row.icount_max);
                target_text = text;
                result = ratio <= row.icount_max ? "pass" : "FAIL";
            }
        }
        if (!library.error.empty() || !baseline.error.empty()) {
            result = "error";
            failed = true;
        }
        out << "| " << row.workload << " | " << per_unit(row.unit) << " | " << instructions_text(library) << " | "
            << (row.baseline.empty() ? "" : instructions_text(baseline)) << " | " << ratio_text << " | " << target_text
            << " | " << result << " |\n";
    }
    out << "\nRatio: library instructions / baseline instructions.\n";
    out.flush();
    return failed ? 1 : 0;
}

} // namespace qix::bench
