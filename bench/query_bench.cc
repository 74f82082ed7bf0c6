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

// From 10k to 1M components n log n takes the time per component up by log(1M) / log(10k) =
// 1.5 and a quadratic query by 100. The limit is the geometric middle of the two (time growing
// like n^1.5): a list 100 times larger also leaves the caches, which costs a constant factor
// that the reference pass below shows on its own.
constexpr double kMaxGrowth = 10.0;

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
    const char* label = name;
};

// Not a query: one pass over the list reading what the flag and position queries read, to show
// what the memory hierarchy alone does to the time per component.
std::size_t linear_pass(QueryFixture& f, std::size_t)
{
    std::size_t count = 0;
    for (const Component& component : f.list.components_)
        count += component.flags_[0] && component.s_ >= 0.0 ? 1 : 0;
    return count;
}

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

void register_query(const Query& query, const Sizes& sizes, Check check)
{
    for (const std::size_t n : sizes.query_components) {
        add_benchmark(benchmark_name(query, n), [n, run = query.run](benchmark::State& state) {
            QueryFixture* fixture = nullptr;
            run_timed(
                state, static_cast<double>(n), [&] { fixture = &fixture_for(n); },
                [&] { benchmark::DoNotOptimize(run(*fixture, n)); });
        });
        add_row({std::string("4 ") + query.label + ", " + count_text(n) + " components",
                 benchmark_name(query, n),
                 {},
                 Unit::nanoseconds_per_item,
                 Check::none,
                 0.0,
                 {}});
    }
    const std::size_t smallest = sizes.query_components.front();
    const std::size_t largest = sizes.query_components.back();
    add_row({std::string("4 ") + query.label + ", growth of the time per component from " + count_text(smallest) +
                 " to " + count_text(largest),
             benchmark_name(query, largest),
             benchmark_name(query, smallest),
             Unit::nanoseconds_per_item,
             check,
             kMaxGrowth,
             {}});
}

} // namespace

void register_query_benchmarks(const Sizes& sizes)
{
    for (const Query& query : kQueries)
        register_query(query, sizes, Check::at_most);
    register_query({"linear_pass", linear_pass, "reference: one pass reading each flag and position"}, sizes,
                   Check::none);
}

} // namespace qix::bench
