// The component model and the queries over it: flag look-up, name search, equality, sorting,
// flags, beamline sections and cells.

#include "load_scenarios.h"

#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <regex>

namespace {

using namespace qix::test::component;
using qix::sql::Component;
using qix::sql::ComponentList;
using SortOrder = ComponentList::SortOrder;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Component make(const std::string& name, double z, double s, std::vector<bool> flags)
{
    return make_component({name}, {0, 0, z, s}, std::move(flags));
}

template <typename Ptr>
std::vector<std::string> names(const std::vector<Ptr>& components)
{
    std::vector<std::string> result;
    for (const auto* component : components)
        result.push_back(component->name_);
    return result;
}

using Names = std::vector<std::string>;

// Flags MAGNET and QUAD. Positions by s: QF1 10, QD1 15, B1 20, QF2 20, QD2 NaN, QF3 5.
ComponentList beamline()
{
    ComponentList list;
    list.flag_names_ = {"MAGNET", "QUAD"};
    list.components_ = {make("QF1", 1.0, 10.0, {true, true}),  make("QD1", 2.0, 15.0, {true, true}),
                        make("B1", 3.0, 20.0, {true, false}),  make("QF2", 4.0, 20.0, {true, true}),
                        make("QD2", kNaN, kNaN, {true, true}), make("QF3", 0.5, 5.0, {false, true})};
    return list;
}

TEST(ComponentModel, FlagIndexUpperCasesOnlyTheArgumentNamesMatchInAnyCaseAndEqualityComparesEveryValue)
{
    ComponentList list;
    EXPECT_EQ(list.get_flag_idx("QUAD"), -1);
    EXPECT_EQ(list.find_component_by_name(""), nullptr);
    for (const char* name : {"QUAD", "quad", "Quad"}) {
        list.flag_names_ = {"MAGNET", "QUAD"};
        EXPECT_EQ(list.get_flag_idx(name), 1) << name;
        list.flag_names_ = {"MAGNET", "quad"};
        EXPECT_EQ(list.get_flag_idx(name), -1) << name;
    }
    list.components_ = {make("QF.01", 0, 0, {}), make("qf.01", 0, 0, {}), make("", 0, 0, {})};
    EXPECT_EQ(list.find_component_by_name("qf.01"), &list.components_[0]);
    EXPECT_EQ(list.find_component_by_name(""), &list.components_[2]);
    EXPECT_EQ(list.find_component_by_name("QF.0"), nullptr);
    EXPECT_EQ(std::as_const(list).find_component_by_name("Qf.01"), &list.components_[0]);

    const ComponentList line = beamline();
    ComponentList finite = line;
    finite.components_[4].z_ = finite.components_[4].s_ = 7.0;
    EXPECT_NE(line, line) << "a NaN position is unequal even to itself";
    EXPECT_EQ(finite, ComponentList(finite));
    ComponentList changed = finite;
    changed.components_[0].x_ = -0.0;
    EXPECT_EQ(changed, finite) << "0.0 equals -0.0";
    const std::function<void(ComponentList&)> changes[] = {
        [](auto& l) { l.components_[0].link_name_ = "L"; }, [](auto& l) { l.components_[5].flags_.push_back(false); },
        [](auto& l) { std::swap(l.flag_names_[0], l.flag_names_[1]); },
        [](auto& l) { std::swap(l.components_[0], l.components_[1]); }, [](auto& l) { l.clear(); }};
    for (const auto& change : changes) {
        change(changed = finite);
        EXPECT_NE(changed, finite);
    }
    EXPECT_EQ(changed, ComponentList());
}

TEST(ComponentQueries, SortsWithTiesAndNaNKeysLast)
{
    ComponentList list = beamline();
    EXPECT_EQ(names(list.get_sorted_list(SortOrder::none)), (Names{"QF1", "QD1", "B1", "QF2", "QD2", "QF3"}));
    const auto by_s = names(list.get_sorted_list(SortOrder::s));
    EXPECT_EQ(Names(by_s.begin(), by_s.begin() + 3), (Names{"QF3", "QF1", "QD1"}));
    EXPECT_TRUE(std::is_permutation(by_s.begin() + 3, by_s.begin() + 5, Names{"B1", "QF2"}.begin()));
    EXPECT_EQ(by_s.back(), "QD2");
    const ComponentList& view = list;
    EXPECT_EQ(names(view.get_sorted_list(SortOrder::z)), (Names{"QF3", "QF1", "QD1", "B1", "QF2", "QD2"}));

    // Enough elements for introsort's partitioning, where an inconsistent order can run off
    // the end of the range.
    ComponentList many;
    for (int i = 0; i < 2000; ++i)
        many.components_.push_back(make("C", 0, i % 3 == 0 ? kNaN : (i * 7919) % 1000, {}));
    const auto sorted = many.get_sorted_list(SortOrder::s);
    ASSERT_EQ(sorted.size(), many.components_.size());
    const auto first_nan = std::find_if(sorted.begin(), sorted.end(), [](auto* c) { return std::isnan(c->s_); });
    EXPECT_EQ(sorted.end() - first_nan, 667);
    EXPECT_TRUE(std::all_of(first_nan, sorted.end(), [](auto* c) { return std::isnan(c->s_); }));
    EXPECT_TRUE(std::is_sorted(sorted.begin(), first_nan, [](auto* a, auto* b) { return a->s_ < b->s_; }));
}

TEST(ComponentQueries, FindsFlagsInAnyCaseAndExtractsBeamlinesBetweenInclusiveBounds)
{
    ComponentList list = beamline();
    list.components_.push_back(make("SHORT", 0.0, 0.0, {true})); // has no QUAD bit
    EXPECT_EQ(names(list.find_components_with_flag("quad", SortOrder::s)), (Names{"QF3", "QF1", "QD1", "QF2", "QD2"}));
    EXPECT_EQ(names(list.find_components_with_flag("Magnet", SortOrder::none)),
              (Names{"QF1", "QD1", "B1", "QF2", "QD2", "SHORT"}));
    EXPECT_TRUE(list.find_components_with_flag("KICKER", SortOrder::z).empty());
    const ComponentList& view = list;
    EXPECT_EQ(view.find_components_with_flag("QUAD", SortOrder::none).size(), 5u);

    EXPECT_EQ(names(list.extract_beamline("quad", 10.0, 20.0, SortOrder::s)), (Names{"QF1", "QD1", "QF2"}));
    EXPECT_EQ(names(list.extract_beamline("MAGNET", 2.0, 4.0, SortOrder::z)), (Names{"QD1", "B1", "QF2"}));
    EXPECT_TRUE(list.extract_beamline("QUAD", 20.0, 10.0, SortOrder::s).empty());
    EXPECT_TRUE(list.extract_beamline("QUAD", -1e300, 1e300, static_cast<SortOrder>(7)).empty());
    const auto all = view.extract_beamline("QUAD", -std::numeric_limits<double>::infinity(),
                                           std::numeric_limits<double>::infinity(), SortOrder::s);
    EXPECT_EQ(names(all), (Names{"QF3", "QF1", "QD1", "QF2"})) << "NaN positions lie in no range";
    for (const char* flag : {"QUAD", "UNKNOWN"})
        EXPECT_EQ(message_of([&] { (void)list.extract_beamline(flag, 0.0, 1.0, SortOrder::none); }),
                  "SortOrder::none is not allowed for extract_beamline()");
}

TEST(ComponentQueries, CellsCheckTheirArgumentsAndSurroundEveryWholeNameMatch)
{
    ComponentList list = beamline();
    const auto all = list.get_sorted_list(SortOrder::none);
    const std::tuple<const char*, SortOrder, double, double, const char*> errors[] = {
        {"QF1", SortOrder::s, 0.5, 1.0, "meters_before must be negative or zero"},
        {"QF1", SortOrder::s, kNaN, 1.0, "meters_before must be negative or zero"},
        {"(", SortOrder::s, -1.0, -0.5, "meters_after must be positive or zero"},
        {"QF1", SortOrder::s, -1.0, kNaN, "meters_after must be positive or zero"},
        {"QF1", SortOrder::none, -1.0, 1.0, "Invalid sort order (must be z or s)"},
        {"nothing", SortOrder::none, -1.0, 1.0, "(no qix::Error thrown)"}};
    const auto cells = [&all](const std::string& pattern, SortOrder order, double before, double after) {
        return ComponentList::extract_cells_around_components(all, pattern, order, before, after);
    };
    for (const auto& [pattern, order, before, after, message] : errors)
        EXPECT_EQ(message_of([&] { (void)cells(pattern, order, before, after); }), message);
    EXPECT_THROW((void)cells("(", SortOrder::s, -1.0, 1.0), std::regex_error);
    EXPECT_TRUE(
        ComponentList::extract_cells_around_components(std::vector<Component*>{}, "QF1", SortOrder::s, -1, 1).empty());
    EXPECT_TRUE(cells("QF", SortOrder::s, -5.0, 5.0).empty());

    const auto single = cells("qf1", SortOrder::s, -5.0, 5.0);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(names(single[0]), (Names{"QF3", "QF1", "QD1"}));

    // B1 and QF2 share s = 20: each cell at an exact position holds both, in sorted order.
    const auto exact = cells("B1|qf2", SortOrder::s, -0.0, 0.0);
    ASSERT_EQ(exact.size(), 2u);
    EXPECT_EQ(exact[0], exact[1]);
    EXPECT_EQ(exact[0].size(), 2u);

    // QF1 (10) and QD1 (15) lie within each other's range; QD2 has no position and an empty cell.
    const ComponentList& view = list;
    const auto overlapping = ComponentList::extract_cells_around_components(view.get_sorted_list(SortOrder::none),
                                                                            "Q[FD][12]", SortOrder::s, -5.0, 0.0);
    ASSERT_EQ(overlapping.size(), 4u);
    EXPECT_EQ(names(overlapping[0]), (Names{"QF3", "QF1"}));
    EXPECT_EQ(names(overlapping[1]), (Names{"QF1", "QD1"}));
    EXPECT_EQ(overlapping[2].size(), 3u) << "QD1, then B1 and QF2 in either order";
    EXPECT_EQ(overlapping[2].front()->name_, "QD1");
    EXPECT_TRUE(overlapping[3].empty());
}

// What a pattern makes of a list with the given names: "N cells", or the regex_error's code.
std::string pattern_outcome(const std::string& pattern, const std::vector<std::string>& names)
{
    ComponentList list;
    for (const std::string& name : names)
        list.components_.push_back(make(name, 0.0, 0.0, {}));
    try {
        const auto cells = ComponentList::extract_cells_around_components(list.get_sorted_list(SortOrder::none),
                                                                          pattern, SortOrder::s, -0.0, 0.0);
        return std::to_string(cells.size()) + " cells";
    } catch (const std::regex_error& e) {
        return "regex_error " + std::to_string(static_cast<int>(e.code()));
    }
}

// Names shaped like the demo facility's, one in a hundred ending in X.
std::vector<std::string> demo_names()
{
    std::vector<std::string> names;
    for (int i = 0; i < 2482; ++i)
        names.push_back(std::string("Q") + "FDBSK"[i % 5] + ".S" + std::to_string(i / 100) + "." +
                        std::to_string(i % 100) + (i % 100 == 0 ? "X" : ""));
    return names;
}

std::string repeated(const std::string& text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

// Patterns and names that overflowed the stack or ran for minutes: each finishes, in a child
// process with an ordinary 8 MB stack and in a thread with 1 MB, within a 60-second alarm.
TEST(ComponentQueries, NamePatternsFinishWithinASmallStackOrAreRefused)
{
    using std::regex_constants::error_complexity, std::regex_constants::error_space;
    const auto error = [](std::regex_constants::error_type code) {
        return "regex_error " + std::to_string(static_cast<int>(code));
    };
    const std::vector<std::string> demo = demo_names();
    const std::string long_name(30000, 'a');
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>, std::string>> cases = {
        {"any name", ".*", {long_name}, "1 cells"},
        {"nested stars", "(.*)*X", demo, "25 cells"},
        {"two nested stars", "(.*)*(.*)*X", demo, "25 cells"},
        {"two nested stars, long name", "(.*)*(.*)*X", {long_name + "x", long_name}, "1 cells"},
        {"100,000 characters", std::string(100000, 'a'), {"a"}, error(error_space)},
        {"20,000 nested groups", repeated("(", 20000) + "a" + repeated(")", 20000), {"a"}, error(error_space)},
        {"100 nested groups", repeated("(", 100) + "a" + repeated(")", 100), {"A", "b"}, "1 cells"},
        {"101 nested groups", repeated("(", 101) + "a" + repeated(")", 101), {"a"}, error(error_complexity)},
        {"escaped and bracketed parentheses", repeated("\\(", 150) + "[(]*", {std::string(150, '(')}, "1 cells"},
        {"1000 characters", repeated("(a?)", 250), {"", std::string(250, 'a'), std::string(251, 'a')}, "2 cells"},
        {"repetitions within the size", "(?:a?){300}", {"aaa"}, "1 cells"},
        {"repetitions beyond the size", "(a{50}){50}", {"a"}, error(error_complexity)},
        {"a backreference", "(a)\\1", {"aa"}, error(error_complexity)},
    };
    const auto run_all = [&cases] {
        std::vector<std::string> outcomes;
        for (const auto& [what, pattern, names, expected] : cases)
            outcomes.push_back(pattern_outcome(pattern, names));
        return outcomes;
    };
    const auto check = [&cases](const std::vector<std::string>& outcomes) {
        for (std::size_t i = 0; i < cases.size(); ++i)
            EXPECT_EQ(outcomes[i], std::get<3>(cases[i])) << std::get<0>(cases[i]);
        return !::testing::Test::HasFailure();
    };
    EXPECT_TRUE(in_child(false, [&] {
        const rlimit stack{8 << 20, 8 << 20};
        return ::alarm(60) == 0 && ::setrlimit(RLIMIT_STACK, &stack) == 0 && check(run_all());
    })) << "with an 8 MB stack";
    EXPECT_TRUE(in_child(false, [&] {
        ::alarm(60);
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 1 << 20);
        std::vector<std::string> outcomes;
        const auto body = [](void* context) -> void* {
            auto* job = static_cast<std::pair<decltype(run_all)*, std::vector<std::string>*>*>(context);
            *job->second = (*job->first)();
            return nullptr;
        };
        std::pair job{&run_all, &outcomes};
        pthread_t thread;
        return pthread_create(&thread, &attributes, body, &job) == 0 && pthread_join(thread, nullptr) == 0 &&
               check(outcomes);
    })) << "in a thread with a 1 MB stack";
}

} // namespace
