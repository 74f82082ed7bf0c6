// Workload 4: the component queries on lists of growing size, reported as time per component.
// From the smallest to the largest list the time per component may grow like log n (sorting)
// and by the cache misses of a list that no longer fits any cache, never like n.

#include "bench.h"
#include "component_data.h"
#include "table.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qix::bench {

namespace {

using qix::sql::Component;
using qix::sql::ComponentList;
using SortOrder = ComponentList::SortOrder;

// n log n takes the time per component from 10k to 1M components up by log(1M) / log(10k) =
// 1.5; twice that leaves room for the cache and TLB misses of a 100 times larger list. A
// quadratic query would grow by 100.
constexpr double kMaxGrowth = 3.0;

struct QueryFixture {
    ComponentList list;
    std::vector<Component*> all;
};

QueryFixture& fixture_for(std::size_t n)
{
    static std::map<std::size_t, std::unique_ptr<QueryFixture>> fixtures;
    auto& fixture = fixtures[n];
    if (!fixture) {
        fixture = std::make_unique<QueryFixture>();
        fixture->list = make_component_list(n);
        fixture->all = fixture->list.get_sorted_list(SortOrder::none);
        on_release([n] { fixtures.erase(n); });
    }
    return *fixture;
}

struct Query {
    const char* name;
    std::size_t (*run)(QueryFixture&, std::size_t n);
};

const Query kQueries[] = {
    {"get_sorted_list", [](QueryFixture& f, std::size_t) { return f.list.get_sorted_list(SortOrder::s).size(); }},
    {"find_components_with_flag",
     [](QueryFixture& f, std::size_t) { return f.list.find_components_with_flag("quad", SortOrder::s).size(); }},
    {"extract_beamline",
     [](QueryFixture& f, std::size_t n) {
         const double length = static_cast<double>(n) * kSpacing;
         return f.list.extract_beamline("QUAD", 0.25 * length, 0.75 * length, SortOrder::s).size();
     }},
    {"extract_cells_around_components",
     [](QueryFixture& f, std::size_t) {
         return ComponentList::extract_cells_around_components(f.all, kMonitorPattern, SortOrder::s, -2.0, 2.0).size();
     }},
};

std::string benchmark_name(const Query& query, std::size_t n)
{
    return std::string("queries/") + query.name + "/" + std::to_string(n);
}

} // namespace

void register_query_benchmarks(const Sizes& sizes)
{
    for (const Query& query : kQueries) {
        for (const std::size_t n : sizes.query_components) {
            add_benchmark(benchmark_name(query, n), [n, run = query.run](benchmark::State& state) {
                QueryFixture* fixture = nullptr;
                run_timed(
                    state, static_cast<double>(n), [&] { fixture = &fixture_for(n); },
                    [&] { benchmark::DoNotOptimize(run(*fixture, n)); });
            });
            add_row({std::string("4 ") + query.name + ", " + count_text(n) + " components",
                     benchmark_name(query, n), {}, Unit::nanoseconds_per_item, Check::none, 0.0, {}});
        }
        const std::size_t smallest = sizes.query_components.front();
        const std::size_t largest = sizes.query_components.back();
        add_row({std::string("4 ") + query.name + ", growth of the time per component from " + count_text(smallest) +
                     " to " + count_text(largest),
                 benchmark_name(query, largest), benchmark_name(query, smallest), Unit::nanoseconds_per_item,
                 Check::at_most, kMaxGrowth, {}});
    }
}

} // namespace qix::bench
